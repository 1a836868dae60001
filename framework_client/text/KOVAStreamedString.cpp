#include "text/KOVAStreamedString.h"

#include <charconv>

KOVAStreamedString& KOVAStreamedString::operator<<(double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    text_.append(buffer, result.ptr);
    return *this;
}
