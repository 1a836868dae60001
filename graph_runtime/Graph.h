// A graph ready to run: its packages loaded, its components made with their
// property values, and their outputs connected to inputs. Everything a graph
// file can get wrong is found here, before anything runs.
#pragma once

#include "GraphDescription.h"
#include "HeldSampleSource.h"
#include "HostComponent.h"
#include "PackageLibrary.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace host {

struct Connection {
    HostComponent* from;
    KOVAOutputPort* output;
    HostComponent* to;
    KOVAInputPort* input;
    std::string text; ///< "from.Out -> to.In"
    /// What the input reads through: the output, counting the samples the
    /// input holds.
    const HeldSampleSource* source;
};

struct ScheduledAction {
    int64_t atUs;
    HostComponent* component;
    int32_t index;
    std::string name;
    std::string argument;
};

/// Thread-bound to the engine's main thread.
class Graph {
public:
    /// Loads the packages `description` names (bare file names are searched
    /// in `searchDirs`). Returns false with an error per package that fails.
    static bool LoadPackages(const GraphDescription& description, const std::vector<std::string>& searchDirs,
                             std::vector<std::unique_ptr<PackageLibrary>>& packages, std::vector<std::string>& errors);

    /// Makes the graph of `description` from the components of `packages`
    /// (which the graph keeps). Returns null with every error found, each
    /// naming the file, line and reason: unknown models, unknown properties,
    /// values of the wrong kind, bad connections, unknown actions.
    static std::unique_ptr<Graph> Build(const GraphDescription& description,
                                        std::vector<std::unique_ptr<PackageLibrary>> packages,
                                        std::vector<std::string>& errors);

    /// Disconnects every input, deletes the components, then unloads the
    /// packages (except those of abandoned components).
    ~Graph();
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;

    const std::vector<std::unique_ptr<HostComponent>>& Components() const { return components_; }
    const std::vector<Connection>& Connections() const { return connections_; }
    const std::vector<ScheduledAction>& Actions() const { return actions_; }
    HostComponent* Find(const std::string& name) const;
    /// One text per input that no connection feeds and that the graph does
    /// not leave open on purpose (`open_inputs`), for warnings:
    /// "component \"check\" (model HostSampleSink): input \"In\" is not connected".
    std::vector<std::string> UnconnectedInputs() const;
    /// Components feeding `component` through a connection.
    std::vector<HostComponent*> Upstream(const HostComponent* component) const;

private:
    Graph() = default;
    bool MakeComponent(const ComponentDescription& description, std::vector<std::string>& errors);
    void Connect(const ConnectionDescription& description, std::vector<std::string>& errors);

    std::vector<std::unique_ptr<PackageLibrary>> packages_;
    // Destroyed after the components, whose inputs read through them.
    std::vector<std::unique_ptr<HeldSampleSource>> sources_;
    std::vector<std::unique_ptr<HostComponent>> components_;
    std::vector<Connection> connections_;
    std::vector<ScheduledAction> actions_;
    /// "component.input" of the inputs left open on purpose.
    std::set<std::string> openInputs_;
};

/// Gives `value` to `property`, checking its kind first. Returns false with
/// the reason in `why`.
bool ApplyPropertyValue(KOVAPropertyPort& property, const GraphValue& value, std::string& why);

} // namespace host
