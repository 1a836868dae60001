#include "ControlLoop.h"

#include "StatusMessages.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <pthread.h>

namespace vxqir::sim {
namespace {

constexpr size_t CONTROL_SLOTS = 16;
// Larger than any valid request; a longer datagram is still recognised as
// too long because the receive reports its real length.
constexpr size_t CONTROL_SLOT_BYTES = 512;

} // namespace

ControlLoop::ControlLoop(const UdpSocket& socket, const Channels& channels, const ReplyFaultSettings& faults,
                         std::chrono::milliseconds statusPeriod, uint64_t seed, ProgressNotifier& progress,
                         std::chrono::milliseconds statusDelay, InArrivalOrder inArrivalOrder, PacketCapture* capture)
    : socket_(socket)
    , channels_(channels)
    , faults_(faults)
    , statusPeriod_(statusPeriod)
    , statusDelay_(statusDelay)
    , inArrivalOrder_(std::move(inArrivalOrder))
    , progress_(progress)
    , capture_(capture)
    , local_(Ipv4Endpoint::ofSocket(socket.fd()))
    , random_(seed)
    , batch_(CONTROL_SLOTS, CONTROL_SLOT_BYTES)
{ }

ControlLoop::~ControlLoop()
{
    stop();
}

void ControlLoop::start()
{
    thread_ = std::thread([this] { run(); });
}

void ControlLoop::stop()
{
    stopping_.store(true, std::memory_order_release);
    wake_.signal();
    if (thread_.joinable())
        thread_.join();
}

ControlSnapshot ControlLoop::snapshot() const
{
    std::lock_guard lock(countersMutex_);
    return counters_;
}

void ControlLoop::run()
{
    pthread_setname_np(pthread_self(), "qir-control");
    auto nextStatus = Clock::now() + statusPeriod_;
    while (!stopping_.load(std::memory_order_acquire)) {
        auto wakeAt = nextStatus;
        if (!delayed_.empty())
            wakeAt = std::min(wakeAt, delayed_.top().due);
        const auto wait = std::max(Clock::duration::zero(), wakeAt - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec timeout{ static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000) };
        pollfd fds[2] = { { socket_.fd(), POLLIN, 0 }, { wake_.fd(), POLLIN, 0 } };
        const int ready = ::ppoll(fds, 2, &timeout, nullptr);
        if (ready < 0 && errno != EINTR)
            break;
        if (stopping_.load(std::memory_order_acquire))
            break;
        if (ready > 0 && (fds[0].revents & POLLIN) != 0)
            serveRequests();

        const auto now = Clock::now();
        sendDueReplies(now);
        if (now >= nextStatus) {
            sendStatus();
            nextStatus += statusPeriod_;
            // After a stall, carry on from now instead of sending a burst.
            if (nextStatus <= now)
                nextStatus = now + statusPeriod_;
        }
    }
}

void ControlLoop::serveRequests()
{
    for (;;) {
        const int n = batch_.receive(socket_.fd());
        if (n <= 0)
            return;
        for (size_t i = 0; i < batch_.datagramCount(); ++i) {
            const ReceivedDatagram d = batch_.datagram(i);
            const ParsedRequest parsed = parseControlRequest(d.bytes, d.length);
            if (parsed.fault != RequestFault::None) {
                if (capture_ != nullptr)
                    capture_->record(batch_.sender(i), local_, d.bytes, d.length);
                std::lock_guard lock(countersMutex_);
                ++counters_.malformedRequests;
                ++counters_.malformedByReason[static_cast<size_t>(parsed.fault)];
                continue;
            }
            answer(parsed.request, batch_.sender(i), d);
        }
        progress_.notify();
        if (static_cast<size_t>(n) < batch_.capacity())
            return;
    }
}

void ControlLoop::answer(const ControlRequest& request, const Ipv4Endpoint& sender, const ReceivedDatagram& datagram)
{
    // Recorded once the data that arrived before it was taken, so that the
    // capture shows data and control in the order of their arrival.
    const auto record = [&] {
        if (capture_ != nullptr)
            capture_->record(sender, local_, datagram.bytes, datagram.length);
    };
    ReplayStatusMessage reply;
    const bool served = request.channel() < channels_.size();
    if (served && inArrivalOrder_) {
        // Datagrams that reached the data socket before this request belong
        // to the state before it (a DISABLE_CHANNEL right after the last
        // line, a new run's ENABLE_CHANNEL right after the old one ended).
        inArrivalOrder_(request.channel(), [&] {
            record();
            reply = channels_[request.channel()]->handleRequest(request, sender);
        });
    } else {
        record();
        reply = served ? channels_[request.channel()]->handleRequest(request, sender)
                       : makeReply(request.channel(), RESPONSE_CHANNEL_NOT_AVAILABLE, request.requestId());
    }

    const ReplyFaults faults = faults_.get();
    bool drop = false;
    if (faults.dropShare > 0.0)
        drop = std::uniform_real_distribution<double>(0.0, 1.0)(random_) < faults.dropShare;
    if (faults.wrongResponseType && !drop)
        reply.response_type = wrongResponseType(reply.response_type);
    {
        std::lock_guard lock(countersMutex_);
        ++counters_.requests;
        counters_.requestsForUnservedChannels += served ? 0 : 1;
        counters_.repliesDropped += drop ? 1 : 0;
        counters_.repliesWrongType += (faults.wrongResponseType && !drop) ? 1 : 0;
        counters_.repliesDelayed += (!drop && faults.delay.count() > 0) ? 1 : 0;
    }
    if (drop)
        return;
    if (faults.delay.count() > 0) {
        delayed_.push({ Clock::now() + faults.delay, nextOrder_++, reply, sender });
        return;
    }
    send(reply, sender, &ControlSnapshot::repliesSent);
}

void ControlLoop::sendDueReplies(Clock::time_point now)
{
    while (!delayed_.empty() && delayed_.top().due <= now) {
        const PendingReply pending = delayed_.top();
        delayed_.pop();
        send(pending.message, pending.destination,
             pending.periodicStatus ? &ControlSnapshot::statusMessagesSent : &ControlSnapshot::repliesSent);
    }
}

void ControlLoop::sendStatus()
{
    for (const auto& channel : channels_) {
        auto status = channel->periodicStatus();
        if (!status)
            continue;
        if (statusDelay_.count() > 0)
            delayed_.push({ Clock::now() + statusDelay_, nextOrder_++, status->message, status->destination, true });
        else
            send(status->message, status->destination, &ControlSnapshot::statusMessagesSent);
    }
}

void ControlLoop::send(const ReplayStatusMessage& message, const Ipv4Endpoint& to,
                       uint64_t ControlSnapshot::*sentCounter)
{
    // Counted before it leaves: whoever receives the datagram and then looks
    // at the counters must find it counted.
    {
        std::lock_guard lock(countersMutex_);
        ++(counters_.*sentCounter);
    }
    const auto bytes = wireBytes(message);
    if (socket_.sendTo(bytes, to) == 0) {
        if (capture_ != nullptr)
            capture_->record(local_, to, bytes, bytes.size());
        return;
    }
    std::lock_guard lock(countersMutex_);
    --(counters_.*sentCounter);
    ++counters_.sendErrors;
}

} // namespace vxqir::sim
