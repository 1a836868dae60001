// RecordLayout.h - sizes of the serialized record of each channel type.
//
// A record is BaseHeader (17 bytes) + the type header + payload_length bytes.
// The overhead of a type is the two headers together; the largest record of
// a type is its overhead plus the largest payload its bus carries.
#pragma once

#include "data_types/BaseHeader.h"
#include "data_types/CANHeader.h"
#include "data_types/ChannelType.h"
#include "data_types/EthernetHeader.h"
#include "data_types/FlexrayHeader.h"
#include "data_types/LINHeader.h"
#include "data_types/LidarHeader.h"
#include "data_types/PLPRawHeader.h"
#include "data_types/SOMEIPHeader.h"
#include "data_types/VideoHeader.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qir::data_types {

/// Size of the type header that follows the base header, or nothing for a
/// byte that names no channel type.
constexpr std::optional<size_t> type_header_size(ChannelType type)
{
    switch (type) {
    case ChannelType::NoneType:
        return 0;
    case ChannelType::CAN:
        return sizeof(CANHeader);
    case ChannelType::FlexRay:
        return sizeof(FlexrayHeader);
    case ChannelType::Ethernet:
        return sizeof(EthernetHeader);
    case ChannelType::Video:
        return sizeof(VideoHeader);
    case ChannelType::PLPRaw:
        return sizeof(PLPRawHeader);
    case ChannelType::Lidar:
        return sizeof(LidarHeader);
    case ChannelType::LIN:
        return sizeof(LINHeader);
    case ChannelType::SOMEIP:
        return sizeof(SOMEIPHeader);
    }
    return std::nullopt;
}

/// Bytes of a record of this type that are not payload (base plus type
/// header), or nothing for a byte that names no channel type.
constexpr std::optional<size_t> record_overhead(ChannelType type)
{
    const std::optional<size_t> header = type_header_size(type);
    if (!header)
        return std::nullopt;
    return kBaseHeaderSize + *header;
}

/// Largest payload a record of this type carries; 0 for NoneType and for
/// bytes that name no channel type.
constexpr uint64_t maximum_payload_size(ChannelType type)
{
    switch (type) {
    case ChannelType::CAN:
        return 64; // CAN FD
    case ChannelType::FlexRay:
        return 254; // 127 words
    case ChannelType::Ethernet:
        return 9038; // jumbo frame after the ether type
    case ChannelType::Video:
        return 12522429;
    case ChannelType::PLPRaw:
        return 8900;
    case ChannelType::Lidar:
        return 33000;
    case ChannelType::LIN:
        return 8;
    case ChannelType::SOMEIP:
        return UINT32_MAX; // the 32-bit length field
    case ChannelType::NoneType:
        return 0;
    }
    return 0;
}

/// Largest record of this type in bytes; 0 for NoneType and for bytes that
/// name no channel type.
constexpr uint64_t maximum_record_size(ChannelType type)
{
    if (type == ChannelType::NoneType || !record_overhead(type))
        return 0;
    return *record_overhead(type) + maximum_payload_size(type);
}

static_assert(record_overhead(ChannelType::NoneType) == 17);
static_assert(record_overhead(ChannelType::CAN) == 27);
static_assert(record_overhead(ChannelType::FlexRay) == 32);
static_assert(record_overhead(ChannelType::Ethernet) == 35);
static_assert(record_overhead(ChannelType::Video) == 37);
static_assert(record_overhead(ChannelType::PLPRaw) == 27);
static_assert(record_overhead(ChannelType::Lidar) == 23);
static_assert(record_overhead(ChannelType::LIN) == 20);
static_assert(record_overhead(ChannelType::SOMEIP) == 39);

static_assert(maximum_record_size(ChannelType::CAN) == 91);
static_assert(maximum_record_size(ChannelType::FlexRay) == 286);
static_assert(maximum_record_size(ChannelType::Ethernet) == 9073);
static_assert(maximum_record_size(ChannelType::Video) == 12522466);
static_assert(maximum_record_size(ChannelType::PLPRaw) == 8927);
static_assert(maximum_record_size(ChannelType::Lidar) == 33023);
static_assert(maximum_record_size(ChannelType::LIN) == 28);
static_assert(maximum_record_size(ChannelType::SOMEIP) == 4294967334ull);

} // namespace qir::data_types
