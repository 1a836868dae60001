#include "RecordWalk.h"

namespace qir::records {

using namespace qir::data_types;

WalkOutcome walk_records(const MappedFile& file, Progress& progress, std::FILE* err,
                         const std::function<void(const RecordScanner::Record&, const AnyContainer&)>& visit)
{
    WalkOutcome outcome;
    RecordScanner scanner(file.bytes());
    while (const std::optional<RecordScanner::Record> record = scanner.next()) {
        outcome.bytes_read += record->bytes.size();
        progress.update(scanner.offset(), outcome.records);
        if (record->fault == RecordFault::UnknownType) {
            ++outcome.skipped;
            std::fflush(stdout); // keep listings and problems in file order on a terminal
            std::fprintf(err, "%s: offset %llu: type byte %u names no channel type; %u-byte record skipped\n",
                         file.path().c_str(), static_cast<unsigned long long>(record->offset),
                         static_cast<unsigned>(record->header.type), record->header.length);
            continue;
        }
        const std::optional<AnyContainer> container = make_container(record->bytes, false);
        if (!container) {
            // The scanner has checked what the factory checks; this is a bug.
            std::fprintf(err, "%s: offset %llu: record refused by the factory\n", file.path().c_str(),
                         static_cast<unsigned long long>(record->offset));
            ++outcome.skipped;
            continue;
        }
        ++outcome.records;
        visit(*record, *container);
    }
    progress.finish();
    if (const auto& fault = scanner.fault()) {
        outcome.truncated = true;
        std::fflush(stdout);
        std::fprintf(err, "%s: offset %llu: %s; %llu records before it were read\n", file.path().c_str(),
                     static_cast<unsigned long long>(fault->offset), fault->check.describe().c_str(),
                     static_cast<unsigned long long>(outcome.records));
    }
    return outcome;
}

} // namespace qir::records
