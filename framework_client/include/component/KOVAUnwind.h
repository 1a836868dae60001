// The framework's unwinding: lifecycle calls end by raising an integer code
// (KOVA::ErrorException, KOVA::ModuleDied, KOVA::TimeOut). The codes are
// caught where the framework runs the lifecycle call and never leave the
// framework client.
#pragma once

#include <cstdint>

class KOVAComponent;

namespace KOVA {

/// Raises `code`.
[[noreturn]] void Raise(int32_t code);

/// Fails the current lifecycle call with `text`: through the Error of the
/// component whose call runs on this thread, or, on a thread that runs none,
/// by reporting `text` at error level and raising KOVA::ErrorException.
[[noreturn]] void Fail(const char* text);

} // namespace KOVA

namespace KOVAPrivate {

/// The component whose lifecycle call, action or component thread runs on
/// the calling thread, or null. Thread-bound (a thread-local value).
KOVAComponent* CurrentComponent();

/// Makes `component` the current component of this thread for its lifetime.
class CurrentComponentScope {
public:
    explicit CurrentComponentScope(KOVAComponent* component);
    ~CurrentComponentScope();
    CurrentComponentScope(const CurrentComponentScope&) = delete;
    CurrentComponentScope& operator=(const CurrentComponentScope&) = delete;

private:
    KOVAComponent* previous_;
};

} // namespace KOVAPrivate
