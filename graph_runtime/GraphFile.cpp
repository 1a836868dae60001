#include "GraphFile.h"

#include "DurationText.h"

#include <toml++/toml.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace host {
namespace {

class Reader {
public:
    Reader(std::string file, std::vector<std::string>& errors) : file_(std::move(file)), errors_(errors) { }

    SourcePosition At(const toml::node& node) const
    {
        return { file_, static_cast<int64_t>(node.source().begin.line),
                 static_cast<int64_t>(node.source().begin.column) };
    }

    void Fail(const toml::node& node, const std::string& reason) { errors_.push_back(At(node).Text() + ": " + reason); }

    /// `"key"`. Messages start from this std::string rather than from
    /// `"\"" + std::string(key)`: GCC 12 at -O3 takes the latter's inlined
    /// insert for an overlapping copy and warns (-Wrestrict), failing
    /// Release builds.
    static std::string Quoted(std::string_view key)
    {
        std::string quoted;
        quoted.reserve(key.size() + 2);
        quoted += '"';
        quoted += key;
        quoted += '"';
        return quoted;
    }

    /// Reports every key of `table` not in `allowed`.
    void OnlyKeys(const toml::table& table, const std::set<std::string>& allowed, const std::string& where)
    {
        for (const auto& [key, value] : table) {
            if (!allowed.count(std::string(key.str()))) {
                std::string list;
                for (const auto& name : allowed)
                    list += (list.empty() ? "" : ", ") + name;
                Fail(value, "unknown key " + Quoted(key.str()) + " in " + where + " (known: " + list + ")");
            }
        }
    }

    std::optional<std::string> Text(const toml::table& table, const char* key, const std::string& where, bool required)
    {
        const toml::node* node = table.get(key);
        if (!node) {
            if (required)
                Fail(table, where + " has no \"" + key + "\"");
            return std::nullopt;
        }
        if (const auto* text = node->as_string())
            return text->get();
        Fail(*node, Quoted(key) + " of " + where + " must be a text");
        return std::nullopt;
    }

    std::optional<GraphValue> Value(const toml::node& node, const std::string& what)
    {
        if (const auto* b = node.as_boolean())
            return GraphValue(b->get());
        if (const auto* i = node.as_integer())
            return GraphValue(i->get());
        if (const auto* f = node.as_floating_point())
            return GraphValue(f->get());
        if (const auto* s = node.as_string())
            return GraphValue(s->get());
        Fail(node, what + " must be a boolean, an integer, a float or a text");
        return std::nullopt;
    }

    /// "component.port" split in two.
    bool Endpoint(const toml::table& table, const char* key, const std::string& where, std::string& component,
                  std::string& port)
    {
        const auto text = Text(table, key, where, true);
        if (!text)
            return false;
        const size_t dot = text->find('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == text->size() ||
            text->find('.', dot + 1) != std::string::npos) {
            Fail(*table.get(key), Quoted(key) + " of " + where + " must be \"component.port\", not " + Quoted(*text));
            return false;
        }
        component = text->substr(0, dot);
        port = text->substr(dot + 1);
        return true;
    }

    const std::string& File() const { return file_; }

private:
    std::string file_;
    std::vector<std::string>& errors_;
};

void readPackages(Reader& r, const toml::node& node, GraphDescription& graph)
{
    const auto* array = node.as_array();
    if (!array) {
        r.Fail(node, "\"packages\" must be a list of package file paths");
        return;
    }
    for (const auto& item : *array) {
        if (const auto* text = item.as_string())
            graph.packages.push_back({ text->get(), r.At(item) });
        else
            r.Fail(item, "a package must be given as a text (its file path)");
    }
}

void readEngine(Reader& r, const toml::node& node, GraphDescription& graph)
{
    const auto* table = node.as_table();
    if (!table) {
        r.Fail(node, "\"engine\" must be a table of engine properties");
        return;
    }
    for (const auto& [key, value] : *table) {
        const std::string name(key.str());
        if (auto v = r.Value(value, "engine property \"" + name + "\""))
            graph.engine.Set(name, std::visit([](auto x) { return EngineValue(x); }, *v));
    }
}

void readRun(Reader& r, const toml::node& node, GraphDescription& graph)
{
    const auto* table = node.as_table();
    if (!table) {
        r.Fail(node, "\"run\" must be a table");
        return;
    }
    r.OnlyKeys(*table, { "until", "duration" }, "[run]");
    if (const toml::node* duration = table->get("duration")) {
        const auto* text = duration->as_string();
        const auto us = text ? ParseDurationUs(text->get()) : std::nullopt;
        if (!us)
            r.Fail(*duration, "\"duration\" must be a duration such as \"5s\", \"250ms\" or \"2min\"");
        else
            graph.durationUs = *us;
    }
    const auto until = r.Text(*table, "until", "[run]", false);
    if (!until) {
        if (graph.durationUs >= 0)
            graph.until = RunUntil::Duration;
        return;
    }
    if (*until == "duration") {
        graph.until = RunUntil::Duration;
        if (graph.durationUs < 0)
            r.Fail(*table, "[run] until = \"duration\" needs a \"duration\"");
    } else if (*until == "sources-end") {
        graph.until = RunUntil::SourcesEnd;
    } else if (*until == "interrupt") {
        graph.until = RunUntil::Interrupt;
    } else {
        r.Fail(*table->get("until"),
               "\"until\" must be \"duration\", \"sources-end\" or \"interrupt\", not \"" + *until + "\"");
    }
}

void readComponents(Reader& r, const toml::node& node, GraphDescription& graph)
{
    const auto* array = node.as_array();
    if (!array || !array->is_array_of_tables()) {
        r.Fail(node, "components must be given as [[component]] tables");
        return;
    }
    std::set<std::string> names;
    for (const auto& item : *array) {
        const auto& table = *item.as_table();
        r.OnlyKeys(table, { "name", "model", "properties", "open_inputs" }, "[[component]]");
        ComponentDescription component;
        component.where = r.At(table);
        const auto name = r.Text(table, "name", "[[component]]", true);
        const auto model = r.Text(table, "model", "[[component]]", true);
        if (!name || !model)
            continue;
        component.name = *name;
        component.model = *model;
        if (name->empty() || name->find('.') != std::string::npos || name->find(' ') != std::string::npos) {
            r.Fail(*table.get("name"), "component name \"" + *name + "\" must be non-empty, without \".\" or blanks");
            continue;
        }
        if (!names.insert(*name).second) {
            r.Fail(*table.get("name"), "a component named \"" + *name + "\" exists already");
            continue;
        }
        if (const toml::node* properties = table.get("properties")) {
            const auto* list = properties->as_table();
            if (!list) {
                r.Fail(*properties, "\"properties\" of component \"" + *name + "\" must be a table");
            } else {
                for (const auto& [key, value] : *list) {
                    const std::string property(key.str());
                    if (auto v = r.Value(value, "property \"" + property + "\" of component \"" + *name + "\""))
                        component.properties.push_back({ property, *v, r.At(value), std::nullopt });
                }
            }
        }
        if (const toml::node* open = table.get("open_inputs")) {
            const auto* list = open->as_array();
            bool texts = list != nullptr;
            if (list) {
                for (const auto& input : *list) {
                    if (const auto* text = input.as_string())
                        component.openInputs.push_back(text->get());
                    else
                        texts = false;
                }
            }
            if (!texts)
                r.Fail(*open, "\"open_inputs\" of component \"" + *name + "\" must be a list of input names");
        }
        graph.components.push_back(std::move(component));
    }
}

void readConnections(Reader& r, const toml::node& node, GraphDescription& graph)
{
    const auto* array = node.as_array();
    if (!array || !array->is_array_of_tables()) {
        r.Fail(node, "connections must be given as [[connection]] tables");
        return;
    }
    for (const auto& item : *array) {
        const auto& table = *item.as_table();
        r.OnlyKeys(table, { "from", "to" }, "[[connection]]");
        ConnectionDescription connection;
        connection.where = r.At(table);
        if (r.Endpoint(table, "from", "[[connection]]", connection.fromComponent, connection.fromOutput) &&
            r.Endpoint(table, "to", "[[connection]]", connection.toComponent, connection.toInput))
            graph.connections.push_back(std::move(connection));
    }
}

void readActions(Reader& r, const toml::node& node, GraphDescription& graph)
{
    const auto* array = node.as_array();
    if (!array || !array->is_array_of_tables()) {
        r.Fail(node, "actions must be given as [[action]] tables");
        return;
    }
    for (const auto& item : *array) {
        const auto& table = *item.as_table();
        r.OnlyKeys(table, { "at", "component", "action", "argument" }, "[[action]]");
        ActionDescription action;
        action.where = r.At(table);
        const auto at = r.Text(table, "at", "[[action]]", true);
        const auto component = r.Text(table, "component", "[[action]]", true);
        const auto name = r.Text(table, "action", "[[action]]", true);
        const auto argument = r.Text(table, "argument", "[[action]]", false);
        if (!at || !component || !name)
            continue;
        const auto us = ParseDurationUs(*at);
        if (!us) {
            r.Fail(*table.get("at"),
                   "\"at\" must be a duration after the start, such as \"1.5s\", not \"" + *at + "\"");
            continue;
        }
        action.atUs = *us;
        action.component = *component;
        action.action = *name;
        action.argument = argument.value_or("");
        graph.actions.push_back(std::move(action));
    }
}

} // namespace

std::optional<GraphDescription> ParseGraphText(std::string_view text, const std::string& fileName,
                                               std::vector<std::string>& errors)
{
    const size_t errorsBefore = errors.size();
    toml::table root;
    try {
        root = toml::parse(text, fileName);
    } catch (const toml::parse_error& e) {
        const auto& where = e.source().begin;
        errors.push_back(fileName + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) + ": " +
                         std::string(e.description()));
        return std::nullopt;
    }
    Reader r(fileName, errors);
    GraphDescription graph;
    graph.file = fileName;
    r.OnlyKeys(root, { "packages", "engine", "run", "component", "connection", "action" }, "the graph file");
    if (const toml::node* node = root.get("packages"))
        readPackages(r, *node, graph);
    if (const toml::node* node = root.get("engine"))
        readEngine(r, *node, graph);
    if (const toml::node* node = root.get("run"))
        readRun(r, *node, graph);
    if (const toml::node* node = root.get("component"))
        readComponents(r, *node, graph);
    if (const toml::node* node = root.get("connection"))
        readConnections(r, *node, graph);
    if (const toml::node* node = root.get("action"))
        readActions(r, *node, graph);
    if (graph.components.empty() && errors.size() == errorsBefore)
        errors.push_back(fileName + ":1:1: the graph has no [[component]]");
    if (errors.size() != errorsBefore)
        return std::nullopt;
    return graph;
}

std::optional<GraphDescription> ParseGraphFile(const std::string& path, std::vector<std::string>& errors)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        errors.push_back(path + ": is a directory, not a graph file");
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int error = errno;
        errors.push_back(path + ": cannot open the graph file (" + std::strerror(error) + ")");
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseGraphText(text.str(), path, errors);
}

std::string ResolvePackagePath(const std::string& written, const std::string& graphFile,
                               const std::vector<std::string>& searchDirs)
{
    namespace fs = std::filesystem;
    const fs::path path(written);
    // "." rather than nothing: a bare result would make dlopen search the
    // library path instead of the graph's folder.
    fs::path graphDir = fs::path(graphFile).parent_path();
    if (graphDir.empty())
        graphDir = ".";
    if (path.is_absolute())
        return written;
    if (written.find('/') != std::string::npos)
        return (graphDir / path).lexically_normal().string();
    std::error_code ec;
    if (fs::exists(graphDir / path, ec))
        return (graphDir / path).string();
    for (const auto& dir : searchDirs) {
        if (fs::exists(fs::path(dir) / path, ec))
            return (fs::path(dir) / path).lexically_normal().string();
    }
    return (graphDir / path).string();
}

} // namespace host
