// The rule for names of inputs, outputs, properties and actions:
// "^[a-zA-Z][a-zA-Z_0-9]*$".
#pragma once

#include <string_view>

namespace KOVA {

/// True when `name` is a valid element name. Thread-safe.
bool IsValidName(std::string_view name);

} // namespace KOVA
