// What the sample FIFO raises: the framework's unwind code and, for fatal
// errors, the text to report at error level.
#pragma once

#include <cstdint>
#include <string>

/// KOVA::ModuleDied (stop signal), KOVA::TimeOut (writer time-out) with an
/// empty text, or KOVA::ErrorException with the fatal error's text.
struct KOVAFifoFault {
    int32_t code;
    std::string text;
};
