#include "InProcessGraph.h"

#include "GraphFile.h"
#include "PackageLibrary.h"

#include "abi/KOVAPackageEntry.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace component_test {

std::unique_ptr<vxqir::sim::UnitEmulator> StartLoopbackUnit(vxqir::sim::EmulatorConfig config,
                                                            vxqir::sim::FrameObserver observer)
{
    config.controlIp = UNIT_CONTROL_IP;
    config.dataIp = UNIT_DATA_IP;
    config.checksumEveryFrame = true;
    auto unit = std::make_unique<vxqir::sim::UnitEmulator>(std::move(config));
    unit->addFrameObserver(std::move(observer));
    unit->start();
    return unit;
}

host::RunResult RunInProcess(const std::string& toml, host::RunOptions& options, std::unique_ptr<host::Graph>& graph,
                             std::unique_ptr<host::GraphRunner>& runner)
{
    std::vector<std::string> errors;
    auto description = host::ParseGraphText(toml, "graph.toml", errors);
    for (const auto& error : errors)
        ADD_FAILURE() << error;
    if (!description)
        return {};
    std::string why;
    auto package = host::PackageLibrary::InProcess("in-process", &KOVAPckInit, &KOVAGetModulesDefStruct, why);
    if (!package) {
        ADD_FAILURE() << why;
        return {};
    }
    std::vector<std::unique_ptr<host::PackageLibrary>> packages;
    packages.push_back(std::move(package));
    options.until = description->until;
    options.durationUs = description->durationUs;
    graph = host::Graph::Build(*description, std::move(packages), errors);
    for (const auto& error : errors)
        ADD_FAILURE() << error;
    if (!graph)
        return {};
    runner = std::make_unique<host::GraphRunner>(*graph, options);
    return runner->Run();
}

} // namespace component_test
