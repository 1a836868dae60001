#include "UnitTime.h"

#include "VXQIRApi.h"

#include <thread>

namespace qir::replay {

std::optional<int64_t> readUnitTimeUs(const Endpoint& control, const Endpoint& data, unsigned channel,
                                      std::chrono::milliseconds timeout, std::string& why, bool* ptpSynced)
{
    VXTQirInputInterfaceT unit{};
    unit.controlIP = control.ip.c_str();
    unit.controlPort = control.port;
    unit.dataIP = data.ip.c_str();
    unit.dataBasePort = data.port;
    unit.localIP = control.ip.rfind("127.", 0) == 0 ? "127.0.0.1" : "0.0.0.0";
    unit.localPort = 0;
    unit.maxPayloadSize = 1448;
    unit.timeoutGet_ms = static_cast<uint32_t>(timeout.count());
    unit.timeoutStream_ms = static_cast<uint32_t>(timeout.count());

    VXTQirError result = VXQIR_IsInputInterfaceAvailable(&unit);
    if (result != NoError) {
        why = std::string("it is not reachable: ") + VXQIR_ErrorToString(result);
        return std::nullopt;
    }
    VXTQirChannelHandle handle = -1;
    result = VXQIR_RegisterOutputChannel(&unit, static_cast<VXTQirChannelNumber>(channel), &handle);
    if (result != NoError) {
        why = std::string("channel ") + std::to_string(channel) +
            " could not be registered: " + VXQIR_ErrorToString(result);
        return std::nullopt;
    }
    std::optional<int64_t> time;
    result = VXQIR_InitOutputChannel(handle, 1, 1);
    if (result != NoError) {
        why = std::string("channel ") + std::to_string(channel) + " was not taken: " + VXQIR_ErrorToString(result);
    } else {
        const auto limit = std::chrono::steady_clock::now() + timeout;
        VXTQirStatusT status{};
        while ((result = VXQIR_GetCurrentState(handle, &status)) != NoError && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (result == NoError) {
            time = static_cast<int64_t>(status.currentTime_ns / 1000u);
            if (ptpSynced)
                *ptpSynced = status.ptpSynced;
        } else
            why = "it sent no status within " + std::to_string(timeout.count()) + " ms";
    }
    VXQIR_UnregisterOutputChannel(handle);
    return time;
}

} // namespace qir::replay
