// Fuzz target: control requests and sensor datagrams as they reach the
// emulated unit, in any order.
//
// The input is a sequence of records
//   [kind: 1 byte][length: 2 bytes, little-endian][length bytes]
// where an even kind is a datagram on the control port, an odd kind one on
// the channel's data port; kind / 2 moves the unit clock forward by that
// many milliseconds first. A record whose length runs past the input takes
// what is left. Every datagram must be answered or counted, never crash, and
// the counters must add up.

#include "ControlRequest.h"
#include "EmulatedChannel.h"
#include "SensorDatagram.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace vxqir;
using namespace vxqir::sim;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ManualUnitClock clock(1'000'000'000);
    ChannelConfig config;
    config.fifoEntries = 8;
    config.maxFrameBytes = 64 * 1024;
    config.playout.kind = (size > 0 && (data[0] & 1) != 0) ? PlayoutKind::Timestamps : PlayoutKind::Immediate;
    EmulatedChannel channel(0, config, clock);
    const Ipv4Endpoint sender{ 0x0100007f, 40000 };

    uint64_t sensorDatagrams = 0;
    uint64_t validRequests = 0;
    std::vector<CompletedFrame> completed;
    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t kind = data[at];
        const size_t length = std::min<size_t>(data[at + 1] | (data[at + 2] << 8), size - at - 3);
        const std::span<const uint8_t> bytes(data + at + 3, length);
        at += 3 + length;
        clock.advance(static_cast<uint64_t>(kind / 2) * 1'000'000);

        if ((kind & 1) == 0) {
            const ParsedRequest parsed = parseControlRequest(bytes, bytes.size());
            if (parsed.fault != RequestFault::None)
                continue;
            ++validRequests;
            const ReplayStatusMessage reply = channel.handleRequest(parsed.request, sender);
            require(reply.response_id == parsed.request.requestId());
            require(reply.packet_length == STATUS_MESSAGE_SIZE);
            (void)channel.periodicStatus();
        } else {
            ++sensorDatagrams;
            const ReceivedDatagram d{ bytes, bytes.size() };
            channel.receive({ &d, 1 }, completed);
        }
    }
    channel.finishRun();

    const ChannelSnapshot s = channel.snapshot();
    require(s.datagrams + s.badDatagrams == sensorDatagrams);
    require(s.requests == validRequests);
    require(s.fifoUsed <= s.fifoCapacity);
    require(s.frames.framesComplete == completed.size());
    // Every frame begun ends in exactly one count, and every complete frame
    // is played, not played, or still waiting in the FIFO.
    require(!s.frameOpen);
    require(s.frames.framesStarted == s.frames.framesComplete + s.frames.framesIncomplete);
    require(s.fifo.framesPlayed + s.fifo.framesNotPlayed + s.framesAwaitingPlayout == s.frames.framesComplete);
    require(s.fifo.pushed == s.fifo.played + s.fifo.skipped + s.fifoUsed);
    for (const CompletedFrame& f : completed) {
        require(f.lineLengths.size() == f.height);
        size_t total = 0;
        for (uint32_t n : f.lineLengths)
            total += n;
        require(total == f.bytes.size());
    }
    return 0;
}
