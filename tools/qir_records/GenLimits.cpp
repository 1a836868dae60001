#include "GenLimits.h"

#include "RecordGenerator.h"

#include <charconv>
#include <limits>

namespace qir::records {

namespace {

template <typename Number>
bool parse_whole(const std::string& text, Number& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && !text.empty();
}

} // namespace

std::optional<std::string> parse_gen_request(const std::string& count, const std::string& seed,
                                             const std::string& start, GenRequest& request)
{
    const std::string count_range = "a whole number from 0 to " + std::to_string(kMaxGeneratedRecords);
    GenRequest parsed;
    // from_chars takes no sign for unsigned types: "-5" is refused, not wrapped.
    if (!parse_whole(count, parsed.count) || parsed.count > kMaxGeneratedRecords)
        return "--count " + count + ": expected " + count_range;
    if (!parse_whole(seed, parsed.seed))
        return "--seed " + seed + ": expected a whole number from 0 to " +
            std::to_string(std::numeric_limits<uint64_t>::max());
    if (!parse_whole(start, parsed.start_time_us))
        return "--start " + start + ": expected microseconds, a whole number from " +
            std::to_string(std::numeric_limits<int64_t>::min()) + " to " +
            std::to_string(std::numeric_limits<int64_t>::max());
    // Records follow each other by at most kMaxStepUs; the last must still
    // be a valid time. count <= 1e8 and step <= 400 keep the product small.
    const int64_t span = static_cast<int64_t>(parsed.count) * RecordGenerator::kMaxStepUs;
    const int64_t latest_start = std::numeric_limits<int64_t>::max() - span;
    if (parsed.start_time_us > latest_start)
        return "--start " + start + ": " + std::to_string(parsed.count) + " records up to " +
            std::to_string(RecordGenerator::kMaxStepUs) +
            " us apart would pass the latest time a record holds; choose a start of at most " +
            std::to_string(latest_start);
    request = parsed;
    return std::nullopt;
}

} // namespace qir::records
