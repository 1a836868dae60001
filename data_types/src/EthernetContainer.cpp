#include "data_types/EthernetContainer.h"

#include "data_types/AuthenticationHeaderLayout.h"
#include "byte_io/ByteReader.h"
#include "data_types/ByteWriter.h"
#include "data_types/ContainerError.h"
#include "data_types/EthernetLayout.h"
#include "data_types/Ipv4Layout.h"
#include "data_types/Ipv6Layout.h"
#include "data_types/TransportLayout.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

namespace qir::data_types {

namespace {

std::string hex16(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof(text), "0x%04X", value);
    return text;
}

std::string bytes_text(size_t count)
{
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

uint16_t be16_at(std::span<const uint8_t> bytes, size_t offset)
{
    ByteReader reader(bytes);
    reader.skip(offset);
    return reader.read_be16();
}

uint64_t mac_to_number(const std::array<uint8_t, 6>& mac)
{
    uint64_t value = 0;
    for (size_t i = 0; i < mac.size(); ++i)
        value |= uint64_t{ mac[i] } << (8 * i);
    return value;
}

} // namespace

EthernetContainer::EthernetContainer(const BaseHeader& base, const EthernetHeader& header,
                                     std::span<const uint8_t> payload, bool copy_payload)
    : TypedContainer(base, header, payload, copy_payload)
{
    find_inner();
}

EthernetContainer::EthernetContainer(EthernetContainer&& other) noexcept : TypedContainer(std::move(other))
{
    find_inner();
    other.find_inner();
}

EthernetContainer& EthernetContainer::operator=(EthernetContainer&& other) noexcept
{
    TypedContainer::operator=(std::move(other));
    find_inner();
    other.find_inner();
    return *this;
}

void EthernetContainer::find_inner() noexcept
{
    effective_ether_type_ = type_header_.ether_type;
    inner_offset_ = 0;
    inner_size_ = get_payload_length();
    tags_complete_ = true;
    size_t tag_size = 0;
    size_t type_offset = 0;
    if (type_header_.ether_type == ethernet::kEtherTypeVlan) {
        tag_size = ethernet::kSingleTagSize;
        type_offset = ethernet::kSingleTagInnerTypeOffset;
    } else if (type_header_.ether_type == ethernet::kEtherTypeDoubleVlan) {
        tag_size = ethernet::kDoubleTagSize;
        type_offset = ethernet::kDoubleTagInnerTypeOffset;
    }
    if (tag_size == 0)
        return;
    if (inner_size_ < tag_size) {
        tags_complete_ = false;
        return;
    }
    effective_ether_type_ = be16_at(get_payload(), type_offset);
    inner_offset_ = tag_size;
    inner_size_ -= tag_size;
}

// Replay data ------------------------------------------------------------------

EthernetFrameHeader EthernetContainer::get_eth_frame() const
{
    EthernetFrameHeader frame{};
    frame.src_mac = type_header_.src_mac;
    frame.dst_mac = type_header_.dst_mac;
    frame.set_ether_type(type_header_.ether_type);
    return frame;
}

std::span<uint8_t> EthernetContainer::copy_eth_frame_to(std::span<uint8_t> dst) const
{
    if (dst.size() < sizeof(EthernetFrameHeader))
        throw std::length_error("Ethernet frame descriptor does not fit the destination");
    ByteWriter writer(dst);
    writer.write(get_eth_frame());
    return writer.rest();
}

std::span<uint8_t> EthernetContainer::copy_replay_data_to(std::span<uint8_t> dst) const
{
    const EthernetFrameHeader frame = get_eth_frame();
    return copy_replay_form_to(dst, header_bytes(frame));
}

size_t EthernetContainer::get_replay_data_length() const
{
    return sizeof(EthernetFrameHeader) + get_payload_length();
}

// Ethernet ---------------------------------------------------------------------

std::span<const uint8_t> EthernetContainer::inner_payload() const
{
    if (!tags_complete_) {
        const unsigned tags = get_vlan_tag_count();
        throw ContainerError(kErrorTruncatedVlanTag,
                             "ether type " + hex16(type_header_.ether_type) + " announces " + std::to_string(tags) +
                                 (tags == 1 ? " tag" : " tags") + " of " +
                                 bytes_text(tags == 1 ? ethernet::kSingleTagSize : ethernet::kDoubleTagSize) +
                                 ", but the payload has " + bytes_text(get_payload_length()));
    }
    return get_payload().subspan(inner_offset_, inner_size_);
}

uint16_t EthernetContainer::get_ethertype(bool skip_vlan_tag) const
{
    if (!skip_vlan_tag)
        return type_header_.ether_type;
    inner_payload(); // raises when the tags are cut short
    return effective_ether_type_;
}

uint64_t EthernetContainer::get_src_mac() const
{
    return mac_to_number(type_header_.src_mac);
}

uint64_t EthernetContainer::get_dst_mac() const
{
    return mac_to_number(type_header_.dst_mac);
}

std::span<const uint8_t> EthernetContainer::get_ethernet_payload(bool skip_vlan_tag) const
{
    return skip_vlan_tag ? inner_payload() : get_payload();
}

size_t EthernetContainer::get_ethernet_payload_length(bool skip_vlan_tag) const
{
    return get_ethernet_payload(skip_vlan_tag).size();
}

unsigned EthernetContainer::get_vlan_tag_count() const
{
    switch (type_header_.ether_type) {
    case ethernet::kEtherTypeVlan:
        return 1;
    case ethernet::kEtherTypeDoubleVlan:
        return 2;
    default:
        return 0;
    }
}

uint16_t EthernetContainer::get_vlan_id() const
{
    if (get_vlan_tag_count() == 0)
        throw ContainerError(kErrorTruncatedVlanTag,
                             "ether type " + hex16(type_header_.ether_type) + " announces no VLAN tag");
    inner_payload(); // raises when the tags are cut short
    return static_cast<uint16_t>(be16_at(get_payload(), 0) & ethernet::kVlanIdMask);
}

// IP -----------------------------------------------------------------------------

uint8_t EthernetContainer::get_version() const
{
    const std::span<const uint8_t> inner = inner_payload();
    if (effective_ether_type_ != ethernet::kEtherTypeIpv4 && effective_ether_type_ != ethernet::kEtherTypeIpv6)
        throw ContainerError(kErrorNotIpFrame, "ether type " + hex16(effective_ether_type_));
    if (inner.empty())
        throw ContainerError(kErrorTruncatedIpHeader, "no bytes follow the ether type");
    return static_cast<uint8_t>(inner[0] >> 4);
}

uint8_t EthernetContainer::get_ihl() const
{
    const std::span<const uint8_t> inner = inner_payload();
    if (effective_ether_type_ != ethernet::kEtherTypeIpv4)
        throw ContainerError(kErrorNotIpv4Frame, "ether type " + hex16(effective_ether_type_));
    if (inner.empty())
        throw ContainerError(kErrorTruncatedIpHeader, "no bytes follow the ether type");
    return static_cast<uint8_t>(inner[ipv4::kVersionIhlOffset] & 0x0F);
}

std::span<const uint8_t> EthernetContainer::ipv4_header() const
{
    const uint8_t ihl = get_ihl();
    const std::span<const uint8_t> inner = inner_payload();
    const size_t header_size = ipv4::kIhlUnit * ihl;
    if (ihl < ipv4::kMinimumIhl) {
        throw ContainerError(kErrorTruncatedIpHeader,
                             "IPv4 header length field " + std::to_string(ihl) + " is below the minimum of 5 words");
    }
    if (header_size > inner.size()) {
        throw ContainerError(kErrorTruncatedIpHeader,
                             "IPv4 header of " + bytes_text(header_size) + ", but " + bytes_text(inner.size()) +
                                 " follow the ether type");
    }
    return inner.first(header_size);
}

std::span<const uint8_t> EthernetContainer::ipv6_header() const
{
    const std::span<const uint8_t> inner = inner_payload();
    if (effective_ether_type_ != ethernet::kEtherTypeIpv6)
        throw ContainerError(kErrorNotIpv6Frame, "ether type " + hex16(effective_ether_type_));
    if (inner.size() < ipv6::kHeaderSize) {
        throw ContainerError(kErrorTruncatedIpHeader,
                             "IPv6 header of " + bytes_text(ipv6::kHeaderSize) + ", but " + bytes_text(inner.size()) +
                                 " follow the ether type");
    }
    return inner.first(ipv6::kHeaderSize);
}

uint32_t EthernetContainer::get_src_ipv4() const
{
    ByteReader reader(ipv4_header());
    reader.skip(ipv4::kSourceOffset);
    return reader.read<uint32_t>();
}

uint32_t EthernetContainer::get_dst_ipv4() const
{
    ByteReader reader(ipv4_header());
    reader.skip(ipv4::kDestinationOffset);
    return reader.read<uint32_t>();
}

void EthernetContainer::set_src_ipv4(uint32_t address)
{
    ipv4_header();
    write_inner(ipv4::kSourceOffset, header_bytes(address));
}

void EthernetContainer::set_dst_ipv4(uint32_t address)
{
    ipv4_header();
    write_inner(ipv4::kDestinationOffset, header_bytes(address));
}

std::array<uint8_t, 16> EthernetContainer::get_src_ipv6() const
{
    ByteReader reader(ipv6_header());
    reader.skip(ipv6::kSourceOffset);
    return reader.read<std::array<uint8_t, 16>>();
}

std::array<uint8_t, 16> EthernetContainer::get_dst_ipv6() const
{
    ByteReader reader(ipv6_header());
    reader.skip(ipv6::kDestinationOffset);
    return reader.read<std::array<uint8_t, 16>>();
}

void EthernetContainer::set_src_ipv6(const std::array<uint8_t, 16>& address)
{
    ipv6_header();
    write_inner(ipv6::kSourceOffset, address);
}

void EthernetContainer::set_dst_ipv6(const std::array<uint8_t, 16>& address)
{
    ipv6_header();
    write_inner(ipv6::kDestinationOffset, address);
}

EthernetContainer::IpLocation EthernetContainer::locate_ip(bool skip_authentication, const char* not_ip_text) const
{
    inner_payload(); // raises when the VLAN tags are cut short
    IpLocation location{};
    if (effective_ether_type_ == ethernet::kEtherTypeIpv4) {
        const std::span<const uint8_t> header = ipv4_header();
        location.protocol = header[ipv4::kProtocolOffset];
        location.start = header.size();
        location.length = inner_size_ - header.size();
    } else if (effective_ether_type_ == ethernet::kEtherTypeIpv6) {
        const std::span<const uint8_t> header = ipv6_header();
        location.protocol = header[ipv6::kNextHeaderOffset];
        location.start = header.size();
        location.length = be16_at(header, ipv6::kPayloadLengthOffset);
        if (location.length > inner_size_ - header.size()) {
            throw ContainerError(kErrorTruncatedIpPacket,
                                 "IPv6 payload length " + std::to_string(location.length) + ", but " +
                                     bytes_text(inner_size_ - header.size()) + " follow the header");
        }
    } else {
        throw ContainerError(not_ip_text, "ether type " + hex16(effective_ether_type_));
    }

    if (skip_authentication && location.protocol == auth_header::kProtocol) {
        ByteReader reader(inner_payload().subspan(location.start, location.length));
        const uint8_t next_header = reader.read_u8();
        const size_t size = auth_header::header_size(reader.read_u8());
        if (reader.overflowed() || size > location.length) {
            throw ContainerError(kErrorTruncatedAuthHeader,
                                 "authentication header of " +
                                     (reader.overflowed() ? std::string("unknown size") : bytes_text(size)) +
                                     ", but the IP payload has " + bytes_text(location.length));
        }
        location.protocol = next_header;
        location.start += size;
        location.length -= size;
    }
    return location;
}

const uint8_t* EthernetContainer::get_ip_payload_start(bool skip_authentication) const
{
    return get_ip_payload(skip_authentication).data();
}

size_t EthernetContainer::get_ip_payload_length(bool skip_authentication) const
{
    return locate_ip(skip_authentication, kErrorNotIpPacket).length;
}

std::span<const uint8_t> EthernetContainer::get_ip_payload(bool skip_authentication) const
{
    const IpLocation location = locate_ip(skip_authentication, kErrorNotIpPacket);
    return inner_payload().subspan(location.start, location.length);
}

uint8_t EthernetContainer::get_protocol(bool skip_authentication) const
{
    return locate_ip(skip_authentication, kErrorNotIpFrame).protocol;
}

// UDP and TCP -------------------------------------------------------------------

EthernetContainer::IpLocation EthernetContainer::locate_transport(const char* wrong_protocol_text, bool udp_only) const
{
    const IpLocation location = locate_ip(true, kErrorNotIpFrame);
    const bool udp = location.protocol == transport::kProtocolUdp;
    const bool tcp = location.protocol == transport::kProtocolTcp;
    if (!(udp || (tcp && !udp_only)))
        throw ContainerError(wrong_protocol_text, "IP protocol " + std::to_string(location.protocol));
    const size_t needed = udp ? transport::kUdpHeaderSize : transport::kPortsSize;
    if (location.length < needed) {
        throw ContainerError(kErrorTruncatedTransport,
                             std::string(udp ? "UDP" : "TCP") + " header needs " + bytes_text(needed) +
                                 ", but the IP payload has " + bytes_text(location.length));
    }
    return location;
}

uint16_t EthernetContainer::get_src_port() const
{
    const IpLocation location = locate_transport(kErrorNotUdpOrTcp, false);
    return be16_at(inner_payload(), location.start + transport::kSourcePortOffset);
}

uint16_t EthernetContainer::get_dst_port() const
{
    const IpLocation location = locate_transport(kErrorNotUdpOrTcp, false);
    return be16_at(inner_payload(), location.start + transport::kDestinationPortOffset);
}

void EthernetContainer::set_src_port(uint16_t port)
{
    const IpLocation location = locate_transport(kErrorNotUdpOrTcp, false);
    const uint8_t bytes[2] = { static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port) };
    write_inner(location.start + transport::kSourcePortOffset, bytes);
}

void EthernetContainer::set_dst_port(uint16_t port)
{
    const IpLocation location = locate_transport(kErrorNotUdpOrTcp, false);
    const uint8_t bytes[2] = { static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port) };
    write_inner(location.start + transport::kDestinationPortOffset, bytes);
}

uint16_t EthernetContainer::get_udp_length() const
{
    const IpLocation location = locate_transport(kErrorNotUdp, true);
    return be16_at(inner_payload(), location.start + transport::kUdpLengthOffset);
}

std::span<const uint8_t> EthernetContainer::get_udp_payload() const
{
    const IpLocation location = locate_transport(kErrorNotUdp, true);
    const uint16_t udp_length = be16_at(inner_payload(), location.start + transport::kUdpLengthOffset);
    if (udp_length < transport::kUdpHeaderSize || udp_length > location.length) {
        throw ContainerError(kErrorTruncatedUdp,
                             "UDP length " + std::to_string(udp_length) + ", but " + bytes_text(location.length) +
                                 " follow the IP header (the 8-byte UDP header "
                                 "included)");
    }
    return inner_payload().subspan(location.start + transport::kUdpHeaderSize, udp_length - transport::kUdpHeaderSize);
}

std::vector<SOMEIPMessage> EthernetContainer::get_someip_messages() const
{
    return SOMEIPMessage::read_someip_messages(get_udp_payload(), get_timestamp());
}

void EthernetContainer::write_inner(size_t offset, std::span<const uint8_t> bytes)
{
    // Callers have checked that the field lies inside the inner payload.
    const std::span<uint8_t> target = writable_payload().subspan(inner_offset_ + offset, bytes.size());
    std::copy(bytes.begin(), bytes.end(), target.begin());
}

// pcap ------------------------------------------------------------------------------

void EthernetContainer::to_pcap(PCAPData& pcap, bool remove_vlan) const
{
    constexpr int64_t kMicrosPerSecond = 1'000'000;
    const int64_t timestamp = get_timestamp();
    int64_t seconds = timestamp / kMicrosPerSecond;
    int64_t micros = timestamp % kMicrosPerSecond;
    if (micros < 0) {
        // Times before 1970 round down, so that microseconds stay 0 to 999999.
        seconds -= 1;
        micros += kMicrosPerSecond;
    }
    if (seconds < std::numeric_limits<int32_t>::min() || seconds > std::numeric_limits<int32_t>::max()) {
        throw ContainerError(kErrorPcapTime,
                             "time " + std::to_string(timestamp) +
                                 " us is outside the signed 32-bit seconds of a pcap record");
    }

    const uint16_t ether_type = remove_vlan ? get_ethertype(true) : type_header_.ether_type;
    const std::span<const uint8_t> payload = remove_vlan ? inner_payload() : get_payload();
    const size_t length = ethernet::kWireHeaderSize + payload.size();
    const size_t captured = std::min(length, pcap.data.size());

    ByteWriter writer(pcap.data);
    writer.write_bytes(type_header_.dst_mac);
    writer.write_bytes(type_header_.src_mac);
    writer.write_be16(ether_type);
    writer.write_bytes(payload.first(captured - ethernet::kWireHeaderSize));

    pcap.header.ts.tv_sec = static_cast<time_t>(seconds);
    pcap.header.ts.tv_usec = static_cast<suseconds_t>(micros);
    pcap.header.caplen = static_cast<bpf_u_int32>(captured);
    pcap.header.len = static_cast<bpf_u_int32>(length);
    pcap.m_linkType = kPcapLinkTypeEthernet;
}

PCAPData EthernetContainer::to_pcap(bool remove_vlan) const
{
    PCAPData pcap;
    to_pcap(pcap, remove_vlan);
    return pcap;
}

} // namespace qir::data_types
