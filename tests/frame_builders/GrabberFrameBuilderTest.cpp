// Grabber byte streams: record sizes and padding per pixel size, the grabber
// header, packets a receiver accepts (ECC, checksum), short packets, and the
// unit packets the unit client makes of a stream under its two options.
#include "Csi2PacketChecks.h"
#include "GrabberFrameBuilder.h"
#include "PackedField.h"
#include "unit_client/csi2/GrabberImageHeader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace vxqir::frames {
namespace {

using ::testing::HasSubstr;

MIPICSI2::Csi2Header headerAt(const GrabberFrame& frame, const GrabberRecord& record)
{
    return MIPICSI2::readCsi2Header(frame.bytes.data(), record.offset + MIPICSI2::CSI2_PREAMBLE_SIZE);
}

struct RecordCase {
    const char* name;
    uint8_t bpp;
    uint16_t wordCount;
    uint16_t padding;     ///< zero bytes after each long packet
    uint32_t recordBytes; ///< preamble, packet and padding
};

void PrintTo(const RecordCase& c, std::ostream* os)
{
    *os << c.name;
}

class GrabberRecords : public ::testing::TestWithParam<RecordCase> { };

TEST_P(GrabberRecords, AreLaidOutBackToBackWithPaddingToWholePixels)
{
    const RecordCase& c = GetParam();
    GrabberFrameSpec spec;
    spec.bpp = c.bpp;
    spec.wordCount = c.wordCount;
    spec.longPackets = 5;
    const GrabberFrame frame = buildGrabberFrame(spec, 3);

    ASSERT_EQ(frame.bytes.size(), MIPICSI2::GRABBER_HEADER_SIZE + 5 * c.recordBytes);
    ASSERT_EQ(frame.records.size(), 5u);
    for (size_t r = 0; r < frame.records.size(); ++r) {
        const GrabberRecord& record = frame.records[r];
        SCOPED_TRACE("record " + std::to_string(r));
        EXPECT_EQ(field(record.offset), MIPICSI2::GRABBER_HEADER_SIZE + r * c.recordBytes);
        EXPECT_EQ(field(record.padding), c.padding);
        EXPECT_EQ(MIPICSI2::readUint32Le(frame.bytes.data(), record.offset), MIPICSI2::CSI2_PREAMBLE);
        const size_t padStart = record.offset + 4 + record.packetLength;
        for (size_t i = 0; i < c.padding; ++i)
            EXPECT_EQ(frame.bytes[padStart + i], 0) << "padding byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(PixelSizes, GrabberRecords,
                         ::testing::Values(RecordCase{ "Bpp16NeedsNoPadding", 16, 3840, 0, 3850 },
                                           RecordCase{ "Bpp12OddLengthGetsOneByte", 12, 3841, 1, 3852 },
                                           RecordCase{ "Bpp12EvenPixelsNeedNoPadding", 12, 3842, 0, 3852 },
                                           RecordCase{ "Bpp64GetsSixBytes", 64, 3840, 6, 3856 },
                                           RecordCase{ "Bpp8NeverPads", 8, 3841, 0, 3851 }),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(GrabberFrame, HeaderCarriesRowsBppSizeAndCounters)
{
    GrabberFrameSpec spec;
    spec.bpp = 12;
    spec.wordCount = 2880;
    spec.longPackets = 10;
    spec.frameEnd = true;
    spec.camId = 5;
    spec.cardId = 2;
    const GrabberFrame frame = buildGrabberFrame(spec, 42, 0x1'2345'6789ull);
    const MIPICSI2::sxpf_image_header_s h = MIPICSI2::readGrabberHeader(frame.bytes.data());
    EXPECT_EQ(field(h.rows), 11);
    EXPECT_EQ(field(h.bpp), 12);
    EXPECT_EQ(field(h.frame_size), frame.bytes.size());
    EXPECT_EQ(field(h.payload_offset), 64);
    EXPECT_EQ(field(h.sample_size), 2);
    EXPECT_EQ(field(h.columns), 1920); // 2880 bytes of 12-bit pixels
    EXPECT_EQ(field(h.frame_counter), 42u);
    EXPECT_EQ(field(h.ts_start_lo), 0x23456789u);
    EXPECT_EQ(field(h.ts_start_hi), 1u);
    EXPECT_EQ(field(h.cam_id), 5u);
    EXPECT_EQ(field(h.card_id), 2u);
}

TEST(GrabberFrame, LongPacketsCarryAValidHeaderAndPayloadChecksum)
{
    GrabberFrameSpec spec;
    spec.wordCount = 100;
    spec.longPackets = 4;
    spec.dataType = 0x2C;
    spec.virtualChannel = 2;
    spec.pattern = BytePattern::Noise;
    const GrabberFrame frame = buildGrabberFrame(spec, 7);
    for (const GrabberRecord& record : frame.records) {
        const MIPICSI2::Csi2Header h = headerAt(frame, record);
        EXPECT_EQ(field(h.type), 0xAC);
        EXPECT_EQ(field(h.packet_length), 100);
        EXPECT_EQ(field(h.ecc), csi2HeaderEcc(h.type, h.packet_length));
        const uint8_t* payload = frame.bytes.data() + record.offset + 8;
        const uint16_t stored = static_cast<uint16_t>(payload[100] | (payload[101] << 8));
        EXPECT_EQ(stored, csi2PayloadChecksum({ payload, 100 }));
    }
}

TEST(GrabberFrame, ShortPacketsFrameTheLinesAndCarryTheFrameNumber)
{
    GrabberFrameSpec spec;
    spec.wordCount = 64;
    spec.longPackets = 3;
    spec.frameStart = true;
    spec.frameEnd = true;
    const GrabberFrame frame = buildGrabberFrame(spec, 9);
    ASSERT_EQ(frame.records.size(), 5u);
    EXPECT_EQ(MIPICSI2::readGrabberHeader(frame.bytes.data()).rows, 5);
    const GrabberRecord& start = frame.records.front();
    const GrabberRecord& end = frame.records.back();
    EXPECT_EQ(start.kind, Csi2RecordKind::Short);
    EXPECT_EQ(end.kind, Csi2RecordKind::Short);
    EXPECT_EQ(frame.records[2].offset - frame.records[1].offset, 4u + 70u);
    EXPECT_EQ(frame.records[1].offset - start.offset, 8u);
    EXPECT_EQ(end.offset + 8, frame.bytes.size());
    EXPECT_EQ(field(headerAt(frame, start).type), CSI2_FRAME_START);
    EXPECT_EQ(field(headerAt(frame, end).type), CSI2_FRAME_END);
    EXPECT_EQ(field(headerAt(frame, start).packet_length), 10); // frame number, counted from 1
    EXPECT_EQ(field(headerAt(frame, end).ecc), csi2HeaderEcc(CSI2_FRAME_END, 10));
    EXPECT_TRUE(MIPICSI2::isShortPacket(headerAt(frame, end).type));
}

TEST(GrabberFrame, ContentFollowsTheFrameIndexAndRebuildsIdentically)
{
    GrabberFrameSpec spec;
    spec.longPackets = 4;
    spec.wordCount = 32;
    EXPECT_EQ(buildGrabberFrame(spec, 1).bytes, buildGrabberFrame(spec, 1).bytes);
    EXPECT_NE(buildGrabberFrame(spec, 1).bytes, buildGrabberFrame(spec, 2).bytes);
}

TEST(GrabberSentPackets, WithoutPreambleAreThePacketsAlone)
{
    GrabberFrameSpec spec;
    spec.bpp = 16;
    spec.wordCount = 3840;
    spec.longPackets = 1082;
    const GrabberFrame frame = buildGrabberFrame(spec, 0);
    const Csi2SendOptions options{ .skipPreamble = true, .skipShortPackets = false };
    const std::vector<PacketBytes> packets = grabberSentPackets(frame.bytes, frame.records, options);
    ASSERT_EQ(packets.size(), 1082u);
    EXPECT_EQ(grabberDeclaredLines(spec, options), 1082);
    EXPECT_EQ(grabberPacketBytes(spec, options), 3846);
    for (PacketBytes packet : packets)
        ASSERT_EQ(packet.size(), 3846u);
    EXPECT_EQ(packets[0].data(), frame.bytes.data() + 68);
    EXPECT_EQ(packets[1].data(), frame.bytes.data() + 64 + 3850 + 4);
}

TEST(GrabberSentPackets, WithPreambleStartWithIt)
{
    GrabberFrameSpec spec;
    spec.bpp = 12;
    spec.wordCount = 3841;
    spec.longPackets = 3;
    const GrabberFrame frame = buildGrabberFrame(spec, 0);
    const Csi2SendOptions options{ .skipPreamble = false, .skipShortPackets = false };
    const std::vector<PacketBytes> packets = grabberSentPackets(frame.bytes, frame.records, options);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(grabberPacketBytes(spec, options), 3852);
    for (PacketBytes packet : packets) {
        ASSERT_EQ(packet.size(), 3852u);
        EXPECT_EQ(MIPICSI2::readUint32Le(packet.data(), 0), MIPICSI2::CSI2_PREAMBLE);
    }
}

TEST(GrabberSentPackets, SkippedShortPacketsLeaveOnlyTheLongOnesAsLines)
{
    GrabberFrameSpec spec;
    spec.wordCount = 64;
    spec.longPackets = 3;
    spec.frameStart = true;
    spec.frameEnd = true;
    const GrabberFrame frame = buildGrabberFrame(spec, 0);
    const Csi2SendOptions options{ .skipPreamble = true, .skipShortPackets = true };
    const std::vector<PacketBytes> packets = grabberSentPackets(frame.bytes, frame.records, options);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(grabberDeclaredLines(spec, options), 3);
    EXPECT_EQ(packets[0].data(), frame.bytes.data() + frame.records[1].offset + 4);

    // The checksum covers exactly those packets.
    FrameChecksum sum;
    for (PacketBytes packet : packets)
        sum.update(packet);
    EXPECT_EQ(grabberSentChecksum(frame, options), sum.value());
}

TEST(GrabberSentPackets, RefusesShortPacketsThatTheUnitClientWouldWalkAsLong)
{
    GrabberFrameSpec spec;
    spec.longPackets = 2;
    spec.wordCount = 16;
    spec.frameEnd = true;
    const GrabberFrame frame = buildGrabberFrame(spec, 0);
    EXPECT_THROW(grabberSentPackets(frame.bytes, frame.records, Csi2SendOptions{}), std::invalid_argument);
}

TEST(GrabberFrameSpec, RefusalsNameTheField)
{
    const auto why = [](auto change) {
        GrabberFrameSpec spec;
        change(spec);
        return checkGrabberFrameSpec(spec);
    };
    EXPECT_THAT(why([](GrabberFrameSpec& s) { s.bpp = 0; }), HasSubstr("bpp"));
    EXPECT_THAT(why([](GrabberFrameSpec& s) { s.dataType = 0x01; }), HasSubstr("dataType"));
    EXPECT_THAT(why([](GrabberFrameSpec& s) { s.longPackets = 0; }), HasSubstr("longPackets"));
    EXPECT_THAT(why([](GrabberFrameSpec& s) { s.wordCount = 65530; }), HasSubstr("wordCount"));
    EXPECT_THAT(why([](GrabberFrameSpec& s) { s.virtualChannel = 4; }), HasSubstr("virtualChannel"));
    EXPECT_EQ(why([](GrabberFrameSpec&) {}), "");

    GrabberFrameSpec bad;
    bad.bpp = 0;
    EXPECT_THROW(buildGrabberFrame(bad, 0), std::invalid_argument);
    std::vector<uint8_t> small(100);
    EXPECT_THROW(writeGrabberFrame(small, GrabberFrameSpec{}, 0, 0), std::length_error);
}

} // namespace
} // namespace vxqir::frames
