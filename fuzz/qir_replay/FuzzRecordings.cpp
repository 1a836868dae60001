// Any bytes as a recording file: read through a memory file, sniffed and
// read as each format; whatever is accepted is walked again for its
// checksums. Damage must end in a RecordingError, never a read outside the
// file.
#include "Recording.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = ::memfd_create("recording", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    using qir::replay::RawPixelFormat;
    using qir::replay::RecordingFormat;
    const std::optional<RecordingFormat> formats[] = { std::nullopt, RecordingFormat::Grabber, RecordingFormat::Raw };
    for (const auto& format : formats) {
        for (RawPixelFormat pixels : { RawPixelFormat::Yuv422, RawPixelFormat::Mono }) {
            try {
                const auto recording = qir::replay::Recording::open(path, format, pixels);
                uint64_t sum = 0;
                for (size_t i = 0; i < recording.frames().size(); ++i)
                    sum ^= recording.sentChecksum(i);
                (void)recording.sendShape();
                (void)sum;
            } catch (const qir::replay::RecordingError&) { }
        }
    }
    // A grabber index that trusts an earlier check reads only the frame
    // headers; the checksums then check each frame's packets first.
    try {
        qir::replay::OpenOptions trusted;
        trusted.format = RecordingFormat::Grabber;
        trusted.checked = qir::replay::MappedFile(path).fingerprint();
        const auto recording = qir::replay::Recording::open(path, trusted);
        for (size_t i = 0; i < recording.frames().size(); ++i)
            (void)recording.sentChecksum(i);
    } catch (const qir::replay::RecordingError&) { }
    ::close(fd);
    return 0;
}
