// EthernetContainer.h - a recorded Ethernet frame and what it carries.
#pragma once

#include "data_types/EthernetFrameHeader.h"
#include "data_types/EthernetHeader.h"
#include "data_types/PCAPData.h"
#include "data_types/SOMEIPMessage.h"
#include "data_types/TypedContainer.h"

#include <array>
#include <cstdint>
#include <vector>

namespace qir::data_types {

/// An Ethernet frame: EthernetHeader (MAC addresses, ether type) plus the
/// frame after the ether type, VLAN tags included.
///
/// At construction the container looks through one VLAN tag (ether type
/// 0x8100) or two (0x88A8) to the effective ether type and the payload behind
/// the tags. Accessors with `skip_vlan_tag` false return the recorded ether
/// type and payload, with it true the effective ones. The IP, UDP, TCP and
/// SOME/IP inspection always works behind the tags.
///
/// Every inspection reads only the recorded payload. When a frame does not
/// hold what is asked, or holds it only in part, ContainerError is raised
/// (see ContainerError.h for the texts) and nothing is returned.
///
/// Setters change the container's payload in place; a borrowed payload is
/// copied first, so the caller's memory is never written. Thread-bound,
/// like BaseContainer.
class EthernetContainer : public TypedContainer<EthernetContainer, EthernetHeader, ChannelType::Ethernet> {
public:
    /// See BaseContainer's constructor; `payload` holds base.payload_length bytes.
    EthernetContainer(const BaseHeader& base, const EthernetHeader& header, std::span<const uint8_t> payload,
                      bool copy_payload);

    EthernetContainer(const EthernetContainer&) = default;
    EthernetContainer& operator=(const EthernetContainer&) = default;
    /// The moved-from container describes what payload it has left.
    EthernetContainer(EthernetContainer&& other) noexcept;
    EthernetContainer& operator=(EthernetContainer&& other) noexcept;

    std::span<uint8_t> copy_replay_data_to(std::span<uint8_t> dst) const override;
    size_t get_replay_data_length() const override;

    /// Writes the 18-byte EthernetHeader; returns the rest of `dst`.
    std::span<uint8_t> copy_eth_header_to(std::span<uint8_t> dst) const { return copy_type_header_to(dst); }
    /// The replay descriptor: source MAC, destination MAC, recorded ether type.
    EthernetFrameHeader get_eth_frame() const;
    /// Writes get_eth_frame() (14 bytes); returns the rest of `dst`. Throws
    /// std::length_error when it does not fit.
    std::span<uint8_t> copy_eth_frame_to(std::span<uint8_t> dst) const;

    // Ethernet ---------------------------------------------------------------

    /// The recorded ether type, or with `skip_vlan_tag` the one behind the
    /// VLAN tags (raises kErrorTruncatedVlanTag if the tags are cut short).
    uint16_t get_ethertype(bool skip_vlan_tag) const;
    /// MAC addresses, six bytes in a 64-bit number, first byte lowest.
    uint64_t get_src_mac() const;
    uint64_t get_dst_mac() const;
    /// The whole payload, or with `skip_vlan_tag` the part behind the tags.
    std::span<const uint8_t> get_ethernet_payload(bool skip_vlan_tag) const;
    size_t get_ethernet_payload_length(bool skip_vlan_tag) const;
    /// Number of VLAN tags the recorded ether type announces (0, 1 or 2).
    unsigned get_vlan_tag_count() const;
    /// The VLAN id (low 12 bits of the outer tag's control field); raises
    /// kErrorTruncatedVlanTag when there is no whole tag.
    uint16_t get_vlan_id() const;

    // IP -------------------------------------------------------------------

    /// High nibble of the first IP byte; kErrorNotIpFrame unless the
    /// effective ether type is IPv4 or IPv6.
    uint8_t get_version() const;
    /// Header length in 32-bit words; kErrorNotIpv4Frame unless IPv4.
    uint8_t get_ihl() const;
    /// IPv4 addresses as stored (network byte order in memory).
    uint32_t get_src_ipv4() const;
    uint32_t get_dst_ipv4() const;
    void set_src_ipv4(uint32_t address);
    void set_dst_ipv4(uint32_t address);
    /// IPv6 addresses; kErrorNotIpv6Frame unless IPv6.
    std::array<uint8_t, 16> get_src_ipv6() const;
    std::array<uint8_t, 16> get_dst_ipv6() const;
    void set_src_ipv6(const std::array<uint8_t, 16>& address);
    void set_dst_ipv6(const std::array<uint8_t, 16>& address);

    /// Start of the IP payload (behind an authentication header with
    /// `skip_authentication`); kErrorNotIpPacket unless IPv4 or IPv6.
    const uint8_t* get_ip_payload_start(bool skip_authentication) const;
    /// Its length: for IPv4 what follows the header in the frame, for IPv6
    /// the header's payload length (less the authentication header when
    /// skipped); kErrorNotIpPacket unless IPv4 or IPv6.
    size_t get_ip_payload_length(bool skip_authentication) const;
    /// Both as one view.
    std::span<const uint8_t> get_ip_payload(bool skip_authentication) const;
    /// IP protocol (next header); with `skip_authentication` the one behind an
    /// authentication header. kErrorNotIpFrame unless IPv4 or IPv6.
    uint8_t get_protocol(bool skip_authentication) const;

    // UDP and TCP (behind an authentication header) -----------------------------

    /// kErrorNotUdpOrTcp unless the protocol is UDP or TCP.
    uint16_t get_src_port() const;
    uint16_t get_dst_port() const;
    void set_src_port(uint16_t port);
    void set_dst_port(uint16_t port);
    /// The UDP length field (header included); kErrorNotUdp unless UDP.
    uint16_t get_udp_length() const;
    /// The UDP payload (get_udp_length() - 8 bytes); kErrorNotUdp unless UDP,
    /// kErrorTruncatedUdp when the length is below 8 or runs past the frame.
    std::span<const uint8_t> get_udp_payload() const;
    /// The SOME/IP messages in the UDP payload, with this frame's time; see
    /// SOMEIPMessage::read_someip_messages.
    std::vector<SOMEIPMessage> get_someip_messages() const;

    // pcap ------------------------------------------------------------------

    /// Fills `pcap` with this frame as it was on the wire: destination MAC,
    /// source MAC, ether type (big-endian) and payload; with `remove_vlan`
    /// the effective ether type and the payload behind the tags. Frames
    /// longer than the data area are cut (caplen < len). The time is split
    /// into whole seconds (rounded down) and microseconds 0 to 999999;
    /// kErrorPcapTime when the seconds do not fit a signed 32-bit count.
    void to_pcap(PCAPData& pcap, bool remove_vlan) const;
    /// As above, into a new PCAPData.
    PCAPData to_pcap(bool remove_vlan) const;

private:
    /// Where the IP payload lies, relative to the payload behind the tags.
    struct IpLocation {
        uint8_t protocol;
        size_t start;
        size_t length;
    };

    std::span<const uint8_t> inner_payload() const;
    std::span<const uint8_t> ipv4_header() const;
    std::span<const uint8_t> ipv6_header() const;
    IpLocation locate_ip(bool skip_authentication, const char* not_ip_text) const;
    IpLocation locate_transport(const char* wrong_protocol_text, bool udp_only) const;
    void write_inner(size_t offset, std::span<const uint8_t> bytes);
    /// Finds the effective ether type and the payload behind the VLAN tags.
    void find_inner() noexcept;

    // Found at construction from the recorded ether type and the payload.
    uint16_t effective_ether_type_ = 0;
    size_t inner_offset_ = 0;   ///< bytes of VLAN tags at the payload's start
    size_t inner_size_ = 0;     ///< payload bytes behind the tags
    bool tags_complete_ = true; ///< false when the payload is shorter than its tags
};

} // namespace qir::data_types
