#include "ReceiveWorker.h"

#include <cerrno>
#include <pthread.h>
#include <cstdio>
#include <cstring>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace vxqir::sim {
namespace {

// Datagrams per recvmmsg call, and the slot size: the largest UDP datagram
// fits, so nothing that the loopback interface delivers is ever cut.
constexpr size_t BATCH_SLOTS = 64;
constexpr size_t SLOT_BYTES = 65536;
// Batches taken from one socket before the others get their turn.
constexpr int BATCHES_PER_TURN = 8;
// Batches taken from one socket after the stop: 262144 datagrams, more
// than a full default socket buffer holds even of small datagrams.
constexpr int FINAL_DRAIN_BATCHES = 4096;
constexpr uint64_t WAKE_TAG = UINT64_MAX;
constexpr int RECEIVE_NICE = -10;

} // namespace

ReceiveWorker::ReceiveWorker(ChecksumWorker& checksums, ProgressNotifier& progress, PacketCapture* capture)
    : checksums_(checksums)
    , progress_(progress)
    , capture_(capture)
    , epollFd_(::epoll_create1(EPOLL_CLOEXEC))
    , batch_(BATCH_SLOTS, SLOT_BYTES)
{
    if (epollFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot create an epoll instance");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = WAKE_TAG;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wake_.fd(), &ev) != 0) {
        const int error = errno;
        ::close(epollFd_);
        throw std::system_error(error, std::generic_category(), "cannot watch the wake-up eventfd");
    }
    received_.reserve(BATCH_SLOTS * DatagramBatch::MAX_SEGMENTS_PER_MESSAGE);
}

ReceiveWorker::~ReceiveWorker()
{
    stop();
    ::close(epollFd_);
}

void ReceiveWorker::addChannel(int socketFd, EmulatedChannel& channel)
{
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = sources_.size();
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, socketFd, &ev) != 0)
        throw std::system_error(errno, std::generic_category(),
                                "cannot watch the data socket of channel " + std::to_string(channel.index()));
    // Joined datagrams are split again on receipt; a kernel without receive
    // offload delivers them one by one, which is slower but the same.
    (void)DatagramBatch::enableReceiveOffload(socketFd);
    sources_.push_back({ socketFd, &channel, Ipv4Endpoint::ofSocket(socketFd) });
}

void ReceiveWorker::start()
{
    thread_ = std::thread([this] { run(); });
}

void ReceiveWorker::stop()
{
    stopping_.store(true, std::memory_order_release);
    wake_.signal();
    if (thread_.joinable())
        thread_.join();
}

void ReceiveWorker::run()
{
    pthread_setname_np(pthread_self(), "qir-receive");
    // A receive thread that waits for a core while the sender goes on loses
    // datagrams once the socket buffer is full (about 60 ms of 9 KB
    // datagrams at full loopback speed). Ask for a larger share of the CPU;
    // without the privilege for it the thread simply keeps the default.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), RECEIVE_NICE);
    epoll_event events[16];
    while (!stopping_.load(std::memory_order_acquire)) {
        const int n = ::epoll_wait(epollFd_, events, 16, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "qir-unit-sim: waiting for sensor data failed: %s\n", std::strerror(errno));
            return;
        }
        for (int i = 0; i < n; ++i) {
            if (events[i].data.u64 == WAKE_TAG)
                continue;
            std::lock_guard lock(receiveMutex_);
            drainSource(sources_[events[i].data.u64], BATCHES_PER_TURN);
        }
    }
    // What a sender handed to the kernel before the stop is still verified:
    // a script that stops the unit right after its sender finished must see
    // every datagram. The bound keeps a sender that never stops from holding
    // the stop up.
    std::lock_guard lock(receiveMutex_);
    for (const Source& source : sources_)
        drainSource(source, FINAL_DRAIN_BATCHES);
}

void ReceiveWorker::drainThen(const EmulatedChannel& channel, const std::function<void()>& apply)
{
    std::lock_guard lock(receiveMutex_);
    for (const Source& source : sources_) {
        if (source.channel == &channel)
            drainSource(source, FINAL_DRAIN_BATCHES);
    }
    apply();
}

void ReceiveWorker::drainSource(const Source& source, int maxBatches)
{
    for (int turn = 0; turn < maxBatches; ++turn) {
        const int n = batch_.receive(source.fd);
        if (n <= 0)
            return;
        received_.clear();
        for (size_t i = 0; i < batch_.datagramCount(); ++i) {
            received_.push_back(batch_.datagram(i));
            if (capture_ != nullptr)
                capture_->record(batch_.sender(i), source.local, received_.back().bytes, received_.back().length);
        }
        source.channel->receive(received_, completed_);
        checksums_.submit(completed_);
        progress_.notify();
        if (static_cast<size_t>(n) < batch_.capacity())
            return;
    }
}

} // namespace vxqir::sim
