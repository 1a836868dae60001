#include "RecordGenerator.h"

#include "RecordChecks.h"

#include "data_types/AnyContainer.h"
#include "data_types/EthernetLayout.h"
#include "data_types/SomeIpWireLayout.h"
#include "data_types/TransportLayout.h"

namespace qir::records {

using namespace qir::data_types;

namespace {

constexpr MacAddress kMacA{ 0x02, 0x00, 0x00, 0x00, 0x00, 0x0A };
constexpr MacAddress kMacB{ 0x02, 0x00, 0x00, 0x00, 0x00, 0x0B };
constexpr Ipv6Address kIpv6A{ 0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0a };
constexpr Ipv6Address kIpv6B{ 0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0b };

BaseHeader base_header(int64_t time, ChannelType type, size_t payload_size)
{
    BaseHeader base{};
    base.timestamp = time;
    base.type = type;
    base.payload_length = static_cast<uint32_t>(payload_size);
    return base;
}

template <typename Container>
void append_record(Bytes& out, int64_t time, const typename Container::TypeHeader& header, const Bytes& payload)
{
    const Container container(base_header(time, Container::kChannelType, payload.size()), header, payload, false);
    const size_t start = out.size();
    out.resize(start + container.get_length());
    container.copy_data_to(std::span<uint8_t>(out).subspan(start));
}

} // namespace

RecordGenerator::RecordGenerator(uint64_t seed, int64_t start_time_us) : rng_(seed), time_us_(start_time_us)
{ }

uint32_t RecordGenerator::uniform(uint32_t low, uint32_t high)
{
    return low + static_cast<uint32_t>(rng_() % (uint64_t{ high } - low + 1));
}

Bytes RecordGenerator::random_bytes(size_t count)
{
    Bytes bytes(count);
    for (size_t i = 0; i < count; i += 8) {
        const uint64_t value = rng_();
        for (size_t j = 0; j < 8 && i + j < count; ++j)
            bytes[i + j] = static_cast<uint8_t>(value >> (8 * j));
    }
    return bytes;
}

void RecordGenerator::append_next(Bytes& out)
{
    // Percent of records per kind, roughly a vehicle bus recording.
    const uint32_t pick = uniform(0, 99);
    if (pick < 34)
        append_can(out);
    else if (pick < 44)
        append_flexray(out);
    else if (pick < 49)
        append_lin(out);
    else if (pick < 85)
        append_ethernet(out);
    else if (pick < 91)
        append_someip_record(out);
    else if (pick < 93)
        append_video(out);
    else if (pick < 96)
        append_plpraw(out);
    else if (pick < 98)
        append_lidar(out);
    else
        append_untyped(out);
    time_us_ += uniform(kMinStepUs, kMaxStepUs);
}

void RecordGenerator::append_can(Bytes& out)
{
    CANHeader header{};
    const bool fd = uniform(0, 4) == 0;
    // CAN FD frames use the sizes above 8 bytes (dlc 9 to 15), classic
    // frames 0 to 8 bytes; the dlc always names the payload's size.
    const uint8_t dlc = static_cast<uint8_t>(fd ? uniform(9, 15) : uniform(0, 8));
    const size_t size = *can_payload_size(dlc, fd);
    header.ide = uniform(0, 3) == 0;
    header.id = header.ide ? uniform(0, 0x1FFFFFFF) : uniform(0, 0x7FF);
    header.edl = fd;
    header.brs = fd && uniform(0, 1) == 1;
    header.dlc = dlc;
    header.crc = static_cast<uint16_t>(uniform(0, 0x7FFF));
    append_record<CANContainer>(out, time_us_, header, random_bytes(size));
}

void RecordGenerator::append_flexray(Bytes& out)
{
    FlexrayHeader header{};
    header.sync_frame_flag = uniform(0, 9) == 0;
    header.startup_frame_flag = header.sync_frame_flag;
    header.null_frame_flag = uniform(0, 19) == 0;
    header.id = static_cast<uint16_t>(uniform(1, 2047));
    header.header_crc = static_cast<uint16_t>(uniform(0, 0x7FF));
    header.cycle = static_cast<uint8_t>(uniform(0, 63));
    header.flx_channel = static_cast<uint8_t>(uniform(1, 2));
    header.crc = uniform(0, 0xFFFFFF);
    append_record<FlexrayContainer>(out, time_us_, header, random_bytes(2 * uniform(0, 127)));
}

void RecordGenerator::append_lin(Bytes& out)
{
    LINHeader header{};
    header.id = static_cast<uint8_t>(uniform(0, 63));
    header.dlc = static_cast<uint8_t>(uniform(1, 8));
    header.crc = static_cast<uint8_t>(uniform(0, 255));
    append_record<LINContainer>(out, time_us_, header, random_bytes(header.dlc));
}

void RecordGenerator::append_ethernet(Bytes& out)
{
    const uint32_t kind = uniform(0, 9);
    static constexpr uint16_t kNoTags[] = { 0 };
    static constexpr uint16_t kOneTag[] = { 100 };
    static constexpr uint16_t kTwoTags[] = { 200, 300 };
    std::span<const uint16_t> tags(kNoTags, 0);
    if (kind == 1 || kind == 2)
        tags = kOneTag;
    else if (kind == 3)
        tags = kTwoTags;

    Bytes packet;
    uint16_t inner_type = ethernet::kEtherTypeIpv4;
    if (kind <= 5) {
        // SOME/IP over UDP: one to three messages.
        Bytes udp_payload;
        const uint32_t count = uniform(1, 3);
        for (uint32_t i = 0; i < count; ++i) {
            SomeIpMessageSpec spec;
            spec.service_id = static_cast<uint16_t>(0x1000 + uniform(0, 15));
            spec.method_id = static_cast<uint16_t>(uniform(0, 1) ? 0x8001 : 0x0001);
            spec.session_id = session_++;
            spec.message_type = spec.method_id & someip::kEventBit ? 0x02 : 0x00;
            spec.payload = random_bytes(uniform(0, 400));
            append(udp_payload, someip_message(spec));
        }
        Bytes udp = udp_datagram(someip::kServiceDiscoveryPort, someip::kServiceDiscoveryPort, udp_payload);
        if (kind == 5) {
            inner_type = ethernet::kEtherTypeIpv6;
            set_udp_checksum_ipv6(udp, kIpv6A, kIpv6B);
            packet = ipv6_packet(kIpv6A, kIpv6B, transport::kProtocolUdp, udp);
        } else if (kind == 4) {
            packet = ipv4_packet({ 10, 0, 0, 1 }, { 10, 0, 0, 2 }, 51, auth_header(transport::kProtocolUdp, 3, udp));
        } else {
            packet = ipv4_packet({ 10, 0, 0, 1 }, { 10, 0, 0, 2 }, transport::kProtocolUdp, udp);
        }
    } else if (kind <= 8) {
        packet = ipv4_packet(
            { 10, 0, 0, 3 }, { 10, 0, 0, 4 }, transport::kProtocolTcp,
            tcp_segment(static_cast<uint16_t>(uniform(1024, 65535)), 13400, random_bytes(uniform(0, 1400))));
    } else {
        // Something that is not IP at all.
        inner_type = 0x88B5;
        packet = random_bytes(uniform(46, 200));
    }
    const Bytes payload = vlan_tagged(tags, inner_type, packet);
    EthernetHeader header{};
    header.src_mac = kMacA;
    header.dst_mac = kMacB;
    header.ether_type = outer_ether_type(tags, inner_type);
    header.crc = static_cast<uint32_t>(rng_());
    append_record<EthernetContainer>(out, time_us_, header, payload);
}

void RecordGenerator::append_someip_record(Bytes& out)
{
    SOMEIPHeader header{};
    header.service_id = static_cast<uint16_t>(0x2000 + uniform(0, 7));
    header.method_id = static_cast<uint16_t>(uniform(0, 0xFFFF));
    header.is_event = (header.method_id & someip::kEventBit) != 0;
    header.client_id = 1;
    header.session_id = session_++;
    header.protocol_version = someip::kProtocolVersion;
    header.interface_version = 1;
    const Bytes payload = random_bytes(uniform(0, 256));
    header.length = static_cast<uint32_t>(payload.size() + someip::kMinimumLength);
    append_record<SOMEIPContainer>(out, time_us_, header, payload);
}

void RecordGenerator::append_video(Bytes& out)
{
    VideoHeader header{};
    header.pixel_format = 1;
    header.imager_type = { 'T', 'E', 'S', 'T', 'C', 'A', 'M', '1' };
    header.width = 64;
    header.height = static_cast<uint16_t>(uniform(8, 32));
    header.frame_counter = static_cast<uint32_t>(time_us_ / 1000);
    append_record<VideoContainer>(out, time_us_, header, random_bytes(size_t{ header.width } * header.height));
}

void RecordGenerator::append_plpraw(Bytes& out)
{
    PLPRawHeader header{};
    header.probe_id = static_cast<uint16_t>(uniform(1, 4));
    header.msg_type = static_cast<uint16_t>(uniform(0, 3));
    const Bytes payload = random_bytes(uniform(16, 512));
    header.data_length = static_cast<uint16_t>(payload.size());
    append_record<PLPRawContainer>(out, time_us_, header, payload);
}

void RecordGenerator::append_lidar(Bytes& out)
{
    LidarHeader header{};
    const Bytes payload = random_bytes(uniform(256, 2048));
    header.length = static_cast<uint32_t>(payload.size());
    append_record<LidarContainer>(out, time_us_, header, payload);
}

void RecordGenerator::append_untyped(Bytes& out)
{
    const Bytes payload = random_bytes(uniform(0, 64));
    const BaseContainer container(base_header(time_us_, ChannelType::NoneType, payload.size()), payload, false);
    const size_t start = out.size();
    out.resize(start + container.get_length());
    container.copy_data_to(std::span<uint8_t>(out).subspan(start));
}

} // namespace qir::records
