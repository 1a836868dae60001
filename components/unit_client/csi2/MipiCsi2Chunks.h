// MipiCsi2Chunks.h - the chunk container that a KOVAMipiCsi2Frame points to,
// and the bounds-checked walk over it.
//
// This header alone defines the container layout. A container is a sequence
// of chunks from offset 0 to dataLength, each right behind the previous one:
//
//    0       2    3    4
//   +-------+----+----+--------------------------------------------+
//   |length |type|sub |chunk payload (length - 4 bytes)           |
//   | (BE)  |    |type|                                            |
//   +-------+----+----+--------------------------------------------+
//
// `length` is the whole chunk, header included, big-endian. The payload of a
// bus-data chunk (one CSI-2 packet) is:
//
//    4                  12          14                     L-2     L
//   +------------------+-----------+----------------------+-------+
//   | timestamp (8)    | hdr error | bus payload (L - 16) |payload|
//   |                  | flags (2) |                      |errors |
//   +------------------+-----------+----------------------+-------+
//     BusDataHeader (10 bytes)                              BusDataFooter
//
// A meta-data chunk (type MetaData) carries the 21-byte MetaData record.
// Fields other than the chunk length are stored in host order
// (little-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace MIPICSI2 {

/// Chunk type: how the chunk's payload is stored.
enum class Type : uint8_t {
    UncompressedRAWDenslyPacked = 0,
    UncompressedRAWZeroPaddingByteAligned = 1,
    UncompressedRAWZeroPaddingWordAligned = 2,
    UncompressedRAWZeroPaddingLongWordAligned = 4,
    LosslessJPEGRAW = 32,
    LosslessJPEGYUV = 48,
    LZRW1ACompressed = 64,
    MetaData = 128,
};

/// Chunk subtype: the CSI-2 data type of the packet the chunk holds.
enum class SubType : uint8_t {
    FrameStart = 0x00,
    FrameEnd = 0x01,
    EmbeddedData = 0x12,
    YUV422 = 0x1E,
    RAW8 = 0x2A,
    RAW10 = 0x2B,
    RAW12 = 0x2C,
    RAW14 = 0x2D,
    RAW16 = 0x2E,
    RAW20 = 0x2F,
    UserDefined1 = 0x30,
    UserDefined2 = 0x31,
    UserDefined3 = 0x32,
    UserDefined4 = 0x33,
    UserDefined5 = 0x34,
    UserDefined6 = 0x35,
    UserDefined7 = 0x36,
    UserDefined8 = 0x37,
};

/// Colour filter layout of the imager (not interpreted by the unit client).
enum class RAWColorScheme : uint8_t {
    Undefined = 0,
    RCCC = 1,
    CRCC = 2,
    CCRC = 3,
    CCCR = 4,
    RCCG = 5,
    RGGC = 6,
    GRBG = 17,
    GBRG = 18,
    RGGB = 19,
    RYYCy = 32,
    MonochromeVisible = 48,
    MonochromeIR = 49,
};

/// Compression of the frame (not interpreted by the unit client).
enum class Compression : uint8_t {
    Uncompressed = 0,
    LosslessJPEGRAWFrameBased = 1,
    LosslessJPEGYUVFrameBased = 2,
    LZRW1A_LIDAR = 16,
    LosslessJPEGRAWLineBased = 129,
    LosslessJPEGYUVLineBased = 130,
};

/// Text of a chunk type, "No valid type" for a value without a name.
constexpr const char* typeToString(Type type)
{
    switch (type) {
    case Type::UncompressedRAWDenslyPacked:
        return "Type::UncompressedRAWDenslyPacked";
    case Type::UncompressedRAWZeroPaddingByteAligned:
        return "Type::UncompressedRAWZeroPaddingByteAligned";
    case Type::UncompressedRAWZeroPaddingWordAligned:
        return "Type::UncompressedRAWZeroPaddingWordAligned";
    case Type::UncompressedRAWZeroPaddingLongWordAligned:
        return "Type::UncompressedRAWZeroPaddingLongWordAligned";
    case Type::LosslessJPEGRAW:
        return "Type::LosslessJPEGRAW";
    case Type::LosslessJPEGYUV:
        return "Type::LosslessJPEGYUV";
    case Type::LZRW1ACompressed:
        return "Type::LZRW1ACompressed";
    case Type::MetaData:
        return "Type::MetaData";
    }
    return "No valid type";
}

/// Text of a chunk subtype, "No valid subtype" for a value without a name.
constexpr const char* subTypeToString(SubType subType)
{
    switch (subType) {
    case SubType::FrameStart:
        return "SubType::FrameStart";
    case SubType::FrameEnd:
        return "SubType::FrameEnd";
    case SubType::EmbeddedData:
        return "SubType::EmbeddedData";
    case SubType::YUV422:
        return "SubType::YUV422";
    case SubType::RAW8:
        return "SubType::RAW8";
    case SubType::RAW10:
        return "SubType::RAW10";
    case SubType::RAW12:
        return "SubType::RAW12";
    case SubType::RAW14:
        return "SubType::RAW14";
    case SubType::RAW16:
        return "SubType::RAW16";
    case SubType::RAW20:
        return "SubType::RAW20";
    case SubType::UserDefined1:
        return "SubType::UserDefined1";
    case SubType::UserDefined2:
        return "SubType::UserDefined2";
    case SubType::UserDefined3:
        return "SubType::UserDefined3";
    case SubType::UserDefined4:
        return "SubType::UserDefined4";
    case SubType::UserDefined5:
        return "SubType::UserDefined5";
    case SubType::UserDefined6:
        return "SubType::UserDefined6";
    case SubType::UserDefined7:
        return "SubType::UserDefined7";
    case SubType::UserDefined8:
        return "SubType::UserDefined8";
    }
    return "No valid subtype";
}

#pragma pack(push, 1)

/// Chunk header as stored; read `length` with chunkLength().
struct ChunkHeader {
    uint8_t length[2]; ///< big-endian, whole chunk including this header
    Type type;
    SubType sub_type;
};

/// Start of a bus-data chunk's payload.
struct BusDataHeader {
    uint64_t timestamp;
    uint16_t header_error_flags;
};

/// End of a bus-data chunk's payload.
struct BusDataFooter {
    uint16_t payload_error_flags;
};

/// Frame meta data, the payload of a chunk of type MetaData.
struct MetaData {
    SubType pixel_format;
    RAWColorScheme raw_color_scheme;
    char imager_type[8];
    Compression compression;
    uint16_t width;
    uint16_t height;
    uint32_t frame_counter;
    uint16_t error_flags;
};

#pragma pack(pop)

static_assert(sizeof(ChunkHeader) == 4);
static_assert(offsetof(ChunkHeader, length) == 0);
static_assert(offsetof(ChunkHeader, type) == 2);
static_assert(offsetof(ChunkHeader, sub_type) == 3);
static_assert(sizeof(BusDataHeader) == 10);
static_assert(offsetof(BusDataHeader, timestamp) == 0);
static_assert(offsetof(BusDataHeader, header_error_flags) == 8);
static_assert(sizeof(BusDataFooter) == 2);
static_assert(sizeof(MetaData) == 21);
static_assert(offsetof(MetaData, pixel_format) == 0);
static_assert(offsetof(MetaData, raw_color_scheme) == 1);
static_assert(offsetof(MetaData, imager_type) == 2);
static_assert(offsetof(MetaData, compression) == 10);
static_assert(offsetof(MetaData, width) == 11);
static_assert(offsetof(MetaData, height) == 13);
static_assert(offsetof(MetaData, frame_counter) == 15);
static_assert(offsetof(MetaData, error_flags) == 19);

// Sizes ---------------------------------------------------------------------

inline constexpr size_t CHUNK_HEADER_SIZE = sizeof(ChunkHeader);
inline constexpr size_t BUS_DATA_HEADER_SIZE = sizeof(BusDataHeader);
inline constexpr size_t BUS_DATA_FOOTER_SIZE = sizeof(BusDataFooter);
inline constexpr size_t META_DATA_SIZE = sizeof(MetaData);
/// Offset of the bus payload inside a bus-data chunk.
inline constexpr size_t BUS_PAYLOAD_OFFSET = CHUNK_HEADER_SIZE + BUS_DATA_HEADER_SIZE;
/// Bytes of a bus-data chunk around its bus payload; a shorter chunk has none.
inline constexpr size_t BUS_DATA_OVERHEAD = BUS_PAYLOAD_OFFSET + BUS_DATA_FOOTER_SIZE;
/// Largest chunk the 16-bit length can describe.
inline constexpr size_t MAX_CHUNK_LENGTH = 0xFFFF;

static_assert(BUS_PAYLOAD_OFFSET == 14);
static_assert(BUS_DATA_OVERHEAD == 16);

// Big-endian chunk length ---------------------------------------------------

inline uint16_t read_uint16_t_be(const uint8_t* bytes)
{
    return static_cast<uint16_t>((uint16_t{ bytes[0] } << 8) | bytes[1]);
}

inline void write_uint16_t_be(uint8_t* bytes, uint16_t value)
{
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value & 0xFF);
}

// Walk ----------------------------------------------------------------------

/// One chunk of a container, as the walk found it. Pointers borrow the
/// container's bytes; every byte they cover lies inside the container.
struct DataChunkDescriptor {
    size_t offset = 0;   ///< byte offset of the chunk in the container
    uint16_t length = 0; ///< whole chunk, header included
    Type type = Type::UncompressedRAWDenslyPacked;
    SubType sub_type = SubType::FrameStart;
    const uint8_t* payload = nullptr; ///< chunk start + 4
    size_t payloadLength = 0;         ///< length - 4

    /// A bus-data chunk long enough to hold header and footer (length >= 16).
    bool hasBusData() const { return length >= BUS_DATA_OVERHEAD; }
    /// The CSI-2 packet bytes of a bus-data chunk (chunk offset 14), or null.
    const uint8_t* busPayload() const { return hasBusData() ? payload + BUS_DATA_HEADER_SIZE : nullptr; }
    /// length - 16 for a bus-data chunk, else 0.
    uint16_t busPayloadLength() const { return hasBusData() ? static_cast<uint16_t>(length - BUS_DATA_OVERHEAD) : 0; }
    /// True for a chunk that carries packet data: not compressed, not meta
    /// data, not a frame start or frame end.
    bool isDataChunk() const
    {
        return type != Type::LZRW1ACompressed && type != Type::MetaData && sub_type != SubType::FrameStart &&
            sub_type != SubType::FrameEnd;
    }
};

/// Why a walk ended.
enum class WalkEnd : uint8_t {
    NotYet,          ///< the walk goes on
    Complete,        ///< the last chunk ended at or beyond dataLength
    HeaderTruncated, ///< fewer than 4 bytes left for a chunk header
    LengthTooShort,  ///< a chunk's length is below 4 (it would never advance)
    PastEnd,         ///< a chunk's length runs past dataLength
};

constexpr const char* walkEndToString(WalkEnd end)
{
    switch (end) {
    case WalkEnd::NotYet:
        return "walk not finished";
    case WalkEnd::Complete:
        return "complete";
    case WalkEnd::HeaderTruncated:
        return "chunk header cut off by the end of the container";
    case WalkEnd::LengthTooShort:
        return "chunk length below the 4-byte chunk header";
    case WalkEnd::PastEnd:
        return "chunk runs past the end of the container";
    }
    return "unknown";
}

/// Walks the chunks of a container without reading past `dataLength`.
///
///   MIPICSI2::DataChunkIterator walk(frame.data, frame.dataLength);
///   MIPICSI2::DataChunkDescriptor chunk;
///   while (walk.next(chunk)) { ... }
///   if (walk.malformed()) warn about walk.end() at walk.endOffset();
///
/// A malformed chunk (length < 4, or running past the container, or a header
/// cut off) ends the walk; it is not returned. Thread-bound; borrows `data`.
class DataChunkIterator {
public:
    DataChunkIterator(const uint8_t* data, size_t dataLength)
        : data_(data)
        , dataLength_(data == nullptr ? 0 : dataLength)
    { }

    /// Fills `chunk` with the next well-formed chunk and returns true, or
    /// returns false when the walk has ended (see end() and endOffset()).
    bool next(DataChunkDescriptor& chunk)
    {
        if (end_ != WalkEnd::NotYet)
            return false;
        if (offset_ >= dataLength_)
            return finish(WalkEnd::Complete);
        if (dataLength_ - offset_ < CHUNK_HEADER_SIZE)
            return finish(WalkEnd::HeaderTruncated);
        const uint8_t* start = data_ + offset_;
        const uint16_t length = read_uint16_t_be(start);
        if (length < CHUNK_HEADER_SIZE)
            return finish(WalkEnd::LengthTooShort);
        if (length > dataLength_ - offset_)
            return finish(WalkEnd::PastEnd);
        chunk.offset = offset_;
        chunk.length = length;
        std::memcpy(&chunk.type, start + 2, 1);
        std::memcpy(&chunk.sub_type, start + 3, 1);
        chunk.payload = start + CHUNK_HEADER_SIZE;
        chunk.payloadLength = length - CHUNK_HEADER_SIZE;
        offset_ += length;
        return true;
    }

    /// Why the walk ended; NotYet while it goes on.
    WalkEnd end() const { return end_; }
    /// True when the walk ended at a malformed chunk.
    bool malformed() const { return end_ != WalkEnd::NotYet && end_ != WalkEnd::Complete; }
    /// Byte offset of the chunk at which the walk ended (dataLength or
    /// beyond when complete).
    size_t endOffset() const { return offset_; }

private:
    bool finish(WalkEnd end)
    {
        end_ = end;
        return false;
    }

    const uint8_t* data_;
    size_t dataLength_;
    size_t offset_ = 0;
    WalkEnd end_ = WalkEnd::NotYet;
};

} // namespace MIPICSI2
