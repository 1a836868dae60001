// Sending a block allocates nothing. This program replaces the global
// allocation functions to count what each thread allocates.
#include "ApiFixture.h"

#include <cstdlib>
#include <new>

namespace {

thread_local size_t allocations = 0;

} // namespace

void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace vxqir::test {
namespace {

using Allocation = ApiFixture;

TEST_F(Allocation, SendingBlocksAllocatesNothing)
{
    const VXTQirInputInterfaceT config = unit_.config(1448, 1000, 5000);
    const VXTQirChannelHandle handle = readyChannel(config);
    unit_.startPeriodicStatus(0, 100, std::chrono::milliseconds(1));
    const Bytes line(4000, 7); // three datagrams per block

    VXTQirPacketPropertiesT packet{};
    ASSERT_EQ(api_->replayStreamData(handle, &packet, line.data(), 4000), NoError); // warm up

    const size_t before = allocations;
    VXTQirError worst = NoError;
    for (uint16_t i = 0; i < 200; ++i) {
        packet.lineNumber = i;
        const VXTQirError result = api_->replayStreamData(handle, &packet, line.data(), 4000);
        if (result != NoError)
            worst = result;
    }
    const size_t during = allocations - before;
    EXPECT_EQ(worst, NoError);
    EXPECT_EQ(during, 0u);
}

} // namespace
} // namespace vxqir::test
