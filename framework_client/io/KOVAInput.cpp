#include "io/KOVAInput.h"

#include "component/KOVAComponent.h"
#include "component/KOVAUnwind.h"
#include "properties/KOVAProperty.h"
#include "types/KOVATypeFilterBase.h"
#include "types/KOVATypeNames.h"

KOVAInput::KOVAInput(KOVAComponent& owner, const KOVAInputDefinition& definition, std::string name,
                     KOVAProperty* readerTypeProperty, KOVAProperty* subsamplingProperty)
    : owner_(owner)
    , definition_(definition)
    , name_(std::move(name))
    , readerTypeProperty_(readerTypeProperty)
    , subsamplingProperty_(subsamplingProperty)
{ }

KOVAInput::~KOVAInput()
{
    Disconnect();
}

const KOVATypeInfo* KOVAInput::Type() const
{
    KOVASampleSource* source = source_.load(std::memory_order_acquire);
    return source ? &source->SampleType() : nullptr;
}

int32_t KOVAInput::ReaderKind() const noexcept
{
    int64_t kind = definition_.readerType;
    if (readerTypeProperty_)
        readerTypeProperty_->ReadInteger(kind);
    return static_cast<int32_t>(kind);
}

int32_t KOVAInput::Subsampling() const noexcept
{
    int64_t rate = definition_.subsampling < 1 ? 1 : definition_.subsampling;
    if (subsamplingProperty_)
        subsamplingProperty_->ReadInteger(rate);
    return static_cast<int32_t>(rate);
}

int32_t KOVAInput::Connect(KOVASampleSource& source, KOVATextReceiver& why) noexcept
{
    try {
        if (IsConnected()) {
            KOVA::Give(why, "input \"" + name_ + "\" is already connected");
            return KOVA::Refused;
        }
        if (definition_.typeFilter && !definition_.typeFilter->Accepts(source.SampleType())) {
            KOVA::StringReceiver filter;
            definition_.typeFilter->Describe(filter);
            KOVA::Give(why,
                       "input \"" + name_ + "\" accepts " + filter.Text() + ", not " +
                           KOVA::TypeText(source.SampleType()));
            return KOVA::Refused;
        }
        const int32_t kind = ReaderKind();
        const int32_t rate = KOVA::IsFifoStyleReader(kind) ? Subsampling() : 1;
        const int32_t reader = source.RegisterReader(kind, rate, why);
        if (reader < 0)
            return KOVA::Refused;
        reader_.store(reader, std::memory_order_release);
        source_.store(&source, std::memory_order_release);
        return KOVA::NoError;
    } catch (const std::exception& e) {
        KOVA::Give(why, e.what());
        return KOVA::Refused;
    }
}

void KOVAInput::Disconnect() noexcept
{
    KOVASampleSource* source = source_.exchange(nullptr, std::memory_order_acq_rel);
    if (source)
        source->UnregisterReader(reader_.exchange(-1, std::memory_order_acq_rel));
    held_ = nullptr;
}

bool KOVAInput::IsConnected() const noexcept
{
    return source_.load(std::memory_order_acquire) != nullptr;
}

KOVAIOElt* KOVAInput::StartReading()
{
    if (held_)
        StopReading();
    KOVASampleSource* source = source_.load(std::memory_order_acquire);
    if (!source)
        return nullptr;
    KOVA::StringReceiver why;
    const KOVAReadResult result =
        source->StartReading(reader_.load(std::memory_order_acquire), owner_.StopSignal(), why);
    if (result.element) {
        held_ = result.element;
        return held_;
    }
    if (result.code == KOVA::ErrorException)
        owner_.Error(why.Text().c_str());
    KOVA::Raise(result.code);
}

void KOVAInput::StopReading()
{
    KOVASampleSource* source = source_.load(std::memory_order_acquire);
    KOVAIOElt* element = held_;
    held_ = nullptr;
    if (!source || !element)
        return;
    KOVA::StringReceiver why;
    if (source->StopReading(reader_.load(std::memory_order_acquire), element, why) != KOVA::NoError)
        owner_.Error(why.Text().c_str());
}

bool KOVAInput::StopReadingNoThrow() noexcept
{
    KOVASampleSource* source = source_.load(std::memory_order_acquire);
    KOVAIOElt* element = held_;
    held_ = nullptr;
    if (!source || !element)
        return true;
    KOVA::StringReceiver why;
    return source->StopReading(reader_.load(std::memory_order_acquire), element, why) == KOVA::NoError;
}

int32_t KOVAInput::DataAvailableInFIFO()
{
    KOVASampleSource* source = source_.load(std::memory_order_acquire);
    return source ? source->DataAvailable(reader_.load(std::memory_order_acquire)) : 0;
}

void KOVAInput::WakeReader()
{
    if (KOVASampleSource* source = source_.load(std::memory_order_acquire))
        source->WakeReaders();
}
