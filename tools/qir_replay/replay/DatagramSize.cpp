#include "DatagramSize.h"

#include "Recording.h"

#include <algorithm>

namespace qir::replay {

DatagramPlan planFor(uint16_t maxPayloadSize, uint32_t lineBytes)
{
    DatagramPlan plan{ .maxPayloadSize = maxPayloadSize, .lineBytes = lineBytes, .datagramsPerLine = 0, .equal = true };
    if (lineBytes == 0)
        return plan;
    if (lineBytes <= maxPayloadSize) {
        plan.datagramsPerLine = 1;
        return plan;
    }
    // Every datagram but the last carries `full` bytes.
    const uint32_t full = maxPayloadSize - maxPayloadSize % 8u;
    if (full == 0) {
        // Below 8 the component refuses the size; nothing to cut by.
        plan.equal = false;
        return plan;
    }
    plan.datagramsPerLine = (lineBytes + full - 1) / full;
    plan.equal = lineBytes % full == 0;
    return plan;
}

DatagramPlan planForMtu(uint32_t mtu, uint32_t lineBytes)
{
    const uint32_t room = std::clamp(mtu, kSmallestMtu, kLargestMtu) - kDatagramOverheadBytes;
    if (lineBytes <= room)
        return planFor(static_cast<uint16_t>(room), lineBytes);
    const uint32_t largest = room - room % 8;
    if (lineBytes % 8 == 0) {
        // Fewest pieces first: the first that is whole and a multiple of 8
        // is the largest size. Pieces below half the largest would more
        // than double the datagrams; the unequal cut is cheaper then.
        for (uint32_t pieces = (lineBytes + room - 1) / room; lineBytes / pieces * 2 >= largest; ++pieces) {
            if (lineBytes % pieces == 0 && (lineBytes / pieces) % 8 == 0)
                return planFor(static_cast<uint16_t>(lineBytes / pieces), lineBytes);
        }
    }
    return planFor(static_cast<uint16_t>(largest), lineBytes);
}

DatagramPlan recordingPlan(const Recording& recording, std::optional<uint32_t> mtu)
{
    const uint32_t lineBytes = recording.sendShape().width;
    if (recording.format() == RecordingFormat::Jpeg)
        return planFor(static_cast<uint16_t>(recording.codedPacketBytes()), lineBytes);
    return mtu ? planForMtu(*mtu, lineBytes) : planFor(kDefaultMaxPayload, lineBytes);
}

bool setsMaxPayload(const Recording& recording, std::optional<uint32_t> mtu)
{
    return mtu && recording.format() != RecordingFormat::Jpeg;
}

std::string planText(const DatagramPlan& plan, std::optional<uint32_t> mtu)
{
    std::string text = "MaxPayLoadSize " + std::to_string(plan.maxPayloadSize);
    text += mtu ? " (MTU " + std::to_string(*mtu) + ")" : " (the unit client's default)";
    text += ": lines of " + std::to_string(plan.lineBytes) + " bytes in " + std::to_string(plan.datagramsPerLine);
    if (plan.datagramsPerLine == 1)
        text += " datagram";
    else if (plan.equal)
        text += " equal datagrams";
    else
        text += " datagrams, the last shorter";
    return text;
}

} // namespace qir::replay
