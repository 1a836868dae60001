// Everyday text of the framework (KOVAString): an owned, growable text that
// converts to a C text for the report functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// Owned text. Not thread-safe (like any value type).
class KOVAStackedString {
public:
    KOVAStackedString() = default;
    KOVAStackedString(const char* text) : text_(text ? text : "") { }
    KOVAStackedString(std::string_view text) : text_(text) { }
    KOVAStackedString(std::string text) : text_(std::move(text)) { }

    const char* c_str() const { return text_.c_str(); }
    operator const char*() const { return text_.c_str(); }
    size_t Length() const { return text_.size(); }
    bool IsEmpty() const { return text_.empty(); }
    const std::string& Std() const { return text_; }
    std::string_view View() const { return text_; }

    KOVAStackedString& operator+=(std::string_view text)
    {
        text_ += text;
        return *this;
    }
    KOVAStackedString& operator+=(const char* text)
    {
        text_ += text ? text : "";
        return *this;
    }
    KOVAStackedString& operator+=(const KOVAStackedString& text)
    {
        text_ += text.text_;
        return *this;
    }
    friend KOVAStackedString operator+(KOVAStackedString left, std::string_view right)
    {
        left += right;
        return left;
    }
    friend KOVAStackedString operator+(KOVAStackedString left, const char* right)
    {
        left += right;
        return left;
    }
    friend KOVAStackedString operator+(KOVAStackedString left, const KOVAStackedString& right)
    {
        left += right;
        return left;
    }
    friend bool operator==(const KOVAStackedString& a, const KOVAStackedString& b) { return a.text_ == b.text_; }
    friend bool operator==(const KOVAStackedString& a, const char* b) { return a.text_ == (b ? b : ""); }

protected:
    std::string text_;
};

using KOVAString = KOVAStackedString;
