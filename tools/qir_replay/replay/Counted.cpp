#include "Counted.h"

namespace qir::replay {

std::string nounFor(uint64_t count, std::string_view singular, std::string_view plural)
{
    if (count == 1)
        return std::string(singular);
    return plural.empty() ? std::string(singular) + "s" : std::string(plural);
}

std::string counted(uint64_t count, std::string_view singular, std::string_view plural)
{
    return std::to_string(count) + " " + nounFor(count, singular, plural);
}

} // namespace qir::replay
