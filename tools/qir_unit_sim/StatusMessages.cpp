#include "StatusMessages.h"

namespace vxqir::sim {

ReplayStatusMessage makeReply(uint8_t channel, uint16_t responseType, uint16_t responseId)
{
    return makeStatusMessage(channel, responseType, responseId);
}

ReplayStatusMessage makePeriodicStatus(uint8_t channel, const ChannelStatus& status)
{
    ReplayStatusMessage m = makeReply(channel, RESPONSE_PERIODIC_STATUS, 0);
    uint16_t flags = 0;
    flags |= status.enabled ? STATUS_FLAG_ENABLED : 0;
    flags |= status.loss ? STATUS_FLAG_LOSS : 0;
    flags |= status.ptpSynced ? STATUS_FLAG_PTP_SYNCED : 0;
    flags |= status.ptpActive ? STATUS_FLAG_PTP_ACTIVE : 0;
    m.payload.status.flags = flags;
    m.payload.status.rx_packet_num = status.rxPacketNumber;
    m.payload.status.free_fifo_entries = status.freeFifoEntries;
    m.payload.status.currenttime_ns = status.currentTimeNs;
    return m;
}

} // namespace vxqir::sim
