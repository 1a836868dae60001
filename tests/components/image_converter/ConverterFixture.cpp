#include "ConverterFixture.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
namespace converter_test {
namespace {

const KOVAOutputDefinition kFeederOutputs[] = {
    { .name = "Frames",
      .reserved = 0,
      .type = { .code = KOVA::Stream8, .name = "", .unit = "" },
      .size = 0,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    KOVA::EndOfOutputs,
};
const KOVAInputDefinition kNoInputs[] = { KOVA::EndOfInputs };
const KOVAOutputDefinition kNoOutputs[] = { KOVA::EndOfOutputs };
const KOVAPropertyDefinition kNoProperties[] = { KOVA::EndOfProperties };
const KOVAActionDefinition kNoActions[] = { KOVA::EndOfActions };

const KOVAInputDefinition kReaderInputs[] = {
    { .name = "SensorDataIn",
      .reserved = 0,
      .typeFilter = &UnitClientImageFilter(),
      .readerType = KOVA::NeverSkippingReader,
      .subsampling = 1 },
    KOVA::EndOfInputs,
};

// Frames of up to 16 MiB.
constexpr int32_t kFeederBytes = 1 << 24;

} // namespace

const KOVAComponentDefinition& FeederDefinition()
{
    static const KOVAComponentDefinition d = KOVA::ThreadedComponent({ .name = "TestRawFeeder",
                                                                       .version = "1.0.0",
                                                                       .instantiate = &KOVATestComponent::Instantiate,
                                                                       .inputs = kNoInputs,
                                                                       .outputs = kFeederOutputs,
                                                                       .properties = kNoProperties,
                                                                       .actions = kNoActions });
    return d;
}

const KOVAComponentDefinition& ReaderDefinition()
{
    static const KOVAComponentDefinition d = KOVA::ThreadedComponent({ .name = "TestImageReader",
                                                                       .version = "1.0.0",
                                                                       .instantiate = &KOVATestComponent::Instantiate,
                                                                       .inputs = kReaderInputs,
                                                                       .outputs = kNoOutputs,
                                                                       .properties = kNoProperties,
                                                                       .actions = kNoActions });
    return d;
}

std::vector<uint8_t> Frame(const qir::raw::FrameHeader& header, const std::vector<uint16_t>& words)
{
    std::vector<uint8_t> bytes(qir::raw::FrameHeaderSize + 2 * words.size());
    qir::raw::WriteFrameHeader(bytes.data(), header);
    for (size_t i = 0; i < words.size(); ++i) {
        bytes[qir::raw::FrameHeaderSize + 2 * i] = static_cast<uint8_t>(words[i]);
        bytes[qir::raw::FrameHeaderSize + 2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    return bytes;
}

std::vector<uint8_t> PatternFrame(uint32_t width, uint32_t height, uint32_t wordsPerPixel,
                                  uint16_t (*word)(uint64_t index))
{
    std::vector<uint16_t> words(static_cast<size_t>(width) * height * wordsPerPixel);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = word(i);
    const auto frameSize = static_cast<uint32_t>(qir::raw::FrameHeaderSize + 2 * words.size());
    return Frame({ .frameSize = frameSize, .bitsPerWord = 16, .lines = static_cast<uint16_t>(height) }, words);
}

int32_t ConverterFixture::Start()
{
    KOVA::StringReceiver why;
    if (!connected_) {
        EXPECT_EQ(converter->FindInput("frame_in")->Connect(*feeder->FindOutput("Frames"), why), KOVA::NoError)
            << why.Text();
        EXPECT_EQ(reader->FindInput("SensorDataIn")->Connect(*converter->FindOutput("QIR_IPLImage"), why),
                  KOVA::NoError)
            << why.Text();
        connected_ = true;
    }
    EXPECT_EQ(feeder->EnginePrepareStart(), KOVA::NoError);
    EXPECT_EQ(converter->EnginePrepareStart(), KOVA::NoError);
    EXPECT_EQ(reader->EnginePrepareStart(), KOVA::NoError);
    if (!feeder->FindOutput("Frames")->HasBuffers()) {
        static_cast<KOVATestComponent&>(*feeder).RunAsCore(
            [](KOVATestComponent& self) { self.Output("Frames")->AllocOutputBuffer(kFeederBytes); });
    }
    running_ = true;
    return converter->EngineBirth();
}

void ConverterFixture::Stop(bool abandoned)
{
    running_ = false;
    converter->EngineRequestStop();
    EXPECT_EQ(converter->EngineDeath(), KOVA::NoError);
    static_cast<KOVATestComponent&>(*reader).RunAsCore(
        [](KOVATestComponent& self) { self.StopReading(self.Input(0)); });
    if (!abandoned)
        converter->EngineFreeBuffers();
}

void ConverterFixture::Feed(const std::vector<uint8_t>& frame, KOVATimestamp timestamp)
{
    ASSERT_LE(frame.size(), static_cast<size_t>(kFeederBytes));
    const int32_t code = static_cast<KOVATestComponent&>(*feeder).RunAsCore([&](KOVATestComponent& self) {
        KOVAIOElt* element = self.StartWriting(self.Output("Frames"));
        // Bytes past the frame are not the frame's: make them conspicuous.
        std::memset(element->Data(), 0xEE, static_cast<size_t>(element->IOEltBufferSizeInBytes()));
        std::memcpy(element->Data(), frame.data(), frame.size());
        element->VectorSize() = static_cast<int32_t>(frame.size());
        element->Timestamp() = timestamp;
        self.StopWriting(element, false);
    });
    ASSERT_EQ(code, KOVA::NoError);
}

Image ConverterFixture::ConvertOne(bool scribble)
{
    Image image;
    EXPECT_EQ(converter->EngineCore(), KOVA::NoError);
    static_cast<KOVATestComponent&>(*reader).RunAsCore([&](KOVATestComponent& self) {
        if (self.DataAvailableInFIFO(self.Input(0)) == 0) {
            ADD_FAILURE() << "the converter published nothing";
            return;
        }
        KOVAIOElt* element = self.StartReading(self.Input(0));
        const IplImage* ipl = element->IplImage();
        ASSERT_NE(ipl, nullptr);
        image.header = *ipl;
        image.bytes.assign(ipl->imageData, ipl->imageData + ipl->imageSize);
        image.timestamp = element->Timestamp();
        if (scribble)
            std::memset(ipl->imageData, 0xEE, static_cast<size_t>(ipl->imageSize));
        self.StopReading(self.Input(0));
    });
    return image;
}

std::vector<std::string> ConverterFixture::Reports(int32_t level)
{
    std::vector<std::string> texts;
    for (const auto& entry : kernel.Entries()) {
        if (entry.source == "conv" && entry.level == level)
            texts.push_back(entry.text);
    }
    return texts;
}

size_t ConverterFixture::Count(int32_t level, const std::string& fragment)
{
    size_t n = 0;
    for (const auto& text : Reports(level))
        n += text.find(fragment) != std::string::npos ? 1 : 0;
    return n;
}

} // namespace converter_test
