// ReplayRun.h - one replay: opens the recordings, runs the graph in-process
// (into the embedded emulated unit unless a unit is named), shows progress
// and ends with a summary per channel and an exit status.
#pragma once

#include "ChannelWatch.h"
#include "DatagramSize.h"
#include "PauseClock.h"
#include "ReplayGraph.h"
#include "UnitLossResume.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace qir::replay {

/// What happened on one channel.
struct ChannelSummary {
    unsigned channel = 0;
    unsigned unit = 0;    ///< index of the unit (in the order of --unit)
    size_t unitCount = 1; ///< units of the run
    std::string recording;
    std::string format;
    DatagramPlan datagrams; ///< how its lines are cut into datagrams
    uint64_t framesInRecording = 0;
    uint64_t framesToSend = 0;   ///< frames per pass x passes
    uint64_t framesHandedOn = 0; ///< by the player (read from the file and written to the graph)
    uint64_t bytesHandedOn = 0;
    uint64_t framesSent = 0;         ///< by the unit client, whole (the library's count)
    uint64_t framesAcknowledged = 0; ///< of those, the unit acknowledged (its status's rx_packet_num)
    uint64_t datagramsSent = 0;
    uint64_t datagramsAcknowledged = 0;
    uint64_t statusCount = 0;             ///< the unit's statuses for the channel
    uint32_t fifoEntries = 0;             ///< the unit's FIFO size (0: not initialised)
    uint32_t fifoFreeAtEnd = 0;           ///< free FIFO count in the unit's latest status
    ChannelEnd end = ChannelEnd::Running; ///< Delivered: acknowledged and played out of the FIFO
    std::string endText;                  ///< why it failed (empty when delivered)
    std::vector<Stall> stalls;            ///< times the FIFO stood still with lines due
    Lateness lateness;                    ///< frames acknowledged after their play time
    // Damage that ended the recording's index early (--keep-going):
    std::string damage;                    ///< what and where (empty: none)
    uint64_t damageOffset = 0;             ///< first byte not replayed
    uint64_t bytesSkipped = 0;             ///< from there to the end of the file
    std::optional<uint64_t> framesSkipped; ///< estimated from the mean frame size
    bool unitClientFailed = false;
    // With the embedded unit:
    bool emulated = false;
    uint64_t framesComplete = 0;
    uint64_t framesIncomplete = 0;
    uint64_t checksumsMatched = 0;
    uint64_t checksumsMismatched = 0;
    uint64_t bytesAtUnit = 0;
    bool loss = false;
    uint64_t framesPlayed = 0;    ///< every line played out of the unit's FIFO
    uint64_t framesNotPlayed = 0; ///< a line skipped, overflowed or never queued
    uint64_t fifoOverflows = 0;   ///< lines that found the FIFO full
    // Play times at the embedded unit, against the frames' timestamps:
    uint64_t framesTimed = 0;        ///< frames played with a time to meet
    double lateMaxMs = 0.0;          ///< the latest frame
    double lateMeanMs = 0.0;         ///< mean over the frames timed
    uint64_t framesLateOver1ms = 0;  ///< frames played more than 1 ms after their time
    uint64_t firstFramePlayedNs = 0; ///< unit time the first frame played
    uint64_t lastFramePlayedNs = 0;  ///< unit time the last frame played

    // From the unit client and the unit's status (any unit):
    uint64_t firstFrame = 0;   ///< first frame of the recording replayed (--from)
    uint64_t endFrame = 0;     ///< frames before this one (--to)
    int64_t replayStartUs = 0; ///< unit time of the replay start (0: none given)
    /// Sends that ended in a time-out: the unit client library's count of
    /// its send calls that found no FIFO room within the stream time-out
    /// (each try of a send the unit client repeats counts).
    uint64_t sendTimeouts = 0;
    /// Video files: frames that were due before the decoder had them
    /// (nullopt: another format).
    std::optional<uint64_t> framesNotDecodedInTime;
    /// Seconds from the first frame handed on to the last (nullopt: fewer
    /// than two frames), and the rates over them: frames per second and
    /// megabytes (10^6 bytes) per second handed on to the unit client.
    std::optional<double> sendingSeconds;
    std::optional<double> framesPerSecond;
    std::optional<double> megabytesPerSecond;
    /// The recording's index of the last frame handed on, and the checksum
    /// (FNV-1a 64) a unit reports for it after the unit client sent it, to
    /// compare with a unit's "checksum=" (nullopt: none handed on, or the
    /// recording changed).
    std::optional<uint64_t> lastFrame;
    std::optional<uint64_t> lastFrameChecksum;
    bool statusSeen = false;     ///< the player saw the unit's status
    uint32_t lowestFifoFree = 0; ///< lowest free FIFO count in the unit's status
    bool lossFlagSeen = false;   ///< the unit's status showed the loss flag
};

struct ReplayResult {
    int exitCode = 1;
    bool interrupted = false;
    std::string verdict;          ///< the verdict line's text after "verdict: " (empty: none reached)
    double durationSeconds = 0.0; ///< from the graph's start to its end
    /// The user's pauses (keys): how many and how long in all, in seconds
    /// (nullopt: no keys).
    std::optional<uint64_t> pauses;
    std::optional<double> pausedSeconds;
    ReplayOptions options; ///< what the replay ran with
    std::vector<ChannelSummary> channels;
    std::vector<std::string> errors;
    std::vector<std::string> failures; ///< why the verdict failed, one line each
    std::optional<uint32_t> mtu;       ///< --mtu, if given
    /// Units lost and found again (--on-unit-loss resume), in order.
    std::vector<Interruption> interruptions;
};

/// Runs the replay; every line for the user goes to `out` (progress and
/// summary) or `err` (errors). Exit codes: 0 delivered (every frame
/// acknowledged by the unit and played out of its FIFO, and, emulated,
/// complete with the source's checksums), 1 the unit or the network failed
/// (unreachable, lost, stalled, refused a channel) or the replay failed
/// otherwise, 2 bad input, 130 interrupted.
///
/// `pauses` (null: none) lets the user pause the replay, as the keys do
/// (KeyControls): the keys line is printed when the replay starts, the
/// players hold while it is paused and shift the frames after a pause by
/// it, the progress lines show the pause, and play times, lateness and
/// stalls are judged with the frames' shifts.
ReplayResult runReplay(const ReplayOptions& options, std::FILE* out, std::FILE* err, PauseClock* pauses = nullptr);

/// The summary as JSON text.
std::string summaryJsonText(const ReplayResult& result);

} // namespace qir::replay
