#include "vectorstate.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

namespace zarn {

namespace {

__attribute__((target("avx"))) void ZeroUpper() noexcept
{
    _mm256_zeroupper();
}

}  // namespace

void ClearUpperVectorState() noexcept
{
    static const bool haveAvx = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    if (haveAvx) {
        ZeroUpper();
    }
}

}  // namespace zarn

#else

namespace zarn {

void ClearUpperVectorState() noexcept {}

}  // namespace zarn

#endif
