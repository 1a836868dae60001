// AnyContainer.h - a container of any channel type held by value, and the
// factory that makes one from a record without allocating.
#pragma once

#include "data_types/BaseContainer.h"
#include "data_types/CANContainer.h"
#include "data_types/EthernetContainer.h"
#include "data_types/FlexrayContainer.h"
#include "data_types/LINContainer.h"
#include "data_types/LidarContainer.h"
#include "data_types/PLPRawContainer.h"
#include "data_types/SOMEIPContainer.h"
#include "data_types/VideoContainer.h"

#include <optional>
#include <span>
#include <variant>

namespace qir::data_types {

/// One container of whichever class its record's type byte names.
using AnyContainer = std::variant<BaseContainer, CANContainer, FlexrayContainer, EthernetContainer, VideoContainer,
                                  PLPRawContainer, LidarContainer, LINContainer, SOMEIPContainer>;

/// Reads the record at the start of `src` as BaseContainer::read_data_from
/// does, but returns the container by value. Without copying, nothing is
/// allocated and the container points into `src`.
std::optional<AnyContainer> make_container(std::span<const uint8_t> src, bool copy_payload);

/// The held container through its base class.
inline const BaseContainer& as_base(const AnyContainer& container)
{
    return std::visit([](const auto& c) -> const BaseContainer& { return c; }, container);
}

inline BaseContainer& as_base(AnyContainer& container)
{
    return std::visit([](auto& c) -> BaseContainer& { return c; }, container);
}

} // namespace qir::data_types
