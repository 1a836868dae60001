// A PCRE2 (8-bit) regular expression, compiled once.
#pragma once

#include <string>
#include <string_view>

struct pcre2_real_code_8;

/// Owns one compiled expression. Thread-safe after construction: Matches may
/// run concurrently (each call uses its own match data).
class KOVARegex {
public:
    /// Compiles `pattern`; on failure IsValid() is false and ErrorText() says
    /// why and where.
    explicit KOVARegex(std::string_view pattern);
    ~KOVARegex();
    KOVARegex(const KOVARegex&) = delete;
    KOVARegex& operator=(const KOVARegex&) = delete;

    bool IsValid() const { return code_ != nullptr; }
    const std::string& ErrorText() const { return error_; }

    /// True when the expression matches somewhere in `subject` (Perl
    /// semantics: anchor with ^ and $ to match the whole text). An invalid
    /// expression matches nothing.
    bool Matches(std::string_view subject) const;

private:
    pcre2_real_code_8* code_ = nullptr;
    std::string error_;
};
