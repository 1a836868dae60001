// The factory: one dispatch on the type byte, by value or shared.

#include "data_types/AnyContainer.h"
#include "byte_io/ByteReader.h"
#include "data_types/RecordCheck.h"

#include <memory>
#include <utility>

namespace qir::data_types {

namespace {

template <typename Container>
std::optional<AnyContainer> read_as(std::span<const uint8_t> src, bool copy_payload)
{
    std::optional<Container> container = Container::read_data_from(src, copy_payload);
    if (!container)
        return std::nullopt;
    return AnyContainer(std::in_place_type<Container>, std::move(*container));
}

std::optional<AnyContainer> read_untyped(std::span<const uint8_t> src, bool copy_payload)
{
    if (!check_record_layout(src, kBaseHeaderSize).ok())
        return std::nullopt;
    ByteReader reader(src);
    const BaseHeader base = reader.read<BaseHeader>();
    const std::span<const uint8_t> payload = reader.read_bytes(base.payload_length);
    if (reader.overflowed())
        return std::nullopt;
    return AnyContainer(std::in_place_type<BaseContainer>, base, payload, copy_payload);
}

} // namespace

std::optional<AnyContainer> make_container(std::span<const uint8_t> src, bool copy_payload)
{
    ByteReader reader(src);
    const BaseHeader base = reader.read<BaseHeader>();
    if (reader.overflowed())
        return std::nullopt;
    switch (base.type) {
    case ChannelType::NoneType:
        return read_untyped(src, copy_payload);
    case ChannelType::CAN:
        return read_as<CANContainer>(src, copy_payload);
    case ChannelType::FlexRay:
        return read_as<FlexrayContainer>(src, copy_payload);
    case ChannelType::Ethernet:
        return read_as<EthernetContainer>(src, copy_payload);
    case ChannelType::Video:
        return read_as<VideoContainer>(src, copy_payload);
    case ChannelType::PLPRaw:
        return read_as<PLPRawContainer>(src, copy_payload);
    case ChannelType::Lidar:
        return read_as<LidarContainer>(src, copy_payload);
    case ChannelType::LIN:
        return read_as<LINContainer>(src, copy_payload);
    case ChannelType::SOMEIP:
        return read_as<SOMEIPContainer>(src, copy_payload);
    }
    return std::nullopt;
}

std::shared_ptr<BaseContainer> BaseContainer::read_data_from(std::span<const uint8_t> src, bool copy_payload)
{
    std::optional<AnyContainer> container = make_container(src, copy_payload);
    if (!container)
        return nullptr;
    return std::visit(
        [](auto&& c) -> std::shared_ptr<BaseContainer> {
            using Container = std::decay_t<decltype(c)>;
            return std::make_shared<Container>(std::move(c));
        },
        std::move(*container));
}

} // namespace qir::data_types
