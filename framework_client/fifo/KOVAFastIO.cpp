// Ring set-up, list order and statistics of the sample FIFO.
#include "fifo/KOVAFastIO.h"

#include <thread>

void KOVAFastIO::SetElements(std::span<KOVAIOElt* const> elements)
{
    const Lock lock(mutex_);
    nodes_.assign(elements.size(), KOVAFastIOElt{});
    for (size_t i = 0; i < elements.size(); ++i)
        nodes_[i].element = elements[i];
    LinkAll();
    pendingWriters_ = writers_;
}

void KOVAFastIO::ClearElements()
{
    const Lock lock(mutex_);
    nodes_.clear();
    head_ = tail_ = nullptr;
}

size_t KOVAFastIO::Size() const
{
    const Lock lock(mutex_);
    return nodes_.size();
}

void KOVAFastIO::LinkAll()
{
    head_ = tail_ = nullptr;
    for (auto& node : nodes_) {
        node.newer = nullptr;
        node.older = head_;
        if (head_)
            head_->newer = &node;
        else
            tail_ = &node;
        head_ = &node;
    }
}

KOVAFastIOElt* KOVAFastIO::FindNode(const KOVAIOElt* element)
{
    for (auto& node : nodes_) {
        if (node.element == element)
            return &node;
    }
    return nullptr;
}

void KOVAFastIO::MoveToHead(KOVAFastIOElt* node)
{
    if (node == head_)
        return;
    // Unlink (node is not the head, so it has a newer neighbour).
    node->newer->older = node->older;
    if (node->older)
        node->older->newer = node->newer;
    else
        tail_ = node->newer;
    node->newer = nullptr;
    node->older = head_;
    head_->newer = node;
    head_ = node;
}

uint64_t KOVAFastIO::PublishedCount() const
{
    const Lock lock(mutex_);
    return publications_;
}

uint64_t KOVAFastIO::OverflowCount() const
{
    const Lock lock(mutex_);
    return overflows_;
}

void KOVAFastIO::SpinBeforeWait(Lock& lock, const std::atomic<uint64_t>& signal, uint64_t seen,
                                const KOVAStopToken& stop)
{
    constexpr int kSpins = 200;
    lock.unlock();
    for (int i = 0; i < kSpins; ++i) {
        // Acquire pairs with the release store made under the mutex; the
        // caller re-checks everything under the mutex anyway.
        if (signal.load(std::memory_order_acquire) != seen || stop.StopRequested())
            break;
        std::this_thread::yield();
    }
    lock.lock();
}
