// Runs a graph: starts every component (Birth within its time limit), lets
// them run until the run ends, triggers scheduled actions, stops them by
// waking their blocking calls and waits for their Death, reporting a
// component that refuses to die.
#pragma once

#include "ComponentRunner.h"
#include "Graph.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace host {

struct RunLimits {
    int64_t birthLimitUs = 3'000'000;    ///< Birth must return within this
    int64_t deathLimitUs = 10'000'000;   ///< a stopped component must die within this
    int64_t abandonAfterUs = 10'000'000; ///< after the report, how much longer to wait before giving up on it
};

struct RunOptions {
    RunUntil until = RunUntil::Interrupt;
    int64_t durationUs = -1; ///< the duration, or the cap of SourcesEnd (-1: none)
    RunLimits limits;
    /// Set (for example by a signal handler) to stop the run.
    const std::atomic<bool>* interrupt = nullptr;
    /// Called on the engine's main thread about every 10 ms while the graph
    /// runs (for commands from standard input).
    std::function<void(class GraphRunner&)> poll;
};

struct RunResult {
    int failed = 0;           ///< components that ended in error or could not start
    int refused = 0;          ///< components that refused to die in time
    int abandoned = 0;        ///< components still running when the run gave up on them
    bool interrupted = false; ///< the run ended at the interrupt flag
};

/// Thread-bound to the engine's main thread. Reports go through the
/// process's kernel object (attach a ReportLog to see them).
class GraphRunner {
public:
    GraphRunner(Graph& graph, RunOptions options);
    ~GraphRunner();

    RunResult Run();

    /// Triggers `action` of `component` now, on this thread. Returns false
    /// with `why` when the component or action is unknown or the component
    /// refuses it (for example because it is dead).
    bool TriggerAction(const std::string& component, const std::string& action, const std::string& argument,
                       std::string& why);
    /// Ends the run (as Ctrl-C does).
    void RequestEnd() { endRequested_ = true; }
    /// One line per component: its name and state.
    std::string StateText() const;

private:
    void StartAll();
    void CheckSourcesEnd();
    void StopAndWait(RunResult& result);
    void ReleaseInputsOfTheDead();
    ComponentRunner* RunnerOf(const HostComponent* component) const;

    Graph& graph_;
    RunOptions options_;
    std::vector<std::unique_ptr<ComponentRunner>> runners_;
    std::vector<int> quietPolls_;
    std::vector<bool> startFailed_;    ///< per runner: Birth failed or took too long
    std::vector<bool> inputsReleased_; ///< per runner: its inputs were disconnected
    bool endRequested_ = false;
};

/// "3" for 3000000, "0.25" for 250000: seconds as users read them.
std::string SecondsText(int64_t us);

} // namespace host
