#include "SummaryJson.h"

#include "Fnv1a64.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>

#ifndef QIR_REPLAY_VERSION
#define QIR_REPLAY_VERSION "unknown"
#endif

namespace qir::replay {

/// "HH:MM:SS.mmm", local time.
std::string clockText(std::chrono::system_clock::time_point at)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
    return text;
}

const char* channelEndName(ChannelEnd end)
{
    switch (end) {
    case ChannelEnd::Delivered:
        return "delivered";
    case ChannelEnd::Lost:
        return "unit lost";
    case ChannelEnd::Stalled:
        return "stalled";
    case ChannelEnd::Short:
        return "sent short";
    case ChannelEnd::Running:
        break;
    }
    return "not delivered";
}

const char* replayVersion()
{
    return QIR_REPLAY_VERSION;
}

namespace {

nlohmann::json orNull(const std::optional<double>& value)
{
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

std::string boundText(const std::optional<FrameBound>& bound)
{
    if (!bound)
        return {};
    if (bound->isFrame)
        return "#" + std::to_string(bound->frame);
    char text[48];
    std::snprintf(text, sizeof text, "%.6gs", bound->seconds);
    return text;
}

/// The options the replay ran with, as given or defaulted.
nlohmann::json optionsJson(const ReplayOptions& o)
{
    nlohmann::json recordings = nlohmann::json::array();
    for (size_t i = 0; i < o.recordings.size(); ++i)
        recordings.push_back({ { "file", o.recordings[i] }, { "channel", channelOf(o, i) }, { "unit", unitOf(o, i) } });
    nlohmann::json units = nlohmann::json::array();
    for (size_t u = 0; u < o.units.size(); ++u)
        units.push_back({ { "control", o.units[u].ip + ":" + std::to_string(o.units[u].port) },
                          { "data",
                            u < o.datas.size() ? nlohmann::json(o.datas[u].ip + ":" + std::to_string(o.datas[u].port))
                                               : nlohmann::json(nullptr) } });
    const std::string from = boundText(o.from);
    const std::string to = boundText(o.to);
    return {
        { "recordings", recordings },
        { "units", units },
        { "format", o.format ? nlohmann::json(std::string(formatName(*o.format))) : nlohmann::json(nullptr) },
        { "rawPixels", o.rawPixels == RawPixelFormat::Mono ? "mono" : "yuv422" },
        { "fps", o.fps },
        { "rate", o.rate > 0 ? nlohmann::json(o.rate) : nlohmann::json("max") },
        { "leadSeconds", o.leadSeconds },
        { "from", from.empty() ? nlohmann::json(nullptr) : nlohmann::json(from) },
        { "to", to.empty() ? nlohmann::json(nullptr) : nlohmann::json(to) },
        { "frames", o.frames },
        { "loop", o.loops },
        { "startDelayUs", o.startDelayUs },
        { "keepGoing", o.keepGoing },
        { "allowDamage", o.allowDamage },
        { "unitTimeoutSeconds", o.unitTimeoutSeconds },
        { "stallTimeoutSeconds", o.stallTimeoutSeconds },
        { "maxLateMs", orNull(o.maxLateMs) },
        { "onUnitLoss", o.resumeOnUnitLoss ? "resume" : "fail" },
        { "resumeWithinSeconds", o.resumeWithinSeconds },
        { "mtu", o.mtu ? nlohmann::json(*o.mtu) : nlohmann::json(nullptr) },
        { "commandLine", o.commandLine },
    };
}

} // namespace

std::string summaryJsonText(const ReplayResult& result)
{
    nlohmann::json channels = nlohmann::json::array();
    for (const ChannelSummary& c : result.channels) {
        nlohmann::json j = {
            { "channel", c.channel },
            { "unit", c.unit },
            { "recording", c.recording },
            { "format", c.format },
            { "framesInRecording", c.framesInRecording },
            { "framesToSend", c.framesToSend },
            { "framesHandedOn", c.framesHandedOn },
            { "bytesHandedOn", c.bytesHandedOn },
            { "framesSent", c.framesSent },
            { "unitClientFailed", c.unitClientFailed },
            { "emulatedUnit", c.emulated },
        };
        j["framesAcknowledged"] = c.framesAcknowledged;
        j["maxPayloadSize"] = c.datagrams.maxPayloadSize;
        j["lineBytes"] = c.datagrams.lineBytes;
        j["datagramsPerLine"] = c.datagrams.datagramsPerLine;
        j["equalDatagrams"] = c.datagrams.equal;
        j["datagramsSent"] = c.datagramsSent;
        j["datagramsAcknowledged"] = c.datagramsAcknowledged;
        j["statusCount"] = c.statusCount;
        j["fifoEntries"] = c.fifoEntries;
        j["fifoFreeAtEnd"] = c.fifoFreeAtEnd;
        j["delivered"] = c.end == ChannelEnd::Delivered && c.endText.empty();
        j["end"] = channelEndName(c.end);
        j["failure"] = c.endText.empty() ? nlohmann::json(nullptr) : nlohmann::json(c.endText);
        nlohmann::json stalls = nlohmann::json::array();
        for (const Stall& stall : c.stalls)
            stalls.push_back({ { "began", clockText(stall.began) }, { "seconds", stall.seconds } });
        j["stalls"] = stalls;
        j["framesLate"] = c.lateness.frames;
        j["framesLateOverMax"] = c.lateness.framesOverMax;
        j["lateByMaxMs"] = static_cast<double>(c.lateness.maxUs) / 1000.0;
        if (c.damage.empty()) {
            j["damage"] = nullptr;
        } else {
            j["damage"] = { { "text", c.damage },
                            { "offset", c.damageOffset },
                            { "bytesSkipped", c.bytesSkipped },
                            { "framesSkipped",
                              c.framesSkipped ? nlohmann::json(*c.framesSkipped) : nlohmann::json(nullptr) } };
        }
        j["firstFrame"] = c.firstFrame;
        j["endFrame"] = c.endFrame;
        j["replayStartUs"] = c.replayStartUs;
        j["sendTimeouts"] = c.sendTimeouts;
        j["framesNotDecodedInTime"] =
            c.framesNotDecodedInTime ? nlohmann::json(*c.framesNotDecodedInTime) : nlohmann::json(nullptr);
        j["sendingSeconds"] = orNull(c.sendingSeconds);
        j["framesPerSecond"] = orNull(c.framesPerSecond);
        j["megabytesPerSecond"] = orNull(c.megabytesPerSecond);
        j["lastFrame"] = c.lastFrame ? nlohmann::json(*c.lastFrame) : nlohmann::json(nullptr);
        j["lastFrameChecksum"] =
            c.lastFrameChecksum ? nlohmann::json(vxqir::Fnv1a64::toHex(*c.lastFrameChecksum)) : nlohmann::json(nullptr);
        if (c.statusSeen) {
            j["lowestFifoFree"] = c.lowestFifoFree;
            j["lossFlagSeen"] = c.lossFlagSeen;
        } else {
            j["lowestFifoFree"] = nullptr;
            j["lossFlagSeen"] = nullptr;
        }
        if (c.emulated) {
            j["framesTimed"] = c.framesTimed;
            j["lateMaxMs"] = c.lateMaxMs;
            j["lateMeanMs"] = c.lateMeanMs;
            j["framesLateOver1ms"] = c.framesLateOver1ms;
            j["firstFramePlayedNs"] = c.firstFramePlayedNs;
            j["lastFramePlayedNs"] = c.lastFramePlayedNs;
            j["framesComplete"] = c.framesComplete;
            j["framesIncomplete"] = c.framesIncomplete;
            j["checksumsMatched"] = c.checksumsMatched;
            j["checksumsMismatched"] = c.checksumsMismatched;
            j["bytesAtUnit"] = c.bytesAtUnit;
            j["loss"] = c.loss;
            j["framesPlayed"] = c.framesPlayed;
            j["framesNotPlayed"] = c.framesNotPlayed;
            j["fifoOverflows"] = c.fifoOverflows;
        }
        channels.push_back(j);
    }
    nlohmann::json interruptions = nlohmann::json::array();
    for (const Interruption& interruption : result.interruptions) {
        nlohmann::json units = nlohmann::json::array();
        for (const auto& [index, control] : interruption.units)
            units.push_back({ { "unit", index }, { "control", control } });
        nlohmann::json resumed = nlohmann::json::array();
        for (const ResumedChannel& c : interruption.channels)
            resumed.push_back({ { "channel", c.channel },
                                { "unit", c.unit },
                                { "resumedAtFrame", c.resumedAt },
                                { "recordingFrame", c.recordingFrame },
                                { "framesSentAgain", c.framesSentAgain } });
        interruptions.push_back({ { "began", clockText(interruption.began) },
                                  { "seconds", interruption.seconds },
                                  { "units", units },
                                  { "channels", resumed } });
    }
    nlohmann::json root = { { "version", replayVersion() },
                            { "exitCode", result.exitCode },
                            { "verdict", result.verdict },
                            { "interrupted", result.interrupted },
                            { "durationSeconds", result.durationSeconds },
                            { "pauses", result.pauses ? nlohmann::json(*result.pauses) : nlohmann::json(nullptr) },
                            { "pausedSeconds",
                              result.pausedSeconds ? nlohmann::json(*result.pausedSeconds) : nlohmann::json(nullptr) },
                            { "failures", result.failures },
                            { "mtu", result.mtu ? nlohmann::json(*result.mtu) : nlohmann::json(nullptr) },
                            { "options", optionsJson(result.options) },
                            { "channels", channels },
                            { "interruptions", interruptions } };
    return root.dump(2) + "\n";
}

} // namespace qir::replay
