// GrabberRecordWalk.h - walks the packet records of one grabber frame, each
// record read by its own header, without reading past the stream.
//
//   MIPICSI2::GrabberRecordWalk walk(stream, used, header.rows, header.bpp);
//   MIPICSI2::GrabberRecord record;
//   while (walk.next(record)) { ... record.offset, record.isShort, ... }
//   if (walk.malformed()) warn about walk.end() at walk.endOffset();
//
// A long record occupies its preamble, its packet (header, word count
// payload bytes, checksum) and the padding to whole pixels of `bpp` bits; a
// short record its preamble and header. A frame whose records change length
// is therefore walked record by record, never with the stride of the first.
#pragma once

#include "GrabberImageHeader.h"

#include <cstddef>
#include <cstdint>

namespace MIPICSI2 {

/// One packet record, as the walk found it. Its preamble and header lie
/// inside the stream; a long record's packet does too (its padding may be
/// cut off at the very end of the stream, see GrabberRecordWalk::next).
struct GrabberRecord {
    uint32_t index = 0;        ///< record number in the frame, from 0
    size_t offset = 0;         ///< byte offset of its preamble in the stream
    Csi2Header header{};       ///< the record's packet header
    bool isShort = false;      ///< a short packet (header only)
    uint32_t packetLength = 0; ///< long: header, payload and checksum (up to 65541); short: 4
    uint32_t size = 0;         ///< bytes the record occupies: preamble, packet and padding
};

/// Why a record walk ended.
enum class RecordWalkEnd : uint8_t {
    NotYet,     ///< the walk goes on
    Complete,   ///< all `rows` records were read
    HeaderCut,  ///< fewer than 8 bytes left for a record's preamble and header
    NoPreamble, ///< a record does not start with 0xB8B8B8B8
    PacketCut,  ///< a long packet runs past the end of the stream
};

constexpr const char* recordWalkEndToString(RecordWalkEnd end)
{
    switch (end) {
    case RecordWalkEnd::NotYet:
        return "walk not finished";
    case RecordWalkEnd::Complete:
        return "complete";
    case RecordWalkEnd::HeaderCut:
        return "packet record header cut off by the end of the stream";
    case RecordWalkEnd::NoPreamble:
        return "packet record without its 0xB8B8B8B8 preamble";
    case RecordWalkEnd::PacketCut:
        return "long packet runs past the end of the stream";
    }
    return "unknown";
}

/// Bytes of padding that make a record of `bytes` bytes whole pixels of
/// `bpp` bits, for records of any 32-bit size (0 for bpp 0).
constexpr uint32_t recordPadding(uint32_t bytes, uint8_t bpp)
{
    if (bpp == 0)
        return 0;
    const uint64_t pixels = (uint64_t{ bytes } * 8u + bpp - 1u) / bpp;
    return static_cast<uint32_t>(pixels * bpp / 8u - bytes);
}

static_assert(recordPadding(3851, 12) == paddingToWholePixels(3851, 12));
static_assert(recordPadding(3850, 64) == 6);
static_assert(recordPadding(65540, 64) == 4);

/// Walks the `rows` packet records of a grabber frame of `size` bytes.
/// Thread-bound; borrows `stream`.
class GrabberRecordWalk {
public:
    GrabberRecordWalk(const uint8_t* stream, size_t size, uint32_t rows, uint8_t bpp)
        : stream_(stream)
        , size_(stream == nullptr ? 0 : size)
        , rows_(rows)
        , bpp_(bpp)
    { }

    /// Fills `record` with the next record and returns true, or returns
    /// false when the walk has ended (see end() and endOffset()). A long
    /// record is returned when its packet lies inside the stream; its size
    /// counts the padding even where the stream ends before it.
    bool next(GrabberRecord& record)
    {
        if (end_ != RecordWalkEnd::NotYet)
            return false;
        if (index_ >= rows_)
            return finish(RecordWalkEnd::Complete);
        if (offset_ > size_ || size_ - offset_ < SHORT_PACKET_RECORD_SIZE)
            return finish(RecordWalkEnd::HeaderCut);
        if (readUint32Le(stream_, offset_) != CSI2_PREAMBLE)
            return finish(RecordWalkEnd::NoPreamble);
        record.index = index_;
        record.offset = offset_;
        record.header = readCsi2Header(stream_, offset_ + CSI2_PREAMBLE_SIZE);
        record.isShort = isShortPacket(record.header.type);
        if (record.isShort) {
            record.packetLength = CSI2_HEADER_SIZE;
            record.size = SHORT_PACKET_RECORD_SIZE;
        } else {
            record.packetLength = longPacketLength(record.header.packet_length);
            if (size_ - offset_ - CSI2_PREAMBLE_SIZE < record.packetLength)
                return finish(RecordWalkEnd::PacketCut);
            const uint32_t unpadded = CSI2_PREAMBLE_SIZE + record.packetLength;
            record.size = unpadded + recordPadding(unpadded, bpp_);
        }
        offset_ += record.size;
        ++index_;
        return true;
    }

    /// Why the walk ended; NotYet while it goes on.
    RecordWalkEnd end() const { return end_; }
    /// True when the walk ended before all `rows` records were read.
    bool malformed() const { return end_ != RecordWalkEnd::NotYet && end_ != RecordWalkEnd::Complete; }
    /// Byte offset of the record at which the walk ended (or the end of the
    /// last record when complete).
    size_t endOffset() const { return offset_; }
    /// Records read so far; at a malformed end, the number of the record at
    /// which the walk ended.
    uint32_t recordsRead() const { return index_; }

private:
    bool finish(RecordWalkEnd end)
    {
        end_ = end;
        return false;
    }

    const uint8_t* stream_;
    size_t size_;
    uint32_t rows_;
    uint8_t bpp_;
    size_t offset_ = FIRST_RECORD_OFFSET;
    uint32_t index_ = 0;
    RecordWalkEnd end_ = RecordWalkEnd::NotYet;
};

} // namespace MIPICSI2
