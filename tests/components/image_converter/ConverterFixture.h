// Drives one image converter instance on the test thread, between a feeder
// of raw frames and a reader whose input is defined like the unit client's
// image input ("SensorDataIn": kinds IplImage, KOVAImage, Stream8 or
// DynamicStructure, name expression "|KOVAMipiCsi2Frame", never skipping).
#pragma once

#include "KOVA.h"
#include "TestComponent.h"
#include "TestKernel.h"
#include "image_converter/KOVAraw2qir_ipl.h"
#include "image_converter/RawFrameHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace converter_test {

/// The unit client's image filter, built here from its definition so that
/// these tests do not depend on the unit client's code.
inline const KOVATypeFilterBase& UnitClientImageFilter()
{
    static const KOVATypeFilterBase filter(0, 0, 0x41060, "|KOVAMipiCsi2Frame", nullptr);
    return filter;
}

/// Definitions of the feeder (one byte-stream output) and of the reader
/// (one input like the unit client's).
const KOVAComponentDefinition& FeederDefinition();
const KOVAComponentDefinition& ReaderDefinition();

/// A frame: the 64-byte header followed by `words` as little-endian 16-bit
/// words.
std::vector<uint8_t> Frame(const qir::raw::FrameHeader& header, const std::vector<uint16_t>& words);
/// A frame with a right header for `width` x `height` pixels of
/// `wordsPerPixel` words each, the words following `word(index)`.
std::vector<uint8_t> PatternFrame(uint32_t width, uint32_t height, uint32_t wordsPerPixel,
                                  uint16_t (*word)(uint64_t index));

/// One published output image, copied.
struct Image {
    IplImage header{};
    std::vector<uint8_t> bytes; ///< imageSize bytes
    KOVATimestamp timestamp = 0;
    /// Row `r`'s first `count` bytes.
    std::vector<uint8_t> Row(uint32_t r, size_t count) const
    {
        const auto* start = bytes.data() + static_cast<size_t>(r) * static_cast<size_t>(header.widthStep);
        return { start, start + count };
    }
};

class ConverterFixture : public ::testing::Test {
protected:
    using Owned = std::unique_ptr<KOVAComponent, void (*)(KOVAComponent*)>;

    void SetUp() override { kernel.Clear(); }
    void TearDown() override
    {
        if (running_)
            Stop();
    }

    /// Sets a property of the converter (integers as numbers, choices by text).
    void Set(const char* name, int64_t value)
    {
        std::string why;
        ASSERT_TRUE(converter->FindProperty(name)->WriteInteger(value, why)) << why;
    }
    void Set(const char* name, const char* choice)
    {
        std::string why;
        ASSERT_TRUE(converter->FindProperty(name)->WriteText(choice, why)) << why;
    }

    /// Connects the three, prepares them and runs the converter's Birth;
    /// returns Birth's code.
    int32_t Start();
    /// Ends the run: Death of the converter, and, unless `abandoned`, the
    /// engine's release of every buffer.
    void Stop(bool abandoned = false);
    /// Publishes `frame` from the feeder with `timestamp`.
    void Feed(const std::vector<uint8_t>& frame, KOVATimestamp timestamp = 1234);
    /// Runs one Core of the converter and reads what it published; with
    /// `scribble` the reader then fills the image's buffer with 0xEE, as an
    /// earlier image would have left it.
    Image ConvertOne(bool scribble = false);

    /// Reports of the converter at `level`, in order.
    std::vector<std::string> Reports(int32_t level);
    /// How many reports of the converter at `level` contain `fragment`.
    size_t Count(int32_t level, const std::string& fragment);

    TestKernel& kernel = TestKernel::Installed();
    Owned feeder{ new KOVATestComponent("feeder", &FeederDefinition()), destroy };
    Owned converter{ KOVAraw2qir_ipl::s_componentDefinition.instFunct("conv", &KOVAraw2qir_ipl::s_componentDefinition),
                     destroy };
    Owned reader{ new KOVATestComponent("reader", &ReaderDefinition()), destroy };

private:
    static void destroy(KOVAComponent* c) { c->EngineDestroy(); }
    bool connected_ = false;
    bool running_ = false;
};

} // namespace converter_test
