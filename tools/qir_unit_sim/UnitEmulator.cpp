#include "UnitEmulator.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <stdexcept>

namespace vxqir::sim {
namespace {

constexpr unsigned MAX_CHANNELS = 256;
constexpr unsigned MAX_AUTO_RECEIVE_THREADS = 4;

/// A bind that failed because another socket has the port (or, below
/// 1024, because it needs privileges): a preferred port gives way then.
bool isPortTaken(int error)
{
    return error == EADDRINUSE || error == EACCES;
}

EmulatorConfig validated(EmulatorConfig c)
{
    auto refuse = [](const std::string& what) { throw std::invalid_argument(what); };
    if (c.channels == 0 || c.channels > MAX_CHANNELS)
        refuse("channels: " + std::to_string(c.channels) + " is out of range (1 to 256; the channel byte is 8 bits)");
    if (!Ipv4Endpoint::parse(c.controlIp, 0))
        refuse("control address '" + c.controlIp + "' is not a dotted-decimal IPv4 address");
    if (!Ipv4Endpoint::parse(c.dataIp, 0))
        refuse("data address '" + c.dataIp + "' is not a dotted-decimal IPv4 address");
    if (c.channel.fifoEntries == 0)
        refuse("fifo entries: must be at least 1");
    if (c.statusPeriod.count() <= 0)
        refuse("status period: must be at least 1 ms, got " + std::to_string(c.statusPeriod.count()));
    if (c.channel.playout.kind == PlayoutKind::LineRate && !(c.channel.playout.linesPerSecond > 0.0))
        refuse("line rate: the line-rate playout needs a positive number of lines per second");
    if (!(c.replyFaults.dropShare >= 0.0 && c.replyFaults.dropShare <= 1.0))
        refuse("reply drop share: must lie between 0 and 1");
    if (c.replyFaults.delay.count() < 0)
        refuse("reply delay: must not be negative");
    if (c.statusDelay.count() < 0)
        refuse("status delay: must not be negative");
    if (c.socketReceiveBuffer <= 0)
        refuse("socket receive buffer: must be positive");
    for (unsigned ch : c.unavailableChannels) {
        if (ch >= c.channels)
            refuse("unavailable channel " + std::to_string(ch) + " is not served (channels 0.." +
                   std::to_string(c.channels - 1) + ")");
    }
    return c;
}

} // namespace

UnitEmulator::UnitEmulator(EmulatorConfig config)
    : config_(validated(std::move(config)))
    , clock_(config_.clock ? config_.clock : std::make_shared<const SystemUnitClock>())
    , replyFaults_(config_.replyFaults)
    , checksums_(config_.checksumBacklogFrames, config_.checksumEveryFrame)
{
    channels_.reserve(config_.channels);
    for (unsigned c = 0; c < config_.channels; ++c) {
        channels_.push_back(std::make_unique<EmulatedChannel>(static_cast<uint8_t>(c), config_.channel, *clock_,
                                                              checksums_.frameBuffers()));
        if (config_.statusStopped)
            channels_.back()->setStatusSuppressed(true);
        if (config_.fifoFrozen)
            channels_.back()->freezeFifo();
    }
    for (unsigned c : config_.unavailableChannels)
        channels_[c]->setAvailable(false);
}

UnitEmulator::~UnitEmulator()
{
    stop();
}

void UnitEmulator::addFrameObserver(FrameObserver observer)
{
    checksums_.addObserver(std::move(observer));
}

void UnitEmulator::addDigestObserver(DigestObserver observer)
{
    checksums_.addDigestObserver(std::move(observer));
}

void UnitEmulator::start()
{
    std::lock_guard lock(lifecycleMutex_);
    if (started_)
        throw std::logic_error("the emulator was already started");

    const auto controlEndpoint = Ipv4Endpoint::parse(config_.controlIp, config_.controlPort);
    try {
        controlSocket_ = UdpSocket::bound(*controlEndpoint);
    } catch (const SocketSetupError& e) {
        if (!config_.controlPortPreferred || config_.controlPort == 0 || !isPortTaken(e.error()))
            throw;
        controlSocket_ = UdpSocket::bound(*Ipv4Endpoint::parse(config_.controlIp, 0));
        controlPortReplaced_ = true;
    }
    controlPort_ = controlSocket_.localPort();

    std::mt19937_64 random(config_.seed ^ 0x9e3779b97f4a7c15ull ^ std::random_device{}());
    try {
        dataPorts_ = bindDataPorts(config_.dataIp, config_.dataBasePort, config_.channels, random);
    } catch (const SocketSetupError& e) {
        if (!config_.dataPortsPreferred || config_.dataBasePort == 0 || !isPortTaken(e.error()))
            throw;
        dataPorts_ = bindDataPorts(config_.dataIp, 0, config_.channels, random);
        dataPortsReplaced_ = true;
    }
    for (UdpSocket& s : dataPorts_.sockets)
        receiveBufferBytes_ = s.setReceiveBuffer(config_.socketReceiveBuffer);

    const unsigned threads = config_.receiveThreads != 0 ? std::min(config_.receiveThreads, config_.channels)
                                                         : std::min(config_.channels, MAX_AUTO_RECEIVE_THREADS);
    for (unsigned t = 0; t < threads; ++t)
        receivers_.push_back(std::make_unique<ReceiveWorker>(checksums_, progress_, config_.capture.get()));
    for (unsigned c = 0; c < config_.channels; ++c)
        receivers_[c % threads]->addChannel(dataPorts_.sockets[c].fd(), *channels_[c]);

    auto inArrivalOrder = [this, threads](unsigned index, const std::function<void()>& apply) {
        receivers_[index % threads]->drainThen(*channels_[index], apply);
    };
    control_ =
        std::make_unique<ControlLoop>(controlSocket_, channels_, replyFaults_, config_.statusPeriod, config_.seed,
                                      progress_, config_.statusDelay, inArrivalOrder, config_.capture.get());
    checksums_.start();
    for (auto& r : receivers_)
        r->start();
    control_->start();
    started_ = true;
}

void UnitEmulator::stop()
{
    std::lock_guard lock(lifecycleMutex_);
    if (!started_ || stopped_)
        return;
    stopped_ = true;
    control_->stop();
    for (auto& r : receivers_)
        r->stop();
    for (auto& c : channels_)
        c->finishRun();
    checksums_.drain();
}

EmulatorSnapshot UnitEmulator::snapshot() const
{
    return takeSnapshot(true);
}

EmulatorSnapshot UnitEmulator::counters() const
{
    return takeSnapshot(false);
}

EmulatorSnapshot UnitEmulator::takeSnapshot(bool withChecksums) const
{
    EmulatorSnapshot s;
    if (control_)
        s.control = control_->snapshot();
    s.channels.reserve(channels_.size());
    for (const auto& c : channels_) {
        ChannelSnapshot cs = c->snapshot();
        const ChecksumResult r = withChecksums ? checksums_.result(c->index()) : checksums_.counts(c->index());
        cs.framesChecksummed = r.framesChecksummed;
        cs.framesNotChecksummed = r.framesNotChecksummed;
        cs.lastChecksum = r.lastChecksum;
        cs.lastChecksumFrameNumber = r.lastFrameNumber;
        cs.lastDigest = r.lastDigest;
        s.channels.push_back(cs);
    }
    return s;
}

bool UnitEmulator::waitUntil(const std::function<bool(const EmulatorSnapshot&)>& predicate,
                             std::chrono::milliseconds timeout)
{
    return progress_.waitUntil([&] { return predicate(snapshot()); }, timeout);
}

void UnitEmulator::drainChecksums()
{
    uint64_t complete = 0;
    for (const auto& c : channels_)
        complete += c->snapshot().frames.framesComplete;
    checksums_.drainUntil(complete);
}

void UnitEmulator::setReplyDropShare(double share)
{
    if (!(share >= 0.0 && share <= 1.0))
        throw std::invalid_argument("reply drop share: must lie between 0 and 1");
    replyFaults_.setDropShare(share);
}

void UnitEmulator::setReplyDelay(std::chrono::milliseconds delay)
{
    if (delay.count() < 0)
        throw std::invalid_argument("reply delay: must not be negative");
    replyFaults_.setDelay(delay);
}

void UnitEmulator::setWrongResponseType(bool on)
{
    replyFaults_.setWrongResponseType(on);
}

void UnitEmulator::setStatusStopped(bool stopped)
{
    for (auto& c : channels_)
        c->setStatusSuppressed(stopped);
}

void UnitEmulator::setStatusStopped(unsigned index, bool stopped)
{
    channel(index).setStatusSuppressed(stopped);
}

void UnitEmulator::setChannelAvailable(unsigned index, bool available)
{
    channel(index).setAvailable(available);
}

void UnitEmulator::freezeFifo(unsigned index)
{
    channel(index).freezeFifo();
}

void UnitEmulator::releaseFifo(unsigned index)
{
    channel(index).releaseFifo();
}

void UnitEmulator::freezeAllFifos()
{
    for (auto& c : channels_)
        c->freezeFifo();
}

void UnitEmulator::releaseAllFifos()
{
    for (auto& c : channels_)
        c->releaseFifo();
}

EmulatedChannel& UnitEmulator::channel(unsigned index) const
{
    if (index >= channels_.size())
        throw std::out_of_range("channel " + std::to_string(index) + " is not served (channels 0.." +
                                std::to_string(channels_.size() - 1) + ")");
    return *channels_[index];
}

} // namespace vxqir::sim
