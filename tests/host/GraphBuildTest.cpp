// Building a graph from its description: unknown models and properties,
// values of the wrong kind and bad connections are refused before anything
// runs, naming the place and both ends.
#include "HostFixture.h"
#include <ostream>

#include <gmock/gmock.h>

using ::testing::HasSubstr;

class GraphBuild : public HostFixture { };

TEST_F(GraphBuild, AppliesPropertiesRunsDynamicAndConnects)
{
    std::vector<std::string> errors;
    graph = Build(R"(
[[component]]
name = "src"
model = "HostInt64Source"
properties = { Mode = "Constant", Value = 7, "Value.fifosize" = 3 }
[[component]]
name = "sink"
model = "HostSampleSink"
properties = { "In.readerType" = 4, Print = true }
[[connection]]
from = "src.Value"
to = "sink.In"
)",
                  errors);
    ASSERT_TRUE(graph) << Joined(errors);
    ASSERT_EQ(graph->Connections().size(), 1u);
    EXPECT_EQ(graph->Connections()[0].text, "src.Value -> sink.In");
    EXPECT_EQ(graph->Connections()[0].input->ReaderKind(), KOVA::SamplingReader);
    EXPECT_EQ(graph->Connections()[0].output->FifoSize(), 3);
    KOVA::StringReceiver value;
    graph->Find("src")->FindProperty("Mode")->ValueText(value);
    EXPECT_EQ(value.Text(), "Constant");
}

struct BadBuildCase {
    const char* name;
    const char* text;
    const char* error;
};

/// Test names are enough to identify a case in messages.
[[maybe_unused]] static void PrintTo(const BadBuildCase& c, std::ostream* os)
{
    *os << c.name;
}

class GraphBuildRefuses : public HostFixture, public ::testing::WithParamInterface<BadBuildCase> { };

TEST_P(GraphBuildRefuses, WithThePlaceAndTheReason)
{
    std::vector<std::string> errors;
    EXPECT_FALSE(Build(GetParam().text, errors));
    ASSERT_FALSE(errors.empty());
    EXPECT_THAT(Joined(errors), HasSubstr(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GraphBuildRefuses,
    ::testing::Values(
        BadBuildCase{ "UnknownModel", "[[component]]\nname = \"x\"\nmodel = \"NoSuchModel\"\n",
                      "graph.toml:1:1: component \"x\": unknown model \"NoSuchModel\" (the packages offer: " },
        BadBuildCase{ "UnknownProperty",
                      "[[component]]\nname = \"s\"\nmodel = \"HostSampleSink\"\nproperties = { Colour = 1 }\n",
                      "graph.toml:4:25: component \"s\" (model HostSampleSink): unknown property \"Colour\"" },
        BadBuildCase{ "TextForABoolean",
                      "[[component]]\nname = \"s\"\nmodel = \"HostSampleSink\"\nproperties = { Print = \"yes\" }\n",
                      "graph.toml:4:24: component \"s\" (model HostSampleSink): property \"Print\" is a boolean "
                      "property; the value \"yes\" is a text" },
        BadBuildCase{ "FloatForAnInteger",
                      "[[component]]\nname = \"n\"\nmodel = \"HostInt64Source\"\nproperties = { Count = 1.5 }\n",
                      "property \"Count\" is an integer property; the value 1.5 is a float" },
        BadBuildCase{ "UnknownChoice",
                      "[[component]]\nname = \"n\"\nmodel = \"HostInt64Source\"\nproperties = { Mode = \"Random\" }\n",
                      "\"Random\" is not a choice of property \"Mode\" (choices: Constant|Counter|Clock)" },
        BadBuildCase{ "ReadOnlyProperty",
                      "[[component]]\nname = \"n\"\nmodel = \"HostInt64Source\"\n"
                      "properties = { componentModelVersion = \"9\" }\n",
                      "property \"componentModelVersion\" is read-only" },
        BadBuildCase{
            "ReaderKindOutOfRange",
            "[[component]]\nname = \"s\"\nmodel = \"HostSampleSink\"\nproperties = { \"In.readerType\" = 7 }\n",
            "value 7 of property \"In.readerType\" is outside its range 0 to 4" },
        BadBuildCase{ "InputOfAComponentWithoutInputs",
                      "[[component]]\nname = \"cam\"\nmodel = \"HostPatternSource\"\n"
                      "[[component]]\nname = \"t\"\nmodel = \"TestLifecycle\"\n"
                      "[[component]]\nname = \"n\"\nmodel = \"HostInt64Source\"\n"
                      "[[connection]]\nfrom = \"cam.Image\"\nto = \"n.Value\"\n",
                      "graph.toml:10:1: connection cam.Image -> n.Value: component \"n\" has no input \"Value\" "
                      "(inputs: none)" },
        BadBuildCase{ "UnknownOutput",
                      "[[component]]\nname = \"n\"\nmodel = \"HostInt64Source\"\n[[component]]\nname = \"s\"\n"
                      "model = \"HostSampleSink\"\n[[connection]]\nfrom = \"n.Out\"\nto = \"s.In\"\n",
                      "graph.toml:7:1: connection n.Out -> s.In: component \"n\" has no output \"Out\" (outputs: "
                      "Value)" },
        BadBuildCase{ "UnknownComponentInAConnection",
                      "[[component]]\nname = \"n\"\nmodel = \"HostInt64Source\"\n[[connection]]\nfrom = \"n.Value\"\n"
                      "to = \"ghost.In\"\n",
                      "graph.toml:4:1: connection n.Value -> ghost.In: unknown component \"ghost\"" },
        BadBuildCase{ "InputConnectedTwice",
                      "[[component]]\nname = \"a\"\nmodel = \"HostInt64Source\"\n[[component]]\nname = \"b\"\n"
                      "model = \"HostInt64Source\"\n[[component]]\nname = \"s\"\nmodel = \"HostSampleSink\"\n"
                      "[[connection]]\nfrom = \"a.Value\"\nto = \"s.In\"\n[[connection]]\nfrom = \"b.Value\"\n"
                      "to = \"s.In\"\n",
                      "graph.toml:13:1: connection b.Value -> s.In: output b.Value cannot feed input s.In: input "
                      "\"In\" is already connected" },
        BadBuildCase{ "OpenInputThatIsNoInput",
                      "[[component]]\nname = \"t\"\nmodel = \"TestLifecycle\"\nopen_inputs = [\"Out\"]\n",
                      "graph.toml:1:1: component \"t\" (model TestLifecycle): open_inputs names \"Out\", which is no "
                      "input of it" },
        BadBuildCase{ "OpenInputsThatAreNoList",
                      "[[component]]\nname = \"t\"\nmodel = \"TestLifecycle\"\nopen_inputs = \"In\"\n",
                      "\"open_inputs\" of component \"t\" must be a list of input names" },
        BadBuildCase{ "UnknownAction",
                      "[[component]]\nname = \"s\"\nmodel = \"HostSampleSink\"\n[[action]]\nat = \"1s\"\n"
                      "component = \"s\"\naction = \"Explode\"\n",
                      "graph.toml:4:1: component \"s\" (model HostSampleSink) has no action \"Explode\"" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(GraphBuild, ATypeFilterMismatchNamesBothEndsAndBothTypes)
{
    std::vector<std::string> errors;
    EXPECT_FALSE(Build(R"(
[[component]]
name = "cam"
model = "HostPatternSource"
[[component]]
name = "t"
model = "TestLifecycle"
[[connection]]
from = "cam.Image"
to = "t.Numbers"
)",
                       errors));
    EXPECT_THAT(Joined(errors),
                HasSubstr("graph.toml:8:1: connection cam.Image -> t.Numbers: output cam.Image cannot "
                          "feed input t.Numbers: input \"Numbers\" accepts kinds Integer64, not "
                          "IplImage"));
}

TEST_F(GraphBuild, CommandLineSettingsReplaceOrAddToTheFilesValues)
{
    overrides = { "src.Value=9", "src.Mode=Counter", "src.Value.fifosize=5", "sink.Print=true" };
    std::vector<std::string> errors;
    graph = Build(R"(
[[component]]
name = "src"
model = "HostInt64Source"
properties = { Mode = "Constant", Value = 7 }
[[component]]
name = "sink"
model = "HostSampleSink"
[[connection]]
from = "src.Value"
to = "sink.In"
)",
                  errors);
    ASSERT_TRUE(graph) << Joined(errors);
    auto text = [&](const char* component, const char* property) {
        KOVA::StringReceiver value;
        graph->Find(component)->FindProperty(property)->ValueText(value);
        return value.Text();
    };
    EXPECT_EQ(text("src", "Value"), "9");
    EXPECT_EQ(text("src", "Mode"), "Counter");
    EXPECT_EQ(text("sink", "Print"), "true");
    EXPECT_EQ(graph->Connections()[0].output->FifoSize(), 5);
    EXPECT_TRUE(graph->UnconnectedInputs().empty());
}

TEST_F(GraphBuild, CommandLineSettingsThatCannotApplyAreRefusedNamingTheSetting)
{
    overrides = { "src.Count", "ghost.Count=1" };
    std::vector<std::string> errors;
    const std::string graphText = "[[component]]\nname = \"src\"\nmodel = \"HostInt64Source\"\n";
    EXPECT_FALSE(Build(graphText, errors));
    EXPECT_THAT(Joined(errors), HasSubstr("--set src.Count: give COMPONENT.PROPERTY=VALUE"));
    EXPECT_THAT(Joined(errors),
                HasSubstr("--set ghost.Count=1: the graph has no component \"ghost\" (components: src)"));
    errors.clear();
    overrides = { "src.Value=true" };
    EXPECT_FALSE(Build(graphText, errors));
    EXPECT_THAT(Joined(errors),
                HasSubstr("--set src.Value=true: component \"src\" (model HostInt64Source): property "
                          "\"Value\" is an integer property; the value true is a boolean"));
}

TEST_F(GraphBuild, ListsEveryInputThatNothingFeeds)
{
    std::vector<std::string> errors;
    graph = Build("[[component]]\nname = \"t\"\nmodel = \"TestLifecycle\"\n", errors);
    ASSERT_TRUE(graph) << Joined(errors);
    EXPECT_THAT(graph->UnconnectedInputs(),
                ::testing::ElementsAre("component \"t\" (model TestLifecycle): input \"In\" is not connected",
                                       "component \"t\" (model TestLifecycle): input \"Numbers\" is not connected"));
}

TEST_F(GraphBuild, LeavesOutTheInputsTheGraphLeavesOpenOnPurpose)
{
    std::vector<std::string> errors;
    graph = Build("[[component]]\nname = \"t\"\nmodel = \"TestLifecycle\"\nopen_inputs = [\"Numbers\"]\n", errors);
    ASSERT_TRUE(graph) << Joined(errors);
    EXPECT_THAT(graph->UnconnectedInputs(),
                ::testing::ElementsAre("component \"t\" (model TestLifecycle): input \"In\" is not connected"));
}
