// LibraryLines.h - the unit client library's own lines under a quiet engine.
#pragma once

namespace qir::unit_client {

/// When the engine runs quiet (engine property "Engine.quiet" true, as
/// `pck-host run --quiet` sets it), sends the unit client library's
/// diagnostic lines ("Bind: ...", the bind result, "Error: Failed to ...")
/// nowhere, for the rest of the package's life; otherwise leaves them on
/// their streams as the library writes them. Idempotent; thread-safe.
void FollowEngineQuiet();

} // namespace qir::unit_client
