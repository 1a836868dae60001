#include "Recording.h"

#include "Csi2PacketChecks.h"
#include "FrameChecksum.h"
#include "unit_client/csi2/GrabberImageHeader.h"
#include "image_converter/RawFrameHeader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qir::replay {

namespace {

[[noreturn]] void damaged(const std::string& path, size_t offset, const std::string& cause)
{
    throw RecordingError(path + ": byte " + std::to_string(offset) + ": " + cause);
}

/// Frames the unit can take: lines and line lengths are 16-bit on the wire.
constexpr uint32_t kMaxLines = 0xFFFF;

} // namespace

std::string_view formatName(RecordingFormat format)
{
    switch (format) {
    case RecordingFormat::Grabber:
        return "grabber";
    case RecordingFormat::Raw:
        return "raw";
    case RecordingFormat::Record:
        return "record";
    case RecordingFormat::Images:
        return "images";
    case RecordingFormat::Jpeg:
        return "jpeg";
    case RecordingFormat::Video:
        return "video";
    }
    return "unknown";
}

std::optional<RecordingFormat> parseFormatName(std::string_view name)
{
    if (name == "grabber")
        return RecordingFormat::Grabber;
    if (name == "raw")
        return RecordingFormat::Raw;
    if (name == "record")
        return RecordingFormat::Record;
    if (name == "images")
        return RecordingFormat::Images;
    if (name == "jpeg")
        return RecordingFormat::Jpeg;
    if (name == "video")
        return RecordingFormat::Video;
    return std::nullopt;
}

MappedFile::MappedFile(const std::string& path) : path_(path)
{
    // Without blocking: opening a named pipe would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw RecordingError(path + ": cannot open: " + std::strerror(errno));
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw RecordingError(path + ": not a regular file (a pipe, device or socket cannot be replayed)");
    }
    if (st.st_size == 0) {
        ::close(fd);
        throw RecordingError(path + ": byte 0: the file is empty");
    }
    size_ = static_cast<size_t>(st.st_size);
    fingerprint_ = std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
        std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    void* map = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    const int mapErrno = errno;
    if (map == MAP_FAILED) {
        ::close(fd);
        throw RecordingError(path + ": cannot map: " + std::strerror(mapErrno));
    }
    data_ = static_cast<const uint8_t*>(map);
    fd_ = fd;
}

MappedFile::~MappedFile()
{
    if (data_ != nullptr)
        ::munmap(const_cast<uint8_t*>(data_), size_);
    if (fd_ >= 0)
        ::close(fd_);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : path_(std::move(other.path_))
    , fingerprint_(std::move(other.fingerprint_))
    , data_(std::exchange(other.data_, nullptr))
    , size_(std::exchange(other.size_, 0))
    , fd_(std::exchange(other.fd_, -1))
{ }

void MappedFile::read(size_t offset, std::span<uint8_t> into) const
{
    size_t done = 0;
    while (done < into.size()) {
        const ssize_t n = ::pread(fd_, into.data() + done, into.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            struct stat st { };
            const std::string now = ::fstat(fd_, &st) == 0
                ? "it now holds " + std::to_string(st.st_size) + " bytes, not " + std::to_string(size_)
                : std::string(std::strerror(errno));
            throw RecordingError(path_ + ": byte " + std::to_string(offset + done) +
                                 ": the file changed while it was replayed (" +
                                 (n < 0 ? std::string(std::strerror(errno)) : now) + ")");
        }
        done += static_cast<size_t>(n);
    }
}

bool MappedFile::intact() const
{
    struct stat st { };
    return ::fstat(fd_, &st) == 0 && static_cast<size_t>(st.st_size) >= size_;
}

std::optional<RecordingFormat> sniffFormat(std::span<const uint8_t> bytes)
{
    if (bytes.size() >= MIPICSI2::FIRST_PACKET_HEADER_OFFSET &&
        MIPICSI2::readUint32Le(bytes.data(), MIPICSI2::FIRST_RECORD_OFFSET) == MIPICSI2::CSI2_PREAMBLE)
        return RecordingFormat::Grabber;
    if (looksLikeRecordFile(bytes))
        return RecordingFormat::Record;
    if (bytes.size() < qir::raw::FrameHeaderSize)
        return std::nullopt;
    qir::raw::FrameHeader header;
    qir::raw::ReadFrameHeader(bytes.data(), bytes.size(), header);
    if (header.frameSize > qir::raw::FrameHeaderSize && header.bitsPerWord == 16 && header.lines > 0)
        return RecordingFormat::Raw;
    return std::nullopt;
}

void Recording::checkInterrupted() const
{
    if (interrupted_ && interrupted_())
        throw RecordingInterrupted(path_ + ": interrupted while it was read");
}

void Recording::reportProgress(uint64_t done) const
{
    if (progress_ && !files_.empty())
        progress_(done, files_.front().bytes().size());
}

std::string Recording::fingerprint() const
{
    return files_.size() == 1 && format_ != RecordingFormat::Images && format_ != RecordingFormat::Jpeg
        ? files_.front().fingerprint()
        : std::string();
}

Recording Recording::open(const std::string& path, std::optional<RecordingFormat> format, RawPixelFormat rawPixels,
                          bool keepGoing, const std::function<bool()>& interrupted,
                          const qir::video::VideoChoice& video)
{
    OpenOptions options;
    options.format = format;
    options.rawPixels = rawPixels;
    options.keepGoing = keepGoing;
    options.interrupted = interrupted;
    options.video = video;
    return open(path, options);
}

Recording Recording::open(const std::string& path, const OpenOptions& options)
{
    const std::optional<RecordingFormat> format = options.format;
    const bool keepGoing = options.keepGoing;
    Recording recording{ path };
    recording.video_ = options.video;
    recording.interrupted_ = options.interrupted;
    recording.progress_ = options.progress;
    recording.checked_ = options.checked;
    recording.rawPixels_ = options.rawPixels;
    struct stat st { };
    const bool directory = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    const bool imageFormat = format == RecordingFormat::Images || format == RecordingFormat::Jpeg;
    if (directory != imageFormat && format)
        throw RecordingError(
            path +
            (directory ? ": a directory holds images, not the " + std::string(formatName(*format)) + " format"
                       : ": images are read from a directory"));
    if (!directory)
        recording.files_.emplace_back(path);
    auto sniffed = directory ? format : format ? format : sniffFormat(recording.fileBytes());
    // Our own formats first: FFmpeg would take some of them for raw data.
    if (!sniffed && !directory) {
        const qir::video::VideoProbe probe = qir::video::probeVideoFile(path);
        if (probe.video)
            sniffed = RecordingFormat::Video;
        else if (!probe.problem.empty())
            damaged(path, 0, probe.problem);
    }
    if (!sniffed && !directory)
        damaged(path, 0,
                "neither a grabber stream, a record file, raw frames nor a video file (no grabber record at byte "
                "64, no whole record at byte 0, no raw frame header of 16-bit words, no video stream FFmpeg can "
                "open); --format names the format");
    try {
        if (directory) {
            recording.indexImages(format);
        } else {
            recording.format_ = *sniffed;
            if (recording.format_ == RecordingFormat::Grabber)
                recording.indexGrabber();
            else if (recording.format_ == RecordingFormat::Record)
                recording.indexRecords();
            else if (recording.format_ == RecordingFormat::Video) {
                if (!recording.takeCheckedVideoIndex(keepGoing))
                    recording.indexVideo();
            } else
                recording.indexRaw();
        }
    } catch (const RecordingInterrupted&) {
        throw;
    } catch (const RecordingError& error) {
        // Frames are indexed only once whole, so the index holds exactly the
        // frames before the damage.
        if (!keepGoing || recording.frames_.empty())
            throw;
        recording.damage_ = error.what();
    }
    if (recording.format_ == RecordingFormat::Video && !recording.trusted_)
        recording.shareVideoIndex(keepGoing);
    recording.interrupted_ = nullptr;
    recording.progress_ = nullptr;
    recording.checked_.clear();
    if (recording.format_ == RecordingFormat::Jpeg)
        recording.sizeCodedPackets();
    return recording;
}

std::span<const uint8_t> Recording::frameBytes(size_t index) const
{
    const FrameEntry& frame = frames_.at(index);
    return files_.at(frame.file).bytes().subspan(frame.offset, frame.size);
}

void Recording::copyFrame(size_t index, uint8_t* into) const
{
    copyFramePart(index, 0, { into, frames_.at(index).size });
}

void Recording::copyFramePart(size_t index, size_t from, std::span<uint8_t> into) const
{
    const FrameEntry& frame = frames_.at(index);
    if (from > frame.size || into.size() > frame.size - from)
        throw std::out_of_range("Recording::copyFramePart: bytes beyond frame " + std::to_string(index));
    try {
        files_.at(frame.file).read(frame.offset + from, into);
    } catch (const RecordingError& error) {
        // "FILE: byte B: ..." becomes "FILE: frame N, byte B: ...".
        const std::string text = error.what();
        const std::string file = files_.at(frame.file).path() + ": ";
        throw RecordingError(text.rfind(file, 0) == 0
                                 ? file + "frame " + std::to_string(index) + ", " + text.substr(file.size())
                                 : "frame " + std::to_string(index) + ": " + text);
    }
}

bool Recording::intact() const
{
    return std::all_of(files_.begin(), files_.end(), [](const MappedFile& file) { return file.intact(); });
}

uint64_t Recording::totalBytes() const
{
    uint64_t total = 0;
    for (const MappedFile& file : files_)
        total += file.bytes().size();
    return total;
}

bool Recording::carriesTimes() const
{
    switch (format_) {
    case RecordingFormat::Grabber:
    case RecordingFormat::Record:
        return true;
    case RecordingFormat::Raw:
        return false;
    case RecordingFormat::Video:
        return true;
    case RecordingFormat::Images:
    case RecordingFormat::Jpeg:
        return namesCarryTimes_;
    }
    return false;
}

void Recording::indexRaw()
{
    const std::span<const uint8_t> bytes = fileBytes();
    const size_t wordsPerPixel = rawPixels_ == RawPixelFormat::Yuv422 ? 2 : 1;
    size_t at = 0;
    while (at < bytes.size()) {
        checkInterrupted();
        reportProgress(at);
        qir::raw::FrameHeader header;
        if (!qir::raw::ReadFrameHeader(bytes.data() + at, bytes.size() - at, header))
            damaged(path(), at, "raw frame header cut short (" + std::to_string(bytes.size() - at) + " of 64 bytes)");
        if (header.frameSize <= qir::raw::FrameHeaderSize)
            damaged(path(), at, "raw frame size " + std::to_string(header.frameSize) + " leaves no pixels");
        if (header.frameSize > bytes.size() - at)
            damaged(path(), at,
                    "raw frame of " + std::to_string(header.frameSize) +
                        " bytes runs past the end of "
                        "the file (" +
                        std::to_string(bytes.size() - at) + " bytes left)");
        if (header.bitsPerWord != 16)
            damaged(path(), at + qir::raw::BitsPerWordOffset,
                    "raw frame of " + std::to_string(header.bitsPerWord) + "-bit words (16 are read)");
        if (header.lines == 0)
            damaged(path(), at + qir::raw::LinesOffset, "raw frame with 0 lines");
        const size_t pixelBytes = header.frameSize - qir::raw::FrameHeaderSize;
        const size_t lineBytes = pixelBytes / header.lines;
        if (pixelBytes % header.lines != 0 || lineBytes % (2 * wordsPerPixel) != 0)
            damaged(path(), at,
                    std::to_string(pixelBytes) + " pixel bytes are no whole number of lines of " +
                        std::to_string(header.lines) + " lines of whole pixels");
        const auto width = static_cast<uint32_t>(lineBytes / (2 * wordsPerPixel));
        if (frames_.empty()) {
            width_ = width;
            height_ = header.lines;
            if (width_ > kMaxLines || uint64_t{ width_ } * 3 > kMaxLines)
                damaged(path(), at, "raw lines of " + std::to_string(width_) + " pixels are too long for the unit");
        } else if (width != width_ || header.lines != height_) {
            damaged(path(), at,
                    "raw frame of " + std::to_string(width) + "x" + std::to_string(header.lines) + " after frames of " +
                        std::to_string(width_) + "x" + std::to_string(height_));
        }
        frames_.push_back({ at, header.frameSize, 0 });
        largest_ = std::max<size_t>(largest_, header.frameSize);
        at += header.frameSize;
    }
}

SendShape Recording::sendShape() const
{
    SendShape shape;
    shape.skipShortPackets = hasShortPackets_;
    shape.height = static_cast<uint16_t>(format_ == RecordingFormat::Record ? videoInfo_.front().dataChunks : height_);
    if (format_ == RecordingFormat::Grabber)
        shape.width = static_cast<uint16_t>(width_);
    else if (format_ == RecordingFormat::Record)
        shape.width = static_cast<uint16_t>(videoInfo_.empty() ? 0 : videoInfo_.front().payloadBytes);
    else if (format_ == RecordingFormat::Images || format_ == RecordingFormat::Video)
        shape.width = static_cast<uint16_t>(lineBytes());
    else if (format_ == RecordingFormat::Jpeg)
        shape.width = static_cast<uint16_t>(codedPacketBytes_);
    else
        shape.width = static_cast<uint16_t>(width_ * (rawPixels_ == RawPixelFormat::Yuv422 ? 3 : 2));
    return shape;
}

vxqir::frames::FrameSums Recording::sentSums(size_t index) const
{
    using namespace MIPICSI2;
    if (format_ == RecordingFormat::Record)
        return recordSentSums(index);
    if (format_ == RecordingFormat::Images || format_ == RecordingFormat::Jpeg)
        return imageSentSums(index);
    if (format_ == RecordingFormat::Video)
        return videoSums_.at(index);
    const std::span<const uint8_t> frame = frameBytes(index);
    vxqir::frames::FrameSumsHasher sum;
    // A trusted index read the frame headers alone: the packet records of
    // the frame are checked before they are walked.
    if (format_ == RecordingFormat::Grabber && trusted_)
        (void)walkGrabberFrame(frame, frames_.at(index).offset);
    if (format_ == RecordingFormat::Grabber) {
        // The unit client sends each long packet alone (without preamble and
        // padding); short packets are left out. The index has checked every record.
        const sxpf_image_header_s header = readGrabberHeader(frame.data());
        size_t record = FIRST_RECORD_OFFSET;
        for (uint32_t row = 0; row < header.rows; ++row) {
            const Csi2Header packet = readCsi2Header(frame.data(), record + CSI2_PREAMBLE_SIZE);
            if (isShortPacket(packet.type)) {
                record += SHORT_PACKET_RECORD_SIZE;
                continue;
            }
            const uint32_t length = longPacketLength(packet.packet_length);
            sum.update(frame.subspan(record + CSI2_PREAMBLE_SIZE, length));
            record += longPacketRecordSize(static_cast<uint16_t>(length), header.bpp);
        }
        return sum.value();
    }
    const std::span<const uint8_t> pixels = frame.subspan(qir::raw::FrameHeaderSize);
    if (rawPixels_ == RawPixelFormat::Mono) {
        sum.update(pixels); // 16-bit words copied unchanged, rows without padding
        return sum.value();
    }
    // YUV 4:2:2: each word pair (a, b) becomes three bytes holding the lower
    // ten bits of a at bits 2..11 and of b at bits 14..23. Fed in pieces of
    // many pairs: the digest's cost is per call as well as per byte.
    std::array<uint8_t, 3 * 1024> out;
    size_t filled = 0;
    for (size_t at = 0; at + 4 <= pixels.size(); at += 4) {
        const uint32_t a = (pixels[at] | pixels[at + 1] << 8) & 0x3FFu;
        const uint32_t b = (pixels[at + 2] | pixels[at + 3] << 8) & 0x3FFu;
        const uint32_t v = a << 2 | b << 14;
        out[filled] = static_cast<uint8_t>(v);
        out[filled + 1] = static_cast<uint8_t>(v >> 8);
        out[filled + 2] = static_cast<uint8_t>(v >> 16);
        filled += 3;
        if (filled == out.size()) {
            sum.update(out);
            filled = 0;
        }
    }
    sum.update(std::span<const uint8_t>(out).first(filled));
    return sum.value();
}

void throwDamaged(const std::string& path, size_t offset, const std::string& cause)
{
    throw RecordingError(path + ": byte " + std::to_string(offset) + ": " + cause);
}

} // namespace qir::replay
