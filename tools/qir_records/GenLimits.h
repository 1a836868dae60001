// GenLimits.h - what `qir-records gen` accepts, checked before it writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qir::records {

/// Most records one `gen` run writes (about 30 GB of mixed records).
inline constexpr uint64_t kMaxGeneratedRecords = 100'000'000;

/// Parameters of `gen` after checking.
struct GenRequest {
    uint64_t count = 1000;
    uint64_t seed = 1;
    int64_t start_time_us = 1'700'000'000'000'000;
};

/// Parses the texts of --count, --seed and --start. Returns the text of the
/// first refusal (naming the option, the value and the accepted range), or
/// nothing when all are good and `request` is filled. A start whose last
/// record would pass the largest record time is refused.
std::optional<std::string> parse_gen_request(const std::string& count, const std::string& seed,
                                             const std::string& start, GenRequest& request);

} // namespace qir::records
