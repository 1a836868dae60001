#define PCRE2_CODE_UNIT_WIDTH 8
#include "types/KOVARegex.h"

#include <pcre2.h>

#include <memory>

KOVARegex::KOVARegex(std::string_view pattern)
{
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), 0, &errorCode, &errorOffset,
                          nullptr);
    if (!code_) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(errorCode, message, sizeof message);
        error_ = "invalid regular expression \"" + std::string(pattern) + "\" at offset " +
            std::to_string(errorOffset) + ": " + reinterpret_cast<const char*>(message);
    }
}

KOVARegex::~KOVARegex()
{
    pcre2_code_free(code_);
}

bool KOVARegex::Matches(std::string_view subject) const
{
    if (!code_)
        return false;
    struct MatchDataFree {
        void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
    };
    const std::unique_ptr<pcre2_match_data, MatchDataFree> data(pcre2_match_data_create_from_pattern(code_, nullptr));
    if (!data)
        return false;
    const int rc =
        pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0, data.get(), nullptr);
    return rc >= 0;
}
