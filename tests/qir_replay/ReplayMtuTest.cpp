// qir-replay --mtu: the unit client's "MaxPayLoadSize" is chosen for the
// MTU, the lines go out in the equal datagrams the summary names, and the
// written graph carries the same size.
#include "ReplayToolRuns.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace {

using qir::data_types::test::run;
using qir::data_types::test::TempDir;
using qir::replay::test::generate;
using qir::replay::test::readJson;

TEST(ReplayMtu, LinesGoOutInTheEqualDatagramsTheSummaryNames)
{
    TempDir dir;
    // 1920 YUV 4:2:2 pixels become RGB lines of 5760 bytes.
    ASSERT_NO_FATAL_FAILURE(
        generate({ "raw", "--width", "1920", "--height", "6", "--frames", "3" }, dir.file("r.bin"), dir));
    const auto result = run({ QIR_REPLAY_TOOL, dir.file("r.bin"), "--mtu", "1500", "--rate", "max", "--quiet",
                              "--summary-json", dir.file("s.json"), "--write-graph", dir.file("g.toml") },
                            dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("MaxPayLoadSize 1440 (MTU 1500): lines of 5760 bytes in 4 equal datagrams"),
              std::string::npos)
        << result.out;

    const nlohmann::json summary = readJson(dir.file("s.json"));
    EXPECT_EQ(summary["mtu"], 1500);
    const nlohmann::json& channel = summary["channels"][0];
    EXPECT_EQ(channel["maxPayloadSize"], 1440);
    EXPECT_EQ(channel["lineBytes"], 5760);
    EXPECT_EQ(channel["datagramsPerLine"], 4);
    EXPECT_EQ(channel["equalDatagrams"], true);
    // What the library counted as sent, and what the unit got whole.
    EXPECT_EQ(channel["datagramsSent"], 3 * 6 * 4);
    EXPECT_EQ(channel["checksumsMatched"], 3);

    std::ifstream graph(dir.file("g.toml"));
    std::stringstream text;
    text << graph.rdbuf();
    EXPECT_NE(text.str().find("MaxPayLoadSize = 1440"), std::string::npos) << text.str();
}

TEST(ReplayMtu, WithoutItTheSummaryNamesTheDefaultAndAnMtuOutOfRangeIsAUsageError)
{
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(
        generate({ "raw", "--width", "1920", "--height", "2", "--frames", "1" }, dir.file("r.bin"), dir));
    const auto plain = run(
        { QIR_REPLAY_TOOL, dir.file("r.bin"), "--rate", "max", "--quiet", "--summary-json", dir.file("s.json") }, dir);
    ASSERT_EQ(plain.exit_code, 0) << plain.out << plain.err;
    const nlohmann::json summary = readJson(dir.file("s.json"));
    EXPECT_TRUE(summary["mtu"].is_null());
    EXPECT_EQ(summary["channels"][0]["maxPayloadSize"], 8948);
    EXPECT_EQ(summary["channels"][0]["datagramsPerLine"], 1);

    for (const char* mtu : { "67", "65536", "jumbo" }) {
        const auto refused = run({ QIR_REPLAY_TOOL, dir.file("r.bin"), "--mtu", mtu }, dir);
        EXPECT_EQ(refused.exit_code, 2) << mtu << refused.out << refused.err;
    }
}

} // namespace
