#include "VideoCheck.h"

#include <cinttypes>

namespace qir::replay {

void printVideoCheck(const Recording& recording, std::FILE* out)
{
    const qir::video::VideoStreamInfo& info = recording.videoStream();
    const qir::video::PixelLayout& layout = qir::video::pixelLayout(recording.videoChoice().pixels);
    std::fprintf(out, "  container: %s, stream %d (%d video stream%s), codec %s\n", info.container.c_str(), info.stream,
                 info.videoStreams, info.videoStreams == 1 ? "" : "s", info.codec.c_str());
    std::fprintf(out, "  geometry: %u x %u pixels, %s; sent as %s: %u channel%s of %u bits, lines of %u bytes\n",
                 info.width, info.height, info.sourcePixels.c_str(), std::string(layout.name).c_str(),
                 unsigned{ layout.channels }, layout.channels == 1 ? "" : "s", unsigned{ layout.depth },
                 recording.lineBytes());
    const auto& frames = recording.frames();
    std::fprintf(out, "  frames: %zu decoded", frames.size());
    if (info.frameRate > 0)
        std::fprintf(out, ", frame rate %.3f frames/s (container)", info.frameRate);
    if (info.durationUs >= 0)
        std::fprintf(out, ", duration %.3f s (container)", static_cast<double>(info.durationUs) / 1e6);
    std::fprintf(out, "\n");
}

std::string videoPlayerProperties(const Recording& recording)
{
    const qir::video::VideoChoice& choice = recording.videoChoice();
    return ", PixelFormat = \"" + std::string(qir::video::pixelLayout(choice.pixels).name) +
        "\", Stream = " + std::to_string(recording.videoStream().stream);
}

} // namespace qir::replay
