// ApiFixture.h - an isolated library core talking to a scripted unit.
#pragma once

#include "ScriptedUnit.h"
#include "VXQIRApiImpl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace vxqir::test {

// Waits (bounded) until pred holds; returns its last value.
template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class ApiFixture : public ::testing::Test {
protected:
    ApiFixture() : api_(VXQIRApiS::createIsolated([] { return int64_t{ 0 }; }, [](const char*) { return true; })) { }

    // Registers channel `index` of unit_ with the given config; fails the test
    // on error.
    VXTQirChannelHandle registerChannel(const VXTQirInputInterfaceT& config, VXTQirChannelNumber index = 0)
    {
        VXTQirChannelHandle handle = -1;
        EXPECT_EQ(api_->registerOutputChannel(&config, index, &handle), NoError);
        return handle;
    }

    // Registers and prepares channel 0 of unit_ and waits for its first
    // periodic status with the given free FIFO entries (out of 100).
    VXTQirChannelHandle readyChannel(const VXTQirInputInterfaceT& config, uint32_t freeEntries = 100)
    {
        const VXTQirChannelHandle handle = registerChannel(config);
        EXPECT_EQ(api_->initOutputChannel(handle, 1920, 1080), NoError);
        unit_.sendStatus(0, STATUS_FLAG_ENABLED, 0, freeEntries, 1);
        EXPECT_TRUE(eventually([&] {
            VXTQirStatusT status{};
            return api_->getCurrentState(handle, &status) == NoError;
        }));
        return handle;
    }

    // A request round trip: once it returns, every datagram the unit sent
    // before its reply has been processed by the listener.
    void sync(VXTQirChannelHandle handle) { EXPECT_EQ(api_->resetChannel(handle), NoError); }

    std::unique_ptr<VXQIRApiS> api_;
    ScriptedUnit unit_;
};

} // namespace vxqir::test
