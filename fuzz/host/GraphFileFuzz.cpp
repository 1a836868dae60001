// Fuzz target: the graph-file reader on arbitrary text, and command-line
// property settings (--set) applied to what it read. It must refuse bad
// input with errors, never crash or hang.
//
// The input's first line is taken as the settings (separated by spaces), the
// rest as the graph file.
#include "GraphFile.h"
#include "PropertyOverride.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> errors;
    const auto graph = host::ParseGraphText(text, "fuzz.toml", errors);
    if (!graph && errors.empty())
        __builtin_trap(); // a refusal must say why
    if (graph) {
        std::istringstream firstLine(std::string(text.substr(0, text.find('\n'))));
        std::vector<std::string> settings;
        for (std::string word; firstLine >> word;)
            settings.push_back(word);
        auto changed = *graph;
        errors.clear();
        if (!host::ApplyPropertyOverrides(changed, settings, errors) && errors.empty())
            __builtin_trap();
    }
    return 0;
}
