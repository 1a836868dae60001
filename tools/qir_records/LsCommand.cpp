#include "Commands.h"
#include "RecordChecks.h"
#include "RecordSummary.h"
#include "RecordWalk.h"

#include <cinttypes>
#include <cstdio>

namespace qir::records {

using namespace qir::data_types;

int run_ls(const std::string& path, bool progress)
{
    const MappedFile file(path);
    Progress bar(path, file.bytes().size(), progress);
    std::printf("%-10s %-18s %-9s %8s  %s\n", "OFFSET", "TIME", "TYPE", "LENGTH", "SUMMARY");
    RecordChecks checks(path, stderr);
    const WalkOutcome outcome =
        walk_records(file, bar, stderr, [&checks](const RecordScanner::Record& record, const AnyContainer& container) {
            checks.check(record, container);
            const BaseContainer& base = as_base(container);
            std::printf("%-10" PRIu64 " %-18s %-9s %8" PRIu32 "  %s\n", record.offset,
                        format_time(base.get_timestamp()).c_str(),
                        std::string(channel_type_name(base.get_channel_type())).c_str(), base.get_length(),
                        summarize(container).c_str());
        });
    std::fflush(stdout);
    const bool sound = checks.finish();
    if (outcome.interrupted)
        return kExitInterrupted;
    return outcome.clean() && sound ? kExitOk : kExitDataProblem;
}

} // namespace qir::records
