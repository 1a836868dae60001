#include "GraphDescription.h"

#include <sstream>

namespace host {

std::string SourcePosition::Text() const
{
    if (line <= 0)
        return file; // not from a file: the option that gave it
    return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

std::string ValueText(const GraphValue& value)
{
    if (const bool* b = std::get_if<bool>(&value))
        return *b ? "true" : "false";
    if (const int64_t* i = std::get_if<int64_t>(&value))
        return std::to_string(*i);
    if (const double* d = std::get_if<double>(&value)) {
        std::ostringstream text;
        text << *d;
        return text.str();
    }
    return "\"" + std::get<std::string>(value) + "\"";
}

const char* ValueKindText(const GraphValue& value)
{
    switch (value.index()) {
    case 0:
        return "a boolean";
    case 1:
        return "an integer";
    case 2:
        return "a float";
    default:
        return "a text";
    }
}

} // namespace host
