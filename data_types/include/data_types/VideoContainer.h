// VideoContainer.h - an image as recorded.
#pragma once

#include "data_types/VideoHeader.h"
#include "data_types/TypedContainer.h"

namespace qir::data_types {

/// An image: VideoHeader plus its data. Its replay-data form is the data alone.
/// Thread-bound, like BaseContainer.
class VideoContainer : public TypedContainer<VideoContainer, VideoHeader, ChannelType::Video> {
public:
    /// See BaseContainer's constructor; `payload` holds base.payload_length bytes.
    VideoContainer(const BaseHeader& base, const VideoHeader& header, std::span<const uint8_t> payload,
                   bool copy_payload)
        : TypedContainer(base, header, payload, copy_payload)
    { }

    /// Writes the 20-byte VideoHeader; returns the rest of `dst`.
    std::span<uint8_t> copy_video_header_to(std::span<uint8_t> dst) const { return copy_type_header_to(dst); }
};

} // namespace qir::data_types
