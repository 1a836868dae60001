// Chunk containers: chunk order and lengths, a container the bounded walk
// reads to its end, and the packets the unit client sends for it under the
// selection it learns from a run's first frame.
#include "ChunkFrameBuilder.h"
#include "PackedField.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace vxqir::frames {
namespace {

using MIPICSI2::SubType;
using MIPICSI2::Type;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

ChunkFrameSpec fullSpec()
{
    ChunkFrameSpec spec;
    spec.dataChunks = 6;
    spec.payloadBytes = 300;
    spec.embeddedChunks = 2;
    spec.embeddedBytes = 40;
    spec.metaData = true;
    return spec;
}

TEST(ChunkFrame, HoldsMetaDataFrameStartEmbeddedDataLinesAndFrameEndInOrder)
{
    const ChunkFrame frame = buildChunkFrame(fullSpec(), 4, 777);
    ASSERT_EQ(frame.chunks.size(), 1u + 1 + 2 + 6 + 1);
    EXPECT_EQ(frame.chunks[0].type, Type::MetaData);
    EXPECT_EQ(frame.chunks[0].length, 25);
    EXPECT_EQ(frame.chunks[1].subType, SubType::FrameStart);
    EXPECT_EQ(frame.chunks[1].length, 16);
    EXPECT_EQ(frame.chunks[2].subType, SubType::EmbeddedData);
    EXPECT_EQ(frame.chunks[2].length, 56);
    EXPECT_EQ(frame.chunks[4].subType, SubType::RAW12);
    EXPECT_EQ(frame.chunks[4].length, 316);
    EXPECT_EQ(frame.chunks.back().subType, SubType::FrameEnd);

    // Back to back from offset 0, lengths big-endian, the last one ending the container.
    size_t at = 0;
    for (const ChunkRecord& chunk : frame.chunks) {
        EXPECT_EQ(chunk.offset, at);
        EXPECT_EQ(MIPICSI2::read_uint16_t_be(frame.bytes.data() + at), chunk.length);
        at += chunk.length;
    }
    EXPECT_EQ(at, frame.bytes.size());
    EXPECT_EQ(frame.bytes.size(), chunkFrameSize(fullSpec()));
}

TEST(ChunkFrame, WalksToItsEndWithBusPayloadsOfTheGivenSize)
{
    const ChunkFrame frame = buildChunkFrame(fullSpec(), 0, 0x0102030405060708ull);
    MIPICSI2::DataChunkIterator walk(frame.bytes.data(), frame.bytes.size());
    MIPICSI2::DataChunkDescriptor chunk;
    size_t data = 0;
    while (walk.next(chunk)) {
        if (chunk.type == Type::MetaData)
            continue;
        MIPICSI2::BusDataHeader header;
        std::memcpy(&header, chunk.payload, sizeof header);
        EXPECT_EQ(field(header.timestamp), 0x0102030405060708ull);
        if (chunk.sub_type == SubType::RAW12) {
            EXPECT_EQ(chunk.busPayloadLength(), 300);
            ++data;
        }
    }
    EXPECT_EQ(walk.end(), MIPICSI2::WalkEnd::Complete);
    EXPECT_EQ(data, 6u);
}

TEST(ChunkFrame, MetaDataDescribesThePicture)
{
    ChunkFrameSpec spec = fullSpec();
    spec.width = 1280;
    spec.height = 6;
    const ChunkFrame frame = buildChunkFrame(spec, 99);
    MIPICSI2::MetaData meta;
    std::memcpy(&meta, frame.bytes.data() + 4, sizeof meta);
    EXPECT_EQ(field(meta.pixel_format), SubType::RAW12);
    EXPECT_EQ(field(meta.width), 1280);
    EXPECT_EQ(field(meta.height), 6);
    EXPECT_EQ(field(meta.frame_counter), 99u);
    EXPECT_EQ(std::string(meta.imager_type), "QIRTEST");

    const KOVAMipiCsi2Frame record = chunkFrameRecord(spec, 99, 1234);
    EXPECT_EQ(field(record.ts), 1234);
    EXPECT_EQ(field(record.pixelFormat), 0x2C);
    EXPECT_EQ(field(record.width), 1280);
    EXPECT_EQ(field(record.frameCounter), 99u);
    EXPECT_EQ(field(record.dataLength), 0u);
}

TEST(ChunkSelection, LearnsEachNewSubtypeWithItsTypeFromTheFirstFrame)
{
    const ChunkFrame first = buildChunkFrame(fullSpec(), 0);
    const ChunkSelection selection = ChunkSelection::fromFirstFrame(first.bytes);
    EXPECT_THAT(selection.subTypes, ElementsAre(SubType::EmbeddedData, SubType::RAW12));
    EXPECT_THAT(selection.types, ElementsAre(Type::UncompressedRAWDenslyPacked, Type::UncompressedRAWDenslyPacked));
    EXPECT_EQ(selection.dataChunks, 8);
    const std::vector<PacketBytes> packets = chunkSentPackets(first.bytes, selection);
    ASSERT_EQ(packets.size(), 8u);
    EXPECT_EQ(packets[0].size(), 40u);
    EXPECT_EQ(packets[2].size(), 300u);
    EXPECT_EQ(packets[2].data(), first.bytes.data() + first.chunks[4].offset + 14);
}

TEST(ChunkSelection, LeavesOutEmbeddedDataFirstSeenInALaterFrame)
{
    ChunkFrameSpec spec = fullSpec();
    spec.embeddedChunks = 0;
    const ChunkSelection selection = ChunkSelection::fromFirstFrame(buildChunkFrame(spec, 0).bytes);
    spec.embeddedChunks = 3;
    const ChunkFrame later = buildChunkFrame(spec, 1);
    const std::vector<PacketBytes> packets = chunkSentPackets(later.bytes, selection);
    ASSERT_EQ(packets.size(), 6u);
    for (PacketBytes packet : packets)
        EXPECT_EQ(packet.size(), 300u);
}

TEST(ChunkSelection, AnEmptyFirstFrameSelectsNothing)
{
    const ChunkSelection selection = ChunkSelection::fromFirstFrame({});
    EXPECT_EQ(selection.dataChunks, 0);
    EXPECT_TRUE(chunkSentPackets(buildChunkFrame(fullSpec(), 0).bytes, selection).empty());
}

TEST(ChunkSentPackets, StopAtAChunkThatRunsPastTheContainer)
{
    ChunkFrame frame = buildChunkFrame(fullSpec(), 0);
    const ChunkSelection selection = ChunkSelection::fromFirstFrame(frame.bytes);
    // The third data chunk claims more bytes than are left.
    MIPICSI2::write_uint16_t_be(frame.bytes.data() + frame.chunks[6].offset, 0xFFFF);
    EXPECT_EQ(chunkSentPackets(frame.bytes, selection).size(), 4u); // two embedded, two data
}

TEST(ChunkFrameSpec, RefusalsNameTheField)
{
    ChunkFrameSpec spec;
    spec.payloadBytes = 65520;
    EXPECT_THAT(checkChunkFrameSpec(spec), HasSubstr("payloadBytes"));
    spec = {};
    spec.type = Type::MetaData;
    EXPECT_THAT(checkChunkFrameSpec(spec), HasSubstr("Type::MetaData"));
    spec = {};
    spec.subType = SubType::FrameEnd;
    EXPECT_THAT(checkChunkFrameSpec(spec), HasSubstr("SubType::FrameEnd"));
    EXPECT_THROW(buildChunkFrame(spec, 0), std::invalid_argument);
    EXPECT_EQ(checkChunkFrameSpec(ChunkFrameSpec{}), "");
}

} // namespace
} // namespace vxqir::frames
