// The process-wide core comes into being with the first call that needs it.
// This program holds a single test: it must start in a fresh process.
#include "VXQIRApi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Threads of this process that carry the listener's name.
size_t listenerThreads()
{
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(entry.path() / "comm"), name);
        if (name == "vxqir-listener")
            ++n;
    }
    return n;
}

TEST(CApiFirstCall, ErrorTextsNeedNoCoreAndConcurrentFirstCallsShareOneListener)
{
    EXPECT_STREQ(VXQIR_ErrorToString(Timeout), "Timeout");
    EXPECT_EQ(listenerThreads(), 0u);

    std::vector<std::thread> callers;
    std::vector<VXTQirError> results(8, NoError);
    for (size_t i = 0; i < results.size(); ++i)
        callers.emplace_back([&results, i] { results[i] = VXQIR_UnregisterOutputChannel(4711); });
    for (std::thread& caller : callers)
        caller.join();
    for (VXTQirError result : results)
        EXPECT_EQ(result, InvalidChannelHandle);
    // The listener names itself once it runs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (listenerThreads() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(listenerThreads(), 1u);
}

} // namespace
