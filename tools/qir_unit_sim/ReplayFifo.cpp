#include "ReplayFifo.h"

#include <algorithm>
#include <stdexcept>

namespace vxqir::sim {

ReplayFifo::ReplayFifo(uint32_t capacity, std::unique_ptr<PlayoutModel> model)
    : capacity_(capacity), model_(std::move(model))
{
    if (capacity_ == 0)
        throw std::invalid_argument("a replay FIFO needs at least one entry");
    if (!model_)
        throw std::invalid_argument("a replay FIFO needs a playout model");
}

void ReplayFifo::advance(uint64_t nowNs)
{
    if (frozen_)
        return;
    while (!entries_.empty()) {
        const PlayoutContext context{ playerFreeNs_, times_, firstArrivalNs_, firstTimestampNs_ };
        const PlayoutDecision decision = model_->schedule(entries_.front(), context);
        if (decision.dueNs > nowNs)
            return;
        playerFreeNs_ = decision.dueNs;
        ++(decision.skipped ? counters_.skipped : counters_.played);
        entries_.pop_front();
    }
}

bool ReplayFifo::push(const FifoEntry& entry)
{
    advance(entry.arrivalNs);
    if (entries_.size() >= capacity_) {
        ++counters_.overflows;
        return false;
    }
    if (!haveFirst_) {
        haveFirst_ = true;
        firstArrivalNs_ = entry.arrivalNs;
        firstTimestampNs_ = entry.timestampNs;
    }
    entries_.push_back(entry);
    ++counters_.pushed;
    counters_.maxFill = std::max(counters_.maxFill, used());
    advance(entry.arrivalNs);
    return true;
}

uint32_t ReplayFifo::freeEntries(uint64_t nowNs)
{
    advance(nowNs);
    return capacity_ - used();
}

void ReplayFifo::release(uint64_t nowNs)
{
    if (!frozen_)
        return;
    frozen_ = false;
    playerFreeNs_ = std::max(playerFreeNs_, nowNs);
    advance(nowNs);
}

void ReplayFifo::clear()
{
    counters_.skipped += entries_.size();
    entries_.clear();
    haveFirst_ = false;
    firstArrivalNs_ = 0;
    firstTimestampNs_ = 0;
}

} // namespace vxqir::sim
