#include "EmulatorConfig.h"

namespace vxqir::sim {

std::unique_ptr<PlayoutModel> makePlayoutModel(const PlayoutConfig& config)
{
    switch (config.kind) {
    case PlayoutKind::LineRate:
        return makeLineRatePlayout(config.linesPerSecond);
    case PlayoutKind::Timestamps:
        return makeTimestampPlayout();
    case PlayoutKind::Immediate:
        break;
    }
    return makeImmediatePlayout();
}

std::string_view playoutKindName(PlayoutKind kind)
{
    switch (kind) {
    case PlayoutKind::LineRate:
        return "line-rate";
    case PlayoutKind::Timestamps:
        return "timestamps";
    case PlayoutKind::Immediate:
        break;
    }
    return "immediate";
}

} // namespace vxqir::sim
