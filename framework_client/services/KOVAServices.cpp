#include "services/KOVAServices.h"

#include "registry/KOVAPrivate.h"

#include <chrono>
#include <cstdio>

namespace KOVA {

KOVATimestamp CurrentTime()
{
    if (KOVAKernel* kernel = KOVAPrivate::Kernel())
        return kernel->CurrentTime();
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool GetBoolProperty(const char* name, bool* success)
{
    bool value = false;
    KOVAKernel* kernel = KOVAPrivate::Kernel();
    const bool ok = kernel && name && kernel->GetBoolProperty(name, &value);
    if (success)
        *success = ok;
    return ok ? value : false;
}

int64_t GetIntegerProperty(const char* name, bool* success)
{
    int64_t value = 0;
    KOVAKernel* kernel = KOVAPrivate::Kernel();
    const bool ok = kernel && name && kernel->GetIntegerProperty(name, &value);
    if (success)
        *success = ok;
    return ok ? value : 0;
}

double GetFloatProperty(const char* name, bool* success)
{
    double value = 0.0;
    KOVAKernel* kernel = KOVAPrivate::Kernel();
    const bool ok = kernel && name && kernel->GetFloatProperty(name, &value);
    if (success)
        *success = ok;
    return ok ? value : 0.0;
}

KOVAStackedString GetStringProperty(const char* name, bool* success)
{
    StringReceiver value;
    KOVAKernel* kernel = KOVAPrivate::Kernel();
    const bool ok = kernel && name && kernel->GetStringProperty(name, value);
    if (success)
        *success = ok;
    return ok ? KOVAStackedString(value.Text()) : KOVAStackedString();
}

void ReportText(const char* source, int32_t level, const char* text)
{
    if (KOVAKernel* kernel = KOVAPrivate::Kernel()) {
        kernel->Report(source, level, text ? text : "");
        return;
    }
    static const char* const kLevels[] = { "info", "warning", "error", "echo" };
    const char* levelText = level >= 0 && level <= 3 ? kLevels[level] : "report";
    std::fprintf(stderr, "[%s] %s%s%s\n", levelText, source ? source : "", source ? ": " : "", text ? text : "");
}

} // namespace KOVA
