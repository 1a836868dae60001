#include "RecordWalk.h"

#include "StopSignals.h"

namespace qir::records {

using namespace qir::data_types;

namespace {

/// Reports a file that became shorter while it was read; true when it did
/// at or before `end`.
bool report_cut(const MappedFile& file, uint64_t end, const WalkOutcome& outcome, std::FILE* err)
{
    const std::optional<uint64_t> cut = file.cut_at();
    if (!cut || *cut > end)
        return false;
    std::fflush(stdout);
    std::fprintf(err,
                 "%s: offset %llu: the file was cut short while it was read (it now holds %llu bytes); %llu "
                 "records before it were read\n",
                 file.path().c_str(), static_cast<unsigned long long>(*cut),
                 static_cast<unsigned long long>(file.current_size()),
                 static_cast<unsigned long long>(outcome.records));
    return true;
}

} // namespace

WalkOutcome walk_records(const MappedFile& file, Progress& progress, std::FILE* err,
                         const std::function<void(const RecordScanner::Record&, const AnyContainer&)>& visit)
{
    WalkOutcome outcome;
    RecordScanner scanner(file.bytes());
    while (const std::optional<RecordScanner::Record> record = scanner.next()) {
        if (qir::tools::stop_requested()) {
            outcome.interrupted = true;
            progress.finish();
            std::fflush(stdout);
            std::fprintf(err, "%s: stopped by a signal at offset %llu; %llu records were read\n", file.path().c_str(),
                         static_cast<unsigned long long>(record->offset),
                         static_cast<unsigned long long>(outcome.records));
            return outcome;
        }
        // Bytes of a file cut short read as zeros; find out before trusting them.
        file.touch(record->bytes);
        if (report_cut(file, record->offset + record->bytes.size(), outcome, err)) {
            outcome.truncated = true;
            progress.finish();
            return outcome;
        }
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
        // The scanner may have stumbled over the zeros of a cut.
        if (report_cut(file, file.bytes().size(), outcome, err))
            return outcome;
        std::fflush(stdout);
        std::fprintf(err, "%s: offset %llu: %s; %llu records before it were read\n", file.path().c_str(),
                     static_cast<unsigned long long>(fault->offset), fault->check.describe().c_str(),
                     static_cast<unsigned long long>(outcome.records));
    }
    return outcome;
}

} // namespace qir::records
