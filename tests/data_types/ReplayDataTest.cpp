// The replay-data form: frame descriptor (CAN, FlexRay, Ethernet, LIN) then
// the payload.

#include "TestBytes.h"

#include "data_types/DataContainer.h"

#include <gtest/gtest.h>

namespace qir::data_types {
namespace {

using test::Bytes;
using test::cat;
using test::hex;
using test::raw_record;

BaseHeader base_of(ChannelType type, size_t payload_size)
{
    BaseHeader base{};
    base.timestamp = 77;
    base.type = type;
    base.payload_length = static_cast<uint32_t>(payload_size);
    return base;
}

struct CanFlagsCase {
    uint8_t ide, brs, edl;
    uint8_t flags;
};

class CanReplayFlags : public ::testing::TestWithParam<CanFlagsCase> { };

TEST_P(CanReplayFlags, AreIdeBrsEdlInBitsZeroToTwo)
{
    const Bytes payload = hex("0102");
    CANHeader header{};
    header.id = 0x18DAF110;
    header.ide = GetParam().ide;
    header.brs = GetParam().brs;
    header.edl = GetParam().edl;
    const CANContainer can(base_of(ChannelType::CAN, payload.size()), header, payload, false);
    EXPECT_EQ(can.get_can_frame().flags, GetParam().flags);
    EXPECT_EQ(can.to_replay_data(), cat({ hex("10f1da18"), Bytes{ GetParam().flags }, payload }));
    EXPECT_EQ(can.get_replay_data_length(), 5u + payload.size());
}

INSTANTIATE_TEST_SUITE_P(Flags, CanReplayFlags,
                         ::testing::Values(CanFlagsCase{ 0, 0, 0, 0x00 }, CanFlagsCase{ 1, 0, 0, 0x01 },
                                           CanFlagsCase{ 0, 1, 0, 0x02 }, CanFlagsCase{ 0, 0, 1, 0x04 },
                                           CanFlagsCase{ 1, 0, 1, 0x05 }, CanFlagsCase{ 1, 1, 1, 0x07 },
                                           // any non-zero boolean byte counts as set
                                           CanFlagsCase{ 2, 0xFF, 0, 0x03 }));

TEST(FlexrayReplay, PutsTheFiveFlagsInBitsZeroToFourThenCycleAndChannel)
{
    const Bytes payload = hex("a0a1a2a3");
    FlexrayHeader header{};
    header.reserved_bit_flag = 1;
    header.payload_preamble_flag = 0;
    header.null_frame_flag = 1;
    header.sync_frame_flag = 0;
    header.startup_frame_flag = 1;
    header.id = 0x0123;
    header.cycle = 63;
    header.flx_channel = 2;
    const FlexrayContainer flexray(base_of(ChannelType::FlexRay, payload.size()), header, payload, false);
    EXPECT_EQ(flexray.to_replay_data(), cat({ hex("2301 15 3f 02"), payload }));

    header.reserved_bit_flag = header.null_frame_flag = header.startup_frame_flag = 0;
    header.payload_preamble_flag = header.sync_frame_flag = 1;
    const FlexrayContainer other(base_of(ChannelType::FlexRay, payload.size()), header, payload, false);
    EXPECT_EQ(other.get_flx_frame().flags, 0x0A);
}

TEST(EthernetReplay, WritesSourceThenDestinationThenBigEndianEtherType)
{
    const Bytes payload = hex("4500 0014");
    EthernetHeader header{};
    header.src_mac = { 1, 2, 3, 4, 5, 6 };
    header.dst_mac = { 0xa, 0xb, 0xc, 0xd, 0xe, 0xf };
    header.ether_type = 0x0800;
    const EthernetContainer eth(base_of(ChannelType::Ethernet, payload.size()), header, payload, false);
    EXPECT_EQ(eth.to_replay_data(), cat({ hex("010203040506 0a0b0c0d0e0f 0800"), payload }));
    Bytes frame(14);
    eth.copy_eth_frame_to(frame);
    EXPECT_EQ(frame, hex("010203040506 0a0b0c0d0e0f 0800"));
}

TEST(LinReplay, WritesTheIdByteThenThePayload)
{
    const Bytes payload = hex("0102030405060708");
    const LINContainer lin(base_of(ChannelType::LIN, payload.size()), LINHeader{ 0x3C, 8, 0x99 }, payload, false);
    EXPECT_EQ(lin.to_replay_data(), cat({ hex("3c"), payload }));
}

class PayloadOnlyReplay : public ::testing::TestWithParam<uint8_t> { };

TEST_P(PayloadOnlyReplay, IsThePayloadAlone)
{
    const size_t header_size = *type_header_size(static_cast<ChannelType>(GetParam()));
    const Bytes record = raw_record(9, GetParam(), Bytes(header_size, 0x33), hex("deadbeef"));
    const auto container = BaseContainer::read_data_from(record, false);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(container->to_replay_data(), hex("deadbeef"));
}

// None, Video, PLPRaw, Lidar, SOMEIP
INSTANTIATE_TEST_SUITE_P(Types, PayloadOnlyReplay, ::testing::Values(0, 4, 5, 6, 8));

TEST(ReplayData, DestinationTooShortIsRefused)
{
    const Bytes payload = hex("0102");
    const CANContainer can(base_of(ChannelType::CAN, payload.size()), CANHeader{}, payload, false);
    Bytes out(6);
    EXPECT_THROW(can.copy_replay_data_to(out), std::length_error);
    Bytes small(4);
    EXPECT_THROW(can.copy_can_frame_to(small), std::length_error);
}

} // namespace
} // namespace qir::data_types
