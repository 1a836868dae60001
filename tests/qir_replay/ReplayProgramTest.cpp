// qir-gen and qir-replay as users run them: generated recordings of each
// form replayed into the embedded emulated unit, damaged input, Ctrl-C in
// the middle of a replay, and the written graph run by pck-host against an
// emulated unit of the test.
#include "Fnv1a64.h"
#include "Recording.h"
#include "ReplayToolRuns.h"
#include "ToolRunner.h"
#include "UnitEmulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <regex>
#include <thread>

namespace {

using qir::data_types::test::PipedProgram;
using qir::data_types::test::run;
using qir::data_types::test::TempDir;
using qir::replay::test::generate;
using qir::replay::test::readJson;

struct FormCase {
    std::string name;
    std::vector<std::string> genArgs;    ///< after "qir-gen"
    std::vector<std::string> replayArgs; ///< extra options of qir-replay
    uint64_t framesPerPass = 0;          ///< frames replayed per pass
    std::optional<qir::replay::RecordingFormat> format = std::nullopt;
    qir::replay::RawPixelFormat rawPixels = qir::replay::RawPixelFormat::Yuv422;
};

void PrintTo(const FormCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayForm : public ::testing::TestWithParam<FormCase> { };

TEST_P(ReplayForm, EveryFrameArrivesCompleteWithTheRecordingsChecksum)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(generate(GetParam().genArgs, rec, dir));
    std::vector<std::string> args = { QIR_REPLAY_TOOL, rec, "--summary-json", dir.file("summary.json") };
    args.insert(args.end(), GetParam().replayArgs.begin(), GetParam().replayArgs.end());
    const auto result = run(args, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("verdict: every frame arrived complete"), std::string::npos) << result.out;

    const nlohmann::json summary = readJson(dir.file("summary.json"));
    ASSERT_EQ(summary["channels"].size(), 1u);
    const auto& c = summary["channels"][0];
    const uint64_t frames = c["framesToSend"];
    EXPECT_GT(frames, 0u);
    EXPECT_EQ(c["framesHandedOn"], frames);
    EXPECT_EQ(c["framesSent"], frames);
    EXPECT_EQ(c["framesComplete"], frames);
    EXPECT_EQ(c["framesIncomplete"], 0);
    EXPECT_EQ(c["checksumsMatched"], frames);
    EXPECT_EQ(c["checksumsMismatched"], 0);
    EXPECT_EQ(c["framesPlayed"], frames);
    EXPECT_EQ(c["fifoOverflows"], 0);

    // The run as a whole: version, verdict, duration, options.
    EXPECT_FALSE(summary["version"].get<std::string>().empty());
    EXPECT_EQ(summary["verdict"], "every frame arrived complete with the recording's checksum");
    EXPECT_GT(summary["durationSeconds"].get<double>(), 0.0);
    EXPECT_EQ(summary["options"]["recordings"][0]["file"], rec);
    EXPECT_FALSE(c.contains("sendRetries"));
    // Achieved rates over the sending time (their size is not asserted).
    EXPECT_GT(c["sendingSeconds"].get<double>(), 0.0);
    EXPECT_GT(c["framesPerSecond"].get<double>(), 0.0);
    EXPECT_GT(c["megabytesPerSecond"].get<double>(), 0.0);
    // The last frame handed on and the checksum a unit reports for it: with
    // --loop and --frames the last pass ends on the last frame of a pass.
    const auto recording = qir::replay::Recording::open(rec, GetParam().format, GetParam().rawPixels);
    const uint64_t perPass = GetParam().framesPerPass;
    const uint64_t last = (frames - 1) % perPass;
    EXPECT_EQ(c["lastFrame"], last);
    EXPECT_EQ(c["lastFrameChecksum"], vxqir::Fnv1a64::toHex(recording.sentChecksum(last)));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ReplayForm,
    ::testing::Values(
        FormCase{ "GrabberStream", { "grabber", "--width", "320", "--height", "60", "--frames", "12" }, {}, 12 },
        FormCase{ "GrabberStreamWithShortPacketsAt12Bits",
                  { "grabber", "--short-packets", "--bpp", "12", "--width", "202", "--height", "30", "--frames", "6",
                    "--pattern", "Noise" },
                  {},
                  6 },
        FormCase{
            "RawYuv422Frames", { "raw", "--width", "160", "--height", "40", "--frames", "6" }, { "--fps", "60" }, 6 },
        FormCase{ "RawMonoFrames",
                  { "raw", "--raw-pixels", "mono", "--width", "128", "--height", "20", "--frames", "5" },
                  { "--raw-pixels", "mono", "--format", "raw" },
                  5,
                  qir::replay::RecordingFormat::Raw,
                  qir::replay::RawPixelFormat::Mono },
        FormCase{ "GrabberStreamLoopedAndCut",
                  { "grabber", "--width", "64", "--height", "16", "--frames", "8", "--fps", "200" },
                  { "--loop", "3", "--frames", "5", "--rate", "2" },
                  5 }),
    [](const auto& param) { return param.param.name; });

// --frames 3 --loop 3 of a 10-frame 25 fps recording: nine frames 40 ms
// apart at the unit, each pass as long as its three frames (not the whole
// recording, which would put 400 ms between passes).
TEST(ReplayProgram, PassesOfSomeFramesFollowEachOtherAtTheFramesSpacing)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "8", "--frames", "10", "--fps", "25" }, rec, dir));
    const auto result = run(
        { QIR_REPLAY_TOOL, rec, "--frames", "3", "--loop", "3", "--quiet", "--summary-json", dir.file("s.json") }, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    const auto c = readJson(dir.file("s.json"))["channels"][0];
    EXPECT_EQ(c["framesPlayed"], 9);
    const double spanMs =
        static_cast<double>(c["lastFramePlayedNs"].get<uint64_t>() - c["firstFramePlayedNs"].get<uint64_t>()) / 1e6;
    // Eight periods of 40 ms; a loaded machine may play the last one late.
    EXPECT_GE(spanMs, 319.0);
    EXPECT_LE(spanMs, 320.0 + c["lateMaxMs"].get<double>() + 1.0) << "passes are spaced apart";
}

TEST(ReplayProgram, TwoRecordingsReplayOnTwoChannelsInOneRun)
{
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "100", "--height", "20", "--frames", "4" }, dir.file("a.bin"), dir));
    ASSERT_NO_FATAL_FAILURE(
        generate({ "raw", "--width", "50", "--height", "10", "--frames", "3" }, dir.file("b.bin"), dir));
    const auto result =
        run({ QIR_REPLAY_TOOL, dir.file("a.bin"), dir.file("b.bin"), "--quiet", "--summary-json", dir.file("s.json") },
            dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    const nlohmann::json summary = readJson(dir.file("s.json"));
    ASSERT_EQ(summary["channels"].size(), 2u);
    EXPECT_EQ(summary["channels"][0]["checksumsMatched"], 4);
    EXPECT_EQ(summary["channels"][1]["checksumsMatched"], 3);
    EXPECT_EQ(summary["channels"][1]["format"], "raw");
}

TEST(ReplayProgram, DamagedOrMissingInputGivesOneLineAndExitTwoUnlessKeepGoing)
{
    TempDir dir;
    const std::string rec = dir.file("cut.bin");
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "100", "--height", "20", "--frames", "3" }, rec, dir));
    const std::string whole = qir::data_types::test::read_file(rec);
    const size_t frame = whole.size() / 3;
    qir::data_types::test::write_file(rec, std::vector<uint8_t>(whole.begin(), whole.begin() + 2 * frame + 100));

    for (const std::vector<std::string>& args : { std::vector<std::string>{ QIR_REPLAY_TOOL, rec },
                                                  std::vector<std::string>{ QIR_REPLAY_TOOL, "check", rec } }) {
        const auto result = run(args, dir);
        EXPECT_EQ(result.exit_code, 2) << result.out << result.err;
        const auto lines = qir::data_types::test::lines(result.err);
        ASSERT_EQ(lines.size(), 1u) << result.err;
        EXPECT_EQ(lines[0],
                  "qir-replay: " + rec + ": byte " + std::to_string(2 * frame) + ": grabber frame of " +
                      std::to_string(frame) + " bytes runs past the end of the file (100 bytes left)");
    }
    // --keep-going replays the two whole frames before the damage and says
    // what it left out; the verdict fails unless --allow-damage.
    const auto failed =
        run({ QIR_REPLAY_TOOL, rec, "--keep-going", "--quiet", "--summary-json", dir.file("d.json") }, dir);
    EXPECT_EQ(failed.exit_code, 1) << failed.out << failed.err;
    EXPECT_NE(
        failed.out.find("verdict: FAILED: channel 0: the recording is damaged: only the 2 whole frames before byte " +
                        std::to_string(2 * frame)),
        std::string::npos)
        << failed.out;
    const auto damage = readJson(dir.file("d.json"))["channels"][0]["damage"];
    EXPECT_EQ(damage["offset"], 2 * frame);
    EXPECT_EQ(damage["bytesSkipped"], 100);
    EXPECT_EQ(damage["framesSkipped"], 1);
    const auto kept =
        run({ QIR_REPLAY_TOOL, rec, "--keep-going", "--allow-damage", "--quiet", "--summary-json", dir.file("s.json") },
            dir);
    EXPECT_EQ(kept.exit_code, 0) << kept.out << kept.err;
    EXPECT_NE(
        kept.err.find("qir-replay: warning: " + rec + ": byte " + std::to_string(2 * frame) + ": grabber frame of "),
        std::string::npos)
        << kept.err;
    EXPECT_NE(kept.err.find("replaying the 2 whole frames before it"), std::string::npos) << kept.err;
    EXPECT_EQ(readJson(dir.file("s.json"))["channels"][0]["checksumsMatched"], 2);

    EXPECT_EQ(run({ QIR_REPLAY_TOOL, dir.file("missing.bin") }, dir).exit_code, 2);
    EXPECT_EQ(run({ QIR_REPLAY_TOOL, rec, "--unit", "127.0.0.2:99999", "--data", "127.0.0.3" }, dir).exit_code, 2);
    EXPECT_EQ(run({ QIR_REPLAY_TOOL, rec, "--rate", "fast" }, dir).exit_code, 2);
    EXPECT_EQ(run({ QIR_REPLAY_TOOL, "--help" }, dir).exit_code, 0);
}

struct UsageCase {
    const char* name;
    /// After the recording; "UNIT" and "DATA" stand for the test's unit,
    /// "DIR/" for the test's folder.
    std::vector<std::string> args;
    std::string message; ///< in the one line on standard error
};

void PrintTo(const UsageCase& c, std::ostream* os)
{
    *os << c.name;
}

class UsageError : public ::testing::TestWithParam<UsageCase> { };

// Each is refused with exit 2 and one line before anything reaches the unit
// (a unit of the test that counts every request) and before a summary exists.
TEST_P(UsageError, IsRefusedWithExitTwoBeforeAnythingIsSent)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "64", "--height", "8", "--frames", "2" }, rec, dir));
    vxqir::sim::EmulatorConfig config;
    config.controlIp = "127.0.0.2";
    config.dataIp = "127.0.0.3";
    vxqir::sim::UnitEmulator unit(config);
    unit.start();
    std::vector<std::string> args = { QIR_REPLAY_TOOL, rec, "--quiet" };
    for (const std::string& arg : GetParam().args)
        args.push_back(arg == "UNIT"                 ? "127.0.0.2:" + std::to_string(unit.controlPort())
                           : arg == "DATA"           ? "127.0.0.3:" + std::to_string(unit.dataBasePort())
                           : arg.starts_with("DIR/") ? dir.file(arg.substr(4))
                                                     : arg);
    const auto result = run(args, dir);
    const auto seen = unit.snapshot();
    unit.stop();
    EXPECT_EQ(result.exit_code, 2) << result.out << result.err;
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("verdict"), std::string::npos) << result.out;
    EXPECT_EQ(seen.control.requests + seen.control.malformedRequests, 0u) << "the unit was asked";
    EXPECT_FALSE(std::filesystem::exists(dir.file("s.json")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageError,
    ::testing::Values(
        UsageCase{ "LeadNotANumber", { "--lead", "nan", "--unit", "UNIT", "--data", "DATA" }, "--lead nan" },
        UsageCase{ "FpsTooSmall", { "--fps", "1e-300", "--unit", "UNIT", "--data", "DATA" }, "--fps 1e-300" },
        UsageCase{ "FpsNotANumber", { "--fps", "nan", "--unit", "UNIT", "--data", "DATA" }, "--fps nan" },
        UsageCase{ "StallTimeoutNotANumber",
                   { "--stall-timeout", "nan", "--unit", "UNIT", "--data", "DATA" },
                   "--stall-timeout nan" },
        UsageCase{ "ResumeWithinZero",
                   { "--on-unit-loss", "resume", "--resume-within", "0", "--unit", "UNIT", "--data", "DATA" },
                   "--resume-within 0: give seconds above 0" },
        UsageCase{ "ResumeWithinNegative",
                   { "--resume-within", "-1", "--unit", "UNIT", "--data", "DATA" },
                   "--resume-within -1: give seconds above 0" },
        UsageCase{ "ResumeWithinNotANumber",
                   { "--resume-within", "nan", "--unit", "UNIT", "--data", "DATA" },
                   "--resume-within nan" },
        UsageCase{ "ResumeWithinEndless",
                   { "--resume-within", "inf", "--unit", "UNIT", "--data", "DATA" },
                   "--resume-within inf" },
        UsageCase{ "ResumeWithinLongerThanADay",
                   { "--resume-within", "86401", "--unit", "UNIT", "--data", "DATA" },
                   "at most 86400" },
        UsageCase{ "UnknownUnitLossHandling",
                   { "--on-unit-loss", "retry", "--unit", "UNIT", "--data", "DATA" },
                   "--on-unit-loss: retry not in {fail,resume}" },
        UsageCase{ "SummaryIntoAMissingFolder",
                   { "--summary-json", "DIR/no-such-folder/s.json", "--unit", "UNIT", "--data", "DATA" },
                   "--summary-json: summary file" },
        UsageCase{
            "SameUnitTwice",
            { "--unit", "UNIT", "--data", "DATA", "--unit", "UNIT", "--data", "DATA", "--map", "DIR/rec.bin=1@1" },
            "is given twice (units 0 and 1)" }),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ReplayProgram, SummaryJsonDashWritesTheJsonAloneToStandardOutput)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "64", "--height", "8", "--frames", "3" }, rec, dir));
    const auto result = run({ QIR_REPLAY_TOOL, rec, "--summary-json", "-" }, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    const nlohmann::json summary = nlohmann::json::parse(result.out); // nothing but the JSON
    EXPECT_EQ(summary["channels"][0]["framesHandedOn"], 3);
    EXPECT_NE(result.err.find("verdict: every frame arrived complete"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("-")));
}

TEST(ReplayProgram, AUnitThatNeverAnswersGivesOneLineWithItsAddressAndExitOne)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "64", "--height", "8", "--frames", "2" }, rec, dir));
    // A socket on the unit's control address that takes requests and never answers.
    const int silent = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.2", &address.sin_addr);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string port = std::to_string(ntohs(address.sin_port));

    const auto result =
        run({ QIR_REPLAY_TOOL, rec, "--quiet", "--unit", "127.0.0.2:" + port, "--data", "127.0.0.3:" + port }, dir);
    ::close(silent);
    EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
    EXPECT_NE(result.err.find("the unit at 127.0.0.2:" + port + " (data 127.0.0.3:" + port +
                              ") did not take the channel; nothing was sent"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.out.find("verdict"), std::string::npos) << "nothing was replayed: " << result.out;
}

TEST(ReplayProgram, CheckReportsCountsTimesAndCsiErrorsWithoutSending)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--short-packets", "--width", "100", "--height", "20", "--frames", "10", "--fps", "20" },
                 rec, dir));
    std::string bytes = qir::data_types::test::read_file(rec);
    bytes[64 + 8 + 4 + 3] = static_cast<char>(bytes[64 + 8 + 4 + 3] ^ 0x5A); // ECC of the first long packet
    qir::data_types::test::write_file(rec, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const auto result = run({ QIR_REPLAY_TOOL, "check", rec }, dir);
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("grabber, 10 frames"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("recorded, 0.500 s"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("1 header ECC error, 0 payload checksum errors"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("SkipCsi2ShortPackages"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("of a 1 Gbit/s link"), std::string::npos) << result.out;
}

// An 18-minute jump between frames 3 and 4: check names it and calls the
// recording doubtful, in text and in --json, whose standard output is one
// JSON document with the recording's fields.
TEST(ReplayProgram, CheckReportsAJumpInTheTimesInTextAndJson)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "8", "--frames", "8", "--fps", "25" }, rec, dir));
    std::string bytes = qir::data_types::test::read_file(rec);
    const size_t frame = bytes.size() / 8;
    for (size_t f = 4; f < 8; ++f) {
        uint64_t ns = 0;
        for (size_t k = 0; k < 8; ++k) // ts_start lo and hi, little-endian, at byte 16 of the header
            ns |= uint64_t{ static_cast<uint8_t>(bytes[f * frame + 16 + k]) } << (8 * k);
        ns += uint64_t{ 18 } * 60 * 1'000'000'000;
        for (size_t k = 0; k < 8; ++k)
            bytes[f * frame + 16 + k] = static_cast<char>(ns >> (8 * k));
    }
    qir::data_types::test::write_file(rec, std::vector<uint8_t>(bytes.begin(), bytes.end()));

    const auto text = run({ QIR_REPLAY_TOOL, "check", rec }, dir);
    EXPECT_EQ(text.exit_code, 1) << text.out << text.err;
    EXPECT_NE(text.out.find("1 gap of more than 3 frame periods (0.040 s), a jump of more than 10 periods"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("the longest 1080.040 s after frame 3 at byte " + std::to_string(3 * frame)),
              std::string::npos)
        << text.out;

    const auto json = run({ QIR_REPLAY_TOOL, "check", "--json", rec }, dir);
    EXPECT_EQ(json.exit_code, 1) << json.out << json.err;
    const nlohmann::json found = nlohmann::json::parse(json.out);
    EXPECT_EQ(found["exitCode"], 1);
    ASSERT_EQ(found["recordings"].size(), 1u);
    const auto& r = found["recordings"][0];
    EXPECT_EQ(r["file"], rec);
    EXPECT_EQ(r["status"], "doubtful");
    EXPECT_EQ(r["frames"], 8);
    EXPECT_EQ(r["jumps"], 1);
    EXPECT_EQ(r["largestGap"]["afterFrame"], 3);
    EXPECT_NEAR(r["largestGap"]["seconds"].get<double>(), 1080.04, 1e-6);
    EXPECT_EQ(r["report"].size(), std::count(text.out.begin(), text.out.end(), '\n')) << "the same lines";
}

TEST(ReplayProgram, CheckRefusesAGrabberRecordingWhosePacketLengthChangesUnlessToldToKeepGoing)
{
    TempDir dir;
    const std::string narrow = dir.file("narrow.bin");
    const std::string wide = dir.file("wide.bin");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "100", "--height", "4", "--frames", "3", "--fps", "20" }, narrow, dir));
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "200", "--height", "4", "--frames", "1", "--fps", "20" }, wide, dir));
    const std::string first = qir::data_types::test::read_file(narrow);
    const std::string bytes = first + qir::data_types::test::read_file(wide);
    const std::string rec = dir.file("rec.bin");
    qir::data_types::test::write_file(rec, std::vector<uint8_t>(bytes.begin(), bytes.end()));

    // The wide frame's time starts over; --fps takes the times from a rate.
    const auto refused = run({ QIR_REPLAY_TOOL, "check", "--fps", "20", rec }, dir);
    EXPECT_EQ(refused.exit_code, 2) << refused.out << refused.err;
    // The wide frame's first long packet follows its grabber header and preamble.
    EXPECT_NE(refused.err.find(rec + ": frame 3 at byte " + std::to_string(first.size() + 64) + ": a long packet of "),
              std::string::npos)
        << refused.err;

    const auto checked = run({ QIR_REPLAY_TOOL, "check", "--fps", "20", "--keep-going", rec }, dir);
    EXPECT_EQ(checked.exit_code, 1) << checked.out << checked.err;
    EXPECT_NE(checked.out.find("1 frame holds long packets of another length"), std::string::npos) << checked.out;
}

TEST(ReplayProgram, CtrlCInTheMiddleStopsCleanlyWithTheSummary)
{
    TempDir dir;
    const std::string rec = dir.file("long.bin");
    // 200 lines a frame at 10 frames per second: the unit's FIFO holds about
    // ten frames, so the replay lasts well over ten seconds.
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "200", "--frames", "150", "--fps", "10" }, rec, dir));
    PipedProgram program({ QIR_REPLAY_TOOL, rec, "--verbose", "--summary-json", dir.file("s.json") }, dir);
    const std::string first = program.read(10); // the first progress line: the run has begun
    ASSERT_NE(first.find("replaying"), std::string::npos) << first << program.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    program.signal(SIGINT);
    const std::string out = first + program.read_all();
    std::string how;
    EXPECT_EQ(program.wait(&how), 130) << how << out << program.err();
    EXPECT_NE(out.find("channel 0: "), std::string::npos) << out;
    EXPECT_NE(out.find("replay interrupted"), std::string::npos) << out;
    EXPECT_TRUE(
        std::regex_search(program.err(), std::regex("unit0: \\[Death\\] UnregisterOutputChannel \\d+ succesful")))
        << program.err();
    const nlohmann::json summary = readJson(dir.file("s.json"));
    EXPECT_TRUE(summary["interrupted"].get<bool>());
    EXPECT_LT(summary["channels"][0]["framesHandedOn"].get<uint64_t>(), 150u);
}

TEST(ReplayProgram, LoopZeroReplaysUntilCtrlCAndEndsWithTheSummary)
{
    TempDir dir;
    const std::string rec = dir.file("short.bin");
    // Three frames at 30 per second: a pass takes 0.1 s.
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "8", "--frames", "3", "--fps", "30" }, rec, dir));
    PipedProgram program({ QIR_REPLAY_TOOL, rec, "--loop", "0", "--summary-json", dir.file("s.json") }, dir);
    const std::string first = program.read(10); // the first progress line: the run has begun
    ASSERT_NE(first.find("replaying"), std::string::npos) << first << program.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    program.signal(SIGINT);
    const std::string out = first + program.read_all();
    std::string how;
    EXPECT_EQ(program.wait(&how), 130) << how << out << program.err();
    EXPECT_NE(out.find(", endless"), std::string::npos) << out;
    EXPECT_EQ(out.find("ETA"), std::string::npos) << out;
    EXPECT_NE(out.find("replay interrupted"), std::string::npos) << out;
    const nlohmann::json summary = readJson(dir.file("s.json"));
    EXPECT_TRUE(summary["interrupted"].get<bool>());
    // Many passes went out, more than any bounded default would send.
    const uint64_t sent = summary["channels"][0]["framesHandedOn"].get<uint64_t>();
    EXPECT_GT(sent, 9u);
    EXPECT_EQ(summary["channels"][0]["framesToSend"].get<uint64_t>(), sent);
}

TEST(ReplayProgram, ARecordingCutShortWhileItReplaysEndsWithExitOneNamingFileAndFrame)
{
    TempDir dir;
    const std::string rec = dir.file("long.bin");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "200", "--frames", "100", "--fps", "20" }, rec, dir));
    const auto size = std::filesystem::file_size(rec);
    PipedProgram program({ QIR_REPLAY_TOOL, rec, "--summary-json", dir.file("s.json") }, dir);
    const std::string first = program.read(10); // the first progress line: the run has begun
    ASSERT_NE(first.find("replaying"), std::string::npos) << first << program.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_EQ(::truncate(rec.c_str(), static_cast<off_t>(size / 4)), 0);
    const std::string out = first + program.read_all();
    std::string how;
    EXPECT_EQ(program.wait(&how), 1) << how << out << program.err();
    EXPECT_TRUE(how.empty()) << how;
    EXPECT_NE(program.err().find(rec + ": frame "), std::string::npos) << program.err();
    EXPECT_NE(program.err().find("the file changed while it was replayed"), std::string::npos) << program.err();
    EXPECT_NE(out.find("verdict: FAILED"), std::string::npos) << out;
    EXPECT_FALSE(readJson(dir.file("s.json"))["channels"][0]["delivered"].get<bool>());
}

TEST(ReplayProgram, LateFramesAreCountedAndFailTheRunOnlyBeyondMaxLate)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "16", "--frames", "10", "--fps", "30" }, rec, dir));
    // The players wait 0.6 s of a 0.2-s lead: every frame comes 0.4 s late.
    const std::vector<std::string> late = {
        QIR_REPLAY_TOOL, rec, "--quiet", "--lead", "0.2", "--start-delay", "600000"
    };
    std::vector<std::string> reported = late;
    reported.insert(reported.end(), { "--summary-json", dir.file("r.json") });
    const auto onlyReported = run(reported, dir);
    EXPECT_EQ(onlyReported.exit_code, 0) << onlyReported.out << onlyReported.err;
    EXPECT_NE(onlyReported.out.find("10 frames reached the unit after their play time"), std::string::npos)
        << onlyReported.out;
    EXPECT_EQ(readJson(dir.file("r.json"))["channels"][0]["framesLate"], 10);

    std::vector<std::string> failing = late;
    failing.insert(failing.end(), { "--max-late", "100", "--summary-json", dir.file("f.json") });
    const auto failed = run(failing, dir);
    EXPECT_EQ(failed.exit_code, 1) << failed.out << failed.err;
    EXPECT_NE(failed.out.find("frames reached the unit more than 100 ms after their play time"), std::string::npos)
        << failed.out;
    EXPECT_EQ(readJson(dir.file("f.json"))["channels"][0]["framesLateOverMax"], 10);
}

struct TimeCase {
    std::string name;
    uint64_t thirdFrameTime; ///< written into the third frame's grabber header (its own unit)
    std::string refusal;
};

void PrintTo(const TimeCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayTimes : public ::testing::TestWithParam<TimeCase> { };

TEST_P(ReplayTimes, CheckAndReplayRefuseTheSameRecordedTimesNamingFrameAndByte)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "8", "--frames", "4", "--fps", "30" }, rec, dir));
    std::string bytes = qir::data_types::test::read_file(rec);
    const size_t frame = bytes.size() / 4;
    const uint64_t time = GetParam().thirdFrameTime;
    for (size_t k = 0; k < 8; ++k) // ts_start lo and hi, little-endian, at byte 16 of the header
        bytes[2 * frame + 16 + k] = static_cast<char>(time >> (8 * k));
    qir::data_types::test::write_file(rec, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    for (const std::vector<std::string>& args : { std::vector<std::string>{ QIR_REPLAY_TOOL, rec },
                                                  std::vector<std::string>{ QIR_REPLAY_TOOL, "check", rec } }) {
        const auto result = run(args, dir);
        EXPECT_EQ(result.exit_code, 2) << result.out << result.err;
        EXPECT_EQ(
            result.err.rfind("qir-replay: " + rec + ": frame 2 (byte " + std::to_string(2 * frame) + "): time ", 0), 0u)
            << result.err;
        EXPECT_NE(result.err.find(GetParam().refusal), std::string::npos) << result.err;
    }
    // Times from a frame rate replace them.
    EXPECT_EQ(run({ QIR_REPLAY_TOOL, rec, "--quiet", "--fps", "30" }, dir).exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplayTimes,
                         ::testing::Values(TimeCase{ "Decreasing", 5, "comes before the previous frame's" },
                                           TimeCase{ "CenturiesApart", uint64_t{ 1 } << 62,
                                                     "is more than a day after the previous frame's" }),
                         [](const auto& param) { return param.param.name; });

TEST(ReplayProgram, APipeOrADeviceIsRefusedAtOnceByCheckAndReplay)
{
    TempDir dir;
    const std::string pipe = dir.file("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : { pipe, std::string("/dev/zero") })
        for (const std::vector<std::string>& args : { std::vector<std::string>{ QIR_REPLAY_TOOL, path },
                                                      std::vector<std::string>{ QIR_REPLAY_TOOL, "check", path } }) {
            const auto result = run(args, dir); // a pipe without a writer would hang a reader
            EXPECT_EQ(result.exit_code, 2) << result.out << result.err;
            EXPECT_NE(result.err.find("not a regular file"), std::string::npos) << result.err;
        }
}

TEST(ReplayProgram, TheWrittenGraphRunByPckHostDeliversTheSameChecksums)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(generate({ "raw", "--width", "96", "--height", "24", "--frames", "5" }, rec, dir));
    const std::string graph = dir.file("replay.toml");
    const auto replay = run({ QIR_REPLAY_TOOL, rec, "--quiet", "--write-graph", graph }, dir);
    ASSERT_EQ(replay.exit_code, 0) << replay.out << replay.err;

    const std::vector<uint64_t> sums = qir::replay::test::checksumsOfWrittenGraph(graph, 5, dir);

    const auto recording = qir::replay::Recording::open(rec);
    ASSERT_EQ(sums.size(), 5u);
    for (size_t f = 0; f < sums.size(); ++f)
        EXPECT_EQ(sums[f], recording.sentChecksum(f)) << "frame " << f;
}

} // namespace
