// Reads a graph file (TOML) into a GraphDescription.
//
//   packages = ["host_test_components.pck"]     # bare names: searched, see below
//
//   [engine]
//   "Engine.shutdownTimeout" = 10000000         # microseconds
//
//   [run]
//   until = "sources-end"                       # or "duration", "interrupt"
//   duration = "5s"                             # how long, or the cap of sources-end
//
//   [[component]]
//   name = "numbers"
//   model = "HostInt64Source"
//   properties = { Mode = "Counter", Count = 100 }
//   open_inputs = ["Other"]                     # left unconnected on purpose
//
//   [[connection]]
//   from = "numbers.Value"
//   to = "sink.In"
//
//   [[action]]
//   at = "1s"
//   component = "sink"
//   action = "PrintSummary"
#pragma once

#include "GraphDescription.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

/// Parses `text` as the graph file `fileName`. Returns nothing when there
/// are errors, each in `errors` as "file:line:column: reason". Unknown keys
/// are errors. Package paths are kept as written.
std::optional<GraphDescription> ParseGraphText(std::string_view text, const std::string& fileName,
                                               std::vector<std::string>& errors);

/// Reads and parses the file at `path`.
std::optional<GraphDescription> ParseGraphFile(const std::string& path, std::vector<std::string>& errors);

/// Where package `written` of graph file `graphFile` is: an absolute path as
/// it is; a path with a "/" relative to the graph file's folder; a bare file
/// name in the graph file's folder, else in the first of `searchDirs` that
/// has it.
std::string ResolvePackagePath(const std::string& written, const std::string& graphFile,
                               const std::vector<std::string>& searchDirs);

} // namespace host
