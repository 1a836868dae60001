// The kernel object: every engine service the framework client needs. The
// engine implements it and hands it to the package through KOVAPckInit; the
// framework client reaches the engine only through it.
#pragma once

#include "abi/KOVAConstants.h"
#include "abi/KOVATextReceiver.h"

/// Engine services. Thread-safe: every function may be called from any
/// component thread at any time. No function throws.
class KOVAKernel {
public:
    /// Shows `text` at `level` (KOVA::Info .. KOVA::ParserEcho) on behalf of
    /// the component instance named `source` (null: the package itself).
    virtual void Report(const char* source, int32_t level, const char* text) noexcept = 0;

    /// Engine time in microseconds.
    virtual KOVATimestamp CurrentTime() noexcept = 0;

    /// Engine properties such as "Engine.shutdownTimeout". Each returns false
    /// and leaves the value untouched when the property is unknown or of
    /// another kind.
    virtual bool GetBoolProperty(const char* name, bool* value) noexcept = 0;
    virtual bool GetIntegerProperty(const char* name, int64_t* value) noexcept = 0;
    virtual bool GetFloatProperty(const char* name, double* value) noexcept = 0;
    virtual bool GetStringProperty(const char* name, KOVATextReceiver& value) noexcept = 0;

protected:
    ~KOVAKernel() = default;
};
