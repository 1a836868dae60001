#include "FrameBuilder.h"

#include "data_types/AuthenticationHeaderLayout.h"
#include "data_types/ByteWriter.h"
#include "data_types/EthernetContainer.h"
#include "data_types/EthernetLayout.h"
#include "data_types/Ipv4Layout.h"
#include "data_types/Ipv6Layout.h"
#include "data_types/SomeIpWireLayout.h"
#include "data_types/TransportLayout.h"

#include <stdexcept>

namespace qir::records {

using namespace qir::data_types;

namespace {

void put_be16(Bytes& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void put_be32(Bytes& out, uint32_t value)
{
    put_be16(out, static_cast<uint16_t>(value >> 16));
    put_be16(out, static_cast<uint16_t>(value));
}

uint16_t checked_u16(size_t value, const char* what)
{
    if (value > UINT16_MAX)
        throw std::invalid_argument(std::string(what) + " of " + std::to_string(value) + " bytes exceeds 65535");
    return static_cast<uint16_t>(value);
}

} // namespace

void append(Bytes& head, std::span<const uint8_t> tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
}

Bytes someip_message(const SomeIpMessageSpec& spec)
{
    const bool segment = spec.segment_word.has_value();
    const size_t counted =
        someip::kHeaderSize - someip::kUncountedSize + (segment ? someip::kSegmentWordSize : 0) + spec.payload.size();
    Bytes out;
    out.reserve(someip::kHeaderSize + someip::kSegmentWordSize + spec.payload.size());
    put_be16(out, spec.service_id);
    put_be16(out, spec.method_id);
    put_be32(out, spec.length_override.value_or(static_cast<uint32_t>(counted)));
    put_be16(out, spec.client_id);
    put_be16(out, spec.session_id);
    out.push_back(spec.protocol_version);
    out.push_back(spec.interface_version);
    out.push_back(static_cast<uint8_t>(spec.message_type | (segment ? someip::kSegmentFlag : 0)));
    out.push_back(spec.return_code);
    if (segment)
        put_be32(out, *spec.segment_word);
    append(out, spec.payload);
    return out;
}

Bytes udp_datagram(uint16_t src_port, uint16_t dst_port, std::span<const uint8_t> payload)
{
    Bytes out;
    out.reserve(transport::kUdpHeaderSize + payload.size());
    put_be16(out, src_port);
    put_be16(out, dst_port);
    put_be16(out, checked_u16(transport::kUdpHeaderSize + payload.size(), "UDP datagram"));
    put_be16(out, 0);
    append(out, payload);
    return out;
}

Bytes tcp_segment(uint16_t src_port, uint16_t dst_port, std::span<const uint8_t> payload)
{
    Bytes out;
    put_be16(out, src_port);
    put_be16(out, dst_port);
    put_be32(out, 1000);   // sequence number
    put_be32(out, 2000);   // acknowledgement number
    out.push_back(5 << 4); // 5 words of header
    out.push_back(0x18);   // ACK, PSH
    put_be16(out, 65535);  // window
    put_be16(out, 0);      // checksum
    put_be16(out, 0);      // urgent pointer
    append(out, payload);
    return out;
}

Bytes auth_header(uint8_t next_header, unsigned icv_words, std::span<const uint8_t> payload)
{
    // Size 4 * n + 8 with n = 1 + icv_words: 12 fixed bytes plus the value.
    const unsigned length_field = 1 + icv_words;
    if (length_field > UINT8_MAX)
        throw std::invalid_argument("authentication header too long");
    Bytes out;
    out.push_back(next_header);
    out.push_back(static_cast<uint8_t>(length_field));
    put_be16(out, 0);          // reserved
    put_be32(out, 0x00001000); // SPI
    put_be32(out, 1);          // sequence number
    for (unsigned i = 0; i < icv_words; ++i)
        put_be32(out, 0xA5A5A5A5);
    if (out.size() != auth_header::header_size(static_cast<uint8_t>(length_field)))
        throw std::logic_error("authentication header size mismatch");
    append(out, payload);
    return out;
}

Bytes ipv4_packet(std::array<uint8_t, 4> src, std::array<uint8_t, 4> dst, uint8_t protocol,
                  std::span<const uint8_t> payload)
{
    Bytes out;
    out.reserve(ipv4::kMinimumHeaderSize + payload.size());
    out.push_back(static_cast<uint8_t>((ipv4::kVersion << 4) | ipv4::kMinimumIhl));
    out.push_back(0); // type of service
    put_be16(out, checked_u16(ipv4::kMinimumHeaderSize + payload.size(), "IPv4 packet"));
    put_be16(out, 0x1234); // identification
    put_be16(out, 0x4000); // don't fragment
    out.push_back(64);     // TTL
    out.push_back(protocol);
    put_be16(out, 0); // checksum, below
    append(out, src);
    append(out, dst);
    uint32_t sum = 0;
    for (size_t i = 0; i < ipv4::kMinimumHeaderSize; i += 2)
        sum += static_cast<uint32_t>((out[i] << 8) | out[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    const uint16_t checksum = static_cast<uint16_t>(~sum);
    out[10] = static_cast<uint8_t>(checksum >> 8);
    out[11] = static_cast<uint8_t>(checksum);
    append(out, payload);
    return out;
}

void set_udp_checksum_ipv6(Bytes& udp, const Ipv6Address& src, const Ipv6Address& dst)
{
    constexpr size_t kChecksumOffset = 6;
    if (udp.size() < transport::kUdpHeaderSize)
        throw std::invalid_argument("UDP datagram shorter than its header");
    // One's complement sum over the pseudo header (addresses, upper-layer
    // length, next header) and the datagram with its checksum field zero.
    Bytes summed;
    append(summed, src);
    append(summed, dst);
    put_be32(summed, static_cast<uint32_t>(udp.size()));
    put_be32(summed, transport::kProtocolUdp);
    append(summed, udp);
    summed[2 * 16 + 8 + kChecksumOffset] = 0;
    summed[2 * 16 + 8 + kChecksumOffset + 1] = 0;
    if (summed.size() % 2 != 0)
        summed.push_back(0);
    uint32_t sum = 0;
    for (size_t i = 0; i < summed.size(); i += 2)
        sum += static_cast<uint32_t>((summed[i] << 8) | summed[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    uint16_t checksum = static_cast<uint16_t>(~sum);
    // 0 means "no checksum", which IPv6 forbids; its one's complement twin is sent.
    if (checksum == 0)
        checksum = 0xFFFF;
    udp[kChecksumOffset] = static_cast<uint8_t>(checksum >> 8);
    udp[kChecksumOffset + 1] = static_cast<uint8_t>(checksum);
}

Bytes ipv6_packet(const Ipv6Address& src, const Ipv6Address& dst, uint8_t next_header, std::span<const uint8_t> payload)
{
    Bytes out;
    out.reserve(ipv6::kHeaderSize + payload.size());
    put_be32(out, uint32_t{ ipv6::kVersion } << 28);
    put_be16(out, checked_u16(payload.size(), "IPv6 payload"));
    out.push_back(next_header);
    out.push_back(64); // hop limit
    append(out, src);
    append(out, dst);
    append(out, payload);
    return out;
}

Bytes vlan_tagged(std::span<const uint16_t> vlan_ids, uint16_t inner_ether_type, std::span<const uint8_t> packet)
{
    if (vlan_ids.size() > 2)
        throw std::invalid_argument("at most two VLAN tags");
    Bytes out;
    out.reserve(vlan_ids.size() * ethernet::kSingleTagSize + packet.size());
    for (size_t i = 0; i < vlan_ids.size(); ++i) {
        put_be16(out, static_cast<uint16_t>(vlan_ids[i] & ethernet::kVlanIdMask));
        put_be16(out, i + 1 < vlan_ids.size() ? ethernet::kEtherTypeVlan : inner_ether_type);
    }
    append(out, packet);
    return out;
}

uint16_t outer_ether_type(std::span<const uint16_t> vlan_ids, uint16_t inner_ether_type)
{
    switch (vlan_ids.size()) {
    case 0:
        return inner_ether_type;
    case 1:
        return ethernet::kEtherTypeVlan;
    default:
        return ethernet::kEtherTypeDoubleVlan;
    }
}

Bytes ethernet_record(int64_t timestamp, const MacAddress& src, const MacAddress& dst, uint16_t ether_type,
                      std::span<const uint8_t> payload)
{
    BaseHeader base{};
    base.timestamp = timestamp;
    base.type = ChannelType::Ethernet;
    base.payload_length = static_cast<uint32_t>(payload.size());
    EthernetHeader header{};
    header.src_mac = src;
    header.dst_mac = dst;
    header.ether_type = ether_type;
    return EthernetContainer(base, header, payload, false).to_record();
}

} // namespace qir::records
