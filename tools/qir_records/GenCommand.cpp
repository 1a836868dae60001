#include "Commands.h"
#include "Progress.h"
#include "RecordGenerator.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace qir::records {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

int run_gen(const std::string& output, uint64_t count, uint64_t seed, int64_t start_time_us, bool progress)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(output.c_str(), "wb"));
    if (!file)
        throw std::runtime_error("cannot write " + output + ": " + std::strerror(errno));
    RecordGenerator generator(seed, start_time_us);
    Progress bar(output, count, progress);
    Bytes chunk;
    uint64_t bytes = 0;
    for (uint64_t i = 0; i < count; ++i) {
        generator.append_next(chunk);
        if (chunk.size() >= (1u << 20) || i + 1 == count) {
            if (std::fwrite(chunk.data(), 1, chunk.size(), file.get()) != chunk.size())
                throw std::runtime_error("cannot write " + output + ": " + std::strerror(errno));
            bytes += chunk.size();
            chunk.clear();
        }
        bar.update(i + 1, i + 1);
    }
    bar.finish();
    if (std::fflush(file.get()) != 0 || std::fclose(file.release()) != 0)
        throw std::runtime_error("cannot write " + output + ": " + std::strerror(errno));
    std::fprintf(stderr, "%s: %" PRIu64 " records, %" PRIu64 " bytes\n", output.c_str(), count, bytes);
    return kExitOk;
}

} // namespace qir::records
