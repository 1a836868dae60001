// The unit client's walk of grabber byte streams over arbitrary bytes: the
// first byte picks the properties ("SkipCsi2ShortPackages",
// "SkipCsi2Preamble"), the rest is the stream. The packet length is taken
// from the first long packet, as the first sample declares it. Every record
// the walk hands out lies inside the stream, records follow one another,
// every unit packet the check lets out lies inside the stream and has the
// declared length, and the walk ends.
#include "unit_client/csi2/GrabberFrameCheck.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // A copy of exactly the stream's bytes, so that any read past it is caught.
    const std::vector<uint8_t> stream(data + 1, data + size);
    if (stream.size() < MIPICSI2::GRABBER_HEADER_SIZE)
        return 0;
    const MIPICSI2::sxpf_image_header_s header = MIPICSI2::readGrabberHeader(stream.data());

    // The raw walk: contiguous records inside the stream, at most `rows`.
    MIPICSI2::GrabberRecordWalk walk(stream.data(), stream.size(), header.rows, header.bpp);
    MIPICSI2::GrabberRecord record;
    size_t expectedOffset = MIPICSI2::FIRST_RECORD_OFFSET;
    uint32_t firstLong = 0;
    while (walk.next(record)) {
        check(record.offset == expectedOffset);
        check(record.offset + MIPICSI2::SHORT_PACKET_RECORD_SIZE <= stream.size());
        check(MIPICSI2::readUint32Le(stream.data(), record.offset) == MIPICSI2::CSI2_PREAMBLE);
        if (!record.isShort) {
            check(record.offset + MIPICSI2::CSI2_PREAMBLE_SIZE + record.packetLength <= stream.size());
            check(record.size >= MIPICSI2::CSI2_PREAMBLE_SIZE + record.packetLength);
            if (firstLong == 0)
                firstLong = record.packetLength;
        }
        expectedOffset = record.offset + record.size;
    }
    check(walk.end() != MIPICSI2::RecordWalkEnd::NotYet);
    check(walk.recordsRead() <= header.rows);
    check(walk.malformed() || walk.recordsRead() == header.rows);
    if (header.bpp == 0 || firstLong == 0 || firstLong > 0xFFFF)
        return 0;

    // The check and the send loop of the component on top of it.
    const MIPICSI2::GrabberSendShape shape{ .packetLength = static_cast<uint16_t>(firstLong),
                                            .bpp = header.bpp,
                                            .skipShortPackets = (data[0] & 1) != 0,
                                            .skipPreamble = (data[0] & 2) != 0 };
    const MIPICSI2::GrabberFrameCheck result = MIPICSI2::checkGrabberFrame(stream.data(), stream.size(), shape);
    check(result.lines <= result.sendable);
    check(result.sendable <= header.rows);
    if (result.fault == MIPICSI2::GrabberFrameCheck::Fault::None)
        check(result.sendable == header.rows);
    else
        check(result.faultRecord == result.sendable);
    MIPICSI2::GrabberRecordWalk send(stream.data(), stream.size(), header.rows, header.bpp);
    uint64_t sum = 0;
    uint32_t lines = 0;
    for (uint32_t n = 0; n < result.sendable; ++n) {
        check(send.next(record));
        if (record.isShort && shape.skipShortPackets)
            continue;
        check(record.isShort || record.packetLength == shape.packetLength);
        const size_t start = record.offset + MIPICSI2::sendOffset(shape);
        const uint32_t length = MIPICSI2::sendLength(shape);
        check(start + length <= stream.size());
        for (size_t i = start; i < start + length; ++i)
            sum += stream[i];
        ++lines;
    }
    check(lines == result.lines);
    return sum == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;
}
