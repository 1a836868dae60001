// The qir-records program on whole, cut and damaged record files.

#include "FrameBuilder.h"
#include "RecordsTool.h"
#include "TestBytes.h"
#include "ToolRunner.h"

#include "data_types/DataContainer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace qir::data_types {
namespace {

using test::Bytes;
using test::cat;
using test::hex;
using test::lines;
using test::raw_record;
using test::run;
using test::RunResult;
using test::TempDir;
using test::write_file;

/// A CAN, a LIN, an Ethernet (UDP, SOME/IP) and a FlexRay record.
std::vector<Bytes> four_records()
{
    records::SomeIpMessageSpec message;
    message.service_id = 0x4711;
    message.method_id = 0x8002;
    message.payload = hex("01020304");
    const Bytes udp = records::udp_datagram(30490, 30490, records::someip_message(message));
    const Bytes packet = records::ipv4_packet({ 198, 51, 100, 1 }, { 198, 51, 100, 2 }, 17, udp);
    return {
        raw_record(1'000'000, 1, hex("23010000 00 08 00 00 0000"), Bytes(8, 0x11)),
        raw_record(1'000'100, 7, hex("3c 02 00"), hex("aabb")),
        records::ethernet_record(1'000'200, { 2, 0, 0, 0, 0, 1 }, { 2, 0, 0, 0, 0, 2 }, 0x0800, packet),
        raw_record(1'000'300, 2, Bytes(15, 0), Bytes(4, 0x22)),
    };
}

/// The whitespace-separated words of the line of `text` that starts with `first`.
std::vector<std::string> row(const std::string& text, const std::string& first)
{
    for (const std::string& line : lines(text)) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string word; in >> word;)
            words.push_back(word);
        if (!words.empty() && words[0] == first)
            return words;
    }
    return {};
}

size_t listed_records(const RunResult& result)
{
    // The first line is the column header.
    const auto all = lines(result.out);
    return all.empty() ? 0 : all.size() - 1;
}

TEST(RecordsTool, ListsOneLinePerRecordWithItsSummary)
{
    TempDir dir;
    const auto records = four_records();
    write_file(dir.file("in.rec"), cat({ records[0], records[1], records[2], records[3] }));
    const RunResult result = run({ kTool, "ls", dir.file("in.rec") }, dir);
    ASSERT_EQ(result.exit_code, 0) << result.start_error << result.err;
    const auto all = lines(result.out);
    ASSERT_EQ(all.size(), 5u) << result.out;
    EXPECT_THAT(all[1], ::testing::HasSubstr("1.000000"));
    EXPECT_THAT(all[1], ::testing::HasSubstr("id 0x123 dlc 8"));
    EXPECT_THAT(all[2], ::testing::HasSubstr("LIN"));
    EXPECT_THAT(all[3], ::testing::HasSubstr("198.51.100.1:30490 -> 198.51.100.2:30490"));
    EXPECT_THAT(all[3], ::testing::HasSubstr("SOME/IP 0x4711.0x8002"));
    EXPECT_THAT(all[4], ::testing::HasSubstr("FlexRay"));
}

TEST(RecordsTool, StatsCountRecordsAndBytesPerTypeAndTheTimeSpan)
{
    TempDir dir;
    const auto records = four_records();
    const Bytes file = cat({ records[0], records[1], records[2], records[3] });
    write_file(dir.file("in.rec"), file);
    const RunResult result = run({ kTool, "stats", dir.file("in.rec") }, dir);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(row(result.out, "total"), (std::vector<std::string>{ "total", "4", std::to_string(file.size()), "62" }))
        << result.out;
    EXPECT_EQ(row(result.out, "CAN"), (std::vector<std::string>{ "CAN", "1", "35", "8" })) << result.out;
    EXPECT_THAT(result.out, ::testing::HasSubstr("time span: 1.000000 .. 1.000300"));
}

TEST(RecordsTool, GeneratesTheSameFileForTheSameSeed)
{
    TempDir dir;
    ASSERT_EQ(run({ kTool, "gen", dir.file("a.rec"), "-n", "300", "--seed", "5" }, dir).exit_code, 0);
    ASSERT_EQ(run({ kTool, "gen", dir.file("b.rec"), "-n", "300", "--seed", "5" }, dir).exit_code, 0);
    ASSERT_EQ(run({ kTool, "gen", dir.file("c.rec"), "-n", "300", "--seed", "6" }, dir).exit_code, 0);
    EXPECT_EQ(test::read_file(dir.file("a.rec")), test::read_file(dir.file("b.rec")));
    EXPECT_NE(test::read_file(dir.file("a.rec")), test::read_file(dir.file("c.rec")));
    const RunResult stats = run({ kTool, "stats", dir.file("a.rec") }, dir);
    EXPECT_EQ(stats.exit_code, 0) << stats.err;
    ASSERT_FALSE(row(stats.out, "total").empty()) << stats.out;
    EXPECT_EQ(row(stats.out, "total")[1], "300") << stats.out;
}

// Damaged files ---------------------------------------------------------------------------

struct DamageCase {
    const char* name;
    size_t keep; ///< bytes of the fourth record that remain
};

void PrintTo(const DamageCase& value, std::ostream* out)
{
    *out << value.name;
}

class CutFile : public ::testing::TestWithParam<DamageCase> { };

TEST_P(CutFile, ListsTheWholeRecordsReportsTheOffsetAndFails)
{
    TempDir dir;
    const auto records = four_records();
    Bytes file = cat({ records[0], records[1], records[2] });
    const size_t offset = file.size();
    file.insert(file.end(), records[3].begin(), records[3].begin() + static_cast<ptrdiff_t>(GetParam().keep));
    write_file(dir.file("cut.rec"), file);

    for (const char* command : { "ls", "stats", "someip" }) {
        const RunResult result = run({ kTool, command, dir.file("cut.rec") }, dir);
        EXPECT_EQ(result.exit_code, 1) << command;
        EXPECT_NE(result.err.find("offset " + std::to_string(offset) + ":"), std::string::npos)
            << command << ": " << result.err;
        if (std::string(command) == "ls") {
            EXPECT_EQ(listed_records(result), 3u) << result.out;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CutFile,
                         ::testing::Values(DamageCase{ "InsideTheBaseHeader", 9 },
                                           DamageCase{ "InsideTheTypeHeader", 20 },
                                           DamageCase{ "InsideThePayload", 33 }),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(RecordsTool, ReportsARecordWhoseLengthsDisagreeAndStopsThere)
{
    TempDir dir;
    auto records = four_records();
    records[1][9] += 1; // LIN length one more than headers plus payload
    const size_t offset = records[0].size();
    write_file(dir.file("bad.rec"), cat({ records[0], records[1], records[2], records[3] }));
    const RunResult result = run({ kTool, "ls", dir.file("bad.rec") }, dir);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_THAT(
        result.err,
        ::testing::HasSubstr("offset " + std::to_string(offset) + ": length 23 disagrees with payload_length 2"));
    EXPECT_EQ(listed_records(result), 1u);
}

TEST(RecordsTool, SkipsARecordOfUnknownTypeAndGoesOn)
{
    TempDir dir;
    const auto records = four_records();
    const Bytes unknown = raw_record(5, 42, {}, Bytes(3, 0));
    write_file(dir.file("mixed.rec"), cat({ records[0], unknown, records[1] }));
    const RunResult result = run({ kTool, "ls", dir.file("mixed.rec") }, dir);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_THAT(result.err, ::testing::HasSubstr("offset " + std::to_string(records[0].size()) + ": type byte 42"));
    EXPECT_EQ(listed_records(result), 2u);
}

TEST(RecordsTool, MissingFileIsAFailureNamingThePath)
{
    TempDir dir;
    const RunResult result = run({ kTool, "stats", dir.file("absent.rec") }, dir);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_THAT(result.err, ::testing::HasSubstr("absent.rec"));
}

TEST(RecordsTool, EmptyFileHasNoRecordsAndNoFault)
{
    TempDir dir;
    write_file(dir.file("empty.rec"), {});
    const RunResult result = run({ kTool, "stats", dir.file("empty.rec") }, dir);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_THAT(result.out, ::testing::HasSubstr("time span: none"));
}

// SOME/IP -------------------------------------------------------------------------------------

TEST(RecordsTool, ListsSomeIpMessagesOfEthernetFramesAndSomeIpRecords)
{
    TempDir dir;
    const auto records = four_records();
    records::SomeIpMessageSpec spec;
    spec.service_id = 0x0abc;
    const auto messages = SOMEIPMessage::read_someip_messages(records::someip_message(spec), 9);
    const Bytes someip_record = SOMEIPContainer::from_someip_message(messages.at(0))->to_record();
    write_file(dir.file("s.rec"), cat({ records[0], records[2], someip_record }));
    const RunResult result = run({ kTool, "someip", dir.file("s.rec") }, dir);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const auto all = lines(result.out);
    ASSERT_EQ(all.size(), 3u) << result.out;
    EXPECT_THAT(all[1],
                ::testing::HasSubstr("198.51.100.1:30490 -> 198.51.100.2:30490 service 0x4711 method 0x8002 (event)"));
    EXPECT_THAT(all[2], ::testing::HasSubstr("record service 0x0ABC"));
}

TEST(RecordsTool, SomeIpOnAChosenPortThatIsNotSomeIpIsAnError)
{
    TempDir dir;
    const Bytes udp = records::udp_datagram(5000, 5000, Bytes(40, 0x77));
    const Bytes frame = records::ethernet_record(1, {}, {}, 0x0800, records::ipv4_packet({}, {}, 17, udp));
    write_file(dir.file("u.rec"), frame);
    const RunResult any = run({ kTool, "someip", dir.file("u.rec") }, dir);
    EXPECT_EQ(any.exit_code, 0) << "without --port other UDP traffic is only noted";
    const RunResult chosen = run({ kTool, "someip", "--port", "5000", dir.file("u.rec") }, dir);
    EXPECT_EQ(chosen.exit_code, 1);
    EXPECT_THAT(chosen.err, ::testing::HasSubstr("offset 0: Container does not valid SOME/IP data"));
}

} // namespace
} // namespace qir::data_types
