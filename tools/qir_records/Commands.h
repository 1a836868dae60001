// Commands.h - the subcommands of qir-records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qir::records {

/// Exit status: all went well; some records or frames could not be read (or
/// written) and were reported; the command could not run at all; it was
/// stopped by SIGINT or SIGTERM.
inline constexpr int kExitOk = 0;
inline constexpr int kExitDataProblem = 1;
inline constexpr int kExitFailure = 2;
inline constexpr int kExitInterrupted = 130;

/// Lists one line per record: offset, time, type, length, summary.
int run_ls(const std::string& path, bool progress);

/// Counts records, bytes and payload bytes per type, and the time span.
int run_stats(const std::string& path, bool progress);

/// Lists the SOME/IP messages in the UDP payload of Ethernet records (only
/// those with a source or destination port in `ports` when it is not empty)
/// and the SOME/IP records.
int run_someip(const std::string& path, const std::vector<uint16_t>& ports, bool progress);

/// Writes the Ethernet records as a pcap file (other types are left out).
/// Frames whose times lie outside what pcap seconds hold are counted and
/// reported once. `output` appears only when complete and is never `path`.
int run_pcap(const std::string& path, const std::string& output, bool remove_vlan, bool progress);

/// Writes `count` mixed records (see RecordGenerator) to `output`, which
/// appears only when complete.
int run_gen(const std::string& output, uint64_t count, uint64_t seed, int64_t start_time_us, bool progress);

} // namespace qir::records
