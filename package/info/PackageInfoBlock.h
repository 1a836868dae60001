// The package file's trailing information block: the one place that defines
// its layout.
//
//   +-----------------------------+------------------------------------+----------+
//   | shared-library image        | text block                         | length   |
//   | (whatever the linker wrote) | "PACKAGE_INFO\0" "KEY=VALUE\0" ... | u32 LE   |
//   +-----------------------------+------------------------------------+----------+
//                                 |<---------- length bytes ---------->|<- 4 B -->|
//
// The text block is a sequence of NUL-terminated texts: first the magic
// "PACKAGE_INFO", then KEY=VALUE entries, among them, in this order,
// FILENAME, OS, ARCH, VERSION, DATE (YYYYMMDD), TARGET and, last,
// DESCRIPTION. The length counts every byte of the text block including
// each terminating NUL, not the length field itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace PackageInfo {

inline constexpr std::string_view Magic{ "PACKAGE_INFO" };
/// Bytes of the trailing length field.
inline constexpr size_t LengthFieldSize = sizeof(uint32_t);
/// Smallest text block: the magic and its NUL.
inline constexpr size_t MinimumBlockSize = Magic.size() + 1;
/// Largest text block a reader accepts.
inline constexpr size_t MaximumBlockSize = 64 * 1024;

/// Keys every package gives, in the order they must appear (other entries
/// may stand between them; DESCRIPTION is the last entry).
inline constexpr std::array<std::string_view, 7> RequiredKeys{ "FILENAME", "OS",     "ARCH",       "VERSION",
                                                               "DATE",     "TARGET", "DESCRIPTION" };

static_assert(LengthFieldSize == 4);
static_assert(MinimumBlockSize == 13);

} // namespace PackageInfo
