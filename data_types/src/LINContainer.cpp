#include "data_types/LINContainer.h"

#include "data_types/ByteWriter.h"

namespace qir::data_types {

std::span<uint8_t> LINContainer::copy_lin_frame_to(std::span<uint8_t> dst) const
{
    if (dst.size() < sizeof(LINFrameHeader))
        throw std::length_error("LIN frame descriptor does not fit the destination");
    ByteWriter writer(dst);
    writer.write(get_lin_frame());
    return writer.rest();
}

std::span<uint8_t> LINContainer::copy_replay_data_to(std::span<uint8_t> dst) const
{
    const LINFrameHeader frame = get_lin_frame();
    return copy_replay_form_to(dst, header_bytes(frame));
}

size_t LINContainer::get_replay_data_length() const
{
    return sizeof(LINFrameHeader) + get_payload_length();
}

} // namespace qir::data_types
