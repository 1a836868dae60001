// A stop asked for by a host that takes the signals itself.

#include "StopSignals.h"

#include <gtest/gtest.h>

#include <csignal>

namespace qir::tools {
namespace {

TEST(StopSignals, KeepsTheFirstRequestedStopUntilItIsCleared)
{
    clear_stop_request();
    ASSERT_FALSE(stop_requested());

    request_stop(SIGTERM);
    request_stop(SIGINT);
    EXPECT_TRUE(stop_requested());
    EXPECT_EQ(stop_signal(), SIGTERM) << "the first request names the stop";

    clear_stop_request();
    EXPECT_FALSE(stop_requested());
    EXPECT_EQ(stop_signal(), 0);

    // The next loop can be stopped again.
    request_stop(SIGINT);
    EXPECT_EQ(stop_signal(), SIGINT);
    clear_stop_request();
}

} // namespace
} // namespace qir::tools
