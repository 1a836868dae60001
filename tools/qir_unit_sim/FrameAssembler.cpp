#include "FrameAssembler.h"

#include <algorithm>

namespace vxqir::sim {

std::string_view incompleteReasonName(IncompleteReason reason)
{
    switch (reason) {
    case IncompleteReason::Interrupted:
        return "interrupted";
    case IncompleteReason::MissingLines:
        return "missing_lines";
    case IncompleteReason::PacketLoss:
        return "packet_loss";
    case IncompleteReason::LineError:
        return "line_error";
    case IncompleteReason::Oversized:
        return "oversized";
    case IncompleteReason::NoFrameSize:
        return "no_frame_size";
    case IncompleteReason::FifoOverflow:
        return "fifo_overflow";
    }
    return "unknown";
}

FrameAssembler::FrameAssembler(uint8_t channel, size_t maxFrameBytes, std::shared_ptr<FrameBufferPool> buffers)
    : channel_(channel)
    , maxFrameBytes_(maxFrameBytes)
    , buffers_(std::move(buffers))
{ }

void FrameAssembler::setGeometry(uint16_t width, uint16_t height)
{
    width_ = width;
    height_ = height;
}

void FrameAssembler::add(const SensorDatagram& datagram, bool afterGap, std::vector<CompletedFrame>& completed,
                         const BlockQueue& queue)
{
    const ReplaySensorMessageHeader& h = datagram.header;
    const uint16_t line = h.lineNumber;
    if (open_ && h.frameNumber != frameNumber_)
        endIncomplete(IncompleteReason::Interrupted);
    // A line that already ended starts again: the sender has begun the next
    // frame without changing the frame number.
    if (open_ && line < lineDone_.size() && lineDone_[line] != 0)
        endIncomplete(IncompleteReason::Interrupted);
    if (!open_)
        begin(datagram);
    if (afterGap)
        damage(IncompleteReason::PacketLoss);

    const bool lineInFrame = frameHeight_ == 0 || line < frameHeight_;
    if (lineInFrame) {
        store(line, datagram.payload);
    } else {
        ++counters_.lineErrors;
        damage(IncompleteReason::LineError);
    }

    if (h.endOfLine() && lineInFrame) {
        if (line >= lineDone_.size())
            lineDone_.resize(static_cast<size_t>(line) + 1, 0);
        lineDone_[line] = 1;
        ++linesDone_;
    }
    if (h.endOfLine() && queue && !queue(counters_.framesStarted, datagram))
        damage(IncompleteReason::FifoOverflow);
    if (!h.endOfFrame())
        return;

    // The end-of-frame mark ends the frame whatever else is wrong with it.
    if (frameHeight_ == 0) {
        endIncomplete(IncompleteReason::NoFrameSize);
    } else if (!h.endOfLine() || line != frameHeight_ - 1) {
        if (lineInFrame)
            ++counters_.lineErrors;
        endIncomplete(IncompleteReason::LineError);
    } else if (damaged_) {
        endIncomplete(damage_);
    } else if (linesDone_ < frameHeight_) {
        endIncomplete(IncompleteReason::MissingLines);
    } else {
        finish(completed);
    }
}

void FrameAssembler::abandon()
{
    endIncomplete(IncompleteReason::Interrupted);
}

void FrameAssembler::begin(const SensorDatagram& datagram)
{
    open_ = true;
    ++counters_.framesStarted;
    frameNumber_ = datagram.header.frameNumber;
    frameWidth_ = width_;
    frameHeight_ = height_;
    timestampNs_ = datagram.header.timestamp;
    damaged_ = false;
    // The previous frame's buffer went on with it: fill a spent one, whose
    // pages are mapped already, rather than fresh memory.
    if (data_.capacity() == 0 && buffers_)
        data_ = buffers_->take();
    data_.clear();
    data_.reserve(std::min(expectedFrameBytes_, maxFrameBytes_));
    segments_.clear();
    inLineOrder_ = true;
    digest_.reset();
    lineDone_.assign(frameHeight_, 0);
    linesDone_ = 0;
}

void FrameAssembler::endIncomplete(IncompleteReason reason)
{
    if (!open_)
        return;
    open_ = false;
    ++counters_.framesIncomplete;
    ++counters_.incompleteByReason[static_cast<size_t>(reason)];
    data_.clear();
    segments_.clear();
    ended_.push_back({ counters_.framesStarted, false, 0 });
}

void FrameAssembler::damage(IncompleteReason reason)
{
    if (damaged_)
        return;
    damaged_ = true;
    damage_ = reason;
}

void FrameAssembler::store(uint16_t line, std::span<const uint8_t> payload)
{
    if (damaged_ && damage_ == IncompleteReason::Oversized)
        return;
    if (payload.empty())
        return; // nothing to keep, and no piece to note
    const bool extendsLastPiece = !segments_.empty() && segments_.back().line == line &&
        segments_.back().offset + segments_.back().length == data_.size();
    // Each new piece costs its note as well as its bytes.
    const size_t held = data_.size() + segments_.size() * sizeof(Segment);
    const size_t needed = payload.size() + (extendsLastPiece ? 0 : sizeof(Segment));
    if (held > maxFrameBytes_ || needed > maxFrameBytes_ - held) {
        damage(IncompleteReason::Oversized);
        data_.clear();
        data_.shrink_to_fit();
        segments_.clear();
        segments_.shrink_to_fit();
        return;
    }
    const auto offset = static_cast<uint32_t>(data_.size());
    const auto length = static_cast<uint32_t>(payload.size());
    data_.insert(data_.end(), payload.begin(), payload.end());
    if (extendsLastPiece) {
        segments_.back().length += length;
    } else {
        if (!segments_.empty() && segments_.back().line > line)
            inLineOrder_ = false;
        segments_.push_back({ line, offset, length });
    }
    if (inLineOrder_)
        digest_.update(std::span(data_).subspan(offset));
}

void FrameAssembler::finish(std::vector<CompletedFrame>& completed)
{
    open_ = false;
    CompletedFrame frame;
    frame.channel = channel_;
    frame.frameNumber = frameNumber_;
    frame.width = frameWidth_;
    frame.height = frameHeight_;
    frame.timestampNs = timestampNs_;
    frame.sequence = ++counters_.framesComplete;
    frame.lineLengths.assign(frameHeight_, 0);
    if (!inLineOrder_)
        std::stable_sort(segments_.begin(), segments_.end(),
                         [](const Segment& a, const Segment& b) { return a.line < b.line; });
    for (const Segment& s : segments_)
        frame.lineLengths[s.line] += s.length;
    if (inLineOrder_) {
        frame.bytes = std::move(data_);
        data_ = {};
        frame.digest = digest_.value();
    } else {
        if (buffers_)
            frame.bytes = buffers_->take();
        frame.bytes.reserve(data_.size());
        for (const Segment& s : segments_) {
            const auto first = data_.begin() + static_cast<std::ptrdiff_t>(s.offset);
            frame.bytes.insert(frame.bytes.end(), first, first + static_cast<std::ptrdiff_t>(s.length));
        }
        data_.clear(); // kept for the next frame
    }
    segments_.clear();
    expectedFrameBytes_ = frame.bytes.size();
    ended_.push_back({ counters_.framesStarted, true, frameHeight_ });
    completed.push_back(std::move(frame));
}

} // namespace vxqir::sim
