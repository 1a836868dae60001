#include "Commands.h"
#include "RecordSummary.h"
#include "RecordWalk.h"

#include "data_types/ContainerError.h"
#include "data_types/PCAPData.h"

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include <pcap/pcap.h>

namespace qir::records {

using namespace qir::data_types;

namespace {

struct PcapCloser {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};

/// Owns an open pcap dump file; the destructor closes it.
class PcapWriter {
public:
    explicit PcapWriter(const std::string& path)
        : handle_(pcap_open_dead(DLT_EN10MB, static_cast<int>(kPcapDataSize)))
    {
        if (!handle_)
            throw std::runtime_error("cannot create a pcap handle");
        dumper_ = pcap_dump_open(handle_.get(), path.c_str());
        if (dumper_ == nullptr)
            throw std::runtime_error("cannot write " + path + ": " + pcap_geterr(handle_.get()));
    }
    ~PcapWriter()
    {
        if (dumper_ != nullptr)
            pcap_dump_close(dumper_);
    }
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    void write(const PCAPData& packet)
    {
        pcap_dump(reinterpret_cast<u_char*>(dumper_), &packet.header, packet.data.data());
    }

    /// Flushes and closes; throws when the data did not reach the file.
    void close(const std::string& path)
    {
        const bool failed = pcap_dump_flush(dumper_) != 0 || std::ferror(pcap_dump_file(dumper_)) != 0;
        pcap_dump_close(dumper_);
        dumper_ = nullptr;
        if (failed)
            throw std::runtime_error("cannot write " + path + ": write error");
    }

private:
    std::unique_ptr<pcap_t, PcapCloser> handle_;
    pcap_dumper_t* dumper_ = nullptr;
};

} // namespace

int run_pcap(const std::string& path, const std::string& output, bool remove_vlan, bool progress)
{
    const MappedFile file(path);
    PcapWriter writer(output);
    Progress bar(path, file.bytes().size(), progress);
    // 64 KiB: one packet buffer for the whole run.
    const auto packet = std::make_unique<PCAPData>();
    uint64_t written = 0;
    uint64_t other_types = 0;
    uint64_t refused = 0;
    uint64_t cut = 0;
    const WalkOutcome outcome = walk_records(
        file, bar, stderr, [&](const RecordScanner::Record& record, const AnyContainer& container) {
            const auto* frame = std::get_if<EthernetContainer>(&container);
            if (frame == nullptr) {
                ++other_types;
                return;
            }
            try {
                frame->to_pcap(*packet, remove_vlan);
            } catch (const ContainerError& error) {
                ++refused;
                std::fprintf(stderr, "%s: offset %" PRIu64 ": frame left out: %s\n", path.c_str(), record.offset,
                             error.full_text().c_str());
                return;
            }
            if (packet->header.ts.tv_sec < 0) {
                // pcap files count seconds from 1970 without a sign; readers
                // would show such a frame in 2106.
                ++refused;
                std::fprintf(stderr, "%s: offset %" PRIu64 ": frame left out: time %s is before 1970, which a "
                             "pcap file cannot hold\n", path.c_str(), record.offset,
                             format_time(frame->get_timestamp()).c_str());
                return;
            }
            if (packet->header.caplen < packet->header.len) {
                ++cut;
                std::fprintf(stderr, "%s: offset %" PRIu64 ": frame of %u bytes cut to %u bytes\n", path.c_str(),
                             record.offset, packet->header.len, packet->header.caplen);
            }
            writer.write(*packet);
            ++written;
        });
    writer.close(output);
    std::fprintf(stderr, "%s: %" PRIu64 " Ethernet frames written, %" PRIu64 " records of other types left out\n",
                 output.c_str(), written, other_types);
    const bool problem = !outcome.clean() || refused > 0 || cut > 0;
    return problem ? kExitDataProblem : kExitOk;
}

} // namespace qir::records
