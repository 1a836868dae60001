// Runs a graph of one frame source, a time source and the unit client
// component in-process against an emulated unit on loopback (control
// 127.0.0.2, data 127.0.0.3, ports chosen by the system), and compares what
// the unit received, frame by frame, with what the source says it sent.
#pragma once

#include "HostKernel.h"
#include "InProcessGraph.h"
#include "ReportLog.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sources_test {

/// A frame as the emulated unit completed it.
struct ReceivedFrame {
    uint16_t frameNumber = 0;
    uint64_t checksum = 0;
    uint16_t height = 0;
    std::vector<uint32_t> lineLengths;
};

/// A frame as the source reported it ("frame I: P packets, B bytes, checksum HEX").
struct SentFrame {
    uint64_t index = 0;
    uint64_t packets = 0;
    uint64_t bytes = 0;
    uint64_t checksum = 0;
};

class SourceToUnit : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Runs a graph with the source `model` named "source" and the given
    /// properties (TOML inline-table entries), wired to the unit client
    /// "unit" with `unitProperties` added to its loopback addresses. Ends
    /// when the source has sent its frames (its properties give a Count).
    host::RunResult RunSource(const std::string& model, const std::string& sourceProperties,
                              const std::string& unitProperties);

    /// Frames the unit completed, in order. Waits first until it has
    /// completed `atLeast` frames and no datagram has come for a while (the
    /// last datagrams may still be queued at its sockets when the graph
    /// ends), then for pending checksums.
    std::vector<ReceivedFrame> Received(size_t atLeast);
    /// Frames the source reported, in order.
    std::vector<SentFrame> Sent() const;

    /// Checks that the unit received every frame the source sent after the
    /// first `dropped` (samples the unit client drops while it waits for the
    /// unit's first status and the replay offset): frame numbers from 0,
    /// the source's checksums, lines of the lengths given (in line order).
    void ExpectReceivedAsSent(const std::vector<uint32_t>& lineLengths);
    /// The same for `lines` lines of `lineBytes` bytes each.
    void ExpectReceivedAsSent(uint16_t lines, uint32_t lineBytes)
    {
        ExpectReceivedAsSent(std::vector<uint32_t>(lines, lineBytes));
    }

    /// How many of the source's first frames the unit client dropped: the
    /// index of the sent frame whose checksum the unit's first frame has.
    size_t DroppedAtStart(const std::vector<SentFrame>& sent, const std::vector<ReceivedFrame>& received) const;

    vxqir::sim::ChannelSnapshot Channel() const { return unit_->snapshot().channels.at(0); }

    host::ReportLog log;
    host::EngineProperties engine;

private:
    std::unique_ptr<vxqir::sim::UnitEmulator> unit_;
    mutable std::mutex framesMutex_; ///< guards frames_
    std::vector<ReceivedFrame> frames_;
    std::unique_ptr<host::Graph> graph_;
    std::unique_ptr<host::GraphRunner> runner_;
};

} // namespace sources_test
