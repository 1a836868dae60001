#include "Channel.h"

#include "BufferLines.h"
#include "QirErrors.h"

#include "VXQIRApiProgress.h"

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace py = pybind11;

namespace qir::python {

namespace {

template <typename Call>
VXTQirError withoutGil(Call call)
{
    py::gil_scoped_release release;
    return call();
}

uint16_t checkedRange(int64_t value, int64_t highest, const char* what)
{
    if (value < 0 || value > highest)
        throw py::value_error(std::string(what) + " " + std::to_string(value) + " is outside 0.." +
                              std::to_string(highest));
    return static_cast<uint16_t>(value);
}

uint64_t microsecondsToNs(uint64_t us, const char* what)
{
    if (us > std::numeric_limits<uint64_t>::max() / 1000)
        throw py::value_error(std::string(what) + " " + std::to_string(us) + " us does not fit 64-bit nanoseconds");
    return us * 1000;
}

} // namespace

Channel::Channel(VXTQirChannelHandle handle, int32_t index, std::chrono::milliseconds sendTimeout)
    : handle_(handle)
    , index_(index)
    , sendTimeout_(sendTimeout)
{ }

Channel::~Channel()
{
    if (!closed_)
        VXQIR_UnregisterOutputChannel(handle_);
}

void Channel::close()
{
    if (closed_)
        return;
    closed_ = true;
    check(withoutGil([&] { return VXQIR_UnregisterOutputChannel(handle_); }));
}

void Channel::init(uint16_t width, uint16_t height)
{
    check(withoutGil([&] { return VXQIR_InitOutputChannel(handle_, width, height); }));
    height_ = height;
}

void Channel::sendLine(const py::handle& data, int64_t frame, int64_t line, uint64_t timestamp, int64_t stream)
{
    const uint16_t frameNumber = checkedRange(frame, UINT16_MAX, "frame");
    const uint16_t lineNumber = checkedRange(line, UINT16_MAX, "line");
    const auto streamId = static_cast<uint8_t>(checkedRange(stream, UINT8_MAX, "stream"));
    const BufferLines bytes(data, 1, "line");
    const vxqir::ReplayBlock block{
        .properties = { .timestamp = timestamp,
                        .frameNumber = frameNumber,
                        .lineNumber = lineNumber,
                        .streamID = streamId },
        .payload = bytes.line(0),
        .payloadSize = bytes.lineBytes(),
    };
    sendBlocks({ &block, 1 });
}

void Channel::sendFrame(const py::handle& data, int64_t frame, uint64_t timestamp)
{
    const uint16_t frameNumber = checkedRange(frame, UINT16_MAX, "frame");
    if (height_ == 0)
        throw py::value_error("send_frame: the frame height is not known; call init(width, height) first");
    const BufferLines lines(data, height_, "frame");
    std::vector<vxqir::ReplayBlock> blocks(lines.lineCount());
    for (size_t i = 0; i < blocks.size(); ++i) {
        blocks[i] = vxqir::ReplayBlock{
            .properties = { .timestamp = timestamp,
                            .frameNumber = frameNumber,
                            .lineNumber = static_cast<uint16_t>(i),
                            .streamID = 0 },
            .payload = lines.line(i),
            .payloadSize = lines.lineBytes(),
        };
    }
    sendBlocks(blocks);
}

void Channel::sendBlocks(std::span<const vxqir::ReplayBlock> blocks)
{
    if (sending_)
        throw std::runtime_error("channel " + std::to_string(index_) +
                                 ": another thread is sending on it; the blocks of one channel go from one thread at "
                                 "a time");
    sending_ = true;
    struct SendingEnds {
        bool& flag;
        ~SendingEnds() { flag = false; }
    } sendingEnds{ sending_ };
    auto lastProgress = std::chrono::steady_clock::now();
    while (!blocks.empty()) {
        size_t sent = 0;
        const VXTQirError result = withoutGil([&] { return vxqir::ReplayStreamBlocks(handle_, blocks, &sent); });
        blocks = blocks.subspan(sent);
        if (result == NoError)
            return;
        if (result != Timeout)
            raiseQirError(result);
        const auto now = std::chrono::steady_clock::now();
        if (sent > 0)
            lastProgress = now;
        throwIfInterrupted();
        if (now - lastProgress >= sendTimeout_)
            raiseQirError(Timeout);
    }
}

void Channel::setReplayTimes(std::optional<uint64_t> startUs, std::optional<uint64_t> stopUs,
                             std::optional<uint64_t> offsetUs)
{
    const uint64_t start = startUs ? microsecondsToNs(*startUs, "start") : 0;
    const uint64_t stop = stopUs ? microsecondsToNs(*stopUs, "stop") : 0;
    const uint64_t offset = offsetUs ? microsecondsToNs(*offsetUs, "offset") : 0;
    if (startUs) {
        // One call sends the start, then the offset and the stop when not 0,
        // and refuses a stop before the start (InvalidTiming).
        check(withoutGil([&] { return VXQIR_SetReplayStartTime(handle_, start, offset, stop); }));
        return;
    }
    if (offsetUs)
        check(withoutGil([&] { return VXQIR_SetReplayOffset(handle_, offset); }));
    if (stopUs)
        check(withoutGil([&] { return VXQIR_SetReplayStopTime(handle_, stop); }));
}

void Channel::reset()
{
    check(withoutGil([&] { return VXQIR_ResetChannel(handle_); }));
}

void Channel::clearStatusFlags()
{
    check(withoutGil([&] { return VXQIR_ClearStatusFlags(handle_); }));
}

py::object Channel::status() const
{
    // The status alone tells "none yet" (DataNotAvailable); the progress
    // carries the same status with the acknowledged datagrams, in one
    // snapshot.
    VXTQirStatusT first{};
    check(VXQIR_GetCurrentState(handle_, &first));
    VXTQirChannelProgressT progress{};
    check(VXQIR_GetChannelProgress(handle_, &progress));
    const VXTQirStatusT& status = progress.status;
    return py::module_::import("qir._types")
        .attr("Status")(py::arg("enabled") = status.enabled, py::arg("loss") = status.loss,
                        py::arg("ptp_synced") = status.ptpSynced, py::arg("ptp_active") = status.ptpActive,
                        py::arg("free_fifo_entries") = status.freeFifoEntries,
                        py::arg("rx_packet") = progress.datagramsAcknowledged,
                        py::arg("unit_time_ns") = status.currentTime_ns);
}

py::object Channel::progress() const
{
    VXTQirChannelProgressT progress{};
    check(VXQIR_GetChannelProgress(handle_, &progress));
    return py::module_::import("qir._types")
        .attr("Progress")(
            py::arg("datagrams_sent") = progress.datagramsSent,
            py::arg("datagrams_acknowledged") = progress.datagramsAcknowledged,
            py::arg("frames_sent") = progress.framesSent, py::arg("frames_acknowledged") = progress.framesAcknowledged,
            py::arg("status_count") = progress.statusCount, py::arg("ms_since_status") = progress.msSinceStatus,
            py::arg("fifo_entries") = progress.fifoEntries, py::arg("send_timeouts") = progress.sendTimeouts);
}

py::tuple Channel::frameSize()
{
    uint16_t width = 0;
    uint16_t height = 0;
    check(withoutGil([&] { return VXQIR_GetFrameSize(handle_, &width, &height); }));
    height_ = height;
    return py::make_tuple(width, height);
}

} // namespace qir::python
