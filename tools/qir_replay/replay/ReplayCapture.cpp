#include "ReplayCapture.h"

#include <string>

namespace qir::replay {

void commitCapture(const vxqir::sim::UnitEmulator& unit, std::FILE* out, std::FILE* err, ReplayResult& result)
{
    const auto& capture = unit.config().capture;
    if (!capture)
        return;
    try {
        capture->commit();
        std::fprintf(out, "capture: %llu datagrams of the embedded unit in %s\n",
                     static_cast<unsigned long long>(capture->datagrams()), capture->path().c_str());
    } catch (const std::exception& error) {
        std::fprintf(err, "qir-replay: --capture: %s\n", error.what());
        result.errors.push_back(std::string("--capture: ") + error.what());
        if (result.exitCode == 0)
            result.exitCode = 1;
    }
}

} // namespace qir::replay
