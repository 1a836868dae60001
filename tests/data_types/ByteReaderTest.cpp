// The bounds-checked reader (shared by the containers and the emulator) and
// writer of outside bytes.

#include "TestBytes.h"

#include "byte_io/ByteReader.h"
#include "data_types/ByteWriter.h"

#include <gtest/gtest.h>

namespace qir::data_types {
namespace {

using test::Bytes;
using test::hex;

TEST(ByteReader, ReadsLittleEndianRecordsAndBigEndianFields)
{
    const Bytes bytes = hex("01020304 0a0b 0c0d0e0f");
    ByteReader reader(bytes);
    EXPECT_EQ(reader.read<uint32_t>(), 0x04030201u);
    EXPECT_EQ(reader.read_be16(), 0x0A0B);
    EXPECT_EQ(reader.read_be32(), 0x0C0D0E0Fu);
    EXPECT_EQ(reader.remaining(), 0u);
    EXPECT_FALSE(reader.overflowed());
}

TEST(ByteReader, OverflowReadsZeroAndStaysSet)
{
    const Bytes bytes = hex("ffff ff");
    ByteReader reader(bytes);
    EXPECT_EQ(reader.read<uint32_t>(), 0u);
    EXPECT_TRUE(reader.overflowed());
    // Even a read that would fit now returns nothing: the header is bad.
    EXPECT_EQ(reader.read_u8(), 0);
    EXPECT_TRUE(reader.read_bytes(1).empty());
    EXPECT_TRUE(reader.overflowed());
    EXPECT_EQ(reader.position(), 0u);
}

TEST(ByteReader, ReadBytesOfTheExactRemainderSucceeds)
{
    const Bytes bytes = hex("010203");
    ByteReader reader(bytes);
    reader.skip(1);
    EXPECT_EQ(reader.read_bytes(2).size(), 2u);
    EXPECT_FALSE(reader.overflowed());
    reader.skip(1);
    EXPECT_TRUE(reader.overflowed());
}

TEST(ByteReader, RestIsWhatFollowsThePositionAndStaysPutOnOverflow)
{
    const Bytes bytes = hex("0102 030405");
    ByteReader reader(bytes);
    reader.read<uint16_t>();
    EXPECT_EQ(Bytes(reader.rest().begin(), reader.rest().end()), hex("030405"));
    EXPECT_TRUE(reader.read_bytes(4).empty());
    EXPECT_EQ(reader.rest().size(), 3u);
    EXPECT_EQ(reader.size(), 5u);
}

TEST(ByteWriter, WritesNothingThatDoesNotFitAndStaysOverflowed)
{
    Bytes buffer(3, 0xEE);
    ByteWriter writer(buffer);
    writer.write_be16(0x0102);
    writer.write(uint32_t{ 7 });
    EXPECT_TRUE(writer.overflowed());
    writer.write(uint8_t{ 9 });
    EXPECT_EQ(buffer, hex("0102ee"));
    EXPECT_EQ(writer.position(), 2u);
}

} // namespace
} // namespace qir::data_types
