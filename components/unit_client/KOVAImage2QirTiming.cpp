// Replay times from the time inputs to the unit, and the status thread that
// publishes the unit's channel status and clock.
#include "KOVAImage2Qir.h"

#include "VXQIRApiProgress.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr KOVATimestamp kRestAfterTimeUs = 10000;

/// Shortest unit time-out: no status for this long means the unit is silent.
constexpr int64_t kUnitTimeoutMs = 1000;

/// Milliseconds of the steady clock, the clock the library ages statuses on.
int64_t SteadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char* InputNameOf(KOVAImage2Qir::TimestampType type)
{
    switch (type) {
    case KOVAImage2Qir::Start:
        return "ReplayStartTime";
    case KOVAImage2Qir::Stop:
        return "ReplayStopTime";
    case KOVAImage2Qir::Offset:
        return "LoggingStartTime";
    }
    return nullptr;
}

/// Microseconds of the graph to nanoseconds of the unit (64-bit, wrapping).
uint64_t ToNanoseconds(int64_t us)
{
    return static_cast<uint64_t>(us) * 1000u;
}

} // namespace

int64_t KOVAImage2Qir::GetTimestamp_from_Input(TimestampType type)
{
    const char* name = InputNameOf(type);
    if (!name)
        Error("Glitch in the matrix.");
    // The start and stop inputs exist only with "StartStopTimeInputs".
    KOVAInput* input = FindInput(name);
    if (!input || !input->IsConnected())
        return -1;
    if (DataAvailableInFIFO(input) == 0)
        return -1;
    KOVA::InputGuard<int64_t> sample(this, input);
    if (!sample)
        return -1;
    return *sample.Get();
}

void KOVAImage2Qir::check_and_send_Timestamp(VXTQirChannelHandle handle, TimestampType type)
{
    const int64_t value = GetTimestamp_from_Input(type);
    int64_t stored = 0;
    switch (type) {
    case Start:
        stored = startTs_;
        break;
    case Stop:
        stored = stopTs_;
        break;
    case Offset:
        stored = offsetTs_;
        break;
    default:
        Error("Glitch in the matrix.");
    }
    if (value == stored)
        return;
    switch (type) {
    case Start:
        startTs_ = value;
        break;
    case Stop:
        stopTs_ = value;
        break;
    case Offset:
        offsetTs_ = value;
        break;
    }
    // A time input that went back to "no value" (disconnected) is not a
    // time: the run waits for a new one, the unit keeps the last.
    if (value == -1)
        return;

    KOVAStreamedString text;
    switch (type) {
    case Start:
        text << "Input received a new start timestamp: ";
        break;
    case Stop:
        text << "Input received a new stop timestamp: ";
        break;
    case Offset:
        text << "Input received a new offset timestamp: ";
        break;
    }
    text << value << " us)";
    ReportInfo(text);

    VXTQirError result = NoError;
    switch (type) {
    case Stop:
        result = VXQIR_SetReplayStopTime(handle, ToNanoseconds(stopTs_));
        break;
    case Offset:
        result = VXQIR_SetReplayOffset(handle, ToNanoseconds(offsetTs_));
        break;
    case Start:
        result = VXQIR_SetReplayStartTime(handle, ToNanoseconds(startTs_), ToNanoseconds(offsetTs_), 0);
        break;
    }
    if (result != NoError)
        ReportError(VXQIR_ErrorToString(result));
    Rest(kRestAfterTimeUs);
}

int64_t KOVAImage2Qir::UnitTimeoutMs(int64_t statusPeriodUs)
{
    return std::max<int64_t>(kUnitTimeoutMs, 2 * (statusPeriodUs / 1000));
}

void KOVAImage2Qir::WriteStatusToOutput()
{
    const int64_t period = statusPeriodUs_;
    const int64_t unitTimeoutMs = UnitTimeoutMs(period);
    start_event_.Set();
    if (IsDying())
        return;
    // While the unit is silent: since when (steady ms) its last status came.
    bool silent = false;
    int64_t silentSinceMs = 0;
    for (;;) {
        VXTQirChannelProgressT progress{};
        const bool known = VXQIR_GetChannelProgress(qir_ch_handle_, &progress) == NoError && progress.statusCount > 0;
        const int64_t nowMs = SteadyMilliseconds();
        if (known && progress.msSinceStatus > unitTimeoutMs && !silent) {
            // A status that old is no longer the unit's state: not published
            // until the unit speaks again.
            silent = true;
            silentSinceMs = nowMs - progress.msSinceStatus;
            KOVAStreamedString text;
            text << "[Status] No status from the unit for " << progress.msSinceStatus << " ms";
            ReportWarning(text);
        } else if (known && progress.msSinceStatus <= unitTimeoutMs && silent) {
            silent = false;
            KOVAStreamedString text;
            text << "[Status] Status from the unit again after " << (nowMs - progress.msSinceStatus - silentSinceMs)
                 << " ms";
            ReportWarning(text);
        }
        if (known && !silent) {
            const VXTQirStatusT& status = progress.status;
            KOVA::OutputGuard<VXTQirStatusT> info(this, Output(0));
            if (info) {
                std::memcpy(info.Get(), &status, sizeof status);
                info.Element()->Timestamp() = KOVA::CurrentTime();
            }
            KOVA::OutputGuard<int64_t> unitTime(this, Output(1));
            if (unitTime) {
                *unitTime.Get() = static_cast<int64_t>(status.currentTime_ns / 1000u);
                unitTime.Element()->Timestamp() = KOVA::CurrentTime();
            }
            valid_status_ = true;
            if (verbose_) {
                const auto sinceStart = static_cast<int64_t>(status.currentTime_ns -
                                                             ToNanoseconds(startTs_.load(std::memory_order_relaxed)));
                const auto sinceStop = static_cast<int64_t>(status.currentTime_ns -
                                                            ToNanoseconds(stopTs_.load(std::memory_order_relaxed)));
                KOVAStreamedString text;
                text << status.currentTime_ns << "(" << sinceStart << "/" << sinceStop << "), "
                     << ", " << status.freeFifoEntries;
                ReportInfo(text);
            }
            // Leaving the scope publishes "oSystemTime_us", then "oReplayStateInfo".
        }
        Rest(period);
        if (IsDying())
            return;
    }
}
