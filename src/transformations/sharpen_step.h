// The per-pixel step Unsharp Mask and Sharpen share: given a source sample s and a reference m
// (the blurred sample, or the mean of the neighbours), d = s - m pushes s to the candidate
// clamp(s + rnd(d x strength)); a threshold ramp on the pixel's largest |d| decides how far s
// moves toward it, and the halo limits cap the move.
//
// The work goes row by row in two passes over short blocks, each a plain loop over contiguous
// samples, so the compiler vectorises them: first the per-pixel weight (0 below the lower
// threshold, 255 from the upper one on, the ramp between), written once per sample, then the
// candidate, the blend by that weight and the limits. A weight of 255 gives the candidate exactly
// in both blends, and 0 gives s, so the three threshold cases need no branch.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/numeric.h"

// The GNU toolchain on x86-64 Linux builds the row loops twice and picks AVX2 at load time when
// the processor has it; elsewhere the plain build runs. GCC's optimisation level 2 vectorises
// only loops whose trip count it knows, so the row loops ask for level 3.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__)
#define SHARPEN_CLONES __attribute__((target_clones("avx2", "default"), optimize("O3")))
#elif defined(__clang__) && defined(__x86_64__) && defined(__linux__)
#define SHARPEN_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define SHARPEN_CLONES
#endif
#if defined(__GNUC__) || defined(__clang__)
#define SHARPEN_INLINE inline __attribute__((always_inline))
#else
#define SHARPEN_INLINE inline
#endif

namespace tessaly {

// 16-bit samples are read in place.
static_assert(std::endian::native == std::endian::little, "16-bit samples are little-endian");

// The settings in sample units of one depth.
struct SharpenStep {
    std::int32_t low = 0;    // differences below are left alone
    std::int32_t high = 0;   // differences from here on take the full candidate
    std::int32_t over = 0;   // largest increase
    std::int32_t under = 0;  // largest decrease
    double strength = 1.0;
    // The weight is clamp(((D - low) x 255 + ramp_offset) x ramp_inverse, 0, 255), truncated:
    // with a ramp, offset 0.5 and inverse 1 / (high - low) make it (D - low) x 255 / (high - low)
    // exactly (the quotient plus 0.5 / (high - low) lies clear of the next integer by far more
    // than the product's rounding error); without one, offset 255 and inverse 1 give 0 below
    // low and 255 from low on.
    double ramp_offset = 255.0;
    double ramp_inverse = 1.0;
};

// full: 255 or 65535. The fractions are scaled and rounded to whole samples.
inline SharpenStep sharpen_step(std::int32_t full, double thresholdb, double thresholdw,
                                double maxovershoot, double maxundershoot, double strength) {
    SharpenStep k;
    k.low = round_to_int(thresholdb * full);
    k.high = round_to_int(thresholdw * full);
    k.over = round_to_int(maxovershoot * full);
    k.under = round_to_int(maxundershoot * full);
    k.strength = strength;
    if (k.high > k.low) {
        k.ramp_offset = 0.5;
        k.ramp_inverse = 1.0 / (k.high - k.low);
    }
    return k;
}

// Samples per block: the scratch of one block stays in the first-level cache.
constexpr std::size_t sharpen_block_pixels = 512;

// Scratch one worker needs for sharpen_row: one weight per sample of a block.
struct SharpenScratch {
    std::int32_t weight[sharpen_block_pixels * 3];
};

template <class T, int C>
SHARPEN_INLINE void sharpen_block(const T* __restrict s, const T* __restrict m, T* __restrict out,
                                  std::size_t pixels, const SharpenStep& k,
                                  std::int32_t* __restrict weight) {
    constexpr std::int32_t full = sizeof(T) == 1 ? 255 : 65535;
    // blend8 rounds the step to nearest, blend16 truncates it.
    constexpr std::int32_t bias = sizeof(T) == 1 ? 127 : 0;
    const std::int32_t low = k.low, over = k.over, under = k.under;
    const double offset = k.ramp_offset, inverse = k.ramp_inverse, strength = k.strength;

    for (std::size_t p = 0; p < pixels; ++p) {
        std::int32_t d = 0;
        for (int c = 0; c < C; ++c) {
            const std::int32_t e = static_cast<std::int32_t>(s[p * C + c]) - m[p * C + c];
            d = std::max(d, std::abs(e));
        }
        const auto ramp = static_cast<std::int32_t>((((d - low) * 255) + offset) * inverse);
        const std::int32_t w = std::min(std::max(ramp, 0), 255);
        for (int c = 0; c < C; ++c) weight[p * C + c] = w;
    }

    const std::size_t n = pixels * C;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t v = s[i];
        const double q = static_cast<double>(v - static_cast<std::int32_t>(m[i])) * strength;
        // Halves away from zero, as round_to_int.
        const auto delta = static_cast<std::int32_t>(q + std::copysign(0.5, q));
        const std::int32_t candidate = std::min(std::max(v + delta, 0), full);
        const std::int32_t diff = candidate - v;
        const auto step = static_cast<std::int32_t>(
            (static_cast<std::uint32_t>(std::abs(diff)) * static_cast<std::uint32_t>(weight[i]) +
             bias) /
            255u);
        std::int32_t o = v + (diff < 0 ? -step : step);
        o = std::min(o, v + over);
        o = std::max(o, v - under);
        out[i] = static_cast<T>(o);
    }
}

// One row: s the source samples, m the reference samples, out the result (C samples a pixel).
template <class T, int C>
SHARPEN_INLINE void sharpen_row(const T* s, const T* m, T* out, std::size_t pixels,
                                const SharpenStep& k, SharpenScratch& scratch) {
    for (std::size_t p = 0; p < pixels; p += sharpen_block_pixels) {
        const std::size_t count = std::min(sharpen_block_pixels, pixels - p);
        sharpen_block<T, C>(s + p * C, m + p * C, out + p * C, count, k, scratch.weight);
    }
}

}  // namespace tessaly
