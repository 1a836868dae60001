// The exported C functions: each hands its arguments unchanged to the
// process-wide core. Nothing raised below may cross the C boundary; what can
// still be raised there (memory or thread exhaustion, a failing mutex) is
// reported as InternalError.

#include "VXQIRApi.h"
#include "VXQIRApiProgress.h"

#include "VXQIRApiImpl.h"

#include <utility>

using vxqir::VXQIRApiS;

namespace {

template <typename Call>
VXTQirError guarded(Call&& call) noexcept
{
    try {
        return std::forward<Call>(call)(VXQIRApiS::getInstance());
    } catch (...) {
        return InternalError;
    }
}

} // namespace

extern "C" {

VXQIR_EXPORT VXTQirError VXQIR_IsInputInterfaceAvailable(const VXTQirInputInterfaceT* inputInterface)
{
    return guarded([&](VXQIRApiS& api) { return api.isInputInterfaceAvailable(inputInterface); });
}

VXQIR_EXPORT VXTQirError VXQIR_RegisterOutputChannel(const VXTQirInputInterfaceT* inputInterface,
                                                     VXTQirChannelNumber channelIndex,
                                                     VXTQirChannelHandle* channelHandle)
{
    return guarded(
        [&](VXQIRApiS& api) { return api.registerOutputChannel(inputInterface, channelIndex, channelHandle); });
}

VXQIR_EXPORT VXTQirError VXQIR_UnregisterOutputChannel(VXTQirChannelHandle channelHandle)
{
    return guarded([&](VXQIRApiS& api) { return api.unregisterOutputChannel(channelHandle); });
}

VXQIR_EXPORT VXTQirError VXQIR_IsOutputChannelAvailable(VXTQirChannelHandle channelHandle)
{
    return guarded([&](VXQIRApiS& api) { return api.isOutputChannelAvailable(channelHandle); });
}

VXQIR_EXPORT VXTQirError VXQIR_InitOutputChannel(VXTQirChannelHandle channelHandle, uint16_t width, uint16_t height)
{
    return guarded([&](VXQIRApiS& api) { return api.initOutputChannel(channelHandle, width, height); });
}

VXQIR_EXPORT VXTQirError VXQIR_SetReplayStartTime(VXTQirChannelHandle channelHandle, uint64_t StartTime,
                                                  uint64_t Offset, uint64_t StopTime)
{
    return guarded([&](VXQIRApiS& api) { return api.setReplayStartTime(channelHandle, StartTime, Offset, StopTime); });
}

VXQIR_EXPORT VXTQirError VXQIR_SetReplayOffset(VXTQirChannelHandle channelHandle, uint64_t Offset)
{
    return guarded([&](VXQIRApiS& api) { return api.setReplayOffset(channelHandle, Offset); });
}

VXQIR_EXPORT VXTQirError VXQIR_SetReplayStopTime(VXTQirChannelHandle channelHandle, uint64_t StopTime)
{
    return guarded([&](VXQIRApiS& api) { return api.setReplayStopTime(channelHandle, StopTime); });
}

VXQIR_EXPORT VXTQirError VXQIR_GetCurrentState(VXTQirChannelHandle channelHandle, VXTQirStatusT* Status)
{
    return guarded([&](VXQIRApiS& api) { return api.getCurrentState(channelHandle, Status); });
}

VXQIR_EXPORT VXTQirError VXQIR_GetReplayStartTime(VXTQirChannelHandle channelHandle, uint64_t* StartTime,
                                                  uint64_t* Offset, uint64_t* StopTime)
{
    return guarded([&](VXQIRApiS& api) { return api.getReplayStartTime(channelHandle, StartTime, Offset, StopTime); });
}

VXQIR_EXPORT VXTQirError VXQIR_GetReplayOffset(VXTQirChannelHandle channelHandle, uint64_t* Offset)
{
    return guarded([&](VXQIRApiS& api) { return api.getReplayOffset(channelHandle, Offset); });
}

VXQIR_EXPORT VXTQirError VXQIR_GetReplayStopTime(VXTQirChannelHandle channelHandle, uint64_t* StopTime)
{
    return guarded([&](VXQIRApiS& api) { return api.getReplayStopTime(channelHandle, StopTime); });
}

VXQIR_EXPORT VXTQirError VXQIR_GetFrameSize(VXTQirChannelHandle channelHandle, uint16_t* width, uint16_t* height)
{
    return guarded([&](VXQIRApiS& api) { return api.getFrameSize(channelHandle, width, height); });
}

VXQIR_EXPORT VXTQirError VXQIR_ReplayStreamData(VXTQirChannelHandle channelHandle,
                                                const VXTQirPacketPropertiesT* packetProperties, const uint8_t* buffer,
                                                uint16_t bufferSize)
{
    return guarded(
        [&](VXQIRApiS& api) { return api.replayStreamData(channelHandle, packetProperties, buffer, bufferSize); });
}

VXQIR_EXPORT VXTQirError VXQIR_ResetChannel(VXTQirChannelHandle channelHandle)
{
    return guarded([&](VXQIRApiS& api) { return api.resetChannel(channelHandle); });
}

VXQIR_EXPORT VXTQirError VXQIR_ClearStatusFlags(VXTQirChannelHandle channelHandle)
{
    return guarded([&](VXQIRApiS& api) { return api.clearStatusFlags(channelHandle); });
}

VXQIR_EXPORT VXTQirError VXQIR_GetChannelProgress(VXTQirChannelHandle channelHandle, VXTQirChannelProgressT* progress)
{
    return guarded([&](VXQIRApiS& api) { return api.getChannelProgress(channelHandle, progress); });
}

VXQIR_EXPORT VXTQirError VXQIR_GetChannelProgressAt(const char* controlIP, uint16_t controlPort,
                                                    VXTQirChannelNumber channelIndex, VXTQirChannelProgressT* progress)
{
    return guarded(
        [&](VXQIRApiS& api) { return api.getChannelProgressAt(controlIP, controlPort, channelIndex, progress); });
}

} // extern "C"
