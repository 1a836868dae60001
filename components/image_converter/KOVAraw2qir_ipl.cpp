#include "image_converter/KOVAraw2qir_ipl.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include "image_converter/RawFrameConversion.h"
#include "image_converter/RawFrameHeader.h"

#include <limits>

namespace {

using qir::raw::OutputFormat;

constexpr KOVAPropertyDefault kWidth = KOVAPropertyDefault::Integer(1280);
constexpr KOVAPropertyDefault kHeight = KOVAPropertyDefault::Integer(800);
constexpr KOVAPropertyDefault kBitPxIn = KOVAPropertyDefault::Integer(16);
constexpr KOVAPropertyDefault kUsedBitPxIn = KOVAPropertyDefault::Integer(10);
constexpr KOVAPropertyDefault kInputFormat = KOVAPropertyDefault::Enum("YUV422|Mono", 0);
constexpr KOVAPropertyDefault kAlignmentIn = KOVAPropertyDefault::Enum("MSB|LSB", 0);
constexpr KOVAPropertyDefault kOutputFormat = KOVAPropertyDefault::Enum("YUYV_in_24bitRGB|Mono16Bit", 0);

constexpr KOVAPropertyDefinition property(const char* name, const KOVAPropertyDefault* value)
{
    return { .name = name,
             .value = value,
             .unit = nullptr,
             .needs2BeInitialized = false,
             .canBeModifiedAfterStart = false,
             .readOnly = false,
             .locked = true,
             .subtype = KOVA::PropertySubTypeNone };
}

const KOVAPropertyDefinition kProperties[] = {
    property("Width", &kWidth),
    property("Height", &kHeight),
    property("BitPx_In", &kBitPxIn),
    property("UsedBitPx_In", &kUsedBitPxIn),
    property("InputFormat", &kInputFormat),
    property("Alignment_In", &kAlignmentIn),
    property("OutputFormat", &kOutputFormat),
    property(nullptr, nullptr),
};

const KOVAInputDefinition kInputs[] = {
    { .name = "frame_in",
      .reserved = 0,
      .typeFilter = &KOVA::FilterStream8,
      .readerType = KOVA::FifoReader,
      .subsampling = 1 },
    KOVA::EndOfInputs,
};

// The type name is the empty text, not null: an input whose filter has a
// name expression refuses a type without a name, and the unit client's
// image input has one.
const KOVAOutputDefinition kOutputs[] = {
    { .name = "QIR_IPLImage",
      .reserved = 0,
      .type = { .code = KOVA::IplImage, .name = "", .unit = "" },
      .size = 0,
      .fifoSize = 16,
      .subsampling = 1,
      .shareable = 1 },
    KOVA::EndOfOutputs,
};

const KOVAActionDefinition kActions[] = { KOVA::EndOfActions };

const char* InputFormatText(uint8_t format)
{
    return format == 0 ? "YUV422" : format == 1 ? "Mono" : "?";
}

const char* OutputFormatText(uint8_t format)
{
    return format == 0 ? "YUYV_in_24bitRGB" : format == 1 ? "Mono16Bit" : "?";
}

} // namespace

const KOVAComponentDefinition KOVAraw2qir_ipl::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "VxQirImageConverter",
                              .version = "1.0.0",
                              .instantiate = &KOVAraw2qir_ipl::Instantiate,
                              .inputs = kInputs,
                              .outputs = kOutputs,
                              .properties = kProperties,
                              .actions = kActions });

KOVA_REGISTER_COMPONENT(KOVAraw2qir_ipl, KOVAraw2qir_ipl::s_componentDefinition);
KOVA_MODULE_MARKER(moduleDescr, "VxQirImageConverter", "1.0.0");

KOVAComponent* KOVAraw2qir_ipl::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAraw2qir_ipl(name, definition);
}

KOVAraw2qir_ipl::~KOVAraw2qir_ipl() = default;

void KOVAraw2qir_ipl::Birth()
{
    int64_t value = 0;
    Get(Property("Width"), value);
    width_ = static_cast<uint32_t>(value);
    Get(Property("Height"), value);
    height_ = static_cast<uint32_t>(value);
    Get(Property("BitPx_In"), value);
    bit_px_in_ = static_cast<uint32_t>(value);
    Get(Property("UsedBitPx_In"), value);
    used_bit_px_in_ = static_cast<uint32_t>(value);
    Get(Property("InputFormat"), value);
    input_format_ = static_cast<uint8_t>(value);
    // "Alignment_In" is read but has no effect: both conversions take the
    // lower bits of each word.
    Get(Property("Alignment_In"), value);
    Get(Property("OutputFormat"), value);
    output_format_ = static_cast<uint8_t>(value);

    // The image header keeps its sizes in signed 32-bit fields.
    constexpr uint32_t largest = std::numeric_limits<int32_t>::max();
    if (width_ < 1 || width_ > largest || height_ < 1 || height_ > largest) {
        Error(KOVAStreamedString("[Birth] Width and Height must be between 1 and ")
              << largest << " (Width=" << width_ << ", Height=" << height_ << ")");
    }
    if (output_format_ > 1)
        Error("Output format not supported");
    const qir::raw::OutputGeometry geometry = qir::raw::GeometryOf(static_cast<OutputFormat>(output_format_));
    const IplImage model = KOVA::IplImageModel(static_cast<int32_t>(width_), static_cast<int32_t>(height_),
                                               geometry.channelSequence, KOVA::IplDataOrderPixel, geometry.depth, 8);
    widthStep_out_ = static_cast<uint32_t>(model.widthStep);
    ReportWarning(KOVAStreamedString("Output Image allocated: Width=")
                  << width_ << ", height=" << height_ << ", BitsPerPixel=" << model.nChannels * model.depth);

    // A run the engine gave up on leaves its buffers behind; this run's
    // geometry may differ, so they are made anew. The block starts zeroed so
    // that the row padding never carries old memory.
    KOVAOutput* output = Output(0);
    if (output->HasBuffers())
        output->FreeBuffers();
    output->AllocOutputBufferIplImage(model, true);
    firstTime_ = true;
    mismatchReported_ = false;
}

void KOVAraw2qir_ipl::CheckHeader(const uint8_t* frame, size_t frameBytes)
{
    qir::raw::FrameHeader header;
    if (!qir::raw::ReadFrameHeader(frame, frameBytes, header))
        return; // the short-frame warning of the conversion covers it
    if (header.lines != height_)
        ReportWarning("Height in Frame Header does not match user selection!");
    if (header.bitsPerWord != bit_px_in_)
        ReportWarning("BitPerPixel in Frame Header does not match user selection!");
    // In 64 bits, so that a large image cannot wrap the product; a frame
    // size below the header's own size is too small as well.
    const uint64_t imageBytes = static_cast<uint64_t>(width_) * height_ * bit_px_in_ / 8;
    if (header.frameSize < qir::raw::FrameHeaderSize || imageBytes > header.frameSize - qir::raw::FrameHeaderSize)
        ReportWarning("Framesize in Frame Header is too small for image");
}

void KOVAraw2qir_ipl::Core()
{
    KOVAInput* input = Input(0);
    KOVAIOElt* in = StartReading(input);
    if (!in) {
        Rest(10000); // not connected: nothing will come, do not spin
        return;
    }
    const auto* frame = static_cast<const uint8_t*>(in->Data());
    const int64_t used = in->IOEltUsedSizeInBytes();
    const size_t frameBytes = frame && used > 0 ? static_cast<size_t>(used) : 0;
    CheckHeader(frame, frameBytes);
    const uint8_t* pixels = frameBytes > qir::raw::FrameHeaderSize ? frame + qir::raw::FrameHeaderSize : nullptr;
    const size_t pixelBytes = pixels ? frameBytes - qir::raw::FrameHeaderSize : 0;

    KOVAIOElt* out = StartWriting(Output(0));
    if (!out) {
        StopReading(input);
        return;
    }
    auto* destination = reinterpret_cast<uint8_t*>(out->IplImage()->imageData);
    uint32_t rows = height_;
    if (output_format_ == 0 && input_format_ == 0) {
        rows = yuv422ToYuyvInRGB24(pixels, pixelBytes, destination);
    } else if (output_format_ == 1 && input_format_ == 1) {
        rows = process_mono(pixels, pixelBytes, destination);
    } else if (output_format_ <= 1) {
        // Nothing belongs in these images; publish zeros rather than what an
        // earlier frame left in the buffer.
        qir::raw::ClearImage({ destination, width_, height_, widthStep_out_ });
        if (!mismatchReported_) {
            mismatchReported_ = true;
            ReportWarning(KOVAStreamedString("[Core] InputFormat ")
                          << InputFormatText(input_format_) << " cannot be converted to OutputFormat "
                          << OutputFormatText(output_format_) << "; the output images are empty (all zero)");
        }
    } else {
        StopWriting(out, true);
        Error("Can't happen");
    }
    if (rows < height_) {
        const uint32_t perPixel = qir::raw::GeometryOf(static_cast<OutputFormat>(output_format_)).inputBytesPerPixel;
        const uint64_t needed = qir::raw::FrameHeaderSize + uint64_t{ width_ } * height_ * perPixel;
        ReportWarning(KOVAStreamedString("[Core] Frame of ") << frameBytes << " bytes is shorter than the " << needed
                                                             << " bytes the conversion needs; converted " << rows
                                                             << " of " << height_ << " lines, the others are zero");
    }
    out->Timestamp() = in->Timestamp();
    StopWriting(out, false);
    StopReading(input);
}

uint32_t KOVAraw2qir_ipl::yuv422ToYuyvInRGB24(const uint8_t* source, size_t sourceBytes, uint8_t* destination)
{
    if (firstTime_) {
        firstTime_ = false;
        ReportInfo(KOVAStreamedString("Transforming YUV422 (")
                   << used_bit_px_in_ << " Bits per Pixel) to YUVU, saved in RGB24");
    }
    return qir::raw::ConvertFrame(OutputFormat::YuyvInRgb24, source, sourceBytes,
                                  { destination, width_, height_, widthStep_out_ });
}

uint32_t KOVAraw2qir_ipl::process_mono(const uint8_t* source, size_t sourceBytes, uint8_t* destination)
{
    if (firstTime_) {
        firstTime_ = false;
        ReportInfo(KOVAStreamedString("Transforming Mono (") << used_bit_px_in_ << " Bits per Pixel) to Mono 16 Bit");
    }
    // Once per frame: the words are copied whole, whatever the setting says.
    if (bit_px_in_ != 16)
        ReportWarning("Incoming data has more than 16 Bit per Px. Data loss may occure!");
    return qir::raw::ConvertFrame(OutputFormat::Mono16, source, sourceBytes,
                                  { destination, width_, height_, widthStep_out_ });
}

void KOVAraw2qir_ipl::Death()
{ }
