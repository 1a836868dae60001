#include "PacketCapture.h"

#include "OutputFile.h"
#include "ReplayMessages.h"

#include <pcap/pcap.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vxqir::sim {
namespace {

constexpr size_t kHeaders = IP_HEADER_LENGTH + UDP_HEADER_LENGTH;
// The largest IPv4 packet: every UDP datagram is kept whole.
constexpr int kSnapshotLength = 65535;
constexpr uint16_t kIpDontFragment = 0x4000;
constexpr uint8_t kIpTimeToLive = 64;
constexpr uint8_t kIpProtocolUdp = 17;

uint16_t ipv4HeaderChecksum(const uint8_t* header)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < IP_HEADER_LENGTH; i += 2)
        sum += static_cast<uint32_t>(header[i] << 8 | header[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

void putBigEndian16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

/// IPv4 header without options and UDP header (checksum 0: none) of a
/// datagram of `length` bytes, lengths saturated at the IPv4 limit.
std::array<uint8_t, kHeaders> headersOf(const Ipv4Endpoint& from, const Ipv4Endpoint& to, size_t length, uint16_t id)
{
    std::array<uint8_t, kHeaders> h{};
    uint8_t* ip = h.data();
    ip[0] = 0x45; // version 4, five 32-bit words
    putBigEndian16(ip + 2, static_cast<uint16_t>(std::min<size_t>(kHeaders + length, 0xFFFF)));
    putBigEndian16(ip + 4, id);
    putBigEndian16(ip + 6, kIpDontFragment);
    ip[8] = kIpTimeToLive;
    ip[9] = kIpProtocolUdp;
    std::memcpy(ip + 12, &from.address, 4); // both already in network order
    std::memcpy(ip + 16, &to.address, 4);
    putBigEndian16(ip + 10, ipv4HeaderChecksum(ip));
    uint8_t* udp = ip + IP_HEADER_LENGTH;
    putBigEndian16(udp, from.port);
    putBigEndian16(udp + 2, to.port);
    putBigEndian16(udp + 4, static_cast<uint16_t>(std::min<size_t>(UDP_HEADER_LENGTH + length, 0xFFFF)));
    return h;
}

} // namespace

PacketCapture::PacketCapture(const std::string& path, std::span<const std::string> inputs)
    : path_(path)
    , file_(std::make_unique<qir::tools::OutputFile>(path, "capture file", inputs))
{
    pcap_ = pcap_open_dead_with_tstamp_precision(DLT_RAW, kSnapshotLength, PCAP_TSTAMP_PRECISION_NANO);
    if (pcap_ == nullptr)
        file_->fail("prepare (libpcap)", ENOMEM);
    const int fd = ::dup(file_->fd());
    std::FILE* stream = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (stream == nullptr) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        pcap_close(pcap_);
        file_->fail("open", error);
    }
    dumper_ = pcap_dump_fopen(pcap_, stream);
    if (dumper_ == nullptr) {
        std::fclose(stream);
        pcap_close(pcap_);
        file_->fail("write the header of", EIO);
    }
}

PacketCapture::~PacketCapture()
{
    if (dumper_ != nullptr)
        pcap_dump_close(dumper_);
    if (pcap_ != nullptr)
        pcap_close(pcap_);
}

void PacketCapture::record(const Ipv4Endpoint& from, const Ipv4Endpoint& to, std::span<const uint8_t> bytes,
                           size_t length)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    record(from, to, bytes, length, now);
}

void PacketCapture::record(const Ipv4Endpoint& from, const Ipv4Endpoint& to, std::span<const uint8_t> bytes,
                           size_t length, const timespec& at)
{
    const size_t kept = std::min({ bytes.size(), length, static_cast<size_t>(kSnapshotLength) - kHeaders });
    std::array<uint8_t, kSnapshotLength> packet; // filled only as far as needed
    pcap_pkthdr header{};
    // With nanosecond precision libpcap reads tv_usec as nanoseconds.
    header.ts.tv_sec = at.tv_sec;
    header.ts.tv_usec = static_cast<suseconds_t>(at.tv_nsec);
    header.caplen = static_cast<bpf_u_int32>(kHeaders + kept);
    header.len = static_cast<bpf_u_int32>(kHeaders + std::max(length, kept));

    std::lock_guard lock(mutex_);
    if (dumper_ == nullptr)
        return;
    const auto headers = headersOf(from, to, std::max(length, kept), nextId_++);
    std::memcpy(packet.data(), headers.data(), kHeaders);
    if (kept > 0)
        std::memcpy(packet.data() + kHeaders, bytes.data(), kept);
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, packet.data());
    ++datagrams_;
}

uint64_t PacketCapture::datagrams() const
{
    std::lock_guard lock(mutex_);
    return datagrams_;
}

void PacketCapture::commit()
{
    std::lock_guard lock(mutex_);
    if (dumper_ == nullptr)
        return;
    std::FILE* stream = pcap_dump_file(dumper_);
    const bool failed = pcap_dump_flush(dumper_) != 0 || std::ferror(stream) != 0;
    const int error = errno;
    pcap_dump_close(dumper_);
    dumper_ = nullptr;
    if (failed) {
        file_->discard();
        file_->fail("write", error != 0 ? error : EIO);
    }
    file_->commit();
}

} // namespace vxqir::sim
