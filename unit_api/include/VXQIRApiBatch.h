/*
 * VXQIRApiBatch.h - sending a run of data blocks of one channel in one call.
 *
 * VXQIR_ReplayStreamBlocks sends what a VXQIR_ReplayStreamData call per
 * block would send, in order: the same datagrams (each block cut by the
 * channel's maxPayloadSize, with the same end-of-line and end-of-frame marks
 * and packet numbers), under the same flow control, with the same results.
 * It hands the datagrams of many blocks to the kernel at once, so a whole
 * frame costs a few system calls instead of one per datagram.
 *
 * The function is thread-safe as VXQIR_ReplayStreamData is: the blocks of
 * one channel must come from one thread at a time. It returns a VXTQirError
 * and raises nothing. This header compiles as C and as C++.
 */
#ifndef VXQIR_API_BATCH_H
#define VXQIR_API_BATCH_H

#include "VXQIRApi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One block: what its datagrams carry in their headers and its payload,
 * read during the call only. */
typedef struct VXTQirReplayBlockT {
    /* As for VXQIR_ReplayStreamData: frame and line number, stream id,
     * timestamp. */
    VXTQirPacketPropertiesT properties;
    /* Never NULL, also for an empty block. */
    const uint8_t* payload;
    uint16_t payloadSize;
} VXTQirReplayBlockT;

/* Sends blocks[0] .. blocks[blockCount - 1] on the channel, in order.
 *
 * Stops at the first failure and returns its result (Timeout when the unit
 * gave no room for timeoutStream_ms, SendError, ...); *blocksSent tells how
 * many blocks from the first on went out whole, so a caller that retries
 * after Timeout goes on at blocks[*blocksSent]. On NoError *blocksSent is
 * blockCount; a blockCount of 0 sends nothing and succeeds.
 *
 * Checks, in this order: InvalidChannelHandle for an unknown handle;
 * InvalidPointer for a NULL blocksSent, for NULL blocks with a blockCount
 * above 0, or for a block with a NULL payload - nothing is sent then, not
 * even the blocks before it. Whenever blocksSent is not NULL, *blocksSent is
 * written (0 when nothing was sent). */
VXQIR_EXPORT VXTQirError VXQIR_ReplayStreamBlocks(VXTQirChannelHandle channelHandle, const VXTQirReplayBlockT* blocks,
                                                  uint32_t blockCount, uint32_t* blocksSent);

#ifdef __cplusplus
}
#endif

#endif /* VXQIR_API_BATCH_H */
