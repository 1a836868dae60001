// Diagnostics.h - where the unit client library's diagnostic lines go.
//
// The library has no log: it writes one-line diagnostics ("Error: Failed
// to ...", "Bind: ...", "[Debug] IP ...") on standard output or standard
// error. Every such line passes through diagnose(), so a C++ program that
// links the library's core can take the lines over with setDiagnosticSink(),
// for instance to keep them out of a progress display, and give them back.
#pragma once

#include <functional>
#include <string_view>

namespace vxqir {

// The stream a diagnostic line is written to when no sink is set.
enum class DiagnosticStream {
    Output, // standard output
    Error,  // standard error
};

// Receives one diagnostic line per call: the line's text without its line
// end and the stream it would have been written to. Calls never overlap (see
// setDiagnosticSink), so the sink need not be thread-safe itself, but it runs
// on whichever thread wrote the line, the library's listener thread included,
// and must not call back into the library.
using DiagnosticSink = std::function<void(DiagnosticStream stream, std::string_view line)>;

// Sends every later diagnostic line to sink; an empty sink restores the
// default (each line with its line end on its stream). When this returns, no
// call of the previous sink is running or will start, so its owner may go.
// A sink that throws loses nothing: the line then goes to its stream.
// Thread-safe; must not be called from within a sink.
void setDiagnosticSink(DiagnosticSink sink);

// Writes one diagnostic line, printf-formatted; format carries no line end.
// Thread-safe; on the default path it allocates nothing.
void diagnose(DiagnosticStream stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace vxqir
