// ChunkFrameBuilder.h - MIPI CSI-2 frames as chunk containers, the form a
// KOVAMipiCsi2Frame sample points to.
//
// A container (layout: components/unit_client/csi2/MipiCsi2Chunks.h) built
// here holds, in this order: an optional meta-data chunk, an optional
// frame-start chunk, the embedded-data chunks asked for, the data chunks
// (one per CSI-2 long packet, its bus payload filled with a pattern) and an
// optional frame-end chunk. Frame-start, frame-end and embedded-data chunks
// are bus-data chunks too (header and footer; the frame markers have an empty
// bus payload) of the data chunks' type; the meta-data chunk carries the data
// chunks' subtype.
//
//   ChunkFrameSpec spec;                                  // 1080 RAW12 chunks
//   ChunkFrame first = buildChunkFrame(spec, 0);
//   ChunkSelection sent = ChunkSelection::fromFirstFrame(first.bytes);
//   uint64_t sum = checksumOfPackets(chunkSentPackets(first.bytes, sent));
#pragma once

#include "BytePattern.h"
#include "FrameChecksum.h"
#include "unit_client/csi2/KOVAMipiCsi2Frame.h"
#include "unit_client/csi2/MipiCsi2Chunks.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vxqir::frames {

/// Shape and content of the chunk containers of one recording.
struct ChunkFrameSpec {
    uint16_t dataChunks = 1080;   ///< data chunks (CSI-2 long packets) per frame
    uint16_t payloadBytes = 2880; ///< bus payload bytes of each data chunk (at most 65519)
    MIPICSI2::Type type = MIPICSI2::Type::UncompressedRAWDenslyPacked;
    MIPICSI2::SubType subType = MIPICSI2::SubType::RAW12;
    bool frameStart = true;      ///< a frame-start chunk before the data
    bool frameEnd = true;        ///< a frame-end chunk after the data
    uint16_t embeddedChunks = 0; ///< embedded-data chunks (subtype EmbeddedData) before the data chunks
    uint16_t embeddedBytes = 64; ///< bus payload bytes of each embedded-data chunk
    bool metaData = false;       ///< a meta-data chunk first
    uint16_t width = 1920;       ///< picture size, for the meta data and the frame record
    uint16_t height = 1080;
    MIPICSI2::RAWColorScheme colorScheme = MIPICSI2::RAWColorScheme::RGGB;
    BytePattern pattern = BytePattern::Ramp;
};

/// Where one chunk lies in a container.
struct ChunkRecord {
    size_t offset = 0;
    uint16_t length = 0; ///< whole chunk, header included
    MIPICSI2::Type type{};
    MIPICSI2::SubType subType{};
};

/// A built container with the place of each chunk.
struct ChunkFrame {
    std::vector<uint8_t> bytes;
    std::vector<ChunkRecord> chunks;
};

/// Why `spec` cannot be built, naming the field; empty when it can.
std::string checkChunkFrameSpec(const ChunkFrameSpec& spec);

/// Bytes of one container of `spec`.
size_t chunkFrameSize(const ChunkFrameSpec& spec);

/// Writes the container of frame `frameIndex` into `out` (at least
/// chunkFrameSize(spec) bytes) and returns the bytes written. Every bus-data
/// chunk carries `timestampNs` and zero error flags; the bus payload of data
/// chunk l holds `spec.pattern` for (frameIndex, l), that of embedded chunk e
/// the pattern for (frameIndex, 0x10000 + e). The meta data carries the
/// spec's subtype, colour scheme, size, imager type "QIRTEST", frame counter
/// frameIndex and no error flags. When `chunks` is given it receives the
/// place of every chunk. Throws std::invalid_argument
/// (checkChunkFrameSpec's text) or std::length_error when `out` is too small.
size_t writeChunkFrame(std::span<uint8_t> out, const ChunkFrameSpec& spec, uint32_t frameIndex, uint64_t timestampNs,
                       std::vector<ChunkRecord>* chunks = nullptr);

/// Builds the container of frame `frameIndex`; throws as writeChunkFrame.
ChunkFrame buildChunkFrame(const ChunkFrameSpec& spec, uint32_t frameIndex, uint64_t timestampNs = 0);

/// The sample record for a container of `spec`: time, pixel format, colour
/// scheme, imager type, size and frame counter filled in; `dataLength` and
/// `data` are the caller's (0 and null here).
KOVAMipiCsi2Frame chunkFrameRecord(const ChunkFrameSpec& spec, uint32_t frameIndex, int64_t timestampUs);

/// The chunk kinds the unit client sends, as it learns them from the first
/// frame of a run: for each data chunk (not meta data, not compressed, not a
/// frame start or end) whose subtype is new, its type and its subtype. A
/// later chunk is sent when its type is among `types` and its subtype among
/// `subTypes`, each tested on its own.
struct ChunkSelection {
    std::vector<MIPICSI2::Type> types;
    std::vector<MIPICSI2::SubType> subTypes;
    uint16_t dataChunks = 0; ///< data chunks of the first frame: the lines declared to the unit

    static ChunkSelection fromFirstFrame(std::span<const uint8_t> container);
    bool selects(MIPICSI2::Type type, MIPICSI2::SubType subType) const;
};

/// The unit packets the unit client sends for `container`: the bus payload
/// of every selected data chunk, in order. The walk stops at a malformed
/// chunk, as the unit client's does. The spans borrow `container`.
std::vector<PacketBytes> chunkSentPackets(std::span<const uint8_t> container, const ChunkSelection& selection);

/// Checksum of what the unit receives for `container`.
uint64_t chunkSentChecksum(std::span<const uint8_t> container, const ChunkSelection& selection);
/// Checksum and digest of what the unit receives for `container`.
FrameSums chunkSentSums(std::span<const uint8_t> container, const ChunkSelection& selection);

} // namespace vxqir::frames
