#include "Commands.h"
#include "Progress.h"
#include "RecordGenerator.h"

#include "OutputFile.h"
#include "StopSignals.h"

#include <cinttypes>
#include <cstdio>

namespace qir::records {

int run_gen(const std::string& output, uint64_t count, uint64_t seed, int64_t start_time_us, bool progress)
{
    tools::OutputFile file(output, "output");
    RecordGenerator generator(seed, start_time_us);
    Progress bar(output, count, progress);
    Bytes chunk;
    uint64_t bytes = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (tools::stop_requested()) {
            bar.finish();
            std::fprintf(stderr,
                         "%s: stopped by a signal after %" PRIu64 " of %" PRIu64 " records; nothing was written\n",
                         output.c_str(), i, count);
            return kExitInterrupted;
        }
        generator.append_next(chunk);
        if (chunk.size() >= (1u << 20) || i + 1 == count) {
            file.write(chunk);
            bytes += chunk.size();
            chunk.clear();
        }
        bar.update(i + 1, i + 1);
    }
    bar.finish();
    file.commit();
    std::fprintf(stderr, "%s: %" PRIu64 " records, %" PRIu64 " bytes\n", output.c_str(), count, bytes);
    return kExitOk;
}

} // namespace qir::records
