// RecordSummary.h - one-line descriptions of records for listings.
#pragma once

#include "data_types/AnyContainer.h"

#include <cstdint>
#include <string>

namespace qir::records {

/// Microseconds as seconds with six decimals ("1700000000.000100", "-0.500000").
std::string format_time(int64_t time_us);

/// An IPv4 address as stored in a frame (network order in memory), dotted.
std::string format_ipv4(uint32_t stored);
/// An IPv6 address in its usual text form.
std::string format_ipv6(const std::array<uint8_t, 16>& address);

/// Short description of a frame's content: CAN id and length, Ethernet ether
/// type, VLAN, addresses, ports, SOME/IP service and method, and so on. A
/// frame whose content cannot be read as it claims gets "[malformed: ...]".
std::string summarize(const data_types::AnyContainer& container);

/// A SOME/IP header: service, method, client, session, type and return code.
std::string summarize_someip(const data_types::SOMEIPHeader& header);

/// Source and destination of an Ethernet frame's IP packet with its ports
/// ("198.51.100.1:30490 -> 198.51.100.2:30490"); raises ContainerError when the frame
/// is not IP.
std::string ip_endpoints(const data_types::EthernetContainer& frame);

} // namespace qir::records
