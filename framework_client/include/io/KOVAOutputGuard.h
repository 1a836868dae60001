// Scoped writing of one sample of an output.
#pragma once

#include "component/KOVAComponent.h"
#include "io/KOVAGetIOElementPointer.h"

#include <exception>

namespace KOVA {

/// Calls StartWriting on construction and StopWriting on destruction, which
/// publishes the element. When the guard is left by an exception (a stop or
/// an error while the sample was being written) the half-written element is
/// withheld instead of published. Fails the current lifecycle call ("The
/// ElementType of the OutputGuard of [output_name:...] doesn't match the
/// actual type of the output") when the output's samples are not of
/// `ElementType`. Holds no element when the writers were released.
/// Thread-bound to the writing thread.
template <typename ElementType>
class OutputGuard {
public:
    OutputGuard(KOVAComponent* component, KOVAOutput* output)
        : output_(output)
        , exceptionsAtStart_(std::uncaught_exceptions())
    {
        if (output_ && !TypeMatches<ElementType>(output_->Type().code)) {
            component->Error(("The ElementType of the OutputGuard of [output_name:" + output_->GetName() +
                              "] doesn't match the actual type of the output")
                                 .c_str());
        }
        element_ = component->StartWriting(output_);
    }
    ~OutputGuard()
    {
        if (element_)
            output_->StopWritingNoThrow(element_, std::uncaught_exceptions() > exceptionsAtStart_);
    }
    OutputGuard(const OutputGuard&) = delete;
    OutputGuard& operator=(const OutputGuard&) = delete;

    explicit operator bool() const { return element_ != nullptr; }
    KOVAIOElt* Element() const { return element_; }
    /// Item `index` of the sample (see GetIOElementPointer).
    ElementType* Get(int32_t index = 0) const { return GetIOElementPointer<ElementType>(*element_, index); }

private:
    KOVAOutput* output_;
    int exceptionsAtStart_;
    KOVAIOElt* element_ = nullptr;
};

} // namespace KOVA
