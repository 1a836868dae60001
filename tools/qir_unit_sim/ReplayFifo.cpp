#include "ReplayFifo.h"

#include <algorithm>
#include <stdexcept>

namespace vxqir::sim {

ReplayFifo::ReplayFifo(uint32_t capacity, std::unique_ptr<PlayoutModel> model)
    : capacity_(capacity)
    , model_(std::move(model))
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
        const FifoEntry left = entries_.front();
        entries_.pop_front();
        leave(left, !decision.skipped, decision);
    }
}

bool ReplayFifo::push(const FifoEntry& entry)
{
    advance(entry.arrivalNs);
    if (entries_.size() >= capacity_) {
        ++counters_.overflows;
        if (entry.frameSerial != 0)
            frames_[entry.frameSerial].lost = true;
        return false;
    }
    if (entry.frameSerial != 0)
        ++frames_[entry.frameSerial].queued;
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
    std::deque<FifoEntry> dropped;
    dropped.swap(entries_);
    for (const FifoEntry& entry : dropped)
        leave(entry, false, PlayoutDecision{});
    haveFirst_ = false;
    firstArrivalNs_ = 0;
    firstTimestampNs_ = 0;
}

} // namespace vxqir::sim

namespace vxqir::sim {

void ReplayFifo::leave(const FifoEntry& entry, bool played, const PlayoutDecision& decision)
{
    if (entry.frameSerial == 0)
        return;
    const auto found = frames_.find(entry.frameSerial);
    if (found == frames_.end())
        return;
    FrameTally& tally = found->second;
    --tally.queued;
    if (played) {
        ++tally.played;
        tally.playedAtNs = std::max(tally.playedAtNs, decision.dueNs);
        if (decision.intendedNs != 0) {
            tally.timed = true;
            if (decision.dueNs > decision.intendedNs)
                tally.lateNs = std::max(tally.lateNs, decision.dueNs - decision.intendedNs);
        }
    } else {
        tally.lost = true;
    }
    settle(entry.frameSerial);
}

void ReplayFifo::sealFrame(uint64_t serial, uint16_t lines)
{
    FrameTally& tally = frames_[serial];
    tally.sealed = true;
    tally.lines = lines;
    ++sealedWaiting_;
    settle(serial);
}

void ReplayFifo::forgetFrame(uint64_t serial)
{
    const auto found = frames_.find(serial);
    if (found == frames_.end())
        return;
    found->second.forgotten = true;
    settle(serial);
}

void ReplayFifo::settle(uint64_t serial)
{
    const auto found = frames_.find(serial);
    const FrameTally& tally = found->second;
    if (tally.queued != 0)
        return;
    if (tally.sealed) {
        --sealedWaiting_;
        const bool played = !tally.lost && tally.played >= tally.lines;
        ++(played ? counters_.framesPlayed : counters_.framesNotPlayed);
        if (played)
            notePlayed(tally);
    } else if (!tally.forgotten) {
        return; // the frame is still arriving
    }
    frames_.erase(found);
}

} // namespace vxqir::sim

namespace vxqir::sim {

void ReplayFifo::notePlayed(const FrameTally& tally)
{
    if (counters_.firstFramePlayedNs == 0)
        counters_.firstFramePlayedNs = tally.playedAtNs;
    counters_.lastFramePlayedNs = std::max(counters_.lastFramePlayedNs, tally.playedAtNs);
    if (!tally.timed)
        return;
    ++counters_.framesTimed;
    counters_.lateSumNs += tally.lateNs;
    counters_.lateMaxNs = std::max(counters_.lateMaxNs, tally.lateNs);
    if (tally.lateNs > 1'000'000)
        ++counters_.framesLateOver1ms;
}

} // namespace vxqir::sim
