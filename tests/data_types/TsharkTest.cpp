// Our pcap output opened by tshark: times, VLAN ids and SOME/IP services as
// Wireshark sees them.

#include "FrameBuilder.h"
#include "RecordsTool.h"
#include "TestBytes.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

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

constexpr records::MacAddress kSrc{ 0x02, 0, 0, 0, 0, 0x01 };
constexpr records::MacAddress kDst{ 0x02, 0, 0, 0, 0, 0x02 };

Bytes someip_udp(std::initializer_list<uint16_t> services)
{
    Bytes messages;
    for (uint16_t service : services) {
        records::SomeIpMessageSpec spec;
        spec.service_id = service;
        spec.method_id = 0x8001;
        spec.message_type = 0x02;
        spec.payload = hex("00112233");
        records::append(messages, records::someip_message(spec));
    }
    return records::udp_datagram(30490, 30490, messages);
}

Bytes tagged_frame(int64_t time, std::vector<uint16_t> vlans, uint16_t inner, const Bytes& packet)
{
    return records::ethernet_record(time, kSrc, kDst, records::outer_ether_type(vlans, inner),
                                    records::vlan_tagged(vlans, inner, packet));
}

/// Four Ethernet frames and a CAN record between them.
Bytes recording()
{
    const records::Ipv6Address a{ 0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 };
    const records::Ipv6Address b{ 0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2 };
    return cat({
        tagged_frame(1'700'000'000'000'100, { 100 }, 0x0800,
                     records::ipv4_packet({ 10, 0, 0, 1 }, { 10, 0, 0, 2 }, 17, someip_udp({ 0x1234 }))),
        raw_record(1'700'000'000'500'000, 1, Bytes(10, 0), Bytes(8, 0)),
        tagged_frame(1'700'000'001'250'000, {}, 0x0800,
                     records::ipv4_packet({ 10, 0, 0, 1 }, { 10, 0, 0, 2 }, 17, someip_udp({ 0x0042, 0x0043 }))),
        tagged_frame(1'700'000'002'000'001, { 200, 300 }, 0x86DD,
                     records::ipv6_packet(a, b, 17, someip_udp({ 0x0777 }))),
        tagged_frame(1'700'000'003'999'999, { 5 }, 0x0800,
                     records::ipv4_packet({ 10, 0, 0, 3 }, { 10, 0, 0, 4 }, 6, records::tcp_segment(1234, 80, {}))),
    });
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

/// The pcap file as tshark reads it: one line per frame with time, VLAN id
/// (inner tag of a double-tagged frame), outer 802.1ad id and SOME/IP services.
std::vector<std::string> tshark_fields(const std::string& pcap, const TempDir& dir)
{
    const RunResult result =
        run({ "tshark", "-r", pcap, "-d", "udp.port==30490,someip", "-T", "fields", "-E", "separator=|", "-e",
              "frame.time_epoch", "-e", "vlan.id", "-e", "ieee8021ad.id", "-e", "someip.serviceid" },
            dir);
    // CI installs tshark: its absence is a failure, not a reason to skip.
    EXPECT_TRUE(result.start_error.empty()) << result.start_error;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return lines(lower(result.out));
}

TEST(TsharkReadsOurPcap, WithTimesVlanIdsAndSomeIpServices)
{
    TempDir dir;
    write_file(dir.file("in.rec"), recording());
    const RunResult convert = run({ kTool, "pcap", dir.file("in.rec"), "-o", dir.file("out.pcap") }, dir);
    ASSERT_EQ(convert.exit_code, 0) << convert.start_error << convert.err;
    EXPECT_NE(convert.err.find("4 Ethernet frames written, 1 records of other types left out"), std::string::npos)
        << convert.err;

    EXPECT_EQ(tshark_fields(dir.file("out.pcap"), dir),
              (std::vector<std::string>{ "1700000000.000100000|100||0x1234", "1700000001.250000000|||0x0042,0x0043",
                                         "1700000002.000001000|300|200|0x0777", "1700000003.999999000|5||" }));
}

TEST(TsharkReadsOurPcap, WithoutTagsWhenVlansAreRemoved)
{
    TempDir dir;
    write_file(dir.file("in.rec"), recording());
    const RunResult convert =
        run({ kTool, "pcap", dir.file("in.rec"), "-o", dir.file("out.pcap"), "--remove-vlan" }, dir);
    ASSERT_EQ(convert.exit_code, 0) << convert.start_error << convert.err;

    EXPECT_EQ(tshark_fields(dir.file("out.pcap"), dir),
              (std::vector<std::string>{ "1700000000.000100000|||0x1234", "1700000001.250000000|||0x0042,0x0043",
                                         "1700000002.000001000|||0x0777", "1700000003.999999000|||" }));
}

TEST(TsharkReadsOurPcap, UpToATruncatedRecord)
{
    TempDir dir;
    Bytes file = recording();
    file.erase(file.end() - 10, file.end());
    write_file(dir.file("cut.rec"), file);
    const RunResult convert = run({ kTool, "pcap", dir.file("cut.rec"), "-o", dir.file("out.pcap") }, dir);
    EXPECT_EQ(convert.exit_code, 1);
    EXPECT_NE(convert.err.find("truncated Ethernet record"), std::string::npos) << convert.err;
    EXPECT_EQ(tshark_fields(dir.file("out.pcap"), dir).size(), 3u);
}

TEST(TsharkReadsOurPcap, WithoutFramesFromBefore1970)
{
    // pcap seconds have no sign: such a frame would show up in 2106.
    TempDir dir;
    const Bytes early = tagged_frame(-1'500'000, {}, 0x0800,
                                     records::ipv4_packet({ 10, 0, 0, 1 }, { 10, 0, 0, 2 }, 17, someip_udp({ 1 })));
    write_file(dir.file("in.rec"), cat({ early, recording() }));
    const RunResult convert = run({ kTool, "pcap", dir.file("in.rec"), "-o", dir.file("out.pcap") }, dir);
    EXPECT_EQ(convert.exit_code, 1);
    EXPECT_NE(convert.err.find("offset 0: frame left out: time -1.500000 is before 1970"), std::string::npos)
        << convert.err;
    EXPECT_EQ(tshark_fields(dir.file("out.pcap"), dir).size(), 4u);
}

TEST(TsharkReadsOurPcap, GeneratedUdpOverIpv6WithValidChecksums)
{
    // IPv6 forbids a UDP checksum of 0; tshark calls it illegal.
    TempDir dir;
    ASSERT_EQ(run({ kTool, "gen", dir.file("in.rec"), "-n", "2000", "--seed", "7" }, dir).exit_code, 0);
    ASSERT_EQ(run({ kTool, "pcap", dir.file("in.rec"), "-o", dir.file("out.pcap") }, dir).exit_code, 0);
    const RunResult result = run({ "tshark", "-r", dir.file("out.pcap"), "-o", "udp.check_checksum:TRUE", "-Y",
                                   "ipv6 && udp", "-T", "fields", "-e", "udp.checksum.status" },
                                 dir);
    ASSERT_EQ(result.exit_code, 0) << result.start_error << result.err;
    const auto statuses = lines(result.out);
    ASSERT_GT(statuses.size(), 10u);
    // 1: the checksum was verified and is right.
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "1"), static_cast<ptrdiff_t>(statuses.size())) << result.out;
}

} // namespace
} // namespace qir::data_types
