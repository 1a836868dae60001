// The raw image converter component "VxQirImageConverter": turns raw camera
// frames (byte streams that start with the 64-byte frame header) into IPL
// images that the unit client component can send.
#pragma once

#include "KOVA.h"

#include <cstddef>
#include <cstdint>

/// Input "frame_in" (byte streams, FIFO reader), output "QIR_IPLImage" (IPL
/// images, buffers allocated at Birth from the properties "Width", "Height"
/// and "OutputFormat"). Each Core call converts one frame:
///  - "YUV422" into "YUYV_in_24bitRGB": two 16-bit words per pixel, their
///    lower ten bits packed into one 24-bit "RGB" pixel;
///  - "Mono" into "Mono16Bit": one 16-bit word per pixel, copied.
/// Frame header fields that disagree with the properties are warned about
/// and the frame is converted at the configured size all the same; rows the
/// frame does not hold whole are published as zero, as is every image of a
/// run whose input and output formats do not belong together.
///
/// Thread context: Birth, Core and Death on the component's primary thread.
class KOVAraw2qir_ipl : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    using KOVAComponent::KOVAComponent;
    ~KOVAraw2qir_ipl() override;

    void Birth() override;
    void Core() override;
    void Death() override;

    static const KOVAComponentDefinition s_componentDefinition;

private:
    /// Converts the pixel data `source` (`sourceBytes` bytes after the
    /// header) into the image rows at `destination`; reports the conversion
    /// once per run. Returns the rows converted.
    uint32_t yuv422ToYuyvInRGB24(const uint8_t* source, size_t sourceBytes, uint8_t* destination);
    uint32_t process_mono(const uint8_t* source, size_t sourceBytes, uint8_t* destination);
    /// Header checks of one frame of `frameBytes` bytes; warnings only.
    void CheckHeader(const uint8_t* frame, size_t frameBytes);

    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t widthStep_out_ = 0;
    uint32_t bit_px_in_ = 0;
    uint32_t used_bit_px_in_ = 0;
    uint8_t input_format_ = 0;
    uint8_t output_format_ = 0;
    bool firstTime_ = true;
    bool mismatchReported_ = false; ///< the format mismatch was warned about in this run
};
