#include "Commands.h"
#include "RecordSummary.h"
#include "RecordWalk.h"

#include "data_types/ContainerError.h"
#include "data_types/EthernetLayout.h"
#include "data_types/SomeIpWireLayout.h"
#include "data_types/TransportLayout.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <optional>

namespace qir::records {

using namespace qir::data_types;

namespace {

void print_message(uint64_t offset, int64_t time, const std::string& where, const SOMEIPHeader& header,
                   size_t payload_size)
{
    std::string segment;
    if (header.message_type & someip::kSegmentFlag)
        segment = " segment offset " + std::to_string(header.offset_field) + " resm " + std::to_string(header.resm);
    std::printf("%-10" PRIu64 " %-18s %s %s len %zu%s\n", offset, format_time(time).c_str(), where.c_str(),
                summarize_someip(header).c_str(), payload_size, segment.c_str());
}

/// The transport protocol of an IP frame, nothing for other frames.
std::optional<uint8_t> ip_protocol(const EthernetContainer& frame)
{
    const uint16_t ether_type = frame.get_ethertype(true);
    if (ether_type != ethernet::kEtherTypeIpv4 && ether_type != ethernet::kEtherTypeIpv6)
        return std::nullopt;
    return frame.get_protocol(true);
}

bool on_ports(const EthernetContainer& frame, const std::vector<uint16_t>& ports)
{
    return ports.empty() || std::find(ports.begin(), ports.end(), frame.get_src_port()) != ports.end() ||
        std::find(ports.begin(), ports.end(), frame.get_dst_port()) != ports.end();
}

} // namespace

int run_someip(const std::string& path, const std::vector<uint16_t>& ports, bool progress)
{
    const MappedFile file(path);
    Progress bar(path, file.bytes().size(), progress);
    const bool filtered = !ports.empty();
    uint64_t messages = 0;
    uint64_t refused = 0;
    uint64_t tcp_frames = 0;
    std::string first_refusal;

    std::printf("%-10s %-18s %s\n", "OFFSET", "TIME", "SOURCE / MESSAGE");
    const WalkOutcome outcome =
        walk_records(file, bar, stderr, [&](const RecordScanner::Record& record, const AnyContainer& container) {
            if (const auto* someip_record = std::get_if<SOMEIPContainer>(&container)) {
                ++messages;
                print_message(record.offset, someip_record->get_timestamp(), "record", someip_record->get_type_header(),
                              someip_record->get_payload_length());
                return;
            }
            const auto* frame = std::get_if<EthernetContainer>(&container);
            if (frame == nullptr)
                return;
            try {
                const std::optional<uint8_t> protocol = ip_protocol(*frame);
                if (protocol == transport::kProtocolTcp && on_ports(*frame, ports)) {
                    // SOME/IP over TCP is a byte stream across segments; it is not read.
                    ++tcp_frames;
                    return;
                }
                if (protocol != transport::kProtocolUdp || !on_ports(*frame, ports))
                    return;
                const std::string where = ip_endpoints(*frame);
                SOMEIPMessage::visit_someip_messages(
                    frame->get_udp_payload(), [&](const SOMEIPHeader& header, std::span<const uint8_t> payload) {
                        ++messages;
                        print_message(record.offset, frame->get_timestamp(), where, header, payload.size());
                    });
            } catch (const ContainerError& error) {
                ++refused;
                const std::string text = "offset " + std::to_string(record.offset) + ": " + error.full_text();
                if (filtered)
                    std::fprintf(stderr, "%s: %s\n", path.c_str(), text.c_str());
                else if (first_refusal.empty())
                    first_refusal = text;
            }
        });

    if (!filtered && refused > 0) {
        // Without a port list every UDP frame is tried, and most UDP traffic
        // is something else: a note, not an error.
        std::fprintf(stderr, "%s: %" PRIu64 " UDP frames held no SOME/IP messages (first at %s)\n", path.c_str(),
                     refused, first_refusal.c_str());
    }
    if (tcp_frames > 0)
        std::fprintf(stderr, "%s: %" PRIu64 " TCP frames%s not read: SOME/IP is read from UDP only\n", path.c_str(),
                     tcp_frames, filtered ? " on the chosen ports" : "");
    std::fprintf(stderr, "%s: %" PRIu64 " SOME/IP messages\n", path.c_str(), messages);
    if (outcome.interrupted)
        return kExitInterrupted;
    const bool problem = !outcome.clean() || (filtered && refused > 0);
    return problem ? kExitDataProblem : kExitOk;
}

} // namespace qir::records
