// CollectedAssertions.h - assertions on what a test collected (reports,
// printed text) that show the collection when they fail.
//
// EXPECT_TRUE(kernel.Has(...)) prints only "false"; these return an
// AssertionResult whose message names the fragment looked for and lists
// everything that was there, for EXPECT_TRUE and EXPECT_FALSE alike:
//
//   EXPECT_TRUE(qir::test::HasReport(log, "c", "[Death] ran"));
//   EXPECT_FALSE(qir::test::HasReport(log, "c", "Couldn't start"));
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qir::test {

/// The verdict `found` on a search for `wanted` (as a reader should see it,
/// e.g. `a report from "c" containing "ping"`), with `collected`, the whole
/// collection, printed after it.
inline ::testing::AssertionResult FoundIn(bool found, std::string_view wanted, std::string_view collected)
{
    ::testing::AssertionResult result = found ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
    result << (found ? "found " : "no ") << wanted << " among what was collected:\n";
    if (collected.empty())
        result << "  (nothing)\n";
    else
        result << collected;
    return result;
}

/// A report of `log` from `source` (empty: any source) whose text contains
/// `fragment`. `Log` is a report log with Contains(source, fragment) and
/// Text(), such as host::ReportLog.
template <typename Log>
::testing::AssertionResult HasReport(const Log& log, const std::string& source, const std::string& fragment)
{
    const std::string from = source.empty() ? std::string("any source") : "\"" + source + "\"";
    return FoundIn(log.Contains(source, fragment), "report from " + from + " containing \"" + fragment + "\"",
                   log.Text());
}

/// A report of `kernel` at `level` whose text contains `fragment`. `Kernel`
/// is a test kernel with Has(level, fragment) and Text(), such as TestKernel.
template <typename Kernel>
::testing::AssertionResult HasReportAt(Kernel& kernel, int32_t level, const std::string& fragment)
{
    return FoundIn(kernel.Has(level, fragment),
                   "report at level " + std::to_string(level) + " containing \"" + fragment + "\"", kernel.Text());
}

} // namespace qir::test
