#include "RecordSummary.h"

#include "data_types/AuthenticationHeaderLayout.h"
#include "data_types/ContainerError.h"
#include "data_types/EthernetLayout.h"
#include "data_types/TransportLayout.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string_view>

#include <arpa/inet.h>

namespace qir::records {

using namespace qir::data_types;

namespace {

[[gnu::format(printf, 1, 2)]] std::string printf_string(const char* format, ...)
{
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

std::string summarize_can(const CANContainer& can)
{
    const CANHeader& h = can.get_type_header();
    std::string text =
        printf_string("id 0x%" PRIX32 " dlc %u len %u", h.id, unsigned{ h.dlc }, can.get_payload_length());
    if (h.ide)
        text += " ext";
    if (h.edl)
        text += " fd";
    if (h.brs)
        text += " brs";
    return text;
}

std::string summarize_flexray(const FlexrayContainer& flexray)
{
    const FlexrayHeader& h = flexray.get_type_header();
    std::string text = printf_string("id %u cycle %u channel %u len %u", unsigned{ h.id }, unsigned{ h.cycle },
                                     unsigned{ h.flx_channel }, flexray.get_payload_length());
    if (h.sync_frame_flag)
        text += " sync";
    if (h.startup_frame_flag)
        text += " startup";
    if (h.null_frame_flag)
        text += " null";
    return text;
}

} // namespace

std::string summarize_someip(const SOMEIPHeader& h)
{
    return printf_string("service 0x%04X method 0x%04X%s client 0x%04X session 0x%04X type 0x%02X rc 0x%02X",
                         unsigned{ h.service_id }, unsigned{ h.method_id }, h.is_event ? " (event)" : "",
                         unsigned{ h.client_id }, unsigned{ h.session_id }, unsigned{ h.message_type },
                         unsigned{ h.return_code });
}

namespace {

/// "SOME/IP 0x1234.0x8001 (+2 more)" when the UDP payload parses as SOME/IP.
std::string someip_hint(const EthernetContainer& frame)
{
    try {
        unsigned count = 0;
        SOMEIPHeader first{};
        SOMEIPMessage::visit_someip_messages(frame.get_udp_payload(),
                                             [&](const SOMEIPHeader& header, std::span<const uint8_t>) {
                                                 if (count++ == 0)
                                                     first = header;
                                             });
        if (count == 0)
            return {};
        std::string text =
            printf_string(" SOME/IP 0x%04X.0x%04X", unsigned{ first.service_id }, unsigned{ first.method_id });
        if (count > 1)
            text += printf_string(" (+%u more)", count - 1);
        return text;
    } catch (const ContainerError&) {
        // Plenty of UDP traffic is not SOME/IP.
        return {};
    }
}

std::string summarize_ethernet(const EthernetContainer& frame)
{
    std::string text;
    try {
        const uint16_t ether_type = frame.get_ethertype(true);
        text = printf_string("ether 0x%04X", unsigned{ ether_type });
        if (frame.get_vlan_tag_count() > 0)
            text += printf_string(" vlan %u", unsigned{ frame.get_vlan_id() });
        if (frame.get_vlan_tag_count() == 2) {
            const std::span<const uint8_t> tags = frame.get_payload();
            text += printf_string("/%u", unsigned((tags[4] << 8 | tags[5]) & ethernet::kVlanIdMask));
        }
        if (ether_type != ethernet::kEtherTypeIpv4 && ether_type != ethernet::kEtherTypeIpv6)
            return text;
        if (frame.get_protocol(false) == auth_header::kProtocol)
            text += " AH";
        const uint8_t protocol = frame.get_protocol(true);
        if (protocol == transport::kProtocolUdp || protocol == transport::kProtocolTcp) {
            text += protocol == transport::kProtocolUdp ? " UDP " : " TCP ";
            text += ip_endpoints(frame);
            if (protocol == transport::kProtocolUdp)
                text += someip_hint(frame);
        } else {
            text += printf_string(" proto %u", unsigned{ protocol });
        }
    } catch (const ContainerError& error) {
        text += " [malformed: " + error.full_text() + "]";
    }
    return text;
}

} // namespace

std::string format_time(int64_t time_us)
{
    const bool negative = time_us < 0;
    // Work in unsigned so that the most negative time has a magnitude too.
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(time_us) : static_cast<uint64_t>(time_us);
    return printf_string("%s%" PRIu64 ".%06" PRIu64, negative ? "-" : "", magnitude / 1000000, magnitude % 1000000);
}

std::string format_ipv4(uint32_t stored)
{
    char text[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &stored, text, sizeof(text));
    return text;
}

std::string format_ipv6(const std::array<uint8_t, 16>& address)
{
    char text[INET6_ADDRSTRLEN];
    ::inet_ntop(AF_INET6, address.data(), text, sizeof(text));
    return text;
}

namespace {

/// "[address]". Built by appending: GCC 12 at -O3 takes `"[" + text` for an
/// overlapping copy and warns (-Wrestrict), failing Release builds.
std::string bracketed(const std::string& address)
{
    std::string text;
    text.reserve(address.size() + 2);
    text += '[';
    text += address;
    text += ']';
    return text;
}

} // namespace

std::string ip_endpoints(const EthernetContainer& frame)
{
    const bool v4 = frame.get_ethertype(true) == ethernet::kEtherTypeIpv4;
    const std::string src = v4 ? format_ipv4(frame.get_src_ipv4()) : bracketed(format_ipv6(frame.get_src_ipv6()));
    const std::string dst = v4 ? format_ipv4(frame.get_dst_ipv4()) : bracketed(format_ipv6(frame.get_dst_ipv6()));
    const uint8_t protocol = frame.get_protocol(true);
    if (protocol != transport::kProtocolUdp && protocol != transport::kProtocolTcp)
        return src + " -> " + dst;
    return src + ":" + std::to_string(frame.get_src_port()) + " -> " + dst + ":" + std::to_string(frame.get_dst_port());
}

std::string summarize(const AnyContainer& container)
{
    struct Visitor {
        std::string operator()(const BaseContainer& c) const
        {
            return printf_string("payload %u bytes", c.get_payload_length());
        }
        std::string operator()(const CANContainer& c) const { return summarize_can(c); }
        std::string operator()(const FlexrayContainer& c) const { return summarize_flexray(c); }
        std::string operator()(const EthernetContainer& c) const { return summarize_ethernet(c); }
        std::string operator()(const VideoContainer& c) const
        {
            const VideoHeader& h = c.get_type_header();
            const std::string_view imager(h.imager_type.data(), h.imager_type.size());
            return printf_string(
                "%ux%u format %u frame %" PRIu32 " imager %.*s", unsigned{ h.width }, unsigned{ h.height },
                unsigned{ h.pixel_format }, uint32_t{ h.frame_counter },
                static_cast<int>(imager.find('\0') == std::string_view::npos ? imager.size() : imager.find('\0')),
                imager.data());
        }
        std::string operator()(const PLPRawContainer& c) const
        {
            const PLPRawHeader& h = c.get_type_header();
            return printf_string("probe %u msg %u data %u", unsigned{ h.probe_id }, unsigned{ h.msg_type },
                                 unsigned{ h.data_length });
        }
        std::string operator()(const LidarContainer& c) const
        {
            const LidarHeader& h = c.get_type_header();
            return printf_string("len %" PRIu32 " compression %u", uint32_t{ h.length }, unsigned{ h.compression });
        }
        std::string operator()(const LINContainer& c) const
        {
            const LINHeader& h = c.get_type_header();
            return printf_string("id 0x%02X dlc %u", unsigned{ h.id }, unsigned{ h.dlc });
        }
        std::string operator()(const SOMEIPContainer& c) const
        {
            return summarize_someip(c.get_type_header()) + " len " + std::to_string(c.get_payload_length());
        }
    };
    return std::visit(Visitor{}, container);
}

} // namespace qir::records
