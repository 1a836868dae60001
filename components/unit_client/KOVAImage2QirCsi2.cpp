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

MIPICSI2::GrabberSendShape KOVAImage2Qir::Csi2SendShape() const
{
    return MIPICSI2::GrabberSendShape{ .packetLength = pck_len_byte_,
                                       .bpp = bpp_,
                                       .skipShortPackets = skip_short_packages_,
                                       .skipPreamble = skip_preamble_ };
}

KOVAString KOVAImage2Qir::GrabberFaultText(const MIPICSI2::GrabberFrameCheck& check, int64_t used) const
{
    using Fault = MIPICSI2::GrabberFrameCheck::Fault;
    KOVAStreamedString text;
    text << "[Core] Frame " << frameCounter_ << ": ";
    switch (check.fault) {
    case Fault::LengthDiffers:
        text << "packet record " << check.faultRecord << " at byte offset " << check.faultOffset
             << " holds a long packet of " << check.faultLength << " bytes, not the " << pck_len_byte_
             << " bytes declared to the unit at the first sample";
        break;
    case Fault::NoPreamble:
        text << "packet record " << check.faultRecord << " at byte offset " << check.faultOffset
             << " does not start with the 0xB8B8B8B8 preamble";
        break;
    case Fault::StreamEnds:
        text << "byte stream of " << used << " bytes ends inside packet record " << check.faultRecord
             << " at byte offset " << check.faultOffset;
        if (check.shortReadAsLong)
            text << " (a short packet, sent as a long packet of " << pck_len_byte_
                 << " bytes while SkipCsi2ShortPackages is false)";
        break;
    case Fault::None:
        break;
    }
    return KOVAString(text);
}

void KOVAImage2Qir::init_mipi_csi2_image(KOVAIOElt* element)
{
    const uint8_t* stream = element->Stream8();
    const int64_t used = element->IOEltUsedSizeInBytes();
    CheckCsi2Stream(stream, used);
    ReportInfo("Sending MIPI CSI2 frames.");

    const MIPICSI2::sxpf_image_header_s header = MIPICSI2::readGrabberHeader(stream);
    if (header.bpp == 0)
        Error("[Core] Grabber header field bpp is 0: packet records cannot be padded to whole pixels, aborting");
    MIPICSI2::Csi2Header first = MIPICSI2::readCsi2Header(stream, MIPICSI2::FIRST_PACKET_HEADER_OFFSET);
    if (skip_short_packages_) {
        // Short packets are left out, so the packet length comes from the
        // first long packet (a frame usually opens with a frame-start short
        // packet, whose word count is no length).
        MIPICSI2::GrabberRecordWalk walk(stream, static_cast<size_t>(used), header.rows, header.bpp);
        MIPICSI2::GrabberRecord record;
        bool found = false;
        while (!found && walk.next(record))
            found = !record.isShort;
        if (!found) {
            KOVAStreamedString text;
            text << "[Core] Frame 0: no long packet among the " << walk.recordsRead() << " of " << header.rows
                 << " packet records read";
            if (walk.malformed())
                text << " (then " << MIPICSI2::recordWalkEndToString(walk.end()) << " at byte offset "
                     << walk.endOffset() << ")";
            text << "; no packet length and no frame height can be declared to the unit, aborting";
            Error(text);
        }
        first = record.header;
    } else if (header.rows > 0 && MIPICSI2::isShortPacket(first.type)) {
        KOVAStreamedString text;
        text << "[Core] Frame 0: the first packet record is a short packet (data identifier 0x"
             << KOVA::Hex{ first.type }
             << "), whose word count is no packet length; set SkipCsi2ShortPackages to true to leave short "
                "packets out, aborting";
        Error(text);
    }
    const uint32_t packetLength = MIPICSI2::longPacketLength(first.packet_length);
    if (packetLength > 0xFFFF) {
        KOVAStreamedString text;
        text << "[Core] First packet of " << packetLength
             << " bytes does not fit the unit's 16-bit line length, aborting";
        Error(text);
    }
    if (!skip_preamble_) {
        // Each unit packet carries preamble, packet and padding: all of it
        // must fit the 16-bit packet size, or every record goes out cut.
        const uint32_t unpadded = MIPICSI2::CSI2_PREAMBLE_SIZE + packetLength;
        const uint32_t padding = MIPICSI2::recordPadding(unpadded, header.bpp);
        if (unpadded + padding > 0xFFFF) {
            KOVAStreamedString text;
            text << "[Core] Packet records of " << MIPICSI2::CSI2_PREAMBLE_SIZE << " + " << packetLength << " + "
                 << padding << " = " << unpadded + padding
                 << " bytes (preamble, packet, padding) do not fit the unit's 16-bit packet size of at most 65535 "
                    "bytes while SkipCsi2Preamble is false; set SkipCsi2Preamble to true to send the packets "
                    "alone, aborting";
            Error(text);
        }
    }
    bpp_ = header.bpp;
    pck_len_byte_ = static_cast<uint16_t>(packetLength);
    height_ = header.rows;

    // The first sample sets the geometry: it must go out whole itself.
    const MIPICSI2::GrabberFrameCheck check =
        MIPICSI2::checkGrabberFrame(stream, static_cast<size_t>(used), Csi2SendShape());
    if (check.fault != MIPICSI2::GrabberFrameCheck::Fault::None) {
        KOVAString text = GrabberFaultText(check, used);
        if (check.shortReadAsLong)
            text += "; set SkipCsi2ShortPackages to true to leave short packets out";
        Error((text + "; the first sample cannot go out whole, aborting").c_str());
    }
    if (skip_short_packages_) {
        // The unit sees long packets only: declare as many lines as the
        // first frame has long packets, so that its last long packet ends
        // the frame at the unit.
        height_ = static_cast<uint16_t>(check.lines);
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

bool KOVAImage2Qir::process_mipi_csi2_image(KOVAIOElt* element)
{
    using Fault = MIPICSI2::GrabberFrameCheck::Fault;
    const uint8_t* stream = element->Stream8();
    const int64_t used = element->IOEltUsedSizeInBytes();
    if (!CheckCsi2Stream(stream, used))
        return false;
    // Walk the whole frame before sending: a frame whose layout differs
    // from the declared one is not sent at all.
    const MIPICSI2::GrabberSendShape shape = Csi2SendShape();
    const MIPICSI2::GrabberFrameCheck check = MIPICSI2::checkGrabberFrame(stream, static_cast<size_t>(used), shape);
    if (check.fault == Fault::LengthDiffers || check.fault == Fault::NoPreamble) {
        ReportWarning((GrabberFaultText(check, used) + "; frame not sent.").c_str());
        return false;
    }

    VXTQirPacketPropertiesT properties = PacketPropertiesOf(element);
    const uint16_t rows = MIPICSI2::readGrabberHeader(stream).rows;
    MIPICSI2::GrabberRecordWalk walk(stream, static_cast<size_t>(used), rows, bpp_);
    MIPICSI2::GrabberRecord record;
    uint16_t line = 0;
    for (uint32_t n = 0; n < check.sendable && walk.next(record); ++n) {
        if (record.isShort && skip_short_packages_)
            continue;
        if (record.isShort && !warnedShortPackets_) {
            if (!SendSucceeded(FlushBlocks()))
                return false;
            warnedShortPackets_ = true;
            KOVAStreamedString text;
            text << "[Core] Frame " << frameCounter_ << ": the byte stream holds short packets (record " << record.index
                 << " at byte offset " << record.offset
                 << "), which are sent as if they were long; set SkipCsi2ShortPackages to true.";
            ReportWarning(text);
        }
        properties.lineNumber = line++;
        const uint8_t* start = stream + record.offset + MIPICSI2::sendOffset(shape);
        if (!SendSucceeded(QueueBlock(properties, start, static_cast<uint16_t>(MIPICSI2::sendLength(shape)))))
            return false;
    }
    if (!SendSucceeded(FlushBlocks()))
        return false;
    if (check.fault == Fault::StreamEnds) {
        ReportWarning(
            (GrabberFaultText(check, used) + "; sent up to the last whole record, frame not counted.").c_str());
        return false;
    }
    if (check.lines != height_) {
        KOVAStreamedString text;
        text << "Frame " << frameCounter_ << ": Packet number (" << check.lines << ") does not match height ("
             << height_ << ")";
        ReportWarning(text);
    }
    return true;
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

bool KOVAImage2Qir::process_kova_csi2_frame(KOVAIOElt* element)
{
    KOVAMipiCsi2Frame frame{};
    if (!ReadCsi2Frame(element, frame))
        return false;
    VXTQirPacketPropertiesT properties = PacketPropertiesOf(element);
    uint16_t sent = 0;
    bool tooShort = false;
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
            if (!tooShort) {
                if (failed(FlushBlocks()))
                    return false;
                tooShort = true;
                KOVAStreamedString text;
                text << "[Core] Frame " << frameCounter_ << ": data chunk of " << chunk.length
                     << " bytes at byte offset " << chunk.offset << " is too short for a bus payload; skipped.";
                ReportWarning(text);
            }
            continue;
        }
        properties.lineNumber = sent;
        if (failed(QueueBlock(properties, chunk.busPayload(), chunk.busPayloadLength())))
            return false;
        ++sent;
    }
    if (failed(FlushBlocks()))
        return false;
    if (walk.malformed()) {
        KOVAStreamedString text;
        text << "[Core] Frame " << frameCounter_ << ": chunk container walk ended at byte offset " << walk.endOffset()
             << " of " << frame.dataLength << ": " << MIPICSI2::walkEndToString(walk.end())
             << "; frame not sent whole, not counted.";
        ReportWarning(text);
        return false;
    }
    if (sent != height_) {
        KOVAStreamedString text;
        text << "Frame " << frameCounter_ << ": Packet number (" << sent << ") does not match height (" << height_
             << ")";
        ReportWarning(text);
        WarnFewerChunksThanHeight(sent);
    }
    // A data chunk that carried no payload left a line out: not a whole frame.
    return !tooShort;
}
