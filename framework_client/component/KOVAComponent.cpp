// Construction of a component from its definition, element lookups and the
// default lifecycle operations.
#include "component/KOVAComponent.h"

#include "services/KOVAServices.h"
#include "text/KOVANameRule.h"

#include <algorithm>

namespace {

/// Number of entries to create: `count` of them, never past the table's
/// terminating entry (a null name).
template <typename Entry>
uint32_t entriesToCreate(const Entry* table, uint32_t count)
{
    uint32_t n = 0;
    while (table && n < count && table[n].name)
        ++n;
    return n;
}

const char* article(const char* what)
{
    return (what[0] == 'i' || what[0] == 'o' || what[0] == 'a') ? "an " : "a ";
}

std::string invalidNameText(const char* what, const char* name)
{
    return std::string("Trying to create ") + article(what) + what +
        " with an invalid name: " + (name ? name : "(null)");
}

} // namespace

KOVAComponent::KOVAComponent(const char* name, const KOVAComponentDefinition* definition)
    : name_(name ? name : "")
    , definition_(definition ? *definition : KOVAComponentDefinition{})
{
    if (!definition)
        ConstructionError("component made without a definition");

    AddStandardProperty("threaded", KOVAPropertyDefault::Bool(definition_.threaded), 0);
    AddStandardProperty("priority", KOVAPropertyDefault::Integer(definition_.priority), 0)->SetRange(0, 255);
    AddStandardProperty("autoStart", KOVAPropertyDefault::Bool(true), 0);
    AddStandardProperty("componentModelVersion",
                        KOVAPropertyDefault::Text(definition_.version ? definition_.version : ""),
                        KOVA::PropertyReadOnly);
    AddStandardProperty("primaryThreadID", KOVAPropertyDefault::Integer(-1), KOVA::PropertyReadOnly);

    const uint32_t nProperties = entriesToCreate(definition_.properties, definition_.nbProperties);
    for (uint32_t i = 0; i < nProperties; ++i) {
        const KOVAPropertyDefinition& entry = definition_.properties[i];
        if (!KOVA::IsValidName(entry.name)) {
            ConstructionError(invalidNameText("property", entry.name));
            continue;
        }
        AddProperty(KOVAProperty::FromDefinition(entry, &state_));
    }
    const uint32_t nInputs = entriesToCreate(definition_.inputs, definition_.nbInputs);
    for (uint32_t i = 0; i < nInputs; ++i) {
        if (!KOVA::IsValidName(definition_.inputs[i].name)) {
            ConstructionError(invalidNameText("input", definition_.inputs[i].name));
            continue;
        }
        CreateInput(definition_.inputs[i], definition_.inputs[i].name);
    }
    const uint32_t nOutputs = entriesToCreate(definition_.outputs, definition_.nbOutputs);
    for (uint32_t i = 0; i < nOutputs; ++i) {
        if (!KOVA::IsValidName(definition_.outputs[i].name)) {
            ConstructionError(invalidNameText("output", definition_.outputs[i].name));
            continue;
        }
        CreateOutput(definition_.outputs[i]);
    }
    const uint32_t nActions = entriesToCreate(definition_.actions, definition_.nbActions);
    for (uint32_t i = 0; i < nActions; ++i) {
        if (!KOVA::IsValidName(definition_.actions[i].name)) {
            ConstructionError(invalidNameText("action", definition_.actions[i].name));
            continue;
        }
        actions_.push_back(&definition_.actions[i]);
    }
}

KOVAComponent::~KOVAComponent()
{
    // Threads left running (the engine gave up waiting for them) must not
    // outlive the object they use.
    std::vector<std::thread> threads;
    {
        const std::lock_guard lock(threadsMutex_);
        threads.swap(threads_);
    }
    if (!threads.empty()) {
        stop_.Request();
        for (auto& input : inputs_)
            input->WakeReader();
        for (auto& output : outputs_)
            output->WakeWriters();
        for (auto& thread : threads)
            thread.join();
    }
    for (auto& input : inputs_)
        input->Disconnect();
}

void KOVAComponent::ConstructionError(const std::string& text)
{
    Report(KOVA::Error, text.c_str());
    MarkFailed();
}

void KOVAComponent::MarkFailed()
{
    // Release: the report made before is visible to whoever sees the flag.
    state_.fetch_or(KOVA::ErrorState, std::memory_order_release);
}

KOVAProperty* KOVAComponent::AddProperty(std::unique_ptr<KOVAProperty> property)
{
    if (FindProperty(property->GetName())) {
        ConstructionError("Trying to create a property that exists already: " + property->GetName());
        return nullptr;
    }
    properties_.push_back(std::move(property));
    return properties_.back().get();
}

KOVAProperty* KOVAComponent::AddStandardProperty(const char* name, const KOVAPropertyDefault& value, uint32_t flags)
{
    properties_.push_back(std::make_unique<KOVAProperty>(name, value, nullptr, flags, 0, &state_));
    return properties_.back().get();
}

KOVAInput* KOVAComponent::CreateInput(const KOVAInputDefinition& definition, const char* name)
{
    if (FindInput(name)) {
        ConstructionError(std::string("Trying to create an input that exists already: ") + name);
        return nullptr;
    }
    const std::string base(name);
    auto* readerType = AddProperty(std::make_unique<KOVAProperty>(
        base + ".readerType", KOVAPropertyDefault::Integer(definition.readerType), nullptr, 0, 0, &state_));
    if (readerType)
        readerType->SetRange(KOVA::FifoReader, KOVA::SamplingReader);
    auto* subsampling = AddProperty(std::make_unique<KOVAProperty>(
        base + ".subsampling", KOVAPropertyDefault::Integer(std::max(definition.subsampling, 1)), nullptr, 0, 0,
        &state_));
    if (subsampling)
        subsampling->SetRange(1, 256);
    inputs_.push_back(std::make_unique<KOVAInput>(*this, definition, base, readerType, subsampling));
    return inputs_.back().get();
}

KOVAOutput* KOVAComponent::CreateOutput(const KOVAOutputDefinition& definition)
{
    if (FindOutput(definition.name)) {
        ConstructionError(std::string("Trying to create an output that exists already: ") + definition.name);
        return nullptr;
    }
    const std::string base(definition.name);
    auto* fifoSize = AddProperty(std::make_unique<KOVAProperty>(
        base + ".fifosize", KOVAPropertyDefault::Integer(definition.fifoSize > 0 ? definition.fifoSize : 16), nullptr,
        0, 0, &state_));
    if (fifoSize)
        fifoSize->SetRange(1, 65536);
    auto* subsampling = AddProperty(std::make_unique<KOVAProperty>(
        base + ".subsampling", KOVAPropertyDefault::Integer(std::max(definition.subsampling, 1)), nullptr, 0, 0,
        &state_));
    if (subsampling)
        subsampling->SetRange(1, 256);
    AddProperty(
        std::make_unique<KOVAProperty>(base + ".periodic", KOVAPropertyDefault::Bool(false), nullptr, 0, 0, &state_));
    outputs_.push_back(std::make_unique<KOVAOutput>(*this, definition, base, fifoSize));
    return outputs_.back().get();
}

KOVAInput* KOVAComponent::NewInput(const char* modelName, const char* newName)
{
    const KOVAInputDefinition* model = nullptr;
    for (const KOVAInputDefinition* entry = definition_.inputs; entry && entry->name; ++entry) {
        if (modelName && std::string_view(entry->name) == modelName) {
            model = entry;
            break;
        }
    }
    if (!model)
        Error((std::string("The given model (") + (modelName ? modelName : "(null)") + ") does not exist.").c_str());
    const char* name = newName ? newName : model->name;
    if (KOVAInput* existing = FindInput(name))
        return existing;
    if (!KOVA::IsValidName(name))
        Error(invalidNameText("input", name).c_str());
    return CreateInput(*model, name);
}

// --- lookups -----------------------------------------------------------------

KOVAInput* KOVAComponent::FindInput(std::string_view name) const
{
    for (const auto& input : inputs_) {
        if (input->GetName() == name)
            return input.get();
    }
    return nullptr;
}

KOVAOutput* KOVAComponent::FindOutput(std::string_view name) const
{
    for (const auto& output : outputs_) {
        if (output->GetName() == name)
            return output.get();
    }
    return nullptr;
}

KOVAProperty* KOVAComponent::FindProperty(std::string_view name) const
{
    for (const auto& property : properties_) {
        if (property->GetName() == name)
            return property.get();
    }
    return nullptr;
}

KOVAInput* KOVAComponent::Input(const char* name)
{
    if (KOVAInput* input = name ? FindInput(name) : nullptr)
        return input;
    Error((std::string("Trying to access unknown input ") + (name ? name : "(null)")).c_str());
    KOVA::Raise(KOVA::ErrorException); // should an override of Error return
}

KOVAInput* KOVAComponent::Input(int32_t index)
{
    if (index < 0 || index >= NumberOfInputs())
        Error(("Trying to access unknown input #" + std::to_string(index)).c_str());
    return inputs_[static_cast<size_t>(index)].get();
}

KOVAOutput* KOVAComponent::Output(const char* name)
{
    if (KOVAOutput* output = name ? FindOutput(name) : nullptr)
        return output;
    Error((std::string("Trying to access unknown output ") + (name ? name : "(null)")).c_str());
    KOVA::Raise(KOVA::ErrorException); // should an override of Error return
}

KOVAOutput* KOVAComponent::Output(int32_t index)
{
    if (index < 0 || index >= NumberOfOutputs())
        Error(("Trying to access unknown output #" + std::to_string(index)).c_str());
    return outputs_[static_cast<size_t>(index)].get();
}

KOVAProperty* KOVAComponent::Property(const char* name)
{
    if (KOVAProperty* property = name ? FindProperty(name) : nullptr)
        return property;
    Error((std::string("Trying to access unknown property ") + (name ? name : "(null)")).c_str());
    KOVA::Raise(KOVA::ErrorException); // should an override of Error return
}

int32_t KOVAComponent::Action(const char* name)
{
    for (size_t i = 0; name && i < actions_.size(); ++i) {
        if (std::string_view(actions_[i]->name) == name)
            return static_cast<int32_t>(i);
    }
    Error((std::string("Trying to access unknown action ") + (name ? name : "(null)")).c_str());
    KOVA::Raise(KOVA::ErrorException); // should an override of Error return
}

// --- default virtual operations ----------------------------------------------

void KOVAComponent::Rename(const char* newName)
{
    if (newName && *newName)
        name_ = newName;
}

int32_t KOVAComponent::Kind() const
{
    return static_cast<int32_t>(definition_.kind);
}

void KOVAComponent::SequentialCore()
{
    Core();
}

void KOVAComponent::Error(const char* text)
{
    Report(KOVA::Error, text);
    MarkFailed();
    KOVA::Raise(KOVA::ErrorException);
}

void KOVAComponent::Report(int32_t level, const char* text)
{
    KOVA::ReportText(name_.c_str(), level, text);
}

void KOVAComponent::PerformanceMonitoring(bool)
{ }
void KOVAComponent::Dynamic()
{ }
void KOVAComponent::Birth()
{ }
void KOVAComponent::Banzai()
{ }
void KOVAComponent::Death()
{ }

void KOVAComponent::FreeBuffers()
{
    for (auto& output : outputs_)
        output->FreeBuffers();
}

void KOVAComponent::GetLocation(int32_t& x, int32_t& y) const
{
    x = locationX_;
    y = locationY_;
}

void KOVAComponent::SetLocation(int32_t x, int32_t y)
{
    locationX_ = x;
    locationY_ = y;
}
