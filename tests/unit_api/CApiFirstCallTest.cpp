// The process-wide core comes into being with the first call that needs it.
// This program holds a single test: it must start in a fresh process.
#include "VXQIRApi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

namespace {

size_t threadCount()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

TEST(CApiFirstCall, ErrorTextsNeedNoCoreAndConcurrentFirstCallsShareOneListener)
{
    const size_t before = threadCount();
    EXPECT_STREQ(VXQIR_ErrorToString(Timeout), "Timeout");
    EXPECT_EQ(threadCount(), before);

    std::vector<std::thread> callers;
    std::vector<VXTQirError> results(8, NoError);
    for (size_t i = 0; i < results.size(); ++i)
        callers.emplace_back([&results, i] { results[i] = VXQIR_UnregisterOutputChannel(4711); });
    for (std::thread& caller : callers)
        caller.join();
    for (VXTQirError result : results)
        EXPECT_EQ(result, InvalidChannelHandle);
    EXPECT_EQ(threadCount(), before + 1); // one listener thread
}

} // namespace
