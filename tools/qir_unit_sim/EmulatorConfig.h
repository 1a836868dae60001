// EmulatorConfig.h - everything that shapes one emulated unit.
#pragma once

#include "PacketCapture.h"
#include "PlayoutModel.h"
#include "UnitClock.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vxqir::sim {

enum class PlayoutKind : uint8_t { Immediate, LineRate, Timestamps };

/// Which playout model frees the FIFO entries.
struct PlayoutConfig {
    PlayoutKind kind = PlayoutKind::Immediate;
    double linesPerSecond = 0.0; ///< LineRate only; must then be positive
};

/// Builds the model; throws std::invalid_argument for a LineRate without a
/// positive rate.
std::unique_ptr<PlayoutModel> makePlayoutModel(const PlayoutConfig& config);
std::string_view playoutKindName(PlayoutKind kind);

/// Settings shared by every channel of the unit.
struct ChannelConfig {
    uint32_t fifoEntries = 2048;      ///< replay FIFO entries (total_fifo_entries)
    uint32_t bufferBytes = 64u << 20; ///< reported as total_buffer_size
    PlayoutConfig playout;
    bool ptpSynced = false;                     ///< status flag bit 2
    bool ptpActive = false;                     ///< status flag bit 3
    size_t maxFrameBytes = size_t{ 256 } << 20; ///< larger frames end as oversized
};

/// Faults applied to replies (never to periodic status messages).
struct ReplyFaults {
    double dropShare = 0.0;               ///< 0..1: share of replies not sent
    std::chrono::milliseconds delay{ 0 }; ///< every reply leaves this much later
    bool wrongResponseType = false;       ///< replies carry another command's response type
};

/// The configuration of one emulated unit.
struct EmulatorConfig {
    std::string controlIp = "127.0.0.1";
    uint16_t controlPort = 0; ///< 0: the system picks one (see UnitEmulator::controlPort)
    std::string dataIp = "127.0.0.1";
    uint16_t dataBasePort = 0; ///< 0: a random free range is picked
    /// The ports above as wishes: a control port, or a data range, that is
    /// in use is replaced as for 0 (UnitEmulator::controlPortReplaced and
    /// dataPortsReplaced tell).
    bool controlPortPreferred = false;
    bool dataPortsPreferred = false;
    unsigned channels = 1; ///< channels 0..channels-1 are served (1..256)
    ChannelConfig channel;
    /// Period of the status messages. Flow control lets a client have at most
    /// 80 % of the FIFO in flight until a status acknowledges it, so the
    /// period caps the rate the unit takes: 1 ms with 2048 entries allows
    /// about 1.6 million lines a second, 10 ms only a tenth of that (151
    /// frames/s of 1080 lines).
    std::chrono::milliseconds statusPeriod{ 1 };
    /// Fault: every periodic status leaves this much after it was taken, as
    /// from a unit whose status lags or over a link with latency.
    std::chrono::milliseconds statusDelay{ 0 };
    unsigned receiveThreads = 0; ///< 0: one per channel, at most 4
    /// SO_RCVBUF(FORCE) of each data socket. The kernel charges a 9 KB
    /// loopback datagram about 16 KB, so 256 MiB (granted as 512 MiB) hold
    /// about 32000 of them: a quarter second at full loopback speed.
    int socketReceiveBuffer = 256 << 20;

    ReplyFaults replyFaults;
    bool statusStopped = false; ///< start with periodic status suppressed
    std::vector<unsigned> unavailableChannels;
    bool fifoFrozen = false; ///< start with every FIFO frozen
    uint64_t seed = 1;       ///< seeds the reply-drop decisions

    /// Completed frames waiting for their checksum; when more pile up the
    /// oldest waiting one is passed over (counted), unless
    /// `checksumEveryFrame` makes the receive path wait instead.
    size_t checksumBacklogFrames = 64;
    bool checksumEveryFrame = false;

    /// The unit clock; null means the host's wall clock.
    std::shared_ptr<const UnitClock> clock;

    /// Records every datagram the unit receives and sends (control, status,
    /// data) when set. Owned by the caller, who commits it after stop().
    std::shared_ptr<PacketCapture> capture;
};

} // namespace vxqir::sim
