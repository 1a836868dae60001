/*
 * VXQIRApiProgress.h - what the unit has acknowledged of a channel, for
 * programs that must decide whether a replay was delivered.
 *
 * VXQIRApi.h tells the latest status of a channel; this header adds what a
 * verdict needs on top of it: 64-bit counts of the frames and datagrams sent
 * and of those the unit acknowledged (the rx_packet_num of its periodic
 * status reached their last datagram), of the sends that timed out waiting
 * for FIFO room, and how long ago the unit's last status arrived, so that a
 * stale status can be told from a fresh one.
 *
 * A channel can be named by its handle or, by code that does not hold the
 * handle (a program running the package's components in-process), by its
 * unit's control address and its channel index.
 *
 * Both functions are thread-safe, return a VXTQirError and raise nothing.
 * This header compiles as C and as C++.
 */
#ifndef VXQIR_API_PROGRESS_H
#define VXQIR_API_PROGRESS_H

#include "VXQIRApi.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VXTQirChannelProgressT {
    /* Datagrams sent on the channel since it was registered. */
    uint64_t datagramsSent;
    /* Of those, how many the unit acknowledged: its latest status's
     * rx_packet_num, widened to 64 bits against datagramsSent. Never goes
     * back; a number the channel has not sent acknowledges nothing. */
    uint64_t datagramsAcknowledged;
    /* Frames sent: datagrams with the end-of-frame mark. */
    uint64_t framesSent;
    /* Of those, how many the unit acknowledged (their end-of-frame datagram
     * is at or before datagramsAcknowledged). With more than a thousand
     * frames unacknowledged at once it may lag behind, never run ahead; it
     * is exact once every datagram is acknowledged. */
    uint64_t framesAcknowledged;
    /* Periodic status messages received on the channel. */
    uint64_t statusCount;
    /* Milliseconds since the latest periodic status arrived (steady clock);
     * -1 before the first. */
    int64_t msSinceStatus;
    /* FIFO entries the unit reported at initialisation; 0 before it. */
    uint32_t fifoEntries;
    /* The latest periodic status (all zero before the first). */
    VXTQirStatusT status;
    /* Sends on the channel (VXQIR_ReplaySensorData, VXQIR_ReplayStreamBlocks)
     * that returned Timeout because the unit's FIFO stayed full for the
     * channel's timeoutStream_ms; each call counts once, so a caller that
     * tries again after a time-out adds one per try. Added last, so the
     * fields above keep their places. */
    uint64_t sendTimeouts;
} VXTQirChannelProgressT;

/* Fills *progress for a registered channel. InvalidChannelHandle for an
 * unknown handle, then InvalidPointer for a NULL progress. */
VXQIR_EXPORT VXTQirError VXQIR_GetChannelProgress(VXTQirChannelHandle channelHandle, VXTQirChannelProgressT* progress);

/* The same for the channel channelIndex of the unit whose control address is
 * controlIP (dotted-decimal) and control port controlPort, whichever handle
 * registered it. InvalidPointer for a NULL controlIP or progress,
 * ChannelNotAvailable when no such channel is registered in this process's
 * copy of the library (a text that is not an IPv4 address names none). */
VXQIR_EXPORT VXTQirError VXQIR_GetChannelProgressAt(const char* controlIP, uint16_t controlPort,
                                                    VXTQirChannelNumber channelIndex, VXTQirChannelProgressT* progress);

#ifdef __cplusplus
}
#endif

#endif /* VXQIR_API_PROGRESS_H */
