#include "LibraryLines.h"

#include "Diagnostics.h"
#include "services/KOVAServices.h"

#include <mutex>

namespace qir::unit_client {

void FollowEngineQuiet()
{
    if (!KOVA::GetBoolProperty("Engine.quiet"))
        return;
    // The library's sink is one for the whole package: set once, kept until
    // the package goes, so that no instance's Death makes another instance
    // loud again.
    static std::once_flag silenced;
    std::call_once(silenced, [] { vxqir::setDiagnosticSink([](vxqir::DiagnosticStream, std::string_view) {}); });
}

} // namespace qir::unit_client
