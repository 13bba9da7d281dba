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
//
// 8-bit rows take an integer form in 16-bit vector lanes where the processor has AVX2. Its
// rounding of d x strength and its weight are checked against the double formulas for every
// 8-bit difference when the step is set up, and it is used only when all of them agree, so the
// results are the same bit for bit. 16-bit rows keep the double formulas, in AVX2 lanes, with
// the weight in registers and no division where there is no ramp.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/numeric.h"
#include "kernels/simd.h"

namespace tessaly {

// The integer form of the 8-bit step.
struct SharpenStep8 {
    // Agrees with the double formulas for every 8-bit difference: the vector rows may run.
    bool exact = false;
    // rnd(a x strength) = (a x hi + ((a x lo) >> 16) + 16) >> 5 for a = |d| <= 255, that is
    // (a x S + 2^20) >> 21 with S = hi x 2^16 + lo, split so that it stays in 16-bit lanes.
    std::uint16_t strength_hi = 0, strength_lo = 0;
    // Where no S fits every a: the result at a = fix_at[i] is corrected by fix_by[i].
    bool fixed = false;
    std::uint16_t fix_at[2] = {0xffff, 0xffff};  // 0xffff: unused (no a is that large)
    std::int16_t fix_by[2] = {0, 0};
    bool ramp = false;
    // Without a ramp the weight is 255 from `threshold` (0..256) on and 0 below; with one it is
    // min(max(D - low, 0), span) x 255 / span, the division by magic (see step8_weight).
    std::int16_t threshold = 0;
    std::uint16_t low = 0, span = 2, magic = 1;
    int magic_shift = 0;
    std::int16_t over = 0, under = 0;  // the halo limits, 0..255
};

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
    SharpenStep8 eight;  // set up for 8-bit steps only
};

// The weight of a pixel whose largest |s - m| is d, and rnd(e x strength), as the rows compute
// them in doubles.
TESSALY_INLINE std::int32_t sharpen_weight(std::int32_t d, std::int32_t low, double offset,
                                           double inverse) {
    const auto ramp = static_cast<std::int32_t>((((d - low) * 255) + offset) * inverse);
    return std::min(std::max(ramp, 0), 255);
}
TESSALY_INLINE std::int32_t sharpen_delta(std::int32_t e, double strength) {
    const double q = static_cast<double>(e) * strength;
    // Halves away from zero, as round_to_int.
    return static_cast<std::int32_t>(q + std::copysign(0.5, q));
}

// The integer forms, one sample at a time, as the vector lanes compute them.
inline std::int32_t step8_delta(const SharpenStep8& e, std::int32_t a) {
    const std::uint32_t u = static_cast<std::uint32_t>(a);
    const auto r =
        static_cast<std::int32_t>((u * e.strength_hi + ((u * e.strength_lo) >> 16) + 16) >> 5);
    return r + (u == e.fix_at[0] ? e.fix_by[0] : 0) + (u == e.fix_at[1] ? e.fix_by[1] : 0);
}
inline std::int32_t step8_weight(const SharpenStep8& e, std::int32_t d) {
    if (!e.ramp) return d >= e.threshold ? 255 : 0;
    // Granlund and Montgomery: n / span for every 16-bit n, with a 16-bit multiplier.
    const auto n = static_cast<std::uint32_t>(std::min(std::max(d - e.low, 0), int{e.span}) * 255);
    const std::uint32_t t = (n * e.magic) >> 16;
    return static_cast<std::int32_t>((t + ((n - t) >> 1)) >> e.magic_shift);
}

// Sets up k.eight and checks it against the double formulas on every 8-bit difference; exact
// stays false when any differs or the settings fall outside the lanes' ranges.
inline void sharpen_step8(SharpenStep& k) {
    SharpenStep8 e;
    // The strength: the multipliers S with rnd(a x strength) = floor((a S + 2^20) / 2^21) for
    // every a form an interval; the smallest is taken if there is one. A product the double
    // rounds up onto a half (or not) can leave none: then S is strength x 2^21 rounded, and the
    // one or two a it misses are corrected by value.
    if (!(k.strength >= 0.0 && k.strength <= 7.5) || k.over < 0 || k.under < 0) return;
    constexpr std::int64_t one = std::int64_t{1} << 21, half = one / 2;
    std::int64_t least = 0, most = std::int64_t{1} << 40;
    for (std::int32_t a = 1; a <= 255; ++a) {
        const std::int64_t r = sharpen_delta(a, k.strength);
        if (sharpen_delta(-a, k.strength) != -r) return;
        least = std::max(least, (std::max<std::int64_t>(r * one - half, 0) + a - 1) / a);
        most = std::min(most, (r * one + half - 1) / a);
    }
    const std::int64_t s = least <= most ? least : std::llround(k.strength * one);
    if ((s >> 16) > 255) return;
    e.strength_hi = static_cast<std::uint16_t>(s >> 16);
    e.strength_lo = static_cast<std::uint16_t>(s & 0xffff);
    int fixes = 0;
    for (std::int32_t a = 1; a <= 255; ++a) {
        const std::int32_t miss = sharpen_delta(a, k.strength) - step8_delta(e, a);
        if (miss == 0) continue;
        if (fixes == 2) return;
        e.fix_at[fixes] = static_cast<std::uint16_t>(a);
        e.fix_by[fixes] = static_cast<std::int16_t>(miss);
        ++fixes;
    }
    e.fixed = fixes > 0;
    // The weight: a ramp one sample wide is a threshold at its top.
    const std::int32_t span = k.high - k.low;
    if (span >= 2) {
        if (k.low < 0 || span > 257) return;
        e.ramp = true;
        e.low = static_cast<std::uint16_t>(k.low);
        e.span = static_cast<std::uint16_t>(span);
        const int l = std::bit_width(static_cast<unsigned>(span - 1));
        e.magic = static_cast<std::uint16_t>(((std::uint32_t{1} << l) - span) * 65536u / span + 1);
        e.magic_shift = l - 1;
    } else {
        e.threshold = static_cast<std::int16_t>(std::clamp(span == 1 ? k.high : k.low, 0, 256));
    }
    for (std::int32_t a = 0; a <= 255; ++a) {
        if (step8_delta(e, a) != sharpen_delta(a, k.strength) ||
            step8_weight(e, a) != sharpen_weight(a, k.low, k.ramp_offset, k.ramp_inverse)) {
            return;
        }
    }
    e.over = static_cast<std::int16_t>(std::min(k.over, 255));
    e.under = static_cast<std::int16_t>(std::min(k.under, 255));
    e.exact = true;
    k.eight = e;
}

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
    if (full == 255) sharpen_step8(k);
    return k;
}

// Samples per block: the scratch of one block stays in the first-level cache.
constexpr std::size_t sharpen_block_pixels = 512;

// Scratch one worker needs for sharpen_row: one weight per sample of a block.
struct SharpenScratch {
    std::int32_t weight[sharpen_block_pixels * 3];
};

template <class T, int C>
TESSALY_INLINE void sharpen_block(const T* __restrict s, const T* __restrict m, T* __restrict out,
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
        const std::int32_t w = sharpen_weight(d, low, offset, inverse);
        for (int c = 0; c < C; ++c) weight[p * C + c] = w;
    }

    const std::size_t n = pixels * C;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t v = s[i];
        const std::int32_t delta = sharpen_delta(v - static_cast<std::int32_t>(m[i]), strength);
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

#if TESSALY_AVX2

// The lanes' constants.
struct SharpenLanes8 {
    __m256i hi, lo, round, fix_at0, fix_at1, fix_by0, fix_by1;
    __m256i threshold_below, low, span, magic, over, under, full, bias, by255;
    __m128i magic_shift;
    TESSALY_AVX2_TARGET explicit SharpenLanes8(const SharpenStep8& e)
        : hi(_mm256_set1_epi16(static_cast<short>(e.strength_hi))),
          lo(_mm256_set1_epi16(static_cast<short>(e.strength_lo))),
          round(_mm256_set1_epi16(16)),
          fix_at0(_mm256_set1_epi16(static_cast<short>(e.fix_at[0]))),
          fix_at1(_mm256_set1_epi16(static_cast<short>(e.fix_at[1]))),
          fix_by0(_mm256_set1_epi16(e.fix_by[0])),
          fix_by1(_mm256_set1_epi16(e.fix_by[1])),
          threshold_below(_mm256_set1_epi16(static_cast<short>(e.threshold - 1))),
          low(_mm256_set1_epi16(static_cast<short>(e.low))),
          span(_mm256_set1_epi16(static_cast<short>(e.span))),
          magic(_mm256_set1_epi16(static_cast<short>(e.magic))),
          over(_mm256_set1_epi16(e.over)),
          under(_mm256_set1_epi16(e.under)),
          full(_mm256_set1_epi16(255)),
          bias(_mm256_set1_epi16(127)),
          // x / 255 = (x x 0x8081) >> 23 for every 16-bit x.
          by255(_mm256_set1_epi16(static_cast<short>(0x8081))),
          magic_shift(_mm_cvtsi32_si128(e.magic_shift)) {}
};

// Sixteen samples: v the source, m the reference, d the pixel's largest |v - m|, all 0..255.
template <bool Ramp, bool Fixed>
TESSALY_AVX2_TARGET TESSALY_INLINE __m128i sharpen_lanes8(__m256i v, __m256i m, __m256i d,
                                                          const SharpenLanes8& k) {
    const __m256i e = _mm256_sub_epi16(v, m);
    const __m256i a = _mm256_abs_epi16(e);
    __m256i r = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a, k.hi), _mm256_mulhi_epu16(a, k.lo)),
                         k.round),
        5);
    if constexpr (Fixed) {
        r = _mm256_add_epi16(r, _mm256_and_si256(_mm256_cmpeq_epi16(a, k.fix_at0), k.fix_by0));
        r = _mm256_add_epi16(r, _mm256_and_si256(_mm256_cmpeq_epi16(a, k.fix_at1), k.fix_by1));
    }
    const __m256i candidate = _mm256_min_epi16(
        _mm256_max_epi16(_mm256_add_epi16(v, _mm256_sign_epi16(r, e)), _mm256_setzero_si256()),
        k.full);
    __m256i o;
    if constexpr (Ramp) {
        const __m256i n =
            _mm256_mullo_epi16(_mm256_min_epu16(_mm256_subs_epu16(d, k.low), k.span), k.full);
        const __m256i t = _mm256_mulhi_epu16(n, k.magic);
        const __m256i w = _mm256_srl_epi16(
            _mm256_add_epi16(t, _mm256_srli_epi16(_mm256_sub_epi16(n, t), 1)), k.magic_shift);
        const __m256i diff = _mm256_sub_epi16(candidate, v);
        const __m256i x = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_abs_epi16(diff), w), k.bias);
        const __m256i step = _mm256_srli_epi16(_mm256_mulhi_epu16(x, k.by255), 7);
        o = _mm256_add_epi16(v, _mm256_sign_epi16(step, diff));
    } else {
        // Weight 255 moves by the whole difference, 0 not at all.
        o = _mm256_blendv_epi8(v, candidate, _mm256_cmpgt_epi16(d, k.threshold_below));
    }
    o = _mm256_max_epi16(_mm256_min_epi16(o, _mm256_add_epi16(v, k.over)),
                         _mm256_sub_epi16(v, k.under));
    return _mm_packus_epi16(_mm256_castsi256_si128(o), _mm256_extracti128_si256(o, 1));
}

TESSALY_AVX2_TARGET TESSALY_INLINE __m256i widen8(__m128i x) {
    return _mm256_cvtepu8_epi16(x);
}
TESSALY_AVX2_TARGET TESSALY_INLINE __m128i load16(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Whole groups of 16 pixels; returns the pixels done.
template <int C, bool Ramp, bool Fixed>
TESSALY_AVX2_TARGET std::size_t sharpen_row8_avx2(const std::uint8_t* s, const std::uint8_t* m,
                                                  std::uint8_t* out, std::size_t pixels,
                                                  const SharpenStep8& step) {
    const SharpenLanes8 k(step);
    std::size_t p = 0;
    if constexpr (C == 1) {
        for (; p + 16 <= pixels; p += 16) {
            const __m256i v = widen8(load16(s + p)), w = widen8(load16(m + p));
            const __m256i d = _mm256_abs_epi16(_mm256_sub_epi16(v, w));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + p),
                             sharpen_lanes8<Ramp, Fixed>(v, w, d, k));
        }
    } else {
        // Each sample takes its pixel's largest difference: the maximum over a pixel's three
        // bytes lands on its first, and shuffles copy it to all three. 16 pixels are 48 bytes,
        // three 16-byte pieces, the second starting in pixel 5 and the third in pixel 10.
        alignas(16) static constexpr std::uint8_t spread[3][16] = {
            {0, 0, 0, 3, 3, 3, 6, 6, 6, 9, 9, 9, 12, 12, 12, 15},
            {0, 0, 3, 3, 3, 6, 6, 6, 9, 9, 9, 12, 12, 12, 15, 15},
            {0, 3, 3, 3, 6, 6, 6, 9, 9, 9, 12, 12, 12, 15, 15, 15}};
        const __m128i spread0 = _mm_load_si128(reinterpret_cast<const __m128i*>(spread[0]));
        const __m128i spread1 = _mm_load_si128(reinterpret_cast<const __m128i*>(spread[1]));
        const __m128i spread2 = _mm_load_si128(reinterpret_cast<const __m128i*>(spread[2]));
        for (; p + 16 <= pixels; p += 16) {
            const std::size_t i = p * 3;
            __m128i sv[3], mv[3], a[3], d[3];
            for (int j = 0; j < 3; ++j) {
                sv[j] = load16(s + i + 16 * j);
                mv[j] = load16(m + i + 16 * j);
                a[j] = _mm_or_si128(_mm_subs_epu8(sv[j], mv[j]), _mm_subs_epu8(mv[j], sv[j]));
            }
            const __m128i t0 = _mm_max_epu8(
                a[0], _mm_max_epu8(_mm_alignr_epi8(a[1], a[0], 1), _mm_alignr_epi8(a[1], a[0], 2)));
            const __m128i t1 = _mm_max_epu8(
                a[1], _mm_max_epu8(_mm_alignr_epi8(a[2], a[1], 1), _mm_alignr_epi8(a[2], a[1], 2)));
            const __m128i t2 =
                _mm_max_epu8(a[2], _mm_max_epu8(_mm_srli_si128(a[2], 1), _mm_srli_si128(a[2], 2)));
            d[0] = _mm_shuffle_epi8(t0, spread0);
            d[1] = _mm_shuffle_epi8(_mm_alignr_epi8(t1, t0, 15), spread1);
            d[2] = _mm_shuffle_epi8(_mm_alignr_epi8(t2, t1, 14), spread2);
            for (int j = 0; j < 3; ++j) {
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(out + i + 16 * j),
                    sharpen_lanes8<Ramp, Fixed>(widen8(sv[j]), widen8(mv[j]), widen8(d[j]), k));
            }
        }
    }
    return p;
}

// 16-bit rows: the same double operations as sharpen_delta and sharpen_weight, four lanes at a
// time, and the integers around them in eight 32-bit lanes. rnd(e x strength) is taken as
// rnd(|e| x strength) with e's sign: rounding to nearest is symmetric, so with strength >= 0 the
// double product, the added half and the truncation all mirror for a negative e.
struct SharpenLanes16 {
    __m256d strength, half, offset, inverse;
    __m256i below, low, over, under, full;
    TESSALY_AVX2_TARGET explicit SharpenLanes16(const SharpenStep& k)
        : strength(_mm256_set1_pd(k.strength)),
          half(_mm256_set1_pd(0.5)),
          offset(_mm256_set1_pd(k.ramp_offset)),
          inverse(_mm256_set1_pd(k.ramp_inverse)),
          below(_mm256_set1_epi32(k.low - 1)),
          low(_mm256_set1_epi32(k.low)),
          over(_mm256_set1_epi32(std::min(k.over, 65535))),
          under(_mm256_set1_epi32(std::min(k.under, 65535))),
          full(_mm256_set1_epi32(65535)) {}
};

// The lanes take settings whose integers stay far from overflow and a strength the mirrored
// rounding holds for (sharpen_block does the rest).
inline bool sharpen_lanes16_apply(const SharpenStep& k) {
    constexpr std::int32_t limit = 1 << 20;
    return k.strength >= 0.0 && k.strength <= 32767.0 && k.low >= -limit && k.low <= limit &&
           k.over >= 0 && k.under >= 0;
}

// Truncated x / 255 for every x up to 65535 x 255 (the largest step times the largest weight);
// tests check every such x.
TESSALY_INLINE std::uint32_t divide255(std::uint32_t x) {
    return (x + ((x + 1 + (x >> 8)) >> 8) + 1) >> 8;
}
TESSALY_AVX2_TARGET TESSALY_INLINE __m256i divide255_lanes(__m256i x) {
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i y =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(x, one), _mm256_srli_epi32(x, 8)), 8);
    return _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(x, y), one), 8);
}

// Eight int32 lanes truncated from two groups of four doubles, and the doubles of an int32
// vector's lower and upper four lanes.
TESSALY_AVX2_TARGET TESSALY_INLINE __m256i to_int_lanes(__m256d lo, __m256d hi) {
    return _mm256_set_m128i(_mm256_cvttpd_epi32(hi), _mm256_cvttpd_epi32(lo));
}
TESSALY_AVX2_TARGET TESSALY_INLINE __m256d low_pd(__m256i a) {
    return _mm256_cvtepi32_pd(_mm256_castsi256_si128(a));
}
TESSALY_AVX2_TARGET TESSALY_INLINE __m256d high_pd(__m256i a) {
    return _mm256_cvtepi32_pd(_mm256_extracti128_si256(a, 1));
}

// Eight samples: v the source, m the reference, d the pixel's largest |v - m|.
template <bool Ramp>
TESSALY_AVX2_TARGET TESSALY_INLINE __m128i sharpen_lanes16(__m128i v16, __m128i m16, __m128i d16,
                                                           const SharpenLanes16& k) {
    const __m256i v = _mm256_cvtepu16_epi32(v16);
    const __m256i e = _mm256_sub_epi32(v, _mm256_cvtepu16_epi32(m16));
    const __m256i a = _mm256_abs_epi32(e);
    const __m256i r = to_int_lanes(_mm256_add_pd(_mm256_mul_pd(low_pd(a), k.strength), k.half),
                                   _mm256_add_pd(_mm256_mul_pd(high_pd(a), k.strength), k.half));
    const __m256i candidate = _mm256_min_epi32(
        _mm256_max_epi32(_mm256_add_epi32(v, _mm256_sign_epi32(r, e)), _mm256_setzero_si256()),
        k.full);
    const __m256i d = _mm256_cvtepu16_epi32(d16);
    __m256i o;
    if constexpr (Ramp) {
        // (d - low) x 255 fits 32 bits, and converts to double exactly.
        const __m256i n = _mm256_mullo_epi32(_mm256_sub_epi32(d, k.low), _mm256_set1_epi32(255));
        __m256i w = to_int_lanes(_mm256_mul_pd(_mm256_add_pd(low_pd(n), k.offset), k.inverse),
                                 _mm256_mul_pd(_mm256_add_pd(high_pd(n), k.offset), k.inverse));
        w = _mm256_min_epi32(_mm256_max_epi32(w, _mm256_setzero_si256()), _mm256_set1_epi32(255));
        const __m256i diff = _mm256_sub_epi32(candidate, v);
        const __m256i step = divide255_lanes(_mm256_mullo_epi32(_mm256_abs_epi32(diff), w));
        o = _mm256_add_epi32(v, _mm256_sign_epi32(step, diff));
    } else {
        o = _mm256_blendv_epi8(v, candidate, _mm256_cmpgt_epi32(d, k.below));
    }
    o = _mm256_max_epi32(_mm256_min_epi32(o, _mm256_add_epi32(v, k.over)),
                         _mm256_sub_epi32(v, k.under));
    return _mm_packus_epi32(_mm256_castsi256_si128(o), _mm256_extracti128_si256(o, 1));
}

TESSALY_AVX2_TARGET TESSALY_INLINE __m128i load8x16(const std::uint16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
TESSALY_AVX2_TARGET TESSALY_INLINE __m128i absolute_difference16(__m128i a, __m128i b) {
    return _mm_or_si128(_mm_subs_epu16(a, b), _mm_subs_epu16(b, a));
}

// Whole groups of 8 pixels; returns the pixels done.
template <int C, bool Ramp>
TESSALY_AVX2_TARGET std::size_t sharpen_row16_avx2(const std::uint16_t* s, const std::uint16_t* m,
                                                   std::uint16_t* out, std::size_t pixels,
                                                   const SharpenStep& step) {
    const SharpenLanes16 k(step);
    std::size_t p = 0;
    if constexpr (C == 1) {
        for (; p + 8 <= pixels; p += 8) {
            const __m128i v = load8x16(s + p), w = load8x16(m + p);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + p),
                             sharpen_lanes16<Ramp>(v, w, absolute_difference16(v, w), k));
        }
    } else {
        // As the 8-bit rows, in 16-bit elements: 8 pixels are three pieces of 8 samples, the
        // second starting in pixel 2 (sample 6) and the third in pixel 5 (sample 15). The maximum
        // over a pixel's samples lands on its first, and shuffles copy it to all three.
        alignas(16) static constexpr std::uint8_t spread[3][16] = {
            {0, 1, 0, 1, 0, 1, 6, 7, 6, 7, 6, 7, 12, 13, 12, 13},
            {0, 1, 6, 7, 6, 7, 6, 7, 12, 13, 12, 13, 12, 13, 14, 15},
            {0, 1, 0, 1, 6, 7, 6, 7, 6, 7, 12, 13, 12, 13, 12, 13}};
        const __m128i spread0 = _mm_load_si128(reinterpret_cast<const __m128i*>(spread[0]));
        const __m128i spread1 = _mm_load_si128(reinterpret_cast<const __m128i*>(spread[1]));
        const __m128i spread2 = _mm_load_si128(reinterpret_cast<const __m128i*>(spread[2]));
        for (; p + 8 <= pixels; p += 8) {
            const std::size_t i = p * 3;
            __m128i sv[3], mv[3], a[3], d[3];
            for (int j = 0; j < 3; ++j) {
                sv[j] = load8x16(s + i + 8 * j);
                mv[j] = load8x16(m + i + 8 * j);
                a[j] = absolute_difference16(sv[j], mv[j]);
            }
            const __m128i t0 = _mm_max_epu16(a[0], _mm_max_epu16(_mm_alignr_epi8(a[1], a[0], 2),
                                                                 _mm_alignr_epi8(a[1], a[0], 4)));
            const __m128i t1 = _mm_max_epu16(a[1], _mm_max_epu16(_mm_alignr_epi8(a[2], a[1], 2),
                                                                 _mm_alignr_epi8(a[2], a[1], 4)));
            const __m128i t2 = _mm_max_epu16(
                a[2], _mm_max_epu16(_mm_srli_si128(a[2], 2), _mm_srli_si128(a[2], 4)));
            d[0] = _mm_shuffle_epi8(t0, spread0);
            // Sample 15 starts pixel 5: its maximum is already in place in t1.
            d[1] =
                _mm_blend_epi16(_mm_shuffle_epi8(_mm_alignr_epi8(t1, t0, 12), spread1), t1, 0x80);
            d[2] = _mm_shuffle_epi8(_mm_alignr_epi8(t2, t1, 14), spread2);
            for (int j = 0; j < 3; ++j) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8 * j),
                                 sharpen_lanes16<Ramp>(sv[j], mv[j], d[j], k));
            }
        }
    }
    return p;
}

#endif  // TESSALY_AVX2

// The pixels of a 16-bit row the vector form did (from the left), 0 where it does not apply.
template <int C>
inline std::size_t sharpen_row16(const std::uint16_t* s, const std::uint16_t* m, std::uint16_t* out,
                                 std::size_t pixels, const SharpenStep& k) {
#if TESSALY_AVX2
    if (sharpen_lanes16_apply(k) && tessaly_has_avx2()) {
        return k.high > k.low ? sharpen_row16_avx2<C, true>(s, m, out, pixels, k)
                              : sharpen_row16_avx2<C, false>(s, m, out, pixels, k);
    }
#endif
    return 0;
}

// The pixels of an 8-bit row the vector form did (from the left), 0 where it does not apply.
template <int C>
inline std::size_t sharpen_row8(const std::uint8_t* s, const std::uint8_t* m, std::uint8_t* out,
                                std::size_t pixels, const SharpenStep& k) {
#if TESSALY_AVX2
    if (k.eight.exact && tessaly_has_avx2()) {
        const SharpenStep8& e = k.eight;
        if (e.fixed) {
            return e.ramp ? sharpen_row8_avx2<C, true, true>(s, m, out, pixels, e)
                          : sharpen_row8_avx2<C, false, true>(s, m, out, pixels, e);
        }
        return e.ramp ? sharpen_row8_avx2<C, true, false>(s, m, out, pixels, e)
                      : sharpen_row8_avx2<C, false, false>(s, m, out, pixels, e);
    }
#endif
    return 0;
}

// One row: s the source samples, m the reference samples, out the result (C samples a pixel).
template <class T, int C>
TESSALY_INLINE void sharpen_row(const T* s, const T* m, T* out, std::size_t pixels,
                                const SharpenStep& k, SharpenScratch& scratch) {
    {
        std::size_t done;
        if constexpr (sizeof(T) == 1) {
            done = sharpen_row8<C>(s, m, out, pixels, k);
        } else {
            done = sharpen_row16<C>(s, m, out, pixels, k);
        }
        s += done * C;
        m += done * C;
        out += done * C;
        pixels -= done;
    }
    for (std::size_t p = 0; p < pixels; p += sharpen_block_pixels) {
        const std::size_t count = std::min(sharpen_block_pixels, pixels - p);
        sharpen_block<T, C>(s + p * C, m + p * C, out + p * C, count, k, scratch.weight);
    }
}

}  // namespace tessaly
