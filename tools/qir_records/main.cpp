// qir-records: looks into files that hold a sequence of sensor data records,
// and writes their Ethernet frames as pcap.

#include "Commands.h"
#include "GenLimits.h"
#include "Progress.h"

#include "OutputFile.h"
#include "StopSignals.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

using namespace qir::records;

namespace {

int usage_error(const std::string& text)
{
    std::fprintf(stderr, "qir-records: %s\nRun qir-records --help (or qir-records COMMAND --help) for the options.\n",
                 text.c_str());
    return kExitFailure;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{ "Inspect files of recorded bus and sensor frames (sensor data records)", "qir-records" };
    app.require_subcommand(1);
    app.footer("Exit status: 0 all went well; 1 some records or frames were reported (and left out); 2 the "
               "command could not run (bad arguments, unreadable input, unwritable output); 130 stopped by "
               "SIGINT or SIGTERM (no output file is left behind).");
    bool progress = Progress::stderr_is_terminal();
    app.add_flag("--progress,!--no-progress", progress,
                 "Show progress on standard error (default: when it is a terminal)");

    std::string input;
    std::string output;

    CLI::App* ls = app.add_subcommand("ls", "One line per record: offset, time, type, length, summary");
    ls->add_option("FILE", input, "Record file")->required();

    CLI::App* stats = app.add_subcommand("stats", "Records, bytes and payload bytes per type; time span");
    stats->add_option("FILE", input, "Record file")->required();

    std::vector<uint16_t> ports;
    CLI::App* someip = app.add_subcommand("someip",
                                          "SOME/IP messages in UDP frames and SOME/IP records "
                                          "(SOME/IP over TCP is not read)");
    someip->add_option("FILE", input, "Record file")->required();
    someip->add_option("--port", ports,
                       "Only UDP frames from or to this port (repeatable); then frames that hold no valid "
                       "SOME/IP are errors (default: every UDP frame)");

    bool remove_vlan = false;
    CLI::App* pcap = app.add_subcommand("pcap", "Write the Ethernet records as a pcap file");
    pcap->add_option("FILE", input, "Record file")->required();
    pcap->add_option("-o,--output", output, "pcap file to write (not the record file)")->required();
    pcap->add_flag("--remove-vlan", remove_vlan, "Write frames without their VLAN tags");

    // Taken as text and checked by parse_gen_request, which refuses signs
    // and values out of range instead of wrapping them.
    std::string count_text = "1000";
    std::string seed_text = "1";
    std::string start_text = "1700000000000000";
    CLI::App* gen = app.add_subcommand("gen", "Write a file of mixed test records of every type");
    gen->add_option("OUTPUT", output, "Record file to write")->required();
    gen->add_option("-n,--count", count_text, "Number of records, 0 to " + std::to_string(kMaxGeneratedRecords))
        ->type_name("N")
        ->capture_default_str();
    gen->add_option("--seed", seed_text, "Seed of the mix, 0 to 2^64-1")->type_name("S")->capture_default_str();
    gen->add_option("--start", start_text, "Time of the first record in microseconds since 1970 (may be negative)")
        ->type_name("US")
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        // A mistyped command is otherwise reported as a missing one.
        if (app.get_subcommands().empty() && argc > 1 && argv[1][0] != '-')
            return usage_error(std::string("unknown command \"") + argv[1] +
                               "\"; the commands are ls, stats, someip, pcap and gen");
        return usage_error(error.what());
    }

    GenRequest request;
    if (gen->parsed()) {
        if (const auto refusal = parse_gen_request(count_text, seed_text, start_text, request))
            return usage_error(*refusal);
    }

    qir::tools::install_stop_signals();
    try {
        if (ls->parsed())
            return run_ls(input, progress);
        if (stats->parsed())
            return run_stats(input, progress);
        if (someip->parsed())
            return run_someip(input, ports, progress);
        if (pcap->parsed())
            return run_pcap(input, output, remove_vlan, progress);
        if (gen->parsed())
            return run_gen(output, request.count, request.seed, request.start_time_us, progress);
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "qir-records: %s\n", error.what());
        return kExitFailure;
    }
    return kExitFailure;
}
