// Recording.h - camera recordings on disk, mapped read-only and indexed.
//
// Five forms are read (docs/recording-formats.md):
//   grabber streams  grabber frames one after the other, each starting with
//                    the 64-byte grabber header whose frame_size gives its length
//   raw frames       frames with the 64-byte raw frame header (frame size,
//                    bits per word, lines), YUV 4:2:2 or mono 16-bit words
//   record files     sensor data records; each Video record's payload is a
//                    MIPI CSI-2 chunk container (RecordFile.cpp)
//   images           a directory of PNG, PGM or PPM files, sorted by name,
//                    sent as IPL images (ImageSequence.cpp)
//   JPEG images      a directory of JPEG files, sent as coded images
//   video files      any file FFmpeg opens with a video stream in it (MP4,
//                    MKV, MOV, AVI, ...; VideoRecording.cpp): decoded,
//                    converted to a pixel layout and sent as IPL images
//
// Every read is checked against the file's size; damage is reported as a
// RecordingError whose text names the file and the byte offset.
#pragma once

#include "FrameChecksum.h"
#include "VideoDecoder.h"
#include "data_types/VideoHeader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qir::replay {

enum class RecordingFormat : uint8_t { Grabber, Raw, Record, Images, Jpeg, Video };
enum class RawPixelFormat : uint8_t { Yuv422, Mono };

std::string_view formatName(RecordingFormat format);
/// "grabber", "raw", "record", "images", "jpeg" or "video"; nullopt for anything else.
std::optional<RecordingFormat> parseFormatName(std::string_view name);

/// A recording that cannot be read: "FILE: byte OFFSET: cause" (or
/// "FILE: cause" when no offset applies).
class RecordingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Throws RecordingError "PATH: byte OFFSET: cause".
[[noreturn]] void throwDamaged(const std::string& path, size_t offset, const std::string& cause);

/// Opening a recording was interrupted (Ctrl-C while it was indexed).
class RecordingInterrupted : public RecordingError {
public:
    using RecordingError::RecordingError;
};

/// A file mapped read-only, and kept open for reading it safely while it
/// may change. Move-only; unmaps and closes on destruction. Thread-safe to
/// read once constructed.
class MappedFile {
public:
    /// Throws RecordingError for a missing, unreadable, empty or non-regular
    /// file (a pipe or a device is refused at once, without reading it).
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&&) = delete;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    /// The mapped bytes: reading them faults (SIGBUS) where the file was
    /// cut short since; what runs while the file may change reads with
    /// `read` instead.
    std::span<const uint8_t> bytes() const { return { data_, size_ }; }
    const std::string& path() const { return path_; }
    /// Copies into.size() bytes at `offset` from the file itself. Throws
    /// RecordingError naming the file and byte when the file no longer holds
    /// them (cut short since it was mapped).
    void read(size_t offset, std::span<uint8_t> into) const;
    /// True while the file is as long as when it was mapped.
    bool intact() const;
    /// The open file, for reading it in blocks (FileBlocks).
    int fd() const { return fd_; }
    /// Size, modification time and file identity when mapped: equal
    /// fingerprints name the same, unchanged file.
    const std::string& fingerprint() const { return fingerprint_; }

private:
    std::string path_;
    std::string fingerprint_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    int fd_ = -1;
};

/// One frame of a recording: where its bytes lie and its recorded time.
struct FrameEntry {
    size_t offset = 0;
    size_t size = 0;
    uint64_t timeUs = 0; ///< grabber: the header's start time; record: the record's; raw: 0 (from a frame rate)
    uint32_t file = 0;   ///< images: which file of the directory
};

/// A Video record of a record file: its header and what its chunk container holds.
struct VideoFrameInfo {
    qir::data_types::VideoHeader header{};
    size_t recordOffset = 0;      ///< where the record starts in the file
    uint32_t dataChunks = 0;      ///< chunks that carry packet data
    uint32_t payloadBytes = 0;    ///< bus payload bytes of the first data chunk
    uint32_t lengthChanges = 0;   ///< data chunks whose bus payload length differs from the first one's
    uint32_t eccErrors = 0;       ///< chunks whose recorder flagged a packet header (ECC) error
    uint32_t checksumErrors = 0;  ///< chunks whose recorder flagged a payload checksum error
    uint32_t shortDataChunks = 0; ///< data chunks too short to carry a bus payload
};

/// The kind of one image file.
enum class ImageKind : uint8_t { Pgm, Ppm, Png, Jpeg };

/// An image file of an image sequence.
struct ImageInfo {
    ImageKind kind = ImageKind::Pgm;
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t channels = 1;   ///< 1 gray, 3 RGB (as sent); JPEG: its components
    size_t pixelOffset = 0; ///< PGM/PPM: where the pixels start
    std::string name;       ///< the file's name in the directory
};

/// What is known of a grabber frame's packet records.
struct GrabberFrameInfo {
    uint16_t longPackets = 0;
    uint16_t shortPackets = 0;
    uint32_t lineBytes = 0;      ///< bytes of the first long packet (header, payload, checksum)
    uint32_t eccErrors = 0;      ///< long and short packet headers whose ECC byte disagrees
    uint32_t checksumErrors = 0; ///< long packets whose CRC-16 disagrees
    /// The first long packet whose length differs from the recording's
    /// packet length (the first frame's first long packet), which the unit
    /// client does not send: its length and file byte offset; 0 for none.
    uint32_t otherLengthBytes = 0;
    uint64_t otherLengthOffset = 0;
};

/// How frames reach the unit, for the checksums the unit reports.
struct SendShape {
    uint16_t width = 0;  ///< bytes (grabber) or pixels (raw) per line
    uint16_t height = 0; ///< lines per frame
    bool skipShortPackets = false;
};

/// How a recording is opened (Recording::open).
struct OpenOptions {
    std::optional<RecordingFormat> format; ///< nullopt: recognised by content
    RawPixelFormat rawPixels = RawPixelFormat::Yuv422;
    /// Damage after at least one whole frame ends the index there instead
    /// of refusing the recording.
    bool keepGoing = false;
    /// Asked between frames while indexing: once it answers true, open
    /// throws RecordingInterrupted.
    std::function<bool()> interrupted;
    /// Told, between frames, the bytes indexed so far and the file's size
    /// (for a progress display: a long file is checked for seconds).
    std::function<void(uint64_t done, uint64_t total)> progress;
    /// The fingerprint() of an earlier open that checked the whole file:
    /// when the file still has it, a grabber stream is indexed from its
    /// frame headers alone (the first frame whole, for its geometry), in
    /// milliseconds whatever its size, and grabberInfo() is left empty. A
    /// video file takes the index (times, checksums) of a Recording of this
    /// process that decoded it with the same choice and keepGoing and still
    /// exists, without decoding it again; with none it is decoded.
    std::string checked;
    /// A video file: the stream replayed and the pixel layout its frames
    /// are sent in.
    qir::video::VideoChoice video;
};

/// The index of a decoded video file, shared with later opens of it.
struct SharedVideoIndex;

/// A recording, mapped and indexed. Thread-safe to read once constructed.
class Recording {
public:
    /// Maps `path` and indexes it as `options` say (see the other open).
    static Recording open(const std::string& path, const OpenOptions& options);

    /// Maps `path` (a file, or a directory of images), picks the format by
    /// content unless `format` is given and indexes every frame. Throws RecordingError on damage or an unknown
    /// format; with `keepGoing`, damage after at least one whole frame ends
    /// the index there instead (damage() tells what and where).
    /// `interrupted`, when given, is asked between frames while indexing: once
    /// it answers true, open throws RecordingInterrupted (a long file is
    /// indexed for seconds).
    /// A file in none of our own formats is tried as a video file; `video`
    /// picks its stream and the pixel layout its frames are sent in. A video
    /// file is decoded whole while it is indexed: its frame count, times and
    /// checksums are those of the decoded, converted frames.
    static Recording open(const std::string& path, std::optional<RecordingFormat> format = std::nullopt,
                          RawPixelFormat rawPixels = RawPixelFormat::Yuv422, bool keepGoing = false,
                          const std::function<bool()>& interrupted = {}, const qir::video::VideoChoice& video = {});

    /// The damage that ended the index early (keepGoing); empty when the
    /// whole file was read.
    const std::string& damage() const { return damage_; }

    const std::string& path() const { return path_; }
    RecordingFormat format() const { return format_; }
    RawPixelFormat rawPixels() const { return rawPixels_; }
    const std::vector<FrameEntry>& frames() const { return frames_; }
    std::span<const uint8_t> frameBytes(size_t index) const;
    /// Copies frame `index`'s bytes (frameBytes(index).size() of them) to
    /// `into` from the file itself, not the mapping. Throws RecordingError
    /// naming the file, the frame and the byte when the file was cut short
    /// since it was opened.
    void copyFrame(size_t index, uint8_t* into) const;
    /// As copyFrame, for the `into.size()` bytes of frame `index` from its
    /// byte `from` on (within the frame).
    void copyFramePart(size_t index, size_t from, std::span<uint8_t> into) const;
    /// True while every file of the recording is as long as when opened.
    bool intact() const;
    /// The file's fingerprint (MappedFile::fingerprint); empty for a
    /// directory of images.
    std::string fingerprint() const;
    /// Opened with a matching OpenOptions::checked: only the frame headers
    /// were read.
    bool trustedIndex() const { return trusted_; }
    size_t largestFrame() const { return largest_; }
    uint64_t totalBytes() const;

    /// The frames carry their own times (grabber, record files, images
    /// whose names carry a time); otherwise times come from a frame rate.
    bool carriesTimes() const;

    /// Raw frames and images: width in pixels and lines. Grabber: packet bytes
    /// and long packets. Record files: the first Video header's width and height.
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    /// Grabber: bits per pixel of the first frame's header.
    uint8_t bpp() const { return bpp_; }
    /// Grabber: any frame holds frame-start or frame-end packets.
    bool hasShortPackets() const { return hasShortPackets_; }

    /// Per grabber frame: packet counts and header/payload check results.
    const std::vector<GrabberFrameInfo>& grabberInfo() const { return grabberInfo_; }

    /// Record files: per frame its Video header and chunk checks; records of
    /// other types were skipped (counted).
    const std::vector<VideoFrameInfo>& videoInfo() const { return videoInfo_; }
    uint64_t skippedRecords() const { return skippedRecords_; }

    /// Images: per frame its file; files of the directory that are no image were skipped.
    const std::vector<ImageInfo>& imageInfo() const { return imageInfo_; }
    uint64_t skippedFiles() const { return skippedFiles_; }
    /// IPL images: bytes of one line as sent (width x channels; video: x
    /// the layout's bytes per pixel).
    uint32_t lineBytes() const
    {
        return format_ == RecordingFormat::Video ? width_ * qir::video::pixelLayout(video_.pixels).bytesPerPixel
                                                 : width_ * channels_;
    }

    /// Video files: the stream replayed and the layout its frames are sent
    /// in. Each frame's offset and size are those of its packet in the file.
    const qir::video::VideoChoice& videoChoice() const { return video_; }
    const qir::video::VideoStreamInfo& videoStream() const { return videoStream_; }
    uint8_t channels() const { return channels_; }
    /// JPEG: bytes of each unit packet. Every image is sent as `height`
    /// packets of this size: its bytes, then zeros.
    uint32_t codedPacketBytes() const { return codedPacketBytes_; }

    /// Writes the pixels of IPL image frame `index` (PNG decoded, PGM/PPM
    /// copied) to `out`, rows `rowStride` bytes apart. Throws RecordingError
    /// naming the file when a PNG does not decode.
    void decodeImage(size_t index, uint8_t* out, size_t rowStride) const;

    /// Checksum of frame `index` as the emulated unit reports it after the
    /// unit client (and, for raw frames, the image converter) sent it.
    /// Throws RecordingError naming the byte when a frame that a trusted
    /// index (OpenOptions::checked) did not check is damaged.
    uint64_t sentChecksum(size_t index) const { return sentSums(index).checksum; }
    /// The checksum and the digest (FrameDigest) of frame `index` as the
    /// emulated unit takes them; errors as sentChecksum().
    vxqir::frames::FrameSums sentSums(size_t index) const;
    SendShape sendShape() const;

private:
    explicit Recording(std::string path) : path_(std::move(path)) { }
    /// Throws RecordingInterrupted when the open was interrupted.
    void checkInterrupted() const;
    void indexGrabber();
    /// Walks the packet records of the grabber frame `frame` (at file byte
    /// `at`, its header `header`), checking them.
    GrabberFrameInfo walkGrabberFrame(std::span<const uint8_t> frame, size_t at) const;
    void reportProgress(uint64_t done) const;
    void indexRaw();
    void indexRecords();
    void indexImages(std::optional<RecordingFormat> format);
    void sizeCodedPackets();
    void indexVideo();
    /// Takes the index of a living Recording that decoded the same file
    /// (checked_ is its fingerprint) with the same choice; false when none.
    bool takeCheckedVideoIndex(bool keepGoing);
    /// Lets later opens of this unchanged file take this index.
    void shareVideoIndex(bool keepGoing);
    vxqir::frames::FrameSums recordSentSums(size_t index) const;
    vxqir::frames::FrameSums imageSentSums(size_t index) const;
    std::span<const uint8_t> fileBytes() const { return files_.front().bytes(); }

    std::string path_;
    std::vector<MappedFile> files_;
    RecordingFormat format_ = RecordingFormat::Grabber;
    RawPixelFormat rawPixels_ = RawPixelFormat::Yuv422;
    std::vector<FrameEntry> frames_;
    std::vector<GrabberFrameInfo> grabberInfo_;
    std::vector<VideoFrameInfo> videoInfo_;
    std::vector<ImageInfo> imageInfo_;
    uint64_t skippedRecords_ = 0;
    uint64_t skippedFiles_ = 0;
    uint8_t channels_ = 1;
    uint32_t codedPacketBytes_ = 0;
    bool namesCarryTimes_ = false;
    size_t largest_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint8_t bpp_ = 0;
    bool hasShortPackets_ = false;
    std::string damage_;
    std::function<bool()> interrupted_;                ///< while opening
    std::function<void(uint64_t, uint64_t)> progress_; ///< while opening
    std::string checked_;                              ///< while opening
    bool trusted_ = false;
    qir::video::VideoChoice video_;
    qir::video::VideoStreamInfo videoStream_;
    std::vector<vxqir::frames::FrameSums> videoSums_; ///< per frame: the sums of its converted lines
    /// What a decoded video file's index is shared as (VideoRecording.cpp):
    /// it stays takeable while a Recording holds it.
    std::shared_ptr<const SharedVideoIndex> videoIndex_;
};

/// The format the first bytes of a file look like; nullopt when none.
std::optional<RecordingFormat> sniffFormat(std::span<const uint8_t> bytes);

/// The bytes start with a whole sensor data record of a known type.
bool looksLikeRecordFile(std::span<const uint8_t> bytes);

} // namespace qir::replay
