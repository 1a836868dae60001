// SOME/IP messages in UDP payloads, and SOME/IP records made from them.

#include "FrameBuilder.h"
#include "TestBytes.h"

#include "data_types/DataContainer.h"

#include <gtest/gtest.h>

namespace qir::data_types {
namespace {

using records::someip_message;
using records::SomeIpMessageSpec;
using test::Bytes;
using test::cat;
using test::hex;

// service 0x1234, method 0x8001 (event), length 12, client 0x0010,
// session 0x0020, protocol 1, interface 2, type 0x02, rc 0x00, payload 4 bytes
const Bytes kEvent = hex("1234 8001 0000000c 0010 0020 01 02 02 00 aabbccdd");

TEST(SomeIpParser, FindsNoMessageInFewerThanSixteenBytes)
{
    for (size_t size = 0; size < 16; ++size) {
        const Bytes bytes(kEvent.begin(), kEvent.begin() + static_cast<ptrdiff_t>(size));
        EXPECT_TRUE(SOMEIPMessage::read_someip_messages(bytes, 0).empty()) << size;
    }
}

TEST(SomeIpParser, ReadsTheBigEndianHeaderPayloadAndTime)
{
    const std::vector<SOMEIPMessage> messages = SOMEIPMessage::read_someip_messages(kEvent, -42);
    ASSERT_EQ(messages.size(), 1u);
    const SOMEIPHeader& h = messages[0].header;
    EXPECT_EQ(h.service_id, 0x1234);
    EXPECT_EQ(h.method_id, 0x8001);
    EXPECT_TRUE(h.is_event);
    EXPECT_EQ(h.length, 12u);
    EXPECT_EQ(h.client_id, 0x0010);
    EXPECT_EQ(h.session_id, 0x0020);
    EXPECT_EQ(h.protocol_version, 1);
    EXPECT_EQ(h.interface_version, 2);
    EXPECT_EQ(h.message_type, 0x02);
    EXPECT_EQ(h.offset_field, 0u);
    EXPECT_EQ(h.resm, 0);
    EXPECT_EQ(messages[0].payload, hex("aabbccdd"));
    EXPECT_EQ(messages[0].timestamp, -42);
}

TEST(SomeIpParser, ReadsMessagesBackToBackAndIgnoresATailBelowSixteenBytes)
{
    SomeIpMessageSpec second;
    second.service_id = 0x0042;
    second.method_id = 0x0001;
    second.payload = {};
    const Bytes buffer = cat({ kEvent, someip_message(second), Bytes(15, 0xFF) });
    const auto messages = SOMEIPMessage::read_someip_messages(buffer, 0);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].header.service_id, 0x1234);
    EXPECT_EQ(messages[1].header.service_id, 0x0042);
    EXPECT_FALSE(messages[1].header.is_event);
    EXPECT_TRUE(messages[1].payload.empty());
}

TEST(SomeIpParser, SplitsTheSegmentWordIntoOffsetAndResmAndTakesThePayloadBehindIt)
{
    // type 0x20 (request segment), length 8 + 4 + 3, word 0x00000571:
    // offset 0x57, resm 1
    const Bytes segment = hex("1234 0001 0000000f 0001 0002 01 01 20 00 00000571 010203");
    const auto messages = SOMEIPMessage::read_someip_messages(segment, 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].header.offset_field, 0x57u);
    EXPECT_EQ(messages[0].header.resm, 1);
    EXPECT_EQ(messages[0].payload, hex("010203"));
}

struct BadSomeIp {
    const char* name;
    Bytes buffer;
};

class RefusedSomeIp : public ::testing::TestWithParam<BadSomeIp> { };

TEST_P(RefusedSomeIp, RaisesTheSomeIpErrorWithoutReadingOutside)
{
    try {
        SOMEIPMessage::read_someip_messages(GetParam().buffer, 0);
        FAIL() << "no error raised";
    } catch (const ContainerError& error) {
        EXPECT_STREQ(error.what(), "Container does not valid SOME/IP data");
        EXPECT_NE(error.detail().find("offset"), std::string::npos) << error.detail();
    }
}

Bytes spec_bytes(auto change)
{
    SomeIpMessageSpec spec;
    spec.payload = hex("0102030405060708");
    change(spec);
    return someip_message(spec);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, RefusedSomeIp,
    ::testing::Values(BadSomeIp{ "ProtocolVersionTwo", spec_bytes([](auto& s) { s.protocol_version = 2; }) },
                      BadSomeIp{ "InterfaceVersionZero", spec_bytes([](auto& s) { s.interface_version = 0; }) },
                      BadSomeIp{ "InterfaceVersionThree", spec_bytes([](auto& s) { s.interface_version = 3; }) },
                      BadSomeIp{ "LengthPastTheBuffer", spec_bytes([](auto& s) { s.length_override = 17; }) },
                      BadSomeIp{ "LengthOfFourGigabytes", spec_bytes([](auto& s) { s.length_override = 0xFFFFFFFF; }) },
                      BadSomeIp{ "LengthBelowEight", spec_bytes([](auto& s) { s.length_override = 4; }) },
                      BadSomeIp{ "SegmentLengthBelowTwelve", spec_bytes([](auto& s) {
                                     s.segment_word = 0;
                                     s.length_override = 8;
                                 }) },
                      BadSomeIp{ "BadSecondMessage",
                                 cat({ kEvent, spec_bytes([](auto& s) { s.protocol_version = 0; }) }) }),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(SomeIpInEthernet, ParsesTheUdpPayloadWithTheFrameTime)
{
    const Bytes udp = records::udp_datagram(30490, 30490, cat({ kEvent, kEvent }));
    const Bytes payload = records::ipv4_packet({ 10, 0, 0, 1 }, { 10, 0, 0, 2 }, 17, udp);
    BaseHeader base{ 1'700'000'000'000'001, ChannelType::Ethernet, 0, static_cast<uint32_t>(payload.size()) };
    EthernetHeader header{};
    header.ether_type = 0x0800;
    const EthernetContainer eth(base, header, payload, false);
    const auto messages = eth.get_someip_messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].timestamp, 1'700'000'000'000'001);
    EXPECT_EQ(messages[1].payload, hex("aabbccdd"));
}

TEST(SomeIpContainer, FromAMessageTakesItsTimeHeaderAndACopyOfItsPayload)
{
    auto messages = SOMEIPMessage::read_someip_messages(kEvent, 555);
    const auto container = SOMEIPContainer::from_someip_message(messages[0]);
    messages.clear();
    EXPECT_TRUE(container->is_valid());
    EXPECT_EQ(container->get_timestamp(), 555);
    EXPECT_EQ(container->get_payload_length(), 4u);
    EXPECT_EQ(container->get_length(), 4u + 39u);
    EXPECT_EQ(container->get_type_header().service_id, 0x1234);
    EXPECT_EQ(container->get_type_header().session_id, 0x0020);
    EXPECT_EQ(Bytes(container->get_payload().begin(), container->get_payload().end()), hex("aabbccdd"));

    // ...and its record reads back as the same message.
    const Bytes record = container->to_record();
    const auto again = std::dynamic_pointer_cast<SOMEIPContainer>(BaseContainer::read_data_from(record, false));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->get_type_header().method_id, 0x8001);
    EXPECT_EQ(again->get_type_header().is_event, 1);
}

TEST(SomeIpContainer, FromMessagesKeepsTheirOrder)
{
    SomeIpMessageSpec other;
    other.service_id = 0x0777;
    const auto messages = SOMEIPMessage::read_someip_messages(cat({ kEvent, someip_message(other) }), 1);
    const auto containers = SOMEIPContainer::from_someip_messages(messages);
    ASSERT_EQ(containers.size(), 2u);
    EXPECT_EQ(containers[0]->get_type_header().service_id, 0x1234);
    EXPECT_EQ(containers[1]->get_type_header().service_id, 0x0777);
}

} // namespace
} // namespace qir::data_types
