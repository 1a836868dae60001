/* The batch header compiles on its own as C99. */
#include <VXQIRApiBatch.h>

int vxqir_header_check_batch_c(void);
int vxqir_header_check_batch_c(void)
{
    static const uint8_t payload[1] = { 0u };
    const VXTQirReplayBlockT blocks[1] = { { { 0u, 0u, 0u, 0u }, payload, 1u } };
    uint32_t sent = 0u;
    return (int)VXQIR_ReplayStreamBlocks(0, blocks, 1u, &sent) + (int)sent;
}
