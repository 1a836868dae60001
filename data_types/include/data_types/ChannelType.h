// ChannelType.h - the kinds of recorded bus and sensor frames.
#pragma once

#include <cstdint>
#include <string_view>

namespace qir::data_types {

/// Channel type of a record, stored as one byte in the base header.
///
/// A record read from outside may carry any byte here; values outside the
/// named ones are kept as they are and name no container class.
enum class ChannelType : uint8_t {
    NoneType = 0,
    CAN = 1,
    FlexRay = 2,
    Ethernet = 3,
    Video = 4,
    PLPRaw = 5,
    Lidar = 6,
    LIN = 7,
    SOMEIP = 8,
};

/// Number of named channel types (NoneType included); the named values are
/// 0 to kChannelTypeCount - 1.
inline constexpr unsigned kChannelTypeCount = 9;

/// Short name of a channel type for listings ("CAN", "Ethernet", ...), or
/// "unknown" for a value outside the named ones.
constexpr std::string_view channel_type_name(ChannelType type)
{
    switch (type) {
    case ChannelType::NoneType:
        return "None";
    case ChannelType::CAN:
        return "CAN";
    case ChannelType::FlexRay:
        return "FlexRay";
    case ChannelType::Ethernet:
        return "Ethernet";
    case ChannelType::Video:
        return "Video";
    case ChannelType::PLPRaw:
        return "PLPRaw";
    case ChannelType::Lidar:
        return "Lidar";
    case ChannelType::LIN:
        return "LIN";
    case ChannelType::SOMEIP:
        return "SOMEIP";
    }
    return "unknown";
}

} // namespace qir::data_types
