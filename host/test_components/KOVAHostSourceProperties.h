// Properties that the components of the host's test package have in common: a
// row of their tables in one line (a locked property that Birth reads, or the
// two rows around a subsection), the rows for "ReportChecksums",
// "StartDelayUs", "PeriodUs" and "Count" (each table names these rows in its
// own order), and the reader of a bounded integer property that their Birth
// uses.
#pragma once

#include "KOVA.h"

#include <cstdint>

namespace host_sources {

inline constexpr KOVAPropertyDefault kOff = KOVAPropertyDefault::Bool(false);
inline constexpr KOVAPropertyDefault kZero = KOVAPropertyDefault::Integer(0);
inline constexpr KOVAPropertyDefault kPeriod = KOVAPropertyDefault::Integer(40000);

/// A locked row of a property table; a read-only one is a subsection mark.
constexpr KOVAPropertyDefinition lockedRow(const char* name, const KOVAPropertyDefault* value, const char* unit,
                                           bool readOnly, int32_t subtype)
{
    return { .name = name,
             .value = value,
             .unit = unit,
             .needs2BeInitialized = false,
             .canBeModifiedAfterStart = false,
             .readOnly = readOnly,
             .locked = true,
             .subtype = subtype };
}

/// A locked property that only Birth reads.
constexpr KOVAPropertyDefinition row(const char* name, const KOVAPropertyDefault* value, const char* unit,
                                     int32_t subtype = KOVA::PropertySubTypeNone)
{
    return lockedRow(name, value, unit, false, subtype);
}

/// Opens a subsection of the properties that follow, titled by the text
/// `title`; sectionEnd closes it.
constexpr KOVAPropertyDefinition sectionBegin(const char* name, const KOVAPropertyDefault* title)
{
    return lockedRow(name, title, nullptr, true, KOVA::PropertySubTypeBeginSubSection);
}

inline constexpr KOVAPropertyDefault kSectionEnd = KOVAPropertyDefault::Bool(true);

/// Closes the subsection that sectionBegin opened.
constexpr KOVAPropertyDefinition sectionEnd(const char* name)
{
    return lockedRow(name, &kSectionEnd, nullptr, true, KOVA::PropertySubTypeEndSubSection);
}

/// States in a report the checksum a unit receives for each frame (off).
inline constexpr KOVAPropertyDefinition ReportChecksums = row("ReportChecksums", &kOff, nullptr);
/// Wait before the first frame (0 us).
inline constexpr KOVAPropertyDefinition StartDelayUs = row("StartDelayUs", &kZero, "us", KOVA::PropertySubTypeTime);
/// Wait after each frame (40000 us).
inline constexpr KOVAPropertyDefinition PeriodUs = row("PeriodUs", &kPeriod, "us", KOVA::PropertySubTypeTime);
/// Frames to send before the source ends (0: until the run stops).
inline constexpr KOVAPropertyDefinition Count = row("Count", &kZero, nullptr);

/// Reads integer property `name` of `source`, which must lie in [low, high].
/// Fails Birth through Error, naming the property, its value and the range,
/// otherwise. Thread-bound to the source's primary thread, in Birth.
inline int64_t boundedProperty(KOVAComponent& source, const char* name, int64_t low, int64_t high)
{
    int64_t value = 0;
    source.Get(source.Property(name), value);
    if (value < low || value > high) {
        source.Error(KOVAStreamedString()
                     << "[Birth] " << name << " is " << value << ", it must be between " << low << " and " << high);
    }
    return value;
}

} // namespace host_sources
