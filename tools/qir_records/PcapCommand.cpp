#include "Commands.h"
#include "RecordSummary.h"
#include "RecordWalk.h"

#include "OutputFile.h"

#include "data_types/ContainerError.h"
#include "data_types/PCAPData.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <memory>
#include <stdexcept>

#include <pcap/pcap.h>
#include <unistd.h>

namespace qir::records {

using namespace qir::data_types;

namespace {

struct PcapCloser {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};

// Times a pcap record holds: seconds since 1970 that fit a signed 32-bit
// count, as every reader takes them (up to 2038-01-19 03:14:07 UTC).
constexpr int64_t kFirstPcapTimeUs = 0;
constexpr int64_t kLastPcapTimeUs = int64_t{ std::numeric_limits<int32_t>::max() } * 1'000'000 + 999'999;

/// Writes pcap records into an OutputFile; the destructor closes the stream
/// (the OutputFile decides what becomes of the file).
class PcapWriter {
public:
    explicit PcapWriter(tools::OutputFile& file)
        : file_(file)
        , handle_(pcap_open_dead(DLT_EN10MB, static_cast<int>(kPcapDataSize)))
    {
        if (!handle_)
            throw std::runtime_error("cannot create a pcap handle");
        // The stream gets its own descriptor, so that closing it leaves the
        // OutputFile's open for the commit.
        const int fd = ::dup(file.fd());
        std::FILE* stream = fd < 0 ? nullptr : ::fdopen(fd, "wb");
        if (stream == nullptr) {
            const int error = errno;
            if (fd >= 0)
                ::close(fd);
            file.fail("open", error);
        }
        dumper_ = pcap_dump_fopen(handle_.get(), stream);
        if (dumper_ == nullptr) {
            std::fclose(stream);
            throw std::runtime_error("cannot write " + file.path() + ": " + pcap_geterr(handle_.get()));
        }
    }
    ~PcapWriter()
    {
        if (dumper_ != nullptr)
            pcap_dump_close(dumper_);
    }
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    /// Writes one record; throws when the file stopped taking data (disk
    /// full, file size limit), so that the run ends at the first failure.
    void write(const PCAPData& packet)
    {
        pcap_dump(reinterpret_cast<u_char*>(dumper_), &packet.header, packet.data.data());
        if (std::ferror(pcap_dump_file(dumper_)) != 0)
            file_.fail("write", errno);
    }

    /// Flushes and closes the stream; throws when the data did not reach
    /// the file.
    void close()
    {
        const bool failed = pcap_dump_flush(dumper_) != 0 || std::ferror(pcap_dump_file(dumper_)) != 0;
        const int error = errno;
        pcap_dump_close(dumper_);
        dumper_ = nullptr;
        if (failed)
            file_.fail("write", error);
    }

private:
    tools::OutputFile& file_;
    std::unique_ptr<pcap_t, PcapCloser> handle_;
    pcap_dumper_t* dumper_ = nullptr;
};

} // namespace

int run_pcap(const std::string& path, const std::string& output, bool remove_vlan, bool progress)
{
    const std::string inputs[] = { path };
    tools::OutputFile out(output, "output", inputs);
    const MappedFile file(path);
    PcapWriter writer(out);
    Progress bar(path, file.bytes().size(), progress);
    // 64 KiB: one packet buffer for the whole run.
    const auto packet = std::make_unique<PCAPData>();
    uint64_t written = 0;
    uint64_t other_types = 0;
    uint64_t refused = 0;
    uint64_t cut = 0;
    uint64_t out_of_time = 0;
    const WalkOutcome outcome =
        walk_records(file, bar, stderr, [&](const RecordScanner::Record& record, const AnyContainer& container) {
            const auto* frame = std::get_if<EthernetContainer>(&container);
            if (frame == nullptr) {
                ++other_types;
                return;
            }
            const int64_t time = frame->get_timestamp();
            if (time < kFirstPcapTimeUs || time > kLastPcapTimeUs) {
                // Recordings with shifted clocks hold many such frames: the
                // first is shown, the rest counted.
                if (out_of_time++ == 0)
                    std::fprintf(stderr,
                                 "%s: offset %" PRIu64 ": frame left out: time %s is %s, which a pcap "
                                 "file cannot hold (it holds 1970-01-01 to 2038-01-19 03:14:07 UTC)\n",
                                 path.c_str(), record.offset, format_time(time).c_str(),
                                 time < 0 ? "before 1970" : "after 2038-01-19");
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
            if (packet->header.caplen < packet->header.len) {
                ++cut;
                std::fprintf(stderr, "%s: offset %" PRIu64 ": frame of %u bytes cut to %u bytes\n", path.c_str(),
                             record.offset, packet->header.len, packet->header.caplen);
            }
            writer.write(*packet);
            ++written;
        });
    if (outcome.interrupted) {
        std::fprintf(stderr, "%s: not written (stopped by a signal)\n", output.c_str());
        return kExitInterrupted;
    }
    writer.close();
    out.commit();
    if (out_of_time > 0)
        std::fprintf(stderr,
                     "%s: %" PRIu64 " frames left out in all for times outside 1970-01-01 to "
                     "2038-01-19 03:14:07 UTC\n",
                     path.c_str(), out_of_time);
    std::fprintf(stderr, "%s: %" PRIu64 " Ethernet frames written, %" PRIu64 " records of other types left out\n",
                 output.c_str(), written, other_types);
    const bool problem = !outcome.clean() || refused > 0 || cut > 0 || out_of_time > 0;
    return problem ? kExitDataProblem : kExitOk;
}

} // namespace qir::records
