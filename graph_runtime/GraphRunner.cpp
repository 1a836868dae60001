#include "GraphRunner.h"

#include "HostKernel.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace host {
namespace {

using Clock = ComponentRunner::Clock;

void hostReport(int32_t level, const std::string& source, const std::string& text)
{
    HostKernel::Instance().Report(source.c_str(), level, text.c_str());
}

bool isTrue(HostComponent& component, const char* property)
{
    KOVAPropertyPort* p = component.FindProperty(property);
    if (!p)
        return true;
    KOVA::StringReceiver value;
    p->ValueText(value);
    return value.Text() != "false";
}

} // namespace

std::string SecondsText(int64_t us)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(us) / 1e6);
    return text;
}

GraphRunner::GraphRunner(Graph& graph, RunOptions options) : graph_(graph), options_(std::move(options))
{
    for (const auto& component : graph_.Components())
        runners_.push_back(std::make_unique<ComponentRunner>(*component));
    quietPolls_.assign(runners_.size(), 0);
    startFailed_.assign(runners_.size(), false);
    inputsReleased_.assign(runners_.size(), false);
}

GraphRunner::~GraphRunner() = default;

ComponentRunner* GraphRunner::RunnerOf(const HostComponent* component) const
{
    for (const auto& runner : runners_) {
        if (&runner->Component() == component)
            return runner.get();
    }
    return nullptr;
}

void GraphRunner::StartAll()
{
    const Clock::time_point start = Clock::now();
    std::vector<ComponentRunner*> started;
    for (auto& runner : runners_) {
        HostComponent& component = runner->Component();
        if (!isTrue(component, "autoStart"))
            continue;
        if (!runner->Start()) {
            hostReport(KOVA::Error, component.Name(), "could not be prepared to start (see the reports before)");
            continue;
        }
        started.push_back(runner.get());
    }
    const Clock::time_point deadline = start + std::chrono::microseconds(options_.limits.birthLimitUs);
    for (size_t i = 0; i < runners_.size(); ++i) {
        ComponentRunner* runner = runners_[i].get();
        if (std::find(started.begin(), started.end(), runner) == started.end())
            continue;
        if (!runner->WaitBorn(deadline)) {
            hostReport(KOVA::Error, runner->Component().Name(),
                       "Couldn't start. Birth didn't occur correctly (" + SecondsText(options_.limits.birthLimitUs) +
                           "s timeout).");
            runner->RequestStop();
            startFailed_[i] = true;
        } else if (runner->BirthFailed()) {
            hostReport(KOVA::Error, runner->Component().Name(),
                       "Couldn't start. Birth failed (code " + std::to_string(runner->BirthCode()) + ").");
            startFailed_[i] = true;
        }
    }
    for (ComponentRunner* runner : started)
        runner->Go();
}

void GraphRunner::CheckSourcesEnd()
{
    for (size_t i = 0; i < runners_.size(); ++i) {
        ComponentRunner& runner = *runners_[i];
        if (runner.IsDead() || runner.StopRequested())
            continue;
        const std::vector<HostComponent*> upstream = graph_.Upstream(&runner.Component());
        if (upstream.empty())
            continue; // a source ends by itself
        bool upstreamDead = true;
        for (HostComponent* feeder : upstream) {
            const ComponentRunner* feederRunner = RunnerOf(feeder);
            upstreamDead = upstreamDead && (!feederRunner || feederRunner->IsDead());
        }
        // Work left: a sample in its FIFO, or one it holds (a component
        // resting with its last sample in hand, until it can send it).
        bool dataLeft = false;
        for (const auto& connection : graph_.Connections()) {
            if (connection.to == &runner.Component() && KOVA::IsFifoStyleReader(connection.input->ReaderKind()))
                dataLeft = dataLeft || connection.input->DataAvailable() || connection.source->HoldsSample();
        }
        // Stop it once its feeders are dead and it has read and let go of
        // everything, seen a few times in a row.
        quietPolls_[i] = upstreamDead && !dataLeft ? quietPolls_[i] + 1 : 0;
        if (quietPolls_[i] >= 3)
            runner.RequestStop();
    }
}

void GraphRunner::ReleaseInputsOfTheDead()
{
    // A dead component never reads again: as a registered never-skipping
    // reader it would hold its writers back until the whole graph stops.
    for (size_t i = 0; i < runners_.size(); ++i) {
        ComponentRunner& runner = *runners_[i];
        if (inputsReleased_[i] || !runner.IsDead())
            continue;
        inputsReleased_[i] = true;
        KOVAComponentPort& port = runner.Component().Port();
        for (int32_t j = 0; j < port.EngineInputCount(); ++j)
            port.EngineInput(j)->Disconnect();
    }
}

void GraphRunner::StopAndWait(RunResult& result)
{
    for (auto& runner : runners_) {
        if (!runner->IsDead())
            runner->RequestStop();
    }
    std::vector<ComponentRunner*> refusers;
    for (auto& runner : runners_) {
        const Clock::time_point deadline = runner->StopTime() + std::chrono::microseconds(options_.limits.deathLimitUs);
        if (!runner->WaitDead(deadline)) {
            const KOVAComponentDefinition& d = runner->Component().Definition();
            hostReport(KOVA::Error, runner->Component().Name(),
                       runner->Component().Name() + " refuses to die after " +
                           SecondsText(options_.limits.deathLimitUs) + " seconds. The component model " + d.name + " " +
                           (d.version ? d.version : "") +
                           " does not return from Death or from a call that ignores the stop.");
            refusers.push_back(runner.get());
            ++result.refused;
        }
    }
    for (ComponentRunner* runner : refusers) {
        const Clock::time_point deadline = runner->StopTime() +
            std::chrono::microseconds(options_.limits.deathLimitUs + options_.limits.abandonAfterUs);
        if (!runner->WaitDead(deadline)) {
            hostReport(KOVA::Error, runner->Component().Name(),
                       "still running; it is left alone until the program ends");
            runner->Abandon();
            ++result.abandoned;
        }
    }
    for (size_t i = 0; i < runners_.size(); ++i) {
        if (startFailed_[i] || (runners_[i]->Component().Port().EngineState() & KOVA::ErrorState))
            ++result.failed;
    }
    // Buffers go only when no reader of any component can hold them.
    if (result.abandoned == 0) {
        for (auto& runner : runners_)
            runner->Component().Port().EngineFreeBuffers();
    }
}

RunResult GraphRunner::Run()
{
    RunResult result;
    StartAll();
    const Clock::time_point runStart = Clock::now();
    size_t nextAction = 0;
    const auto& actions = graph_.Actions();
    for (;;) {
        const int64_t elapsedUs =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - runStart).count();
        if (options_.interrupt && options_.interrupt->load()) {
            result.interrupted = true;
            break;
        }
        if (endRequested_)
            break;
        if (options_.durationUs >= 0 && elapsedUs >= options_.durationUs &&
            (options_.until == RunUntil::Duration || options_.until == RunUntil::SourcesEnd))
            break;
        while (nextAction < actions.size() && actions[nextAction].atUs <= elapsedUs) {
            const ScheduledAction& action = actions[nextAction++];
            std::string why;
            if (!TriggerAction(action.component->Name(), action.name, action.argument, why))
                hostReport(KOVA::Warning, "pck-host", why);
        }
        if (options_.poll)
            options_.poll(*this);
        for (auto& runner : runners_) {
            if (!runner->IsDead() && !runner->StopRequested() &&
                (runner->Component().Port().EngineState() & KOVA::ErrorState))
                runner->RequestStop();
        }
        ReleaseInputsOfTheDead();
        if (options_.until == RunUntil::SourcesEnd)
            CheckSourcesEnd();
        bool allDead = true;
        for (auto& runner : runners_)
            allDead = allDead && runner->IsDead();
        if (allDead)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    StopAndWait(result);
    return result;
}

bool GraphRunner::TriggerAction(const std::string& componentName, const std::string& action,
                                const std::string& argument, std::string& why)
{
    HostComponent* component = graph_.Find(componentName);
    if (!component) {
        why = "action " + action + ": no component named \"" + componentName + "\"";
        return false;
    }
    const int32_t index = component->FindAction(action);
    if (index < 0) {
        why = "component \"" + componentName + "\" has no action \"" + action + "\"";
        return false;
    }
    KOVA::StringReceiver reason;
    const int32_t code = component->Port().EngineTriggerAction(index, argument.c_str(), reason);
    if (code == KOVA::Refused) {
        why = reason.Text();
        return false;
    }
    if (code != KOVA::NoError) {
        why = "action " + action + " of " + componentName + " failed (code " + std::to_string(code) + ")";
        return false;
    }
    return true;
}

std::string GraphRunner::StateText() const
{
    std::string text;
    for (const auto& runner : runners_) {
        const uint32_t state = runner->Component().Port().EngineState();
        std::string words;
        auto add = [&](uint32_t bit, const char* word) {
            if ((state & bit) == 0)
                return;
            if (!words.empty())
                words += '+';
            words += word;
        };
        add(KOVA::LivingState, "living");
        add(KOVA::DyingState, "dying");
        add(KOVA::DeadState, "dead");
        add(KOVA::ErrorState, "failed");
        add(KOVA::FinishedState, "finished");
        text += runner->Component().Name() + ": " + words + "\n";
    }
    return text;
}

} // namespace host
