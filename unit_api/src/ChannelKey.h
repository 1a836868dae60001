// ChannelKey.h - identity of a channel within a local endpoint.
#pragma once

#include "VXQIRApi.h"

#include <compare>
#include <string>

namespace vxqir {

// The unit's control address as dotted-decimal text and the channel index.
// Ordered by address text (byte-wise), then by channel number. Status
// datagrams are routed by (sender address, channel byte), so channels of
// several units can share one local endpoint.
struct ChannelKey {
    std::string control_ip;
    VXTQirChannelNumber channel_number = 0;

    auto operator<=>(const ChannelKey&) const = default;
    bool operator==(const ChannelKey&) const = default;
};

} // namespace vxqir
