// The one place where the pixel loops learn how to use the processor's vector unit. Row loops
// marked TESSALY_CLONES are built twice on the GNU toolchain for x86-64 Linux, for AVX2 and for
// the plain instruction set, and the loader picks the one the processor runs; elsewhere the plain
// build runs. GCC's optimisation level 2 vectorises only loops whose trip count it knows, so the
// clones ask for level 3. Hand-written AVX2 code is compiled under TESSALY_AVX2 in functions
// marked TESSALY_AVX2_TARGET and called only when tessaly_has_avx2() says so.
#pragma once

#include <bit>

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#include <immintrin.h>
#define TESSALY_AVX2 1
#define TESSALY_AVX2_TARGET __attribute__((target("avx2")))
#else
#define TESSALY_AVX2 0
#define TESSALY_AVX2_TARGET
#endif

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__)
#define TESSALY_CLONES __attribute__((target_clones("avx2", "default"), optimize("O3")))
#elif defined(__clang__) && defined(__x86_64__) && defined(__linux__)
#define TESSALY_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TESSALY_CLONES
#endif

#if defined(__GNUC__) || defined(__clang__)
#define TESSALY_INLINE inline __attribute__((always_inline))
#else
#define TESSALY_INLINE inline
#endif

namespace tessaly {

// 16-bit samples are read in place.
static_assert(std::endian::native == std::endian::little, "16-bit samples are little-endian");

// The processor runs AVX2 (asked once).
bool tessaly_has_avx2();

}  // namespace tessaly
