#include "data_types/CANContainer.h"

#include "data_types/ByteWriter.h"

namespace qir::data_types {

CANFrameHeader CANContainer::get_can_frame() const
{
    CANFrameHeader frame{};
    frame.id = type_header_.id;
    frame.flags = static_cast<uint8_t>((type_header_.ide ? kCanFlagIde : 0) | (type_header_.brs ? kCanFlagBrs : 0) |
                                       (type_header_.edl ? kCanFlagEdl : 0));
    return frame;
}

std::span<uint8_t> CANContainer::copy_can_frame_to(std::span<uint8_t> dst) const
{
    if (dst.size() < sizeof(CANFrameHeader))
        throw std::length_error("CAN frame descriptor does not fit the destination");
    const CANFrameHeader frame = get_can_frame();
    ByteWriter writer(dst);
    writer.write(frame);
    return writer.rest();
}

std::span<uint8_t> CANContainer::copy_replay_data_to(std::span<uint8_t> dst) const
{
    const CANFrameHeader frame = get_can_frame();
    return copy_replay_form_to(dst, header_bytes(frame));
}

size_t CANContainer::get_replay_data_length() const
{
    return sizeof(CANFrameHeader) + get_payload_length();
}

} // namespace qir::data_types
