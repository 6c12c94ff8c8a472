#pragma once

// How the fuzz targets stop on a failed check: the check's text on standard
// error, then abort(), which libFuzzer records as a crash with its input.

#include <cstdio>
#include <cstdlib>

namespace zarn::probe {

[[noreturn]] inline void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

inline void Require(bool condition, const char* what)
{
    if (!condition) {
        Fail(what);
    }
}

}  // namespace zarn::probe
