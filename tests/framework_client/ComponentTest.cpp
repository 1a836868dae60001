// The component base: elements made from the definition tables, names,
// dynamic inputs, properties, actions, guards and the unwinding of Error.
#include "CollectedAssertions.h"
#include "TestComponent.h"
#include <ostream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::vector<std::string> propertyNames(KOVAComponentPort& port)
{
    std::vector<std::string> names;
    for (int32_t i = 0; i < port.EnginePropertyCount(); ++i)
        names.emplace_back(port.EngineProperty(i)->Name());
    return names;
}

std::vector<std::string> inputNames(KOVAComponentPort& port)
{
    std::vector<std::string> names;
    for (int32_t i = 0; i < port.EngineInputCount(); ++i)
        names.emplace_back(port.EngineInput(i)->Name());
    return names;
}

class Component : public ::testing::Test {
protected:
    void SetUp() override { TestKernel::Installed().Clear(); }
    TestKernel& kernel = TestKernel::Installed();
};

} // namespace

TEST_F(Component, MakesTheStandardPropertiesFirstThenTheTablesElements)
{
    auto c = KOVATestComponent::Make("c");
    EXPECT_THAT(propertyNames(*c),
                ElementsAre("threaded", "priority", "autoStart", "componentModelVersion", "primaryThreadID", "Flag",
                            "Number", "Format", "Label", "In.readerType", "In.subsampling", "Extra.readerType",
                            "Extra.subsampling", "Out.fifosize", "Out.subsampling", "Out.periodic", "Image.fifosize",
                            "Image.subsampling", "Image.periodic"));
    EXPECT_EQ(c->GetInteger("priority"), 128);
    EXPECT_TRUE(c->GetBool("threaded"));
    EXPECT_TRUE(c->GetBool("autoStart"));
    EXPECT_EQ(std::string(c->GetString("componentModelVersion")), "2.0.0");
    EXPECT_EQ(c->GetInteger("primaryThreadID"), -1);
    EXPECT_EQ(c->GetInteger("In.readerType"), KOVA::NeverSkippingReader);
    EXPECT_EQ(c->GetInteger("Out.fifosize"), 4);
    EXPECT_EQ(c->EngineActionCount(), 2);
    EXPECT_EQ(c->EngineState(), KOVA::DeadState);
}

TEST_F(Component, OnlyTheFirstNbInputsExistAndNewInputAddsAnotherByItsModelName)
{
    auto c = KOVATestComponent::Make("c");
    EXPECT_THAT(inputNames(*c), ElementsAre("In", "Extra"));
    c->onDynamic = [](KOVATestComponent& self) { self.NewInput("Late"); };
    EXPECT_EQ(c->EngineDynamic(), KOVA::NoError);
    EXPECT_THAT(inputNames(*c), ElementsAre("In", "Extra", "Late"));
    // Dynamic runs again after every property change: no duplicate.
    EXPECT_EQ(c->EngineDynamic(), KOVA::NoError);
    EXPECT_THAT(inputNames(*c), ElementsAre("In", "Extra", "Late"));
    EXPECT_EQ(c->GetInteger("Late.readerType"), KOVA::SamplingReader);
}

TEST_F(Component, NewInputCanNameTheCopyOfAModel)
{
    auto c = KOVATestComponent::Make("c");
    c->onDynamic = [](KOVATestComponent& self) { self.NewInput("Late", "Later"); };
    EXPECT_EQ(c->EngineDynamic(), KOVA::NoError);
    EXPECT_THAT(inputNames(*c), ElementsAre("In", "Extra", "Later"));
}

TEST_F(Component, NewInputOfAnAbsentModelFailsDynamic)
{
    auto c = KOVATestComponent::Make("c");
    c->onDynamic = [](KOVATestComponent& self) { self.NewInput("Nope"); };
    EXPECT_EQ(c->EngineDynamic(), KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error, "The given model (Nope) does not exist."));
}

struct BadNameCase {
    const char* name;
    KOVAComponentDefinition definition;
    const char* text;
};

/// Test names are enough to identify a case in messages.
[[maybe_unused]] static void PrintTo(const BadNameCase& c, std::ostream* os)
{
    *os << c.name;
}

namespace {
constexpr KOVAPropertyDefault kAny = KOVAPropertyDefault::Integer(1);
const KOVAPropertyDefinition kBadProperty[] = {
    { .name = "9Lives",
      .value = &kAny,
      .unit = nullptr,
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = false,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    {},
};
const KOVAInputDefinition kBadInput[] = {
    { .name = "in put", .reserved = 0, .typeFilter = nullptr, .readerType = 0, .subsampling = 1 },
    {},
};
const KOVAOutputDefinition kBadOutput[] = {
    { .name = "1out",
      .reserved = 0,
      .type = { .code = KOVA::Integer64, .name = "", .unit = "" },
      .size = 1,
      .fifoSize = 2,
      .subsampling = 1,
      .shareable = 1 },
    {},
};
const KOVAActionDefinition kBadAction[] = {
    { .name = "a-b", .action = nullptr, .allowedWhenComponentDead = false, .reserved = {} },
    {},
};
KOVAComponentDefinition withTables(const KOVAPropertyDefinition* p, const KOVAInputDefinition* i,
                                   const KOVAOutputDefinition* o, const KOVAActionDefinition* a)
{
    KOVAComponentDefinition d = KOVATestComponent::StandardDefinition();
    d.nbInputs = d.nbOutputs = d.nbProperties = d.nbActions = KOVA::AllEntries;
    d.properties = p;
    d.inputs = i;
    d.outputs = o;
    d.actions = a;
    return d;
}
} // namespace

class ComponentBadName : public ::testing::TestWithParam<BadNameCase> { };

TEST_P(ComponentBadName, IsReportedAndTheInstanceMarkedFailed)
{
    TestKernel::Installed().Clear();
    KOVATestComponent c("bad", &GetParam().definition);
    EXPECT_TRUE(c.EngineState() & KOVA::ErrorState);
    EXPECT_TRUE(qir::test::HasReportAt(TestKernel::Installed(), KOVA::Error, GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ComponentBadName,
    ::testing::Values(BadNameCase{ "PropertyStartingWithADigit", withTables(kBadProperty, nullptr, nullptr, nullptr),
                                   "Trying to create a property with an invalid name: 9Lives" },
                      BadNameCase{ "InputWithABlank", withTables(nullptr, kBadInput, nullptr, nullptr),
                                   "Trying to create an input with an invalid name: in put" },
                      BadNameCase{ "OutputStartingWithADigit", withTables(nullptr, nullptr, kBadOutput, nullptr),
                                   "Trying to create an output with an invalid name: 1out" },
                      BadNameCase{ "ActionWithADash", withTables(nullptr, nullptr, nullptr, kBadAction),
                                   "Trying to create an action with an invalid name: a-b" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(Component, ACountBeyondTheTableStopsAtItsTerminatingEntry)
{
    KOVAComponentDefinition d = KOVATestComponent::StandardDefinition();
    d.nbInputs = 1000;
    KOVATestComponent c("c", &d);
    EXPECT_EQ(c.EngineInputCount(), 3);
    EXPECT_FALSE(c.EngineState() & KOVA::ErrorState);
}

TEST_F(Component, ErrorReportsEndsTheCallAndMarksTheComponentFailed)
{
    auto c = KOVATestComponent::Make("failing");
    bool after = false;
    EXPECT_EQ(c->RunAsCore([&](KOVATestComponent& self) {
        self.Error("[Core] broken");
        after = true;
    }),
              KOVA::ErrorException);
    EXPECT_FALSE(after);
    EXPECT_TRUE(c->EngineState() & KOVA::ErrorState);
    ASSERT_FALSE(kernel.Entries().empty());
    EXPECT_EQ(kernel.Entries().back().source, "failing");
    EXPECT_EQ(kernel.Entries().back().text, "[Core] broken");
}

TEST_F(Component, AStdExceptionEscapingDeathIsCaughtAndReported)
{
    auto c = KOVATestComponent::Make("c");
    c->onDeath = [](KOVATestComponent&) { throw std::runtime_error("boom"); };
    EXPECT_EQ(c->EngineDeath(), KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error, "c: unhandled std::exception thrown from Death() (boom)"));
    EXPECT_TRUE(c->EngineState() & KOVA::DeadState);
}

TEST_F(Component, UnknownElementsFailTheCallWithTheirTexts)
{
    auto c = KOVATestComponent::Make("c");
    EXPECT_EQ(c->RunAsCore([](KOVATestComponent& self) { self.Input("Nope"); }), KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error, "Trying to access unknown input Nope"));
    EXPECT_EQ(c->RunAsCore([](KOVATestComponent& self) { self.Output(7); }), KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error, "Trying to access unknown output #7"));
    EXPECT_EQ(c->RunAsCore([](KOVATestComponent& self) { self.Property("Nope"); }), KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error, "Trying to access unknown property Nope"));
}

TEST_F(Component, PropertyReadsConvertEnumerationsToTheirIndexAndText)
{
    auto c = KOVATestComponent::Make("c");
    EXPECT_EQ(c->GetInteger("Format"), 1);
    EXPECT_EQ(std::string(c->GetString("Format")), "B");
    EXPECT_EQ(c->GetEnum("Format").Count(), 3);
    EXPECT_EQ(c->RunAsCore([](KOVATestComponent& self) { self.GetBool("Label"); }), KOVA::ErrorException);
}

struct SetterCase {
    const char* name;
    const char* property;
    std::function<int32_t(KOVAPropertyPort&, KOVATextReceiver&)> set;
    bool accepted;
    const char* why;
};

/// Test names are enough to identify a case in messages.
[[maybe_unused]] static void PrintTo(const SetterCase& c, std::ostream* os)
{
    *os << c.name;
}

class PropertyPortSetter : public ::testing::TestWithParam<SetterCase> { };

TEST_P(PropertyPortSetter, AcceptsValuesOfItsKindAndRangeOnly)
{
    auto c = KOVATestComponent::Make("c");
    KOVA::StringReceiver why;
    KOVAPropertyPort* property = c->FindProperty(GetParam().property);
    ASSERT_NE(property, nullptr);
    EXPECT_EQ(GetParam().set(*property, why) == KOVA::NoError, GetParam().accepted);
    EXPECT_THAT(why.Text(), HasSubstr(GetParam().why));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PropertyPortSetter,
    ::testing::Values(
        SetterCase{ "IntegerOnInteger", "Number", [](auto& p, auto& w) { return p.SetInteger(7, w); }, true, "" },
        SetterCase{ "BoolOnInteger", "Number", [](auto& p, auto& w) { return p.SetBool(true, w); }, false,
                    "is of kind integer, not boolean" },
        SetterCase{ "ChoiceByText", "Format", [](auto& p, auto& w) { return p.SetText("C", w); }, true, "" },
        SetterCase{ "UnknownChoice", "Format", [](auto& p, auto& w) { return p.SetText("D", w); }, false,
                    "\"D\" is not a choice of property \"Format\" (choices: A|B|C)" },
        SetterCase{ "ChoiceByIndex", "Format", [](auto& p, auto& w) { return p.SetInteger(2, w); }, true, "" },
        SetterCase{ "ChoiceIndexOutOfRange", "Format", [](auto& p, auto& w) { return p.SetInteger(3, w); }, false,
                    "index 3 is not a choice" },
        SetterCase{ "PriorityAbove255", "priority", [](auto& p, auto& w) { return p.SetInteger(256, w); }, false,
                    "outside its range 0 to 255" },
        SetterCase{ "ReadOnlyVersion", "componentModelVersion", [](auto& p, auto& w) { return p.SetText("9", w); },
                    false, "is read-only" },
        SetterCase{ "ReaderKindBeyondSampling", "In.readerType", [](auto& p, auto& w) { return p.SetInteger(5, w); },
                    false, "outside its range 0 to 4" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(Component, WhileRunningOnlyPropertiesChangeableAfterStartAcceptNewValues)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    KOVA::StringReceiver why;
    EXPECT_EQ(c->FindProperty("Number")->SetInteger(1, why), KOVA::Refused);
    EXPECT_THAT(why.Text(), HasSubstr("cannot be changed while the component runs"));
    EXPECT_EQ(c->FindProperty("Flag")->SetBool(true, why), KOVA::NoError);
}

TEST_F(Component, ActionsAreRefusedWhileTheComponentIsDeadUnlessAllowed)
{
    auto c = KOVATestComponent::Make("c");
    KOVA::StringReceiver why;
    EXPECT_EQ(c->EngineTriggerAction(0, nullptr, why), KOVA::Refused);
    EXPECT_THAT(why.Text(), HasSubstr("action Poke of c is refused: the component is not running"));
    EXPECT_EQ(c->EngineTriggerAction(1, nullptr, why), KOVA::NoError);
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    EXPECT_EQ(c->EngineTriggerAction(0, nullptr, why), KOVA::NoError);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Info, "poked"));
    EXPECT_EQ(c->EngineDeath(), KOVA::NoError);
    EXPECT_EQ(c->EngineTriggerAction(0, nullptr, why), KOVA::Refused);
    EXPECT_EQ(c->EngineTriggerAction(9, nullptr, why), KOVA::Refused);
}

TEST_F(Component, LifecycleStatesFollowTheEngineCalls)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    EXPECT_EQ(c->EngineState(), KOVA::LivingState);
    EXPECT_FALSE(c->IsDying());
    c->EngineRequestStop();
    EXPECT_TRUE(c->IsDying());
    EXPECT_EQ(c->EngineDeath(), KOVA::NoError);
    EXPECT_EQ(c->EngineState(), KOVA::DeadState);
}

TEST_F(Component, AnUnconnectedInputReadsNothing)
{
    auto c = KOVATestComponent::Make("c");
    KOVAIOElt* element = reinterpret_cast<KOVAIOElt*>(1);
    EXPECT_EQ(c->RunAsCore([&](KOVATestComponent& self) { element = self.StartReading(self.Input("In")); }),
              KOVA::NoError);
    EXPECT_EQ(element, nullptr);
    EXPECT_EQ(c->DataAvailableInFIFO(c->Input("In")), 0);
}

TEST_F(Component, AFilterRefusesAConnectionOfAnotherType)
{
    auto writer = KOVATestComponent::Make("writer");
    auto reader = KOVATestComponent::Make("reader");
    KOVA::StringReceiver why;
    EXPECT_EQ(reader->FindInput("In")->Connect(*writer->FindOutput("Image"), why), KOVA::Refused);
    EXPECT_EQ(why.Text(), "input \"In\" accepts kinds Integer64, not IplImage");
    EXPECT_EQ(reader->FindInput("In")->Connect(*writer->FindOutput("Out"), why), KOVA::NoError);
    EXPECT_EQ(reader->FindInput("In")->Connect(*writer->FindOutput("Out"), why), KOVA::Refused);
}

class Guards : public Component {
protected:
    void SetUp() override
    {
        Component::SetUp();
        KOVA::StringReceiver why;
        ASSERT_EQ(reader->FindInput("In")->Connect(*writer->FindOutput("Out"), why), KOVA::NoError);
        ASSERT_EQ(reader->FindInput("Extra")->Connect(*writer->FindOutput("Out"), why), KOVA::NoError);
        ASSERT_EQ(writer->EnginePrepareStart(), KOVA::NoError);
        ASSERT_EQ(reader->EnginePrepareStart(), KOVA::NoError);
    }
    int32_t Write(int64_t value)
    {
        return writer->RunAsCore([value](KOVATestComponent& self) {
            KOVA::OutputGuard<int64_t> guard(&self, self.Output("Out"));
            *guard.Get() = value;
        });
    }

    std::unique_ptr<KOVATestComponent, void (*)(KOVATestComponent*)> writer = KOVATestComponent::Make("writer");
    std::unique_ptr<KOVATestComponent, void (*)(KOVATestComponent*)> reader = KOVATestComponent::Make("reader");
};

TEST_F(Guards, AnOutputGuardPublishesAndAnInputGuardReadsTheSample)
{
    ASSERT_EQ(Write(5), KOVA::NoError);
    int64_t got = 0;
    EXPECT_EQ(reader->RunAsCore([&](KOVATestComponent& self) {
        KOVA::InputGuard<int64_t> guard(&self, self.Input("In"));
        ASSERT_TRUE(guard);
        got = *guard.Get();
    }),
              KOVA::NoError);
    EXPECT_EQ(got, 5);
}

TEST_F(Guards, AnOutputGuardLeftByAnErrorWithholdsItsHalfWrittenSample)
{
    EXPECT_EQ(writer->RunAsCore([](KOVATestComponent& self) {
        KOVA::OutputGuard<int64_t> guard(&self, self.Output("Out"));
        *guard.Get() = 99;
        self.Error("failed while writing");
    }),
              KOVA::ErrorException);
    EXPECT_EQ(reader->FindInput("In")->DataAvailable(), 0);
}

TEST_F(Guards, AnInputGuardOfAnotherTypeFails)
{
    ASSERT_EQ(Write(1), KOVA::NoError);
    EXPECT_EQ(
        reader->RunAsCore([](KOVATestComponent& self) { KOVA::InputGuard<double> g(&self, self.Input("Extra")); }),
        KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(
        kernel, KOVA::Error,
        "The ElementType of the InputGuard of [input_name:Extra] doesn't match the actual type of "
        "the input"));
}

TEST_F(Guards, AnOutputGuardOfAnotherTypeFails)
{
    EXPECT_EQ(writer->RunAsCore([](KOVATestComponent& self) { KOVA::OutputGuard<float> g(&self, self.Output("Out")); }),
              KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(
        kernel, KOVA::Error,
        "The ElementType of the OutputGuard of [output_name:Out] doesn't match the actual type of "
        "the output"));
}

TEST_F(Guards, ElementPointersAreCheckedForTypeAndIndex)
{
    EXPECT_EQ(writer->RunAsCore([](KOVATestComponent& self) {
        KOVA::OutputGuard<int64_t> guard(&self, self.Output("Out"));
        KOVA::GetIOElementPointer<int64_t>(*guard.Element(), 1);
    }),
              KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error, "Element index is out of bounds. [elementIndex:1]"));
    EXPECT_EQ(writer->RunAsCore([](KOVATestComponent& self) {
        KOVA::OutputGuard<int64_t> guard(&self, self.Output("Out"));
        KOVA::GetIOElementPointer<double>(*guard.Element(), 0);
    }),
              KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error,
                                       "[ElementType != ioElt.Type] The requested ElementType is different from "
                                       "actual data type of the I/O element"));
}

TEST_F(Guards, ReadingAgainReleasesTheElementStillHeld)
{
    for (int64_t v = 1; v <= 4; ++v)
        ASSERT_EQ(Write(v), KOVA::NoError);
    std::vector<int64_t> got;
    EXPECT_EQ(reader->RunAsCore([&](KOVATestComponent& self) {
        for (int i = 0; i < 4; ++i)
            got.push_back(*self.StartReading(self.Input("In"))->Integer64());
    }),
              KOVA::NoError);
    EXPECT_EQ(got, (std::vector<int64_t>{ 1, 2, 3, 4 }));
    // Every element but the last is released: the writer has room without waiting.
    EXPECT_EQ(Write(5), KOVA::NoError);
}

TEST_F(Component, IplImageBuffersAreAllocatedOnceFromTheModel)
{
    auto c = KOVATestComponent::Make("c");
    const IplImage model = KOVA::IplImageModel(16, 8, "BGR", 0, 8, 4);
    EXPECT_EQ(c->RunAsCore([&](KOVATestComponent& self) {
        self.Output("Image")->AllocOutputBufferIplImage(model, true);
        KOVA::OutputGuard<IplImage> guard(&self, self.Output("Image"));
        EXPECT_EQ(guard.Get()->widthStep, 48);
        EXPECT_NE(guard.Get()->imageData, nullptr);
        EXPECT_EQ(guard.Element()->IOEltUsedSizeInBytes(), 48 * 8);
    }),
              KOVA::NoError);
    EXPECT_EQ(
        c->RunAsCore([&](KOVATestComponent& self) { self.Output("Image")->AllocOutputBufferIplImage(model, true); }),
        KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error,
                                       "Output buffer already initialized. Can't initialize an output buffer twice."));
    c->EngineFreeBuffers();
    const IplImage huge = KOVA::IplImageModel(30000, 30000, "BGRA", 0, 8, 4);
    EXPECT_EQ(
        c->RunAsCore([&](KOVATestComponent& self) { self.Output("Image")->AllocOutputBufferIplImage(huge, false); }),
        KOVA::ErrorException);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error, "Requested buffer size ["));
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error,
                                       "Please reduce the requested output buffer size and/or the output FIFO size"));
}
