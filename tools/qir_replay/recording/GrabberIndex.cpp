// The index of a grabber stream: each frame's header, then its packet
// records, read from the file in large blocks.
#include "FileBlocks.h"
#include "Recording.h"

#include "Csi2PacketChecks.h"
#include "unit_client/csi2/GrabberImageHeader.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace qir::replay {

GrabberFrameInfo Recording::walkGrabberFrame(std::span<const uint8_t> frame, size_t at) const
{
    using namespace MIPICSI2;
    const sxpf_image_header_s header = readGrabberHeader(frame.data());
    // Walk the packet records, never past the frame.
    GrabberFrameInfo info;
    size_t record = FIRST_RECORD_OFFSET;
    for (uint32_t row = 0; row < header.rows; ++row) {
        if (frame.size() - std::min(record, frame.size()) < SHORT_PACKET_RECORD_SIZE)
            throwDamaged(path(), at + std::min(record, frame.size()),
                         "packet record " + std::to_string(row) + " of " + std::to_string(header.rows) +
                             " runs past the grabber frame");
        if (readUint32Le(frame.data(), record) != CSI2_PREAMBLE)
            throwDamaged(path(), at + record, "packet record " + std::to_string(row) + " lacks its preamble");
        const Csi2Header packet = readCsi2Header(frame.data(), record + CSI2_PREAMBLE_SIZE);
        if (packet.ecc != vxqir::frames::csi2HeaderEcc(packet.type, packet.packet_length))
            ++info.eccErrors;
        if (isShortPacket(packet.type)) {
            ++info.shortPackets;
            record += SHORT_PACKET_RECORD_SIZE;
            continue;
        }
        const uint32_t length = longPacketLength(packet.packet_length);
        if (length > 0xFFFF)
            throwDamaged(path(), at + record, "long packet of " + std::to_string(length) + " bytes");
        const uint32_t size = longPacketRecordSize(static_cast<uint16_t>(length), header.bpp);
        if (frame.size() - record < size)
            throwDamaged(path(), at + record,
                         "long packet record " + std::to_string(row) + " of " + std::to_string(size) +
                             " bytes runs past the grabber frame");
        const size_t payload = record + CSI2_PREAMBLE_SIZE + CSI2_HEADER_SIZE;
        uint16_t stored = 0;
        std::memcpy(&stored, frame.data() + payload + packet.packet_length, sizeof stored);
        if (stored != vxqir::frames::csi2PayloadChecksum(frame.subspan(payload, packet.packet_length)))
            ++info.checksumErrors;
        if (info.longPackets == 0)
            info.lineBytes = length;
        const uint32_t declared = frames_.empty() ? info.lineBytes : width_;
        if (length != declared && info.otherLengthBytes == 0) {
            info.otherLengthBytes = length;
            info.otherLengthOffset = at + record;
        }
        ++info.longPackets;
        record += size;
    }
    if (info.longPackets == 0)
        throwDamaged(path(), at, "grabber frame without a long packet");
    return info;
}

void Recording::indexGrabber()
{
    using namespace MIPICSI2;
    const MappedFile& file = files_.front();
    const size_t fileSize = file.bytes().size();
    trusted_ = !checked_.empty() && checked_ == file.fingerprint();
    FileBlocks blocks(file.fd(), fileSize, path());
    size_t at = 0;
    while (at < fileSize) {
        checkInterrupted();
        reportProgress(at);
        if (fileSize - at < GRABBER_HEADER_SIZE)
            throwDamaged(path(), at, "grabber header cut short (" + std::to_string(fileSize - at) + " of 64 bytes)");
        // A trusted index reads the headers alone, a few bytes each.
        sxpf_image_header_s header{};
        if (trusted_ && !frames_.empty()) {
            uint8_t bytes[GRABBER_HEADER_SIZE];
            file.read(at, bytes);
            header = readGrabberHeader(bytes);
        } else {
            header = readGrabberHeader(blocks.at(at, GRABBER_HEADER_SIZE).data());
        }
        if (header.frame_size < GRABBER_HEADER_SIZE)
            throwDamaged(path(), at, "grabber frame_size " + std::to_string(header.frame_size) + " is below 64");
        if (header.frame_size > fileSize - at)
            throwDamaged(path(), at,
                         "grabber frame of " + std::to_string(header.frame_size) +
                             " bytes runs past the end "
                             "of the file (" +
                             std::to_string(fileSize - at) + " bytes left)");
        if (header.bpp == 0)
            throwDamaged(path(), at + offsetof(sxpf_image_header_s, bpp), "grabber header with bpp 0");
        if (header.rows == 0)
            throwDamaged(path(), at + offsetof(sxpf_image_header_s, rows), "grabber header with rows 0");
        if (!trusted_ || frames_.empty()) {
            const GrabberFrameInfo info = walkGrabberFrame(blocks.at(at, header.frame_size), at);
            if (frames_.empty()) {
                width_ = info.lineBytes;
                height_ = info.longPackets;
                bpp_ = header.bpp;
            }
            hasShortPackets_ = hasShortPackets_ || info.shortPackets > 0;
            if (!trusted_)
                grabberInfo_.push_back(info);
        }
        const uint64_t startNs = uint64_t{ header.ts_start_hi } << 32 | header.ts_start_lo;
        frames_.push_back({ at, header.frame_size, startNs / 1000 });
        largest_ = std::max<size_t>(largest_, header.frame_size);
        at += header.frame_size;
    }
    reportProgress(fileSize);
}

} // namespace qir::replay
