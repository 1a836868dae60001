#include "component/KOVAUnwind.h"

#include "component/KOVAComponent.h"
#include "services/KOVAServices.h"

namespace {
thread_local KOVAComponent* tCurrent = nullptr;
} // namespace

namespace KOVA {

void Raise(int32_t code)
{
    throw static_cast<int>(code);
}

void Fail(const char* text)
{
    if (KOVAComponent* component = KOVAPrivate::CurrentComponent())
        component->Error(text);
    ReportText(nullptr, Error, text);
    Raise(ErrorException);
}

} // namespace KOVA

namespace KOVAPrivate {

KOVAComponent* CurrentComponent()
{
    return tCurrent;
}

CurrentComponentScope::CurrentComponentScope(KOVAComponent* component) : previous_(tCurrent)
{
    tCurrent = component;
}

CurrentComponentScope::~CurrentComponentScope()
{
    tCurrent = previous_;
}

} // namespace KOVAPrivate
