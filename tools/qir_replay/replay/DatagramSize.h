// DatagramSize.h - the unit client's "MaxPayLoadSize" for a link MTU, chosen
// so that the library cuts every line into equal datagrams.
//
// The library cuts a block (a line) longer than "MaxPayLoadSize" into
// datagrams carrying the largest multiple of 8 within it, the rest last.
// Equal datagrams matter for speed: the kernel hands a run of equal-sized
// datagrams over as one message (UDP segmentation offload), and a short
// last datagram ends the run at every line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qir::replay {

class Recording;

/// Bytes of every sensor datagram besides its payload: IPv4 header (20),
/// UDP header (8) and the sensor header (24).
inline constexpr uint32_t kDatagramOverheadBytes = 20 + 8 + 24;
/// --mtu bounds: the smallest MTU every IPv4 link carries, and the largest
/// IPv4 datagram.
inline constexpr uint32_t kSmallestMtu = 68;
inline constexpr uint32_t kLargestMtu = 65535;
/// The unit client's "MaxPayLoadSize" when none is set: whole 1080p RGB
/// lines in one datagram within a 9000-byte MTU.
inline constexpr uint16_t kDefaultMaxPayload = 8948;

/// How lines of one length go out.
struct DatagramPlan {
    uint16_t maxPayloadSize = kDefaultMaxPayload; ///< "MaxPayLoadSize" of the unit client
    uint32_t lineBytes = 0;                       ///< bytes of each block (line or CSI-2 packet)
    uint32_t datagramsPerLine = 0;                ///< 0 for empty lines
    bool equal = true;                            ///< every datagram of a line carries the same bytes
};

/// The datagrams a line of `lineBytes` is cut into under `maxPayloadSize`,
/// by the library's rule.
DatagramPlan planFor(uint16_t maxPayloadSize, uint32_t lineBytes);

/// The largest "MaxPayLoadSize" within `mtu` (kSmallestMtu .. kLargestMtu;
/// the payload room is mtu - kDatagramOverheadBytes) under which a line of
/// `lineBytes` goes out in equal datagrams:
///  - a line that fits the room whole: the whole room, one datagram a line;
///  - else the largest multiple of 8 within the room that divides the line
///    (so the line is k equal pieces), if it is at least half the largest
///    multiple of 8 within the room (smaller pieces would more than double
///    the datagrams);
///  - else (the line is no multiple of 8, or has no such divisor) the largest
///    multiple of 8 within the room: full pieces and a shorter last one.
DatagramPlan planForMtu(uint32_t mtu, uint32_t lineBytes);

/// The plan of a recording's channel for its blocks (Recording::sendShape):
/// planForMtu under `mtu`, else the unit client's default. A JPEG sequence
/// keeps its packet size as "MaxPayLoadSize" (the player's packets are
/// cut to it), whatever the MTU.
DatagramPlan recordingPlan(const Recording& recording, std::optional<uint32_t> mtu);

/// Whether the unit client of `recording` is given the plan's
/// "MaxPayLoadSize" (with --mtu, except for JPEG sequences, whose player
/// choice sets it).
bool setsMaxPayload(const Recording& recording, std::optional<uint32_t> mtu);

/// One line for the summary: "MaxPayLoadSize 1440 (MTU 1500): lines of 5760
/// bytes in 4 equal datagrams".
std::string planText(const DatagramPlan& plan, std::optional<uint32_t> mtu);

} // namespace qir::replay
