// VXQIRApiImpl.h - the process-wide core behind the exported C functions.
#pragma once

#include "ChannelCommunication.h"
#include "InterfaceCommunication.h"
#include "ReachabilityCache.h"
#include "VXQIRApi.h"
#include "VXQIRApiProgress.h"

#include <atomic>
#include <forward_list>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

namespace vxqir {

// Owns the table of channels by handle, one InterfaceCommunication per local
// endpoint, the reachability cache and the listener thread that receives the
// status messages of all units.
//
// Every public operation is thread-safe, checks its arguments in a fixed
// order (handle first, then pointers) and returns a VXTQirError. Per-channel
// operations hold no lock of the core while they talk to the unit.
//
// Lock order: interfaceMutex_ before channelMutex_, and interfaceMutex_
// before any lock of a channel. The reachability cache's lock is never taken
// together with another.
class VXQIRApiS {
public:
    // The process-wide instance, created on first use.
    static VXQIRApiS& getInstance();

    // A private instance with its own listener, tables and reachability
    // cache, for tests and tools that must not share the process-wide one.
    static std::unique_ptr<VXQIRApiS> createIsolated(ReachabilityCache::Clock clock, ReachabilityCache::Probe probe);
    static std::unique_ptr<VXQIRApiS> createIsolated();

    ~VXQIRApiS();
    VXQIRApiS(const VXQIRApiS&) = delete;
    VXQIRApiS& operator=(const VXQIRApiS&) = delete;
    VXQIRApiS(VXQIRApiS&&) = delete;
    VXQIRApiS& operator=(VXQIRApiS&&) = delete;

    VXTQirError registerOutputChannel(const VXTQirInputInterfaceT* inputInterface, VXTQirChannelNumber channelIndex,
                                      VXTQirChannelHandle* channelHandle);
    VXTQirError unregisterOutputChannel(VXTQirChannelHandle handle);
    VXTQirError initOutputChannel(VXTQirChannelHandle handle, uint16_t width, uint16_t height) const;
    VXTQirError isOutputChannelAvailable(VXTQirChannelHandle handle) const;
    VXTQirError setReplayStartTime(VXTQirChannelHandle handle, uint64_t StartTime, uint64_t Offset,
                                   uint64_t StopTime) const;
    VXTQirError setReplayOffset(VXTQirChannelHandle handle, uint64_t Offset) const;
    VXTQirError setReplayStopTime(VXTQirChannelHandle handle, uint64_t StopTime) const;
    VXTQirError getCurrentState(VXTQirChannelHandle handle, VXTQirStatusT* Status) const;
    VXTQirError getReplayStartTime(VXTQirChannelHandle handle, uint64_t* StartTime, uint64_t* Offset,
                                   uint64_t* StopTime) const;
    VXTQirError getReplayOffset(VXTQirChannelHandle handle, uint64_t* Offset) const;
    VXTQirError getReplayStopTime(VXTQirChannelHandle handle, uint64_t* StopTime) const;
    VXTQirError getFrameSize(VXTQirChannelHandle handle, uint16_t* width, uint16_t* height) const;
    VXTQirError replayStreamData(VXTQirChannelHandle handle, const VXTQirPacketPropertiesT* packetProperties,
                                 const uint8_t* buffer, uint16_t bufferSize) const;
    // A run of blocks of one channel, sent as replayStreamData would send
    // them one by one but with few system calls (ChannelState::
    // sendReplayBlocks); blocksSent tells how many went whole. The
    // package's components reach it through the core, C programs through
    // VXQIR_ReplayStreamBlocks, which may pass a null `blocks` (refused
    // with InvalidPointer after the handle check unless `count` is 0).
    VXTQirError replayStreamBlocks(VXTQirChannelHandle handle, std::span<const ReplayBlock> blocks,
                                   size_t* blocksSent) const;
    VXTQirError replayStreamBlocks(VXTQirChannelHandle handle, const ReplayBlock* blocks, size_t count,
                                   size_t* blocksSent) const;
    // VXQIR_GetChannelProgress and VXQIR_GetChannelProgressAt
    // (VXQIRApiProgress.h).
    VXTQirError getChannelProgress(VXTQirChannelHandle handle, VXTQirChannelProgressT* progress) const;
    VXTQirError getChannelProgressAt(const char* controlIP, uint16_t controlPort, VXTQirChannelNumber channelIndex,
                                     VXTQirChannelProgressT* progress) const;
    VXTQirError resetChannel(VXTQirChannelHandle handle);
    VXTQirError clearStatusFlags(VXTQirChannelHandle handle);
    VXTQirError isInputInterfaceAvailable(const VXTQirInputInterfaceT* inputInterface);
    bool checkAndInsertIP(const char* ip);

    // Smallest maxPayloadSize that can cut a block into several datagrams
    // (every datagram but the last carries a multiple of 8 bytes).
    static constexpr uint16_t MIN_PAYLOAD_SIZE = 8;

    // Largest channel index: the channel travels in one byte of every
    // control and status message.
    static constexpr VXTQirChannelNumber MAX_CHANNEL_INDEX = 255;

    // Name of the listener thread, as tools like top and gdb show it.
    static constexpr const char* LISTENER_THREAD_NAME = "vxqir-listener";

    // Diagnostics for tests: number of local endpoints in use, and the bound
    // control port of the endpoint serving a configuration (0 when none).
    size_t interfaceCount() const;
    // The channel behind a handle, or null.
    ChannelStatePtr channel(VXTQirChannelHandle handle) const { return getChannelState(handle).channel; }
    uint16_t boundControlPort(const VXTQirInputInterfaceT& inputInterface) const;

private:
    VXQIRApiS(ReachabilityCache::Clock clock, ReachabilityCache::Probe probe);
    VXQIRApiS();

    // Result of the combined handle check and fetch.
    struct Lookup {
        VXTQirError error;
        ChannelStatePtr channel;
    };

    static bool isValidPointer(const void* pointer) { return pointer != nullptr; }
    static bool isValidConfig(const VXTQirInputInterfaceT& inputInterface);
    bool isValidChannelHandle(VXTQirChannelHandle handle) const;
    // Duplicate scan; the caller holds channelMutex_.
    bool isChannelAlreadyRegisteredLocked(const VXTQirInputInterfaceT& inputInterface,
                                          VXTQirChannelNumber channelIndex) const;
    // Handle check and fetch in one step under channelMutex_.
    Lookup getChannelState(VXTQirChannelHandle handle) const;
    // The caller holds interfaceMutex_.
    InterfaceCommunication& addOrGetInterface(const VXTQirInputInterfaceT& inputInterface);
    // Both run with interfaceMutex_ held; true when an endpoint went away.
    bool deleteChannelFromInterface(const ChannelKey& key);
    bool removeEmptyInterfaces();
    void listen();
    // Wakes the listener from its wait and returns once it has begun a pass
    // after `pass`: from then on no wait of the listener still holds a socket
    // of an endpoint removed before, so its port is free again.
    void waitForListenerPassAfter(uint64_t pass);
    void wakeListener() const;

    mutable std::mutex channelMutex_;   // guards outputChannel_ and next_channel_handle_
    mutable std::mutex interfaceMutex_; // guards interfaces_ and each interface's channel table
    std::map<VXTQirChannelHandle, ChannelStatePtr> outputChannel_;
    std::forward_list<InterfaceCommunication> interfaces_;
    ReachabilityCache reachability_; // holds pingMutex_ and availableIPs_
    // Set once at destruction; sequentially consistent so the listener sees
    // it on its next pass without further synchronisation.
    std::atomic<bool> stopped_{ false };
    VXTQirChannelHandle next_channel_handle_ = 0;
    // Passes of the listener, counted when it builds its descriptor set
    // (under interfaceMutex_). Waiters use atomic wait/notify; acquire and
    // release order the count with the set it was built from.
    std::atomic<uint64_t> listenerPasses_{ 0 };
    // Written to wake the listener from its wait; -1 when unavailable (the
    // listener then notices changes within one wait period).
    const int wakeFd_;
    std::thread receive_thread_; // started last, joined first
};

} // namespace vxqir
