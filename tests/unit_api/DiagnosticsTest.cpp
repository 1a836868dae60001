// The library's diagnostic lines: their default streams, redirection to a
// sink and back, and lines written from several threads at once.
#include "AllocationCounter.h"
#include "Diagnostics.h"
#include "SocketHandle.h"
#include "socket.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vxqir {
namespace {

using Line = std::pair<DiagnosticStream, std::string>;

// Collects the lines of the library while it lives and restores the
// default destination when it goes. Its sink relies on the library never
// calling it twice at once, so that ThreadSanitizer sees any overlap.
class CollectedLines {
public:
    CollectedLines()
    {
        setDiagnosticSink(
            [this](DiagnosticStream stream, std::string_view line) { lines_.emplace_back(stream, std::string(line)); });
    }
    ~CollectedLines() { setDiagnosticSink({}); }
    CollectedLines(const CollectedLines&) = delete;
    CollectedLines& operator=(const CollectedLines&) = delete;

    const std::vector<Line>& lines() const { return lines_; }

private:
    std::vector<Line> lines_;
};

struct Printed {
    std::string out;
    std::string err;
};

template <typename Action>
Printed capture(Action&& action)
{
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    action();
    Printed printed;
    printed.err = ::testing::internal::GetCapturedStderr();
    printed.out = ::testing::internal::GetCapturedStdout();
    return printed;
}

// Library calls that each write known lines: binding a socket twice
// (standard output) and sending a negative length (standard error).
void writeKnownLines()
{
    SocketHandle socket(socket_create());
    ASSERT_TRUE(socket.valid());
    ASSERT_EQ(bind_socket(socket.get(), "127.0.0.1", 0), SocketError::NoError);
    EXPECT_EQ(bind_socket(socket.get(), "127.0.0.1", 0), SocketError::GenericError);
    EXPECT_EQ(socket_send(socket.get(), "x", -1, 0, "127.0.0.1", 9), SocketError::GenericError);
}

TEST(Diagnostics, ByDefaultLinesGoToTheirStreamsWithTheirLineEnds)
{
    const Printed printed = capture(writeKnownLines);
    EXPECT_EQ(printed.out, "0\n-1\nBind: The socket is already bound to an address.\n");
    EXPECT_EQ(printed.err, "Error: Failed to send data (errno 22)\n");
}

TEST(Diagnostics, ABindFailureOfAnyOtherKindEndsItsLine)
{
    // bind on a descriptor that is no socket fails with ENOTSOCK, a reason
    // without a text of its own.
    const int notASocket = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(notASocket, 0);
    SocketError result = SocketError::NoError;
    const Printed printed = capture([&] { result = bind_socket(notASocket, "127.0.0.1", 0); });
    ::close(notASocket);
    EXPECT_EQ(result, SocketError::GenericError);
    EXPECT_EQ(printed.out, "-1\nBind: Failed with errno " + std::to_string(ENOTSOCK) + "\n");
}

TEST(Diagnostics, ASinkTakesEveryLineWithoutItsLineEndUntilTheDefaultIsRestored)
{
    std::vector<Line> lines;
    {
        CollectedLines collected;
        const Printed printed = capture(writeKnownLines);
        EXPECT_EQ(printed.out, "");
        EXPECT_EQ(printed.err, "");
        lines = collected.lines();
    }
    const std::vector<Line> expected = {
        { DiagnosticStream::Output, "0" },
        { DiagnosticStream::Output, "-1" },
        { DiagnosticStream::Output, "Bind: The socket is already bound to an address." },
        { DiagnosticStream::Error, "Error: Failed to send data (errno 22)" },
    };
    EXPECT_EQ(lines, expected);

    const Printed restored = capture(writeKnownLines);
    EXPECT_EQ(restored.out, "0\n-1\nBind: The socket is already bound to an address.\n");
    EXPECT_EQ(restored.err, "Error: Failed to send data (errno 22)\n");
}

TEST(Diagnostics, ALineLongerThanTheFormattingBufferReachesTheSinkWhole)
{
    const std::string address(3000, '7');
    CollectedLines collected;
    diagnose(DiagnosticStream::Output, "[Debug] IP %s too old.", address.c_str());
    ASSERT_EQ(collected.lines().size(), 1u);
    EXPECT_EQ(collected.lines()[0].second, "[Debug] IP " + address + " too old.");
}

TEST(Diagnostics, ALineRefusedByAThrowingSinkGoesToItsStream)
{
    // A short line and one longer than the formatting buffer, which takes
    // the other way to the sink.
    const std::string address(3000, '7');
    setDiagnosticSink([](DiagnosticStream, std::string_view) { throw std::runtime_error("display gone"); });
    const Printed printed = capture([&] {
        diagnose(DiagnosticStream::Error, "Error: Failed to close socket (errno %d)", 9);
        diagnose(DiagnosticStream::Output, "[Debug] IP %s too old.", address.c_str());
    });
    setDiagnosticSink({});
    EXPECT_EQ(printed.err, "Error: Failed to close socket (errno 9)\n");
    EXPECT_EQ(printed.out, "[Debug] IP " + address + " too old.\n");
}

TEST(Diagnostics, TheDefaultPathAllocatesNothing)
{
    ::testing::internal::CaptureStderr();
    diagnose(DiagnosticStream::Error, "Error: Failed to send data (errno %d)", 0); // stream set-up
    const uint64_t before = qir::test::thread_allocation_count();
    for (int i = 0; i < 50; ++i)
        diagnose(DiagnosticStream::Error, "Error: Failed to send data (errno %d)", i);
    const uint64_t during = qir::test::thread_allocation_count() - before;
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(during, 0u);
    EXPECT_NE(printed.find("(errno 49)\n"), std::string::npos);
}

TEST(Diagnostics, LinesFromSeveralThreadsReachTheSinkWholeAndOnceEach)
{
    constexpr int kThreads = 4;
    constexpr int kLines = 500;
    std::vector<Line> lines;
    {
        CollectedLines collected;
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t)
            writers.emplace_back([t] {
                for (int i = 0; i < kLines; ++i)
                    diagnose(t % 2 == 0 ? DiagnosticStream::Output : DiagnosticStream::Error,
                             "[Debug] IP 127.0.0.%d, last ping: %d ago -> SUCCESS", t, i);
            });
        for (std::thread& writer : writers)
            writer.join();
        lines = collected.lines();
    }
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::set<std::string> distinct;
    for (const auto& [stream, text] : lines) {
        int thread = -1;
        int serial = -1;
        ASSERT_EQ(std::sscanf(text.c_str(), "[Debug] IP 127.0.0.%d, last ping: %d ago -> SUCCESS", &thread, &serial), 2)
            << text;
        EXPECT_EQ(stream, thread % 2 == 0 ? DiagnosticStream::Output : DiagnosticStream::Error) << text;
        distinct.insert(text);
    }
    EXPECT_EQ(distinct.size(), lines.size());
}

TEST(Diagnostics, AReplacedSinkIsNeverCalledAfterTheReplacementReturns)
{
    // Each sink counts without a lock of its own: the library serialises
    // its calls, and a late call of the first sink would show in its count.
    int first = 0;
    int second = 0;
    std::atomic<bool> stop{ false };
    std::atomic<int> written{ 0 };
    setDiagnosticSink([&first](DiagnosticStream, std::string_view) { ++first; });
    std::thread writer([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!stop.load() && std::chrono::steady_clock::now() < deadline) {
            diagnose(DiagnosticStream::Output, "[Debug] IP %s could not be found", "127.0.0.2");
            written.fetch_add(1);
        }
    });
    const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (written.load() < 100 && std::chrono::steady_clock::now() < patience)
        std::this_thread::yield();
    setDiagnosticSink([&second](DiagnosticStream, std::string_view) { ++second; });
    const int firstAtReplacement = first;
    const int target = written.load() + 100;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (written.load() < target && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    stop.store(true);
    writer.join();
    setDiagnosticSink({});

    EXPECT_GT(firstAtReplacement, 0);
    EXPECT_EQ(first, firstAtReplacement);
    EXPECT_GT(second, 0);
}

} // namespace
} // namespace vxqir
