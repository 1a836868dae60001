// Replay driver for fuzz targets in builds without libFuzzer.
//
// Usage: TARGET [--runs N] [--max-len N] [--seed N] [FILE|DIR ...]
//
// Feeds every given file (directories are walked) to LLVMFuzzerTestOneInput,
// then N further inputs: seeded random bytes and random mutations of the
// files. The run is deterministic for a given seed and bounded by N.

#include "byte_io/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using qir::Bytes;

void collectFiles(const std::filesystem::path& path, std::vector<Bytes>& seeds)
{
    if (std::filesystem::is_directory(path)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
            if (entry.is_regular_file())
                collectFiles(entry.path(), seeds);
        }
        return;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read seed %s\n", path.c_str());
        std::exit(2);
    }
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes mutate(const Bytes& seed, std::mt19937_64& rng, size_t maxLen)
{
    Bytes out = seed;
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < edits; ++i) {
        switch (rng() % 5) {
        case 0: // flip a bit
            if (!out.empty())
                out[rng() % out.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1: // set a byte to an interesting value
            if (!out.empty()) {
                static constexpr uint8_t interesting[] = { 0, 1, 7, 8, 0x7f, 0x80, 0xff };
                out[rng() % out.size()] = interesting[rng() % sizeof(interesting)];
            }
            break;
        case 2: // truncate
            if (!out.empty())
                out.resize(rng() % out.size());
            break;
        case 3: // append random bytes
            for (size_t n = rng() % 16; n > 0 && out.size() < maxLen; --n)
                out.push_back(static_cast<uint8_t>(rng()));
            break;
        default: // duplicate a slice
            if (!out.empty() && out.size() < maxLen) {
                const size_t from = rng() % out.size();
                const size_t len = std::min<size_t>(1 + rng() % 32, out.size() - from);
                out.insert(out.end(), out.begin() + static_cast<std::ptrdiff_t>(from),
                           out.begin() + static_cast<std::ptrdiff_t>(from + len));
            }
            break;
        }
    }
    if (out.size() > maxLen)
        out.resize(maxLen);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    size_t runs = 10000;
    size_t maxLen = 4096;
    uint64_t seed = 1;
    std::vector<Bytes> seeds;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> unsigned long long {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", argv[i]);
                std::exit(2);
            }
            return std::strtoull(argv[++i], nullptr, 10);
        };
        if (arg == "--runs")
            runs = value();
        else if (arg == "--max-len")
            maxLen = value();
        else if (arg == "--seed")
            seed = value();
        else
            collectFiles(arg, seeds);
    }

    for (const Bytes& s : seeds)
        LLVMFuzzerTestOneInput(s.data(), s.size());

    std::mt19937_64 rng(seed);
    for (size_t run = 0; run < runs; ++run) {
        Bytes input;
        if (!seeds.empty() && rng() % 4 != 0) {
            input = mutate(seeds[rng() % seeds.size()], rng, maxLen);
        } else {
            input.resize(rng() % (maxLen + 1));
            for (uint8_t& b : input)
                b = static_cast<uint8_t>(rng());
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("replayed %zu seed(s) and %zu generated input(s)\n", seeds.size(), runs);
    return 0;
}
