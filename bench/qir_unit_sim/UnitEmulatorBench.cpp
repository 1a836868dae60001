// How fast the emulator takes sensor data without losing any: datagrams and
// payload bytes per second received with zero packet gaps, sent by the
// client library (one sendto per datagram, as in production) and by a bare
// socket loop that does nothing else.
//
// Counters: datagrams/s and bytes_per_second are what the emulator
// received; gaps must stay 0 (a gap means the emulator fell behind); frames
// are complete frames of 1000 lines; unhashed counts frames whose checksum
// was passed over while the checksum thread was behind.

#include "LoopbackUnit.h"
#include "RawUnitClient.h"
#include "UnitEmulator.h"
#include "VXQIRApi.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

using namespace vxqir;
using namespace vxqir::sim;
using namespace std::chrono_literals;

namespace {

constexpr uint16_t LINES_PER_FRAME = 1000;

EmulatorConfig benchConfig()
{
    EmulatorConfig c;
    c.controlIp = "127.0.0.2";
    c.dataIp = "127.0.0.3";
    c.channels = 1;
    return c;
}

/// Waits until the emulator has taken `datagrams` (bad ones included), then
/// reports the counters. The wait is part of the measured time, so the rate
/// is what the emulator received, not what the sender managed to queue.
void finish(benchmark::State& state, UnitEmulator& unit, uint64_t datagrams, size_t payload)
{
    const bool arrived = unit.waitUntil(
        [&](const EmulatorSnapshot& s) {
            const ChannelSnapshot& c = s.channels[0];
            return c.datagrams + c.badDatagrams + c.packetsMissing >= datagrams;
        },
        10s);
    unit.drainChecksums();
    const ChannelSnapshot c = unit.snapshot().channels[0];
    if (!arrived)
        state.SkipWithError("the emulator did not receive every datagram within 10 s");
    state.counters["datagrams"] = benchmark::Counter(static_cast<double>(c.datagrams), benchmark::Counter::kIsRate);
    state.counters["gaps"] = static_cast<double>(c.packetGaps);
    state.counters["missing"] = static_cast<double>(c.packetsMissing);
    state.counters["frames"] = static_cast<double>(c.frames.framesComplete);
    // Frames whose checksum was passed over because hashing (about 1 ns per
    // byte) fell behind; the newest frame is always checksummed.
    state.counters["unhashed"] = static_cast<double>(c.framesNotChecksummed);
    state.SetBytesProcessed(static_cast<int64_t>(c.bytes));
    state.SetLabel(std::to_string(payload) + "-byte payload");
}

void BM_LibrarySenderIntoEmulator(benchmark::State& state)
{
    const auto payload = static_cast<uint16_t>(state.range(0));
    UnitEmulator unit(benchConfig());
    unit.start();

    const VXTQirInputInterfaceT config =
        vxqir::bench::loopbackChannelConfig(unit.controlPort(), unit.dataBasePort(), payload, 2000, 5000);
    VXTQirChannelHandle handle = -1;
    if (VXQIR_RegisterOutputChannel(&config, 0, &handle) != NoError ||
        VXQIR_InitOutputChannel(handle, payload, LINES_PER_FRAME) != NoError) {
        state.SkipWithError("the library could not set up the channel");
        return;
    }

    std::vector<uint8_t> line(payload, 0x5A);
    VXTQirPacketPropertiesT packet{};
    uint64_t sent = 0;
    for (auto _ : state) {
        for (uint16_t l = 0; l < LINES_PER_FRAME; ++l) {
            packet.lineNumber = l;
            if (VXQIR_ReplayStreamData(handle, &packet, line.data(), payload) != NoError) {
                state.SkipWithError("VXQIR_ReplayStreamData failed");
                break;
            }
            ++sent;
        }
        ++packet.frameNumber;
    }
    finish(state, unit, sent, payload);
    VXQIR_UnregisterOutputChannel(handle);
}

void BM_BareSocketSenderIntoEmulator(benchmark::State& state)
{
    const auto payload = static_cast<size_t>(state.range(0));
    UnitEmulator unit(benchConfig());
    unit.start();
    testing::RawUnitClient client(*Ipv4Endpoint::parse("127.0.0.2", unit.controlPort()),
                                  *Ipv4Endpoint::parse("127.0.0.3", unit.dataBasePort()));
    ReplayControlMessage frameSize = makeControlMessage(0, Command::SET_FRAME_SIZE, 1);
    frameSize.payload.frameSize = { static_cast<uint16_t>(payload), LINES_PER_FRAME };
    if (!client.request(frameSize)) {
        state.SkipWithError("the emulator did not answer");
        return;
    }

    const std::vector<uint8_t> line(payload, 0x5A);
    std::vector<std::vector<uint8_t>> datagrams;
    uint16_t packet = 0;
    uint16_t frame = 0;
    uint64_t sent = 0;
    for (auto _ : state) {
        for (uint16_t l = 0; l < LINES_PER_FRAME; ++l) {
            const uint8_t flags = SENSOR_FLAG_END_OF_LINE | (l == LINES_PER_FRAME - 1 ? SENSOR_FLAG_END_OF_FRAME : 0);
            client.sendData(0, testing::makeSensorDatagram(frame, l, packet++, flags, line));
            ++sent;
        }
        ++frame;
    }
    finish(state, unit, sent, payload);
}

} // namespace

BENCHMARK(BM_LibrarySenderIntoEmulator)->Arg(1448)->Arg(8948)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareSocketSenderIntoEmulator)->Arg(1448)->Arg(8948)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
