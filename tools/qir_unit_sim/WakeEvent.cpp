#include "WakeEvent.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace vxqir::sim {

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot create a wake-up eventfd");
}

WakeEvent::~WakeEvent()
{
    ::close(fd_);
}

void WakeEvent::signal()
{
    const uint64_t one = 1;
    // A full counter (impossible in practice) still leaves the fd readable.
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof(one));
}

void WakeEvent::clear()
{
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &value, sizeof(value));
}

} // namespace vxqir::sim
