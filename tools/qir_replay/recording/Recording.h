// Recording.h - camera recordings on disk, mapped read-only and indexed.
//
// Two forms are read (docs/recording-formats.md):
//   grabber streams  grabber frames one after the other, each starting with
//                    the 64-byte grabber header whose frame_size gives its length
//   raw frames       frames with the 64-byte raw frame header (frame size,
//                    bits per word, lines), YUV 4:2:2 or mono 16-bit words
//
// Every read is checked against the file's size; damage is reported as a
// RecordingError whose text names the file and the byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qir::replay {

enum class RecordingFormat : uint8_t { Grabber, Raw };
enum class RawPixelFormat : uint8_t { Yuv422, Mono };

std::string_view formatName(RecordingFormat format);
/// "grabber" or "raw"; nullopt for anything else.
std::optional<RecordingFormat> parseFormatName(std::string_view name);

/// A recording that cannot be read: "FILE: byte OFFSET: cause" (or
/// "FILE: cause" when no offset applies).
class RecordingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A file mapped read-only. Move-only; unmaps on destruction. Thread-safe
/// to read once constructed.
class MappedFile {
public:
    /// Throws RecordingError for a missing, unreadable, empty or non-regular file.
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&&) = delete;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::span<const uint8_t> bytes() const { return { data_, size_ }; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

/// One frame of a recording: where its bytes lie and its recorded time.
struct FrameEntry {
    size_t offset = 0;
    size_t size = 0;
    uint64_t timeUs = 0; ///< grabber: the header's start time; raw: 0 (times come from a frame rate)
};

/// What is known of a grabber frame's packet records.
struct GrabberFrameInfo {
    uint16_t longPackets = 0;
    uint16_t shortPackets = 0;
    uint32_t lineBytes = 0;      ///< bytes of the first long packet (header, payload, checksum)
    uint32_t eccErrors = 0;      ///< long and short packet headers whose ECC byte disagrees
    uint32_t checksumErrors = 0; ///< long packets whose CRC-16 disagrees
};

/// How frames reach the unit, for the checksums the unit reports.
struct SendShape {
    uint16_t width = 0;  ///< bytes (grabber) or pixels (raw) per line
    uint16_t height = 0; ///< lines per frame
    bool skipShortPackets = false;
};

/// A recording, mapped and indexed. Thread-safe to read once constructed.
class Recording {
public:
    /// Maps `path`, picks the format by content unless `format` is given and
    /// indexes every frame. Throws RecordingError on damage or an unknown
    /// format; with `keepGoing`, damage after at least one whole frame ends
    /// the index there instead (damage() tells what and where).
    static Recording open(const std::string& path, std::optional<RecordingFormat> format = std::nullopt,
                          RawPixelFormat rawPixels = RawPixelFormat::Yuv422, bool keepGoing = false);

    /// The damage that ended the index early (keepGoing); empty when the
    /// whole file was read.
    const std::string& damage() const { return damage_; }

    const std::string& path() const { return file_.path(); }
    RecordingFormat format() const { return format_; }
    RawPixelFormat rawPixels() const { return rawPixels_; }
    const std::vector<FrameEntry>& frames() const { return frames_; }
    std::span<const uint8_t> frameBytes(size_t index) const;
    size_t largestFrame() const { return largest_; }
    uint64_t totalBytes() const { return file_.bytes().size(); }

    /// Raw frames: width in pixels and lines. Grabber: packet bytes and long packets.
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    /// Grabber: bits per pixel of the first frame's header.
    uint8_t bpp() const { return bpp_; }
    /// Grabber: any frame holds frame-start or frame-end packets.
    bool hasShortPackets() const { return hasShortPackets_; }

    /// Per grabber frame: packet counts and header/payload check results.
    const std::vector<GrabberFrameInfo>& grabberInfo() const { return grabberInfo_; }

    /// Checksum of frame `index` as the emulated unit reports it after the
    /// unit client (and, for raw frames, the image converter) sent it.
    uint64_t sentChecksum(size_t index) const;
    SendShape sendShape() const;

private:
    explicit Recording(MappedFile file) : file_(std::move(file)) { }
    void indexGrabber();
    void indexRaw();

    MappedFile file_;
    RecordingFormat format_ = RecordingFormat::Grabber;
    RawPixelFormat rawPixels_ = RawPixelFormat::Yuv422;
    std::vector<FrameEntry> frames_;
    std::vector<GrabberFrameInfo> grabberInfo_;
    size_t largest_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint8_t bpp_ = 0;
    bool hasShortPackets_ = false;
    std::string damage_;
};

/// The format the first bytes of a file look like; nullopt when neither.
std::optional<RecordingFormat> sniffFormat(std::span<const uint8_t> bytes);

} // namespace qir::replay
