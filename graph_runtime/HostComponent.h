// One component instance in the engine stand-in, reached only through its
// KOVAComponentPort.
#pragma once

#include "abi/KOVAComponentPort.h"

#include <memory>
#include <string>

namespace host {

/// Thread-bound to the engine's main thread, except Port(), which the
/// component's runner uses on the primary thread.
class HostComponent {
public:
    /// Instantiates `definition` as `name`. The table counts of -1 are
    /// resolved into the number of entries before the instantiation function
    /// sees the definition. Returns null with `why` when the package's
    /// instantiation fails or the new instance reports a construction error.
    static std::unique_ptr<HostComponent> Create(const std::string& name, const KOVAComponentDefinition& definition,
                                                 const std::string& packagePath, std::string& why);
    /// Deletes the instance (unless abandoned).
    ~HostComponent();
    HostComponent(const HostComponent&) = delete;
    HostComponent& operator=(const HostComponent&) = delete;

    const std::string& Name() const { return name_; }
    /// The definition the instance was made from (counts resolved).
    const KOVAComponentDefinition& Definition() const { return *definition_; }
    const std::string& PackagePath() const { return packagePath_; }
    KOVAComponentPort& Port() { return *port_; }

    KOVAInputPort* FindInput(const std::string& name);
    KOVAOutputPort* FindOutput(const std::string& name);
    KOVAPropertyPort* FindProperty(const std::string& name);
    /// Index of action `name`, or -1.
    int32_t FindAction(const std::string& name);
    /// Names of the element kind for messages: "In, Value".
    std::string InputNames();
    std::string OutputNames();

    /// The instance can no longer be deleted safely (its thread still runs):
    /// leave it alone for the rest of the process. The process keeps a
    /// reference to it, so it outlives this object.
    void Abandon();
    bool Abandoned() const { return abandoned_; }

private:
    HostComponent() = default;

    std::string name_;
    std::string packagePath_;
    std::unique_ptr<KOVAComponentDefinition> definition_;
    KOVAComponentPort* port_ = nullptr;
    bool abandoned_ = false;
};

} // namespace host
