// The one way an export runs its C++: no exception crosses the C boundary. Exports
// validate their arguments, call the C++ that holds the behaviour, and map its result.
#pragma once

#include <type_traits>

namespace kav::devicelib {

// The body's result, or `failure` when it throws (an allocation that failed, say).
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
    try {
        return static_cast<Result>(body());
    } catch (...) {
        return failure;
    }
}

// The common case: a bool body, reported as 1 or 0.
template <typename Body>
unsigned char Guarded(Body&& body) noexcept {
    static_assert(std::is_same_v<std::invoke_result_t<Body>, bool>);
    return Guarded<unsigned char>(0, [&]() -> unsigned char { return body() ? 1 : 0; });
}

}  // namespace kav::devicelib

// A second name of one exported function. KavLib.def gives the DLL its aliases; this gives
// them to programs that link the library statically, such as the tests.
#define KAV_EXPORT_ALIAS_OF(target) __attribute__((alias(#target)))
