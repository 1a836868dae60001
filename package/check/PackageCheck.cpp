// qir-pck-check: checks that a package file is self-contained: it needs only
// glibc's own libraries, no version of any other library (GLIBCXX_, CXXABI_,
// GCC_), and exports exactly its entry points.
//
//   qir-pck-check PACKAGE --exports LIST [--exports-only]
#include "elf/PackageElf.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

void usage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: qir-pck-check PACKAGE --exports LIST [--exports-only]\n"
                 "Checks that PACKAGE (a shared library) needs only glibc's own libraries, requires no\n"
                 "version of another library (GLIBCXX_, CXXABI_, GCC_, ...) and exports exactly the\n"
                 "symbols named in LIST (one per line; # starts a comment).\n"
                 "  --exports LIST   the file of entry points (required)\n"
                 "  --exports-only   compare only the exports (builds whose packages link the\n"
                 "                   C++ runtime dynamically, such as sanitizer builds)\n"
                 "  -h, --help       show this help\n"
                 "Exit status: 0 self-contained, 1 problems found (one line each), 2 bad usage or input.\n");
}

bool readList(const std::string& path, std::vector<std::string>& names)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        const size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos)
            continue;
        names.push_back(line.substr(start, line.find_last_not_of(" \t\r") - start + 1));
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string package, exportsFile;
    bool exportsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        }
        if (arg == "--exports" && i + 1 < argc) {
            exportsFile = argv[++i];
        } else if (arg == "--exports-only") {
            exportsOnly = true;
        } else if (!arg.empty() && arg[0] != '-' && package.empty()) {
            package = arg;
        } else {
            std::fprintf(stderr, "qir-pck-check: unexpected argument \"%s\"\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (package.empty() || exportsFile.empty()) {
        std::fprintf(stderr, "qir-pck-check: give a PACKAGE and --exports LIST (see --help)\n");
        return 2;
    }
    std::vector<std::string> expected;
    if (!readList(exportsFile, expected)) {
        std::fprintf(stderr, "qir-pck-check: %s: cannot read the list of entry points (%s)\n", exportsFile.c_str(),
                     std::strerror(errno));
        return 2;
    }
    std::string why;
    const auto info = PackageElf::ReadFile(package, why);
    if (!info) {
        std::fprintf(stderr, "qir-pck-check: %s\n", why.c_str());
        return 2;
    }
    const auto problems = PackageElf::SelfContainedProblems(*info, expected, exportsOnly);
    for (const auto& problem : problems)
        std::printf("%s: %s\n", package.c_str(), problem.c_str());
    if (!problems.empty())
        return 1;
    std::string needed;
    for (const auto& name : info->needed)
        needed += (needed.empty() ? "" : ", ") + name;
    const auto glibc = PackageElf::HighestGlibcVersion(*info);
    std::printf("%s: %s: needs %s (glibc %s or newer); exports its %zu entry points\n", package.c_str(),
                exportsOnly ? "exports as expected" : "self-contained", needed.c_str(),
                glibc ? glibc->Text().c_str() : "of any version", expected.size());
    return 0;
}
