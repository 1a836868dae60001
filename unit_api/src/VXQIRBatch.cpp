// The batched data entry: for code linked with the core (VXQIRBatch.h) and,
// exported, for C programs (VXQIRApiBatch.h). Both hand their blocks to the
// process-wide core unchanged.
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

extern "C" VXQIR_EXPORT VXTQirError VXQIR_ReplayStreamBlocks(VXTQirChannelHandle channelHandle,
                                                             const VXTQirReplayBlockT* blocks, uint32_t blockCount,
                                                             uint32_t* blocksSent)
{
    // Written before any check, so a caller never reads a stale count.
    if (blocksSent != nullptr)
        *blocksSent = 0;
    size_t sent = 0;
    VXTQirError result = InternalError;
    try {
        result = vxqir::VXQIRApiS::getInstance().replayStreamBlocks(channelHandle, blocks, blockCount,
                                                                    blocksSent != nullptr ? &sent : nullptr);
    } catch (...) {
        result = InternalError;
    }
    // At most blockCount, so it fits.
    if (blocksSent != nullptr)
        *blocksSent = static_cast<uint32_t>(sent);
    return result;
}
