// Prints a loaded package as a user reads it: its information block and
// every component with its inputs, outputs, properties and actions.
#pragma once

#include "PackageLibrary.h"

#include <ostream>

namespace host {

/// Writes the description of `package` to `out`. Engine thread.
void InspectPackage(const PackageLibrary& package, std::ostream& out);
/// Writes one component definition (its tables, read as plain data).
void InspectComponent(const KOVAComponentDefinition& definition, std::ostream& out);
/// Name of a reader kind ("NeverSkippingReader"), or "kind N".
std::string ReaderKindName(int32_t kind);

} // namespace host
