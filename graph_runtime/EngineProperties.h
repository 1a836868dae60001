// The engine's own properties (such as "Engine.shutdownTimeout"), read by
// components through the kernel object.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace host {

using EngineValue = std::variant<bool, int64_t, double, std::string>;

/// Value type; not thread-safe (the kernel guards the copy it serves).
class EngineProperties {
public:
    /// "Engine.shutdownTimeout" = 10000000 (microseconds).
    EngineProperties();

    void Set(const std::string& name, EngineValue value);
    std::optional<EngineValue> Get(const std::string& name) const;
    const std::map<std::string, EngineValue>& All() const { return values_; }

private:
    std::map<std::string, EngineValue> values_;
};

} // namespace host
