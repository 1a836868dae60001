// GrabberImageHeader.h - the byte stream a frame grabber stores for one
// MIPI CSI-2 frame, and the geometry of its packet records.
//
// This header alone defines the grabber stream layout. The unit client
// component, the frame builders and the tests all take offsets, the preamble
// and the record sizes from here.
//
// Stream (all multi-byte fields little-endian):
//
//    0                               64      68      72
//   +-------------------------------+-------+-------+---------------------
//   | sxpf_image_header_s (64)      | pre-  | CSI-2 | payload, checksum,
//   |                               | amble | header| padding, next record
//   +-------------------------------+-------+-------+---------------------
//
// Records, `rows` of them (the header's count includes short packets):
//   long packet record:  preamble (4) | packet (4 header + word count
//                        payload + 2 checksum) | padding to whole pixels
//   short packet record: preamble (4) | header (4)        = 8 bytes
//
// Grabber image header (64 bytes):
//
//    0          4          8     10  11  12    14    16
//   +----------+----------+-----+---+---+-----+-----+----------------------+
//   |frame_size|ver|typ|c|r|pofs |bpp|smp|rows |cols | ts_start lo/hi       |
//   +----------+----------+-----+---+---+-----+-----+----------------------+
//    24                    32         36    40    44         48
//   +---------------------+----------+-----+-----+----------+--------------+
//   | ts_end lo/hi        |frame_cnt | ilg | ifg |reserved2 | ts_second_   |
//   +---------------------+----------+-----+-----+----------+ start lo/hi  |
//    56                                                     +--------------+
//   +-------------------------------------------------------+
//   | ts_second_end lo/hi                                   |
//   +-------------------------------------------------------+
//   word at 4, from bit 0: version (8), type (8), cam_id (4), card_id (4),
//   reserved (8).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace MIPICSI2 {

static_assert(std::endian::native == std::endian::little,
              "grabber records are read in host order and must be little-endian");

#pragma pack(push, 1)

/// The grabber's 64-byte frame header. The unit client reads only `bpp` and
/// `rows`; the other fields are carried for producers.
struct sxpf_image_header_s {
    uint32_t frame_size;
    uint32_t version : 8;
    uint32_t type : 8;
    uint32_t cam_id : 4;
    uint32_t card_id : 4;
    uint32_t reserved : 8;
    uint16_t payload_offset;
    uint8_t bpp; ///< bits per pixel of the stored data
    uint8_t sample_size;
    uint16_t rows; ///< number of packet records in the frame
    uint16_t columns;
    uint32_t ts_start_lo;
    uint32_t ts_start_hi;
    uint32_t ts_end_lo;
    uint32_t ts_end_hi;
    uint32_t frame_counter;
    uint32_t ilg;
    uint32_t ifg;
    uint32_t reserved2;
    uint32_t ts_second_start_lo;
    uint32_t ts_second_start_hi;
    uint32_t ts_second_end_lo;
    uint32_t ts_second_end_hi;
};

/// The four-byte header of a CSI-2 packet: data identifier (virtual channel
/// in bits 7-6, data type in bits 5-0), word count, error-correction byte.
struct Csi2Header {
    uint8_t type;
    uint16_t packet_length;
    uint8_t ecc;
};

#pragma pack(pop)

static_assert(sizeof(sxpf_image_header_s) == 64);
static_assert(offsetof(sxpf_image_header_s, frame_size) == 0);
static_assert(offsetof(sxpf_image_header_s, payload_offset) == 8);
static_assert(offsetof(sxpf_image_header_s, bpp) == 10);
static_assert(offsetof(sxpf_image_header_s, sample_size) == 11);
static_assert(offsetof(sxpf_image_header_s, rows) == 12);
static_assert(offsetof(sxpf_image_header_s, columns) == 14);
static_assert(offsetof(sxpf_image_header_s, ts_start_lo) == 16);
static_assert(offsetof(sxpf_image_header_s, ts_start_hi) == 20);
static_assert(offsetof(sxpf_image_header_s, ts_end_lo) == 24);
static_assert(offsetof(sxpf_image_header_s, ts_end_hi) == 28);
static_assert(offsetof(sxpf_image_header_s, frame_counter) == 32);
static_assert(offsetof(sxpf_image_header_s, ilg) == 36);
static_assert(offsetof(sxpf_image_header_s, ifg) == 40);
static_assert(offsetof(sxpf_image_header_s, reserved2) == 44);
static_assert(offsetof(sxpf_image_header_s, ts_second_start_lo) == 48);
static_assert(offsetof(sxpf_image_header_s, ts_second_start_hi) == 52);
static_assert(offsetof(sxpf_image_header_s, ts_second_end_lo) == 56);
static_assert(offsetof(sxpf_image_header_s, ts_second_end_hi) == 60);

static_assert(sizeof(Csi2Header) == 4);
static_assert(offsetof(Csi2Header, type) == 0);
static_assert(offsetof(Csi2Header, packet_length) == 1);
static_assert(offsetof(Csi2Header, ecc) == 3);

// Stream constants ----------------------------------------------------------

inline constexpr size_t GRABBER_HEADER_SIZE = sizeof(sxpf_image_header_s);
/// Every packet record starts with this 32-bit value (four bytes 0xB8).
inline constexpr uint32_t CSI2_PREAMBLE = 0xB8B8B8B8u;
inline constexpr size_t CSI2_PREAMBLE_SIZE = 4;
inline constexpr size_t CSI2_HEADER_SIZE = sizeof(Csi2Header);
inline constexpr size_t CSI2_CHECKSUM_SIZE = 2;
/// Offset of the first record's preamble and of its packet header.
inline constexpr size_t FIRST_RECORD_OFFSET = GRABBER_HEADER_SIZE;
inline constexpr size_t FIRST_PACKET_HEADER_OFFSET = FIRST_RECORD_OFFSET + CSI2_PREAMBLE_SIZE;
/// Preamble and header of a short packet; short records carry no padding.
inline constexpr size_t SHORT_PACKET_RECORD_SIZE = CSI2_PREAMBLE_SIZE + CSI2_HEADER_SIZE;
/// Data types 0x00-0x0F are short packets: bits 0x30 of the identifier clear.
inline constexpr uint8_t CSI2_LONG_PACKET_TYPE_BITS = 0x30;

static_assert(FIRST_PACKET_HEADER_OFFSET == 68);
static_assert(SHORT_PACKET_RECORD_SIZE == 8);

// Geometry ------------------------------------------------------------------

/// True when a CSI-2 data identifier names a short packet (header only).
constexpr bool isShortPacket(uint8_t dataIdentifier)
{
    return (dataIdentifier & CSI2_LONG_PACKET_TYPE_BITS) == 0;
}

/// Bytes of a long packet with the given word count: header, payload and
/// checksum.
constexpr uint32_t longPacketLength(uint16_t wordCount)
{
    return CSI2_HEADER_SIZE + uint32_t{ wordCount } + CSI2_CHECKSUM_SIZE;
}

/// Bytes to add to a record of `bytes` bytes so that it holds a whole number
/// of pixels of `bpp` bits: ceil(8*bytes/bpp) pixels, floor(pixels*bpp/8)
/// bytes in all, minus `bytes`. Always 0 for bpp 8 or less, and 0 for bpp 0
/// (which has no pixel size; callers refuse such a stream before sending).
/// The result fits 16 bits for every 16-bit `bytes`.
constexpr uint16_t paddingToWholePixels(uint16_t bytes, uint8_t bpp)
{
    if (bpp == 0)
        return 0;
    const uint32_t bits = 8u * bytes;
    const uint32_t pixels = (bits + bpp - 1u) / bpp;
    const uint32_t total = pixels * bpp / 8u;
    return static_cast<uint16_t>(total - bytes);
}

static_assert(paddingToWholePixels(100, 12) == 0);
static_assert(paddingToWholePixels(101, 16) == 1);
static_assert(paddingToWholePixels(100, 24) == 2);
static_assert(paddingToWholePixels(3851, 12) == 1);
static_assert(paddingToWholePixels(3850, 64) == 6);
static_assert(paddingToWholePixels(3850, 16) == 0);
static_assert(paddingToWholePixels(65535, 64) == 1);

/// Bytes a long packet record occupies in the stream: preamble, the packet
/// of `packetLength` bytes (header, payload, checksum) and its padding.
constexpr uint32_t longPacketRecordSize(uint16_t packetLength, uint8_t bpp)
{
    const uint32_t unpadded = CSI2_PREAMBLE_SIZE + uint32_t{ packetLength };
    // Records longer than 16 bits are not declarable to the unit anyway;
    // padding is computed on the low 16 bits as the component does.
    return unpadded + paddingToWholePixels(static_cast<uint16_t>(unpadded), bpp);
}

static_assert(longPacketRecordSize(3846, 16) == 3850);
static_assert(longPacketRecordSize(3847, 12) == 3852);
static_assert(longPacketRecordSize(3846, 64) == 3856);

/// Reads the 32-bit little-endian value at `offset`; the caller has checked
/// that four bytes are there.
inline uint32_t readUint32Le(const uint8_t* bytes, size_t offset)
{
    uint32_t value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

/// Reads the grabber header of a stream of at least GRABBER_HEADER_SIZE bytes.
inline sxpf_image_header_s readGrabberHeader(const uint8_t* bytes)
{
    sxpf_image_header_s header;
    std::memcpy(&header, bytes, sizeof header);
    return header;
}

/// Reads a packet header; the caller has checked that four bytes are there.
inline Csi2Header readCsi2Header(const uint8_t* bytes, size_t offset)
{
    Csi2Header header;
    std::memcpy(&header, bytes + offset, sizeof header);
    return header;
}

} // namespace MIPICSI2
