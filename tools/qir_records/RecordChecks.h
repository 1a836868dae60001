// RecordChecks.h - records that can be read but do not make sense: a CAN
// frame whose payload disagrees with its DLC, a time earlier than the one of
// the record before.
#pragma once

#include "data_types/AnyContainer.h"
#include "data_types/RecordScanner.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace qir::records {

/// Payload bytes a CAN frame with `dlc` carries: 0 to 8 as given; 9 to 15
/// mean 8 bytes for classic CAN and 12, 16, 20, 24, 32, 48, 64 bytes for CAN
/// FD (`fd`). Nothing for a DLC above 15.
std::optional<uint32_t> can_payload_size(uint8_t dlc, bool fd) noexcept;

/// Checks records in file order and reports each doubtful one on `err` as
/// "FILE: offset N: reason" (the first few of each kind, then only counts).
/// Thread-bound.
class RecordChecks {
public:
    RecordChecks(std::string path, std::FILE* err);

    void check(const data_types::RecordScanner::Record& record, const data_types::AnyContainer& container);

    /// Writes the totals of what was reported to `err`; true when nothing was.
    bool finish();

    uint64_t dlc_mismatches() const noexcept { return dlc_mismatches_; }
    uint64_t times_backwards() const noexcept { return times_backwards_; }

private:
    bool shown(uint64_t count) const noexcept;

    std::string path_;
    std::FILE* err_;
    std::optional<int64_t> previous_time_;
    uint64_t dlc_mismatches_ = 0;
    uint64_t times_backwards_ = 0;
};

} // namespace qir::records
