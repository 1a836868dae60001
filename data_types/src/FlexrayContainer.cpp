#include "data_types/FlexrayContainer.h"

#include "data_types/ByteWriter.h"

namespace qir::data_types {

FlexrayFrameHeader FlexrayContainer::get_flx_frame() const
{
    const FlexrayHeader& h = type_header_;
    FlexrayFrameHeader frame{};
    frame.id = h.id;
    frame.flags = static_cast<uint8_t>(
        (h.reserved_bit_flag ? kFlexrayFlagReservedBit : 0) |
        (h.payload_preamble_flag ? kFlexrayFlagPayloadPreamble : 0) | (h.null_frame_flag ? kFlexrayFlagNullFrame : 0) |
        (h.sync_frame_flag ? kFlexrayFlagSyncFrame : 0) | (h.startup_frame_flag ? kFlexrayFlagStartupFrame : 0));
    frame.cycleCount = h.cycle;
    frame.flx_channel = h.flx_channel;
    return frame;
}

std::span<uint8_t> FlexrayContainer::copy_flx_frame_to(std::span<uint8_t> dst) const
{
    if (dst.size() < sizeof(FlexrayFrameHeader))
        throw std::length_error("FlexRay frame descriptor does not fit the destination");
    const FlexrayFrameHeader frame = get_flx_frame();
    ByteWriter writer(dst);
    writer.write(frame);
    return writer.rest();
}

std::span<uint8_t> FlexrayContainer::copy_replay_data_to(std::span<uint8_t> dst) const
{
    const FlexrayFrameHeader frame = get_flx_frame();
    return copy_replay_form_to(dst, header_bytes(frame));
}

size_t FlexrayContainer::get_replay_data_length() const
{
    return sizeof(FlexrayFrameHeader) + get_payload_length();
}

} // namespace qir::data_types
