// MIPI CSI-2 paths of the unit client: grabber byte streams (one unit packet
// per CSI-2 packet record) and KOVAMipiCsi2Frame chunk containers (one unit
// packet per data chunk). Both walks are bounded by the sample's bytes.
#include "KOVAImage2Qir.h"

#include "csi2/GrabberImageHeader.h"
#include "csi2/KOVAMipiCsi2Frame.h"

#include <cstring>

namespace {

constexpr KOVATimestamp kRestAfterInitUs = 200000;
constexpr const char* kNotCsi2 = "Frame does not contain valid MIPI CSI2 data, aborting";
/// A stream must hold the grabber header, the first preamble and the first
/// packet header before anything can be read from it.
constexpr int64_t kMinStreamBytes = MIPICSI2::FIRST_PACKET_HEADER_OFFSET + MIPICSI2::CSI2_HEADER_SIZE;

} // namespace

bool KOVAImage2Qir::CheckCsi2Stream(const uint8_t* stream, int64_t used)
{
    if (!stream || used < kMinStreamBytes) {
        KOVAStreamedString text;
        text << "[Core] Frame " << frameCounter_ << ": byte stream of " << used
             << " bytes ends before its first packet header at byte offset " << MIPICSI2::FIRST_PACKET_HEADER_OFFSET
             << "; frame not sent.";
        if (firstTime_)
            Error(text);
        ReportWarning(text);
        return false;
    }
    if (MIPICSI2::readUint32Le(stream, MIPICSI2::FIRST_RECORD_OFFSET) != MIPICSI2::CSI2_PREAMBLE)
        Error(kNotCsi2);
    return true;
}

void KOVAImage2Qir::init_mipi_csi2_image(KOVAIOElt* element)
{
    const uint8_t* stream = element->Stream8();
    const int64_t used = element->IOEltUsedSizeInBytes();
    CheckCsi2Stream(stream, used);
    ReportInfo("Sending MIPI CSI2 frames.");

    const MIPICSI2::sxpf_image_header_s header = MIPICSI2::readGrabberHeader(stream);
    MIPICSI2::Csi2Header first = MIPICSI2::readCsi2Header(stream, MIPICSI2::FIRST_PACKET_HEADER_OFFSET);
    if (skip_short_packages_) {
        // Short packets are left out, so the packet length comes from the
        // first long packet (a frame usually opens with a frame-start short
        // packet, whose word count is no length).
        for (int64_t position = MIPICSI2::FIRST_RECORD_OFFSET;
             position + static_cast<int64_t>(MIPICSI2::SHORT_PACKET_RECORD_SIZE) <= used;
             position += MIPICSI2::SHORT_PACKET_RECORD_SIZE) {
            const MIPICSI2::Csi2Header candidate =
                MIPICSI2::readCsi2Header(stream, static_cast<size_t>(position) + MIPICSI2::CSI2_PREAMBLE_SIZE);
            if (!MIPICSI2::isShortPacket(candidate.type)) {
                first = candidate;
                break;
            }
        }
    }
    if (header.bpp == 0)
        Error("[Core] Grabber header field bpp is 0: packet records cannot be padded to whole pixels, aborting");
    const uint32_t packetLength = MIPICSI2::longPacketLength(first.packet_length);
    if (packetLength > 0xFFFF) {
        KOVAStreamedString text;
        text << "[Core] First packet of " << packetLength
             << " bytes does not fit the unit's 16-bit line length, aborting";
        Error(text);
    }
    bpp_ = header.bpp;
    pck_len_byte_ = static_cast<uint16_t>(packetLength);
    csi2Records_ = header.rows;
    height_ = header.rows;
    if (skip_short_packages_) {
        // The unit sees long packets only: declare as many lines as the
        // first frame has long packets, so that its last long packet ends
        // the frame at the unit.
        uint16_t longPackets = 0;
        int64_t position = MIPICSI2::FIRST_RECORD_OFFSET;
        for (uint32_t row = 0; row < csi2Records_; ++row) {
            if (position + static_cast<int64_t>(MIPICSI2::SHORT_PACKET_RECORD_SIZE) > used)
                break;
            if (MIPICSI2::isShortPacket(stream[position + MIPICSI2::CSI2_PREAMBLE_SIZE])) {
                position += MIPICSI2::SHORT_PACKET_RECORD_SIZE;
                continue;
            }
            ++longPackets;
            position += MIPICSI2::longPacketRecordSize(pck_len_byte_, bpp_);
        }
        height_ = longPackets;
    }

    KOVAStreamedString packets;
    packets << "[Core] "
            << "Replaying frames with " << height_ << " MIPI CSI2 packets.";
    ReportInfo(packets);
    KOVAStreamedString bytes;
    bytes << "[Core] "
          << "Each packet has " << pck_len_byte_ << " Bytes.";
    ReportInfo(bytes);
    InitOutputChannel(pck_len_byte_, height_);
    if (verbose_)
        ReportInfo("[Core] Output channel initialized.");
    Rest(kRestAfterInitUs);
}

void KOVAImage2Qir::process_mipi_csi2_image(KOVAIOElt* element)
{
    const uint8_t* stream = element->Stream8();
    const int64_t used = element->IOEltUsedSizeInBytes();
    if (!CheckCsi2Stream(stream, used))
        return;
    VXTQirPacketPropertiesT properties = PacketPropertiesOf(element);
    const uint16_t padding = calculatePaddingBytes(static_cast<uint16_t>(pck_len_byte_ + MIPICSI2::CSI2_PREAMBLE_SIZE));
    const int64_t recordSize = int64_t{ MIPICSI2::CSI2_PREAMBLE_SIZE } + pck_len_byte_ + padding;

    int64_t position = MIPICSI2::FIRST_RECORD_OFFSET;
    uint16_t skipped = 0;
    for (uint32_t row = 0; row < csi2Records_; ++row) {
        const int64_t headerEnd = position + static_cast<int64_t>(MIPICSI2::SHORT_PACKET_RECORD_SIZE);
        const uint8_t* record = stream + position;
        const bool isShort = headerEnd <= used && MIPICSI2::isShortPacket(record[MIPICSI2::CSI2_PREAMBLE_SIZE]);
        if (isShort && skip_short_packages_) {
            ++skipped;
            position = headerEnd;
            continue;
        }
        if (isShort && !warnedShortPackets_) {
            if (!SendSucceeded(FlushBlocks()))
                return;
            warnedShortPackets_ = true;
            KOVAStreamedString text;
            text << "[Core] Frame " << frameCounter_ << ": the byte stream holds short packets (record " << row
                 << " at byte offset " << position
                 << "), which are sent as if they were long; set SkipCsi2ShortPackages to true.";
            ReportWarning(text);
        }
        const int64_t sendStart =
            skip_preamble_ ? position + static_cast<int64_t>(MIPICSI2::CSI2_PREAMBLE_SIZE) : position;
        const int64_t sendLength = skip_preamble_ ? int64_t{ pck_len_byte_ } : recordSize;
        if (sendStart + sendLength > used) {
            if (!SendSucceeded(FlushBlocks()))
                return;
            KOVAStreamedString text;
            text << "[Core] Frame " << frameCounter_ << ": byte stream of " << used
                 << " bytes ends inside packet record " << row << " at byte offset " << position
                 << "; sent up to the last whole record, frame not counted.";
            ReportWarning(text);
            return;
        }
        properties.lineNumber = static_cast<uint16_t>(row - skipped);
        if (!SendSucceeded(QueueBlock(properties, stream + sendStart, static_cast<uint16_t>(sendLength))))
            return;
        position += recordSize;
    }
    if (!SendSucceeded(FlushBlocks()))
        return;
    ++frameCounter_;
}

bool KOVAImage2Qir::ReadCsi2Frame(KOVAIOElt* element, KOVAMipiCsi2Frame& frame)
{
    const void* data = element->Data();
    const int64_t used = element->IOEltUsedSizeInBytes();
    if (!data || used < static_cast<int64_t>(sizeof(KOVAMipiCsi2Frame))) {
        KOVAStreamedString text;
        text << "[Core] Frame " << frameCounter_ << ": sample of " << used << " bytes cannot hold a "
             << KOVA_MIPI_CSI2_FRAME_TYPE_NAME << " record of " << sizeof(KOVAMipiCsi2Frame)
             << " bytes; frame not sent.";
        if (firstTime_)
            Error(text);
        ReportWarning(text);
        return false;
    }
    std::memcpy(&frame, data, sizeof frame);
    if (!frame.data)
        frame.dataLength = 0;
    return true;
}

void KOVAImage2Qir::init_kova_csi2_frame(KOVAIOElt* element)
{
    KOVAMipiCsi2Frame frame{};
    ReadCsi2Frame(element, frame);

    uint32_t count = 0;
    uint16_t longest = 0;
    MIPICSI2::DataChunkIterator walk(frame.data, frame.dataLength);
    MIPICSI2::DataChunkDescriptor chunk;
    while (walk.next(chunk)) {
        if (!chunk.isDataChunk() || !chunk.hasBusData())
            continue;
        if (chunk.busPayloadLength() > longest)
            longest = chunk.busPayloadLength();
        ++count;
        if (!find(used_csi2_types_, chunk.sub_type)) {
            used_data_types_.push_back(chunk.type);
            used_csi2_types_.push_back(chunk.sub_type);
        }
    }
    if (walk.malformed()) {
        KOVAStreamedString text;
        text << "[Core] Frame " << frameCounter_ << ": chunk container walk ended at byte offset " << walk.endOffset()
             << " of " << frame.dataLength << ": " << MIPICSI2::walkEndToString(walk.end())
             << "; the geometry counts the chunks before it.";
        ReportWarning(text);
    }

    KOVAStreamedString summary;
    summary << "[Core] Will send the following data packets: ";
    for (size_t i = 0; i < used_csi2_types_.size(); ++i) {
        summary << "\n"
                << "Data Type 0x" << KOVA::Hex{ static_cast<uint8_t>(used_data_types_[i]) } << " ("
                << MIPICSI2::typeToString(used_data_types_[i]) << ")"
                << "\n"
                << "CSI2 Type 0x" << KOVA::Hex{ static_cast<uint8_t>(used_csi2_types_[i]) } << " ("
                << MIPICSI2::subTypeToString(used_csi2_types_[i]) << ")";
    }
    summary << ".\nTotal packets per frame: " << count;
    ReportInfo(summary);

    height_ = static_cast<uint16_t>(count);
    InitOutputChannel(longest, height_);
    if (verbose_)
        ReportInfo("[Core] Output channel initialized.");
    Rest(kRestAfterInitUs);
}

void KOVAImage2Qir::process_kova_csi2_frame(KOVAIOElt* element)
{
    KOVAMipiCsi2Frame frame{};
    if (!ReadCsi2Frame(element, frame))
        return;
    VXTQirPacketPropertiesT properties = PacketPropertiesOf(element);
    uint16_t sent = 0;
    bool warned = false;
    // A failed send ends the sample: a warning while stopping, else an error.
    const auto failed = [this](VXTQirError result) {
        if (result == NoError)
            return false;
        if (IsDying()) {
            ReportWarning((KOVAString("[Core] ") + VXQIR_ErrorToString(result)).c_str());
            return true;
        }
        pendingBlocks_.clear();
        Error((KOVAString("[Core] ") + VXQIR_ErrorToString(result)).c_str());
        return true;
    };
    MIPICSI2::DataChunkIterator walk(frame.data, frame.dataLength);
    MIPICSI2::DataChunkDescriptor chunk;
    while (walk.next(chunk)) {
        if (!chunk.isDataChunk())
            continue;
        if (!find(used_data_types_, chunk.type) || !find(used_csi2_types_, chunk.sub_type))
            continue;
        if (!chunk.hasBusData()) {
            if (!warned) {
                if (failed(FlushBlocks()))
                    return;
                warned = true;
                KOVAStreamedString text;
                text << "[Core] Frame " << frameCounter_ << ": data chunk of " << chunk.length
                     << " bytes at byte offset " << chunk.offset << " is too short for a bus payload; skipped.";
                ReportWarning(text);
            }
            continue;
        }
        properties.lineNumber = sent;
        if (failed(QueueBlock(properties, chunk.busPayload(), chunk.busPayloadLength())))
            return;
        ++sent;
    }
    if (failed(FlushBlocks()))
        return;
    if (walk.malformed()) {
        if (!warned) {
            KOVAStreamedString text;
            text << "[Core] Frame " << frameCounter_ << ": chunk container walk ended at byte offset "
                 << walk.endOffset() << " of " << frame.dataLength << ": " << MIPICSI2::walkEndToString(walk.end())
                 << "; frame not sent whole, not counted.";
            ReportWarning(text);
        }
        return;
    }
    if (sent != height_ && !warned) {
        KOVAStreamedString text;
        text << "Frame " << frameCounter_ << ": Packet number (" << sent << ") does not match height (" << height_
             << ")";
        ReportWarning(text);
    }
    ++frameCounter_;
}
