#include "text/KOVANameRule.h"

#include "types/KOVARegex.h"

namespace KOVA {

bool IsValidName(std::string_view name)
{
    static const KOVARegex rule("^[a-zA-Z][a-zA-Z_0-9]*$");
    // "$" also matches before a final newline; a name never ends in one.
    if (!name.empty() && name.back() == '\n')
        return false;
    return rule.Matches(name);
}

} // namespace KOVA
