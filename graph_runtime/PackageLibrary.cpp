#include "PackageLibrary.h"

#include "HostKernel.h"

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace host {

std::unique_ptr<PackageLibrary> PackageLibrary::Open(const std::string& path, std::string& why)
{
    std::unique_ptr<PackageLibrary> package(new PackageLibrary);
    package->path_ = path;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        why = path + ": is a directory, not a package file";
        return nullptr;
    }
    package->info_ = PackageInfo::ReadFromFile(path, why);
    if (!package->info_) {
        why += " (not a package file)";
        return nullptr;
    }
    package->infoProblems_ = PackageInfo::CheckRequiredEntries(*package->info_);
    package->markers_ = FindModuleMarkers(path);

    dlerror();
    // A name without a slash would be searched on the library path, not
    // where the user named it.
    const std::string loadPath = path.find('/') == std::string::npos ? "./" + path : path;
    package->handle_ = dlopen(loadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!package->handle_) {
        const char* error = dlerror();
        why = path + ": cannot load the package library: " + (error ? error : "unknown dlopen error");
        return nullptr;
    }
    package->init_ = reinterpret_cast<KOVAPckInitFunction>(dlsym(package->handle_, "KOVAPckInit"));
    package->list_ =
        reinterpret_cast<KOVAGetModulesDefStructFunction>(dlsym(package->handle_, "KOVAGetModulesDefStruct"));
    if (!package->init_ || !package->list_) {
        why = path + ": not a package: it does not export " +
            (!package->init_ ? "KOVAPckInit" : "KOVAGetModulesDefStruct");
        return nullptr;
    }
    if (!package->Handshake(why))
        return nullptr;
    return package;
}

std::unique_ptr<PackageLibrary> PackageLibrary::InProcess(const std::string& name, KOVAPckInitFunction init,
                                                          KOVAGetModulesDefStructFunction list, std::string& why)
{
    std::unique_ptr<PackageLibrary> package(new PackageLibrary);
    package->path_ = name;
    package->init_ = init;
    package->list_ = list;
    if (!package->Handshake(why))
        return nullptr;
    return package;
}

bool PackageLibrary::Handshake(std::string& why)
{
    handshake_ = init_(&HostKernel::Instance(), KOVA::PackageKey);
    if (handshake_ == 0) {
        why = path_ + ": incompatible package: KOVAPckInit refused the engine's key " + "0x80538 (it answered 0)";
        return false;
    }
    const int32_t count = list_(nullptr, nullptr, 0);
    if (count < 0) {
        why =
            path_ + ": KOVAGetModulesDefStruct could not count the modules (it answered " + std::to_string(count) + ")";
        return false;
    }
    definitions_.assign(static_cast<size_t>(count), nullptr);
    const int32_t listed = count > 0 ? list_(nullptr, definitions_.data(), count) : 0;
    definitions_.resize(static_cast<size_t>(std::max(listed, 0)));
    for (const KOVAComponentDefinition* definition : definitions_) {
        if (!definition || !definition->name || !definition->instFunct) {
            why = path_ + ": a component definition has no name or no instantiation function";
            return false;
        }
    }
    return true;
}

PackageLibrary::~PackageLibrary()
{
    if (handle_ && !keepLoaded_)
        dlclose(handle_);
}

std::vector<std::string> FindModuleMarkers(const std::string& path)
{
    std::vector<std::string> markers;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static constexpr std::string_view kStart = "$!KOVA_MODULE!";
    for (size_t at = bytes.find(kStart); at != std::string::npos; at = bytes.find(kStart, at + 1)) {
        const size_t end = bytes.find('\0', at);
        const std::string marker = bytes.substr(at, end == std::string::npos ? std::string::npos : end - at);
        // "$!KOVA_MODULE!<group>!<name>!$!<version>!$"
        const size_t groupEnd = marker.find('!', kStart.size());
        const size_t nameEnd = groupEnd == std::string::npos ? groupEnd : marker.find("!$!", groupEnd + 1);
        if (nameEnd == std::string::npos || marker.size() < nameEnd + 5 || marker.substr(marker.size() - 2) != "!$")
            continue;
        markers.push_back(marker.substr(groupEnd + 1, nameEnd - groupEnd - 1) + " " +
                          marker.substr(nameEnd + 3, marker.size() - nameEnd - 5));
    }
    return markers;
}

} // namespace host
