// PCAPData.h - one packet ready for a pcap file.
#pragma once

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qir::data_types {

/// Largest frame a PCAPData holds; longer frames are cut to this (caplen)
/// while `len` keeps their full size, as pcap marks a short capture.
inline constexpr size_t kPcapDataSize = 65536;
/// Link type of Ethernet frames (LINKTYPE_ETHERNET).
inline constexpr int kPcapLinkTypeEthernet = 1;

/// A pcap packet header and the packet's bytes, as libpcap's dump functions
/// take them. The time is split into seconds and microseconds (0 to 999999).
struct PCAPData {
    pcap_pkthdr header{};
    std::array<uint8_t, kPcapDataSize> data{};
    int m_linkType = kPcapLinkTypeEthernet;

    /// The captured bytes (header.caplen of them).
    std::span<const uint8_t> captured() const noexcept
    {
        return std::span<const uint8_t>(data).first(std::min<size_t>(header.caplen, data.size()));
    }
};

} // namespace qir::data_types
