// Fuzz target: the graph-file reader on arbitrary text. It must refuse bad
// input with errors, never crash or hang.
#include "GraphFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> errors;
    const auto graph =
        host::ParseGraphText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.toml", errors);
    if (!graph && errors.empty())
        __builtin_trap(); // a refusal must say why
    return 0;
}
