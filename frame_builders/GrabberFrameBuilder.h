// GrabberFrameBuilder.h - grabber byte streams of MIPI CSI-2 frames, as a
// frame grabber stores them and the unit client replays them.
//
// A stream is the 64-byte grabber header followed by one record per CSI-2
// packet (layout: components/unit_client/csi2/GrabberImageHeader.h). The
// builder writes long packets with a correct header error-correction byte and
// payload checksum, pads each long record to whole pixels of `bpp` bits, and
// can frame the long packets with frame-start and frame-end short packets.
//
//   GrabberFrameSpec spec;              // 1080 packets of 3840 payload bytes, bpp 16
//   GrabberFrame frame = buildGrabberFrame(spec, 0);
//   Csi2SendOptions send;               // as the unit client's properties say
//   uint64_t sum = checksumOfPackets(grabberSentPackets(frame, send));
#pragma once

#include "BytePattern.h"
#include "FrameChecksum.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vxqir::frames {

/// Shape and content of the grabber frames of one recording.
struct GrabberFrameSpec {
    uint16_t wordCount = 3840;   ///< payload bytes of every long packet (all long packets have this length)
    uint16_t longPackets = 1080; ///< long packets (lines) per frame
    uint8_t bpp = 16;            ///< bits per stored pixel; long records are padded to whole pixels; not 0
    uint8_t dataType = 0x2E;     ///< CSI-2 data type of the long packets (0x10-0x3F), default RAW16
    uint8_t virtualChannel = 0;  ///< 0-3
    bool frameStart = false;     ///< a frame-start short packet before the first long packet
    bool frameEnd = false;       ///< a frame-end short packet after the last long packet
    BytePattern pattern = BytePattern::Ramp;
    uint8_t camId = 0;  ///< 0-15
    uint8_t cardId = 0; ///< 0-15
};

enum class Csi2RecordKind : uint8_t { Long, Short };

/// Where one packet record lies in a stream.
struct GrabberRecord {
    size_t offset = 0; ///< of the record's preamble, from the stream start
    Csi2RecordKind kind = Csi2RecordKind::Long;
    uint16_t packetLength = 0; ///< packet bytes after the preamble: header, payload, checksum (4 for a short packet)
    uint16_t padding = 0;      ///< zero bytes after the packet (long records only)
};

/// A built stream with the place of each record.
struct GrabberFrame {
    std::vector<uint8_t> bytes;
    std::vector<GrabberRecord> records;
};

/// Why `spec` cannot be built, naming the field; empty when it can.
std::string checkGrabberFrameSpec(const GrabberFrameSpec& spec);

/// Records per frame, the grabber header's `rows`: long packets plus the
/// short packets asked for.
uint16_t grabberRecordCount(const GrabberFrameSpec& spec);

/// Bytes of one stream of `spec`.
size_t grabberFrameSize(const GrabberFrameSpec& spec);

/// Writes frame `frameIndex` of `spec` into `out` (at least
/// grabberFrameSize(spec) bytes) and returns the bytes written. The payload
/// of long packet l holds `spec.pattern` for (frameIndex, l); the grabber
/// header carries `rows`, `bpp`, `frame_size` (the whole stream, header
/// included), `payload_offset` 64, version 1, `sample_size` (bytes per
/// pixel, rounded up), `columns` (pixels per long packet), the start and end
/// time `timestampNs`, `frame_counter` = frameIndex and the camera and card
/// ids; the other fields are 0. A frame-start or frame-end packet carries
/// the frame number frameIndex mod 65535 + 1 as CSI-2 asks (never 0). When
/// `records` is given it receives the place of every record.
/// Throws std::invalid_argument (checkGrabberFrameSpec's text) for a spec
/// that cannot be built, std::length_error when `out` is too small.
size_t writeGrabberFrame(std::span<uint8_t> out, const GrabberFrameSpec& spec, uint32_t frameIndex,
                         uint64_t timestampNs, std::vector<GrabberRecord>* records = nullptr);

/// Builds frame `frameIndex` of `spec`; throws as writeGrabberFrame.
GrabberFrame buildGrabberFrame(const GrabberFrameSpec& spec, uint32_t frameIndex, uint64_t timestampNs = 0);

/// The unit client's MIPI CSI-2 options ("SkipCsi2Preamble",
/// "SkipCsi2ShortPackages"), with the same defaults.
struct Csi2SendOptions {
    bool skipPreamble = true;
    bool skipShortPackets = false;
};

/// The unit packets the unit client sends for a stream, in line order:
/// every long record as the packet alone (`skipPreamble`) or as preamble,
/// packet and padding; short records are left out. A stream with short
/// records is sent as recorded only with `skipShortPackets` (otherwise the
/// unit client walks a short record as if it were long); for such a stream
/// and options this throws std::invalid_argument. The spans borrow `bytes`.
std::vector<PacketBytes> grabberSentPackets(std::span<const uint8_t> bytes, const std::vector<GrabberRecord>& records,
                                            Csi2SendOptions options);

/// Checksum of what the unit receives for `frame` sent with `options`.
uint64_t grabberSentChecksum(const GrabberFrame& frame, Csi2SendOptions options);

/// Lines the unit client declares for streams of `spec`: all records
/// without `skipShortPackets`, the long records with it.
uint16_t grabberDeclaredLines(const GrabberFrameSpec& spec, Csi2SendOptions options);

/// Bytes of every unit packet of streams of `spec`: the long packet alone,
/// or with preamble and padding.
uint16_t grabberPacketBytes(const GrabberFrameSpec& spec, Csi2SendOptions options);

} // namespace vxqir::frames
