// Property values given on the command line ("--set numbers.Count=500"),
// which replace or add to those of the graph file.
#pragma once

#include "GraphDescription.h"

#include <string>
#include <vector>

namespace host {

/// Applies each "COMPONENT.PROPERTY=VALUE" of `settings` to the component
/// of `description` named COMPONENT. PROPERTY may itself hold dots
/// ("check.In.readerType=1"). VALUE is read as TOML (true, 42, 0.5,
/// "quoted text"); anything else is taken as a text. A text or enumeration
/// property takes VALUE as typed. Returns false with one error per setting
/// that is malformed or names an unknown component; whether the property
/// exists and takes the value is checked when the graph is built.
bool ApplyPropertyOverrides(GraphDescription& description, const std::vector<std::string>& settings,
                            std::vector<std::string>& errors);

} // namespace host
