// Type filter of an input: which sample types the input accepts.
#pragma once

#include "abi/KOVATextReceiver.h"
#include "abi/KOVATypeInfo.h"

#include <memory>
#include <mutex>

class KOVARegex;

/// A type passes the filter when all of these hold:
///  - unless IgnoreNameFlag is set in the code, and when a name filter is
///    given: the type has a name (not null) and the name expression matches it;
///  - the same for the unit with IgnoreUnitFlag and the unit filter;
///  - mask AND (x XOR code) is zero;
///  - maskX AND code is non-zero.
/// Expressions are PCRE2 (Perl semantics, matched anywhere in the text unless
/// anchored), compiled once on first use.
///
/// Thread-safe. Accepts is virtual so that an engine in another binary
/// matches with the filter's own code.
class KOVATypeFilterBase {
public:
    KOVATypeFilterBase(KOVATypeInfoValue mask, KOVATypeInfoValue x, KOVATypeInfoValue maskX,
                       const char* nameFilter = nullptr, const char* unitFilter = nullptr);
    virtual ~KOVATypeFilterBase();
    KOVATypeFilterBase(const KOVATypeFilterBase&) = delete;
    KOVATypeFilterBase& operator=(const KOVATypeFilterBase&) = delete;

    /// True when `type` passes the filter. An expression that does not
    /// compile accepts nothing.
    virtual bool Accepts(const KOVATypeInfo& type) const noexcept;
    /// Human-readable form, e.g. "kinds IplImage|Stream8, name /|Foo/".
    virtual void Describe(KOVATextReceiver& out) const noexcept;

    const KOVATypeInfoValue mask;
    const KOVATypeInfoValue x;
    const KOVATypeInfoValue maskX;
    const char* const nameFilter;
    const char* const unitFilter;

private:
    void Compile() const;

    mutable std::once_flag compiled_;
    mutable std::unique_ptr<KOVARegex> nameExpression_;
    mutable std::unique_ptr<KOVARegex> unitExpression_;
};
