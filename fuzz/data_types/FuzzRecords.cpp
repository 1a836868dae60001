// Fuzzes the record factory and every inspection of the containers it makes:
// the input is read as a file of records.

#include "data_types/DataContainer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace qir::data_types;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

template <typename Call>
void inspect(Call call)
{
    try {
        call();
    } catch (const ContainerError&) {
        // A refused frame is a fine outcome; a crash or an overread is not.
    }
}

void exercise_ethernet(const EthernetContainer& frame, PCAPData& pcap)
{
    inspect([&] { frame.get_ethertype(true); });
    inspect([&] { frame.get_ethernet_payload_length(true); });
    inspect([&] { frame.get_vlan_id(); });
    inspect([&] { frame.get_version(); });
    inspect([&] { frame.get_ihl(); });
    inspect([&] { frame.get_src_ipv4(); });
    inspect([&] { frame.get_dst_ipv6(); });
    for (bool skip : { false, true }) {
        inspect([&] {
            const std::span<const uint8_t> ip = frame.get_ip_payload(skip);
            const std::span<const uint8_t> payload = frame.get_payload();
            require(ip.data() >= payload.data() && ip.data() + ip.size() <= payload.data() + payload.size());
        });
        inspect([&] { frame.get_protocol(skip); });
    }
    inspect([&] { frame.get_src_port(); });
    inspect([&] { frame.get_udp_length(); });
    inspect([&] {
        for (const SOMEIPMessage& message : frame.get_someip_messages())
            require(message.payload.size() <= frame.get_payload_length());
    });
    for (bool remove_vlan : { false, true }) {
        inspect([&] {
            frame.to_pcap(pcap, remove_vlan);
            require(pcap.header.caplen <= pcap.header.len && pcap.header.caplen <= kPcapDataSize);
            require(pcap.header.ts.tv_usec >= 0 && pcap.header.ts.tv_usec < 1'000'000);
        });
    }
    // Setters work on a copy of the borrowed payload.
    EthernetContainer copy = frame;
    inspect([&] { copy.set_dst_port(1); });
    inspect([&] { copy.set_src_ipv4(0); });
    inspect([&] { copy.set_src_ipv6({}); });
}

void exercise(std::span<const uint8_t> record, PCAPData& pcap)
{
    const std::optional<AnyContainer> borrowed = make_container(record, false);
    const std::shared_ptr<BaseContainer> shared = BaseContainer::read_data_from(record, true);
    require(borrowed.has_value() == (shared != nullptr));
    require(check_record(record).ok() == borrowed.has_value());
    if (!borrowed)
        return;
    const BaseContainer& base = as_base(*borrowed);
    require(base.is_valid());
    require(base.get_length() <= record.size());

    // Serialization gives back the very bytes that were read.
    std::vector<uint8_t> out(base.get_length());
    base.copy_data_to(out);
    require(std::memcmp(out.data(), record.data(), out.size()) == 0);
    require(shared->to_record() == out);
    require(shared->to_replay_data().size() == shared->get_replay_data_length());

    if (const auto* frame = std::get_if<EthernetContainer>(&*borrowed))
        exercise_ethernet(*frame, pcap);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto pcap = std::make_unique<PCAPData>();
    const std::span<const uint8_t> input(data, size);
    RecordScanner scanner(input);
    while (const auto record = scanner.next())
        exercise(record->bytes, *pcap);
    // The factory on its own, also where the scanner stopped.
    exercise(input.subspan(scanner.offset()), *pcap);
    return 0;
}
