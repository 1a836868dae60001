// Tshark.h - reads capture files with tshark and the project's dissector,
// for tests of what goes over the wire.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace qir::test {

/// True when a tshark program is on the PATH (tests that need it skip
/// otherwise).
inline bool tsharkAvailable()
{
    return std::system("command -v tshark >/dev/null 2>&1") == 0;
}

/// What one tshark run printed.
struct TsharkOutput {
    int exitCode = -1;
    std::string out;
    std::string err;
};

/// Runs `tshark -r CAPTURE -X lua_script:DISSECTOR ARGUMENTS`. `arguments`
/// is shell text: quote what needs it. Standard error goes to a file next
/// to the capture.
inline TsharkOutput runTshark(const std::filesystem::path& capture, const std::string& dissector,
                              const std::string& arguments)
{
    const std::filesystem::path errFile = capture.string() + ".tshark-stderr";
    const std::string command = "tshark -r '" + capture.string() + "' -X 'lua_script:" + dissector + "' " + arguments +
        " 2>'" + errFile.string() + "'";
    TsharkOutput result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errFile);
    result.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::filesystem::remove(errFile);
    return result;
}

/// Rows of `-T fields -E separator=|` output, split at the separator; empty
/// fields are kept.
inline std::vector<std::vector<std::string>> fieldRows(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> row;
        size_t start = 0;
        for (;;) {
            const size_t bar = line.find('|', start);
            row.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            if (bar == std::string::npos)
                break;
            start = bar + 1;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace qir::test
