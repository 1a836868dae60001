// pck-host: the engine stand-in. Loads packages, shows what they offer, and
// runs graphs of their components.
//
//   pck-host inspect PACKAGE...
//   pck-host check GRAPH.toml [--set COMPONENT.PROPERTY=VALUE]
//   pck-host run GRAPH.toml [--duration 5s] [--commands] [--set ...]

#include "DurationText.h"
#include "Graph.h"
#include "GraphFile.h"
#include "GraphRunner.h"
#include "HostKernel.h"
#include "Inspector.h"
#include "PackageLibrary.h"
#include "PropertyOverride.h"
#include "ReportLog.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <unistd.h>

namespace {

std::atomic<bool> gInterrupted{ false };

extern "C" void onSignal(int)
{
    if (gInterrupted.exchange(true))
        _exit(130); // a second Ctrl-C: the user wants out now
}

std::vector<std::string> defaultSearchDirs()
{
    std::vector<std::string> dirs;
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        dirs.push_back(self.parent_path().parent_path().string()); // build/ (programs live in build/bin)
        dirs.push_back(self.parent_path().string());
        // Installed: PREFIX/bin/pck-host, packages in PREFIX/lib/qir-varnel.
        dirs.push_back((self.parent_path().parent_path() / "lib" / "qir-varnel").string());
    }
    return dirs;
}

int inspect(const std::vector<std::string>& paths)
{
    int status = 0;
    for (const auto& path : paths) {
        std::string why;
        auto package = host::PackageLibrary::Open(path, why);
        if (!package) {
            std::cerr << "pck-host: " << why << "\n";
            status = 2;
            continue;
        }
        host::InspectPackage(*package, std::cout);
        std::cout << "\n";
    }
    return status;
}

/// Reads whole lines from standard input without blocking.
class CommandInput {
public:
    std::optional<std::string> Next()
    {
        if (!eof_) {
            pollfd fd{ 0, POLLIN, 0 };
            while (::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLIN | POLLHUP))) {
                char buffer[512];
                const ssize_t n = ::read(0, buffer, sizeof buffer);
                if (n <= 0) {
                    eof_ = true;
                    break;
                }
                pending_.append(buffer, static_cast<size_t>(n));
            }
        }
        const size_t newline = pending_.find('\n');
        if (newline == std::string::npos)
            return std::nullopt;
        std::string line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        return line;
    }

private:
    std::string pending_;
    bool eof_ = false;
};

void runCommand(const std::string& line, host::GraphRunner& runner)
{
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb.empty())
        return;
    if (verb == "action") {
        std::string component, action, argument;
        words >> component >> action;
        std::getline(words >> std::ws, argument);
        std::string why;
        if (!runner.TriggerAction(component, action, argument, why))
            host::HostKernel::Instance().Report("pck-host", KOVA::Warning, why.c_str());
    } else if (verb == "state") {
        std::cout << runner.StateText() << std::flush;
    } else if (verb == "stop") {
        runner.RequestEnd();
    } else {
        std::cout << "commands: action COMPONENT ACTION [ARGUMENT] | state | stop\n" << std::flush;
    }
}

struct RunSettings {
    std::string graphFile;
    std::vector<std::string> packageDirs;
    std::string duration;
    std::string birthLimit = "3s";
    std::string deathLimit = "10s";
    std::vector<std::string> overrides;
    bool commands = false;
    bool quiet = false;
};

int run(const RunSettings& settings, bool checkOnly)
{
    std::vector<std::string> errors;
    auto description = host::ParseGraphFile(settings.graphFile, errors);
    if (description && !host::ApplyPropertyOverrides(*description, settings.overrides, errors))
        description.reset();
    host::RunLimits limits;
    auto duration = settings.duration.empty() ? std::optional<int64_t>() : host::ParseDurationUs(settings.duration);
    const auto birth = host::ParseDurationUs(settings.birthLimit);
    const auto death = host::ParseDurationUs(settings.deathLimit);
    if (!settings.duration.empty() && !duration)
        errors.push_back("--duration: \"" + settings.duration +
                         "\" is not a duration such as 5s or 250ms (a number of us, ms, s, min or h)");
    if (!birth)
        errors.push_back("--birth-limit: \"" + settings.birthLimit + "\" is not a duration such as 3s or 500ms");
    if (!death)
        errors.push_back("--death-limit: \"" + settings.deathLimit + "\" is not a duration such as 10s or 500ms");
    host::ReportLog log(settings.quiet ? nullptr : stdout);
    host::SystemEngineClock clock;
    host::EngineProperties engine = description ? description->engine : host::EngineProperties();
    // Components that print lines of their own (the unit client library's)
    // keep them back when the engine is quiet.
    if (settings.quiet)
        engine.Set("Engine.quiet", true);
    host::HostKernel::Instance().Attach(&log, &clock, &engine);
    log.SetTimeOrigin(clock.Now());

    // From here on Ctrl-C is taken, also while the packages load (which
    // can take long): it is looked at once they are loaded.
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::unique_ptr<host::Graph> graph;
    if (description) {
        std::vector<std::string> searchDirs = settings.packageDirs;
        for (const auto& dir : defaultSearchDirs())
            searchDirs.push_back(dir);
        std::vector<std::unique_ptr<host::PackageLibrary>> packages;
        if (host::Graph::LoadPackages(*description, searchDirs, packages, errors))
            graph = host::Graph::Build(*description, std::move(packages), errors);
    }
    if (gInterrupted.load()) {
        graph.reset();
        std::cerr << "pck-host: interrupted while loading the packages; nothing ran.\n";
        host::HostKernel::Instance().Attach(nullptr, nullptr, nullptr);
        return 130;
    }
    if (!graph || !errors.empty()) {
        graph.reset();
        for (const auto& error : errors)
            std::cerr << error << "\n";
        std::cerr << "pck-host: the graph was refused; nothing ran.\n";
        host::HostKernel::Instance().Attach(nullptr, nullptr, nullptr);
        return 2;
    }
    for (const auto& warning : graph->UnconnectedInputs())
        std::cerr << "pck-host: warning: " << warning << "\n";
    if (checkOnly) {
        std::cout << settings.graphFile << ": " << graph->Components().size() << " component(s), "
                  << graph->Connections().size() << " connection(s): the graph is valid\n";
        graph.reset();
        host::HostKernel::Instance().Attach(nullptr, nullptr, nullptr);
        return 0;
    }

    host::RunOptions options;
    options.until = description->until;
    options.durationUs = description->durationUs;
    if (duration) {
        options.durationUs = *duration;
        if (options.until == host::RunUntil::Interrupt)
            options.until = host::RunUntil::Duration;
    }
    options.limits.birthLimitUs = *birth;
    options.limits.deathLimitUs = *death;
    options.interrupt = &gInterrupted;
    CommandInput input;
    if (settings.commands) {
        options.poll = [&input](host::GraphRunner& runner) {
            while (auto line = input.Next())
                runCommand(*line, runner);
        };
    }
    host::RunResult result;
    const auto started = std::chrono::steady_clock::now();
    {
        host::GraphRunner runner(*graph, options);
        if (options.until == host::RunUntil::Interrupt)
            std::cerr << "pck-host: running until Ctrl-C\n";
        result = runner.Run();
    }
    const auto tookUs =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.3f", static_cast<double>(tookUs) / 1e6);
    std::cerr << "pck-host: run " << (result.interrupted ? "interrupted" : "ended") << " after " << took
              << " s: " << graph->Components().size() << " component(s), " << result.failed << " failed, "
              << result.refused << " refused to die\n";
    if (result.abandoned > 0) {
        // A component thread still runs inside a package: leave without
        // unloading anything.
        std::fflush(stdout);
        std::cerr << "pck-host: " << result.abandoned << " component(s) could not be stopped\n";
        _exit(3);
    }
    graph.reset();
    host::HostKernel::Instance().Attach(nullptr, nullptr, nullptr);
    if (result.interrupted)
        return 130;
    return result.refused > 0 ? 3 : result.failed > 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{ "pck-host: loads Tavrik packages and runs graphs of their components" };
    app.name("pck-host");
    app.set_help_flag("-h,--help", "show this help (or a command's) and exit");
    app.require_subcommand(1);
    app.footer("Exit status: 0 clean, 1 a component failed, 2 bad usage or a graph or package was refused "
               "(nothing ran), 3 a component refused to die, 130 interrupted (Ctrl-C).\n"
               "pck-host COMMAND --help shows the options of a command.");

    std::vector<std::string> packages;
    auto* inspectCommand = app.add_subcommand("inspect", "show a package's information block and components");
    inspectCommand->add_option("PACKAGE", packages, "package files (.pck)")->required();

    RunSettings settings;
    auto addGraphOptions = [&settings](CLI::App* command) {
        command->add_option("GRAPH", settings.graphFile, "graph file (TOML)")->required();
        command->add_option("--package-dir", settings.packageDirs,
                            "folder to search for packages named bare (default: the graph's folder, then the "
                            "program's build folder)");
        command->add_option("--set", settings.overrides,
                            "COMPONENT.PROPERTY=VALUE: overrides a property of the graph (repeatable), e.g. "
                            "--set numbers.Count=500");
    };
    auto* checkCommand = app.add_subcommand("check", "check a graph file without running it");
    addGraphOptions(checkCommand);
    auto* runCommandApp = app.add_subcommand("run", "run a graph file");
    addGraphOptions(runCommandApp);
    runCommandApp->add_option("--duration", settings.duration,
                              "run this long (e.g. 5s), overriding the file (default: as the graph file says)");
    runCommandApp->add_option("--birth-limit", settings.birthLimit, "time Birth may take")->capture_default_str();
    runCommandApp->add_option("--death-limit", settings.deathLimit, "time a stopped component may take to die")
        ->capture_default_str();
    runCommandApp->add_flag("--commands", settings.commands,
                            "read commands from standard input: action COMPONENT ACTION [ARGUMENT], state, stop");
    runCommandApp->add_flag("--quiet", settings.quiet,
                            "do not print reports, nor the lines components print themselves (engine property "
                            "Engine.quiet)");

    // CLI11 calls an unknown word "an extra argument" or asks for a
    // subcommand; say what is wrong instead.
    const std::string commands = "inspect, check or run";
    if (argc < 2) {
        std::cerr << "pck-host: a command is required: " << commands << " (see pck-host --help)\n";
        return 2;
    }
    const std::string first = argv[1];
    if (!first.empty() && first[0] != '-' && first != "inspect" && first != "check" && first != "run") {
        std::cerr << "pck-host: unknown command \"" << first << "\"; the commands are " << commands
                  << " (see pck-host --help)\n";
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        app.exit(e);
        return 0;
    } catch (const CLI::CallForAllHelp& e) {
        app.exit(e);
        return 0;
    } catch (const CLI::ParseError& e) {
        std::string command = "";
        for (const CLI::App* sub : { inspectCommand, checkCommand, runCommandApp }) {
            if (sub->parsed())
                command = " " + sub->get_name();
        }
        std::cerr << "pck-host" << command << ": " << e.what() << " (see pck-host" << command << " --help)\n";
        return 2;
    }
    if (*inspectCommand)
        return inspect(packages);
    if (*checkCommand)
        return run(settings, true);
    return run(settings, false);
}
