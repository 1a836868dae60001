/*
 * VXQIRApi.h - C interface of the QIR unit client library.
 *
 * A QIR unit is a network-attached sensor-injection device. This library
 * registers output channels on one or more units, speaks the unit's UDP
 * control, status and sensor-data protocol, keeps each channel's status and
 * flow control, and runs one listener thread for all units.
 *
 * Typical use:
 *   1. VXQIR_IsInputInterfaceAvailable  - both unit addresses answer a ping
 *   2. VXQIR_RegisterOutputChannel      - keep the returned handle
 *   3. VXQIR_InitOutputChannel          - frame size, enable replay + status
 *   4. VXQIR_SetReplay... / VXQIR_ReplayStreamData / VXQIR_GetCurrentState
 *   5. VXQIR_UnregisterOutputChannel
 *
 * VXQIRApiBatch.h adds VXQIR_ReplayStreamBlocks, which sends a run of
 * blocks (a whole frame) in one call; VXQIRApiProgress.h what the unit
 * acknowledged of a channel.
 *
 * Every function returns a VXTQirError (except VXQIR_ErrorToString) and never
 * lets an exception or a signal escape. All functions are thread-safe, with
 * one limit: the data blocks of one channel (VXQIR_ReplayStreamData and
 * VXQIR_ReplayStreamBlocks with the same handle) must come from one thread
 * at a time.
 *
 * All times are unsigned 64-bit nanoseconds. This header compiles as C and
 * as C++.
 */
#ifndef VXQIR_API_H
#define VXQIR_API_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(__GNUC__)
#define VXQIR_EXPORT __attribute__((visibility("default")))
#else
#define VXQIR_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Handle of a registered output channel; issued by registration. */
typedef int32_t VXTQirChannelHandle;

/* Index of a channel on the unit, 0 to 255: it travels as one byte in every
 * control and status message; it is added to dataBasePort to form the data
 * port. */
typedef int32_t VXTQirChannelNumber;

/* Configuration of one unit interface. Strings are read during the call that
 * receives the record; the library keeps its own copies. */
typedef struct VXTQirInputInterfaceT {
    const char* controlIP;     /* unit control address, dotted-decimal IPv4 (required) */
    uint16_t controlPort;      /* unit control port */
    const char* dataIP;        /* unit sensor-data address, dotted-decimal IPv4 (required) */
    uint16_t dataBasePort;     /* data port of channel 0; channel n uses dataBasePort + n (16-bit wrap) */
    const char* localIP;       /* local address of the control socket; NULL means "0.0.0.0" */
    uint16_t localPort;        /* local port of the control socket; 0 lets the system choose */
    uint16_t maxPayloadSize;   /* largest sensor-data payload per datagram, without the 24-byte header */
    uint32_t timeoutGet_ms;    /* how long a control request waits for its reply */
    uint32_t timeoutStream_ms; /* how long sending waits for free replay buffer at the unit */
} VXTQirInputInterfaceT;

/* Channel status as last reported by the unit's periodic status message. */
typedef struct VXTQirStatusT {
    bool enabled;
    bool loss;
    bool ptpSynced;
    bool ptpActive;
    uint32_t freeFifoEntries;
    uint64_t currentTime_ns;
} VXTQirStatusT;

/* Properties of one block of sensor data; copied into each of its datagrams. */
typedef struct VXTQirPacketPropertiesT {
    uint64_t timestamp; /* nanoseconds */
    uint16_t frameNumber;
    uint16_t lineNumber; /* the block with lineNumber == frame height - 1 ends the frame */
    uint8_t streamID;
} VXTQirPacketPropertiesT;

/* Result of every call, stored in 4 bytes. VXQIR_ErrorToString gives the text
 * of each. C++ sees a fixed underlying type so that any 32-bit value a caller
 * passes is a valid value of the type. */
#ifdef __cplusplus
typedef enum VXTQirError : int32_t {
#else
typedef enum VXTQirError {
#endif
    NoError = 0,
    InternalError = 1,
    ControlInterfaceNotAvailable = 2,
    DataInterfaceNotAvailable = 3,
    ChannelNotAvailable = 4,
    InvalidChannelHandle = 5,
    InvalidChannelIndex = 6,
    InvalidTiming = 7,
    InvalidPointer = 8,
    ControlSocketError = 9,
    DataSocketError = 10,
    Timeout = 11,
    InvalidInterfaceConfig = 12,
    ChannelAlreadyRegistered = 13,
    DataNotAvailable = 14,
    PacketFragmentation = 15
} VXTQirError;

/* Probes both unit addresses with one ping each; a success is remembered for
 * 20 seconds. Blocks up to about one second per probed address. */
VXQIR_EXPORT VXTQirError VXQIR_IsInputInterfaceAvailable(const VXTQirInputInterfaceT* inputInterface);

/* Registers channel channelIndex (0 to 255: replies name the channel in one
 * byte) of the unit described by inputInterface and writes its handle. Sends
 * nothing to the unit. InvalidChannelIndex outside 0..255; DataSocketError
 * when the channel's data socket cannot be opened. */
VXQIR_EXPORT VXTQirError VXQIR_RegisterOutputChannel(const VXTQirInputInterfaceT* inputInterface,
                                                     VXTQirChannelNumber channelIndex,
                                                     VXTQirChannelHandle* channelHandle);

/* Releases the channel; the unit is told to stop replay and status messages. */
VXQIR_EXPORT VXTQirError VXQIR_UnregisterOutputChannel(VXTQirChannelHandle channelHandle);

/* Asks the unit for the channel's buffer size: NoError, ChannelNotAvailable or
 * a request error. */
VXQIR_EXPORT VXTQirError VXQIR_IsOutputChannelAvailable(VXTQirChannelHandle channelHandle);

/* First exchange with the unit: frame size, enable replay and status
 * messages, read the replay buffer size. Any request of a channel that the
 * unit answers as not available returns ChannelNotAvailable. */
VXQIR_EXPORT VXTQirError VXQIR_InitOutputChannel(VXTQirChannelHandle channelHandle, uint16_t width, uint16_t height);

/* Sends the start time, then the offset (when not 0), then the stop time (when
 * not 0; InvalidTiming when it is earlier than the start time). */
VXQIR_EXPORT VXTQirError VXQIR_SetReplayStartTime(VXTQirChannelHandle channelHandle, uint64_t StartTime,
                                                  uint64_t Offset, uint64_t StopTime);
VXQIR_EXPORT VXTQirError VXQIR_SetReplayOffset(VXTQirChannelHandle channelHandle, uint64_t Offset);
VXQIR_EXPORT VXTQirError VXQIR_SetReplayStopTime(VXTQirChannelHandle channelHandle, uint64_t StopTime);

/* Copies the latest periodic status; DataNotAvailable before the first one. */
VXQIR_EXPORT VXTQirError VXQIR_GetCurrentState(VXTQirChannelHandle channelHandle, VXTQirStatusT* Status);

/* Queries the unit; Offset and StopTime may be NULL. */
VXQIR_EXPORT VXTQirError VXQIR_GetReplayStartTime(VXTQirChannelHandle channelHandle, uint64_t* StartTime,
                                                  uint64_t* Offset, uint64_t* StopTime);
VXQIR_EXPORT VXTQirError VXQIR_GetReplayOffset(VXTQirChannelHandle channelHandle, uint64_t* Offset);
VXQIR_EXPORT VXTQirError VXQIR_GetReplayStopTime(VXTQirChannelHandle channelHandle, uint64_t* StopTime);
VXQIR_EXPORT VXTQirError VXQIR_GetFrameSize(VXTQirChannelHandle channelHandle, uint16_t* width, uint16_t* height);

/* Sends one block (typically one image line) under the unit's flow control,
 * cut into datagrams of at most maxPayloadSize bytes. Blocks of one channel
 * must come from one thread at a time. */
VXQIR_EXPORT VXTQirError VXQIR_ReplayStreamData(VXTQirChannelHandle channelHandle,
                                                const VXTQirPacketPropertiesT* packetProperties, const uint8_t* buffer,
                                                uint16_t bufferSize);

VXQIR_EXPORT VXTQirError VXQIR_ResetChannel(VXTQirChannelHandle channelHandle);
VXQIR_EXPORT VXTQirError VXQIR_ClearStatusFlags(VXTQirChannelHandle channelHandle);

/* Fixed English text of a result; "Invalid error code" for unknown values.
 * Never NULL, never to be freed; touches no library state. */
VXQIR_EXPORT const char* VXQIR_ErrorToString(VXTQirError error);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VXQIR_API_H */
