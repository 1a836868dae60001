// GrabberFrameCheck.h - decides, before anything of a grabber frame is sent,
// which of its packet records go out as unit packets and whether the frame
// can go out whole.
//
//   const MIPICSI2::GrabberSendShape shape{ .packetLength = 3846, .bpp = 16 };
//   const MIPICSI2::GrabberFrameCheck check = MIPICSI2::checkGrabberFrame(stream, used, shape);
//   send the first check.sendable records (GrabberRecordWalk); see Fault.
//
// Every record is read by its own header (GrabberRecordWalk) over the `rows`
// of the frame's own grabber header; every unit packet has the declared
// packet length, so a long packet of another length makes the frame one that
// the unit's geometry cannot carry.
#pragma once

#include "GrabberRecordWalk.h"

#include <cstddef>
#include <cstdint>

namespace MIPICSI2 {

/// How the records of a run go out, fixed by its first sample.
struct GrabberSendShape {
    uint16_t packetLength = 0;     ///< declared length of every packet: header, payload, checksum
    uint8_t bpp = 0;               ///< bits per pixel; records are padded to whole pixels
    bool skipShortPackets = false; ///< short packets are left out; else sent as long ones
    bool skipPreamble = true;      ///< the packet alone; else preamble, packet and padding
};

/// Offset in a record of the bytes a unit packet carries.
constexpr size_t sendOffset(const GrabberSendShape& shape)
{
    return shape.skipPreamble ? CSI2_PREAMBLE_SIZE : 0;
}

/// Bytes one unit packet carries (more than 65535 only for a shape that the
/// first sample's check refuses).
constexpr uint32_t sendLength(const GrabberSendShape& shape)
{
    const uint32_t unpadded = CSI2_PREAMBLE_SIZE + uint32_t{ shape.packetLength };
    return shape.skipPreamble ? shape.packetLength : unpadded + recordPadding(unpadded, shape.bpp);
}

/// What a grabber frame holds, from a walk of its records.
struct GrabberFrameCheck {
    enum class Fault : uint8_t {
        None,
        LengthDiffers, ///< a long packet's length differs from the declared one: nothing is sent
        NoPreamble,    ///< a record lacks its preamble (the layout is broken): nothing is sent
        StreamEnds,    ///< the stream ends inside a record: the records before it are sent
    };
    Fault fault = Fault::None;
    bool shortReadAsLong = false; ///< StreamEnds at a short record sent as a long one
    uint32_t sendable = 0;        ///< records before the fault (all the frame's `rows` without one)
    uint32_t lines = 0;           ///< unit packets among them (short packets left out when skipped)
    uint32_t faultRecord = 0;     ///< record number of the fault
    size_t faultOffset = 0;       ///< its byte offset in the stream
    uint32_t faultLength = 0;     ///< LengthDiffers: the packet length found
};

/// Walks the frame of `used` bytes (at least the grabber header) and says
/// which records go out. Reads nothing outside the stream. Thread-safe (no
/// state).
inline GrabberFrameCheck checkGrabberFrame(const uint8_t* stream, size_t used, const GrabberSendShape& shape)
{
    using Fault = GrabberFrameCheck::Fault;
    GrabberFrameCheck check;
    const auto fault = [&check](Fault kind, uint32_t record, size_t offset) {
        check.fault = kind;
        check.faultRecord = record;
        check.faultOffset = offset;
        return check;
    };
    if (stream == nullptr || used < GRABBER_HEADER_SIZE)
        return fault(Fault::StreamEnds, 0, 0);
    GrabberRecordWalk walk(stream, used, readGrabberHeader(stream).rows, shape.bpp);
    GrabberRecord record;
    while (walk.next(record)) {
        if (record.isShort && shape.skipShortPackets) {
            ++check.sendable;
            continue;
        }
        if (!record.isShort && record.packetLength != shape.packetLength) {
            check.faultLength = record.packetLength;
            return fault(Fault::LengthDiffers, record.index, record.offset);
        }
        // A short record read as long takes the bytes after its header with it.
        if (used - record.offset < sendOffset(shape) + sendLength(shape)) {
            check.shortReadAsLong = record.isShort;
            return fault(Fault::StreamEnds, record.index, record.offset);
        }
        ++check.sendable;
        ++check.lines;
    }
    switch (walk.end()) {
    case RecordWalkEnd::NoPreamble:
        return fault(Fault::NoPreamble, walk.recordsRead(), walk.endOffset());
    case RecordWalkEnd::HeaderCut:
    case RecordWalkEnd::PacketCut:
        return fault(Fault::StreamEnds, walk.recordsRead(), walk.endOffset());
    default:
        return check;
    }
}

} // namespace MIPICSI2
