// EmulatorStats.h - what the emulator saw, as copied out by snapshots.
#pragma once

#include "ControlRequest.h"
#include "FrameAssembler.h"
#include "PlayoutModel.h"
#include "ReplayFifo.h"
#include "SensorDatagram.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace vxqir::sim {

/// State and counters of one channel at one moment.
struct ChannelSnapshot {
    uint8_t channel = 0;

    // Protocol state as set by the client and the fault injection.
    bool available = true;
    bool enabled = false;
    bool statusEnabled = false;
    bool statusSuppressed = false;
    bool loss = false;
    bool fifoFrozen = false;
    uint16_t frameWidth = 0;
    uint16_t frameHeight = 0;
    ReplayTimes times;

    // Sensor data.
    uint64_t datagrams = 0;              ///< valid datagrams
    uint64_t bytes = 0;                  ///< their payload bytes
    uint64_t blocks = 0;                 ///< valid datagrams marked end of line
    uint64_t datagramsWhileDisabled = 0; ///< valid datagrams that arrived while the channel was disabled or unavailable
    uint64_t badDatagrams = 0;
    std::array<uint64_t, DATAGRAM_FAULT_COUNT> badByReason{};
    uint64_t packetGaps = 0;     ///< places where packet numbers were skipped
    uint64_t packetsMissing = 0; ///< datagrams skipped in all gaps
    uint64_t packetsLate = 0;    ///< reordered or repeated datagrams
    bool anyDatagram = false;
    uint16_t lastPacketNumber = 0; ///< rx_packet_num of the status
    AssemblyCounters frames;
    bool frameOpen = false; ///< a frame has begun and not ended yet

    // Replay FIFO.
    uint32_t fifoCapacity = 0;
    uint32_t fifoUsed = 0;
    FifoCounters fifo;                  ///< with the frames played and not played
    uint64_t framesAwaitingPlayout = 0; ///< complete frames with lines still in the FIFO

    // Control.
    uint64_t requests = 0;       ///< valid requests addressed to this channel
    uint64_t statusMessages = 0; ///< periodic status messages sent

    // Checksums (filled in from the checksum worker).
    uint64_t framesChecksummed = 0;    ///< frames whose digest was taken
    uint64_t framesNotChecksummed = 0; ///< passed over while the checksum worker was behind
    /// FNV-1a checksum of the latest frame checksummed (empty in
    /// UnitEmulator::counters()).
    std::optional<uint64_t> lastChecksum;
    uint16_t lastChecksumFrameNumber = 0;
    std::optional<uint64_t> lastDigest; ///< digest (FrameDigest) of the same frame
};

/// Counters of the control socket.
struct ControlSnapshot {
    uint64_t requests = 0; ///< valid requests of any channel
    uint64_t malformedRequests = 0;
    std::array<uint64_t, REQUEST_FAULT_COUNT> malformedByReason{};
    uint64_t requestsForUnservedChannels = 0;
    uint64_t repliesSent = 0;
    uint64_t repliesDropped = 0; ///< dropped by fault injection
    uint64_t repliesDelayed = 0;
    uint64_t repliesWrongType = 0;
    uint64_t sendErrors = 0; ///< replies or status messages the system refused
    uint64_t statusMessagesSent = 0;
};

/// Everything at one moment.
struct EmulatorSnapshot {
    ControlSnapshot control;
    std::vector<ChannelSnapshot> channels;
};

} // namespace vxqir::sim
