#include "Commands.h"
#include "RecordChecks.h"
#include "RecordSummary.h"
#include "RecordWalk.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <limits>

namespace qir::records {

using namespace qir::data_types;

namespace {

struct TypeTotals {
    uint64_t records = 0;
    uint64_t bytes = 0;
    uint64_t payload_bytes = 0;
};

} // namespace

int run_stats(const std::string& path, bool progress)
{
    const MappedFile file(path);
    Progress bar(path, file.bytes().size(), progress);
    std::array<TypeTotals, kChannelTypeCount> totals{};
    int64_t first = std::numeric_limits<int64_t>::max();
    int64_t last = std::numeric_limits<int64_t>::min();
    RecordChecks checks(path, stderr);
    const WalkOutcome outcome =
        walk_records(file, bar, stderr, [&](const RecordScanner::Record& record, const AnyContainer& container) {
            checks.check(record, container);
            TypeTotals& t = totals[static_cast<size_t>(record.header.type)];
            ++t.records;
            t.bytes += record.header.length;
            t.payload_bytes += record.header.payload_length;
            first = std::min(first, record.header.timestamp);
            last = std::max(last, record.header.timestamp);
        });

    std::printf("%-10s %12s %14s %14s\n", "TYPE", "RECORDS", "BYTES", "PAYLOAD");
    TypeTotals all;
    for (unsigned type = 0; type < kChannelTypeCount; ++type) {
        const TypeTotals& t = totals[type];
        if (t.records == 0)
            continue;
        std::printf("%-10s %12" PRIu64 " %14" PRIu64 " %14" PRIu64 "\n",
                    std::string(channel_type_name(static_cast<ChannelType>(type))).c_str(), t.records, t.bytes,
                    t.payload_bytes);
        all.records += t.records;
        all.bytes += t.bytes;
        all.payload_bytes += t.payload_bytes;
    }
    std::printf("%-10s %12" PRIu64 " %14" PRIu64 " %14" PRIu64 "\n", "total", all.records, all.bytes,
                all.payload_bytes);
    if (all.records > 0) {
        // The span in microseconds may exceed int64 for absurd times; print it from the ends.
        const long double span = (static_cast<long double>(last) - static_cast<long double>(first)) / 1e6L;
        std::printf("time span: %s .. %s (%.6Lf s)\n", format_time(first).c_str(), format_time(last).c_str(), span);
    } else {
        std::printf("time span: none\n");
    }
    if (outcome.skipped > 0)
        std::printf("skipped: %" PRIu64 " records of unknown type\n", outcome.skipped);
    if (checks.dlc_mismatches() > 0)
        std::printf("CAN dlc disagreeing with the payload: %" PRIu64 " frames\n", checks.dlc_mismatches());
    if (checks.times_backwards() > 0)
        std::printf("time going backwards: %" PRIu64 " records\n", checks.times_backwards());
    if (outcome.truncated)
        std::printf("unreadable from offset %" PRIu64 " on\n", outcome.bytes_read);
    if (outcome.interrupted)
        std::printf("stopped by a signal after offset %" PRIu64 "\n", outcome.bytes_read);
    std::fflush(stdout);
    const bool sound = checks.finish();
    if (outcome.interrupted)
        return kExitInterrupted;
    return outcome.clean() && sound ? kExitOk : kExitDataProblem;
}

} // namespace qir::records
