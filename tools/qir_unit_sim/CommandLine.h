// CommandLine.h - the options of the qir-unit-sim program.
#pragma once

#include "EmulatorConfig.h"
#include "FrameDumper.h"

#include <optional>
#include <string>

namespace vxqir::sim {

/// The ports of a real unit, which clients such as qir-replay assume when
/// given none: the program takes them unless told otherwise or in use.
inline constexpr uint16_t UNIT_CONTROL_PORT = 65024;
inline constexpr uint16_t UNIT_DATA_BASE_PORT = 61440;

enum class LiveMode : uint8_t { Auto, On, Off };

/// Everything the program was asked to do.
struct ProgramOptions {
    EmulatorConfig config;
    double durationSeconds = 0.0; ///< 0: until SIGINT or SIGTERM
    std::string summaryJson;      ///< "" none, "-" standard output
    std::string readyFile;        ///< written once the sockets are bound
    std::string capture;          ///< "" none, else the capture file of every datagram
    std::optional<DumpConfig> dump;
    LiveMode live = LiveMode::Auto;
    bool printFrames = false;
};

/// Outcome of parsing: either options to run with, or an exit code with
/// the text to print (help on stdout when the code is 0, else an error
/// naming the option on stderr).
struct ParseResult {
    std::optional<ProgramOptions> options;
    int exitCode = 0;
    std::string message;
};

/// Parses the command line (argv[0] is the program name). Never throws for
/// bad input; every refusal names the option and the reason.
ParseResult parseCommandLine(int argc, const char* const* argv);

} // namespace vxqir::sim
