#include "properties/KOVAEnumStruct.h"

#include "services/KOVAServices.h"

#include <charconv>

namespace {

std::vector<std::string> splitAtBars(std::string_view text)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t bar = text.find('|', start);
        if (bar == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, bar - start));
        start = bar + 1;
    }
}

/// Reads "<int>|<int>" from the head of `text`.
bool readHead(std::string_view text, int64_t& count, int64_t& selected)
{
    const char* p = text.data();
    const char* end = text.data() + text.size();
    auto r = std::from_chars(p, end, count);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != '|')
        return false;
    r = std::from_chars(r.ptr + 1, end, selected);
    return r.ec == std::errc();
}

void complain(KOVAStackedString* message, const std::string& text)
{
    if (message)
        *message = text;
    else
        KOVA::ReportText(nullptr, KOVA::Error, text.c_str());
}

} // namespace

KOVAEnumStruct::KOVAEnumStruct(const char* choices, int32_t selected)
{
    if (choices && *choices)
        choices_ = splitAtBars(choices);
    selected_ = choices_.empty() ? -1 : selected;
    if (selected_ < -1 || selected_ >= Count())
        selected_ = -1;
}

bool KOVAEnumStruct::Select(std::string_view choice)
{
    for (size_t i = 0; i < choices_.size(); ++i) {
        if (choices_[i] == choice) {
            selected_ = static_cast<int32_t>(i);
            return true;
        }
    }
    selected_ = -1;
    return false;
}

bool KOVAEnumStruct::SelectIndex(int32_t index)
{
    if (index < -1 || index >= Count())
        return false;
    selected_ = index;
    return true;
}

KOVAStackedString KOVAEnumStruct::ToString() const
{
    std::string text = std::to_string(choices_.size()) + "|" + std::to_string(selected_);
    for (const auto& choice : choices_)
        text += "|" + choice;
    return KOVAStackedString(std::move(text));
}

bool KOVAEnumStruct::IsEnumString(std::string_view text)
{
    int64_t count = 0;
    int64_t selected = 0;
    return readHead(text, count, selected);
}

bool KOVAEnumStruct::FromString(std::string_view text, bool selectionOnly, KOVAStackedString* message)
{
    int64_t count = 0;
    int64_t selected = 0;
    if (!readHead(text, count, selected)) {
        complain(message,
                 "KOVAEnumStruct::FromString: Ill-formed enum string "
                 "[expected:nbVal|selected|val0|val1|val2...] [received:" +
                     std::string(text) + "]");
        return false;
    }
    std::vector<std::string> choices = choices_;
    if (!selectionOnly) {
        std::vector<std::string> pieces = splitAtBars(text);
        if (count < 0 || static_cast<uint64_t>(count) + 2 != pieces.size()) {
            complain(message,
                     "KOVAEnumStruct::FromString: Declared size of enum struct does not match the "
                     "number of given elements.");
            return false;
        }
        choices.assign(pieces.begin() + 2, pieces.end());
    }
    choices_ = std::move(choices);
    if (selected < -1 || selected >= Count()) {
        complain(message,
                 "KOVAEnumStruct::FromString: Selected value incompatible with enum values for "
                 "property. Selected property is set to 0.");
        selected_ = choices_.empty() ? -1 : 0;
        return true;
    }
    selected_ = static_cast<int32_t>(selected);
    return true;
}

std::string KOVAEnumStruct::SelectedText() const
{
    return selected_ >= 0 && selected_ < Count() ? choices_[static_cast<size_t>(selected_)] : std::string();
}

std::string KOVAEnumStruct::ChoicesText() const
{
    std::string text;
    for (size_t i = 0; i < choices_.size(); ++i) {
        if (i)
            text += '|';
        text += choices_[i];
    }
    return text;
}
