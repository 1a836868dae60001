#include "data_types/RecordScanner.h"

namespace qir::data_types {

std::optional<RecordScanner::Record> RecordScanner::next() noexcept
{
    if (fault_ || offset_ >= buffer_.size())
        return std::nullopt;
    const std::span<const uint8_t> rest = buffer_.subspan(offset_);
    RecordCheck check = check_record(rest);
    if (check.fault == RecordFault::UnknownType && check.header.length >= kBaseHeaderSize &&
        check.header.length <= rest.size()) {
        const Record record{ offset_, rest.first(check.header.length), check.header, check.fault };
        offset_ += check.header.length;
        return record;
    }
    if (!check.ok()) {
        fault_ = Fault{ offset_, check };
        return std::nullopt;
    }
    const Record record{ offset_, rest.first(check.header.length), check.header, RecordFault::None };
    offset_ += check.header.length;
    return record;
}

} // namespace qir::data_types
