#include "ChunkFrameBuilder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vxqir::frames {

namespace {

using namespace MIPICSI2;

constexpr size_t MAX_BUS_PAYLOAD = MAX_CHUNK_LENGTH - BUS_DATA_OVERHEAD;
constexpr char IMAGER_TYPE[8] = { 'Q', 'I', 'R', 'T', 'E', 'S', 'T', 0 };
constexpr uint32_t EMBEDDED_LINE_BASE = 0x10000; // pattern lines of embedded data, apart from the data lines

/// Writes one bus-data chunk whose bus payload is filled by `fill`; returns
/// its length.
template <typename Fill>
size_t writeBusChunk(uint8_t* at, Type type, SubType subType, size_t payloadBytes, uint64_t timestampNs, Fill fill,
                     std::vector<ChunkRecord>* chunks, size_t offset)
{
    const auto length = static_cast<uint16_t>(BUS_DATA_OVERHEAD + payloadBytes);
    ChunkHeader header{};
    write_uint16_t_be(header.length, length);
    header.type = type;
    header.sub_type = subType;
    std::memcpy(at, &header, sizeof header);
    const BusDataHeader busHeader{ timestampNs, 0 };
    std::memcpy(at + CHUNK_HEADER_SIZE, &busHeader, sizeof busHeader);
    fill(std::span<uint8_t>(at + BUS_PAYLOAD_OFFSET, payloadBytes));
    const BusDataFooter footer{ 0 };
    std::memcpy(at + BUS_PAYLOAD_OFFSET + payloadBytes, &footer, sizeof footer);
    if (chunks)
        chunks->push_back({ offset, length, type, subType });
    return length;
}

} // namespace

std::string checkChunkFrameSpec(const ChunkFrameSpec& spec)
{
    if (spec.payloadBytes > MAX_BUS_PAYLOAD)
        return "payloadBytes " + std::to_string(spec.payloadBytes) + " is above " + std::to_string(MAX_BUS_PAYLOAD) +
            " (a chunk length has 16 bits)";
    if (spec.embeddedBytes > MAX_BUS_PAYLOAD)
        return "embeddedBytes " + std::to_string(spec.embeddedBytes) + " is above " + std::to_string(MAX_BUS_PAYLOAD);
    DataChunkDescriptor probe;
    probe.type = spec.type;
    probe.sub_type = spec.subType;
    if (!probe.isDataChunk())
        return std::string("type ") + typeToString(spec.type) + " with subtype " + subTypeToString(spec.subType) +
            " does not make data chunks";
    if (spec.subType == SubType::EmbeddedData)
        return "subType EmbeddedData is given with embeddedChunks, not as the data subtype";
    return {};
}

size_t chunkFrameSize(const ChunkFrameSpec& spec)
{
    size_t size = 0;
    if (spec.metaData)
        size += CHUNK_HEADER_SIZE + META_DATA_SIZE;
    size += ((spec.frameStart ? 1u : 0u) + (spec.frameEnd ? 1u : 0u)) * BUS_DATA_OVERHEAD;
    size += size_t{ spec.embeddedChunks } * (BUS_DATA_OVERHEAD + spec.embeddedBytes);
    size += size_t{ spec.dataChunks } * (BUS_DATA_OVERHEAD + spec.payloadBytes);
    return size;
}

size_t writeChunkFrame(std::span<uint8_t> out, const ChunkFrameSpec& spec, uint32_t frameIndex, uint64_t timestampNs,
                       std::vector<ChunkRecord>* chunks)
{
    if (const std::string why = checkChunkFrameSpec(spec); !why.empty())
        throw std::invalid_argument(why);
    const size_t size = chunkFrameSize(spec);
    if (out.size() < size)
        throw std::length_error("chunk container of " + std::to_string(size) + " bytes does not fit " +
                                std::to_string(out.size()) + " bytes");
    if (chunks) {
        chunks->clear();
        chunks->reserve(size_t{ spec.dataChunks } + spec.embeddedChunks + 3);
    }
    uint8_t* base = out.data();
    size_t at = 0;
    const auto nothing = [](std::span<uint8_t>) {};

    if (spec.metaData) {
        const auto length = static_cast<uint16_t>(CHUNK_HEADER_SIZE + META_DATA_SIZE);
        ChunkHeader header{};
        write_uint16_t_be(header.length, length);
        header.type = Type::MetaData;
        header.sub_type = spec.subType;
        std::memcpy(base + at, &header, sizeof header);
        MetaData meta{};
        meta.pixel_format = spec.subType;
        meta.raw_color_scheme = spec.colorScheme;
        std::memcpy(meta.imager_type, IMAGER_TYPE, sizeof meta.imager_type);
        meta.compression = Compression::Uncompressed;
        meta.width = spec.width;
        meta.height = spec.height;
        meta.frame_counter = frameIndex;
        std::memcpy(base + at + CHUNK_HEADER_SIZE, &meta, sizeof meta);
        if (chunks)
            chunks->push_back({ at, length, Type::MetaData, spec.subType });
        at += length;
    }
    if (spec.frameStart)
        at += writeBusChunk(base + at, spec.type, SubType::FrameStart, 0, timestampNs, nothing, chunks, at);
    for (uint32_t e = 0; e < spec.embeddedChunks; ++e) {
        at += writeBusChunk(
            base + at, spec.type, SubType::EmbeddedData, spec.embeddedBytes, timestampNs,
            [&](std::span<uint8_t> payload) { fillPattern(payload, spec.pattern, frameIndex, EMBEDDED_LINE_BASE + e); },
            chunks, at);
    }
    for (uint32_t line = 0; line < spec.dataChunks; ++line) {
        at += writeBusChunk(
            base + at, spec.type, spec.subType, spec.payloadBytes, timestampNs,
            [&](std::span<uint8_t> payload) { fillPattern(payload, spec.pattern, frameIndex, line); }, chunks, at);
    }
    if (spec.frameEnd)
        at += writeBusChunk(base + at, spec.type, SubType::FrameEnd, 0, timestampNs, nothing, chunks, at);
    return at;
}

ChunkFrame buildChunkFrame(const ChunkFrameSpec& spec, uint32_t frameIndex, uint64_t timestampNs)
{
    if (const std::string why = checkChunkFrameSpec(spec); !why.empty())
        throw std::invalid_argument(why);
    ChunkFrame frame;
    frame.bytes.resize(chunkFrameSize(spec));
    writeChunkFrame(frame.bytes, spec, frameIndex, timestampNs, &frame.chunks);
    return frame;
}

KOVAMipiCsi2Frame chunkFrameRecord(const ChunkFrameSpec& spec, uint32_t frameIndex, int64_t timestampUs)
{
    KOVAMipiCsi2Frame record{};
    record.ts = timestampUs;
    record.pixelFormat = static_cast<uint8_t>(spec.subType);
    record.rawColorScheme = static_cast<uint8_t>(spec.colorScheme);
    uint64_t imager = 0;
    std::memcpy(&imager, IMAGER_TYPE, sizeof imager);
    record.imagerType = imager;
    record.compression = static_cast<uint8_t>(Compression::Uncompressed);
    record.width = spec.width;
    record.height = spec.height;
    record.frameCounter = frameIndex;
    record.dataLength = 0;
    record.data = nullptr;
    return record;
}

ChunkSelection ChunkSelection::fromFirstFrame(std::span<const uint8_t> container)
{
    ChunkSelection selection;
    DataChunkIterator walk(container.data(), container.size());
    DataChunkDescriptor chunk;
    while (walk.next(chunk)) {
        if (!chunk.isDataChunk())
            continue;
        ++selection.dataChunks;
        if (std::find(selection.subTypes.begin(), selection.subTypes.end(), chunk.sub_type) ==
            selection.subTypes.end()) {
            selection.types.push_back(chunk.type);
            selection.subTypes.push_back(chunk.sub_type);
        }
    }
    return selection;
}

bool ChunkSelection::selects(Type type, SubType subType) const
{
    return std::find(types.begin(), types.end(), type) != types.end() &&
        std::find(subTypes.begin(), subTypes.end(), subType) != subTypes.end();
}

std::vector<PacketBytes> chunkSentPackets(std::span<const uint8_t> container, const ChunkSelection& selection)
{
    std::vector<PacketBytes> packets;
    DataChunkIterator walk(container.data(), container.size());
    DataChunkDescriptor chunk;
    while (walk.next(chunk)) {
        if (!chunk.isDataChunk() || !chunk.hasBusData() || !selection.selects(chunk.type, chunk.sub_type))
            continue;
        packets.emplace_back(chunk.busPayload(), chunk.busPayloadLength());
    }
    return packets;
}

uint64_t chunkSentChecksum(std::span<const uint8_t> container, const ChunkSelection& selection)
{
    return checksumOfPackets(chunkSentPackets(container, selection));
}

FrameSums chunkSentSums(std::span<const uint8_t> container, const ChunkSelection& selection)
{
    return sumsOfPackets(chunkSentPackets(container, selection));
}

} // namespace vxqir::frames
