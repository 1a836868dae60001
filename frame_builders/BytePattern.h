// BytePattern.h - deterministic test content for frame payloads.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vxqir::frames {

/// What a payload holds. Every pattern is a pure function of the frame
/// index, the line (packet) index and the byte position, so a frame can be
/// rebuilt from its index alone.
enum class BytePattern : uint8_t {
    Ramp,    ///< (frame + line + i) & 0xFF: changes from byte to byte and frame to frame
    Counter, ///< every byte the frame index's low byte
    Noise,   ///< a 32-bit xorshift sequence seeded by frame and line
};

/// Names as properties and command lines take them: "Ramp", "Counter", "Noise".
std::string_view bytePatternName(BytePattern pattern);
std::optional<BytePattern> bytePatternFromName(std::string_view name);

/// Fills `bytes` with `pattern` for line `line` of frame `frame`.
void fillPattern(std::span<uint8_t> bytes, BytePattern pattern, uint32_t frame, uint32_t line);

} // namespace vxqir::frames
