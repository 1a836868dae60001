// Texts of the result codes. Needs no library state and never creates the
// process-wide core.

#include "VXQIRApi.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::array<const char*, 16> ERROR_TEXTS{
    "No error",
    "Internal error",
    "Control interface not available",
    "Data interface not available",
    "Channel not available",
    "Invalid channel handle",
    "Invalid channel index",
    "Invalid timing",
    "Invalid pointer",
    "Error in control socket",
    "Error in data socket",
    "Timeout",
    "Invalid inputInterface configuration",
    "Channel already registered",
    "Data not available",
    "Packet fragmentation, maxPayloadSize too big for MTU",
};

} // namespace

extern "C" VXQIR_EXPORT const char* VXQIR_ErrorToString(VXTQirError error)
{
    // Compared as unsigned: negative values are unknown codes too.
    const auto index = static_cast<uint32_t>(error);
    return index < ERROR_TEXTS.size() ? ERROR_TEXTS[index] : "Invalid error code";
}
