// Engine services available to every part of the framework client and to
// components: engine time, engine properties and package-level reports. They
// go to the kernel object stored by KOVAPckInit; without one (a program that
// uses the framework client without an engine) time is the system clock,
// engine properties are unknown and reports go to standard error.
#pragma once

#include "abi/KOVAConstants.h"
#include "text/KOVAStackedString.h"

namespace KOVA {

/// Engine time in microseconds. Thread-safe.
KOVATimestamp CurrentTime();

/// Engine properties such as "Engine.shutdownTimeout". Each returns the
/// value, or false / 0 / 0.0 / "" when the property is unknown; `success`
/// (when given) tells which. Thread-safe.
bool GetBoolProperty(const char* name, bool* success = nullptr);
int64_t GetIntegerProperty(const char* name, bool* success = nullptr);
double GetFloatProperty(const char* name, bool* success = nullptr);
KOVAStackedString GetStringProperty(const char* name, bool* success = nullptr);

/// Sends `text` at `level` to the engine on behalf of `source` (null: the
/// package). Thread-safe.
void ReportText(const char* source, int32_t level, const char* text);

} // namespace KOVA
