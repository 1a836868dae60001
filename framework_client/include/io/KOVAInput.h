// One input of a component: a reader of the FIFO of the output it is
// connected to, reading by its reader kind.
#pragma once

#include "abi/KOVAComponentDefinition.h"
#include "abi/KOVAInputPort.h"

#include <atomic>
#include <string>

class KOVAComponent;
class KOVAProperty;

/// The KOVAInputPort side is thread-safe (Connect and Disconnect only while
/// the component does not run). The component side (StartReading,
/// StopReading) is thread-bound to one component thread at a time.
class KOVAInput final : public KOVAInputPort {
public:
    KOVAInput(KOVAComponent& owner, const KOVAInputDefinition& definition, std::string name,
              KOVAProperty* readerTypeProperty, KOVAProperty* subsamplingProperty);
    ~KOVAInput();
    KOVAInput(const KOVAInput&) = delete;
    KOVAInput& operator=(const KOVAInput&) = delete;

    const std::string& GetName() const { return name_; }
    const KOVAInputDefinition& Definition() const { return definition_; }
    /// Type of the connected output's samples; null when not connected.
    const KOVATypeInfo* Type() const;

    /// Releases the element still held, then blocks until the reader's next
    /// element is there and returns it (held until the next StartReading or
    /// StopReading). Returns null when the input is not connected. Raises
    /// KOVA::ModuleDied when the component is stopped while waiting; fails
    /// (Error) on a fatal FIFO error.
    KOVAIOElt* StartReading();
    /// Releases the element held, if any. Fails (Error) on a fatal FIFO error.
    void StopReading();
    /// Like StopReading but never raises; false on failure.
    bool StopReadingNoThrow() noexcept;
    /// 1 when a sample is ready for this input's reader, else 0.
    int32_t DataAvailableInFIFO();
    /// Stop support: wakes this input's reader if it waits.
    void WakeReader();

    // KOVAInputPort
    const char* Name() const noexcept override { return name_.c_str(); }
    int32_t ReaderKind() const noexcept override;
    int32_t Subsampling() const noexcept override;
    const KOVATypeFilterBase* Filter() const noexcept override { return definition_.typeFilter; }
    int32_t Connect(KOVASampleSource& source, KOVATextReceiver& why) noexcept override;
    void Disconnect() noexcept override;
    bool IsConnected() const noexcept override;
    int32_t DataAvailable() noexcept override { return DataAvailableInFIFO(); }

private:
    KOVAComponent& owner_;
    const KOVAInputDefinition definition_;
    const std::string name_;
    KOVAProperty* const readerTypeProperty_;
    KOVAProperty* const subsamplingProperty_;

    // Set by Connect before the component runs and cleared by Disconnect
    // after it stopped; acquire / release order the registration with the
    // component threads' reads.
    std::atomic<KOVASampleSource*> source_{ nullptr };
    std::atomic<int32_t> reader_{ -1 };
    KOVAIOElt* held_ = nullptr; ///< element held by the reading thread
};
