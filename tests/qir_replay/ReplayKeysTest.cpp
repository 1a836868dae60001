// qir-replay's keys through a pseudo-terminal, as a user at a terminal
// types them, into an emulated unit of the test whose play times of every
// frame the test follows: a pause keeps the frames' spacing at the unit but
// for one gap that holds the pause, a step plays exactly the next frame in
// time order across channels, q and Ctrl-C end with the summary and 130,
// Ctrl-Z leaves the terminal as it was until the replay continues, and
// without keys (--no-keys, or standard input not a terminal) typing
// changes nothing. The terminal is put back as it was however it ends.
#include "ReplayToolRuns.h"
#include "ToolRunner.h"
#include "UnitEmulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cmath>
#include <chrono>
#include <csignal>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using qir::data_types::test::TempDir;
using qir::replay::test::generate;
using qir::replay::test::readJson;
using qir::replay::test::replayInto;
using namespace std::chrono_literals;

constexpr const char* kKeysLine = "keys: space pauses and resumes";

/// The terminal settings a fresh pseudo-terminal starts with: line editing,
/// echo and signals on.
termios cookedSettings()
{
    int master = -1;
    int slave = -1;
    termios settings{};
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
        ::tcgetattr(slave, &settings);
        ::close(slave);
        ::close(master);
    }
    return settings;
}

/// A program on a pseudo-terminal of the test: its standard output and
/// error (and input, unless `stdinFromNull`) are the terminal's other end.
/// What it writes is collected on a thread; it is killed and reaped on
/// destruction if still running.
class TerminalProgram {
public:
    /// How the program runs on the terminal: as the session's own process,
    /// or as a job of a small shell that stays in the session (so that
    /// Ctrl-Z stops it, which the kernel does not do to a session's leader
    /// whose group has no parent in the session).
    enum class Run { Alone, AsJob };

    TerminalProgram(const std::vector<std::string>& args, const termios& settings, bool stdinFromNull = false,
                    Run run = Run::Alone)
    {
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        termios initial = settings;
        pid_ = ::forkpty(&master_, nullptr, &initial, nullptr);
        if (pid_ == 0) {
            // Only async-signal-safe calls until exec.
            if (stdinFromNull) {
                const int none = ::open("/dev/null", O_RDONLY);
                ::dup2(none, STDIN_FILENO);
            }
            if (run == Run::AsJob)
                actAsShell(argv.data());
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (pid_ > 0)
            reader_ = std::thread([this] { collect(); });
    }

    ~TerminalProgram()
    {
        if (pid_ > 0 && !exitCode_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        stop_.store(true);
        if (reader_.joinable())
            reader_.join();
        if (master_ >= 0)
            ::close(master_);
    }

    bool started() const { return pid_ > 0; }

    void type(const std::string& keys) { ASSERT_EQ(::write(master_, keys.data(), keys.size()), ssize_t(keys.size())); }

    std::string output() const
    {
        std::lock_guard lock(mutex_);
        return output_;
    }

    bool waitForText(const std::string& text, std::chrono::milliseconds timeout) const
    {
        const auto limit = Clock::now() + timeout;
        while (Clock::now() < limit) {
            if (output().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    /// The exit status, or nullopt when it did not exit within `timeout`.
    std::optional<int> wait(std::chrono::milliseconds timeout)
    {
        const auto limit = Clock::now() + timeout;
        while (!exitCode_ && Clock::now() < limit) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_)
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else
                std::this_thread::sleep_for(10ms);
        }
        if (exitCode_) {
            // What it wrote last is read before the output is looked at.
            const auto drained = Clock::now() + 2s;
            while (!collected_.load() && Clock::now() < drained)
                std::this_thread::sleep_for(10ms);
        }
        return exitCode_;
    }

    /// Waits until the terminal's settings satisfy `wanted`; false when
    /// they did not within `timeout`.
    template <typename Predicate>
    bool waitForSettings(Predicate wanted, std::chrono::milliseconds timeout) const
    {
        const auto limit = Clock::now() + timeout;
        while (!wanted(settings())) {
            if (Clock::now() >= limit)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    /// The terminal's settings now.
    termios settings() const
    {
        termios now{};
        ::tcgetattr(master_, &now);
        return now;
    }

private:
    /// In the child of forkpty: runs `argv` as a job in the foreground of
    /// the terminal, as a shell with job control does. When the job stops,
    /// the shell takes the terminal back and writes "[job stopped]"; a line
    /// typed then continues the job, in the background when it starts with
    /// b (as bg), else in the foreground (as fg). Exits with the job's
    /// status. Async-signal-safe calls only.
    [[noreturn]] static void actAsShell(char* const* argv)
    {
        struct sigaction ignore { };
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGTTOU, &ignore, nullptr);
        const pid_t job = ::fork();
        if (job == 0) {
            ::setpgid(0, 0);
            ::tcsetpgrp(STDIN_FILENO, ::getpid());
            struct sigaction byDefault { };
            byDefault.sa_handler = SIG_DFL;
            ::sigaction(SIGTTOU, &byDefault, nullptr);
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        if (job < 0)
            ::_exit(127);
        ::setpgid(job, job);
        ::tcsetpgrp(STDIN_FILENO, job);
        for (;;) {
            int status = 0;
            if (::waitpid(job, &status, WUNTRACED) != job)
                ::_exit(127);
            if (WIFEXITED(status))
                ::_exit(WEXITSTATUS(status));
            if (WIFSIGNALED(status))
                ::_exit(128 + WTERMSIG(status));
            ::tcsetpgrp(STDIN_FILENO, ::getpgrp());
            const char stopped[] = "\n[job stopped]\n";
            (void)!::write(STDOUT_FILENO, stopped, sizeof stopped - 1);
            char line[64];
            if (::read(STDIN_FILENO, line, sizeof line) <= 0)
                ::_exit(127);
            if (line[0] != 'b')
                ::tcsetpgrp(STDIN_FILENO, job);
            ::kill(-job, SIGCONT);
        }
    }

    void collect()
    {
        while (!stop_.load()) {
            pollfd in{ .fd = master_, .events = POLLIN, .revents = 0 };
            if (::poll(&in, 1, 50) <= 0)
                continue;
            char bytes[4096];
            const ssize_t got = ::read(master_, bytes, sizeof bytes);
            if (got <= 0)
                break; // the program and every copy of its terminal end are gone
            std::lock_guard lock(mutex_);
            output_.append(bytes, static_cast<size_t>(got));
        }
        collected_.store(true);
    }

    pid_t pid_ = -1;
    int master_ = -1;
    std::optional<int> exitCode_;
    std::thread reader_;
    std::atomic<bool> stop_{ false };
    std::atomic<bool> collected_{ false };
    mutable std::mutex mutex_; // guards output_
    std::string output_;
};

/// Whether `now` is the terminal `before` was in line editing, echo,
/// signals, input and output handling.
::testing::AssertionResult sameMode(const termios& before, const termios& now)
{
    if (now.c_lflag == before.c_lflag && now.c_iflag == before.c_iflag && now.c_oflag == before.c_oflag &&
        now.c_cc[VMIN] == before.c_cc[VMIN] && now.c_cc[VTIME] == before.c_cc[VTIME])
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hex << "lflag " << now.c_lflag << " (was " << before.c_lflag
                                         << "), iflag " << now.c_iflag << " (was " << before.c_iflag << "), oflag "
                                         << now.c_oflag << " (was " << before.c_oflag << ")";
}

/// One frame's play at the unit as the test saw it: the channel had played
/// `played` frames, the latest at unit time `atNs`.
struct Played {
    uint64_t played = 0;
    uint64_t atNs = 0;
};

/// An emulated unit on 127.0.0.2 / 127.0.0.3 that plays lines at their
/// times, and a thread that notes every channel's play times as they
/// change (a frame every 100 ms or so, looked at every millisecond).
class WatchedUnit {
public:
    explicit WatchedUnit(unsigned channels) : plays_(channels)
    {
        vxqir::sim::EmulatorConfig config;
        config.controlIp = "127.0.0.2";
        config.dataIp = "127.0.0.3";
        config.channels = channels;
        config.socketReceiveBuffer = 4 << 20;
        config.channel.playout.kind = vxqir::sim::PlayoutKind::Timestamps;
        unit_ = std::make_unique<vxqir::sim::UnitEmulator>(config);
        unit_->start();
        watcher_ = std::thread([this] { watch(); });
    }

    ~WatchedUnit()
    {
        stop_.store(true);
        watcher_.join();
        unit_->stop();
    }

    const vxqir::sim::UnitEmulator& unit() const { return *unit_; }

    std::vector<Played> plays(unsigned channel) const
    {
        std::lock_guard lock(mutex_);
        return plays_.at(channel);
    }

    uint64_t played(unsigned channel) const
    {
        std::lock_guard lock(mutex_);
        return plays_.at(channel).empty() ? 0 : plays_[channel].back().played;
    }

    bool waitForPlayed(unsigned channel, uint64_t frames, std::chrono::milliseconds timeout) const
    {
        const auto limit = Clock::now() + timeout;
        while (played(channel) < frames) {
            if (Clock::now() >= limit)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    /// Waits until no channel played a frame for `quiet` (bounded by
    /// `timeout`); false when they kept playing.
    bool waitUntilStill(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) const
    {
        const auto limit = Clock::now() + timeout;
        std::vector<uint64_t> seen = total();
        auto stillSince = Clock::now();
        while (Clock::now() < limit) {
            std::this_thread::sleep_for(10ms);
            const std::vector<uint64_t> now = total();
            if (now != seen) {
                seen = now;
                stillSince = Clock::now();
            } else if (Clock::now() - stillSince >= quiet) {
                return true;
            }
        }
        return false;
    }

private:
    std::vector<uint64_t> total() const
    {
        std::vector<uint64_t> counts;
        for (unsigned c = 0; c < plays_.size(); ++c)
            counts.push_back(played(c));
        return counts;
    }

    void watch()
    {
        // Bounded by the test's life: it stops with the unit.
        while (!stop_.load()) {
            const auto snapshot = unit_->counters();
            {
                std::lock_guard lock(mutex_);
                for (size_t c = 0; c < plays_.size(); ++c) {
                    const auto& fifo = snapshot.channels[c].fifo;
                    if (fifo.framesPlayed > (plays_[c].empty() ? 0 : plays_[c].back().played))
                        plays_[c].push_back({ fifo.framesPlayed, fifo.lastFramePlayedNs });
                }
            }
            std::this_thread::sleep_for(1ms);
        }
    }

    std::unique_ptr<vxqir::sim::UnitEmulator> unit_;
    std::thread watcher_;
    std::atomic<bool> stop_{ false };
    mutable std::mutex mutex_; // guards plays_
    std::vector<std::vector<Played>> plays_;
};

/// The gaps between the plays seen, each less the `periodMs` of every frame
/// it spans: 0 for frames played at their recorded spacing. The first frame
/// is left out: it may play late when setting the channel up takes longer
/// than the tests' short lead.
std::vector<double> extraGapsMs(const std::vector<Played>& plays, double periodMs)
{
    std::vector<double> extra;
    for (size_t k = 1; k < plays.size(); ++k) {
        if (plays[k - 1].played < 2)
            continue;
        const double gapMs = static_cast<double>(plays[k].atNs - plays[k - 1].atNs) / 1e6;
        extra.push_back(gapMs - periodMs * static_cast<double>(plays[k].played - plays[k - 1].played));
    }
    return extra;
}

std::string gapsText(const std::vector<double>& gaps)
{
    std::string text;
    text += "(ms beyond the recorded spacing) ";
    for (const double gap : gaps)
        text += std::to_string(gap) + " ";
    return text;
}

/// A 10 frames/s recording of `frames` small frames.
std::string recordingOf(const TempDir& dir, const std::string& name, int frames, int fps = 10)
{
    const std::string path = dir.file(name);
    generate({ "grabber", "--width", "64", "--height", "16", "--frames", std::to_string(frames), "--fps",
               std::to_string(fps) },
             path, dir);
    return path;
}

TEST(ReplayKeys, APauseKeepsTheFramesSpacingAtTheUnitButForOneGapThatHoldsThePause)
{
    TempDir dir;
    std::string rec;
    ASSERT_NO_FATAL_FAILURE(rec = recordingOf(dir, "rec.grab", 30));
    WatchedUnit unit(1);
    const termios cooked = cookedSettings();
    // A pause longer than the unit and stall time-outs must read as neither.
    TerminalProgram program(replayInto(unit.unit(), rec,
                                       { "--lead", "0.6", "--unit-timeout", "0.5", "--stall-timeout", "0.5",
                                         "--summary-json", dir.file("s.json") }),
                            cooked);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForText(kKeysLine, 20s)) << program.output();
    EXPECT_EQ(program.settings().c_lflag & (ICANON | ECHO), 0u) << "keys come as typed, without echo";
    EXPECT_NE(program.settings().c_lflag & ISIG, 0u) << "Ctrl-C stays a signal";

    ASSERT_TRUE(unit.waitForPlayed(0, 5, 20s));
    program.type(" ");
    const auto pausedAt = Clock::now();
    std::this_thread::sleep_for(1200ms);
    program.type(" ");
    const double pauseMs = std::chrono::duration<double, std::milli>(Clock::now() - pausedAt).count();

    const auto code = program.wait(30s);
    ASSERT_TRUE(code.has_value()) << program.output();
    EXPECT_EQ(*code, 0) << program.output();
    EXPECT_NE(program.output().find("verdict: delivered"), std::string::npos) << program.output();
    EXPECT_TRUE(sameMode(cooked, program.settings()));

    const std::vector<Played> plays = unit.plays(0);
    ASSERT_FALSE(plays.empty());
    EXPECT_EQ(plays.back().played, 30u);
    // Frames play at their times (they arrive a lead ahead), so every gap
    // is the recording's to the microsecond but the one with the pause.
    const std::vector<double> extra = extraGapsMs(plays, 100.0);
    size_t pauses = 0;
    for (const double gap : extra) {
        if (gap > 50.0) {
            ++pauses;
            EXPECT_GT(gap, pauseMs - 200.0) << gapsText(extra);
            EXPECT_LT(gap, pauseMs + 300.0) << gapsText(extra);
        } else {
            EXPECT_NEAR(gap, 0.0, 1.0) << gapsText(extra);
        }
    }
    EXPECT_EQ(pauses, 1u) << gapsText(extra);
    // The replay judged the frames after the pause by their new play times.
    const auto summary = readJson(dir.file("s.json"));
    EXPECT_EQ(summary["pauses"], 1);
    EXPECT_NEAR(summary["pausedSeconds"].get<double>(), pauseMs / 1000.0, 0.2);
    EXPECT_NE(program.output().find("paused 1 time for "), std::string::npos) << program.output();
    const auto channel = summary["channels"][0];
    EXPECT_EQ(channel["end"], "delivered");
    EXPECT_EQ(channel["framesLate"], 0) << channel.dump();
    EXPECT_TRUE(channel["stalls"].empty()) << channel.dump();
}

// Channel 0 plays every 100 ms, channel 1 every 1000/7 ms: each step plays
// the one frame of the two channels' next frames that comes first.
TEST(ReplayKeys, AStepWhilePausedPlaysExactlyTheNextFrameInTimeOrderAcrossChannels)
{
    TempDir dir;
    std::string a;
    std::string b;
    ASSERT_NO_FATAL_FAILURE(a = recordingOf(dir, "a.grab", 20, 10));
    ASSERT_NO_FATAL_FAILURE(b = recordingOf(dir, "b.grab", 14, 7));
    WatchedUnit unit(2);
    const termios cooked = cookedSettings();
    std::vector<std::string> args = replayInto(unit.unit(), a, { "--lead", "0.6" });
    args.insert(args.begin() + 2, b);
    TerminalProgram program(args, cooked);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForText(kKeysLine, 20s)) << program.output();
    ASSERT_TRUE(unit.waitForPlayed(0, 4, 20s));
    program.type(" ");
    // What was handed on before the pause plays within the lead.
    ASSERT_TRUE(unit.waitUntilStill(600ms, 10s));
    for (int step = 0; step < 3; ++step) {
        const uint64_t a0 = unit.played(0);
        const uint64_t b0 = unit.played(1);
        const double aNextMs = static_cast<double>(a0) * 100.0;
        const double bNextMs = static_cast<double>(b0) * 1000.0 / 7.0;
        // Frames due together (1 s, 2 s, ...) may go in either order.
        const bool tie = std::abs(aNextMs - bNextMs) < 1.0;
        const bool aFirst = aNextMs < bNextMs;
        program.type("s");
        const auto limit = Clock::now() + 10s;
        while (unit.played(0) + unit.played(1) < a0 + b0 + 1 && Clock::now() < limit)
            std::this_thread::sleep_for(5ms);
        // It stays paused after the one frame (another would play within
        // a frame period of it).
        std::this_thread::sleep_for(500ms);
        const std::string what = "step " + std::to_string(step) + ": " + std::to_string(a0) + " and " +
            std::to_string(b0) + " played before it";
        ASSERT_EQ(unit.played(0) + unit.played(1), a0 + b0 + 1) << what;
        if (!tie) {
            EXPECT_EQ(unit.played(0), a0 + (aFirst ? 1 : 0)) << what;
        }
    }
    program.type(" ");
    const auto code = program.wait(30s);
    ASSERT_TRUE(code.has_value()) << program.output();
    EXPECT_EQ(*code, 0) << program.output();
    EXPECT_EQ(unit.played(0), 20u);
    EXPECT_EQ(unit.played(1), 14u);
    EXPECT_TRUE(sameMode(cooked, program.settings()));
}

struct StopCase {
    std::string name;
    std::vector<std::string> keys; ///< typed one after the other, 300 ms apart
    /// The second signal's forced stop (whose text the output then shows),
    /// if it comes before the replay stopped on the first.
    bool forced = false;
};

void PrintTo(const StopCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayStopKey : public ::testing::TestWithParam<StopCase> { };

TEST_P(ReplayStopKey, EndsTheReplayWithTheSummaryAndExit130AndPutsTheTerminalBack)
{
    TempDir dir;
    std::string rec;
    ASSERT_NO_FATAL_FAILURE(rec = recordingOf(dir, "rec.grab", 100));
    WatchedUnit unit(1);
    const termios cooked = cookedSettings();
    TerminalProgram program(replayInto(unit.unit(), rec, { "--lead", "0.6" }), cooked);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForText(kKeysLine, 20s)) << program.output();
    ASSERT_TRUE(unit.waitForPlayed(0, 3, 20s));
    for (size_t k = 0; k < GetParam().keys.size(); ++k) {
        if (k > 0)
            std::this_thread::sleep_for(GetParam().forced ? 20ms : 300ms);
        program.type(GetParam().keys[k]);
    }
    const auto code = program.wait(20s);
    ASSERT_TRUE(code.has_value()) << program.output();
    EXPECT_EQ(*code, 130) << program.output();
    EXPECT_TRUE(sameMode(cooked, program.settings()));
    const std::string out = program.output();
    if (GetParam().forced)
        EXPECT_NE(out.find("stopped at once by a second signal"), std::string::npos) << out;
    else {
        EXPECT_NE(out.find("channel 0: "), std::string::npos) << out;
        EXPECT_NE(out.find("replay interrupted"), std::string::npos) << out;
    }
    EXPECT_LT(unit.played(0), 100u) << "it ended early";
}

INSTANTIATE_TEST_SUITE_P(Keys, ReplayStopKey,
                         ::testing::Values(StopCase{ "Q", { "q" } }, StopCase{ "QWhilePaused", { " ", "q" } },
                                           StopCase{ "CtrlC", { "\x03" } },
                                           StopCase{ "SecondCtrlC", { "\x03", "\x03" }, true },
                                           // The replay leads its own session here, so Ctrl-Z
                                           // cannot stop it (the kernel discards the stop: no
                                           // shell of the session could continue it) and its
                                           // keys stay.
                                           StopCase{ "QAfterACtrlZThatCannotStop", { "\x1a", "q" } }),
                         [](const auto& param) { return param.param.name; });

/// A replay of `frames` frames (10 frames/s) run as a job of a small shell
/// on a terminal, stopped with Ctrl-Z once three frames played: the
/// terminal is as it was before the replay, for the shell.
class SuspendedReplay : public ::testing::Test {
protected:
    enum class Progress { Quiet, Shown };
    /// The test's unit, or the one qir-replay embeds (which stops with it).
    enum class Unit { OfTheTest, Embedded };

    void suspend(int frames, Progress progress = Progress::Quiet, Unit unit = Unit::OfTheTest)
    {
        std::string rec;
        ASSERT_NO_FATAL_FAILURE(rec = recordingOf(dir_, "rec.grab", frames));
        std::vector<std::string> args = unit == Unit::Embedded
            ? std::vector<std::string>{ QIR_REPLAY_TOOL, rec, "--quiet", "--lead", "0.6" }
            : replayInto(unit_.unit(), rec, { "--lead", "0.6" });
        if (progress == Progress::Shown)
            std::erase(args, std::string("--quiet"));
        program_.emplace(args, cooked_, false, TerminalProgram::Run::AsJob);
        ASSERT_TRUE(program_->started());
        ASSERT_TRUE(program_->waitForText(kKeysLine, 20s)) << program_->output();
        if (unit == Unit::Embedded)
            std::this_thread::sleep_for(1s); // within the lead and a few frames
        else
            ASSERT_TRUE(unit_.waitForPlayed(0, 3, 20s));
        program_->type("\x1a"); // Ctrl-Z
        ASSERT_TRUE(program_->waitForText("[job stopped]", 10s)) << program_->output();
        EXPECT_TRUE(sameMode(cooked_, program_->settings())) << "the terminal while the replay is stopped";
    }

    TempDir dir_;
    WatchedUnit unit_{ 1 };
    const termios cooked_ = cookedSettings();
    std::optional<TerminalProgram> program_;
};

// Continued in the foreground (fg), the replay takes the keys again and a
// single q ends it.
TEST_F(SuspendedReplay, TakesTheKeysAgainAfterFg)
{
    ASSERT_NO_FATAL_FAILURE(suspend(100));
    TerminalProgram& program = *program_;
    program.type("fg\n");
    const auto keyMode = [](const termios& t) { return (t.c_lflag & (ICANON | ECHO)) == 0; };
    EXPECT_TRUE(program.waitForSettings(keyMode, 10s)) << "keys as typed again after fg";
    program.type("q");
    const auto code = program.wait(20s);
    ASSERT_TRUE(code.has_value()) << program.output();
    EXPECT_EQ(*code, 130) << program.output();
    EXPECT_NE(program.output().find("replay interrupted"), std::string::npos) << program.output();
    EXPECT_TRUE(sameMode(cooked_, program.settings()));
    EXPECT_LT(unit_.played(0), 100u) << "it ended early";
}

// Continued in the background (bg) after a stop longer than the unit
// time-out, the replay does not take its own standstill for the silence of
// its embedded unit (which stood still with it), and leaves the terminal to
// the shell: what is typed there is not its keys (and reading it would stop
// the replay), its progress no longer draws over the rows above (the
// shell's). It plays to the end.
TEST_F(SuspendedReplay, PlaysToTheEndAfterBgAndLeavesTheTerminalAlone)
{
    ASSERT_NO_FATAL_FAILURE(suspend(40, Progress::Shown, Unit::Embedded));
    TerminalProgram& program = *program_;
    std::this_thread::sleep_for(1500ms); // the unit time-out is 1 s
    program.type("bg\n");
    std::this_thread::sleep_for(300ms);
    program.type("q\n"); // a line for the shell, which is not reading yet
    const auto code = program.wait(30s);
    ASSERT_TRUE(code.has_value()) << program.output();
    EXPECT_EQ(*code, 0) << program.output();
    const std::string out = program.output();
    EXPECT_EQ(out.find("[job stopped]"), out.rfind("[job stopped]")) << "stopped once only: " << out;
    EXPECT_NE(out.find("\033[1A"), std::string::npos) << "the progress was redrawn in place: " << out;
    EXPECT_EQ(out.find("\033[1A", out.find("[job stopped]")), std::string::npos)
        << "no redrawing over the shell's rows: " << out;
    EXPECT_NE(out.find("verdict: every frame arrived complete"), std::string::npos) << out;
    EXPECT_NE(out.find("40 of 40 checksums match, 40 played"), std::string::npos) << out;
    EXPECT_TRUE(sameMode(cooked_, program.settings()));
}

struct NoKeysCase {
    std::string name;
    std::vector<std::string> extra;
    bool stdinFromNull = false;
};

void PrintTo(const NoKeysCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayWithoutKeys : public ::testing::TestWithParam<NoKeysCase> { };

TEST_P(ReplayWithoutKeys, LeavesTheTerminalAloneAndPlaysOnWhateverIsTyped)
{
    TempDir dir;
    std::string rec;
    ASSERT_NO_FATAL_FAILURE(rec = recordingOf(dir, "rec.grab", 20));
    WatchedUnit unit(1);
    const termios cooked = cookedSettings();
    std::vector<std::string> extra = { "--lead", "0.6" };
    extra.insert(extra.end(), GetParam().extra.begin(), GetParam().extra.end());
    TerminalProgram program(replayInto(unit.unit(), rec, extra), cooked, GetParam().stdinFromNull);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(unit.waitForPlayed(0, 3, 20s));
    EXPECT_TRUE(sameMode(cooked, program.settings()));
    program.type(" ");
    std::this_thread::sleep_for(500ms);
    program.type("q");
    const auto code = program.wait(30s);
    ASSERT_TRUE(code.has_value()) << program.output();
    EXPECT_EQ(*code, 0) << program.output();
    EXPECT_EQ(program.output().find(kKeysLine), std::string::npos) << program.output();
    EXPECT_TRUE(sameMode(cooked, program.settings()));
    const std::vector<Played> plays = unit.plays(0);
    ASSERT_FALSE(plays.empty());
    EXPECT_EQ(plays.back().played, 20u);
    for (const double gap : extraGapsMs(plays, 100.0))
        EXPECT_NEAR(gap, 0.0, 1.0) << "no pause: " << gapsText(extraGapsMs(plays, 100.0));
}

INSTANTIATE_TEST_SUITE_P(Keys, ReplayWithoutKeys,
                         ::testing::Values(NoKeysCase{ "NoKeysOption", { "--no-keys" } },
                                           NoKeysCase{ "StandardInputNotATerminal", {}, true }),
                         [](const auto& param) { return param.param.name; });

} // namespace
