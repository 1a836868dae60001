#include "GrabberFrameBuilder.h"

#include "Csi2PacketChecks.h"
#include "unit_client/csi2/GrabberImageHeader.h"

#include <cstring>
#include <stdexcept>

namespace vxqir::frames {

namespace {

using MIPICSI2::CSI2_CHECKSUM_SIZE;
using MIPICSI2::CSI2_HEADER_SIZE;
using MIPICSI2::CSI2_PREAMBLE_SIZE;
using MIPICSI2::GRABBER_HEADER_SIZE;

constexpr uint8_t GRABBER_HEADER_VERSION = 1;

uint16_t longPacketLength(const GrabberFrameSpec& spec)
{
    return static_cast<uint16_t>(MIPICSI2::longPacketLength(spec.wordCount));
}

uint16_t longRecordPadding(const GrabberFrameSpec& spec)
{
    return MIPICSI2::paddingToWholePixels(static_cast<uint16_t>(CSI2_PREAMBLE_SIZE + longPacketLength(spec)), spec.bpp);
}

size_t writeShortRecord(uint8_t* at, uint8_t dataIdentifier, uint16_t value)
{
    const uint32_t preamble = MIPICSI2::CSI2_PREAMBLE;
    std::memcpy(at, &preamble, CSI2_PREAMBLE_SIZE);
    const MIPICSI2::Csi2Header header{ dataIdentifier, value, csi2HeaderEcc(dataIdentifier, value) };
    std::memcpy(at + CSI2_PREAMBLE_SIZE, &header, CSI2_HEADER_SIZE);
    return MIPICSI2::SHORT_PACKET_RECORD_SIZE;
}

} // namespace

std::string checkGrabberFrameSpec(const GrabberFrameSpec& spec)
{
    if (spec.bpp == 0)
        return "bpp is 0: a stream needs a pixel size to pad its records";
    if (spec.dataType < 0x10 || spec.dataType > 0x3F)
        return "dataType " + std::to_string(spec.dataType) + " is not a long packet data type (0x10-0x3F)";
    if (spec.virtualChannel > 3)
        return "virtualChannel " + std::to_string(spec.virtualChannel) + " is above 3";
    if (spec.camId > 15 || spec.cardId > 15)
        return "camId and cardId must be 0-15";
    if (spec.longPackets == 0)
        return "longPackets is 0: a frame needs at least one line";
    // The unit packet (preamble, packet and padding) must fit the 16-bit
    // sizes the unit client declares.
    if (CSI2_PREAMBLE_SIZE + MIPICSI2::longPacketLength(spec.wordCount) + 8 > 0xFFFF)
        return "wordCount " + std::to_string(spec.wordCount) + " is too long for a 16-bit unit packet";
    if (uint32_t{ spec.longPackets } + spec.frameStart + spec.frameEnd > 0xFFFF)
        return "longPackets " + std::to_string(spec.longPackets) + " with short packets exceeds 65535 records";
    return {};
}

uint16_t grabberRecordCount(const GrabberFrameSpec& spec)
{
    return static_cast<uint16_t>(spec.longPackets + (spec.frameStart ? 1 : 0) + (spec.frameEnd ? 1 : 0));
}

size_t grabberFrameSize(const GrabberFrameSpec& spec)
{
    const size_t longRecord = CSI2_PREAMBLE_SIZE + longPacketLength(spec) + longRecordPadding(spec);
    const size_t shortRecords = (spec.frameStart ? 1u : 0u) + (spec.frameEnd ? 1u : 0u);
    return GRABBER_HEADER_SIZE + longRecord * spec.longPackets + shortRecords * MIPICSI2::SHORT_PACKET_RECORD_SIZE;
}

size_t writeGrabberFrame(std::span<uint8_t> out, const GrabberFrameSpec& spec, uint32_t frameIndex,
                         uint64_t timestampNs, std::vector<GrabberRecord>* records)
{
    if (const std::string why = checkGrabberFrameSpec(spec); !why.empty())
        throw std::invalid_argument(why);
    const size_t size = grabberFrameSize(spec);
    if (out.size() < size)
        throw std::length_error("grabber frame of " + std::to_string(size) + " bytes does not fit " +
                                std::to_string(out.size()) + " bytes");
    if (records) {
        records->clear();
        records->reserve(grabberRecordCount(spec));
    }

    MIPICSI2::sxpf_image_header_s header{};
    header.frame_size = static_cast<uint32_t>(size);
    header.version = GRABBER_HEADER_VERSION;
    header.cam_id = spec.camId & 0xFu;
    header.card_id = spec.cardId & 0xFu;
    header.payload_offset = static_cast<uint16_t>(GRABBER_HEADER_SIZE);
    header.bpp = spec.bpp;
    header.sample_size = static_cast<uint8_t>((spec.bpp + 7u) / 8u);
    header.rows = grabberRecordCount(spec);
    header.columns = static_cast<uint16_t>(uint32_t{ spec.wordCount } * 8u / spec.bpp);
    header.ts_start_lo = static_cast<uint32_t>(timestampNs);
    header.ts_start_hi = static_cast<uint32_t>(timestampNs >> 32);
    header.ts_end_lo = header.ts_start_lo;
    header.ts_end_hi = header.ts_start_hi;
    header.frame_counter = frameIndex;
    std::memcpy(out.data(), &header, sizeof header);

    const uint8_t longId = csi2DataIdentifier(spec.virtualChannel, spec.dataType);
    const uint16_t frameNumber = static_cast<uint16_t>(frameIndex % 0xFFFFu + 1u);
    const uint16_t packetLength = longPacketLength(spec);
    const uint16_t padding = longRecordPadding(spec);
    size_t at = GRABBER_HEADER_SIZE;

    if (spec.frameStart) {
        if (records)
            records->push_back({ at, Csi2RecordKind::Short, static_cast<uint16_t>(CSI2_HEADER_SIZE), 0 });
        at += writeShortRecord(out.data() + at, csi2DataIdentifier(spec.virtualChannel, CSI2_FRAME_START), frameNumber);
    }
    const uint32_t preamble = MIPICSI2::CSI2_PREAMBLE;
    const MIPICSI2::Csi2Header longHeader{ longId, spec.wordCount, csi2HeaderEcc(longId, spec.wordCount) };
    for (uint32_t line = 0; line < spec.longPackets; ++line) {
        if (records)
            records->push_back({ at, Csi2RecordKind::Long, packetLength, padding });
        uint8_t* record = out.data() + at;
        std::memcpy(record, &preamble, CSI2_PREAMBLE_SIZE);
        std::memcpy(record + CSI2_PREAMBLE_SIZE, &longHeader, CSI2_HEADER_SIZE);
        const std::span<uint8_t> payload(record + CSI2_PREAMBLE_SIZE + CSI2_HEADER_SIZE, spec.wordCount);
        fillPattern(payload, spec.pattern, frameIndex, line);
        const uint16_t crc = csi2PayloadChecksum(payload);
        uint8_t* checksum = payload.data() + payload.size();
        checksum[0] = static_cast<uint8_t>(crc & 0xFF);
        checksum[1] = static_cast<uint8_t>(crc >> 8);
        std::memset(checksum + CSI2_CHECKSUM_SIZE, 0, padding);
        at += CSI2_PREAMBLE_SIZE + packetLength + padding;
    }
    if (spec.frameEnd) {
        if (records)
            records->push_back({ at, Csi2RecordKind::Short, static_cast<uint16_t>(CSI2_HEADER_SIZE), 0 });
        at += writeShortRecord(out.data() + at, csi2DataIdentifier(spec.virtualChannel, CSI2_FRAME_END), frameNumber);
    }
    return at;
}

GrabberFrame buildGrabberFrame(const GrabberFrameSpec& spec, uint32_t frameIndex, uint64_t timestampNs)
{
    if (const std::string why = checkGrabberFrameSpec(spec); !why.empty())
        throw std::invalid_argument(why);
    GrabberFrame frame;
    frame.bytes.resize(grabberFrameSize(spec));
    writeGrabberFrame(frame.bytes, spec, frameIndex, timestampNs, &frame.records);
    return frame;
}

std::vector<PacketBytes> grabberSentPackets(std::span<const uint8_t> bytes, const std::vector<GrabberRecord>& records,
                                            Csi2SendOptions options)
{
    std::vector<PacketBytes> packets;
    packets.reserve(records.size());
    for (const GrabberRecord& record : records) {
        if (record.kind == Csi2RecordKind::Short) {
            if (!options.skipShortPackets)
                throw std::invalid_argument("a stream with short packets is sent as recorded only with "
                                            "short packets skipped");
            continue;
        }
        const size_t length =
            options.skipPreamble ? record.packetLength : CSI2_PREAMBLE_SIZE + record.packetLength + record.padding;
        const size_t start = options.skipPreamble ? record.offset + CSI2_PREAMBLE_SIZE : record.offset;
        if (start > bytes.size() || length > bytes.size() - start)
            throw std::out_of_range("record at offset " + std::to_string(record.offset) + " runs past the stream");
        packets.push_back(bytes.subspan(start, length));
    }
    return packets;
}

uint64_t grabberSentChecksum(const GrabberFrame& frame, Csi2SendOptions options)
{
    return checksumOfPackets(grabberSentPackets(frame.bytes, frame.records, options));
}

uint16_t grabberDeclaredLines(const GrabberFrameSpec& spec, Csi2SendOptions options)
{
    return options.skipShortPackets ? spec.longPackets : grabberRecordCount(spec);
}

uint16_t grabberPacketBytes(const GrabberFrameSpec& spec, Csi2SendOptions options)
{
    const uint16_t packet = longPacketLength(spec);
    if (options.skipPreamble)
        return packet;
    return static_cast<uint16_t>(CSI2_PREAMBLE_SIZE + packet + longRecordPadding(spec));
}

} // namespace vxqir::frames
