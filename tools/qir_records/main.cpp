// qir-records: looks into files that hold a sequence of sensor data records,
// and writes their Ethernet frames as pcap.

#include "Commands.h"
#include "Progress.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

using namespace qir::records;

int main(int argc, char** argv)
{
    CLI::App app{ "Inspect files of recorded bus and sensor frames (sensor data records)", "qir-records" };
    app.require_subcommand(1);
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
    CLI::App* someip = app.add_subcommand("someip", "SOME/IP messages in Ethernet frames and SOME/IP records");
    someip->add_option("FILE", input, "Record file")->required();
    someip->add_option("--port", ports,
                       "Only UDP frames from or to this port (repeatable); then frames that hold no valid "
                       "SOME/IP are errors");

    bool remove_vlan = false;
    CLI::App* pcap = app.add_subcommand("pcap", "Write the Ethernet records as a pcap file");
    pcap->add_option("FILE", input, "Record file")->required();
    pcap->add_option("-o,--output", output, "pcap file to write")->required();
    pcap->add_flag("--remove-vlan", remove_vlan, "Write frames without their VLAN tags");

    uint64_t count = 1000;
    uint64_t seed = 1;
    int64_t start = 1'700'000'000'000'000;
    CLI::App* gen = app.add_subcommand("gen", "Write a file of mixed test records of every type");
    gen->add_option("OUTPUT", output, "Record file to write")->required();
    gen->add_option("-n,--count", count, "Number of records")->capture_default_str();
    gen->add_option("--seed", seed, "Seed of the mix")->capture_default_str();
    gen->add_option("--start", start, "Time of the first record in microseconds")->capture_default_str();

    CLI11_PARSE(app, argc, argv);

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
            return run_gen(output, count, seed, start, progress);
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "qir-records: %s\n", error.what());
        return kExitFailure;
    }
    return kExitFailure;
}
