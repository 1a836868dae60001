// What a package file needs from the host that loads it, told as a user
// reads it, and whether that agrees with the system its information block
// names.
#pragma once

#include "elf/PackageElf.h"
#include "info/PackageInfoReader.h"

#include <string>

namespace host {

/// "libm.so.6, libc.so.6, ld-linux-x86-64.so.2 (glibc 2.36 or newer)".
std::string NeedsText(const PackageElf::DynamicInfo& elf);

/// A warning when the package needs a newer glibc than the system of the
/// block's OS entry has, naming both ("OS=ubuntu2004 stands for glibc 2.31,
/// but the package needs glibc 2.36 ..."); empty when they agree, when the
/// OS entry is missing or unknown, or when the package needs no glibc
/// version.
std::string GlibcMismatch(const PackageInfo::Entries& info, const PackageElf::DynamicInfo& elf);

} // namespace host
