#include "Diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <utility>

namespace vxqir {

namespace {

struct SinkState {
    // Guards sink, and is held while a line is written, so that lines from
    // several threads never interleave and a replaced sink is never called
    // late.
    std::mutex mutex;
    DiagnosticSink sink;
};

// Never destroyed: the listener thread may still write a line while the
// process ends and static objects go.
SinkState& state()
{
    alignas(SinkState) static unsigned char storage[sizeof(SinkState)];
    static SinkState* const instance = new (storage) SinkState;
    return *instance;
}

std::FILE* streamFile(DiagnosticStream stream)
{
    return stream == DiagnosticStream::Error ? stderr : stdout;
}

// `format` and `arguments` come from diagnose(), whose format attribute has
// the compiler check every call; marking these helpers as format functions
// too lets their v*printf calls take the format under -Wformat=2.
__attribute__((format(printf, 2, 0))) void writeLine(DiagnosticStream stream, const char* format,
                                                     std::va_list arguments)
{
    std::FILE* file = streamFile(stream);
    ::flockfile(file);
    std::vfprintf(file, format, arguments);
    std::fputc('\n', file);
    ::funlockfile(file);
}

// Formats into a stack buffer; only a line longer than it allocates.
__attribute__((format(printf, 2, 0))) void callSink(DiagnosticStream stream, const char* format, std::va_list arguments)
{
    // Each formatting pass consumes its own copy of the arguments.
    std::va_list longLine;
    std::va_list fallback;
    va_copy(longLine, arguments);
    va_copy(fallback, arguments);
    char buffer[512];
    const int length = std::vsnprintf(buffer, sizeof(buffer), format, arguments);
    try {
        if (length < 0) {
            state().sink(stream, std::string_view("(unformattable diagnostic)"));
        } else if (static_cast<size_t>(length) < sizeof(buffer)) {
            state().sink(stream, std::string_view(buffer, static_cast<size_t>(length)));
        } else {
            std::string line(static_cast<size_t>(length) + 1, '\0');
            std::vsnprintf(line.data(), line.size(), format, longLine);
            line.pop_back();
            state().sink(stream, line);
        }
    } catch (...) {
        // A failing sink must not cost the line nor unwind into the library.
        writeLine(stream, format, fallback);
    }
    va_end(fallback);
    va_end(longLine);
}

} // namespace

void setDiagnosticSink(DiagnosticSink replacement)
{
    SinkState& current = state();
    std::lock_guard lock(current.mutex);
    current.sink = std::move(replacement);
}

void diagnose(DiagnosticStream stream, const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    {
        SinkState& current = state();
        std::lock_guard lock(current.mutex);
        if (current.sink)
            callSink(stream, format, arguments);
        else
            writeLine(stream, format, arguments);
    }
    va_end(arguments);
}

} // namespace vxqir
