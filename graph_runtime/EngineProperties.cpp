#include "EngineProperties.h"

namespace host {

EngineProperties::EngineProperties()
{
    values_["Engine.shutdownTimeout"] = int64_t{ 10'000'000 };
}

void EngineProperties::Set(const std::string& name, EngineValue value)
{
    values_[name] = std::move(value);
}

std::optional<EngineValue> EngineProperties::Get(const std::string& name) const
{
    const auto it = values_.find(name);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

} // namespace host
