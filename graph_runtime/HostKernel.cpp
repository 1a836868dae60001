#include "HostKernel.h"

#include <cstdio>

namespace host {

HostKernel& HostKernel::Instance()
{
    // Never destroyed: packages may still hold it while the process ends.
    static HostKernel* instance = new HostKernel;
    return *instance;
}

void HostKernel::Attach(ReportLog* log, EngineClock* clock, const EngineProperties* properties)
{
    const std::lock_guard lock(mutex_);
    log_ = log;
    clock_ = clock;
    properties_ = properties;
}

void HostKernel::Report(const char* source, int32_t level, const char* text) noexcept
{
    try {
        const KOVATimestamp now = CurrentTime();
        const std::lock_guard lock(mutex_);
        if (log_) {
            log_->Add(now, level, source ? source : "package", text ? text : "");
        } else {
            std::fprintf(stderr, "%s %s: %s\n", ReportLog::LevelName(level), source ? source : "package",
                         text ? text : "");
        }
    } catch (...) {
        // A report that cannot be stored is lost; the component goes on.
    }
}

KOVATimestamp HostKernel::CurrentTime() noexcept
{
    EngineClock* clock = nullptr;
    {
        const std::lock_guard lock(mutex_);
        clock = clock_;
    }
    return clock ? clock->Now() : systemClock_.Now();
}

namespace {

template <typename T>
bool read(const EngineProperties* properties, const char* name, T* value)
{
    if (!properties || !name || !value)
        return false;
    const auto found = properties->Get(name);
    if (!found)
        return false;
    if (const T* typed = std::get_if<T>(&*found)) {
        *value = *typed;
        return true;
    }
    return false;
}

} // namespace

bool HostKernel::GetBoolProperty(const char* name, bool* value) noexcept
{
    const std::lock_guard lock(mutex_);
    return read(properties_, name, value);
}

bool HostKernel::GetIntegerProperty(const char* name, int64_t* value) noexcept
{
    const std::lock_guard lock(mutex_);
    return read(properties_, name, value);
}

bool HostKernel::GetFloatProperty(const char* name, double* value) noexcept
{
    const std::lock_guard lock(mutex_);
    if (read(properties_, name, value))
        return true;
    int64_t integer = 0;
    if (read(properties_, name, &integer)) {
        *value = static_cast<double>(integer);
        return true;
    }
    return false;
}

bool HostKernel::GetStringProperty(const char* name, KOVATextReceiver& value) noexcept
{
    try {
        const std::lock_guard lock(mutex_);
        std::string text;
        if (!read(properties_, name, &text))
            return false;
        value.Receive(text.data(), text.size());
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace host
