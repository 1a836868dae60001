#include "text/KOVAStreamedString.h"

#include <charconv>

KOVAStreamedString& KOVAStreamedString::operator<<(double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    text_.append(buffer, result.ptr);
    return *this;
}

KOVAStreamedString& KOVAStreamedString::operator<<(KOVA::Hex value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.value, 16);
    text_.append(buffer, result.ptr);
    return *this;
}
