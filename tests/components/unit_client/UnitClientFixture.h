// Runs graphs of the unit client component in-process against an emulated
// unit on loopback (control 127.0.0.2, data 127.0.0.3), keeping every
// report and every frame the unit completed.
#pragma once

#include "ScriptedComponents.h"

#include "HostKernel.h"
#include "InProcessGraph.h"
#include "ReportLog.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace unit_client_test {

using component_test::UNIT_CONTROL_IP;
using component_test::UNIT_DATA_IP;

/// A frame the unit completed, with its bytes.
struct UnitFrame {
    uint16_t frameNumber = 0;
    uint16_t height = 0;
    uint64_t timestampNs = 0;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> lineLengths;
};

class UnitClientFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Starts the emulated unit (before the graph runs).
    void StartUnit(vxqir::sim::EmulatorConfig config = {});

    /// Properties of the unit client that point it at the emulated unit,
    /// as TOML key = value pairs, plus `extra`.
    std::string UnitClientProperties(const std::string& extra = "") const;

    /// A graph: the scripted source's `sourceOutput` into "SensorDataIn" of
    /// component "uc", its "Offset" into "LoggingStartTime" (and "Start" /
    /// "Stop" when `startStop`), and the status outputs into a recorder.
    std::string Graph(const std::string& sourceOutput, const std::string& extraProperties = "", bool startStop = false,
                      const std::string& run = "until = \"sources-end\"\nduration = \"60s\"");

    /// Builds and runs `toml`; failing the test on build errors.
    host::RunResult Run(const std::string& toml);

    /// Frames completed by the unit so far, in order.
    std::vector<UnitFrame> Frames();
    vxqir::sim::ChannelSnapshot Channel();

    bool Reported(const std::string& fragment) const { return log.Contains("", fragment); }
    size_t CountReports(const std::string& fragment) const;

    host::ReportLog log;
    host::EngineProperties engine;
    host::RunOptions options;
    std::unique_ptr<vxqir::sim::UnitEmulator> unit;
    std::unique_ptr<host::Graph> graph;
    std::unique_ptr<host::GraphRunner> runner;

private:
    std::mutex framesMutex_; ///< guards frames_ (written on the emulator's checksum thread)
    std::vector<UnitFrame> frames_;
};

/// Expected unit bytes and line lengths of a frame made of `lines`.
struct ExpectedFrame {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> lineLengths;
    void Line(const uint8_t* data, size_t length)
    {
        bytes.insert(bytes.end(), data, data + length);
        lineLengths.push_back(static_cast<uint32_t>(length));
    }
};

} // namespace unit_client_test
