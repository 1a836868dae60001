// FrameDumper.h - writes complete frames to files so a person can look at
// what arrived.
#pragma once

#include "CompletedFrame.h"
#include "PixelLayout.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

namespace vxqir::sim {

struct DumpConfig {
    std::filesystem::path directory;
    std::optional<PixelFormat> pixelFormat; ///< also write a PNG in this layout
    uint64_t maxFramesPerChannel = 1000;    ///< later frames are not written
};

struct DumpCounters {
    uint64_t rawFiles = 0;
    uint64_t pngFiles = 0;
    uint64_t pngSkipped = 0; ///< frames whose lines do not fit the pixel layout
    uint64_t errors = 0;
};

/// A frame observer that writes each complete frame's bytes (line order) to
/// DIR/chC_frameSSSSSS_numNNNNN.raw, with a PNG next to it when a pixel
/// layout is given and every line holds exactly width pixels of it, and
/// appends "channel sequence frame_number bytes checksum" to DIR/index.txt.
///
/// Failures are counted and the first few are printed to stderr; they never
/// stop the emulator.
///
/// Single-writer: the checksum thread calls operator(); counters() may be
/// read from any thread.
class FrameDumper {
public:
    /// Creates the directory if needed. Throws std::runtime_error naming it
    /// and the reason when it cannot be created or written.
    explicit FrameDumper(DumpConfig config);
    ~FrameDumper();
    FrameDumper(const FrameDumper&) = delete;
    FrameDumper& operator=(const FrameDumper&) = delete;

    void operator()(const CompletedFrame& frame, uint64_t checksum);

    DumpCounters counters() const;

private:
    void fail(const std::string& message);

    DumpConfig config_;
    FILE* index_ = nullptr;
    // Written by the checksum thread only; relaxed loads and stores suffice
    // because each counter stands alone.
    std::atomic<uint64_t> rawFiles_{ 0 };
    std::atomic<uint64_t> pngFiles_{ 0 };
    std::atomic<uint64_t> pngSkipped_{ 0 };
    std::atomic<uint64_t> errors_{ 0 };
    bool pngNoteShown_ = false;
};

} // namespace vxqir::sim
