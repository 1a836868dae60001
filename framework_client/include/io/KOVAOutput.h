// One output of a component: its sample type, its buffers and the sample
// FIFO through which connected inputs read them.
#pragma once

#include "abi/IplImage.h"
#include "abi/KOVAComponentDefinition.h"
#include "abi/KOVAOutputPort.h"
#include "fifo/KOVAFastIO.h"
#include "io/KOVAIOEltBuffer.h"

#include <memory>
#include <string>
#include <vector>

class KOVAComponent;
class KOVAProperty;

namespace KOVA {
/// Largest block of output buffers (all elements of one output together).
inline constexpr int64_t MaxOutputBufferBytes = int64_t{ 1 } << 30;
} // namespace KOVA

/// Thread-safe for the KOVAOutputPort side. The component side:
/// StartWriting / StopWriting from any thread of the owning component;
/// allocation and FreeBuffers only while no element is held (Birth, or the
/// engine between runs).
class KOVAOutput final : public KOVAOutputPort {
public:
    KOVAOutput(KOVAComponent& owner, const KOVAOutputDefinition& definition, std::string name,
               KOVAProperty* fifoSizeProperty);
    ~KOVAOutput();
    KOVAOutput(const KOVAOutput&) = delete;
    KOVAOutput& operator=(const KOVAOutput&) = delete;

    const std::string& GetName() const { return name_; }
    const KOVATypeInfo& Type() const { return type_; }
    const KOVAOutputDefinition& Definition() const { return definition_; }

    /// Allocates the ring with `items` items of the type's item size per
    /// element. Fails the current lifecycle call (Error) when the output has
    /// buffers already ("Output buffer already initialized. ..."), when the
    /// block would exceed KOVA::MaxOutputBufferBytes ("Requested buffer size
    /// [...] is too big ...") or when memory runs out.
    void AllocOutputBuffer(int32_t items);
    /// Allocates the ring for IPL images of `model`'s geometry; each element
    /// gets `model`'s header with imageData at its own pixels. `zeroFill`
    /// clears the pixel memory. Errors as AllocOutputBuffer, and for a model
    /// without a valid size.
    void AllocOutputBufferIplImage(const ::IplImage& model, bool zeroFill);
    /// Drops the buffers (no element may be held).
    void FreeBuffers();
    bool HasBuffers() const { return !elements_.empty(); }

    /// Engine start: allocates the buffers of an output whose definition
    /// gives a size, unless they exist. Returns false with `why` on failure.
    bool AllocateDefinedBuffers(std::string& why);

    /// The next free element (see KOVAFastIO::StartWriting). Raises
    /// KOVA::ModuleDied at stop; fails (Error) on a fatal FIFO error and on
    /// an output without buffers. Returns null when the writers are released.
    KOVAIOElt* StartWriting();
    /// Publishes (or with `discard` withholds) an element of this output.
    void StopWriting(KOVAIOElt* element, bool discard);
    /// Like StopWriting but never raises (for destructors); false on failure.
    bool StopWritingNoThrow(KOVAIOElt* element, bool discard) noexcept;
    /// True when `element` is one of this output's elements.
    bool Owns(const KOVAIOElt* element) const;

    /// Stop support: wakes writers waiting in StartWriting.
    void WakeWriters() { fifo_.WakeWriters(); }
    KOVAFastIO& Fifo() { return fifo_; }

    // KOVAOutputPort
    const KOVATypeInfo& SampleType() const noexcept override { return type_; }
    int32_t RegisterReader(int32_t readerKind, int32_t subsampling, KOVATextReceiver& why) noexcept override;
    void UnregisterReader(int32_t reader) noexcept override;
    KOVAReadResult StartReading(int32_t reader, const KOVAStopToken& stop, KOVATextReceiver& why) noexcept override;
    int32_t StopReading(int32_t reader, KOVAIOElt* element, KOVATextReceiver& why) noexcept override;
    int32_t DataAvailable(int32_t reader) noexcept override;
    void WakeReaders() noexcept override { fifo_.WakeReaders(); }
    const char* Name() const noexcept override { return name_.c_str(); }
    int32_t FifoSize() const noexcept override;
    int32_t DefinedSize() const noexcept override { return definition_.size; }
    uint64_t PublishedCount() const noexcept override { return fifo_.PublishedCount(); }
    uint64_t OverflowCount() const noexcept override { return fifo_.OverflowCount(); }

private:
    /// Creates the elements; returns an empty text or the reason of failure.
    std::string Allocate(int64_t bytesPerElement, int32_t items, const ::IplImage* model, bool zeroFill);

    KOVAComponent& owner_;
    const KOVAOutputDefinition definition_;
    const std::string name_;
    const std::string typeName_;
    const std::string typeUnit_;
    KOVATypeInfo type_;
    KOVAProperty* const fifoSizeProperty_;

    std::unique_ptr<uint8_t[]> block_;
    std::vector<std::unique_ptr<KOVAIOEltBuffer>> elements_;
    KOVAFastIO fifo_;
};
