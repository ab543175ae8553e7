// What the harnesses share. A finding is an abort with a message: libFuzzer keeps the
// input that caused it, as it does for a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace kav::fuzz {

[[noreturn]] inline void Finding(const char* what) {
    std::fprintf(stderr, "fuzz finding: %s\n", what);
    std::abort();
}

inline void Require(bool holds, const char* what) {
    if (!holds) Finding(what);
}

}  // namespace kav::fuzz
