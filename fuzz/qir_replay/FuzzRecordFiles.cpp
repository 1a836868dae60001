// Any bytes as a record file: sniffed and read as Video records; whatever
// is accepted is walked again for its checksums and chunk checks. Damage
// must end in a RecordingError, never a read outside the file.
#include "Recording.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = ::memfd_create("record", MFD_CLOEXEC);
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
    using qir::replay::RecordingFormat;
    for (const std::optional<RecordingFormat> format :
         { std::optional<RecordingFormat>{}, std::optional{ RecordingFormat::Record } }) {
        for (const bool keepGoing : { false, true }) {
            try {
                const auto recording = qir::replay::Recording::open(path, format, {}, keepGoing);
                uint64_t sum = 0;
                for (size_t i = 0; i < recording.frames().size(); ++i)
                    sum ^= recording.sentChecksum(i);
                (void)recording.sendShape();
                (void)sum;
            } catch (const qir::replay::RecordingError&) { }
        }
    }
    ::close(fd);
    return 0;
}
