// VXQIRBatch.h - the batched data entry of the library core for code linked
// with the core itself (the package's components). A program on the C API
// reaches the same operation through VXQIR_ReplayStreamBlocks
// (VXQIRApiBatch.h).
#pragma once

#include "VXQIRApiBatch.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace vxqir {

// One block of sensor data: what its datagrams carry in their headers (frame
// and line number, stream id, timestamp) and its payload, borrowed from the
// caller for the call. The C API's record, so a run of them passes from C
// to the core as it is.
using ReplayBlock = VXTQirReplayBlockT;

// Sends a run of blocks of one channel through the process-wide core, as
// VXQIR_ReplayStreamData would send them one by one (same datagrams, same
// flow control, same results), with few system calls. Stops at the first
// failure; *blocksSent tells how many blocks from the first on went whole,
// so a caller that retries on Timeout starts at blocks[*blocksSent].
// InvalidChannelHandle for an unknown handle, InvalidPointer for a null
// blocksSent or block payload (nothing sent then). Nothing is raised. The
// blocks of one channel must come from one thread at a time.
VXTQirError ReplayStreamBlocks(VXTQirChannelHandle channelHandle, std::span<const ReplayBlock> blocks,
                               size_t* blocksSent) noexcept;

} // namespace vxqir
