// Host test component "HostRawFrameSource": writes raw camera frames (byte
// streams that start with the 64-byte frame header) on its output "Frames",
// YUV 4:2:2 (two 16-bit words per pixel) or monochrome (one 16-bit word per
// pixel), with a test pattern and header values that may be set wrong on
// purpose.
#pragma once

#include "KOVA.h"
#include "KOVAHostFramePacing.h"

#include <cstdint>

class KOVAHostRawFrameSource : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    using KOVAComponent::KOVAComponent;

    void Birth() override;
    void Core() override;

    static const KOVAComponentDefinition s_componentDefinition;

    /// The pattern's 16-bit word number `index` (counted from the first
    /// pixel word) of frame number `frame`: Ramp gives index + frame, Constant
    /// gives `value`; both modulo 65536. Tests compute expected images from it.
    static uint16_t PatternWord(int64_t pattern, uint64_t index, uint64_t frame, uint16_t value);

private:
    void WriteFrame(uint8_t* bytes);

    int64_t width_ = 0;
    int64_t height_ = 0;
    int64_t format_ = 0;
    int64_t pattern_ = 0;
    uint16_t value_ = 0;
    int64_t headerFrameSize_ = -1;
    int64_t headerBitsPerWord_ = -1;
    int64_t headerLines_ = -1;
    int64_t frameBytes_ = 0; ///< bytes published per frame
    KOVAHostFramePacing pacing_;
};
