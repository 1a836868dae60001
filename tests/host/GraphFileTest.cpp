// Reading graph files: every mistake is refused with file, line and reason.
#include "DurationText.h"
#include "GraphFile.h"
#include <ostream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;

TEST(GraphFile, ReadsPackagesEngineRunComponentsConnectionsAndActions)
{
    std::vector<std::string> errors;
    const auto graph = host::ParseGraphText(R"(packages = ["a.pck", "/abs/b.pck"]
[engine]
"Engine.shutdownTimeout" = 2000000
[run]
until = "sources-end"
duration = "1.5s"
[[component]]
name = "src"
model = "HostInt64Source"
properties = { Mode = "Clock", PeriodUs = 1000, Ratio = 0.5, On = true }
[[component]]
name = "sink"
model = "HostSampleSink"
[[connection]]
from = "src.Value"
to = "sink.In"
[[action]]
at = "250ms"
component = "sink"
action = "PrintSummary"
)",
                                            "g.toml", errors);
    ASSERT_TRUE(graph) << (errors.empty() ? "" : errors[0]);
    EXPECT_EQ(graph->packages.size(), 2u);
    EXPECT_EQ(graph->packages[0].where.line, 1);
    EXPECT_EQ(std::get<int64_t>(*graph->engine.Get("Engine.shutdownTimeout")), 2000000);
    EXPECT_EQ(graph->until, host::RunUntil::SourcesEnd);
    EXPECT_EQ(graph->durationUs, 1'500'000);
    ASSERT_EQ(graph->components.size(), 2u);
    EXPECT_EQ(graph->components[0].properties.size(), 4u);
    EXPECT_EQ(std::get<std::string>(graph->components[0].properties[0].value), "Clock");
    EXPECT_EQ(graph->components[1].where.line, 11);
    ASSERT_EQ(graph->connections.size(), 1u);
    EXPECT_EQ(graph->connections[0].fromOutput, "Value");
    EXPECT_EQ(graph->connections[0].toComponent, "sink");
    ASSERT_EQ(graph->actions.size(), 1u);
    EXPECT_EQ(graph->actions[0].atUs, 250'000);
}

struct BadGraphCase {
    const char* name;
    const char* text;
    const char* error; ///< expected fragment of the first error, with its position
};

/// Test names are enough to identify a case in messages.
[[maybe_unused]] static void PrintTo(const BadGraphCase& c, std::ostream* os)
{
    *os << c.name;
}

class BadGraphFile : public ::testing::TestWithParam<BadGraphCase> { };

TEST_P(BadGraphFile, IsRefusedWithThePlaceAndTheReason)
{
    std::vector<std::string> errors;
    EXPECT_FALSE(host::ParseGraphText(GetParam().text, "bad.toml", errors));
    ASSERT_FALSE(errors.empty());
    EXPECT_THAT(errors[0], HasSubstr(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadGraphFile,
    ::testing::Values(
        BadGraphCase{ "TomlSyntax", "[[component]]\nname = \"a\nmodel = \"b\"\n", "bad.toml:2:" },
        BadGraphCase{ "NoComponent", "packages = []\n", "bad.toml:1:1: the graph has no [[component]]" },
        BadGraphCase{ "UnknownTopLevelKey", "colour = 1\n[[component]]\nname = \"a\"\nmodel = \"M\"\n",
                      "bad.toml:1:10: unknown key \"colour\" in the graph file" },
        BadGraphCase{ "ComponentWithoutModel", "[[component]]\nname = \"a\"\n",
                      "bad.toml:1:1: [[component]] has no \"model\"" },
        BadGraphCase{ "DuplicateComponent",
                      "[[component]]\nname = \"a\"\nmodel = \"M\"\n[[component]]\nname = \"a\"\nmodel = \"M\"\n",
                      "bad.toml:5:8: a component named \"a\" exists already" },
        BadGraphCase{ "DottedComponentName", "[[component]]\nname = \"a.b\"\nmodel = \"M\"\n",
                      "bad.toml:2:8: component name \"a.b\" must be non-empty" },
        BadGraphCase{ "ArrayPropertyValue",
                      "[[component]]\nname = \"a\"\nmodel = \"M\"\nproperties = { Width = [1, 2] }\n",
                      "bad.toml:4:24: property \"Width\" of component \"a\" must be a boolean, an integer, a float or "
                      "a text" },
        BadGraphCase{ "ConnectionWithoutPort",
                      "[[component]]\nname = \"a\"\nmodel = \"M\"\n[[connection]]\nfrom = \"a\"\nto = \"b.In\"\n",
                      "bad.toml:5:8: \"from\" of [[connection]] must be \"component.port\", not \"a\"" },
        BadGraphCase{ "BadDuration", "[run]\nduration = \"soon\"\n[[component]]\nname = \"a\"\nmodel = \"M\"\n",
                      "bad.toml:2:12: \"duration\" must be a duration" },
        BadGraphCase{ "BadUntil", "[run]\nuntil = \"forever\"\n[[component]]\nname = \"a\"\nmodel = \"M\"\n",
                      "bad.toml:2:9: \"until\" must be \"duration\", \"sources-end\" or \"interrupt\"" },
        BadGraphCase{ "UntilDurationWithoutDuration",
                      "[run]\nuntil = \"duration\"\n[[component]]\nname = \"a\"\nmodel = \"M\"\n",
                      "bad.toml:1:1: [run] until = \"duration\" needs a \"duration\"" },
        BadGraphCase{ "ActionWithBadTime",
                      "[[component]]\nname = \"a\"\nmodel = \"M\"\n[[action]]\nat = \"later\"\ncomponent = \"a\"\n"
                      "action = \"X\"\n",
                      "bad.toml:5:6: \"at\" must be a duration after the start" },
        BadGraphCase{ "PackagesNotAList", "packages = \"a.pck\"\n[[component]]\nname = \"a\"\nmodel = \"M\"\n",
                      "bad.toml:1:12: \"packages\" must be a list of package file paths" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(GraphFile, AMissingFileOrAFolderIsNamedInTheErrorWithItsCause)
{
    std::vector<std::string> errors;
    EXPECT_FALSE(host::ParseGraphFile("/nonexistent/graph.toml", errors));
    EXPECT_FALSE(host::ParseGraphFile("/", errors));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "/nonexistent/graph.toml: cannot open the graph file (No such file or directory)");
    EXPECT_EQ(errors[1], "/: is a directory, not a graph file");
}

TEST(GraphFile, BarePackageNamesAreSearchedAndPathsResolvedAgainstTheGraphFolder)
{
    EXPECT_EQ(host::ResolvePackagePath("/x/p.pck", "/g/graph.toml", {}), "/x/p.pck");
    EXPECT_EQ(host::ResolvePackagePath("../b/p.pck", "/g/sub/graph.toml", {}), "/g/b/p.pck");
    EXPECT_EQ(host::ResolvePackagePath("passwd", "/nowhere/graph.toml", { "/etc" }), "/etc/passwd");
    EXPECT_EQ(host::ResolvePackagePath("none.pck", "/g/graph.toml", { "/etc" }), "/g/none.pck");
}

// dlopen searches the library path, not the current folder, for a name
// without a slash: a graph named without a folder must still find the
// package next to it.
TEST(GraphFile, APackageNextToAGraphNamedWithoutAFolderGetsAPathWithASlash)
{
    EXPECT_EQ(host::ResolvePackagePath("none.pck", "graph.toml", {}), "./none.pck");
    EXPECT_EQ(host::ResolvePackagePath("sub/p.pck", "graph.toml", {}), "sub/p.pck");
}

struct DurationCase {
    const char* text;
    int64_t us; ///< -1: refused
};

class DurationText : public ::testing::TestWithParam<DurationCase> { };

TEST_P(DurationText, ReadsANumberWithItsUnit)
{
    const auto us = host::ParseDurationUs(GetParam().text);
    if (GetParam().us < 0)
        EXPECT_FALSE(us) << GetParam().text;
    else
        EXPECT_EQ(us.value_or(-1), GetParam().us) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, DurationText,
                         ::testing::Values(DurationCase{ "2s", 2'000'000 }, DurationCase{ "1.5 s", 1'500'000 },
                                           DurationCase{ "250ms", 250'000 }, DurationCase{ "7us", 7 },
                                           DurationCase{ "2min", 120'000'000 }, DurationCase{ "1h", 3'600'000'000 },
                                           DurationCase{ "0s", 0 }, DurationCase{ "5", -1 }, DurationCase{ "-1s", -1 },
                                           DurationCase{ "s", -1 }, DurationCase{ "1e300h", -1 },
                                           DurationCase{ "3 days", -1 }));
