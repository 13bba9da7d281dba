#include "framework/mix.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/format.h"
#include "core/runner.h"
#include "core/tables.h"
#include "kernels/simd.h"

namespace tessaly {

namespace {

constexpr const char* mix_title = "Apply amount mask";

int channels_of(std::uint32_t type) {
    return type == image_color24 || type == image_color48 || type == image_float_color ? 3 : 1;
}
int depth_of(std::uint32_t type) {  // 8, 16, or 32 for floating point
    if (type == image_gray8 || type == image_color24) return 8;
    if (type == image_gray16 || type == image_color48) return 16;
    return 32;
}
bool pixel_type(std::uint32_t type) {
    return type >= image_gray8 && type <= image_float_color;
}

// The input reaches the output's type when it is the output's gray or its other integer depth.
bool input_fits(std::uint32_t input, std::uint32_t output) {
    if (!pixel_type(input) || !pixel_type(output)) return false;
    if (channels_of(input) > channels_of(output)) return false;
    return (depth_of(input) == 32) == (depth_of(output) == 32);
}

// One input row brought to the output's type: gray copied into each channel, 16-bit narrowed,
// 8-bit widened. Returns the row itself when the types agree.
const std::uint8_t* input_row(const Image& in, std::uint32_t r, std::uint32_t out_type,
                              std::vector<std::uint8_t>& scratch) {
    const std::uint8_t* src = in.rows[r];
    if (in.type == out_type) return src;
    const std::uint32_t w = in.width;
    const int oc = channels_of(out_type), ic = channels_of(in.type);
    const int od = depth_of(out_type), id = depth_of(in.type);
    scratch.resize(static_cast<std::size_t>(w) * oc * (od / 8));
    std::uint8_t* out = scratch.data();
    for (std::uint32_t x = 0; x < w; ++x) {
        for (int c = 0; c < oc; ++c) {
            const std::size_t si = static_cast<std::size_t>(x) * ic + (ic == 1 ? 0 : c);
            const std::size_t oi = static_cast<std::size_t>(x) * oc + c;
            if (od == 32) {
                std::memcpy(out + 4 * oi, src + 4 * si, 4);
            } else if (od == 8) {
                out[oi] = id == 8 ? src[si] : to8_fast(sample16(src, si));
            } else {
                set_sample16(out, oi, id == 16 ? sample16(src, si) : to16[src[si]]);
            }
        }
    }
    return out;
}

// The fixed weights of one mix.
struct Weights {
    std::int32_t a8 = 0, b8 = 0, a16 = 0, b16 = 0;
    std::uint8_t by_mask8[256] = {};  // mix8(a8, b8, m) for every 8-bit mask value
};

Weights weights_of(const AmountSettings& amount) {
    Weights w;
    w.a8 = amount_weight8(amount.amount);
    w.b8 = amount_weight8(amount.second);
    w.a16 = amount_weight16(amount.amount);
    w.b16 = amount_weight16(amount.second);
    // A switched-off amount weighs nothing.
    if (amount.amount < 0) w.a8 = w.a16 = 0;
    if (amount.second < 0) w.b8 = w.b16 = 0;
    for (int m = 0; m < 256; ++m) {
        w.by_mask8[m] = mix8(static_cast<std::uint32_t>(w.a8), static_cast<std::uint32_t>(w.b8),
                             static_cast<std::uint32_t>(m));
    }
    return w;
}

// The 8-bit mask value of each pixel of a mask row.
void mask_row8(const Image& mask, std::uint32_t r, std::uint8_t* out) {
    const std::uint8_t* m = mask.rows[r];
    if (mask.type == image_gray8) {
        std::memcpy(out, m, mask.width);
    } else {
        for (std::uint32_t x = 0; x < mask.width; ++x) out[x] = to8_fast(sample16(m, x));
    }
}

// Spreads one weight per pixel over the pixel's channels.
template <class T>
void spread(const T* pixel, std::size_t width, int channels, T* sample) {
    if (channels == 1) {
        std::memcpy(sample, pixel, width * sizeof(T));
        return;
    }
    for (std::size_t x = 0; x < width; ++x) {
        sample[3 * x] = sample[3 * x + 1] = sample[3 * x + 2] = pixel[x];
    }
}

// mix8 in 16-bit steps, so that a vector holds as many samples as it can.
inline std::uint8_t mix8_narrow(std::uint16_t p, std::uint16_t q, std::uint16_t t) {
    const auto hi = std::max(p, q), lo = std::min(p, q);
    const auto x = static_cast<std::uint16_t>(static_cast<std::uint16_t>(hi - lo) * t + 127);
    const auto step = static_cast<std::uint16_t>(static_cast<std::uint16_t>(x + 1 + (x >> 8)) >> 8);
    return static_cast<std::uint8_t>(q >= p ? p + step : p - step);
}

TESSALY_CLONES void mix8_row(const std::uint8_t* in, const std::uint8_t* res, std::uint8_t* out,
                             std::size_t n, std::uint32_t t) {
    const auto t16 = static_cast<std::uint16_t>(t);
    for (std::size_t j = 0; j < n; ++j) out[j] = mix8_narrow(in[j], res[j], t16);
}
TESSALY_CLONES void mix8_row(const std::uint8_t* in, const std::uint8_t* res, std::uint8_t* out,
                             std::size_t n, const std::uint8_t* t) {
    for (std::size_t j = 0; j < n; ++j) out[j] = mix8_narrow(in[j], res[j], t[j]);
}

#if TESSALY_AVX2
// Sixteen bytes mixed in one vector of 16-bit lanes.
TESSALY_AVX2_TARGET inline __m128i mix8_bytes(__m128i p, __m128i q, __m128i t) {
    const __m256i pw = _mm256_cvtepu8_epi16(p), qw = _mm256_cvtepu8_epi16(q);
    const __m256i hi = _mm256_max_epu16(pw, qw), lo = _mm256_min_epu16(pw, qw);
    const __m256i x =
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(hi, lo), _mm256_cvtepu8_epi16(t)),
                         _mm256_set1_epi16(127));
    const __m256i step = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_add_epi16(x, _mm256_set1_epi16(1)), _mm256_srli_epi16(x, 8)), 8);
    const __m256i up = _mm256_cmpeq_epi16(hi, qw);
    const __m256i mixed =
        _mm256_blendv_epi8(_mm256_sub_epi16(pw, step), _mm256_add_epi16(pw, step), up);
    return _mm_packus_epi16(_mm256_castsi256_si128(mixed), _mm256_extracti128_si256(mixed, 1));
}
TESSALY_AVX2_TARGET void mix8_row_avx2(const std::uint8_t* in, const std::uint8_t* res,
                                       std::uint8_t* out, std::size_t n, std::uint8_t t) {
    const __m128i tv = _mm_set1_epi8(static_cast<char>(t));
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(res + j));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), mix8_bytes(p, q, tv));
    }
    for (; j < n; ++j) out[j] = mix8(in[j], res[j], t);
}
// Three channels sharing one 8-bit weight per pixel: the weights are spread with byte shuffles.
TESSALY_AVX2_TARGET void mix8_rgb_avx2(const std::uint8_t* in, const std::uint8_t* res,
                                       std::uint8_t* out, std::size_t width,
                                       const std::uint8_t* w) {
    const __m128i s0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i s1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i s2 =
        _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    std::size_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + x));
        const __m128i t[3] = {_mm_shuffle_epi8(weights, s0), _mm_shuffle_epi8(weights, s1),
                              _mm_shuffle_epi8(weights, s2)};
        for (int k = 0; k < 3; ++k) {
            const std::size_t j = 3 * x + 16 * static_cast<std::size_t>(k);
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j));
            const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(res + j));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), mix8_bytes(p, q, t[k]));
        }
    }
    for (; x < width; ++x) {
        for (std::size_t j = 3 * x; j < 3 * x + 3; ++j) out[j] = mix8(in[j], res[j], w[x]);
    }
}
#endif

// The 8-bit weight of each pixel: mix8(a8, b8, m).
TESSALY_CLONES void mask_weights8(const std::uint8_t* m, std::uint8_t* out, std::size_t n,
                                  std::uint16_t a, std::uint16_t b) {
    for (std::size_t x = 0; x < n; ++x) out[x] = mix8_narrow(a, b, m[x]);
}

// One weight per pixel of a three-channel 8-bit row.
void mix8_rgb(const std::uint8_t* in, const std::uint8_t* res, std::uint8_t* out, std::size_t width,
              const std::uint8_t* w) {
#if TESSALY_AVX2
    if (tessaly_has_avx2()) return mix8_rgb_avx2(in, res, out, width, w);
#endif
    for (std::size_t x = 0; x < width; ++x) {
        for (std::size_t j = 3 * x; j < 3 * x + 3; ++j) out[j] = mix8(in[j], res[j], w[x]);
    }
}

// 16-bit mixes in 32-bit lanes: (x + 1 + (x >> 16)) >> 16 stays below 2^32 for x up to 65535^2.
inline std::uint16_t mix16_wide(std::uint32_t p, std::uint32_t q, std::uint32_t t) {
    const std::uint32_t hi = std::max(p, q), lo = std::min(p, q);
    const std::uint32_t x = (hi - lo) * t;
    const std::uint32_t step = (x + 1 + (x >> 16)) >> 16;
    return static_cast<std::uint16_t>(q >= p ? p + step : p - step);
}

TESSALY_CLONES void mix16_row(const std::uint16_t* in, const std::uint16_t* res, std::uint16_t* out,
                              std::size_t n, std::uint32_t t) {
    for (std::size_t j = 0; j < n; ++j) out[j] = mix16_wide(in[j], res[j], t);
}

#if TESSALY_AVX2
// mix16 in 16-bit lanes. x = d t is split into its high and low halves by two multiplies, and
// (x + 1 + (x >> 16)) >> 16 (x / 65535) is the high half plus the carry of low + high + 1, which
// is set exactly when low >= 65535 - high.
TESSALY_AVX2_TARGET inline __m256i mix16_lanes(__m256i p, __m256i q, __m256i t) {
    const __m256i hi = _mm256_max_epu16(p, q), lo = _mm256_min_epu16(p, q);
    const __m256i d = _mm256_sub_epi16(hi, lo);
    const __m256i high = _mm256_mulhi_epu16(d, t), low = _mm256_mullo_epi16(d, t);
    const __m256i not_high = _mm256_xor_si256(high, _mm256_set1_epi32(-1));
    const __m256i carry = _mm256_cmpeq_epi16(_mm256_max_epu16(low, not_high), low);
    const __m256i step = _mm256_sub_epi16(high, carry);
    const __m256i up = _mm256_cmpeq_epi16(hi, q);
    return _mm256_blendv_epi8(_mm256_sub_epi16(p, step), _mm256_add_epi16(p, step), up);
}
TESSALY_AVX2_TARGET inline __m256i load256(const std::uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
TESSALY_AVX2_TARGET inline void store256(std::uint16_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

TESSALY_AVX2_TARGET void mix16_row_avx2(const std::uint16_t* in, const std::uint16_t* res,
                                        std::uint16_t* out, std::size_t n, const std::uint16_t* t) {
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16)
        store256(out + j, mix16_lanes(load256(in + j), load256(res + j), load256(t + j)));
    for (; j < n; ++j) out[j] = mix16_wide(in[j], res[j], t[j]);
}
TESSALY_AVX2_TARGET void mix16_row_avx2(const std::uint16_t* in, const std::uint16_t* res,
                                        std::uint16_t* out, std::size_t n, std::uint16_t t) {
    const __m256i tv = _mm256_set1_epi16(static_cast<short>(t));
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16)
        store256(out + j, mix16_lanes(load256(in + j), load256(res + j), tv));
    for (; j < n; ++j) out[j] = mix16_wide(in[j], res[j], t);
}
// Three channels sharing one weight per pixel: the weights of 16 pixels are spread over 48
// samples with byte shuffles, eight pixels to each 128-bit half.
TESSALY_AVX2_TARGET void mix16_rgb_avx2(const std::uint16_t* in, const std::uint16_t* res,
                                        std::uint16_t* out, std::size_t width,
                                        const std::uint16_t* w) {
    const __m128i s0 = _mm_setr_epi8(0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 4, 5, 4, 5);
    const __m128i s1 = _mm_setr_epi8(4, 5, 6, 7, 6, 7, 6, 7, 8, 9, 8, 9, 8, 9, 10, 11);
    const __m128i s2 =
        _mm_setr_epi8(10, 11, 10, 11, 12, 13, 12, 13, 12, 13, 14, 15, 14, 15, 14, 15);
    std::size_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + x + 8));
        const __m256i t[3] = {_mm256_set_m128i(_mm_shuffle_epi8(a, s1), _mm_shuffle_epi8(a, s0)),
                              _mm256_set_m128i(_mm_shuffle_epi8(b, s0), _mm_shuffle_epi8(a, s2)),
                              _mm256_set_m128i(_mm_shuffle_epi8(b, s2), _mm_shuffle_epi8(b, s1))};
        for (int k = 0; k < 3; ++k) {
            const std::size_t j = 3 * x + 16 * static_cast<std::size_t>(k);
            store256(out + j, mix16_lanes(load256(in + j), load256(res + j), t[k]));
        }
    }
    for (; x < width; ++x) {
        for (std::size_t j = 3 * x; j < 3 * x + 3; ++j) out[j] = mix16_wide(in[j], res[j], w[x]);
    }
}
// The 16-bit weight of each pixel: mix16(a, b, m).
TESSALY_AVX2_TARGET void mask_weights16_avx2(const std::uint16_t* m, std::uint16_t* out,
                                             std::size_t n, std::uint16_t a, std::uint16_t b) {
    const __m256i av = _mm256_set1_epi16(static_cast<short>(a));
    const __m256i bv = _mm256_set1_epi16(static_cast<short>(b));
    std::size_t x = 0;
    for (; x + 16 <= n; x += 16) store256(out + x, mix16_lanes(av, bv, load256(m + x)));
    for (; x < n; ++x) out[x] = mix16_wide(a, b, m[x]);
}
#endif

void mix16_const(const std::uint16_t* in, const std::uint16_t* res, std::uint16_t* out,
                 std::size_t n, std::uint32_t t) {
#if TESSALY_AVX2
    if (tessaly_has_avx2()) return mix16_row_avx2(in, res, out, n, static_cast<std::uint16_t>(t));
#endif
    mix16_row(in, res, out, n, t);
}

// One 16-bit weight per pixel over the pixel's channels.
void mix16_pixels(const std::uint16_t* in, const std::uint16_t* res, std::uint16_t* out,
                  std::size_t width, int channels, const std::uint16_t* w) {
#if TESSALY_AVX2
    if (tessaly_has_avx2()) {
        if (channels == 3) return mix16_rgb_avx2(in, res, out, width, w);
        return mix16_row_avx2(in, res, out, width, w);
    }
#endif
    for (std::size_t x = 0; x < width; ++x) {
        for (std::size_t j = x * channels; j < (x + 1) * channels; ++j)
            out[j] = mix16_wide(in[j], res[j], w[x]);
    }
}

void mask_weights16(const std::uint16_t* m, std::uint16_t* out, std::size_t n, std::uint16_t a,
                    std::uint16_t b) {
#if TESSALY_AVX2
    if (tessaly_has_avx2()) return mask_weights16_avx2(m, out, n, a, b);
#endif
    for (std::size_t x = 0; x < n; ++x) out[x] = mix16_wide(a, b, m[x]);
}

// 8-bit weights as 16-bit ones: t / 255 is 257 t / 65535 exactly, so mix16by8(p, q, t) is
// mix16(p, q, 257 t), truncation included.
TESSALY_CLONES void widen_weights(const std::uint8_t* t, std::uint16_t* out, std::size_t n) {
    for (std::size_t x = 0; x < n; ++x) out[x] = static_cast<std::uint16_t>(t[x] * 257u);
}

void float_row(const float* in, const float* res, float* out, std::size_t n, const float* t) {
    for (std::size_t j = 0; j < n; ++j) out[j] = in[j] + (res[j] - in[j]) * t[j];
}

// Per-worker buffers.
struct Scratch {
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> mask8, weight8;
    std::vector<std::uint16_t> weight16;
    std::vector<std::uint16_t> black16, white16;
    std::vector<std::uint8_t> black8, white8;
    std::vector<float> weightf;
};

void mask_weights(const std::uint8_t* m, std::uint8_t* out, std::size_t n, const Weights& w) {
    mask_weights8(m, out, n, static_cast<std::uint16_t>(w.a8), static_cast<std::uint16_t>(w.b8));
}

// One output row of mix into output. mask may be null.
void mix_row(const Image& input, const Image& result, Image& output, const Image* mask,
             const Weights& w, const AmountSettings& amount, std::uint32_t r, Scratch& s) {
    const std::uint32_t type = output.type;
    const std::size_t width = output.width;
    const int channels = channels_of(type);
    const std::size_t n = width * static_cast<std::size_t>(channels);
    const std::uint8_t* in = input_row(input, r, type, s.input);
    const std::uint8_t* res = result.rows[r];
    std::uint8_t* out = output.rows[r];
    const int depth = depth_of(type);
    if (depth == 8) {
        if (!mask) {
#if TESSALY_AVX2
            if (tessaly_has_avx2())
                return mix8_row_avx2(in, res, out, n, static_cast<std::uint8_t>(w.a8));
#endif
            return mix8_row(in, res, out, n, static_cast<std::uint32_t>(w.a8));
        }
        s.mask8.resize(width);
        if (mask->type == image_gray8) {
            mask_weights(mask->rows[r], s.mask8.data(), width, w);
        } else {
            mask_row8(*mask, r, s.mask8.data());
            mask_weights(s.mask8.data(), s.mask8.data(), width, w);
        }
        if (channels == 3) return mix8_rgb(in, res, out, width, s.mask8.data());
        return mix8_row(in, res, out, n, s.mask8.data());
    }
    if (depth == 16) {
        // Rows start on 4-byte boundaries, so their 16-bit samples are read in place.
        const auto* in16 = reinterpret_cast<const std::uint16_t*>(in);
        const auto* res16 = reinterpret_cast<const std::uint16_t*>(res);
        auto* out16 = reinterpret_cast<std::uint16_t*>(out);
        if (!mask) return mix16_const(in16, res16, out16, n, static_cast<std::uint32_t>(w.a16));
        s.weight16.resize(width);
        if (mask->type == image_gray16) {
            mask_weights16(reinterpret_cast<const std::uint16_t*>(mask->rows[r]), s.weight16.data(),
                           width, static_cast<std::uint16_t>(w.a16),
                           static_cast<std::uint16_t>(w.b16));
        } else {
            s.mask8.resize(width);
            mask_weights(mask->rows[r], s.mask8.data(), width, w);
            widen_weights(s.mask8.data(), s.weight16.data(), width);
        }
        mix16_pixels(in16, res16, out16, width, channels, s.weight16.data());
        return;
    }
    // Floating point: the weight as a fraction, between the two amounts by the mask.
    const float fa = amount.amount < 0 ? 0.0f : static_cast<float>(amount.amount) / amount_full;
    const float fb = amount.second < 0 ? 0.0f : static_cast<float>(amount.second) / amount_full;
    std::vector<float> pixel(width, fa);
    if (mask) {
        for (std::size_t x = 0; x < width; ++x) {
            const float m = mask->type == image_gray8
                                ? mask->rows[r][x] / 255.0f
                                : static_cast<float>(sample16(mask->rows[r], x)) / 65535.0f;
            pixel[x] = fa + (fb - fa) * m;
        }
    }
    s.weightf.resize(n);
    spread(pixel.data(), width, channels, s.weightf.data());
    std::vector<float> a(n), b(n), o(n);
    std::memcpy(a.data(), in, n * 4);
    std::memcpy(b.data(), res, n * 4);
    float_row(a.data(), b.data(), o.data(), n, s.weightf.data());
    std::memcpy(out, o.data(), n * 4);
}

void mix_two_row(const Image& input, const Image& black, const Image& white, Image& output,
                 const Image& mask, const Weights& w, const AmountSettings& amount, std::uint32_t r,
                 Scratch& s) {
    const std::uint32_t type = output.type;
    const std::size_t width = output.width;
    const int channels = channels_of(type);
    const std::size_t n = width * static_cast<std::size_t>(channels);
    const std::uint8_t* in = input_row(input, r, type, s.input);
    const int depth = depth_of(type);
    if (depth == 8) {
        s.black8.resize(n);
        s.white8.resize(n);
        s.mask8.resize(width);
        s.weight8.resize(n);
        mix8_row(in, black.rows[r], s.black8.data(), n, static_cast<std::uint32_t>(w.a8));
        mix8_row(in, white.rows[r], s.white8.data(), n, static_cast<std::uint32_t>(w.b8));
        mask_row8(mask, r, s.mask8.data());
        spread(s.mask8.data(), width, channels, s.weight8.data());
        mix8_row(s.black8.data(), s.white8.data(), output.rows[r], n, s.weight8.data());
        return;
    }
    if (depth == 16) {
        // The two mixes go to scratch rows first, so the output may be one of the results.
        const auto* in16 = reinterpret_cast<const std::uint16_t*>(in);
        s.black16.resize(n);
        s.white16.resize(n);
        mix16_const(in16, reinterpret_cast<const std::uint16_t*>(black.rows[r]), s.black16.data(),
                    n, static_cast<std::uint32_t>(w.a16));
        mix16_const(in16, reinterpret_cast<const std::uint16_t*>(white.rows[r]), s.white16.data(),
                    n, static_cast<std::uint32_t>(w.b16));
        s.weight16.resize(width);
        if (mask.type == image_gray16) {
            std::memcpy(s.weight16.data(), mask.rows[r], width * 2);
        } else {
            widen_weights(mask.rows[r], s.weight16.data(), width);
        }
        mix16_pixels(s.black16.data(), s.white16.data(),
                     reinterpret_cast<std::uint16_t*>(output.rows[r]), width, channels,
                     s.weight16.data());
        return;
    }
    const float fa = amount.amount < 0 ? 0.0f : static_cast<float>(amount.amount) / amount_full;
    const float fb = amount.second < 0 ? 0.0f : static_cast<float>(amount.second) / amount_full;
    const auto* fi = reinterpret_cast<const float*>(in);
    const auto* fbk = reinterpret_cast<const float*>(black.rows[r]);
    const auto* fwh = reinterpret_cast<const float*>(white.rows[r]);
    auto* fo = reinterpret_cast<float*>(output.rows[r]);
    for (std::size_t x = 0; x < width; ++x) {
        const float m = mask.type == image_gray8
                            ? mask.rows[r][x] / 255.0f
                            : static_cast<float>(sample16(mask.rows[r], x)) / 65535.0f;
        for (int c = 0; c < channels; ++c) {
            const std::size_t j = x * static_cast<std::size_t>(channels) + c;
            const float k = fi[j] + (fbk[j] - fi[j]) * fa;
            const float h = fi[j] + (fwh[j] - fi[j]) * fb;
            fo[j] = k + (h - k) * m;
        }
    }
}

bool same_size(const Image& a, const Image& b) {
    return a.width == b.width && a.height == b.height;
}

bool check_mask(const Image& input, const Image* mask) {
    if (!mask) return false;
    if (!same_size(*mask, input)) {
        show_error("Amount Apply - Amount mask does not match image dimensions");
        return true;
    }
    if (mask->type != image_gray8 && mask->type != image_gray16) {
        show_error("Internal error: mask type %d", static_cast<int>(mask->type));
        return true;
    }
    return false;
}

bool check_input(const Image& input, const Image& output) {
    if (!input_fits(input.type, output.type)) {
        show_error("Internal error: cannot mix a %d image into a %d image",
                   static_cast<int>(input.type), static_cast<int>(output.type));
        return true;
    }
    return false;
}

bool copy_rows(const Image& from, Image& to) {
    if (&from == &to) return false;
    return run_rows(
               [&](const Image*, Image* out, int first, int last, Progress& p) -> std::uint8_t {
                   for (int r = first; r <= last; ++r) {
                       if (progress_tick(p)) return 1;
                       std::memcpy(out->rows[r], from.rows[r], from.row_bytes);
                   }
                   return 0;
               },
               mix_title, &from, &to) != 0;
}

}  // namespace

bool amount_leaves_input(const AmountSettings& amount, const Image* mask) {
    const bool a_off = amount.amount <= 0;
    const bool b_off = amount.second <= 0;
    return a_off && (!mask || b_off);
}

bool mix_into_output(const Image& input, const Image& result, Image& output,
                     const AmountSettings& amount, const Image* mask) {
    if (!output.has_pixels() && &output != &result) {
        if (image_alloc_with(output, result.type, result.width, result.height, result.dpi,
                             result.profile, result.profile_size, result.tags)) {
            return true;
        }
    }
    if (!same_size(input, output) || !same_size(result, output)) {
        show_error("Amount Apply - input image does not match output image dimensions");
        return true;
    }
    if (result.type != output.type) {
        show_error("Amount Apply - temp and output images must be same type");
        return true;
    }
    if (check_mask(input, mask) || check_input(input, output)) return true;
    const bool full = amount.amount == amount_full && (!mask || amount.second == amount_full);
    if (full) return copy_rows(result, output);
    const Weights w = weights_of(amount);
    return run_rows(
               [&](const Image*, Image* out, int first, int last, Progress& p) -> std::uint8_t {
                   Scratch s;
                   for (int r = first; r <= last; ++r) {
                       if (progress_tick(p)) return 1;
                       mix_row(input, result, *out, mask, w, amount, static_cast<std::uint32_t>(r),
                               s);
                   }
                   return 0;
               },
               mix_title, &input, &output) != 0;
}

bool mix_in_place(const Image& input, Image& result, const AmountSettings& amount,
                  const Image* mask) {
    return mix_into_output(input, result, result, amount, mask);
}

bool mix_two_results(const Image& input, const Image& black_result, const Image& white_result,
                     Image& output, const AmountSettings& amount, const Image* mask) {
    if (!mask) {
        show_error("Amount Apply - missing mask");
        return true;
    }
    if (!output.has_pixels() && &output != &black_result && &output != &white_result) {
        if (image_alloc_with(output, black_result.type, black_result.width, black_result.height,
                             black_result.dpi, black_result.profile, black_result.profile_size,
                             black_result.tags)) {
            return true;
        }
    }
    if (!same_size(input, output) || !same_size(black_result, output) ||
        !same_size(white_result, output)) {
        show_error("Amount Apply - input image does not match output image dimensions");
        return true;
    }
    if (black_result.type != output.type || white_result.type != output.type) {
        show_error("Amount Apply - black, white and output images must be same type");
        return true;
    }
    if (check_mask(input, mask) || check_input(input, output)) return true;
    const Weights w = weights_of(amount);
    return run_rows(
               [&](const Image*, Image* out, int first, int last, Progress& p) -> std::uint8_t {
                   Scratch s;
                   for (int r = first; r <= last; ++r) {
                       if (progress_tick(p)) return 1;
                       mix_two_row(input, black_result, white_result, *out, *mask, w, amount,
                                   static_cast<std::uint32_t>(r), s);
                   }
                   return 0;
               },
               mix_title, &input, &output) != 0;
}

}  // namespace tessaly
