#include "BytePattern.h"

#include <algorithm>

namespace vxqir::frames {

std::string_view bytePatternName(BytePattern pattern)
{
    switch (pattern) {
    case BytePattern::Ramp:
        return "Ramp";
    case BytePattern::Counter:
        return "Counter";
    case BytePattern::Noise:
        return "Noise";
    }
    return "Ramp";
}

std::optional<BytePattern> bytePatternFromName(std::string_view name)
{
    for (BytePattern p : { BytePattern::Ramp, BytePattern::Counter, BytePattern::Noise }) {
        if (bytePatternName(p) == name)
            return p;
    }
    return std::nullopt;
}

void fillPattern(std::span<uint8_t> bytes, BytePattern pattern, uint32_t frame, uint32_t line)
{
    switch (pattern) {
    case BytePattern::Ramp: {
        uint8_t value = static_cast<uint8_t>(frame + line);
        for (uint8_t& b : bytes)
            b = value++;
        return;
    }
    case BytePattern::Counter:
        std::fill(bytes.begin(), bytes.end(), static_cast<uint8_t>(frame));
        return;
    case BytePattern::Noise: {
        // xorshift stays at zero once there, so the state must not start there.
        uint32_t state = (frame * 0x9E3779B9u) ^ (line * 0x85EBCA6Bu) ^ 0x80000000u;
        if (state == 0)
            state = 1;
        for (uint8_t& b : bytes) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            b = static_cast<uint8_t>(state >> 24);
        }
        return;
    }
    }
}

} // namespace vxqir::frames
