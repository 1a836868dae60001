// RecordWalk.h - the loop every reading command shares: map a recording,
// hand out its records as containers, report what cannot be read.
#pragma once

#include "MappedFile.h"
#include "Progress.h"

#include "data_types/AnyContainer.h"
#include "data_types/RecordScanner.h"

#include <cstdint>
#include <cstdio>
#include <functional>

namespace qir::records {

struct WalkOutcome {
    uint64_t records = 0;     ///< records handed to the visitor
    uint64_t skipped = 0;     ///< records of an unknown type, skipped
    bool truncated = false;   ///< the walk ended at a record it could not delimit
    bool interrupted = false; ///< the walk ended at a stop signal
    uint64_t bytes_read = 0;  ///< bytes of the records handed out or skipped

    bool clean() const noexcept { return skipped == 0 && !truncated && !interrupted; }
};

/// Hands each whole record of `file` to `visit` with its container (made
/// without copying), in file order. A record of an unknown type is reported
/// on `err` with its offset and skipped; a record that cannot be delimited
/// (cut short, or lengths that disagree with each other or the file) is
/// reported with its offset and ends the walk, and so does a file that
/// another program cuts short while it is read. Problems are written as
/// "FILE: offset N: reason". A stop signal (SIGINT, SIGTERM) ends the walk
/// before the next record; that is reported too.
WalkOutcome walk_records(
    const MappedFile& file, Progress& progress, std::FILE* err,
    const std::function<void(const data_types::RecordScanner::Record&, const data_types::AnyContainer&)>& visit);

} // namespace qir::records
