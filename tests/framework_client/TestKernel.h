// A kernel object for tests of the framework client: keeps every report and
// serves a few engine properties. Installed once per test program (a
// package keeps the first kernel it is given).
#pragma once

#include "abi/KOVAKernel.h"

#include <mutex>
#include <string>
#include <vector>

class TestKernel final : public KOVAKernel {
public:
    struct Entry {
        std::string source;
        int32_t level;
        std::string text;
    };

    /// The process's test kernel, handed to KOVAPckInit on first use.
    static TestKernel& Installed();

    void Report(const char* source, int32_t level, const char* text) noexcept override
    {
        const std::lock_guard lock(mutex_);
        entries_.push_back({ source ? source : "", level, text ? text : "" });
    }
    KOVATimestamp CurrentTime() noexcept override { return 1'000'000; }
    bool GetBoolProperty(const char*, bool*) noexcept override { return false; }
    bool GetIntegerProperty(const char* name, int64_t* value) noexcept override
    {
        if (std::string(name) != "Engine.shutdownTimeout")
            return false;
        *value = 4'000'000;
        return true;
    }
    bool GetFloatProperty(const char*, double*) noexcept override { return false; }
    bool GetStringProperty(const char*, KOVATextReceiver&) noexcept override { return false; }

    std::vector<Entry> Entries()
    {
        const std::lock_guard lock(mutex_);
        return entries_;
    }
    void Clear()
    {
        const std::lock_guard lock(mutex_);
        entries_.clear();
    }
    /// True when a report at `level` contains `fragment`.
    bool Has(int32_t level, const std::string& fragment)
    {
        const std::lock_guard lock(mutex_);
        for (const auto& e : entries_) {
            if (e.level == level && e.text.find(fragment) != std::string::npos)
                return true;
        }
        return false;
    }

    /// Every report as a line "level L, SOURCE: TEXT" (for failure messages).
    std::string Text()
    {
        const std::lock_guard lock(mutex_);
        std::string text;
        for (const auto& e : entries_)
            text += "  level " + std::to_string(e.level) + ", " + e.source + ": " + e.text + "\n";
        return text;
    }

private:
    std::mutex mutex_;
    std::vector<Entry> entries_;
};
