#include "UnitClientFixture.h"

#include <chrono>

namespace unit_client_test {

void UnitClientFixture::SetUp()
{
    host::HostKernel::Instance().Attach(&log, nullptr, &engine);
    // Stopping a run with a frozen unit must stay well inside the test's bounds.
    engine.Set("Engine.shutdownTimeout", host::EngineValue{ int64_t{ 2'000'000 } });
    TheScript() = Script{};
    ClearRecordedStatus();
}

void UnitClientFixture::TearDown()
{
    runner.reset();
    graph.reset();
    host::HostKernel::Instance().Attach(nullptr, nullptr, nullptr);
    if (unit)
        unit->stop();
    if (HasFailure())
        std::fprintf(stderr, "%s", log.Text().c_str());
}

void UnitClientFixture::StartUnit(vxqir::sim::EmulatorConfig config)
{
    if (config.statusPeriod == std::chrono::milliseconds(10))
        config.statusPeriod = std::chrono::milliseconds(5);
    unit =
        component_test::StartLoopbackUnit(std::move(config), [this](const vxqir::sim::CompletedFrame& frame, uint64_t) {
            const std::lock_guard lock(framesMutex_);
            frames_.push_back({ frame.frameNumber, frame.height, frame.timestampNs, frame.bytes, frame.lineLengths });
        });
}

std::string UnitClientFixture::UnitClientProperties(const std::string& extra) const
{
    std::vector<std::pair<std::string, std::string>> values = {
        { "QirControlIP", "\"" + std::string(UNIT_CONTROL_IP) + "\"" },
        { "QirControlPort", std::to_string(unit ? unit->controlPort() : 65024) },
        { "SensorDataIP", "\"" + std::string(UNIT_DATA_IP) + "\"" },
        { "SensorDataBasePort", std::to_string(unit ? unit->dataBasePort() : 61440) },
        { "LocalControlIP", "\"127.0.0.1\"" },
        { "LocalControlPort", "0" },
        { "TimeoutGet", "2000000" },
        { "TimeoutStream", "50000" },
        { "StatusUpdatePeriod", "20000" },
    };
    std::string text;
    for (const auto& [key, value] : values)
        if (extra.find(key + " =") == std::string::npos)
            text += (text.empty() ? "" : ", ") + key + " = " + value;
    if (!extra.empty())
        text += ", " + extra;
    return text;
}

std::string UnitClientFixture::Graph(const std::string& sourceOutput, const std::string& extraProperties,
                                     bool startStop, const std::string& run)
{
    std::string toml = "[run]\n" + run + "\n";
    toml += "[[component]]\nname = \"src\"\nmodel = \"TestScriptedSource\"\n";
    std::string extra = extraProperties;
    if (startStop)
        extra += std::string(extra.empty() ? "" : ", ") + "StartStopTimeInputs = true";
    toml += "[[component]]\nname = \"uc\"\nmodel = \"VxQirUnitClient\"\nproperties = { " + UnitClientProperties(extra) +
        " }\n";
    toml += "[[component]]\nname = \"rec\"\nmodel = \"TestStatusRecorder\"\n";
    toml += "[[connection]]\nfrom = \"src." + sourceOutput + "\"\nto = \"uc.SensorDataIn\"\n";
    toml += "[[connection]]\nfrom = \"src.Offset\"\nto = \"uc.LoggingStartTime\"\n";
    if (startStop) {
        toml += "[[connection]]\nfrom = \"src.Start\"\nto = \"uc.ReplayStartTime\"\n";
        toml += "[[connection]]\nfrom = \"src.Stop\"\nto = \"uc.ReplayStopTime\"\n";
    }
    toml += "[[connection]]\nfrom = \"uc.oReplayStateInfo\"\nto = \"rec.State\"\n";
    toml += "[[connection]]\nfrom = \"uc.oSystemTime_us\"\nto = \"rec.UnitTime\"\n";
    return toml;
}

host::RunResult UnitClientFixture::Run(const std::string& toml)
{
    const host::RunResult result = component_test::RunInProcess(toml, options, graph, runner);
    if (unit)
        unit->drainChecksums();
    return result;
}

std::vector<UnitFrame> UnitClientFixture::Frames()
{
    if (unit)
        unit->drainChecksums();
    const std::lock_guard lock(framesMutex_);
    return frames_;
}

vxqir::sim::ChannelSnapshot UnitClientFixture::Channel()
{
    return unit->snapshot().channels.at(0);
}

size_t UnitClientFixture::CountReports(const std::string& fragment) const
{
    size_t count = 0;
    for (const auto& report : log.Reports())
        if (report.text.find(fragment) != std::string::npos)
            ++count;
    return count;
}

} // namespace unit_client_test
