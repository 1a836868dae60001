#include "E2eUnit.h"

#include <vector>

namespace vxqir::e2e {

E2eUnit::E2eUnit(sim::EmulatorConfig config, uint16_t maxPayload, uint32_t timeoutGetMs, uint32_t timeoutStreamMs)
{
    config.controlIp = CONTROL_IP;
    config.dataIp = DATA_IP;
    unit_ = std::make_unique<sim::UnitEmulator>(std::move(config));
    unit_->start();
    interface_.controlIP = CONTROL_IP;
    interface_.controlPort = unit_->controlPort();
    interface_.dataIP = DATA_IP;
    interface_.dataBasePort = unit_->dataBasePort();
    interface_.localIP = LOCAL_IP;
    interface_.localPort = 0;
    interface_.maxPayloadSize = maxPayload;
    interface_.timeoutGet_ms = timeoutGetMs;
    interface_.timeoutStream_ms = timeoutStreamMs;
}

bool E2eUnit::waitFor(unsigned index, const std::function<bool(const sim::ChannelSnapshot&)>& predicate)
{
    return unit_->waitUntil([&](const sim::EmulatorSnapshot& s) { return predicate(s.channels.at(index)); }, WAIT);
}

RegisteredChannel::RegisteredChannel(const E2eUnit& unit, VXTQirChannelNumber index)
    : result_(VXQIR_RegisterOutputChannel(&unit.interface(), index, &handle_))
{
    registered_ = result_ == NoError;
}

RegisteredChannel::~RegisteredChannel()
{
    unregister();
}

VXTQirError RegisteredChannel::unregister()
{
    if (!registered_)
        return NoError;
    registered_ = false;
    return VXQIR_UnregisterOutputChannel(handle_);
}

VXTQirError streamPatternFrames(VXTQirChannelHandle handle, uint16_t firstFrame, uint16_t frames, uint16_t width,
                                uint16_t height)
{
    std::vector<uint8_t> line(width);
    for (uint16_t n = 0; n < frames; ++n) {
        const auto f = static_cast<uint16_t>(firstFrame + n);
        for (uint16_t l = 0; l < height; ++l) {
            for (uint16_t i = 0; i < width; ++i)
                line[i] = static_cast<uint8_t>((f * 7u + l * 3u + i) & 0xFF);
            VXTQirPacketPropertiesT packet{};
            packet.frameNumber = f;
            packet.lineNumber = l;
            packet.timestamp = static_cast<uint64_t>(f) * 33'333'333u;
            const VXTQirError r = VXQIR_ReplayStreamData(handle, &packet, line.data(), width);
            if (r != NoError)
                return r;
        }
    }
    return NoError;
}

} // namespace vxqir::e2e
