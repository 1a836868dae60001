#include "Graph.h"

#include "GraphFile.h"

#include <algorithm>
#include <map>

namespace host {
namespace {

const char* propertyKindText(int32_t kind)
{
    static const char* const kNames[] = { "a boolean", "an integer", "a float", "a text", "an enumeration" };
    return kind >= 0 && kind <= 4 ? kNames[kind] : "an unknown";
}

} // namespace

bool ApplyPropertyValue(KOVAPropertyPort& property, const GraphValue& value, std::string& why)
{
    KOVA::StringReceiver reason;
    int32_t code = KOVA::Refused;
    bool kindMatches = true;
    switch (property.Kind()) {
    case KOVA::BoolProperty:
        if ((kindMatches = std::holds_alternative<bool>(value)))
            code = property.SetBool(std::get<bool>(value), reason);
        break;
    case KOVA::IntegerProperty:
        if ((kindMatches = std::holds_alternative<int64_t>(value)))
            code = property.SetInteger(std::get<int64_t>(value), reason);
        break;
    case KOVA::FloatProperty:
        if (std::holds_alternative<double>(value))
            code = property.SetFloat(std::get<double>(value), reason);
        else if (std::holds_alternative<int64_t>(value))
            code = property.SetFloat(static_cast<double>(std::get<int64_t>(value)), reason);
        else
            kindMatches = false;
        break;
    case KOVA::StringProperty:
        if ((kindMatches = std::holds_alternative<std::string>(value)))
            code = property.SetText(std::get<std::string>(value).c_str(), reason);
        break;
    case KOVA::EnumProperty:
        if (std::holds_alternative<std::string>(value))
            code = property.SetText(std::get<std::string>(value).c_str(), reason);
        else if (std::holds_alternative<int64_t>(value))
            code = property.SetInteger(std::get<int64_t>(value), reason);
        else
            kindMatches = false;
        break;
    default:
        kindMatches = false;
    }
    if (!kindMatches) {
        why = std::string("property \"") + property.Name() + "\" is " + propertyKindText(property.Kind()) +
            " property; the value " + ValueText(value) + " is " + ValueKindText(value);
        if (property.Kind() == KOVA::EnumProperty) {
            KOVA::StringReceiver choices;
            property.ChoicesText(choices);
            why += " (give a choice: " + choices.Text() + ")";
        }
        return false;
    }
    if (code != KOVA::NoError) {
        why = reason.Text();
        return false;
    }
    return true;
}

bool Graph::LoadPackages(const GraphDescription& description, const std::vector<std::string>& searchDirs,
                         std::vector<std::unique_ptr<PackageLibrary>>& packages, std::vector<std::string>& errors)
{
    bool ok = true;
    for (const auto& reference : description.packages) {
        const std::string path = ResolvePackagePath(reference.path, description.file, searchDirs);
        std::string why;
        auto package = PackageLibrary::Open(path, why);
        if (!package) {
            errors.push_back(reference.where.Text() + ": package \"" + reference.path + "\": " + why);
            ok = false;
            continue;
        }
        packages.push_back(std::move(package));
    }
    return ok;
}

std::unique_ptr<Graph> Graph::Build(const GraphDescription& description,
                                    std::vector<std::unique_ptr<PackageLibrary>> packages,
                                    std::vector<std::string>& errors)
{
    std::unique_ptr<Graph> graph(new Graph);
    graph->packages_ = std::move(packages);
    const size_t errorsBefore = errors.size();
    for (const auto& component : description.components)
        graph->MakeComponent(component, errors);
    for (const auto& connection : description.connections)
        graph->Connect(connection, errors);
    for (const auto& action : description.actions) {
        HostComponent* component = graph->Find(action.component);
        if (!component) {
            errors.push_back(action.where.Text() + ": action \"" + action.action + "\" names an unknown component \"" +
                             action.component + "\"");
            continue;
        }
        const int32_t index = component->FindAction(action.action);
        if (index < 0) {
            errors.push_back(action.where.Text() + ": component \"" + action.component + "\" (model " +
                             component->Definition().name + ") has no action \"" + action.action + "\"");
            continue;
        }
        graph->actions_.push_back({ action.atUs, component, index, action.action, action.argument });
    }
    std::stable_sort(graph->actions_.begin(), graph->actions_.end(),
                     [](const ScheduledAction& a, const ScheduledAction& b) { return a.atUs < b.atUs; });
    if (errors.size() != errorsBefore)
        return nullptr;
    return graph;
}

bool Graph::MakeComponent(const ComponentDescription& description, std::vector<std::string>& errors)
{
    const KOVAComponentDefinition* definition = nullptr;
    const PackageLibrary* from = nullptr;
    std::string known;
    for (const auto& package : packages_) {
        for (const KOVAComponentDefinition* candidate : package->Definitions()) {
            known += (known.empty() ? "" : ", ") + std::string(candidate->name);
            if (!definition && description.model == candidate->name) {
                definition = candidate;
                from = package.get();
            }
        }
    }
    const std::string where = description.where.Text() + ": component \"" + description.name + "\"";
    if (!definition) {
        errors.push_back(where + ": unknown model \"" + description.model +
                         "\" (the packages offer: " + (known.empty() ? "nothing" : known) + ")");
        return false;
    }
    if (definition->maxNumberOfInstances > 0) {
        const auto count = std::count_if(components_.begin(), components_.end(), [&](const auto& c) {
            return std::string(c->Definition().name) == definition->name;
        });
        if (static_cast<uint32_t>(count) >= definition->maxNumberOfInstances) {
            errors.push_back(where + ": model " + definition->name + " allows at most " +
                             std::to_string(definition->maxNumberOfInstances) + " instance(s)");
            return false;
        }
    }
    std::string why;
    auto component = HostComponent::Create(description.name, *definition, from->Path(), why);
    if (!component) {
        errors.push_back(where + ": " + why);
        return false;
    }
    // Own properties first, then Dynamic (which may add inputs), then the
    // properties of inputs and outputs ("In.readerType").
    bool ok = true;
    auto apply = [&](bool elementProperties) {
        for (const auto& setting : description.properties) {
            if ((setting.name.find('.') != std::string::npos) != elementProperties)
                continue;
            KOVAPropertyPort* property = component->FindProperty(setting.name);
            const std::string at =
                setting.where.Text() + ": component \"" + description.name + "\" (model " + description.model + "): ";
            if (!property) {
                errors.push_back(at + "unknown property \"" + setting.name + "\"");
                ok = false;
                continue;
            }
            // A text typed on the command line means what it says for a text
            // or an enumeration ("--set c.Name=123").
            const bool asTyped = setting.typed &&
                (property->Kind() == KOVA::StringProperty ||
                 (property->Kind() == KOVA::EnumProperty && !std::holds_alternative<int64_t>(setting.value)));
            const GraphValue value = asTyped ? GraphValue(*setting.typed) : setting.value;
            std::string reason;
            if (!ApplyPropertyValue(*property, value, reason)) {
                errors.push_back(at + reason);
                ok = false;
            }
        }
    };
    apply(false);
    if (component->Port().EngineDynamic() != KOVA::NoError) {
        errors.push_back(where + ": Dynamic failed (see the reports)");
        ok = false;
    }
    apply(true);
    for (const std::string& input : description.openInputs) {
        if (component->FindInput(input) == nullptr) {
            errors.push_back(where + " (model " + description.model + "): open_inputs names \"" + input +
                             "\", which is no input of it");
            ok = false;
        }
        openInputs_.insert(description.name + "." + input);
    }
    components_.push_back(std::move(component));
    return ok;
}

void Graph::Connect(const ConnectionDescription& description, std::vector<std::string>& errors)
{
    const std::string text = description.fromComponent + "." + description.fromOutput + " -> " +
        description.toComponent + "." + description.toInput;
    const std::string where = description.where.Text() + ": connection " + text + ": ";
    HostComponent* from = Find(description.fromComponent);
    HostComponent* to = Find(description.toComponent);
    if (!from || !to) {
        errors.push_back(where + "unknown component \"" +
                         (!from ? description.fromComponent : description.toComponent) + "\"");
        return;
    }
    KOVAOutputPort* output = from->FindOutput(description.fromOutput);
    if (!output) {
        errors.push_back(where + "component \"" + from->Name() + "\" has no output \"" + description.fromOutput +
                         "\" (outputs: " + from->OutputNames() + ")");
        return;
    }
    KOVAInputPort* input = to->FindInput(description.toInput);
    if (!input) {
        errors.push_back(where + "component \"" + to->Name() + "\" has no input \"" + description.toInput +
                         "\" (inputs: " + to->InputNames() + ")");
        return;
    }
    KOVA::StringReceiver why;
    auto source = std::make_unique<HeldSampleSource>(*output);
    if (input->Connect(*source, why) != KOVA::NoError) {
        errors.push_back(where + "output " + from->Name() + "." + output->Name() + " cannot feed input " + to->Name() +
                         "." + input->Name() + ": " + why.Text());
        return;
    }
    connections_.push_back({ from, output, to, input, text, source.get() });
    sources_.push_back(std::move(source));
}

Graph::~Graph()
{
    for (auto& component : components_) {
        if (component->Abandoned())
            continue;
        for (int32_t i = 0; i < component->Port().EngineInputCount(); ++i)
            component->Port().EngineInput(i)->Disconnect();
    }
    bool keepPackages = false;
    for (auto& component : components_)
        keepPackages = keepPackages || component->Abandoned();
    components_.clear();
    if (keepPackages) {
        for (auto& package : packages_)
            package->KeepLoaded();
        // An abandoned component may still read through its sources.
        for (auto& source : sources_)
            (void)source.release();
    }
    packages_.clear();
}

HostComponent* Graph::Find(const std::string& name) const
{
    for (const auto& component : components_) {
        if (component->Name() == name)
            return component.get();
    }
    return nullptr;
}

std::vector<std::string> Graph::UnconnectedInputs() const
{
    std::vector<std::string> texts;
    for (const auto& component : components_) {
        KOVAComponentPort& port = component->Port();
        for (int32_t i = 0; i < port.EngineInputCount(); ++i) {
            if (!port.EngineInput(i)->IsConnected() &&
                !openInputs_.count(component->Name() + "." + port.EngineInput(i)->Name()))
                texts.push_back("component \"" + component->Name() + "\" (model " + component->Definition().name +
                                "): input \"" + port.EngineInput(i)->Name() + "\" is not connected");
        }
    }
    return texts;
}

std::vector<HostComponent*> Graph::Upstream(const HostComponent* component) const
{
    std::vector<HostComponent*> upstream;
    for (const auto& connection : connections_) {
        if (connection.to == component &&
            std::find(upstream.begin(), upstream.end(), connection.from) == upstream.end())
            upstream.push_back(connection.from);
    }
    return upstream;
}

} // namespace host
