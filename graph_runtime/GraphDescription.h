// What a graph file says: packages, engine properties, components with
// their property values, connections, scheduled actions and how long to
// run. Every item keeps where it was written.
#pragma once

#include "EngineProperties.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace host {

struct SourcePosition {
    std::string file;
    int64_t line = 0;
    int64_t column = 0;
    /// "file:line:column"
    std::string Text() const;
};

using GraphValue = std::variant<bool, int64_t, double, std::string>;

struct PropertySetting {
    std::string name;
    GraphValue value;
    SourcePosition where;
    /// The value as typed on the command line (--set), which a text or
    /// enumeration property takes as it is; empty for values from the file.
    std::optional<std::string> typed;
};

struct ComponentDescription {
    std::string name;
    std::string model;
    std::vector<PropertySetting> properties;
    /// Inputs the graph leaves unconnected on purpose (optional inputs of the
    /// model): no warning is given for them.
    std::vector<std::string> openInputs;
    SourcePosition where;
};

struct ConnectionDescription {
    std::string fromComponent;
    std::string fromOutput;
    std::string toComponent;
    std::string toInput;
    SourcePosition where;
};

struct ActionDescription {
    int64_t atUs = 0; ///< after the start of the run
    std::string component;
    std::string action;
    std::string argument;
    SourcePosition where;
};

struct PackageReference {
    std::string path; ///< resolved against the graph file's folder
    SourcePosition where;
};

enum class RunUntil {
    Duration,   ///< for `durationUs`
    SourcesEnd, ///< until every source has finished and its samples are consumed (`durationUs` caps it when >= 0)
    Interrupt,  ///< until Ctrl-C (or the stop command)
};

struct GraphDescription {
    std::string file;
    std::vector<PackageReference> packages;
    EngineProperties engine;
    std::vector<ComponentDescription> components;
    std::vector<ConnectionDescription> connections;
    std::vector<ActionDescription> actions;
    RunUntil until = RunUntil::Interrupt;
    int64_t durationUs = -1;
};

/// Text of a value for messages: true, 42, 0.5, "text".
std::string ValueText(const GraphValue& value);
/// Kind of a value for messages: "a boolean", "an integer", "a float", "a text".
const char* ValueKindText(const GraphValue& value);

} // namespace host
