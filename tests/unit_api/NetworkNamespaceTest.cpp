// Real probes and a real 1500-byte MTU, in a network namespace of the test's
// own (needs the right to create one; skipped otherwise).
#include "ReplayMessages.h"
#include "SocketHandle.h"
#include "socket.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace vxqir {
namespace {

constexpr int SKIPPED = 77;

// Sets the loopback interface of the current namespace up or down, with an MTU.
bool configureLoopback(bool up, int mtu)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    request.ifr_mtu = mtu;
    bool ok = ::ioctl(fd, SIOCSIFMTU, &request) == 0;
    std::memset(&request.ifr_ifru, 0, sizeof(request.ifr_ifru));
    ok = ok && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up)
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    else
        request.ifr_flags = static_cast<short>(request.ifr_flags & ~IFF_UP);
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

// Runs body in a child process inside a new network namespace; the child's
// exit code is body's result (0 success), or SKIPPED.
int inOwnNetwork(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(SKIPPED);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

TEST(NetworkNamespace, AnAddressThatDoesNotAnswerFailsTheProbeAndOneThatDoesPassesIt)
{
    const int result = inOwnNetwork([] {
        // A new namespace starts with its loopback interface down.
        if (is_available("127.0.0.1"))
            return 1;
        if (!configureLoopback(true, 65536))
            return SKIPPED;
        return is_available("127.0.0.1") ? 0 : 2;
    });
    if (result == SKIPPED)
        GTEST_SKIP() << "cannot create a network namespace here";
    EXPECT_EQ(result, 0);
}

TEST(NetworkNamespace, A1500ByteMtuCarries1448PayloadBytesAndRefuses1449)
{
    const int result = inOwnNetwork([] {
        if (!configureLoopback(true, 1500))
            return SKIPPED;
        SocketHandle socket(socket_create());
        std::vector<uint8_t> datagram(SENSOR_HEADER_SIZE + maxSensorPayloadForMtu(1500) + 1);
        if (socket_send(socket.get(), datagram.data(), static_cast<int>(datagram.size()) - 1, 0, "127.0.0.1", 9) !=
            SocketError::NoError)
            return 1;
        return socket_send(socket.get(), datagram.data(), static_cast<int>(datagram.size()), 0, "127.0.0.1", 9) ==
                SocketError::FragmentationError
            ? 0
            : 2;
    });
    if (result == SKIPPED)
        GTEST_SKIP() << "cannot create a network namespace here";
    EXPECT_EQ(result, 0);
}

} // namespace
} // namespace vxqir
