#include "io/KOVAOutput.h"

#include "component/KOVAComponent.h"
#include "component/KOVAUnwind.h"
#include "properties/KOVAProperty.h"
#include "services/KOVAServices.h"
#include "types/KOVATypeNames.h"

#include <algorithm>
#include <cstring>
#include <new>

KOVAOutput::KOVAOutput(KOVAComponent& owner, const KOVAOutputDefinition& definition, std::string name,
                       KOVAProperty* fifoSizeProperty)
    : owner_(owner)
    , definition_(definition)
    , name_(std::move(name))
    , typeName_(definition.type.name ? definition.type.name : "")
    , typeUnit_(definition.type.unit ? definition.type.unit : "")
    , type_{ definition.type.code, definition.type.name ? typeName_.c_str() : nullptr,
             definition.type.unit ? typeUnit_.c_str() : nullptr }
    , fifoSizeProperty_(fifoSizeProperty)
{ }

KOVAOutput::~KOVAOutput() = default;

int32_t KOVAOutput::FifoSize() const noexcept
{
    int64_t size = definition_.fifoSize;
    if (fifoSizeProperty_)
        fifoSizeProperty_->ReadInteger(size);
    return static_cast<int32_t>(std::clamp<int64_t>(size, 1, 65536));
}

std::string KOVAOutput::Allocate(int64_t bytesPerElement, int32_t items, const ::IplImage* model, bool zeroFill)
{
    if (!elements_.empty())
        return "Output buffer already initialized. Can't initialize an output buffer twice.";
    const int32_t count = FifoSize();
    const int64_t requested = bytesPerElement * count;
    if (bytesPerElement < 0 || requested > KOVA::MaxOutputBufferBytes) {
        return "Requested buffer size [" + std::to_string(bytesPerElement) + " x " + std::to_string(count) +
            "] is too big. Please reduce the requested output buffer size and/or the output FIFO size.";
    }
    // Elements start on 64-byte boundaries so that every item type is aligned.
    const int64_t stride = (bytesPerElement + 63) / 64 * 64;
    try {
        block_ = zeroFill ? std::make_unique<uint8_t[]>(static_cast<size_t>(stride * count))
                          : std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(stride * count));
        const int32_t itemSize = model ? 1 : KOVA::ItemSizeOfType(type_.code);
        std::vector<KOVAIOElt*> ring;
        for (int32_t i = 0; i < count; ++i) {
            auto element = std::make_unique<KOVAIOEltBuffer>(type_, block_.get() + stride * i, items, itemSize, this);
            if (model)
                element->AttachIplImage(*model);
            else if (type_.code & KOVA::KOVAImage)
                element->AttachKOVAImage();
            ring.push_back(element.get());
            elements_.push_back(std::move(element));
        }
        fifo_.SetElements(ring);
    } catch (const std::bad_alloc&) {
        elements_.clear();
        block_.reset();
        return name_ + ": Not enough memory to allocate output buffer.";
    }
    return {};
}

void KOVAOutput::AllocOutputBuffer(int32_t items)
{
    const int64_t bytes = static_cast<int64_t>(items) * KOVA::ItemSizeOfType(type_.code);
    const std::string why = items < 0 ? "Requested buffer size [" + std::to_string(items) +
            "] is too big. Please "
            "reduce the requested output buffer size and/or the output FIFO size."
                                      : Allocate(bytes, items, nullptr, false);
    if (!why.empty())
        owner_.Error(why.c_str());
}

void KOVAOutput::AllocOutputBufferIplImage(const ::IplImage& model, bool zeroFill)
{
    std::string why;
    if (model.imageSize < 0) {
        why = "Requested buffer size [image of " + std::to_string(model.width) + " x " + std::to_string(model.height) +
            "] is too big. Please reduce the requested output buffer size "
            "and/or the output FIFO size.";
    } else {
        why = Allocate(model.imageSize, model.imageSize, &model, zeroFill);
    }
    if (!why.empty())
        owner_.Error(why.c_str());
}

bool KOVAOutput::AllocateDefinedBuffers(std::string& why)
{
    if (definition_.size <= 0 || !elements_.empty())
        return true;
    why = Allocate(static_cast<int64_t>(definition_.size) * KOVA::ItemSizeOfType(type_.code), definition_.size, nullptr,
                   true);
    return why.empty();
}

void KOVAOutput::FreeBuffers()
{
    fifo_.ClearElements();
    elements_.clear();
    block_.reset();
}

bool KOVAOutput::Owns(const KOVAIOElt* element) const
{
    for (const auto& own : elements_) {
        if (own.get() == element)
            return true;
    }
    return false;
}

KOVAIOElt* KOVAOutput::StartWriting()
{
    if (elements_.empty()) {
        const std::string why = "Output " + name_ + " has no buffers: allocate them in Birth before writing.";
        owner_.Error(why.c_str());
    }
    try {
        KOVAIOElt* element = fifo_.StartWriting(nullptr, owner_.StopSignal());
        if (element) {
            element->VectorSize() = element->BufferSize();
            element->TimeOfIssue() = KOVA::CurrentTime();
        }
        return element;
    } catch (const KOVAFifoFault& fault) {
        if (!fault.text.empty())
            owner_.Error(fault.text.c_str());
        KOVA::Raise(fault.code);
    }
}

void KOVAOutput::StopWriting(KOVAIOElt* element, bool discard)
{
    try {
        fifo_.StopWriting(element, discard);
    } catch (const KOVAFifoFault& fault) {
        owner_.Error(fault.text.c_str());
    }
}

bool KOVAOutput::StopWritingNoThrow(KOVAIOElt* element, bool discard) noexcept
{
    try {
        fifo_.StopWriting(element, discard);
        return true;
    } catch (...) {
        return false;
    }
}

int32_t KOVAOutput::RegisterReader(int32_t readerKind, int32_t subsampling, KOVATextReceiver& why) noexcept
{
    try {
        return fifo_.RegisterReader(readerKind, subsampling);
    } catch (const KOVAFifoFault& fault) {
        KOVA::Give(why, fault.text);
    } catch (const std::exception& e) {
        KOVA::Give(why, e.what());
    }
    return -1;
}

void KOVAOutput::UnregisterReader(int32_t reader) noexcept
{
    fifo_.UnregisterReader(reader);
}

KOVAReadResult KOVAOutput::StartReading(int32_t reader, const KOVAStopToken& stop, KOVATextReceiver& why) noexcept
{
    try {
        return { fifo_.StartReading(reader, stop), KOVA::NoError };
    } catch (const KOVAFifoFault& fault) {
        KOVA::Give(why, fault.text);
        return { nullptr, fault.code };
    } catch (const std::exception& e) {
        KOVA::Give(why, e.what());
        return { nullptr, KOVA::ErrorException };
    }
}

int32_t KOVAOutput::StopReading(int32_t reader, KOVAIOElt* element, KOVATextReceiver& why) noexcept
{
    try {
        fifo_.StopReading(reader, element);
        return KOVA::NoError;
    } catch (const KOVAFifoFault& fault) {
        KOVA::Give(why, fault.text);
        return fault.code;
    } catch (const std::exception& e) {
        KOVA::Give(why, e.what());
        return KOVA::ErrorException;
    }
}

int32_t KOVAOutput::DataAvailable(int32_t reader) noexcept
{
    return fifo_.DataAvailableInFIFO(reader);
}
