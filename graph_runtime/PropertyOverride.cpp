#include "PropertyOverride.h"

#include <toml++/toml.h>

#include <algorithm>

namespace host {
namespace {

GraphValue readValue(const std::string& text)
{
    try {
        const toml::table table = toml::parse("v = " + text);
        const toml::node* node = table.get("v");
        if (const auto* b = node->as_boolean())
            return b->get();
        if (const auto* i = node->as_integer())
            return i->get();
        if (const auto* f = node->as_floating_point())
            return f->get();
        if (const auto* s = node->as_string())
            return s->get();
    } catch (const toml::parse_error&) {
        // Not a TOML value (Counter, a/b.pck, ...): a plain text.
    }
    return text;
}

} // namespace

bool ApplyPropertyOverrides(GraphDescription& description, const std::vector<std::string>& settings,
                            std::vector<std::string>& errors)
{
    bool ok = true;
    for (const std::string& setting : settings) {
        const std::string where = "--set " + setting;
        const size_t equals = setting.find('=');
        const size_t dot = setting.find('.');
        if (equals == std::string::npos || dot == std::string::npos || dot == 0 || dot + 1 >= equals) {
            errors.push_back(where + ": give COMPONENT.PROPERTY=VALUE (for example numbers.Count=500)");
            ok = false;
            continue;
        }
        const std::string componentName = setting.substr(0, dot);
        const std::string property = setting.substr(dot + 1, equals - dot - 1);
        const std::string typed = setting.substr(equals + 1);
        auto component = std::find_if(description.components.begin(), description.components.end(),
                                      [&](const ComponentDescription& c) { return c.name == componentName; });
        if (component == description.components.end()) {
            std::string names;
            for (const auto& c : description.components)
                names += (names.empty() ? "" : ", ") + c.name;
            errors.push_back(where + ": the graph has no component \"" + componentName +
                             "\" (components: " + (names.empty() ? "none" : names) + ")");
            ok = false;
            continue;
        }
        PropertySetting value{ property, readValue(typed), SourcePosition{ where, 0, 0 }, typed };
        auto existing = std::find_if(component->properties.begin(), component->properties.end(),
                                     [&](const PropertySetting& p) { return p.name == property; });
        if (existing != component->properties.end())
            *existing = std::move(value);
        else
            component->properties.push_back(std::move(value));
    }
    return ok;
}

} // namespace host
