#include "FrameDumper.h"

#include "Fnv1a64.h"
#include "PngWriter.h"

#include "OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <span>
#include <stdexcept>

namespace vxqir::sim {
namespace {

constexpr uint64_t ERRORS_PRINTED = 5;

std::string frameStem(const CompletedFrame& frame)
{
    char name[64];
    std::snprintf(name, sizeof(name), "ch%u_frame%06" PRIu64 "_num%05u", static_cast<unsigned>(frame.channel),
                  frame.sequence, static_cast<unsigned>(frame.frameNumber));
    return name;
}

} // namespace

FrameDumper::FrameDumper(DumpConfig config) : config_(std::move(config))
{
    std::error_code ec;
    std::filesystem::create_directories(config_.directory, ec);
    if (ec)
        throw std::runtime_error("dump directory " + config_.directory.string() + ": cannot create: " + ec.message());
    const auto indexPath = config_.directory / "index.txt";
    index_ = std::fopen(indexPath.c_str(), "w");
    if (index_ == nullptr)
        throw std::runtime_error("dump directory " + config_.directory.string() + ": cannot write " +
                                 indexPath.string() + ": " + std::strerror(errno));
    std::fprintf(index_, "# channel sequence frame_number bytes checksum\n");
}

FrameDumper::~FrameDumper()
{
    if (index_ != nullptr)
        std::fclose(index_);
}

void FrameDumper::operator()(const CompletedFrame& frame, uint64_t checksum)
{
    if (frame.sequence > config_.maxFramesPerChannel)
        return;
    std::fprintf(index_, "%u %" PRIu64 " %u %zu %s\n", static_cast<unsigned>(frame.channel), frame.sequence,
                 static_cast<unsigned>(frame.frameNumber), frame.bytes.size(), Fnv1a64::toHex(checksum).c_str());
    std::fflush(index_);

    const std::string stem = frameStem(frame);
    const auto rawPath = config_.directory / (stem + ".raw");
    try {
        // Under its name only when complete: a failed write leaves no half frame.
        qir::tools::OutputFile out(rawPath.string(), "frame file");
        out.write(std::span<const uint8_t>(frame.bytes.data(), frame.bytes.size()));
        out.commit();
    } catch (const qir::tools::OutputFileError& e) {
        fail(e.what());
        return;
    }
    rawFiles_.fetch_add(1, std::memory_order_relaxed);

    if (!config_.pixelFormat)
        return;
    const PixelFormat format = *config_.pixelFormat;
    const size_t lineBytes = bytesPerLine(format, frame.width);
    const bool fits = lineBytes != 0 &&
        std::all_of(frame.lineLengths.begin(), frame.lineLengths.end(), [&](uint32_t n) { return n == lineBytes; });
    if (!fits) {
        pngSkipped_.fetch_add(1, std::memory_order_relaxed);
        if (!pngNoteShown_) {
            pngNoteShown_ = true;
            std::fprintf(stderr,
                         "qir-unit-sim: frame %" PRIu64 " of channel %u: its lines are not %zu bytes "
                         "(width %u in %s); no PNG is written for such frames\n",
                         frame.sequence, static_cast<unsigned>(frame.channel), lineBytes,
                         static_cast<unsigned>(frame.width), std::string(pixelLayout(format).name).c_str());
        }
        return;
    }
    const std::string error =
        writePng(config_.directory / (stem + ".png"), format, frame.width, frame.height, frame.bytes);
    if (!error.empty()) {
        fail(error);
        return;
    }
    pngFiles_.fetch_add(1, std::memory_order_relaxed);
}

DumpCounters FrameDumper::counters() const
{
    return { rawFiles_.load(std::memory_order_relaxed), pngFiles_.load(std::memory_order_relaxed),
             pngSkipped_.load(std::memory_order_relaxed), errors_.load(std::memory_order_relaxed) };
}

void FrameDumper::fail(const std::string& message)
{
    const uint64_t n = errors_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (n <= ERRORS_PRINTED)
        std::fprintf(stderr, "qir-unit-sim: dump: %s\n", message.c_str());
    if (n == ERRORS_PRINTED)
        std::fprintf(stderr, "qir-unit-sim: dump: further errors are only counted\n");
}

} // namespace vxqir::sim
