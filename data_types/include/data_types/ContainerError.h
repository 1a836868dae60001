// ContainerError.h - the error raised when a container's content cannot be
// inspected as asked.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace qir::data_types {

/// Raised by the inspection helpers (IP, UDP, TCP, SOME/IP, pcap) when a
/// frame does not hold what was asked for, or holds it only in part.
///
/// what() is one of the fixed texts below, which callers may compare;
/// detail() says where and why ("IPv4 header of 24 bytes, but 20 bytes
/// follow the ether type"), and full_text() joins both for people.
class ContainerError : public std::runtime_error {
public:
    ContainerError(const char* text, std::string detail) : std::runtime_error(text), detail_(std::move(detail)) { }

    const std::string& detail() const noexcept { return detail_; }

    std::string full_text() const
    {
        return detail_.empty() ? std::string(what()) : std::string(what()) + " (" + detail_ + ")";
    }

private:
    std::string detail_;
};

// Fixed texts ------------------------------------------------------------------

inline constexpr const char* kErrorNotIpFrame = "Container does not contain a valid IP frame";
inline constexpr const char* kErrorNotIpv4Frame = "Container does not contain a valid IPv4 frame";
inline constexpr const char* kErrorNotIpv6Frame = "Container does not contain a valid IPv6 frame";
inline constexpr const char* kErrorNotIpPacket = "Not a IP packet";
inline constexpr const char* kErrorNotUdpOrTcp = "Container does not contain a UDP or TCP frame";
inline constexpr const char* kErrorNotUdp = "Container does not contain a UDP frame";
inline constexpr const char* kErrorBadSomeIp = "Container does not valid SOME/IP data";

// Texts for frames that are cut short: the headers they announce do not fit
// the bytes recorded.
inline constexpr const char* kErrorTruncatedVlanTag = "Container does not contain a complete VLAN tag";
inline constexpr const char* kErrorTruncatedIpHeader = "Container does not contain a complete IP header";
inline constexpr const char* kErrorTruncatedIpPacket = "Container does not contain a complete IP packet";
inline constexpr const char* kErrorTruncatedAuthHeader = "Container does not contain a complete authentication header";
inline constexpr const char* kErrorTruncatedTransport = "Container does not contain a complete UDP or TCP header";
inline constexpr const char* kErrorTruncatedUdp = "Container does not contain a complete UDP frame";
inline constexpr const char* kErrorPcapTime = "Container time cannot be stored in a pcap record";

} // namespace qir::data_types
