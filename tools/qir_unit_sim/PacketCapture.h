// PacketCapture.h - the datagrams a unit receives and sends, as a capture
// file for Wireshark and tshark.
#pragma once

#include "Ipv4Endpoint.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <span>
#include <string>

struct pcap;
struct pcap_dumper;

namespace qir::tools {
class OutputFile;
}

namespace vxqir::sim {

/// Records UDP datagrams with their real addresses and ports into a capture
/// file, each behind a synthesized IPv4 and UDP header (link type "raw
/// IPv4"), time-stamped in nanoseconds when recorded.
///
/// The file is written by libpcap's dump writer, which writes the classic
/// pcap format (libpcap 1.10 writes no pcapng): Wireshark, tshark and
/// editcap read it by its content whatever its name. Like every output it
/// is written under a temporary name and appears under its own only when
/// commit() succeeds.
///
/// Thread-safe: record() from any thread (the control and the receive
/// threads record into one file); commit() from the owner once no thread
/// records any more.
class PacketCapture {
public:
    /// Checks the path (that it names none of `inputs` either) and makes the
    /// temporary file. Throws qir::tools::OutputFileError naming the file
    /// and the reason.
    explicit PacketCapture(const std::string& path, std::span<const std::string> inputs = {});
    /// Without commit() the temporary file is removed.
    ~PacketCapture();
    PacketCapture(const PacketCapture&) = delete;
    PacketCapture& operator=(const PacketCapture&) = delete;

    /// Records one datagram of `length` bytes of which `bytes` were kept
    /// (`length` > bytes.size() when a receive cut it), sent from `from` to
    /// `to`, at the wall-clock time now or at `at`.
    void record(const Ipv4Endpoint& from, const Ipv4Endpoint& to, std::span<const uint8_t> bytes, size_t length);
    void record(const Ipv4Endpoint& from, const Ipv4Endpoint& to, std::span<const uint8_t> bytes, size_t length,
                const timespec& at);

    /// Datagrams recorded so far.
    uint64_t datagrams() const;

    /// Writes what is buffered and puts the file in place; afterwards
    /// record() does nothing. Throws qir::tools::OutputFileError (disk full,
    /// file size limit), and the file is then not there.
    void commit();

    /// The path given to the constructor.
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::unique_ptr<qir::tools::OutputFile> file_;
    mutable std::mutex mutex_; // guards pcap_, dumper_, datagrams_, nextId_
    pcap* pcap_ = nullptr;
    pcap_dumper* dumper_ = nullptr;
    uint64_t datagrams_ = 0;
    uint16_t nextId_ = 0;
};

} // namespace vxqir::sim
