// Scoped reading of one sample of an input.
#pragma once

#include "component/KOVAComponent.h"
#include "io/KOVAGetIOElementPointer.h"

namespace KOVA {

/// Calls StartReading on construction and StopReading on destruction.
/// Holds no element when the input is not connected. Fails the current
/// lifecycle call ("The ElementType of the InputGuard of [input_name:...]
/// doesn't match the actual type of the input") when the input's samples are
/// not of `ElementType`. Thread-bound to the reading component thread.
template <typename ElementType>
class InputGuard {
public:
    InputGuard(KOVAComponent* component, KOVAInput* input) : component_(component), input_(input)
    {
        element_ = component_->StartReading(input_);
        if (element_ && !TypeMatches<ElementType>(element_->Type().code)) {
            input_->StopReadingNoThrow();
            element_ = nullptr;
            component_->Error(("The ElementType of the InputGuard of [input_name:" + input_->GetName() +
                               "] doesn't match the actual type of the input")
                                  .c_str());
        }
    }
    ~InputGuard()
    {
        if (element_)
            input_->StopReadingNoThrow();
    }
    InputGuard(const InputGuard&) = delete;
    InputGuard& operator=(const InputGuard&) = delete;

    explicit operator bool() const { return element_ != nullptr; }
    KOVAIOElt* Element() const { return element_; }
    /// Item `index` of the sample (see GetIOElementPointer).
    ElementType* Get(int32_t index = 0) const { return GetIOElementPointer<ElementType>(*element_, index); }

private:
    KOVAComponent* component_;
    KOVAInput* input_;
    KOVAIOElt* element_ = nullptr;
};

} // namespace KOVA
