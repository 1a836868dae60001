#include "VXQIRApiImpl.h"

#include "socket.h"

#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <vector>

namespace vxqir {

namespace {

// How long one listener pass waits for a status datagram; bounds how late
// the listener notices the stop flag and a newly bound endpoint.
constexpr int LISTEN_TIMEOUT_MS = 10;

} // namespace

VXQIRApiS& VXQIRApiS::getInstance()
{
    static VXQIRApiS instance;
    return instance;
}

std::unique_ptr<VXQIRApiS> VXQIRApiS::createIsolated(ReachabilityCache::Clock clock, ReachabilityCache::Probe probe)
{
    return std::unique_ptr<VXQIRApiS>(new VXQIRApiS(std::move(clock), std::move(probe)));
}

std::unique_ptr<VXQIRApiS> VXQIRApiS::createIsolated()
{
    return std::unique_ptr<VXQIRApiS>(new VXQIRApiS());
}

VXQIRApiS::VXQIRApiS() : VXQIRApiS(&ReachabilityCache::wallClockSeconds, &is_available)
{ }

VXQIRApiS::VXQIRApiS(ReachabilityCache::Clock clock, ReachabilityCache::Probe probe)
    : reachability_(std::move(clock), std::move(probe))
    , wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    socket_init();
    // The listener starts with every signal blocked: a signal meant for the
    // program (Ctrl-C during a reachability probe, for one) goes to the
    // program's threads, where it can interrupt what they wait for.
    sigset_t all;
    sigfillset(&all);
    sigset_t previous;
    const bool masked = ::pthread_sigmask(SIG_SETMASK, &all, &previous) == 0;
    try {
        receive_thread_ = std::thread([this] { listen(); });
    } catch (...) {
        if (masked)
            ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    if (masked)
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

VXQIRApiS::~VXQIRApiS()
{
    stopped_.store(true, std::memory_order_seq_cst);
    if (receive_thread_.joinable())
        receive_thread_.join();
    std::scoped_lock lock(interfaceMutex_, channelMutex_);
    outputChannel_.clear();
    socket_cleanup();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    // The interfaces are destroyed with the members: each releases its
    // channels, which say goodbye to their units, and closes its socket.
}

// Validation -----------------------------------------------------------------

bool VXQIRApiS::isValidConfig(const VXTQirInputInterfaceT& inputInterface)
{
    return inputInterface.controlIP != nullptr && inputInterface.dataIP != nullptr &&
        is_valid_ipv4(inputInterface.controlIP) && is_valid_ipv4(inputInterface.dataIP) &&
        (inputInterface.localIP == nullptr || is_valid_ipv4(inputInterface.localIP));
}

bool VXQIRApiS::isValidChannelHandle(VXTQirChannelHandle handle) const
{
    std::lock_guard lock(channelMutex_);
    return outputChannel_.contains(handle);
}

bool VXQIRApiS::isChannelAlreadyRegisteredLocked(const VXTQirInputInterfaceT& inputInterface,
                                                 VXTQirChannelNumber channelIndex) const
{
    for (const auto& [handle, channel] : outputChannel_) {
        if (channel->isSameChannel(inputInterface, channelIndex))
            return true;
    }
    return false;
}

VXQIRApiS::Lookup VXQIRApiS::getChannelState(VXTQirChannelHandle handle) const
{
    std::lock_guard lock(channelMutex_);
    const auto found = outputChannel_.find(handle);
    if (found == outputChannel_.end())
        return { InvalidChannelHandle, nullptr };
    return { NoError, found->second };
}

// Registration ---------------------------------------------------------------

InterfaceCommunication& VXQIRApiS::addOrGetInterface(const VXTQirInputInterfaceT& inputInterface)
{
    for (InterfaceCommunication& existing : interfaces_) {
        if (existing.equals(inputInterface))
            return existing;
    }
    // A throwing constructor ("Bind failed") leaves the list unchanged.
    InterfaceCommunication& created = interfaces_.emplace_front(inputInterface);
    wakeListener(); // serve the new socket from the first reply on
    return created;
}

VXTQirError VXQIRApiS::registerOutputChannel(const VXTQirInputInterfaceT* inputInterface,
                                             VXTQirChannelNumber channelIndex, VXTQirChannelHandle* channelHandle)
{
    if (!isValidPointer(inputInterface))
        return InvalidPointer;
    // A payload below 8 bytes cannot cut a block into several datagrams.
    if (!isValidConfig(*inputInterface) || inputInterface->maxPayloadSize < MIN_PAYLOAD_SIZE)
        return InvalidInterfaceConfig;
    if (!isValidPointer(channelHandle))
        return InvalidPointer;
    // Replies and status messages name the channel in one byte: a channel
    // above 255 could be configured (as its low byte) but never answered.
    if (channelIndex < 0 || channelIndex > MAX_CHANNEL_INDEX)
        return InvalidChannelIndex;

    // The duplicate check and the insertion form one step: registrations and
    // unregistrations all run under interfaceMutex_.
    std::lock_guard interfaceLock(interfaceMutex_);
    {
        std::lock_guard channelLock(channelMutex_);
        if (isChannelAlreadyRegisteredLocked(*inputInterface, channelIndex))
            return ChannelAlreadyRegistered;
        if (next_channel_handle_ == std::numeric_limits<VXTQirChannelHandle>::max())
            return InternalError; // handles are never reused; this process has used them all
    }

    ChannelStatePtr channel;
    try {
        channel = addOrGetInterface(*inputInterface).createChannel(*inputInterface, channelIndex);
    } catch (const DataSocketUnavailable&) {
        removeEmptyInterfaces();
        return DataSocketError;
    } catch (const std::runtime_error&) {
        removeEmptyInterfaces();
        return ControlSocketError;
    } catch (...) {
        removeEmptyInterfaces();
        throw;
    }

    std::lock_guard channelLock(channelMutex_);
    outputChannel_.emplace(next_channel_handle_, std::move(channel));
    *channelHandle = next_channel_handle_++;
    return NoError;
}

VXTQirError VXQIRApiS::unregisterOutputChannel(VXTQirChannelHandle handle)
{
    ChannelStatePtr channel;
    bool endpointRemoved = false;
    uint64_t pass = 0;
    {
        std::lock_guard interfaceLock(interfaceMutex_);
        {
            std::lock_guard channelLock(channelMutex_);
            const auto found = outputChannel_.find(handle);
            if (found == outputChannel_.end())
                return InvalidChannelHandle;
            channel = std::move(found->second);
            outputChannel_.erase(found);
        }
        // A call still waiting on the channel sends nothing more.
        channel->release();
        endpointRemoved = deleteChannelFromInterface(channel->getChannelKey());
        pass = listenerPasses_.load(std::memory_order_acquire);
    }
    // Dropping the last reference here, outside the locks, destroys the
    // channel; a call still running on it keeps it alive until it returns.
    channel.reset();
    // A socket closed while the listener waits on it stays bound until that
    // wait ends; let it end, so that the endpoint can be bound again at once.
    if (endpointRemoved)
        waitForListenerPassAfter(pass);
    return NoError;
}

bool VXQIRApiS::deleteChannelFromInterface(const ChannelKey& key)
{
    for (InterfaceCommunication& existing : interfaces_)
        existing.removeChannel(key);
    return removeEmptyInterfaces();
}

bool VXQIRApiS::removeEmptyInterfaces()
{
    return interfaces_.remove_if([](const InterfaceCommunication& i) { return i.getChannelCount() == 0; }) > 0;
}

void VXQIRApiS::wakeListener() const
{
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof(one));
    }
}

void VXQIRApiS::waitForListenerPassAfter(uint64_t pass)
{
    wakeListener();
    for (uint64_t seen = listenerPasses_.load(std::memory_order_acquire); seen <= pass;
         seen = listenerPasses_.load(std::memory_order_acquire))
        listenerPasses_.wait(seen, std::memory_order_acquire);
}

// Per-channel operations -----------------------------------------------------

VXTQirError VXQIRApiS::initOutputChannel(VXTQirChannelHandle handle, uint16_t width, uint16_t height) const
{
    const Lookup lookup = getChannelState(handle);
    return lookup.channel ? lookup.channel->initReplay(width, height) : lookup.error;
}

VXTQirError VXQIRApiS::isOutputChannelAvailable(VXTQirChannelHandle handle) const
{
    const Lookup lookup = getChannelState(handle);
    return lookup.channel ? lookup.channel->isAvailable() : lookup.error;
}

VXTQirError VXQIRApiS::setReplayStartTime(VXTQirChannelHandle handle, uint64_t StartTime, uint64_t Offset,
                                          uint64_t StopTime) const
{
    const Lookup lookup = getChannelState(handle);
    if (!lookup.channel)
        return lookup.error;
    VXTQirError result = lookup.channel->sendStartTime(StartTime);
    if (result != NoError)
        return result;
    if (Offset != 0) {
        result = lookup.channel->sendOffsetTime(Offset);
        if (result != NoError)
            return result;
    }
    if (StopTime != 0) {
        if (StartTime > StopTime)
            return InvalidTiming;
        return lookup.channel->sendStopTime(StopTime);
    }
    return NoError;
}

VXTQirError VXQIRApiS::setReplayOffset(VXTQirChannelHandle handle, uint64_t Offset) const
{
    const Lookup lookup = getChannelState(handle);
    return lookup.channel ? lookup.channel->sendOffsetTime(Offset) : lookup.error;
}

VXTQirError VXQIRApiS::setReplayStopTime(VXTQirChannelHandle handle, uint64_t StopTime) const
{
    const Lookup lookup = getChannelState(handle);
    return lookup.channel ? lookup.channel->sendStopTime(StopTime) : lookup.error;
}

VXTQirError VXQIRApiS::getCurrentState(VXTQirChannelHandle handle, VXTQirStatusT* Status) const
{
    if (!isValidChannelHandle(handle))
        return InvalidChannelHandle;
    if (!isValidPointer(Status))
        return InvalidPointer;
    const Lookup lookup = getChannelState(handle);
    return lookup.channel ? lookup.channel->getCurrentState(*Status) : lookup.error;
}

VXTQirError VXQIRApiS::getReplayStartTime(VXTQirChannelHandle handle, uint64_t* StartTime, uint64_t* Offset,
                                          uint64_t* StopTime) const
{
    if (!isValidChannelHandle(handle))
        return InvalidChannelHandle;
    if (!isValidPointer(StartTime))
        return InvalidPointer;
    const Lookup lookup = getChannelState(handle);
    if (!lookup.channel)
        return lookup.error;
    VXTQirError result = lookup.channel->getStartTime(*StartTime);
    if (result != NoError)
        return result;
    if (Offset != nullptr) {
        result = lookup.channel->getOffset(*Offset);
        if (result != NoError)
            return result;
    }
    if (StopTime != nullptr)
        return lookup.channel->getStopTime(*StopTime);
    return NoError;
}

VXTQirError VXQIRApiS::getReplayOffset(VXTQirChannelHandle handle, uint64_t* Offset) const
{
    if (!isValidChannelHandle(handle))
        return InvalidChannelHandle;
    if (!isValidPointer(Offset))
        return InvalidPointer;
    const Lookup lookup = getChannelState(handle);
    return lookup.channel ? lookup.channel->getOffset(*Offset) : lookup.error;
}

VXTQirError VXQIRApiS::getReplayStopTime(VXTQirChannelHandle handle, uint64_t* StopTime) const
{
    if (!isValidChannelHandle(handle))
        return InvalidChannelHandle;
    if (!isValidPointer(StopTime))
        return InvalidPointer;
    const Lookup lookup = getChannelState(handle);
    return lookup.channel ? lookup.channel->getStopTime(*StopTime) : lookup.error;
}

VXTQirError VXQIRApiS::getFrameSize(VXTQirChannelHandle handle, uint16_t* width, uint16_t* height) const
{
    if (!isValidChannelHandle(handle))
        return InvalidChannelHandle;
    if (!isValidPointer(width) || !isValidPointer(height))
        return InvalidPointer;
    const Lookup lookup = getChannelState(handle);
    return lookup.channel ? lookup.channel->getFrameSize(*width, *height) : lookup.error;
}

VXTQirError VXQIRApiS::replayStreamData(VXTQirChannelHandle handle, const VXTQirPacketPropertiesT* packetProperties,
                                        const uint8_t* buffer, uint16_t bufferSize) const
{
    // One lookup serves the handle check and the fetch: the data path takes
    // channelMutex_ once per block.
    const Lookup lookup = getChannelState(handle);
    if (!lookup.channel)
        return lookup.error;
    if (!isValidPointer(buffer) || !isValidPointer(packetProperties))
        return InvalidPointer;

    ReplaySensorMessageHeader header{};
    header.frameNumber = packetProperties->frameNumber;
    header.lineNumber = packetProperties->lineNumber;
    header.version = QIR_PROTOCOL_VERSION;
    header.streamID = packetProperties->streamID;
    header.timestamp = packetProperties->timestamp;
    return lookup.channel->sendReplayData(header, buffer, bufferSize);
}

VXTQirError VXQIRApiS::replayStreamBlocks(VXTQirChannelHandle handle, std::span<const ReplayBlock> blocks,
                                          size_t* blocksSent) const
{
    return replayStreamBlocks(handle, blocks.data(), blocks.size(), blocksSent);
}

VXTQirError VXQIRApiS::replayStreamBlocks(VXTQirChannelHandle handle, const ReplayBlock* blocks, size_t count,
                                          size_t* blocksSent) const
{
    const Lookup lookup = getChannelState(handle);
    if (!lookup.channel)
        return lookup.error;
    if (!isValidPointer(blocksSent) || (count > 0 && !isValidPointer(blocks)))
        return InvalidPointer;
    *blocksSent = 0;
    if (count == 0)
        return NoError;
    const std::span<const ReplayBlock> run(blocks, count);
    for (const ReplayBlock& block : run)
        if (!isValidPointer(block.payload))
            return InvalidPointer;
    return lookup.channel->sendReplayBlocks(run, *blocksSent);
}

VXTQirError VXQIRApiS::getChannelProgress(VXTQirChannelHandle handle, VXTQirChannelProgressT* progress) const
{
    const Lookup lookup = getChannelState(handle);
    if (!lookup.channel)
        return lookup.error;
    if (!isValidPointer(progress))
        return InvalidPointer;
    *progress = lookup.channel->progress(std::chrono::steady_clock::now());
    return NoError;
}

VXTQirError VXQIRApiS::getChannelProgressAt(const char* controlIP, uint16_t controlPort,
                                            VXTQirChannelNumber channelIndex, VXTQirChannelProgressT* progress) const
{
    if (!isValidPointer(controlIP) || !isValidPointer(progress))
        return InvalidPointer;
    in_addr address{};
    // Not an address: no channel can be registered under it.
    if (::inet_pton(AF_INET, controlIP, &address) != 1)
        return ChannelNotAvailable;
    ChannelStatePtr found;
    {
        std::lock_guard lock(channelMutex_);
        for (const auto& [handle, channel] : outputChannel_) {
            if (channel->isChannelAt(address, htons(controlPort), channelIndex)) {
                found = channel;
                break;
            }
        }
    }
    if (!found)
        return ChannelNotAvailable;
    *progress = found->progress(std::chrono::steady_clock::now());
    return NoError;
}

VXTQirError VXQIRApiS::resetChannel(VXTQirChannelHandle handle)
{
    const Lookup lookup = getChannelState(handle);
    return lookup.channel ? lookup.channel->resetChannel() : lookup.error;
}

VXTQirError VXQIRApiS::clearStatusFlags(VXTQirChannelHandle handle)
{
    const Lookup lookup = getChannelState(handle);
    return lookup.channel ? lookup.channel->clearStatusFlags() : lookup.error;
}

// Reachability -------------------------------------------------------------

bool VXQIRApiS::checkAndInsertIP(const char* ip)
{
    return reachability_.checkAndInsertIP(ip);
}

VXTQirError VXQIRApiS::isInputInterfaceAvailable(const VXTQirInputInterfaceT* inputInterface)
{
    if (!isValidPointer(inputInterface))
        return InvalidPointer;
    if (!isValidConfig(*inputInterface))
        return InvalidInterfaceConfig;
    if (!checkAndInsertIP(inputInterface->controlIP))
        return ControlInterfaceNotAvailable;
    if (!checkAndInsertIP(inputInterface->dataIP))
        return DataInterfaceNotAvailable;
    return NoError;
}

// Diagnostics ----------------------------------------------------------------

size_t VXQIRApiS::interfaceCount() const
{
    std::lock_guard lock(interfaceMutex_);
    return static_cast<size_t>(std::distance(interfaces_.begin(), interfaces_.end()));
}

uint16_t VXQIRApiS::boundControlPort(const VXTQirInputInterfaceT& inputInterface) const
{
    std::lock_guard lock(interfaceMutex_);
    for (const InterfaceCommunication& existing : interfaces_) {
        if (existing.equals(inputInterface))
            return existing.boundPort();
    }
    return 0;
}

// Listener -------------------------------------------------------------------

void VXQIRApiS::listen()
{
    ::pthread_setname_np(::pthread_self(), LISTENER_THREAD_NAME);
    std::vector<pollfd> fds;
    while (!stopped_.load(std::memory_order_seq_cst)) {
        fds.clear();
        fds.push_back(pollfd{ wakeFd_, POLLIN, 0 }); // a negative descriptor is ignored by poll
        {
            std::lock_guard lock(interfaceMutex_);
            for (const InterfaceCommunication& existing : interfaces_)
                existing.setFD(fds);
            listenerPasses_.fetch_add(1, std::memory_order_release);
        }
        listenerPasses_.notify_all();
        // poll rather than select: descriptors above FD_SETSIZE are common
        // in large host processes and must not overflow a descriptor set.
        const int ready = ::poll(fds.data(), fds.size(), LISTEN_TIMEOUT_MS);
        if (ready <= 0)
            continue;
        if (fds.front().revents != 0) {
            uint64_t wakes = 0;
            [[maybe_unused]] const ssize_t drained = ::read(wakeFd_, &wakes, sizeof(wakes));
        }
        std::lock_guard lock(interfaceMutex_);
        for (InterfaceCommunication& existing : interfaces_)
            existing.checkAndProcess(fds);
    }
}

} // namespace vxqir
