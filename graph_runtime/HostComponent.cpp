#include "HostComponent.h"

#include "component/KOVAComponent.h"

#include <vector>

namespace host {
namespace {

template <typename Entry>
uint32_t resolveCount(uint32_t count, const Entry* table)
{
    uint32_t size = 0;
    while (table && table[size].name)
        ++size;
    return count == KOVA::AllEntries || count > size ? size : count;
}

/// Instances of abandoned components: never deleted, and still reachable
/// after static destructors ran (the list itself is never destroyed).
std::vector<KOVAComponentPort*>& abandonedInstances()
{
    static auto* instances = new std::vector<KOVAComponentPort*>;
    return *instances;
}

} // namespace

std::unique_ptr<HostComponent> HostComponent::Create(const std::string& name, const KOVAComponentDefinition& definition,
                                                     const std::string& packagePath, std::string& why)
{
    std::unique_ptr<HostComponent> component(new HostComponent);
    component->name_ = name;
    component->packagePath_ = packagePath;
    component->definition_ = std::make_unique<KOVAComponentDefinition>(definition);
    KOVAComponentDefinition& d = *component->definition_;
    d.nbInputs = resolveCount(d.nbInputs, d.inputs);
    d.nbOutputs = resolveCount(d.nbOutputs, d.outputs);
    d.nbProperties = resolveCount(d.nbProperties, d.properties);
    d.nbActions = resolveCount(d.nbActions, d.actions);

    KOVAComponent* instance = nullptr;
    try {
        instance = d.instFunct(name.c_str(), &d);
    } catch (...) {
        instance = nullptr;
    }
    if (!instance) {
        why = "the package could not make an instance of " + std::string(d.name);
        return nullptr;
    }
    // The instance is used only through its port: virtual calls into its own
    // package's code.
    component->port_ = instance;
    if (component->port_->EngineState() & KOVA::ErrorState) {
        why = "the instance of " + std::string(d.name) + " reported errors while it was made";
        return nullptr;
    }
    return component;
}

void HostComponent::Abandon()
{
    if (!abandoned_ && port_)
        abandonedInstances().push_back(port_);
    abandoned_ = true;
}

HostComponent::~HostComponent()
{
    if (port_ && !abandoned_)
        port_->EngineDestroy();
}

KOVAInputPort* HostComponent::FindInput(const std::string& name)
{
    for (int32_t i = 0; i < port_->EngineInputCount(); ++i) {
        if (name == port_->EngineInput(i)->Name())
            return port_->EngineInput(i);
    }
    return nullptr;
}

KOVAOutputPort* HostComponent::FindOutput(const std::string& name)
{
    for (int32_t i = 0; i < port_->EngineOutputCount(); ++i) {
        if (name == port_->EngineOutput(i)->Name())
            return port_->EngineOutput(i);
    }
    return nullptr;
}

KOVAPropertyPort* HostComponent::FindProperty(const std::string& name)
{
    for (int32_t i = 0; i < port_->EnginePropertyCount(); ++i) {
        if (name == port_->EngineProperty(i)->Name())
            return port_->EngineProperty(i);
    }
    return nullptr;
}

int32_t HostComponent::FindAction(const std::string& name)
{
    for (int32_t i = 0; i < port_->EngineActionCount(); ++i) {
        if (name == port_->EngineAction(i)->name)
            return i;
    }
    return -1;
}

std::string HostComponent::InputNames()
{
    std::string names;
    for (int32_t i = 0; i < port_->EngineInputCount(); ++i)
        names += (i ? ", " : "") + std::string(port_->EngineInput(i)->Name());
    return names.empty() ? "none" : names;
}

std::string HostComponent::OutputNames()
{
    std::string names;
    for (int32_t i = 0; i < port_->EngineOutputCount(); ++i)
        names += (i ? ", " : "") + std::string(port_->EngineOutput(i)->Name());
    return names.empty() ? "none" : names;
}

} // namespace host
