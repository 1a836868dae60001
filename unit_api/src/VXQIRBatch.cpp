#include "VXQIRBatch.h"

#include "VXQIRApiImpl.h"

namespace vxqir {

VXTQirError ReplayStreamBlocks(VXTQirChannelHandle channelHandle, std::span<const ReplayBlock> blocks,
                               size_t* blocksSent) noexcept
{
    try {
        return VXQIRApiS::getInstance().replayStreamBlocks(channelHandle, blocks, blocksSent);
    } catch (...) {
        return InternalError;
    }
}

} // namespace vxqir
