// Ethernet frames as pcap records.

#include "FrameBuilder.h"
#include "TestBytes.h"

#include "data_types/DataContainer.h"

#include <gtest/gtest.h>

namespace qir::data_types {
namespace {

using test::Bytes;
using test::cat;
using test::hex;

EthernetContainer wireFrame(uint16_t ether_type, const Bytes& payload, int64_t time = 0)
{
    BaseHeader base{ time, ChannelType::Ethernet, 0, static_cast<uint32_t>(payload.size()) };
    EthernetHeader header{};
    header.src_mac = { 0x5a, 0x5a, 0x5a, 0x5a, 0x5a, 0x01 };
    header.dst_mac = { 0xd0, 0xd0, 0xd0, 0xd0, 0xd0, 0x02 };
    header.ether_type = ether_type;
    return EthernetContainer(base, header, payload, true);
}

Bytes captured(const PCAPData& pcap)
{
    return Bytes(pcap.captured().begin(), pcap.captured().end());
}

const Bytes kTagged = hex("0064 0800 45000014");

TEST(PcapRecord, IsTheWireFrameDestinationFirst)
{
    const PCAPData pcap = wireFrame(0x8100, kTagged).to_pcap(false);
    EXPECT_EQ(captured(pcap), cat({ hex("d0d0d0d0d002 5a5a5a5a5a01 8100"), kTagged }));
    EXPECT_EQ(pcap.header.caplen, 14 + kTagged.size());
    EXPECT_EQ(pcap.header.len, 14 + kTagged.size());
    EXPECT_EQ(pcap.m_linkType, 1);
}

TEST(PcapRecord, WithoutVlanCarriesTheInnerEtherTypeAndWhatFollowsTheTags)
{
    const PCAPData one = wireFrame(0x8100, kTagged).to_pcap(true);
    EXPECT_EQ(captured(one), hex("d0d0d0d0d002 5a5a5a5a5a01 0800 45000014"));
    EXPECT_EQ(one.header.len, 18u);

    const PCAPData two = wireFrame(0x88A8, hex("00c8 8100 012c 86dd 6000")).to_pcap(true);
    EXPECT_EQ(captured(two), hex("d0d0d0d0d002 5a5a5a5a5a01 86dd 6000"));
}

struct TimeCase {
    int64_t time_us;
    int64_t seconds;
    int64_t micros;
};

class PcapTime : public ::testing::TestWithParam<TimeCase> { };

TEST_P(PcapTime, SplitsIntoWholeSecondsAndMicroseconds)
{
    const PCAPData pcap = wireFrame(0x0800, hex("45"), GetParam().time_us).to_pcap(false);
    EXPECT_EQ(pcap.header.ts.tv_sec, GetParam().seconds);
    EXPECT_EQ(pcap.header.ts.tv_usec, GetParam().micros);
}

INSTANTIATE_TEST_SUITE_P(Times, PcapTime,
                         ::testing::Values(TimeCase{ 0, 0, 0 },
                                           TimeCase{ 1'700'000'000'123'456, 1'700'000'000, 123'456 },
                                           TimeCase{ 999'999, 0, 999'999 },
                                           TimeCase{ 2'147'483'647'999'999, 2'147'483'647, 999'999 },
                                           // before 1970: microseconds stay 0..999999
                                           TimeCase{ -1, -1, 999'999 }, TimeCase{ -1'500'000, -2, 500'000 },
                                           TimeCase{ -2'147'483'648'000'000, -2'147'483'648, 0 }));

TEST(PcapTime, OutsideSignedThirtyTwoBitSecondsIsRefused)
{
    for (int64_t time : { int64_t{ 2'147'483'648'000'000 }, int64_t{ -2'147'483'648'000'001 }, INT64_MAX, INT64_MIN }) {
        try {
            wireFrame(0x0800, hex("45"), time).to_pcap(false);
            ADD_FAILURE() << time;
        } catch (const ContainerError& error) {
            EXPECT_STREQ(error.what(), kErrorPcapTime);
        }
    }
}

TEST(PcapRecord, FrameLongerThanTheDataAreaIsCutAndKeepsItsLength)
{
    Bytes payload(70'000);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i);
    const auto pcap = std::make_unique<PCAPData>();
    wireFrame(0x0800, payload).to_pcap(*pcap, false);
    EXPECT_EQ(pcap->header.caplen, kPcapDataSize);
    EXPECT_EQ(pcap->header.len, 14u + 70'000u);
    EXPECT_EQ(pcap->data[kPcapDataSize - 1], static_cast<uint8_t>(kPcapDataSize - 1 - 14));
}

} // namespace
} // namespace qir::data_types
