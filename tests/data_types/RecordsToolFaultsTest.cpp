// qir-records given bad arguments, outputs it must not or cannot write,
// interruptions, files cut short while they are read, and records that can
// be read but make no sense.

#include "FrameBuilder.h"
#include "RecordsTool.h"
#include "TestBytes.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include <unistd.h>

namespace qir::data_types {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Bytes;
using test::cat;
using test::hex;
using test::lines;
using test::PipedProgram;
using test::raw_record;
using test::run;
using test::RunResult;
using test::TempDir;
using test::write_file;

/// Names of the entries of `dir` other than the runner's output files.
std::vector<std::string> files_in(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(dir.file("")).parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name != "stdout.txt" && name != "stderr.txt")
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

/// `args` run under a file size limit of `kib` KiB (through the shell's ulimit).
std::vector<std::string> with_file_size_limit(unsigned kib, std::vector<std::string> args)
{
    // sh's ulimit -f counts 512-byte blocks on dash and 1024 on bash; -f with
    // blocks of 512 bytes is what POSIX names, so ask for twice the KiB and
    // accept that bash allows twice as much.
    std::string command = "ulimit -f " + std::to_string(2 * kib) + " && exec";
    for (size_t i = 0; i < args.size(); ++i)
        command += " \"$" + std::to_string(i + 1) + "\"";
    std::vector<std::string> shell{ "sh", "-c", command, "sh" };
    shell.insert(shell.end(), args.begin(), args.end());
    return shell;
}

// Arguments ------------------------------------------------------------------------------

struct RefusedGen {
    const char* name;
    std::vector<std::string> args;
    const char* says;
};

void PrintTo(const RefusedGen& value, std::ostream* out)
{
    *out << value.name;
}

class RefusedGenArguments : public ::testing::TestWithParam<RefusedGen> { };

TEST_P(RefusedGenArguments, EndWithAUsageErrorNamingTheValueAndWriteNothing)
{
    TempDir dir;
    std::vector<std::string> args{ kTool, "gen", dir.file("x.rec") };
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const RunResult result = run(args, dir);
    EXPECT_EQ(result.exit_code, 2) << result.err;
    EXPECT_NE(result.err.find(GetParam().says), std::string::npos) << result.err;
    EXPECT_EQ(files_in(dir), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedGenArguments,
    ::testing::Values(
        RefusedGen{ "NegativeCount", { "--count", "-5" }, "--count -5: expected a whole number from 0 to 100000000" },
        RefusedGen{ "CountAboveTheLimit", { "-n", "100000001" }, "--count 100000001" },
        RefusedGen{ "CountBeyond64Bits", { "-n", "99999999999999999999" }, "--count 99999999999999999999" },
        RefusedGen{ "CountWithUnit", { "-n", "10k" }, "--count 10k" },
        RefusedGen{ "NegativeSeed", { "--seed", "-1" }, "--seed -1" },
        RefusedGen{ "StartWhoseLastRecordWouldWrap",
                    { "--start", "9223372036854775807" },
                    "--start 9223372036854775807: 1000 records up to 400 us apart would pass the latest time" },
        RefusedGen{ "StartBeyond64Bits", { "--start", "9223372036854775808" }, "--start 9223372036854775808" }),
    [](const auto& test_info) { return std::string(test_info.param.name); });

struct Usage {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    const char* says;
};

void PrintTo(const Usage& value, std::ostream* out)
{
    *out << value.name;
}

class CommandLines : public ::testing::TestWithParam<Usage> { };

TEST_P(CommandLines, ExitWithTheDocumentedStatus)
{
    TempDir dir;
    std::vector<std::string> args{ kTool };
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const RunResult result = run(args, dir);
    EXPECT_EQ(result.exit_code, GetParam().exit_code) << result.out << result.err;
    EXPECT_NE((result.out + result.err).find(GetParam().says), std::string::npos) << result.out << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLines,
    ::testing::Values(Usage{ "HelpListsTheCommands", { "--help" }, 0, "gen" },
                      Usage{ "HelpOfACommandShowsItsDefaults", { "gen", "--help" }, 0, "--count N=1000" },
                      Usage{ "NoCommand", {}, 2, "A subcommand is required" },
                      Usage{ "UnknownCommand", { "frobnicate" }, 2, "unknown command \"frobnicate\"" },
                      Usage{ "UnknownOption", { "ls", "--frob", "x" }, 2, "--frob" },
                      Usage{ "MissingFile", { "stats" }, 2, "FILE is required" },
                      Usage{ "PortOutOfRange", { "someip", "x", "--port", "70000" }, 2, "--port" }),
    [](const auto& test_info) { return std::string(test_info.param.name); });

// Outputs ---------------------------------------------------------------------------------

TEST(RecordsToolOutput, RefusesToWriteOverItsInputUnderAnyName)
{
    TempDir dir;
    ASSERT_EQ(run({ kTool, "gen", dir.file("in.rec"), "-n", "200" }, dir).exit_code, 0);
    const std::string before = test::read_file(dir.file("in.rec"));
    fs::create_hard_link(dir.file("in.rec"), dir.file("hard.rec"));
    fs::create_symlink(dir.file("in.rec"), dir.file("soft.rec"));
    for (const char* name : { "in.rec", "hard.rec", "soft.rec" }) {
        const RunResult result = run({ kTool, "pcap", dir.file("in.rec"), "-o", dir.file(name) }, dir);
        EXPECT_EQ(result.exit_code, 2) << name;
        EXPECT_NE(result.err.find("is the input file"), std::string::npos) << result.err;
    }
    EXPECT_EQ(test::read_file(dir.file("in.rec")), before);
    EXPECT_EQ(files_in(dir), (std::vector<std::string>{ "hard.rec", "in.rec", "soft.rec" }));
}

struct Unwritable {
    const char* name;
    std::vector<std::string> args; ///< "@" is replaced by the test folder
    const char* says;
};

void PrintTo(const Unwritable& value, std::ostream* out)
{
    *out << value.name;
}

class UnwritableOutputs : public ::testing::TestWithParam<Unwritable> { };

TEST_P(UnwritableOutputs, FailNamingTheCauseAndLeaveNoFile)
{
    TempDir dir;
    ASSERT_EQ(run({ kTool, "gen", dir.file("in.rec"), "-n", "3000" }, dir).exit_code, 0);
    const std::string folder = fs::path(dir.file("")).parent_path().string();
    std::vector<std::string> args;
    for (std::string arg : GetParam().args) {
        if (arg.find('@') != std::string::npos)
            arg.replace(arg.find('@'), 1, folder);
        args.push_back(arg);
    }
    if (args[0] == "limit")
        args = with_file_size_limit(64, { args.begin() + 1, args.end() });
    const RunResult result = run(args, dir);
    std::string says = GetParam().says;
    if (says.find('@') != std::string::npos)
        says.replace(says.find('@'), 1, folder);
    EXPECT_EQ(result.exit_code, 2) << result.err;
    EXPECT_NE(result.err.find(says), std::string::npos) << result.err;
    EXPECT_EQ(files_in(dir), std::vector<std::string>{ "in.rec" });
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnwritableOutputs,
    ::testing::Values(Unwritable{ "PcapOverTheFileSizeLimit",
                                  { "limit", kTool, "pcap", "@/in.rec", "-o", "@/out.pcap" },
                                  "output @/out.pcap: cannot write: File too large" },
                      Unwritable{ "GenOverTheFileSizeLimit",
                                  { "limit", kTool, "gen", "@/out.rec", "-n", "100000" },
                                  "cannot write: File too large" },
                      Unwritable{ "PcapIntoAFolder", { kTool, "pcap", "@/in.rec", "-o", "@" }, "is a folder" },
                      Unwritable{ "GenIntoAMissingFolder",
                                  { kTool, "gen", "@/missing/out.rec" },
                                  "cannot write into folder @/missing: No such file or directory" }),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(RecordsToolOutput, StopsOnSigintWithoutLeavingAFile)
{
    TempDir dir;
    // The limit bounds the run should the signal be missed.
    PipedProgram gen(with_file_size_limit(256 * 1024, { kTool, "gen", dir.file("big.rec"), "-n", "100000000" }), dir);
    // Signal once the temporary file has grown, so that the loop is running.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    bool growing = false;
    while (!growing && std::chrono::steady_clock::now() < deadline) {
        for (const std::string& name : files_in(dir))
            growing = growing ||
                (name.find("big.rec.") != std::string::npos && fs::file_size(fs::path(dir.file(name))) > 2'000'000);
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(growing) << gen.err();
    gen.signal(SIGINT);
    EXPECT_EQ(gen.wait(), 130) << gen.err();
    EXPECT_NE(gen.err().find("stopped by a signal after"), std::string::npos) << gen.err();
    EXPECT_EQ(files_in(dir), std::vector<std::string>{});
}

TEST(RecordsToolOutput, ListingStopsOnSigintSayingHowFarItGot)
{
    TempDir dir;
    ASSERT_EQ(run({ kTool, "gen", dir.file("in.rec"), "-n", "20000" }, dir).exit_code, 0);
    PipedProgram ls({ kTool, "ls", dir.file("in.rec") }, dir);
    // The listing waits on the full pipe until the test reads on.
    ls.read(1000);
    ls.signal(SIGINT);
    const std::string listed = ls.read_all();
    EXPECT_EQ(ls.wait(), 130) << ls.err();
    EXPECT_NE(ls.err().find("stopped by a signal at offset"), std::string::npos) << ls.err();
    EXPECT_LT(lines(listed).size(), 20000u);
}

// Input cut short while it is read --------------------------------------------------------

TEST(RecordsToolInput, FileCutShortWhileListedIsReportedAsDamageNotACrash)
{
    TempDir dir;
    ASSERT_EQ(run({ kTool, "gen", dir.file("in.rec"), "-n", "20000" }, dir).exit_code, 0);
    ASSERT_GT(fs::file_size(dir.file("in.rec")), 2'000'000u);
    PipedProgram ls({ kTool, "ls", dir.file("in.rec") }, dir);
    ls.read(1000);
    fs::resize_file(dir.file("in.rec"), 1 << 20);
    const std::string listed = ls.read_all();
    std::string how;
    EXPECT_EQ(ls.wait(&how), 1) << how << ls.err();
    EXPECT_NE(ls.err().find("the file was cut short while it was read (it now holds 1048576 bytes)"), std::string::npos)
        << ls.err();
    EXPECT_LT(lines(listed).size(), 20000u);
}

// Records that can be read but make no sense ----------------------------------------------

Bytes can_record(int64_t time, uint8_t dlc, bool fd, size_t payload)
{
    // id 0x123, ide, dlc, edl, brs, crc
    Bytes header = hex("23010000 00");
    header.push_back(dlc);
    header.push_back(fd ? 1 : 0);
    header.push_back(0);
    header.push_back(0);
    header.push_back(0);
    return raw_record(time, 1, header, Bytes(payload, 0x5A));
}

struct Doubtful {
    const char* name;
    Bytes file;
    uint64_t offset;
    const char* says;
    const char* stats_line;
};

void PrintTo(const Doubtful& value, std::ostream* out)
{
    *out << value.name;
}

class DoubtfulRecords : public ::testing::TestWithParam<Doubtful> { };

TEST_P(DoubtfulRecords, AreReportedByLsAndStatsWithTheirOffset)
{
    TempDir dir;
    write_file(dir.file("in.rec"), GetParam().file);
    const std::string where = "offset " + std::to_string(GetParam().offset) + ": ";
    const RunResult ls = run({ kTool, "ls", dir.file("in.rec") }, dir);
    EXPECT_EQ(ls.exit_code, 1);
    EXPECT_NE(ls.err.find(where + GetParam().says), std::string::npos) << ls.err;
    EXPECT_EQ(lines(ls.out).size(), 4u) << "every record is still listed";
    const RunResult stats = run({ kTool, "stats", dir.file("in.rec") }, dir);
    EXPECT_EQ(stats.exit_code, 1);
    EXPECT_NE(stats.err.find(where + GetParam().says), std::string::npos) << stats.err;
    EXPECT_NE(stats.out.find(GetParam().stats_line), std::string::npos) << stats.out;
}

const Bytes kGood = can_record(1'000, 8, false, 8);
const Bytes kGoodFd = can_record(1'100, 13, true, 32);

INSTANTIATE_TEST_SUITE_P(
    Table, DoubtfulRecords,
    ::testing::Values(Doubtful{ "CanFdPayloadLongerThanItsDlc", cat({ kGood, kGoodFd, can_record(1'200, 9, true, 16) }),
                                kGood.size() + kGoodFd.size(), "CAN FD frame with dlc 9 carries 16 bytes, not 12",
                                "CAN dlc disagreeing with the payload: 1 frames" },
                      Doubtful{ "ClassicCanPayloadShorterThanItsDlc",
                                cat({ kGood, kGoodFd, can_record(1'200, 6, false, 2) }), kGood.size() + kGoodFd.size(),
                                "CAN frame with dlc 6 carries 2 bytes, not 6",
                                "CAN dlc disagreeing with the payload: 1 frames" },
                      Doubtful{ "TimeGoingBackwards", cat({ kGood, kGoodFd, can_record(900, 8, false, 8) }),
                                kGood.size() + kGoodFd.size(),
                                "time 0.000900 is earlier than 0.001100 of the record before",
                                "time going backwards: 1 records" }),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(RecordsToolInput, GeneratedFilesPassEveryCheck)
{
    TempDir dir;
    ASSERT_EQ(run({ kTool, "gen", dir.file("in.rec"), "-n", "5000", "--seed", "3" }, dir).exit_code, 0);
    const RunResult ls = run({ kTool, "ls", dir.file("in.rec") }, dir);
    EXPECT_EQ(ls.exit_code, 0) << ls.err.substr(0, 2000);
    EXPECT_EQ(ls.err, "");
}

// pcap times and SOME/IP over TCP ---------------------------------------------------------

TEST(RecordsToolPcap, FramesPast2038AreReportedOnceWithACount)
{
    TempDir dir;
    const Bytes packet = records::ipv4_packet({ 10, 0, 0, 1 }, { 10, 0, 0, 2 }, 17, records::udp_datagram(1, 2, {}));
    const int64_t in_2040 = 2'208'988'800'000'000;
    std::vector<Bytes> frames;
    for (int i = 0; i < 50; ++i)
        frames.push_back(records::ethernet_record(in_2040 + i, {}, {}, 0x0800, packet));
    frames.push_back(records::ethernet_record(1'700'000'000'000'000, {}, {}, 0x0800, packet));
    Bytes file;
    for (const Bytes& frame : frames)
        file.insert(file.end(), frame.begin(), frame.end());
    write_file(dir.file("in.rec"), file);

    const RunResult result = run({ kTool, "pcap", dir.file("in.rec"), "-o", dir.file("out.pcap") }, dir);
    EXPECT_EQ(result.exit_code, 1);
    const auto all = lines(result.err);
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const std::string& line) { return line.find("frame left out") != std::string::npos; }),
              1)
        << result.err;
    EXPECT_NE(result.err.find("offset 0: frame left out: time 2208988800.000000 is after 2038-01-19"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("50 frames left out in all for times outside 1970-01-01 to 2038-01-19"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("1 Ethernet frames written"), std::string::npos) << result.err;
}

TEST(RecordsToolSomeIp, SaysThatItDoesNotReadTcp)
{
    TempDir dir;
    records::SomeIpMessageSpec spec;
    const Bytes segment = records::tcp_segment(30490, 30490, records::someip_message(spec));
    write_file(dir.file("in.rec"),
               records::ethernet_record(1, {}, {}, 0x0800, records::ipv4_packet({}, {}, 6, segment)));
    const RunResult result = run({ kTool, "someip", dir.file("in.rec"), "--port", "30490" }, dir);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.err.find("1 TCP frames on the chosen ports not read: SOME/IP is read from UDP only"),
              std::string::npos)
        << result.err;
}

} // namespace
} // namespace qir::data_types
