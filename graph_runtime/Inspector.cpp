#include "Inspector.h"

#include "PackageNeeds.h"
#include "properties/KOVAEnumStruct.h"
#include "types/KOVATypeFilterBase.h"
#include "types/KOVATypeNames.h"

#include <iomanip>
#include <sstream>

namespace host {
namespace {

template <typename Entry>
uint32_t tableSize(const Entry* table)
{
    uint32_t n = 0;
    while (table && table[n].name)
        ++n;
    return n;
}

std::string defaultText(const KOVAPropertyDefault* value)
{
    if (!value)
        return "\"\"";
    switch (value->kind) {
    case KOVA::BoolProperty:
        return value->boolValue ? "true" : "false";
    case KOVA::IntegerProperty:
        return std::to_string(value->integerValue);
    case KOVA::FloatProperty: {
        std::ostringstream text;
        text << value->floatValue;
        return text.str();
    }
    case KOVA::EnumProperty: {
        const KOVAEnumStruct choices(value->text, value->enumIndex);
        return (choices.Selected() < 0 ? std::string("(none)") : choices.SelectedText()) + "  (choices " +
            choices.ChoicesText() + ")";
    }
    default:
        return std::string("\"") + (value->text ? value->text : "") + "\"";
    }
}

const char* kindText(const KOVAPropertyDefault* value)
{
    static const char* const kNames[] = { "bool", "integer", "float", "text", "enum" };
    const int32_t kind = value ? value->kind : KOVA::StringProperty;
    return kind >= 0 && kind <= 4 ? kNames[kind] : "?";
}

std::string flagsText(const KOVAPropertyDefinition& p)
{
    std::string text;
    auto add = [&](bool on, const char* name) {
        if (on)
            text += text.empty() ? name : std::string(", ") + name;
    };
    add(p.needs2BeInitialized, "must be initialised");
    add(p.canBeModifiedAfterStart, "changeable while running");
    add(p.readOnly, "read-only");
    add(p.locked, "locked");
    const int32_t other = p.subtype & ~(KOVA::PropertySubTypeBeginSubSection | KOVA::PropertySubTypeEndSubSection);
    if (other)
        add(true, ("subtype " + std::to_string(other)).c_str());
    return text;
}

std::string countText(uint32_t count, uint32_t size)
{
    if (count == KOVA::AllEntries || count >= size)
        return std::to_string(size);
    return std::to_string(count) + " of " + std::to_string(size);
}

} // namespace

std::string ReaderKindName(int32_t kind)
{
    static const char* const kNames[] = { "FifoReader", "NeverSkippingReader", "LastOrNextReader", "Wait4NextReader",
                                          "SamplingReader" };
    return kind >= 0 && kind <= 4 ? kNames[kind] : "kind " + std::to_string(kind);
}

void InspectComponent(const KOVAComponentDefinition& d, std::ostream& out)
{
    out << "\n  " << d.name << " " << (d.version ? d.version : "?") << "  (kind " << d.kind << ", "
        << (d.threaded ? "threaded" : "sequential") << ", priority " << d.priority << ", "
        << (d.maxNumberOfInstances ? std::to_string(d.maxNumberOfInstances) + " instances at most"
                                   : std::string("any number of instances"))
        << ")\n";

    const uint32_t nIn = tableSize(d.inputs);
    out << "    Inputs (" << countText(d.nbInputs, nIn) << "):\n";
    for (uint32_t i = 0; i < nIn; ++i) {
        const KOVAInputDefinition& in = d.inputs[i];
        KOVA::StringReceiver filter;
        if (in.typeFilter)
            in.typeFilter->Describe(filter);
        out << "      " << std::left << std::setw(22) << in.name << std::setw(21) << ReaderKindName(in.readerType)
            << (in.typeFilter ? "accepts " + filter.Text() : std::string("accepts any sample"));
        if (in.subsampling > 1)
            out << ", every " << in.subsampling << ". sample";
        if (d.nbInputs != KOVA::AllEntries && i >= d.nbInputs)
            out << "  (made on demand by Dynamic)";
        out << "\n";
    }
    const uint32_t nOut = tableSize(d.outputs);
    out << "    Outputs (" << countText(d.nbOutputs, nOut) << "):\n";
    for (uint32_t i = 0; i < nOut; ++i) {
        const KOVAOutputDefinition& o = d.outputs[i];
        out << "      " << std::left << std::setw(22) << o.name << std::setw(34) << KOVA::TypeText(o.type)
            << (o.size > 0 ? std::to_string(o.size) + " item(s) per sample" : std::string("buffers made at Birth"))
            << ", FIFO of " << o.fifoSize << "\n";
    }
    const uint32_t nProp = tableSize(d.properties);
    out << "    Properties (" << countText(d.nbProperties, nProp) << "):\n";
    int depth = 0;
    for (uint32_t i = 0; i < nProp; ++i) {
        const KOVAPropertyDefinition& p = d.properties[i];
        const std::string indent(6 + 2 * static_cast<size_t>(depth), ' ');
        if (p.subtype & KOVA::PropertySubTypeBeginSubSection) {
            out << indent << "[" << (p.value && p.value->text ? p.value->text : p.name) << "]  (" << p.name << ")\n";
            ++depth;
            continue;
        }
        if (p.subtype & KOVA::PropertySubTypeEndSubSection) {
            depth = depth > 0 ? depth - 1 : 0;
            out << std::string(6 + 2 * static_cast<size_t>(depth), ' ') << "[end]  (" << p.name << ")\n";
            continue;
        }
        out << indent << std::left << std::setw(24) << p.name << std::setw(8) << kindText(p.value) << "= "
            << defaultText(p.value);
        if (p.unit && *p.unit)
            out << " " << p.unit;
        const std::string flags = flagsText(p);
        if (!flags.empty())
            out << "  (" << flags << ")";
        out << "\n";
    }
    const uint32_t nAct = tableSize(d.actions);
    out << "    Actions (" << countText(d.nbActions, nAct) << "):\n";
    for (uint32_t i = 0; i < nAct; ++i) {
        const KOVAActionDefinition& a = d.actions[i];
        out << "      " << std::left << std::setw(22) << a.name
            << (a.allowedWhenComponentDead ? "allowed at any time" : "only while the component runs") << "\n";
    }
}

void InspectPackage(const PackageLibrary& package, std::ostream& out)
{
    out << "Package " << package.Path() << "\n";
    if (const auto& info = package.Info()) {
        out << "  Information block (" << info->blockLength << " bytes):\n";
        for (const auto& [key, value] : info->items)
            out << "    " << std::left << std::setw(14) << key << value << "\n";
        for (const auto& problem : package.InfoProblems())
            out << "    warning: " << problem << "\n";
        std::string why;
        if (const auto elf = PackageElf::ReadFile(package.Path(), why)) {
            out << "  Needs: " << NeedsText(*elf) << "\n";
            const std::string mismatch = GlibcMismatch(*info, *elf);
            if (!mismatch.empty())
                out << "    warning: " << mismatch << "\n";
        }
    }
    if (!package.Markers().empty()) {
        out << "  Module markers:";
        for (const auto& marker : package.Markers())
            out << "  " << marker;
        out << "\n";
    }
    out << "  Handshake: key 0x80538 accepted, framework version " << package.HandshakeResult() << "\n";
    out << "  " << package.Definitions().size() << " component(s):\n";
    for (const KOVAComponentDefinition* definition : package.Definitions())
        InspectComponent(*definition, out);
}

} // namespace host
