#include "Summary.h"

#include "Fnv1a64.h"

#include <nlohmann/json.hpp>

#include <sstream>

namespace vxqir::sim {
namespace {

nlohmann::json channelJson(const ChannelSnapshot& c)
{
    nlohmann::json j;
    const ChannelVerdict verdict = channelVerdict(c);
    j["verdict"] = verdict.delivered ? "delivered" : "not_delivered";
    j["verdict_reasons"] = verdict.reasons;
    j["channel"] = c.channel;
    j["datagrams"] = c.datagrams;
    j["bytes"] = c.bytes;
    j["blocks"] = c.blocks;
    j["frames_complete"] = c.frames.framesComplete;
    j["frames_incomplete"] = c.frames.framesIncomplete;
    j["packet_gaps"] = c.packetGaps;
    j["bad_datagrams"] = c.badDatagrams;
    j["fifo_overflows"] = c.fifo.overflows;
    j["fifo_played"] = c.fifo.played;
    j["fifo_skipped"] = c.fifo.skipped;
    j["frames_started"] = c.frames.framesStarted;
    j["frames_played"] = c.fifo.framesPlayed;
    j["frames_not_played"] = c.fifo.framesNotPlayed;
    j["frames_awaiting_playout"] = c.framesAwaitingPlayout;
    j["checksum"] = c.lastChecksum ? nlohmann::json(Fnv1a64::toHex(*c.lastChecksum)) : nlohmann::json(nullptr);
    j["checksum_frame_number"] = c.lastChecksum ? nlohmann::json(c.lastChecksumFrameNumber) : nlohmann::json(nullptr);
    j["frames_checksummed"] = c.framesChecksummed;
    j["frames_not_checksummed"] = c.framesNotChecksummed;
    j["packets_missing"] = c.packetsMissing;
    j["packets_late"] = c.packetsLate;
    j["line_errors"] = c.frames.lineErrors;
    j["datagrams_while_disabled"] = c.datagramsWhileDisabled;

    nlohmann::json incomplete = nlohmann::json::object();
    for (size_t i = 0; i < INCOMPLETE_REASON_COUNT; ++i)
        incomplete[std::string(incompleteReasonName(static_cast<IncompleteReason>(i)))] =
            c.frames.incompleteByReason[i];
    j["incomplete_reasons"] = incomplete;
    nlohmann::json bad = nlohmann::json::object();
    for (size_t i = 1; i < DATAGRAM_FAULT_COUNT; ++i)
        bad[std::string(datagramFaultName(static_cast<DatagramFault>(i)))] = c.badByReason[i];
    j["bad_datagram_reasons"] = bad;

    j["fifo"] = { { "capacity", c.fifoCapacity }, { "used", c.fifoUsed },      { "max_fill", c.fifo.maxFill },
                  { "pushed", c.fifo.pushed },    { "played", c.fifo.played }, { "skipped", c.fifo.skipped },
                  { "frozen", c.fifoFrozen } };
    // How late frames played against their timestamps (timestamp playout).
    j["play_times"] = {
        { "frames_timed", c.fifo.framesTimed },
        { "late_max_ms", static_cast<double>(c.fifo.lateMaxNs) / 1e6 },
        { "late_mean_ms",
          c.fifo.framesTimed ? static_cast<double>(c.fifo.lateSumNs) / 1e6 / static_cast<double>(c.fifo.framesTimed)
                             : 0.0 },
        { "frames_late_over_1ms", c.fifo.framesLateOver1ms },
        { "first_frame_played_ns", c.fifo.firstFramePlayedNs },
        { "last_frame_played_ns", c.fifo.lastFramePlayedNs },
    };
    j["available"] = c.available;
    j["enabled"] = c.enabled;
    j["status_enabled"] = c.statusEnabled;
    j["status_messages"] = c.statusMessages;
    j["loss"] = c.loss;
    j["frame_width"] = c.frameWidth;
    j["frame_height"] = c.frameHeight;
    j["replay_times_ns"] = { { "offset", c.times.offsetNs }, { "start", c.times.startNs }, { "stop", c.times.stopNs } };
    j["requests"] = c.requests;
    return j;
}

} // namespace

nlohmann::json makeSummary(const EmulatorSnapshot& snapshot, const SummaryContext& context)
{
    nlohmann::json j;
    j["unit"] = { { "control", context.controlIp + ":" + std::to_string(context.controlPort) },
                  { "data_ip", context.dataIp },
                  { "data_base_port", context.dataBasePort },
                  { "playout", context.playout },
                  { "duration_s", context.durationSeconds },
                  { "receive_buffer_bytes", context.receiveBufferBytes } };

    const ControlSnapshot& c = snapshot.control;
    nlohmann::json malformed = nlohmann::json::object();
    for (size_t i = 1; i < REQUEST_FAULT_COUNT; ++i)
        malformed[std::string(requestFaultName(static_cast<RequestFault>(i)))] = c.malformedByReason[i];
    j["control"] = { { "requests", c.requests },
                     { "malformed_requests", c.malformedRequests },
                     { "malformed_reasons", malformed },
                     { "requests_for_unserved_channels", c.requestsForUnservedChannels },
                     { "replies_sent", c.repliesSent },
                     { "replies_dropped", c.repliesDropped },
                     { "replies_delayed", c.repliesDelayed },
                     { "replies_wrong_type", c.repliesWrongType },
                     { "status_messages_sent", c.statusMessagesSent },
                     { "send_errors", c.sendErrors } };

    nlohmann::json channels = nlohmann::json::array();
    for (const ChannelSnapshot& ch : snapshot.channels)
        channels.push_back(channelJson(ch));
    j["channels"] = channels;

    if (context.dump) {
        j["dump"] = { { "raw_files", context.dump->rawFiles },
                      { "png_files", context.dump->pngFiles },
                      { "png_skipped", context.dump->pngSkipped },
                      { "errors", context.dump->errors } };
    }
    return j;
}

ChannelVerdict channelVerdict(const ChannelSnapshot& c)
{
    ChannelVerdict v;
    auto unless = [&v](bool fine, const char* reason) {
        if (!fine)
            v.reasons.emplace_back(reason);
    };
    unless(c.frames.framesStarted > 0, "no_frames");
    unless(c.frames.framesIncomplete == 0 && !c.frameOpen, "frames_incomplete");
    unless(c.packetGaps == 0, "packet_gaps");
    unless(c.badDatagrams == 0, "bad_datagrams");
    unless(c.fifo.overflows == 0, "fifo_overflows");
    unless(c.fifo.skipped == 0, "fifo_skipped");
    unless(c.fifo.framesNotPlayed == 0, "frames_not_played");
    unless(c.framesAwaitingPlayout == 0 && c.fifoUsed == 0, "frames_awaiting_playout");
    v.delivered = v.reasons.empty();
    return v;
}

std::string verificationLine(const ChannelSnapshot& c)
{
    std::ostringstream out;
    out << "channel=" << static_cast<unsigned>(c.channel) << " datagrams=" << c.datagrams << " bytes=" << c.bytes
        << " blocks=" << c.blocks << " frames_complete=" << c.frames.framesComplete
        << " frames_incomplete=" << c.frames.framesIncomplete << " packet_gaps=" << c.packetGaps
        << " bad_datagrams=" << c.badDatagrams << " fifo_overflows=" << c.fifo.overflows
        << " fifo_played=" << c.fifo.played << " fifo_skipped=" << c.fifo.skipped
        << " frames_played=" << c.fifo.framesPlayed
        << " verdict=" << (channelVerdict(c).delivered ? "delivered" : "not_delivered")
        << " checksum=" << (c.lastChecksum ? Fnv1a64::toHex(*c.lastChecksum) : std::string("-"));
    return out.str();
}

} // namespace vxqir::sim
