#include "RecordChecks.h"

#include "RecordSummary.h"

#include <array>
#include <cinttypes>

namespace qir::records {

using namespace qir::data_types;

namespace {
// Reports of each kind shown one by one; the rest are counted.
constexpr uint64_t kShownPerKind = 10;
} // namespace

std::optional<uint32_t> can_payload_size(uint8_t dlc, bool fd) noexcept
{
    static constexpr std::array<uint8_t, 16> kFdSizes{ 0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64 };
    if (dlc > 15)
        return std::nullopt;
    if (dlc <= 8)
        return dlc;
    return fd ? kFdSizes[dlc] : 8u;
}

RecordChecks::RecordChecks(std::string path, std::FILE* err) : path_(std::move(path)), err_(err)
{ }

bool RecordChecks::shown(uint64_t count) const noexcept
{
    return count <= kShownPerKind;
}

void RecordChecks::check(const RecordScanner::Record& record, const AnyContainer& container)
{
    const int64_t time = record.header.timestamp;
    if (previous_time_ && time < *previous_time_) {
        if (shown(++times_backwards_)) {
            std::fflush(stdout);
            std::fprintf(err_, "%s: offset %" PRIu64 ": time %s is earlier than %s of the record before\n",
                         path_.c_str(), record.offset, format_time(time).c_str(), format_time(*previous_time_).c_str());
        }
    }
    previous_time_ = time;

    if (const auto* can = std::get_if<CANContainer>(&container)) {
        const CANHeader& h = can->get_type_header();
        const std::optional<uint32_t> expected = can_payload_size(h.dlc, h.edl);
        const uint32_t length = can->get_payload_length();
        if (expected == length)
            return;
        if (shown(++dlc_mismatches_)) {
            std::fflush(stdout);
            if (expected)
                std::fprintf(err_, "%s: offset %" PRIu64 ": CAN%s frame with dlc %u carries %u bytes, not %u\n",
                             path_.c_str(), record.offset, h.edl ? " FD" : "", unsigned{ h.dlc }, length, *expected);
            else
                std::fprintf(err_, "%s: offset %" PRIu64 ": CAN frame with dlc %u: a dlc is 0 to 15\n", path_.c_str(),
                             record.offset, unsigned{ h.dlc });
        }
    }
}

bool RecordChecks::finish()
{
    if (dlc_mismatches_ > 0)
        std::fprintf(err_, "%s: %" PRIu64 " CAN frames whose payload disagrees with their dlc\n", path_.c_str(),
                     dlc_mismatches_);
    if (times_backwards_ > 0)
        std::fprintf(err_, "%s: %" PRIu64 " records with a time earlier than the record before\n", path_.c_str(),
                     times_backwards_);
    return dlc_mismatches_ == 0 && times_backwards_ == 0;
}

} // namespace qir::records
