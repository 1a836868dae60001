// A package loaded by the engine stand-in: its file (or, for tests, entry
// points of the running program), its information block, the key handshake
// and its component definitions.
#pragma once

#include "abi/KOVAPackageEntry.h"
#include "info/PackageInfoReader.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {

/// Thread-bound to the engine's main thread.
class PackageLibrary {
public:
    /// Loads the package file at `path` with dlopen (no link-time
    /// dependency), after checking its information block, performs the key
    /// handshake with the process's kernel object and reads its component
    /// definitions. Returns null with `why` naming the file and the reason:
    /// not a package (no information block, not a shared library, no entry
    /// points), or incompatible (the handshake answered 0).
    static std::unique_ptr<PackageLibrary> Open(const std::string& path, std::string& why);
    /// A package made of entry points of the running program (its own
    /// registry), for tests. Same handshake and listing as Open.
    static std::unique_ptr<PackageLibrary> InProcess(const std::string& name, KOVAPckInitFunction init,
                                                     KOVAGetModulesDefStructFunction list, std::string& why);
    /// Unloads the library unless KeepLoaded was called.
    ~PackageLibrary();
    PackageLibrary(const PackageLibrary&) = delete;
    PackageLibrary& operator=(const PackageLibrary&) = delete;

    const std::string& Path() const { return path_; }
    /// The information block (absent for in-process packages).
    const std::optional<PackageInfo::Entries>& Info() const { return info_; }
    /// What is missing or out of order in the block.
    const std::vector<std::string>& InfoProblems() const { return infoProblems_; }
    /// What KOVAPckInit answered (the framework's major version).
    int32_t HandshakeResult() const { return handshake_; }
    const std::vector<const KOVAComponentDefinition*>& Definitions() const { return definitions_; }
    /// Module declaration markers found in the file, as "name version".
    const std::vector<std::string>& Markers() const { return markers_; }
    /// Keeps the library loaded for the rest of the process (a component of
    /// it could not be stopped).
    void KeepLoaded() { keepLoaded_ = true; }

private:
    PackageLibrary() = default;
    bool Handshake(std::string& why);

    std::string path_;
    void* handle_ = nullptr;
    bool keepLoaded_ = false;
    KOVAPckInitFunction init_ = nullptr;
    KOVAGetModulesDefStructFunction list_ = nullptr;
    std::optional<PackageInfo::Entries> info_;
    std::vector<std::string> infoProblems_;
    std::vector<std::string> markers_;
    int32_t handshake_ = 0;
    std::vector<const KOVAComponentDefinition*> definitions_;
};

/// Module declaration markers ("$!KOVA_MODULE!group!name!$!version!$") in
/// the file at `path`, as "name version", without loading it.
std::vector<std::string> FindModuleMarkers(const std::string& path);

} // namespace host
