#include "types/KOVATypeFilterBase.h"

#include "types/KOVARegex.h"
#include "types/KOVATypeNames.h"

#include <string>

KOVATypeFilterBase::KOVATypeFilterBase(KOVATypeInfoValue mask_, KOVATypeInfoValue x_, KOVATypeInfoValue maskX_,
                                       const char* nameFilter_, const char* unitFilter_)
    : mask(mask_)
    , x(x_)
    , maskX(maskX_)
    , nameFilter(nameFilter_)
    , unitFilter(unitFilter_)
{ }

KOVATypeFilterBase::~KOVATypeFilterBase() = default;

void KOVATypeFilterBase::Compile() const
{
    std::call_once(compiled_, [this] {
        if (nameFilter)
            nameExpression_ = std::make_unique<KOVARegex>(nameFilter);
        if (unitFilter)
            unitExpression_ = std::make_unique<KOVARegex>(unitFilter);
    });
}

bool KOVATypeFilterBase::Accepts(const KOVATypeInfo& type) const noexcept
{
    try {
        Compile();
        if (!(type.code & KOVA::IgnoreNameFlag) && nameExpression_) {
            if (!type.name || !nameExpression_->Matches(type.name))
                return false;
        }
        if (!(type.code & KOVA::IgnoreUnitFlag) && unitExpression_) {
            if (!type.unit || !unitExpression_->Matches(type.unit))
                return false;
        }
    } catch (...) {
        return false;
    }
    return (mask & (x ^ type.code)) == 0 && (maskX & type.code) != 0;
}

void KOVATypeFilterBase::Describe(KOVATextReceiver& out) const noexcept
{
    try {
        Compile();
        std::string text = "kinds " + KOVA::TypeKindNames(maskX);
        if (mask != 0)
            text += ", exactly " + KOVA::TypeKindNames(x & mask) + " under mask " + KOVA::HexText(mask);
        if (nameFilter) {
            text += std::string(", name /") + nameFilter + "/";
            if (nameExpression_ && !nameExpression_->IsValid())
                text += " (" + nameExpression_->ErrorText() + ")";
        }
        if (unitFilter) {
            text += std::string(", unit /") + unitFilter + "/";
            if (unitExpression_ && !unitExpression_->IsValid())
                text += " (" + unitExpression_->ErrorText() + ")";
        }
        out.Receive(text.data(), text.size());
    } catch (...) {
        out.Receive("", 0);
    }
}
