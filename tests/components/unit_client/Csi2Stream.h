// Grabber byte streams for the unit client's tests, built from the shared
// layout header so that the tests and the component agree on the geometry.
#pragma once

#include "unit_client/csi2/GrabberImageHeader.h"

#include <cstring>
#include <vector>

namespace unit_client_test {

/// One CSI-2 packet record: a long packet (data identifier with bits 0x30
/// set, `wordCount` payload bytes) or a short one (header only).
struct Csi2Record {
    uint8_t dataIdentifier = 0x2C;
    uint16_t wordCount = 0;
};

/// A grabber frame of `records`, long packets padded to whole pixels of
/// `bpp` bits; payload and checksum bytes carry `seed`. `cutBytes` drops
/// that many bytes from the end.
inline std::vector<uint8_t> GrabberStream(const std::vector<Csi2Record>& records, uint8_t bpp, uint8_t seed,
                                          size_t cutBytes = 0)
{
    std::vector<uint8_t> stream(MIPICSI2::GRABBER_HEADER_SIZE, 0);
    MIPICSI2::sxpf_image_header_s header{};
    header.bpp = bpp;
    header.rows = static_cast<uint16_t>(records.size());
    for (const Csi2Record& r : records) {
        const size_t start = stream.size();
        const uint32_t preamble = MIPICSI2::CSI2_PREAMBLE;
        stream.resize(start + 4);
        std::memcpy(stream.data() + start, &preamble, 4);
        const MIPICSI2::Csi2Header h{ r.dataIdentifier, r.wordCount, 0x5A };
        stream.resize(start + 8);
        std::memcpy(stream.data() + start + 4, &h, 4);
        if (MIPICSI2::isShortPacket(r.dataIdentifier))
            continue;
        const auto packet = static_cast<uint16_t>(MIPICSI2::longPacketLength(r.wordCount));
        const size_t record = MIPICSI2::longPacketRecordSize(packet, bpp);
        stream.resize(start + record, 0xEE); // padding bytes
        for (size_t i = 8; i < 4 + size_t{ packet }; ++i)
            stream[start + i] = static_cast<uint8_t>(start * 31 + i * 7 + seed);
    }
    header.frame_size = static_cast<uint32_t>(stream.size());
    std::memcpy(stream.data(), &header, sizeof header);
    stream.resize(stream.size() - cutBytes);
    return stream;
}

} // namespace unit_client_test
