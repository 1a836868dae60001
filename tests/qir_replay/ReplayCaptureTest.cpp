// qir-replay --capture: the embedded unit's datagrams in a capture file,
// read back with tshark and the project's dissector.

#include "ReplayToolRuns.h"
#include "Tshark.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace {

using qir::data_types::test::run;
using qir::data_types::test::TempDir;
using qir::replay::test::generate;
using ::testing::HasSubstr;

TEST(ReplayCapture, HoldsEveryFrameOfTheReplayAndTheUnitsStatus)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "64", "--height", "8", "--frames", "3" }, rec, dir));
    const std::string capture = dir.file("replay.pcapng");
    const auto result = run({ QIR_REPLAY_TOOL, rec, "--rate", "max", "--quiet", "--capture", capture }, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr("datagrams of the embedded unit in " + capture));
    if (!qir::test::tsharkAvailable())
        GTEST_SKIP() << "tshark is not installed";

    // The embedded unit's ports are its own choice: the data port is the one
    // that the datagrams to the data address went to.
    const auto ports =
        qir::test::runTshark(capture, QIR_WIRESHARK_DISSECTOR, "-Y 'ip.dst==127.0.0.3' -T fields -e udp.dstport");
    ASSERT_EQ(ports.exitCode, 0) << ports.err;
    const std::string dataPort = ports.out.substr(0, ports.out.find('\n'));
    ASSERT_FALSE(dataPort.empty()) << "no datagram to 127.0.0.3";

    const auto decoded =
        qir::test::runTshark(capture, QIR_WIRESHARK_DISSECTOR,
                             "-d udp.port==" + dataPort +
                                 ",qir -Y qir -T fields -E separator='|' -e qir.kind -e qir.data.frame -e qir.data.eof "
                                 "-e qir.expert.packet_gap -e _ws.expert.message");
    ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
    EXPECT_THAT(decoded.err, ::testing::Not(HasSubstr("Lua")));
    size_t requests = 0, statuses = 0, sensor = 0;
    std::set<std::string> framesEnded;
    for (const auto& row : qir::test::fieldRows(decoded.out)) {
        ASSERT_EQ(row.size(), 5u);
        requests += row[0] == "control request" ? 1 : 0;
        statuses += row[0] == "periodic status" ? 1 : 0;
        if (row[0] == "sensor datagram") {
            ++sensor;
            if (row[2] == "1")
                framesEnded.insert(row[1]);
            EXPECT_EQ(row[4], "") << "no sensor datagram is flagged";
        }
    }
    EXPECT_GT(requests, 0u);
    EXPECT_GT(statuses, 0u);
    EXPECT_GE(sensor, 3u * 8u);
    EXPECT_EQ(framesEnded.size(), 3u) << "three frames ended with end of frame";
}

TEST(ReplayCapture, IsRefusedForARealUnitAndForAPathThatCannotBeWritten)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "64", "--height", "8", "--frames", "1" }, rec, dir));
    const auto withUnit = run(
        { QIR_REPLAY_TOOL, rec, "--unit", "127.0.0.2", "--data", "127.0.0.3", "--capture", dir.file("c.pcap") }, dir);
    EXPECT_EQ(withUnit.exit_code, 2);
    EXPECT_THAT(withUnit.err, HasSubstr("--capture records the embedded unit"));

    const auto missing = run({ QIR_REPLAY_TOOL, rec, "--capture", dir.file("missing/c.pcap") }, dir);
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_THAT(missing.err, HasSubstr("--capture: capture file"));

    const auto overRecording = run({ QIR_REPLAY_TOOL, rec, "--capture", rec }, dir);
    EXPECT_EQ(overRecording.exit_code, 2) << overRecording.err;
}

} // namespace
