// ReplayGraph.h - what qir-replay runs: options, the unit's addresses and
// the graph of components (player, converter for raw frames, unit client)
// per recording, as graph-file text that pck-host also runs.
#pragma once

#include "Recording.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qir::replay {

/// An IPv4 address with a port.
struct Endpoint {
    std::string ip;
    uint16_t port = 0;
};

/// "A.B.C.D" or "A.B.C.D:PORT"; the port defaults to `defaultPort`.
/// Throws std::invalid_argument naming what is wrong.
Endpoint parseEndpoint(const std::string& text, uint16_t defaultPort);

/// Unit ports when --unit and --data name none (the unit's own defaults).
inline constexpr uint16_t kDefaultControlPort = 65024;
inline constexpr uint16_t kDefaultDataBasePort = 61440;
/// Addresses of the embedded emulated unit.
inline constexpr const char* kEmbeddedControlIp = "127.0.0.2";
inline constexpr const char* kEmbeddedDataIp = "127.0.0.3";

/// One end of the frames to replay: a time after the recording's first
/// frame ("1.5s") or a frame index ("#10").
struct FrameBound {
    bool isFrame = false;
    uint64_t frame = 0;
    double seconds = 0.0;
};

/// "1.5s", "0s", "250ms" or "#10". Throws std::invalid_argument naming what
/// is wrong.
FrameBound parseFrameBound(const std::string& text);

/// One --map: a recording on a channel of a unit.
struct ChannelMap {
    std::string file;
    unsigned channel = 0;
    unsigned unit = 0; ///< index of the unit in the order of --unit
};

/// "FILE=CHANNEL" or "FILE=CHANNEL@UNIT" of --map, the channel 0 to 255,
/// the unit an index from 0 (default 0). Throws std::invalid_argument
/// naming what is wrong.
ChannelMap parseChannelMap(const std::string& text);

struct ReplayOptions {
    std::vector<std::string> recordings;   ///< the recordings of the run
    std::vector<unsigned> channels;        ///< unit channel of recordings[i] (empty: channel i)
    std::vector<unsigned> unitIndexes;     ///< unit of recordings[i], an index into units (empty: unit 0)
    std::optional<RecordingFormat> format; ///< nullopt: by content
    RawPixelFormat rawPixels = RawPixelFormat::Yuv422;
    qir::video::VideoChoice video;  ///< video files: the stream and the pixel layout sent
    double fps = 0.0;               ///< 0: grabber header times (raw frames need a rate)
    double rate = 1.0;              ///< playout speed; 0: as fast as flow control allows (--rate max)
    int64_t frames = 0;             ///< frames per pass (0: all)
    int64_t loops = 1;              ///< passes through each recording (0: endless, until stopped)
    std::optional<FrameBound> from; ///< first frame: at or after it
    std::optional<FrameBound> to;   ///< frames before it
    double leadSeconds = 1.0;       ///< replay start = unit time + lead
    /// --mtu: the unit clients' "MaxPayLoadSize" is chosen for it
    /// (DatagramSize.h); nullopt: their default.
    std::optional<uint32_t> mtu;
    /// Control and data addresses of the units, the i-th data address
    /// belonging to the i-th unit; none: the embedded emulated unit.
    std::vector<Endpoint> units;
    std::vector<Endpoint> datas;
    bool quiet = false;
    bool verbose = false;
    std::string summaryJson;
    std::string writeGraph;
    std::string capture;     ///< the embedded unit's datagrams into this file ("": none)
    std::string report;      ///< the timing report (HTML) into this file ("": none)
    std::string commandLine; ///< as given, for the report
    int64_t startDelayUs = 0;
    bool keepGoing = false; ///< replay the whole frames before damage
    /// No valid status from a unit this long ends the replay (unit lost).
    double unitTimeoutSeconds = 1.0;
    /// A channel whose FIFO holds lines due to play and does not play them
    /// this long ends the replay (stalled).
    double stallTimeoutSeconds = 5.0;
    /// Frames played later than this fail the run (nullopt: lateness is
    /// only reported).
    std::optional<double> maxLateMs;
    /// A replay that skipped damaged frames (keepGoing) may still pass.
    bool allowDamage = false;
    /// A lost unit ends the replay (false), or the replay waits for it to
    /// answer again and resumes (true; --on-unit-loss resume).
    bool resumeOnUnitLoss = false;
    /// How long a resuming replay waits for a lost unit to answer again.
    double resumeWithinSeconds = 60.0;
};

/// Raw frames replay at this rate when --fps is not given.
inline constexpr double kDefaultRawFps = 30.0;

/// The frame rate that times `recording` (0: its recorded times).
double timingFps(const ReplayOptions& options, const Recording& recording);

/// Frames [first, end) of a recording picked by --from and --to.
struct FrameRange {
    size_t first = 0;
    size_t end = 0;
};

/// The frames of `recording` that --from and --to pick (all without them).
/// Throws std::invalid_argument when they pick none, naming the recording.
FrameRange selectFrames(const ReplayOptions& options, const Recording& recording);

/// The largest frame a sample can carry, in bytes (a sample holds at most
/// 2 GiB, less room for its record).
inline constexpr uint64_t kLargestFrameBytes = 0x7FFFFFFFu - 4096u;

/// Why the replay refuses `recording` although it could be read, naming
/// the file, frame and byte offset; nullopt when it can be replayed: a frame
/// larger than a sample can hold, or (when its recorded times are used)
/// a time before the previous frame's or more than a day after it.
std::optional<std::string> replayRefusal(const ReplayOptions& options, const Recording& recording);

/// Unit channel of recording `i`.
unsigned channelOf(const ReplayOptions& options, size_t i);

/// Index of the unit of recording `i`.
unsigned unitOf(const ReplayOptions& options, size_t i);

/// The addresses of one unit.
struct UnitAddress {
    Endpoint control;
    Endpoint data;
};

/// The graph file for `recordings` (opened from options.recordings), for
/// the units at `units` (recording i goes to units[unitOf(options, i)]). `packagesInProcess` leaves the packages
/// list out (the program's own components are used).
///
/// Every channel starts at one unit time, which the first player finds and
/// hands to the others: from `unitClockOffsetUs` (unit time minus engine
/// time, measured before the run) plus the lead when it is not 0, else
/// from its unit client's first status plus the lead.
std::string replayGraphText(const ReplayOptions& options, const std::vector<const Recording*>& recordings,
                            const std::vector<UnitAddress>& units, bool packagesInProcess, int64_t unitClockOffsetUs);

} // namespace qir::replay
