/* UdpDrain.c - a draining UDP receiver for bench/peers.sh.
 *
 * usage: udp_drain ADDRESS PORT IDLE_MS
 * Binds ADDRESS:PORT (a loopback address), reads every datagram with
 * recvmmsg until no datagram came for IDLE_MS after the first one (or
 * SIGTERM / SIGINT), then prints one line:
 *   datagrams=N bytes=B seconds=S
 * where S runs from the first datagram to the last. It writes "ready" to
 * standard error once bound, so the script starts a sender only then.
 * Exit status: 0 done, 1 socket failure, 2 usage. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define BATCH 64
#define MAX_DATAGRAM 65536

static volatile sig_atomic_t stopping = 0;

static void stop(int signal_number)
{
    (void)signal_number;
    stopping = 1;
}

static double now_seconds(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: udp_drain ADDRESS PORT IDLE_MS\n");
        return 2;
    }
    struct sockaddr_in at;
    memset(&at, 0, sizeof at);
    at.sin_family = AF_INET;
    at.sin_port = htons((unsigned short)atoi(argv[2]));
    if (inet_pton(AF_INET, argv[1], &at.sin_addr) != 1 || (ntohl(at.sin_addr.s_addr) >> 24) != 127) {
        fprintf(stderr, "udp_drain: %s is not a loopback address\n", argv[1]);
        return 2;
    }
    const int idle_ms = atoi(argv[3]);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 64 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (fd < 0 || bind(fd, (struct sockaddr*)&at, sizeof at) != 0) {
        fprintf(stderr, "udp_drain: cannot bind %s:%s: %s\n", argv[1], argv[2], strerror(errno));
        return 1;
    }
    signal(SIGTERM, stop);
    signal(SIGINT, stop);
    fprintf(stderr, "ready\n");

    static char buffers[BATCH][MAX_DATAGRAM];
    struct iovec iov[BATCH];
    struct mmsghdr messages[BATCH];
    for (int i = 0; i < BATCH; ++i) {
        iov[i].iov_base = buffers[i];
        iov[i].iov_len = MAX_DATAGRAM;
        memset(&messages[i], 0, sizeof messages[i]);
        messages[i].msg_hdr.msg_iov = &iov[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    unsigned long long datagrams = 0, bytes = 0;
    double first = 0, last = 0;
    while (!stopping) {
        struct pollfd p = { .fd = fd, .events = POLLIN };
        const int ready = poll(&p, 1, datagrams == 0 ? 1000 : idle_ms);
        if (ready == 0 && datagrams > 0)
            break; /* the sender is done */
        if (ready <= 0)
            continue;
        const int n = recvmmsg(fd, messages, BATCH, MSG_DONTWAIT, NULL);
        if (n <= 0)
            continue;
        last = now_seconds();
        if (datagrams == 0)
            first = last;
        datagrams += (unsigned long long)n;
        for (int i = 0; i < n; ++i)
            bytes += messages[i].msg_len;
    }
    printf("datagrams=%llu bytes=%llu seconds=%.6f\n", datagrams, bytes, last - first);
    close(fd);
    return 0;
}
