// FrameBuilder.h - builds the bytes of recorded frames for test files: the
// Ethernet payload (VLAN tags, IPv4/IPv6, authentication header, UDP/TCP,
// SOME/IP messages) and whole records of every channel type.
#pragma once

#include "byte_io/Bytes.h"
#include "data_types/BaseHeader.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qir::records {

using qir::Bytes;
using Ipv6Address = std::array<uint8_t, 16>;
using MacAddress = std::array<uint8_t, 6>;

/// Appends `tail` to `head`.
void append(Bytes& head, std::span<const uint8_t> tail);

/// One SOME/IP message on the wire (header big-endian, then payload). With
/// `segment_word` the message is a transport segment: the message type gets
/// flag 0x20 and the word (offset << 4 | more-segments flag) precedes the
/// payload. `length` is computed unless `length_override` is given.
struct SomeIpMessageSpec {
    uint16_t service_id = 0x1234;
    uint16_t method_id = 0x0001;
    uint16_t client_id = 0x0001;
    uint16_t session_id = 0x0001;
    uint8_t protocol_version = 1;
    uint8_t interface_version = 1;
    uint8_t message_type = 0x00;
    uint8_t return_code = 0x00;
    std::optional<uint32_t> segment_word;
    std::optional<uint32_t> length_override;
    Bytes payload;
};
Bytes someip_message(const SomeIpMessageSpec& spec);

/// UDP header (checksum 0) and payload.
Bytes udp_datagram(uint16_t src_port, uint16_t dst_port, std::span<const uint8_t> payload);
/// A 20-byte TCP header (ACK|PSH, fixed sequence numbers) and payload.
Bytes tcp_segment(uint16_t src_port, uint16_t dst_port, std::span<const uint8_t> payload);
/// An authentication header with `icv_words` 32-bit words of check value
/// (the header takes 12 + 4 * icv_words bytes), followed by `payload`.
Bytes auth_header(uint8_t next_header, unsigned icv_words, std::span<const uint8_t> payload);
/// An IPv4 header without options (checksum computed) and payload;
/// addresses in dotted order, e.g. {10, 0, 0, 1}.
Bytes ipv4_packet(std::array<uint8_t, 4> src, std::array<uint8_t, 4> dst, uint8_t protocol,
                  std::span<const uint8_t> payload);
/// Sets the checksum of `udp` (a datagram from udp_datagram) for carriage in
/// IPv6 between `src` and `dst`, where a checksum is mandatory.
void set_udp_checksum_ipv6(Bytes& udp, const Ipv6Address& src, const Ipv6Address& dst);
/// An IPv6 header and payload.
Bytes ipv6_packet(const Ipv6Address& src, const Ipv6Address& dst, uint8_t next_header,
                  std::span<const uint8_t> payload);

/// The Ethernet payload after the record's ether type: no tag (empty
/// `vlan_ids`), one tag or two tags (then the record's ether type must be
/// 0x88A8), then the inner ether type's content `packet`.
Bytes vlan_tagged(std::span<const uint16_t> vlan_ids, uint16_t inner_ether_type, std::span<const uint8_t> packet);

/// Ether type for a record whose payload is vlan_tagged(vlan_ids, inner, ...).
uint16_t outer_ether_type(std::span<const uint16_t> vlan_ids, uint16_t inner_ether_type);

/// A whole Ethernet record.
Bytes ethernet_record(int64_t timestamp, const MacAddress& src, const MacAddress& dst, uint16_t ether_type,
                      std::span<const uint8_t> payload);

} // namespace qir::records
