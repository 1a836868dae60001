// Value of an enumeration property: a list of choice texts and the selected
// index (-1 when nothing is selected).
#pragma once

#include "text/KOVAStackedString.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// Value type; not thread-safe.
///
/// Text form (ToString / FromString): "count|selected|choice0|choice1|...",
/// e.g. "2|0|YUV422|Mono".
class KOVAEnumStruct {
public:
    /// No choices, nothing selected.
    KOVAEnumStruct() = default;
    /// Splits `choices` at every "|" (null or empty: no choices and index
    /// -1) and selects `selected`.
    KOVAEnumStruct(const char* choices, int32_t selected);

    /// Selects the choice whose text equals `choice`. Otherwise selects
    /// nothing (-1) and returns false.
    bool Select(std::string_view choice);
    /// Selects by index; returns false (and changes nothing) for an index
    /// outside -1 .. Count() - 1.
    bool SelectIndex(int32_t index);

    /// "count|selected|choice0|..."
    KOVAStackedString ToString() const;
    /// True when `text` starts with two integers separated by "|".
    static bool IsEnumString(std::string_view text);
    /// Reads the text form. With `selectionOnly` only the selected index is
    /// taken and the choices stay. Returns false, changing nothing, for an
    /// ill-formed text or a count that disagrees with the pieces; an index at
    /// or beyond the number of choices selects choice 0 (nothing when there
    /// are no choices) and returns true. Every problem is described in
    /// `message` (when given) with the framework's texts, else reported at
    /// error level.
    bool FromString(std::string_view text, bool selectionOnly, KOVAStackedString* message = nullptr);

    int32_t Selected() const { return selected_; }
    /// Text of the selected choice; empty when nothing is selected.
    std::string SelectedText() const;
    const std::vector<std::string>& Choices() const { return choices_; }
    int32_t Count() const { return static_cast<int32_t>(choices_.size()); }
    /// The choices joined by "|".
    std::string ChoicesText() const;

private:
    std::vector<std::string> choices_;
    int32_t selected_ = -1;
};
