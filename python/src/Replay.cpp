#include "Replay.h"

#include "Diagnostics.h"
#include "ReplayGraph.h"
#include "ReplayRun.h"
#include "StopSignals.h"

#include <pybind11/stl.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace py = pybind11;
using namespace py::literals;

namespace qir::python {

namespace {

// A stream in memory for the replay's report lines.
class TextSink {
public:
    TextSink() : file_(open_memstream(&buffer_, &size_))
    {
        if (file_ == nullptr)
            throw std::runtime_error("replay: cannot open a stream in memory for its report");
    }
    ~TextSink()
    {
        if (file_ != nullptr)
            std::fclose(file_);
        std::free(buffer_);
    }
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    std::FILE* file() const { return file_; }
    std::string text()
    {
        std::fflush(file_);
        return std::string(buffer_ != nullptr ? buffer_ : "", size_);
    }

private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* file_;
};

replay::ReplayOptions makeOptions(const std::vector<std::string>& recordings, const std::vector<std::string>& maps,
                                  const std::vector<std::string>& units, const std::vector<std::string>& datas,
                                  double rate, double lead, int64_t loops)
{
    replay::ReplayOptions options;
    options.quiet = true;
    options.recordings = recordings;
    for (size_t i = 0; i < recordings.size(); ++i)
        options.channels.push_back(static_cast<unsigned>(i));
    for (const std::string& map : maps) {
        const replay::ChannelMap parsed = replay::parseChannelMap(map);
        options.recordings.push_back(parsed.file);
        options.channels.push_back(parsed.channel);
        options.unitIndexes.resize(options.channels.size() - 1, 0u);
        options.unitIndexes.push_back(parsed.unit);
    }
    if (options.recordings.empty())
        throw std::invalid_argument("replay: name a recording or give map");
    if (!(rate == 0.0 || (rate >= 0.01 && rate <= 1000)))
        throw std::invalid_argument("replay: rate " + std::to_string(rate) +
                                    ": give a factor between 0.01 and 1000, "
                                    "or \"max\"");
    if (!(lead >= 0.001 && lead <= 3600.0))
        throw std::invalid_argument("replay: lead " + std::to_string(lead) + ": give 0.001 to 3600 seconds");
    if (loops < 1)
        throw std::invalid_argument("replay: loop " + std::to_string(loops) + ": give 1 or more passes");
    options.rate = rate;
    options.leadSeconds = lead;
    options.loops = loops;
    for (const std::string& unit : units)
        options.units.push_back(replay::parseEndpoint(unit, replay::kDefaultControlPort));
    for (const std::string& data : datas)
        options.datas.push_back(replay::parseEndpoint(data, replay::kDefaultDataBasePort));
    if (options.units.size() != options.datas.size())
        throw std::invalid_argument("replay: give one data address per unit (" + std::to_string(units.size()) +
                                    " unit, " + std::to_string(datas.size()) + " data)");
    return options;
}

struct ReplayOutcome {
    std::string summaryJson;
    std::string output;
    std::string errors;
};

// Runs the replay on a thread of its own while this thread, holding the GIL
// between short waits, runs Python's signal handlers: Ctrl-C asks the replay
// to stop as the program's SIGINT would, and the KeyboardInterrupt is raised
// once the replay has ended.
py::tuple runReplay(const replay::ReplayOptions& options)
{
    auto out = std::make_shared<TextSink>();
    auto err = std::make_shared<TextSink>();
    auto library = std::make_shared<std::string>();
    tools::clear_stop_request();
    // The library's diagnostic lines belong to the report's errors, not to
    // the test's output.
    vxqir::setDiagnosticSink([library](vxqir::DiagnosticStream, std::string_view line) {
        library->append(line);
        library->push_back('\n');
    });
    std::packaged_task<std::string()> task(
        [&options, out, err] { return replay::summaryJsonText(replay::runReplay(options, out->file(), err->file())); });
    std::future<std::string> done = task.get_future();
    std::thread worker(std::move(task));

    std::optional<py::error_already_set> interrupt;
    while (true) {
        std::future_status status;
        {
            py::gil_scoped_release release;
            status = done.wait_for(std::chrono::milliseconds(100));
        }
        if (status == std::future_status::ready)
            break;
        if (!interrupt && PyErr_CheckSignals() != 0) {
            interrupt.emplace();
            tools::request_stop(SIGINT);
        }
    }
    worker.join();
    vxqir::setDiagnosticSink({});
    tools::clear_stop_request();
    if (interrupt)
        throw std::move(*interrupt);
    std::string summary = done.get(); // rethrows what the replay raised
    return py::make_tuple(summary, out->text(), err->text() + *library);
}

} // namespace

void bindReplay(py::module_& m)
{
    m.def(
        "_replay",
        [](const std::vector<std::string>& recordings, const std::vector<std::string>& maps,
           const std::vector<std::string>& units, const std::vector<std::string>& datas, double rate, double lead,
           int64_t loops) { return runReplay(makeOptions(recordings, maps, units, datas, rate, lead, loops)); },
        "recordings"_a, "maps"_a, "units"_a, "datas"_a, "rate"_a, "lead"_a, "loops"_a,
        "Runs a replay as qir-replay does; (summary JSON, output, errors). Use qir.replay.");
}

} // namespace qir::python
