// Record files and image sequences as users replay them: qir-gen writes
// each form, qir-replay plays it into the embedded emulated unit over
// loopback UDP, and every frame must arrive complete with the checksum of
// its source; damaged input gives one line naming the file and the byte.
#include "Recording.h"
#include "ReplayToolRuns.h"
#include "ToolRunner.h"
#include "UnitEmulator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <mutex>

namespace {

using qir::data_types::test::lines;
using qir::data_types::test::read_file;
using qir::data_types::test::run;
using qir::data_types::test::TempDir;
using qir::data_types::test::write_file;
using qir::replay::test::generate;
using qir::replay::test::readJson;

struct FormCase {
    std::string name;
    std::vector<std::string> genArgs;    ///< after "qir-gen"
    std::vector<std::string> replayArgs; ///< extra options of qir-replay
    std::string format;                  ///< as the summary names it
};

void PrintTo(const FormCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayedForm : public ::testing::TestWithParam<FormCase> { };

TEST_P(ReplayedForm, EveryFrameArrivesCompleteWithTheSourcesChecksum)
{
    const FormCase& c = GetParam();
    TempDir dir;
    const std::string rec = dir.file("rec");
    ASSERT_NO_FATAL_FAILURE(generate(c.genArgs, rec, dir));
    std::vector<std::string> args = { QIR_REPLAY_TOOL, rec, "--quiet", "--summary-json", dir.file("summary.json") };
    args.insert(args.end(), c.replayArgs.begin(), c.replayArgs.end());
    const auto result = run(args, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("verdict: every frame arrived complete"), std::string::npos) << result.out;

    const nlohmann::json summary = readJson(dir.file("summary.json"));
    const auto& channel = summary["channels"][0];
    EXPECT_EQ(channel["format"], c.format);
    const uint64_t frames = channel["framesToSend"];
    EXPECT_EQ(frames, 5u);
    EXPECT_EQ(channel["framesSent"], frames);
    EXPECT_EQ(channel["framesComplete"], frames);
    EXPECT_EQ(channel["framesIncomplete"], 0);
    EXPECT_EQ(channel["checksumsMatched"], frames);
    EXPECT_EQ(channel["framesPlayed"], frames);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ReplayedForm,
    ::testing::Values(
        FormCase{ "RecordFileWithOtherRecordsBetween",
                  { "record", "--other-records", "--width", "200", "--height", "30", "--bpp", "12", "--frames", "5",
                    "--pattern", "Noise" },
                  {},
                  "record" },
        FormCase{ "RecordFileNamedByFormat",
                  { "record", "--width", "64", "--height", "20", "--bpp", "8", "--frames", "5", "--fps", "100" },
                  { "--format", "record" },
                  "record" },
        FormCase{ "RgbPngSequence",
                  { "png", "--bpp", "24", "--width", "90", "--height", "24", "--frames", "5", "--pattern", "Noise" },
                  {},
                  "images" },
        FormCase{ "GrayPgmSequenceTimedByFps",
                  { "pgm", "--untimed-names", "--width", "81", "--height", "17", "--frames", "5" },
                  { "--fps", "50" },
                  "images" },
        FormCase{ "PpmSequence", { "ppm", "--width", "33", "--height", "12", "--frames", "5" }, {}, "images" },
        FormCase{ "JpegSequence",
                  { "jpeg", "--bpp", "24", "--width", "120", "--height", "40", "--frames", "5", "--pattern", "Noise" },
                  { "--format", "jpeg" },
                  "jpeg" }),
    [](const auto& param) { return param.param.name; });

TEST(ReplayedForms, ADamagedRecordFileGivesOneLineWithItsByteAndKeepGoingPlaysTheWholeRecords)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "record", "--width", "64", "--height", "10", "--bpp", "8", "--frames", "3" }, rec, dir));
    const std::string whole = read_file(rec);
    const size_t record = whole.size() / 3;
    write_file(rec, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(2 * record + 20)));

    for (const std::vector<std::string>& args : { std::vector<std::string>{ QIR_REPLAY_TOOL, rec },
                                                  std::vector<std::string>{ QIR_REPLAY_TOOL, "check", rec } }) {
        const auto result = run(args, dir);
        EXPECT_EQ(result.exit_code, 2) << result.out << result.err;
        const auto errors = lines(result.err);
        ASSERT_EQ(errors.size(), 1u) << result.err;
        EXPECT_EQ(errors[0].rfind("qir-replay: " + rec + ": byte " + std::to_string(2 * record) + ": ", 0), 0u)
            << errors[0];
    }
    const auto kept =
        run({ QIR_REPLAY_TOOL, rec, "--keep-going", "--allow-damage", "--quiet", "--summary-json", dir.file("s.json") },
            dir);
    EXPECT_EQ(kept.exit_code, 0) << kept.out << kept.err;
    EXPECT_NE(kept.err.find("replaying the 2 whole frames before it"), std::string::npos) << kept.err;
    const nlohmann::json summary = readJson(dir.file("s.json"));
    EXPECT_EQ(summary["channels"][0]["checksumsMatched"], 2);
}

TEST(ReplayedForms, BadImagesAndEmptyDirectoriesGiveOneLineAndExitTwo)
{
    TempDir dir;
    const std::string empty = dir.file("empty");
    std::filesystem::create_directory(empty);
    const auto none = run({ QIR_REPLAY_TOOL, empty }, dir);
    EXPECT_EQ(none.exit_code, 2);
    EXPECT_EQ(lines(none.err),
              std::vector<std::string>{ "qir-replay: " + empty +
                                        ": no PNG, PGM, PPM or JPEG images (files named *.png, *.pgm, *.ppm, *.pnm, "
                                        "*.jpg or *.jpeg)" });

    const std::string seq = dir.file("seq");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "ppm", "--untimed-names", "--width", "8", "--height", "4", "--frames", "3" }, seq, dir));
    const std::string second = seq + "/frame_000001.ppm";
    const std::string bytes = read_file(second);
    write_file(second, std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
    const auto bad = run({ QIR_REPLAY_TOOL, seq }, dir);
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_EQ(lines(bad.err),
              std::vector<std::string>{ "qir-replay: " + second + ": byte " + std::to_string(bytes.size() - 1) +
                                        ": pixels cut short: 95 of 96 bytes" });
    const auto kept = run({ QIR_REPLAY_TOOL, seq, "--keep-going", "--allow-damage", "--quiet" }, dir);
    EXPECT_EQ(kept.exit_code, 0) << kept.out << kept.err;
    EXPECT_NE(kept.out.find("1 of 1 checksums match"), std::string::npos) << kept.out;

    // An image directory named as another format, and a file named as images.
    EXPECT_EQ(run({ QIR_REPLAY_TOOL, seq, "--format", "record" }, dir).exit_code, 2);
    EXPECT_EQ(run({ QIR_REPLAY_TOOL, second, "--format", "images" }, dir).exit_code, 2);
}

TEST(ReplayedForms, CheckCountsSkippedRecordsRecorderFlagsAndTheCodedPackets)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(generate({ "record", "--other-records", "--width", "64", "--height", "10", "--bpp", "8",
                                       "--frames", "4", "--fps", "20" },
                                     rec, dir));
    std::string bytes = read_file(rec);
    // The first Video record follows a 35-byte CAN record; its container
    // starts with the meta data chunk (4 + 21 bytes), then the frame start
    // chunk (16 bytes), then the first data chunk: flag its header error.
    const size_t firstData = 35 + 37 + 25 + 16;
    bytes[firstData + 4 + 8] = 1;
    write_file(rec, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const auto result = run({ QIR_REPLAY_TOOL, "check", rec }, dir);
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("record, 4 frames"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("recorded, 0.200 s"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("64 x 10 pixels, pixel format"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("10 data chunks of 64 bytes per frame"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("4 records of other types than Video skipped"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("1 header ECC error, 0 payload checksum errors"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("unit FIFO: 10 entries per frame"), std::string::npos) << result.out;

    const std::string jpeg = dir.file("jpeg");
    ASSERT_NO_FATAL_FAILURE(generate({ "jpeg", "--width", "32", "--height", "16", "--frames", "2" }, jpeg, dir));
    const auto coded = run({ QIR_REPLAY_TOOL, "check", jpeg }, dir);
    EXPECT_EQ(coded.exit_code, 0) << coded.out << coded.err;
    EXPECT_NE(coded.out.find("32 x 16 pixels, one component, JPEG files"), std::string::npos) << coded.out;
    EXPECT_NE(coded.out.find("each image goes out as 16 packets of"), std::string::npos) << coded.out;
}

TEST(ReplayedForms, QirGenWritesADirectoryOnlyWhenCompleteAndNeverOverAnother)
{
    TempDir dir;
    const std::string seq = dir.file("seq");
    ASSERT_NO_FATAL_FAILURE(generate({ "png", "--width", "8", "--height", "4", "--frames", "3" }, seq, dir));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(seq), std::filesystem::directory_iterator()), 3);
    const auto again = run({ QIR_GEN_TOOL, "pgm", "-o", seq, "--force" }, dir);
    EXPECT_EQ(again.exit_code, 2);
    EXPECT_NE(again.err.find(seq + ": exists already"), std::string::npos) << again.err;
    // No temporary directory is left beside it.
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("")))
        EXPECT_TRUE(entry.path().filename() == "seq" || entry.path().filename().string().rfind("seq", 0) != 0)
            << entry.path();
    EXPECT_EQ(run({ QIR_GEN_TOOL, "png", "--bpp", "16", "-o", dir.file("x") }, dir).exit_code, 2);
}

TEST(ReplayedForms, AnImageDirectoryMapsToAChannelLikeAFile)
{
    TempDir dir;
    const std::string seq = dir.file("seq");
    ASSERT_NO_FATAL_FAILURE(generate({ "pgm", "--width", "16", "--height", "4", "--frames", "3" }, seq, dir));
    const auto result =
        run({ QIR_REPLAY_TOOL, "--map", seq + "=2", "--quiet", "--summary-json", dir.file("summary.json") }, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    const nlohmann::json summary = readJson(dir.file("summary.json"));
    ASSERT_EQ(summary["channels"].size(), 1u);
    EXPECT_EQ(summary["channels"][0]["channel"], 2);
    EXPECT_EQ(summary["channels"][0]["checksumsMatched"], 3);
}

TEST(ReplayedForms, QirGenReplacesAnExistingFileOnlyWithForce)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    write_file(rec, std::vector<uint8_t>{ 'k', 'e', 'e', 'p' });
    const std::vector<std::string> args = { QIR_GEN_TOOL, "raw", "--width", "8", "--height", "2", "-o", rec };
    const auto refused = run(args, dir);
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_NE(refused.err.find(rec + ": exists already; --force replaces it"), std::string::npos) << refused.err;
    EXPECT_EQ(read_file(rec), "keep");

    auto forced = args;
    forced.push_back("--force");
    const auto replaced = run(forced, dir);
    ASSERT_EQ(replaced.exit_code, 0) << replaced.err;
    EXPECT_EQ(qir::replay::Recording::open(rec).frames().size(), 30u);
}

TEST(ReplayedForms, QirGenRecordsOfOtherTypesPassQirRecordsStats)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "record", "--other-records", "--width", "16", "--height", "4", "--frames", "3" }, rec, dir));
    const auto stats = run({ QIR_RECORDS_TOOL, "stats", rec }, dir);
    EXPECT_EQ(stats.exit_code, 0) << stats.out << stats.err;
    EXPECT_EQ(stats.err, "");
}

TEST(ReplayedForms, QirGenSaysMonoRawFramesNeedTheReplaysOption)
{
    TempDir dir;
    const auto mono = run({ QIR_GEN_TOOL, "raw", "--raw-pixels", "mono", "--width", "8", "--height", "2", "--frames",
                            "2", "-o", dir.file("mono.raw") },
                          dir);
    ASSERT_EQ(mono.exit_code, 0) << mono.err;
    EXPECT_NE(mono.out.find("replay them with qir-replay --raw-pixels mono"), std::string::npos) << mono.out;
    const auto yuv =
        run({ QIR_GEN_TOOL, "raw", "--width", "8", "--height", "2", "--frames", "2", "-o", dir.file("yuv.raw") }, dir);
    ASSERT_EQ(yuv.exit_code, 0) << yuv.err;
    EXPECT_EQ(yuv.out.find("--raw-pixels"), std::string::npos) << yuv.out;
}

TEST(ReplayedForms, WrittenGraphsRunByPckHostDeliverTheSourcesChecksums)
{
    // The players come from the package, and the JPEG graph carries the
    // unit client's packet size.
    for (const std::vector<std::string>& gen :
         { std::vector<std::string>{ "record", "--other-records", "--width", "48", "--height", "12", "--frames", "4" },
           std::vector<std::string>{ "jpeg", "--bpp", "24", "--width", "40", "--height", "24", "--frames", "4",
                                     "--pattern", "Noise" },
           std::vector<std::string>{ "pgm", "--width", "40", "--height", "8", "--frames", "4" } }) {
        SCOPED_TRACE(gen[0]);
        TempDir dir;
        const std::string rec = dir.file("rec");
        ASSERT_NO_FATAL_FAILURE(generate(gen, rec, dir));
        const std::string graph = dir.file("replay.toml");
        const auto replay = run({ QIR_REPLAY_TOOL, rec, "--quiet", "--write-graph", graph }, dir);
        ASSERT_EQ(replay.exit_code, 0) << replay.out << replay.err;

        const std::vector<uint64_t> sums = qir::replay::test::checksumsOfWrittenGraph(graph, 4, dir);

        const auto recording = qir::replay::Recording::open(rec);
        ASSERT_EQ(sums.size(), 4u);
        for (size_t f = 0; f < sums.size(); ++f)
            EXPECT_EQ(sums[f], recording.sentChecksum(f)) << "frame " << f;
    }
}

} // namespace
