// ReplayGraph.h - what qir-replay runs: options, the unit's addresses and
// the graph of components (player, converter for raw frames, unit client)
// per recording, as graph-file text that pck-host also runs.
#pragma once

#include "Recording.h"

#include <cstdint>
#include <optional>
#include <string>
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

struct ReplayOptions {
    std::vector<std::string> recordings;   ///< recording i replays on channel i
    std::optional<RecordingFormat> format; ///< nullopt: by content
    RawPixelFormat rawPixels = RawPixelFormat::Yuv422;
    double fps = 0.0;   ///< 0: grabber header times (raw frames need a rate)
    double rate = 1.0;  ///< playout speed
    int64_t frames = 0; ///< frames per pass (0: all)
    int64_t loops = 1;
    double leadSeconds = 1.0;
    std::optional<Endpoint> unit; ///< nullopt: the embedded emulated unit
    std::optional<Endpoint> data;
    bool quiet = false;
    bool verbose = false;
    std::string summaryJson;
    std::string writeGraph;
    int64_t startDelayUs = 1000000;
    bool keepGoing = false; ///< replay the whole frames before damage
};

/// Raw frames replay at this rate when --fps is not given.
inline constexpr double kDefaultRawFps = 30.0;

/// The graph file for `recordings` (opened from options.recordings), for a
/// unit at `control` and `data`. `packagesInProcess` leaves the packages
/// list out (the program's own components are used).
std::string replayGraphText(const ReplayOptions& options, const std::vector<const Recording*>& recordings,
                            const Endpoint& control, const Endpoint& data, bool packagesInProcess);

} // namespace qir::replay
