// Reading a recording of a million mixed records from the page cache:
// delimiting records as `qir-records stats` does, the factory without and
// with copying, the shared factory, and the SOME/IP scan of Ethernet frames.
//
// The file is generated into the temporary directory before the benchmarks
// and deleted after them. Every operator new is counted, to show that
// reading without copying allocates nothing per record.

#include "AllocationCounter.h"
#include "MappedFile.h"
#include "RecordGenerator.h"

#include "data_types/AnyContainer.h"
#include "data_types/ContainerError.h"
#include "data_types/RecordScanner.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

using namespace qir::data_types;
using qir::records::MappedFile;

constexpr uint64_t kRecords = 1'000'000;

std::string g_path;
std::unique_ptr<MappedFile> g_file;

void generate_file()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "qir-records-bench-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        std::perror("mkstemp");
        std::exit(2);
    }
    g_path = pattern;
    qir::records::RecordGenerator generator(42, 1'700'000'000'000'000);
    qir::records::Bytes chunk;
    for (uint64_t i = 0; i < kRecords; ++i) {
        generator.append_next(chunk);
        if (chunk.size() >= (1u << 20) || i + 1 == kRecords) {
            if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
                std::perror("write");
                std::exit(2);
            }
            chunk.clear();
        }
    }
    ::close(fd);
    g_file = std::make_unique<MappedFile>(g_path);
    // Touch every page once so that all runs read from memory.
    uint64_t sum = 0;
    for (size_t i = 0; i < g_file->bytes().size(); i += 4096)
        sum += g_file->bytes()[i];
    benchmark::DoNotOptimize(sum);
    std::fprintf(stderr, "recording: %s, %llu records, %zu bytes\n", g_path.c_str(),
                 static_cast<unsigned long long>(kRecords), g_file->bytes().size());
}

void finish(benchmark::State& state, uint64_t records, uint64_t allocations)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_file->bytes().size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records));
    state.counters["allocs_per_record"] =
        benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(state.iterations() * records));
}

/// Delimits every record and counts records, bytes and payload bytes per
/// type, as `qir-records stats` does.
void BM_StatsScan(benchmark::State& state)
{
    uint64_t records = 0;
    const uint64_t before = qir::test::allocation_count();
    for (auto _ : state) {
        std::array<uint64_t, 256> counts{}, bytes{}, payload{};
        RecordScanner scanner(g_file->bytes());
        records = 0;
        while (const auto record = scanner.next()) {
            const auto type = static_cast<uint8_t>(record->header.type);
            ++counts[type];
            bytes[type] += record->header.length;
            payload[type] += record->header.payload_length;
            ++records;
        }
        benchmark::DoNotOptimize(counts);
        benchmark::DoNotOptimize(bytes);
        benchmark::DoNotOptimize(payload);
    }
    finish(state, records, qir::test::allocation_count() - before);
}
BENCHMARK(BM_StatsScan)->Unit(benchmark::kMillisecond);

/// Delimits every record and makes its container (by value) with or
/// without copying the payload.
void BM_Factory(benchmark::State& state)
{
    const bool copy = state.range(0) != 0;
    uint64_t records = 0;
    const uint64_t before = qir::test::allocation_count();
    for (auto _ : state) {
        RecordScanner scanner(g_file->bytes());
        uint64_t payload = 0;
        records = 0;
        while (const auto record = scanner.next()) {
            const std::optional<AnyContainer> container = make_container(record->bytes, copy);
            if (container)
                payload += as_base(*container).get_payload_length();
            ++records;
        }
        benchmark::DoNotOptimize(payload);
    }
    finish(state, records, qir::test::allocation_count() - before);
}
BENCHMARK(BM_Factory)->ArgName("copy")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

/// The shared-pointer factory BaseContainer::read_data_from without copying:
/// one allocation per record for the shared container itself.
void BM_SharedFactory(benchmark::State& state)
{
    uint64_t records = 0;
    const uint64_t before = qir::test::allocation_count();
    for (auto _ : state) {
        RecordScanner scanner(g_file->bytes());
        uint64_t payload = 0;
        records = 0;
        while (const auto record = scanner.next()) {
            if (const auto container = BaseContainer::read_data_from(record->bytes, false))
                payload += container->get_payload_length();
            ++records;
        }
        benchmark::DoNotOptimize(payload);
    }
    finish(state, records, qir::test::allocation_count() - before);
}
BENCHMARK(BM_SharedFactory)->Unit(benchmark::kMillisecond);

/// Finds the SOME/IP messages of every UDP Ethernet frame without copying
/// them, as `qir-records someip` does without printing.
void BM_SomeIpScan(benchmark::State& state)
{
    uint64_t records = 0;
    uint64_t messages = 0;
    for (auto _ : state) {
        RecordScanner scanner(g_file->bytes());
        records = 0;
        messages = 0;
        while (const auto record = scanner.next()) {
            ++records;
            if (record->header.type != ChannelType::Ethernet)
                continue;
            const std::optional<EthernetContainer> frame = EthernetContainer::read_data_from(record->bytes, false);
            try {
                SOMEIPMessage::visit_someip_messages(
                    frame->get_udp_payload(), [&](const SOMEIPHeader&, std::span<const uint8_t>) { ++messages; });
            } catch (const ContainerError&) {
                // not UDP, or not SOME/IP
            }
        }
        benchmark::DoNotOptimize(messages);
    }
    state.counters["someip_messages"] = static_cast<double>(messages);
    finish(state, records, 0);
}
BENCHMARK(BM_SomeIpScan)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    generate_file();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_file.reset();
    std::filesystem::remove(g_path);
    return 0;
}
