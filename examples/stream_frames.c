/*
 * stream_frames.c - streams generated test frames to one channel of a QIR
 * unit through the C API of libvxqir.
 *
 *   vxqir-stream-example --control-ip 127.0.0.2 --control-port 50000 \
 *       --data-ip 127.0.0.3 --data-port 50100 --frames 10 --width 640 --height 480
 *
 * Frame f, line l, byte i holds (f*7 + l*3 + i) & 0xFF; every line is one
 * block with frameNumber f and lineNumber l, and a whole frame goes out in
 * one VXQIR_ReplayStreamBlocks call (a frame above 8 MiB in runs of lines
 * of up to 8 MiB), which sends what one VXQIR_ReplayStreamData per line
 * would send with far fewer system calls. At the
 * end it prints "frames_sent=N checksum=H", H being the FNV-1a 64-bit hash of
 * the last frame's bytes in line order, so that a receiver can compare.
 * Exits 1 on any error, naming the call and the library's text for it (a
 * time-out says what did not come in time); 2 on a usage error.
 *
 * SIGINT or SIGTERM before registration (the reachability probe included)
 * ends the program with status 130 at once. During the stream it stops after
 * the call being made (the frame, or the run of lines, being sent; a call
 * waiting for room in the unit's FIFO returns at its time-out): the channel is unregistered (the unit stops replay
 * and status messages), the frames sent so far are printed ("frames_sent=N")
 * and the exit status is 130.
 */
#define _POSIX_C_SOURCE 200809L

#include <VXQIRApi.h>
#include <VXQIRApiBatch.h>

#include <getopt.h>
#include <inttypes.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

struct options {
    VXTQirInputInterfaceT unit;
    VXTQirChannelNumber channel;
    long frames;
    long width;
    long height;
    int skipPing;
};

static const uint64_t FNV_OFFSET = 14695981039346656037ull;
static const uint64_t FNV_PRIME = 1099511628211ull;

/* Set by SIGINT and SIGTERM; the stream loop polls it between calls. */
static volatile sig_atomic_t stopSignal = 0;

static void onStopSignal(int signal)
{
    stopSignal = signal;
}

static void installStopSignals(void)
{
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, NULL);
    sigaction(SIGTERM, &action, NULL);
}

static void usage(FILE* out, const char* program)
{
    fprintf(out,
            "usage: %s [OPTIONS]\n"
            "Streams generated test frames to one channel of a QIR unit through libvxqir.\n"
            "\n"
            "  --control-ip A     unit control address (default 127.0.0.2)\n"
            "  --control-port P   unit control port, 1-65535 (default 50000)\n"
            "  --data-ip A        unit sensor-data address (default 127.0.0.3)\n"
            "  --data-port P      data port of channel 0, 0-65535 (default 50100)\n"
            "  --local-ip A       local address of the control socket (default: any)\n"
            "  --local-port P     local port of the control socket, 0-65535 (default 0: any)\n"
            "  --channel N        channel index, 0-255 (default 0)\n"
            "  --frames N         frames to send, 1-65536 (default 10)\n"
            "  --width W          bytes per line, 1-65535 (default 640)\n"
            "  --height H         lines per frame, 1-65535 (default 480)\n"
            "  --payload N        largest payload per datagram, 8-65535 (default 1448)\n"
            "  --timeout-ms T     reply time-out, 1-600000 (default 1000); sending waits twice as long\n"
            "  --skip-ping        do not ping the unit's addresses first\n"
            "  -h, --help         show this text and exit\n"
            "\n"
            "Exit status: 0 all frames sent; 1 a call failed; 2 usage error; 130 stopped by SIGINT or SIGTERM\n"
            "(the channel is unregistered and the frames sent are printed).\n",
            program);
}

/* Parses a whole decimal number within [min, max]; exits with a message otherwise. */
static long number(const char* option, const char* text, long min, long max)
{
    char* end = NULL;
    long value = strtol(text, &end, 10);
    if (text[0] == '\0' || *end != '\0' || value < min || value > max) {
        fprintf(stderr, "error: --%s expects a number from %ld to %ld, got \"%s\"\n", option, min, max, text);
        exit(2);
    }
    return value;
}

static void parse(int argc, char** argv, struct options* o)
{
    static const struct option longOptions[] = {
        { "control-ip", required_argument, 0, 'c' },
        { "control-port", required_argument, 0, 'C' },
        { "data-ip", required_argument, 0, 'd' },
        { "data-port", required_argument, 0, 'D' },
        { "local-ip", required_argument, 0, 'l' },
        { "local-port", required_argument, 0, 'L' },
        { "channel", required_argument, 0, 'n' },
        { "frames", required_argument, 0, 'f' },
        { "width", required_argument, 0, 'w' },
        { "height", required_argument, 0, 'H' },
        { "payload", required_argument, 0, 'p' },
        { "timeout-ms", required_argument, 0, 't' },
        { "skip-ping", no_argument, 0, 's' },
        { "help", no_argument, 0, 'h' },
        { 0, 0, 0, 0 },
    };
    memset(o, 0, sizeof(*o));
    o->unit.controlIP = "127.0.0.2";
    o->unit.controlPort = 50000;
    o->unit.dataIP = "127.0.0.3";
    o->unit.dataBasePort = 50100;
    o->unit.localIP = NULL;
    o->unit.localPort = 0;
    o->unit.maxPayloadSize = 1448;
    o->unit.timeoutGet_ms = 1000;
    o->unit.timeoutStream_ms = 2000;
    o->frames = 10;
    o->width = 640;
    o->height = 480;

    int c;
    while ((c = getopt_long(argc, argv, "h", longOptions, NULL)) != -1) {
        switch (c) {
        case 'c':
            o->unit.controlIP = optarg;
            break;
        case 'C':
            o->unit.controlPort = (uint16_t)number("control-port", optarg, 1, 65535);
            break;
        case 'd':
            o->unit.dataIP = optarg;
            break;
        case 'D':
            o->unit.dataBasePort = (uint16_t)number("data-port", optarg, 0, 65535);
            break;
        case 'l':
            o->unit.localIP = optarg;
            break;
        case 'L':
            o->unit.localPort = (uint16_t)number("local-port", optarg, 0, 65535);
            break;
        case 'n':
            o->channel = (VXTQirChannelNumber)number("channel", optarg, 0, 255);
            break;
        case 'f':
            o->frames = number("frames", optarg, 1, 65536);
            break;
        case 'w':
            o->width = number("width", optarg, 1, 65535);
            break;
        case 'H':
            o->height = number("height", optarg, 1, 65535);
            break;
        case 'p':
            o->unit.maxPayloadSize = (uint16_t)number("payload", optarg, 8, 65535);
            break;
        case 't':
            o->unit.timeoutGet_ms = (uint32_t)number("timeout-ms", optarg, 1, 600000);
            o->unit.timeoutStream_ms = o->unit.timeoutGet_ms * 2;
            break;
        case 's':
            o->skipPing = 1;
            break;
        case 'h':
            usage(stdout, argv[0]);
            exit(0);
        default:
            fprintf(stderr, "Run %s --help for the options.\n", argv[0]);
            exit(2);
        }
    }
    if (optind != argc) {
        fprintf(stderr, "error: unexpected argument \"%s\"\nRun %s --help for the options.\n", argv[optind], argv[0]);
        exit(2);
    }
}

/* What a time-out of `call` means, from what the library tells. */
static void explainTimeout(const char* call, const struct options* o, VXTQirChannelHandle handle)
{
    if (strcmp(call, "VXQIR_ReplayStreamBlocks") == 0) {
        VXTQirStatusT state;
        const VXTQirError result = VXQIR_GetCurrentState(handle, &state);
        if (result == DataNotAvailable)
            fprintf(stderr,
                    "  no status message from the unit has arrived, so free room in its replay FIFO was never "
                    "reported; sending waited %" PRIu32 " ms\n",
                    o->unit.timeoutStream_ms);
        else if (result == NoError)
            fprintf(stderr,
                    "  the unit's replay FIFO had no room for the block for %" PRIu32 " ms (last status: "
                    "freeFifoEntries=%" PRIu32 " enabled=%d loss=%d)\n",
                    o->unit.timeoutStream_ms, state.freeFifoEntries, state.enabled, state.loss);
        else
            fprintf(stderr, "  sending waited %" PRIu32 " ms for room in the unit's replay FIFO\n",
                    o->unit.timeoutStream_ms);
        return;
    }
    fprintf(stderr,
            "  no reply from the unit's control address %s:%u to the request of %s within %" PRIu32
            " ms (--timeout-ms)\n",
            o->unit.controlIP, (unsigned)o->unit.controlPort, call, o->unit.timeoutGet_ms);
}

/* Prints the failed call with the library's text; returns 1 on failure. */
static int failedOn(const char* call, VXTQirError result, const struct options* o, VXTQirChannelHandle handle)
{
    if (result == NoError)
        return 0;
    fprintf(stderr, "error: %s: %s (%d)\n", call, VXQIR_ErrorToString(result), (int)result);
    if (result == Timeout && o != NULL)
        explainTimeout(call, o, handle);
    return 1;
}

static int failed(const char* call, VXTQirError result)
{
    return failedOn(call, result, NULL, -1);
}

static double seconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

/* Lines handed to the library in one call: a whole frame, or as many lines
 * as fit in RUN_BYTES when a frame is larger. */
static const long RUN_BYTES = 8L << 20;

static int stream(const struct options* o, VXTQirChannelHandle handle)
{
    const long runLines = o->width * o->height <= RUN_BYTES ? o->height
        : RUN_BYTES / o->width > 0                          ? RUN_BYTES / o->width
                                                            : 1;
    uint8_t* lines = malloc((size_t)(o->width * runLines));
    VXTQirReplayBlockT* blocks = malloc(sizeof(VXTQirReplayBlockT) * (size_t)runLines);
    if (lines == NULL || blocks == NULL) {
        fprintf(stderr, "error: out of memory for %ld lines of %ld bytes\n", runLines, o->width);
        free(lines);
        free(blocks);
        return 1;
    }
    uint64_t checksum = FNV_OFFSET;
    uint64_t bytes = 0;
    const double start = seconds();
    int status = 0;

    long framesSent = 0;
    long linesOfFrame = 0; /* lines sent of the frame being sent */
    for (long f = 0; f < o->frames && status == 0 && !stopSignal; ++f) {
        checksum = FNV_OFFSET;
        linesOfFrame = 0;
        while (linesOfFrame < o->height && status == 0 && !stopSignal) {
            /* One run of lines: a block per line, all sent by one call. */
            const long first = linesOfFrame;
            const long count = o->height - first < runLines ? o->height - first : runLines;
            for (long k = 0; k < count; ++k) {
                uint8_t* line = lines + k * o->width;
                const long l = first + k;
                for (long i = 0; i < o->width; ++i) {
                    line[i] = (uint8_t)((f * 7 + l * 3 + i) & 0xFF);
                    checksum = (checksum ^ line[i]) * FNV_PRIME;
                }
                VXTQirReplayBlockT* block = &blocks[k];
                memset(block, 0, sizeof(*block));
                block->properties.timestamp = (uint64_t)f * 33333333u; /* 30 frames per second */
                block->properties.frameNumber = (uint16_t)f;
                block->properties.lineNumber = (uint16_t)l;
                block->properties.streamID = 0;
                block->payload = line;
                block->payloadSize = (uint16_t)o->width;
            }
            uint32_t sent = 0;
            const VXTQirError result = VXQIR_ReplayStreamBlocks(handle, blocks, (uint32_t)count, &sent);
            linesOfFrame += (long)sent;
            bytes += (uint64_t)sent * (uint64_t)o->width;
            /* A stop during a long wait for room is a stop, not an error. */
            if (result != NoError && stopSignal)
                break;
            status = failedOn("VXQIR_ReplayStreamBlocks", result, o, handle);
        }
        if (linesOfFrame == o->height)
            ++framesSent;
        if (stopSignal)
            break;
        if (status == 0 && ((f + 1) % 10 == 0 || f + 1 == o->frames))
            printf("sent frame %ld of %ld\n", f + 1, o->frames);
    }
    free(blocks);
    free(lines);
    if (status != 0)
        return status;
    if (stopSignal) {
        printf("stopped by %s: frames_sent=%ld, %" PRIu64 " bytes", stopSignal == SIGINT ? "SIGINT" : "SIGTERM",
               framesSent, bytes);
        if (linesOfFrame > 0 && linesOfFrame < o->height)
            printf("; frame %ld stopped after %ld of %ld lines", framesSent, linesOfFrame, o->height);
        printf("\n");
        return 130;
    }

    const double elapsed = seconds() - start;
    printf("streamed %" PRIu64 " bytes in %.3f s (%.1f MB/s)\n", bytes, elapsed,
           elapsed > 0 ? (double)bytes / elapsed / 1e6 : 0.0);
    printf("frames_sent=%ld checksum=%016" PRIx64 "\n", o->frames, checksum);
    return 0;
}

int main(int argc, char** argv)
{
    struct options o;
    parse(argc, argv, &o);
    installStopSignals();

    /* A signal during the reachability probe ends it as failed: the signal,
     * not the failure, is the reason to stop then. */
    const VXTQirError reachable = o.skipPing ? NoError : VXQIR_IsInputInterfaceAvailable(&o.unit);
    if (!stopSignal && failed("VXQIR_IsInputInterfaceAvailable", reachable))
        return 1;
    if (stopSignal) {
        printf("stopped by a signal before registering: frames_sent=0\n");
        return 130;
    }

    VXTQirChannelHandle handle = -1;
    if (failed("VXQIR_RegisterOutputChannel", VXQIR_RegisterOutputChannel(&o.unit, o.channel, &handle)))
        return 1;

    int status = failedOn("VXQIR_InitOutputChannel",
                          VXQIR_InitOutputChannel(handle, (uint16_t)o.width, (uint16_t)o.height), &o, handle);
    if (status == 0)
        status = stream(&o, handle);
    if (status == 130) {
        const int unregistered = !failed("VXQIR_UnregisterOutputChannel", VXQIR_UnregisterOutputChannel(handle));
        printf("channel %d %s\n", (int)o.channel, unregistered ? "unregistered" : "not unregistered");
        return 130;
    }

    if (status == 0) {
        VXTQirStatusT state;
        const VXTQirError result = VXQIR_GetCurrentState(handle, &state);
        if (result == NoError)
            printf("unit status: enabled=%d loss=%d ptpSynced=%d ptpActive=%d freeFifoEntries=%u "
                   "time=%" PRIu64 " ns\n",
                   state.enabled, state.loss, state.ptpSynced, state.ptpActive, state.freeFifoEntries,
                   state.currentTime_ns);
        else
            printf("unit status: %s\n", VXQIR_ErrorToString(result));
    }

    if (failedOn("VXQIR_UnregisterOutputChannel", VXQIR_UnregisterOutputChannel(handle), &o, handle))
        status = 1;
    return status;
}
