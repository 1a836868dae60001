// Builds and runs graphs of the components this test program carries (the
// host's test components and TestLifecycle) as an in-process package, with
// every report kept.
#pragma once

#include "Graph.h"
#include "GraphFile.h"
#include "GraphRunner.h"
#include "HostKernel.h"
#include "PropertyOverride.h"
#include "ReportLog.h"

#include <gtest/gtest.h>

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override { host::HostKernel::Instance().Attach(&log, nullptr, &engine); }
    void TearDown() override
    {
        runner.reset();
        graph.reset();
        host::HostKernel::Instance().Attach(nullptr, nullptr, nullptr);
    }

    /// Parses `toml` (as file "graph.toml") and builds it; null with `errors`.
    std::unique_ptr<host::Graph> Build(const std::string& toml, std::vector<std::string>& errors)
    {
        auto description = host::ParseGraphText(toml, "graph.toml", errors);
        if (!description || !host::ApplyPropertyOverrides(*description, overrides, errors))
            return nullptr;
        std::string why;
        auto package = host::PackageLibrary::InProcess("in-process", &KOVAPckInit, &KOVAGetModulesDefStruct, why);
        if (!package) {
            errors.push_back(why);
            return nullptr;
        }
        std::vector<std::unique_ptr<host::PackageLibrary>> packages;
        packages.push_back(std::move(package));
        options.until = description->until;
        options.durationUs = description->durationUs;
        return host::Graph::Build(*description, std::move(packages), errors);
    }

    /// Builds `toml` into `graph` (failing the test on errors) and runs it.
    host::RunResult Run(const std::string& toml)
    {
        std::vector<std::string> errors;
        graph = Build(toml, errors);
        for (const auto& error : errors)
            ADD_FAILURE() << error;
        if (!graph)
            return {};
        runner = std::make_unique<host::GraphRunner>(*graph, options);
        return runner->Run();
    }

    static std::string Joined(const std::vector<std::string>& errors)
    {
        std::string text;
        for (const auto& error : errors)
            text += error + "\n";
        return text;
    }

    host::ReportLog log;
    host::EngineProperties engine;
    host::RunOptions options;
    std::vector<std::string> overrides; ///< "--set" settings applied before building
    std::unique_ptr<host::Graph> graph;
    std::unique_ptr<host::GraphRunner> runner;
};
