// Looking into Ethernet frames: VLAN tags, IPv4 and IPv6, the authentication
// header, UDP and TCP ports, and the refusal of frames cut short.

#include "FrameBuilder.h"
#include "TestBytes.h"

#include "data_types/DataContainer.h"

#include <gtest/gtest.h>

#include <functional>

namespace qir::data_types {
namespace {

using records::auth_header;
using records::ipv4_packet;
using records::ipv6_packet;
using records::tcp_segment;
using records::udp_datagram;
using records::vlan_tagged;
using test::Bytes;
using test::cat;
using test::hex;

EthernetContainer frame(uint16_t ether_type, const Bytes& payload, bool copy = true, int64_t time = 1000)
{
    BaseHeader base{};
    base.timestamp = time;
    base.type = ChannelType::Ethernet;
    base.payload_length = static_cast<uint32_t>(payload.size());
    EthernetHeader header{};
    header.src_mac = { 0x02, 0, 0, 0, 0, 0x0a };
    header.dst_mac = { 0x02, 0, 0, 0, 0, 0x0b };
    header.ether_type = ether_type;
    return EthernetContainer(base, header, payload, copy);
}

const Bytes kUdp = udp_datagram(40000, 30490, hex("0102030405"));
const Bytes kIpv4Udp = ipv4_packet({ 198, 51, 100, 1 }, { 198, 51, 100, 2 }, 17, kUdp);

// VLAN tags ---------------------------------------------------------------------------

struct VlanCase {
    const char* name;
    uint16_t ether_type;
    Bytes payload;
    uint16_t effective_type;
    size_t inner_offset;
};

class VlanTags : public ::testing::TestWithParam<VlanCase> { };

TEST_P(VlanTags, AreSkippedOnlyWhenAsked)
{
    const VlanCase& c = GetParam();
    const EthernetContainer eth = frame(c.ether_type, c.payload, false);
    EXPECT_EQ(eth.get_ethertype(false), c.ether_type);
    EXPECT_EQ(eth.get_ethertype(true), c.effective_type);
    EXPECT_EQ(eth.get_ethernet_payload(false).data(), eth.get_payload().data());
    EXPECT_EQ(eth.get_ethernet_payload_length(false), c.payload.size());
    EXPECT_EQ(eth.get_ethernet_payload(true).data(), eth.get_payload().data() + c.inner_offset);
    EXPECT_EQ(eth.get_ethernet_payload_length(true), c.payload.size() - c.inner_offset);
}

TEST_P(VlanTags, PutTheIpHeaderBehindThem)
{
    const VlanCase& c = GetParam();
    const EthernetContainer eth = frame(c.ether_type, c.payload, false);
    EXPECT_EQ(eth.get_version(), 4);
    EXPECT_EQ(eth.get_ihl(), 5);
    const uint8_t* ip = eth.get_payload().data() + c.inner_offset;
    EXPECT_EQ(eth.get_src_ipv4(), uint32_t(ip[12] | ip[13] << 8 | ip[14] << 16 | uint32_t(ip[15]) << 24));
    EXPECT_EQ(eth.get_ip_payload_start(false), ip + 20);
    EXPECT_EQ(eth.get_dst_port(), 30490);
}

INSTANTIATE_TEST_SUITE_P(Frames, VlanTags,
                         ::testing::Values(VlanCase{ "Untagged", 0x0800, kIpv4Udp, 0x0800, 0 },
                                           // TCI 100, inner ether type 0x0800
                                           VlanCase{ "OneTag", 0x8100, cat({ hex("0064 0800"), kIpv4Udp }), 0x0800, 4 },
                                           // outer TCI 200, 0x8100, inner TCI 300, inner ether type 0x0800
                                           VlanCase{ "TwoTags", 0x88A8, cat({ hex("00c8 8100 012c 0800"), kIpv4Udp }),
                                                     0x0800, 8 }),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(VlanTags, VlanIdIsTheLowTwelveBitsOfTheOuterTag)
{
    EXPECT_EQ(frame(0x8100, cat({ hex("e064 0800"), kIpv4Udp })).get_vlan_id(), 100);
    EXPECT_EQ(frame(0x88A8, vlan_tagged(std::vector<uint16_t>{ 200, 300 }, 0x0800, kIpv4Udp)).get_vlan_id(), 200);
}

struct ShortTagCase {
    const char* name;
    uint16_t ether_type;
    size_t payload_size;
};

class CutShortVlanTags : public ::testing::TestWithParam<ShortTagCase> { };

TEST_P(CutShortVlanTags, AreRefusedWhenLookedBehind)
{
    const Bytes payload(GetParam().payload_size, 0x08);
    const EthernetContainer eth = frame(GetParam().ether_type, payload, false);
    EXPECT_EQ(eth.get_ethertype(false), GetParam().ether_type);
    EXPECT_EQ(eth.get_ethernet_payload_length(false), GetParam().payload_size);
    for (const std::function<void()>& call : std::initializer_list<std::function<void()>>{
             [&] { eth.get_ethertype(true); }, [&] { eth.get_ethernet_payload(true); }, [&] { eth.get_version(); },
             [&] { eth.get_protocol(false); }, [&] { eth.to_pcap(true); } }) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const ContainerError& error) {
            EXPECT_STREQ(error.what(), kErrorTruncatedVlanTag);
        }
    }
    // Without removing tags the frame still converts.
    EXPECT_EQ(eth.to_pcap(false).header.len, 14 + GetParam().payload_size);
}

INSTANTIATE_TEST_SUITE_P(Frames, CutShortVlanTags,
                         ::testing::Values(ShortTagCase{ "OneTagEmpty", 0x8100, 0 },
                                           ShortTagCase{ "OneTagThreeBytes", 0x8100, 3 },
                                           ShortTagCase{ "TwoTagsSevenBytes", 0x88A8, 7 }),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

// IPv4, IPv6 ---------------------------------------------------------------------------

TEST(Ipv4, AddressesAreReadAndWrittenAsStored)
{
    EthernetContainer eth = frame(0x0800, kIpv4Udp);
    EXPECT_EQ(eth.get_src_ipv4(), 0x016433C6u); // 198.51.100.1 in memory order
    EXPECT_EQ(eth.get_dst_ipv4(), 0x026433C6u);
    eth.set_src_ipv4(0x047100CB); // 203.0.113.4
    eth.set_dst_ipv4(0x057100CB);
    const Bytes record = eth.to_record();
    EXPECT_EQ(Bytes(record.begin() + 35 + 12, record.begin() + 35 + 20), hex("cb007104 cb007105"));
}

TEST(Ipv4, PayloadLengthIsWhatFollowsTheHeaderInTheFrame)
{
    // Ethernet pads short frames; IPv4's payload length counts the padding.
    const Bytes padded = cat({ kIpv4Udp, Bytes(6, 0) });
    const EthernetContainer eth = frame(0x0800, padded);
    EXPECT_EQ(eth.get_ip_payload_length(false), padded.size() - 20);
}

TEST(Ipv6, AddressesPayloadAndPortsAreFound)
{
    const records::Ipv6Address src{ 0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 };
    const records::Ipv6Address dst{ 0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2 };
    EthernetContainer eth = frame(0x86DD, ipv6_packet(src, dst, 17, kUdp));
    EXPECT_EQ(eth.get_version(), 6);
    EXPECT_EQ(eth.get_src_ipv6(), src);
    EXPECT_EQ(eth.get_dst_ipv6(), dst);
    EXPECT_EQ(eth.get_protocol(false), 17);
    EXPECT_EQ(eth.get_ip_payload_length(false), kUdp.size());
    EXPECT_EQ(eth.get_ip_payload_start(false), eth.get_payload().data() + 40);
    EXPECT_EQ(eth.get_src_port(), 40000);
    EXPECT_EQ(eth.get_udp_length(), kUdp.size());

    records::Ipv6Address other = src;
    other[15] = 9;
    eth.set_src_ipv6(other);
    eth.set_dst_ipv6(other);
    EXPECT_EQ(eth.get_src_ipv6(), other);
    EXPECT_EQ(eth.get_dst_ipv6(), other);
}

// Authentication header ---------------------------------------------------------------------

TEST(AuthenticationHeader, IsSkippedWhenAskedAndPortsAreReadBehindIt)
{
    // AH with 3 words of check value: 4 * 4 + 8 = 24 bytes
    const Bytes packet = ipv4_packet({ 198, 51, 100, 1 }, { 198, 51, 100, 2 }, 51, auth_header(17, 3, kUdp));
    const EthernetContainer eth = frame(0x0800, packet);
    EXPECT_EQ(eth.get_protocol(false), 51);
    EXPECT_EQ(eth.get_protocol(true), 17);
    EXPECT_EQ(eth.get_ip_payload_start(true) - eth.get_ip_payload_start(false), 24);
    EXPECT_EQ(eth.get_ip_payload_length(false) - eth.get_ip_payload_length(true), 24u);
    EXPECT_EQ(eth.get_src_port(), 40000);
    EXPECT_EQ(eth.get_dst_port(), 30490);
    EXPECT_EQ(eth.get_udp_length(), kUdp.size());
    EXPECT_EQ(Bytes(eth.get_udp_payload().begin(), eth.get_udp_payload().end()), hex("0102030405"));
}

TEST(AuthenticationHeader, OnIpv6IsSkippedToo)
{
    const records::Ipv6Address a{};
    const EthernetContainer eth = frame(0x86DD, ipv6_packet(a, a, 51, auth_header(6, 1, tcp_segment(1, 2, {}))));
    EXPECT_EQ(eth.get_protocol(true), 6);
    EXPECT_EQ(eth.get_ip_payload_start(true) - eth.get_ip_payload_start(false), 16);
    EXPECT_EQ(eth.get_dst_port(), 2);
}

// Ports ---------------------------------------------------------------------------------------

TEST(Ports, OfTcpAreReadAndWrittenBigEndian)
{
    EthernetContainer eth = frame(0x0800, ipv4_packet({ 1, 1, 1, 1 }, { 2, 2, 2, 2 }, 6, tcp_segment(5555, 80, {})));
    EXPECT_EQ(eth.get_src_port(), 5555);
    EXPECT_EQ(eth.get_dst_port(), 80);
    eth.set_src_port(0x1234);
    eth.set_dst_port(0xABCD);
    const Bytes record = eth.to_record();
    EXPECT_EQ(Bytes(record.begin() + 35 + 20, record.begin() + 35 + 24), hex("1234 abcd"));
}

TEST(Setters, OnABorrowedPayloadLeaveTheCallersBytesAlone)
{
    const Bytes original = kIpv4Udp;
    Bytes caller = original;
    EthernetContainer eth = frame(0x0800, caller, false);
    eth.set_dst_port(1);
    eth.set_src_ipv4(0);
    EXPECT_EQ(caller, original);
    EXPECT_TRUE(eth.is_copied());
    EXPECT_EQ(eth.get_dst_port(), 1);
    EXPECT_EQ(eth.get_src_ipv4(), 0u);
}

// Wrong content: the fixed texts ----------------------------------------------------------------

struct ErrorCase {
    const char* name;
    uint16_t ether_type;
    Bytes payload;
    std::function<void(const EthernetContainer&)> call;
    const char* text;
};

class InspectionError : public ::testing::TestWithParam<ErrorCase> { };

TEST_P(InspectionError, RaisesItsText)
{
    const ErrorCase& c = GetParam();
    const EthernetContainer eth = frame(c.ether_type, c.payload);
    try {
        c.call(eth);
        FAIL() << "no error raised";
    } catch (const ContainerError& error) {
        EXPECT_STREQ(error.what(), c.text);
        EXPECT_FALSE(error.detail().empty());
    }
}

const Bytes kNotIp(60, 0x11);
const Bytes kIcmp = ipv4_packet({ 1, 1, 1, 1 }, { 2, 2, 2, 2 }, 1, Bytes(8, 0));
const Bytes kTcp = ipv4_packet({ 1, 1, 1, 1 }, { 2, 2, 2, 2 }, 6, tcp_segment(1, 2, {}));
const Bytes kIpv6Udp = ipv6_packet({}, {}, 17, kUdp);

Bytes with_byte(Bytes bytes, size_t index, uint8_t value)
{
    bytes.at(index) = value;
    return bytes;
}

Bytes first(const Bytes& bytes, size_t count)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(count));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, InspectionError,
    ::testing::Values(
        ErrorCase{ "VersionOfNonIp", 0x88B5, kNotIp, [](auto& e) { e.get_version(); }, kErrorNotIpFrame },
        ErrorCase{ "ProtocolOfNonIp", 0x88B5, kNotIp, [](auto& e) { e.get_protocol(false); }, kErrorNotIpFrame },
        ErrorCase{ "IhlOfIpv6", 0x86DD, kIpv6Udp, [](auto& e) { e.get_ihl(); }, kErrorNotIpv4Frame },
        ErrorCase{ "Ipv4AddressOfIpv6", 0x86DD, kIpv6Udp, [](auto& e) { e.get_src_ipv4(); }, kErrorNotIpv4Frame },
        ErrorCase{ "Ipv6AddressOfIpv4", 0x0800, kIpv4Udp, [](auto& e) { e.get_dst_ipv6(); }, kErrorNotIpv6Frame },
        ErrorCase{ "PayloadStartOfNonIp", 0x88B5, kNotIp, [](auto& e) { e.get_ip_payload_start(false); },
                   kErrorNotIpPacket },
        ErrorCase{ "PayloadLengthOfNonIp", 0x88B5, kNotIp, [](auto& e) { e.get_ip_payload_length(true); },
                   kErrorNotIpPacket },
        ErrorCase{ "PortOfNonIp", 0x88B5, kNotIp, [](auto& e) { e.get_src_port(); }, kErrorNotIpFrame },
        ErrorCase{ "PortOfIcmp", 0x0800, kIcmp, [](auto& e) { e.get_src_port(); }, kErrorNotUdpOrTcp },
        ErrorCase{ "UdpLengthOfIcmp", 0x0800, kIcmp, [](auto& e) { e.get_udp_length(); }, kErrorNotUdp },
        ErrorCase{ "UdpPayloadOfTcp", 0x0800, kTcp, [](auto& e) { e.get_udp_payload(); }, kErrorNotUdp },
        ErrorCase{ "SomeIpOfTcp", 0x0800, kTcp, [](auto& e) { e.get_someip_messages(); }, kErrorNotUdp },
        // Cut short or inconsistent: nothing is read outside the frame.
        ErrorCase{ "VersionOfEmptyIp", 0x0800, {}, [](auto& e) { e.get_version(); }, kErrorTruncatedIpHeader },
        ErrorCase{ "Ipv4HeaderOfTenBytes", 0x0800, first(kIpv4Udp, 10), [](auto& e) { e.get_src_ipv4(); },
                   kErrorTruncatedIpHeader },
        ErrorCase{ "IhlBeyondTheFrame", 0x0800, with_byte(first(kIpv4Udp, 20), 0, 0x46),
                   [](auto& e) { e.get_protocol(false); }, kErrorTruncatedIpHeader },
        ErrorCase{ "IhlBelowFive", 0x0800, with_byte(kIpv4Udp, 0, 0x42), [](auto& e) { e.get_src_port(); },
                   kErrorTruncatedIpHeader },
        ErrorCase{ "Ipv6HeaderOfThirtyBytes", 0x86DD, first(kIpv6Udp, 30), [](auto& e) { e.get_protocol(true); },
                   kErrorTruncatedIpHeader },
        ErrorCase{ "Ipv6PayloadLengthBeyondTheFrame", 0x86DD, first(kIpv6Udp, kIpv6Udp.size() - 1),
                   [](auto& e) { e.get_ip_payload_length(false); }, kErrorTruncatedIpPacket },
        ErrorCase{ "AuthenticationHeaderBeyondThePacket", 0x0800,
                   ipv4_packet({}, {}, 51, first(auth_header(17, 8, {}), 20)), [](auto& e) { e.get_protocol(true); },
                   kErrorTruncatedAuthHeader },
        ErrorCase{ "AuthenticationHeaderOfOneByte", 0x0800, ipv4_packet({}, {}, 51, hex("11")),
                   [](auto& e) { e.get_ip_payload_start(true); }, kErrorTruncatedAuthHeader },
        ErrorCase{ "PortsOfThreeBytes", 0x0800, ipv4_packet({}, {}, 6, hex("000102")),
                   [](auto& e) { e.get_dst_port(); }, kErrorTruncatedTransport },
        ErrorCase{ "UdpHeaderOfSevenBytes", 0x0800, ipv4_packet({}, {}, 17, first(kUdp, 7)),
                   [](auto& e) { e.get_udp_length(); }, kErrorTruncatedTransport },
        ErrorCase{ "UdpLengthBelowItsHeader", 0x0800, ipv4_packet({}, {}, 17, with_byte(kUdp, 5, 4)),
                   [](auto& e) { e.get_udp_payload(); }, kErrorTruncatedUdp },
        ErrorCase{ "UdpLengthBeyondTheFrame", 0x0800, ipv4_packet({}, {}, 17, with_byte(kUdp, 5, 200)),
                   [](auto& e) { e.get_someip_messages(); }, kErrorTruncatedUdp }),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(InspectionError, FullTextJoinsTheFixedTextAndTheDetail)
{
    const EthernetContainer eth = frame(0x88B5, kNotIp);
    try {
        eth.get_version();
        FAIL();
    } catch (const ContainerError& error) {
        EXPECT_EQ(error.full_text(), std::string(kErrorNotIpFrame) + " (ether type 0x88B5)");
    }
}

TEST(MacAddresses, PackSixBytesFirstByteLowest)
{
    const EthernetContainer eth = frame(0x0800, kIpv4Udp);
    EXPECT_EQ(eth.get_src_mac(), 0x0A0000000002ull);
    EXPECT_EQ(eth.get_dst_mac(), 0x0B0000000002ull);
}

} // namespace
} // namespace qir::data_types
