#include "kernels/resample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <type_traits>
#include <vector>

#include "core/image_convert.h"
#include "core/numeric.h"
#include "core/runner.h"
#include "kernels/simd.h"

namespace tessaly {

double resample_kernel(std::int32_t method, double a, double x) {
    x = std::fabs(x);
    switch (method) {
        case resample_bilinear:
            return x <= 1.0 ? 1.0 - x : 0.0;
        case resample_bicubic:
            if (x <= 1.0) return (a + 2.0) * x * x * x - (a + 3.0) * x * x + 1.0;
            if (x <= 2.0) return a * x * x * x - 5.0 * a * x * x + 8.0 * a * x - 4.0 * a;
            return 0.0;
        case resample_lanczos4:
        case resample_lanczos6:
        case resample_lanczos8: {
            const double n = method - 1;
            if (x > n) return 0.0;
            if (x == 0.0) return 1.0;
            const double px = std::numbers::pi * x;
            return std::sin(px) / px * (std::sin(px / n) / (px / n));
        }
        default:
            return 0.0;
    }
}

namespace {

// The taps of every destination index along one dimension: a run of consecutive source indices
// starting at start[i], weights in units of 1/255, and the sum the weighted sum is divided by.
// The horizontal table pads every run to the same length (with zero weights) so that the loop
// over taps has a fixed count.
struct TapTable {
    int taps = 0;                       // run length (the longest run when padded)
    std::vector<std::int32_t> start;    // per destination index
    std::vector<std::int32_t> count;    // per destination index (unpadded)
    std::vector<std::int16_t> weights;  // taps per destination index
    std::vector<std::int32_t> sum;      // per destination index: the sum of the weights
    std::vector<std::int32_t> divisor;  // the sum, or 1 where it is 0
    std::int64_t max_abs_sum = 0;       // the largest sum of |weight|: picks the accumulator
    bool identity = false;              // every index copies its own source index
    bool positive = true;               // every sum is above 0
};

int enlarging_taps(std::int32_t method) {
    switch (method) {
        case resample_lanczos6:
            return 6;
        case resample_lanczos8:
            return 8;
        default:
            return 4;
    }
}

// vertical: enlarging with a position on a whole source pixel takes that pixel unchanged.
TapTable build_taps(std::int32_t method, double sharpen, int source_length, int length,
                    bool vertical, bool pad) {
    TapTable table;
    table.start.resize(static_cast<std::size_t>(length));
    table.count.resize(static_cast<std::size_t>(length));
    table.sum.resize(static_cast<std::size_t>(length));
    table.divisor.resize(static_cast<std::size_t>(length));
    std::vector<std::vector<std::int16_t>> runs(static_cast<std::size_t>(length));
    const double s_len = source_length;
    const double d_len = length;
    const bool reducing = source_length >= length;
    const double step = length > 1 ? (s_len - 1.0) / (d_len - 1.0) : 0.0;
    const int reach = reducing ? static_cast<int>(std::floor(step)) + 1 : 0;
    const double ratio = s_len / d_len;
    const int n = enlarging_taps(method);
    bool identity = source_length == length;
    for (int i = 0; i < length; ++i) {
        std::vector<std::int16_t>& run = runs[static_cast<std::size_t>(i)];
        int first = -1;
        auto add = [&](int index, int w) {
            if (first < 0) {
                if (w == 0) return;  // leading zero weights add nothing
                first = index;
            }
            run.resize(static_cast<std::size_t>(index - first), 0);
            run.push_back(static_cast<std::int16_t>(w));
        };
        if (length == 1) {
            // One destination pixel reads position 0.
            add(0, 255);
        } else {
            const double p = length > 1 ? i * (s_len - 1.0) / (d_len - 1.0) : 0.0;
            const int base = static_cast<int>(std::floor(p));
            const double f = p - base;
            if (!reducing) {
                if (vertical && static_cast<int>(255.0 * f) == 0) {
                    add(base, 255);
                } else {
                    for (int k = 1 - n / 2; k <= n / 2; ++k) {
                        const int index = base + k;
                        if (index < 0 || index >= source_length) continue;
                        add(index,
                            static_cast<int>(255.0 * resample_kernel(method, sharpen, k - f)));
                    }
                }
            } else {
                for (int k = -reach; k <= reach; ++k) {
                    const int index = base + k;
                    if (index < 0 || index >= source_length) continue;
                    const double w = resample_kernel(method, sharpen, (k - f) / ratio);
                    if (w == 0.0) continue;
                    add(index, std::clamp(static_cast<int>(255.0 * w), 0, 255));
                }
            }
        }
        while (!run.empty() && run.back() == 0) run.pop_back();
        if (run.empty()) {
            // Nothing carries weight: the sum is 0, divided by 1.
            first = std::clamp(static_cast<int>(std::floor(i * step)), 0, source_length - 1);
            run.push_back(0);
        }
        std::int64_t sum = 0;
        std::int64_t abs_sum = 0;
        for (std::int16_t w : run) {
            sum += w;
            abs_sum += w < 0 ? -w : w;
        }
        table.start[static_cast<std::size_t>(i)] = first;
        table.count[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(run.size());
        table.sum[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(sum);
        if (sum < 0) table.positive = false;
        table.divisor[static_cast<std::size_t>(i)] = sum == 0 ? 1 : static_cast<std::int32_t>(sum);
        table.max_abs_sum = std::max(table.max_abs_sum, abs_sum);
        table.taps = std::max(table.taps, static_cast<int>(run.size()));
        if (run.size() != 1 || first != i || sum == 0) identity = false;
    }
    table.identity = identity;
    if (!pad) {
        for (const auto& run : runs)
            table.weights.insert(table.weights.end(), run.begin(), run.end());
        return table;
    }
    // Padded: the run of index i starts at start[i] and has taps weights, zeros after its own.
    const int taps = table.taps;
    table.weights.assign(static_cast<std::size_t>(length) * taps, 0);
    for (int i = 0; i < length; ++i) {
        const auto& run = runs[static_cast<std::size_t>(i)];
        int start = table.start[static_cast<std::size_t>(i)];
        const int shift = std::max(0, start + taps - source_length);
        start -= shift;
        table.start[static_cast<std::size_t>(i)] = start;
        std::copy(run.begin(), run.end(),
                  table.weights.begin() + static_cast<std::ptrdiff_t>(i) * taps + shift);
    }
    return table;
}

// Sample traits: the largest value of 8- and 16-bit samples.
template <class T>
constexpr std::int32_t sample_max = sizeof(T) == 1 ? 255 : 65535;

// Σw·s / Σw with C's truncating division, clamped; the divisor d is positive.
//
// 32-bit sums: a float estimate of the quotient, made exact by one step of integer arithmetic.
// Where the quotient survives the clamp (0 to 65536) the estimate is off by at most one, its
// relative error being a few 2^-24; far above or below, the clamp wins either way. r is 1/d in
// float.
template <class T>
TESSALY_INLINE T quotient(std::int32_t sum, std::int32_t d, float r) {
    constexpr std::int32_t top = sample_max<T>;
    // |sum| + d stays below 2^31 (the caller checks), so neither the estimate nor q * d
    // leaves the 32-bit range.
    std::int32_t q = static_cast<std::int32_t>(static_cast<float>(sum) * r);
    const std::int32_t rest = sum - q * d;
    q += static_cast<std::int32_t>(rest >= d) - static_cast<std::int32_t>(rest < 0);
    q = q > 0 ? q : 0;
    q = q < top ? q : top;
    return static_cast<T>(q);
}

// 64-bit sums (huge reductions): a correctly rounded double quotient of integers below 2^53
// truncates to the integer quotient. r is d in double.
template <class T>
TESSALY_INLINE T quotient(std::int64_t sum, std::int32_t, double r) {
    double q = static_cast<double>(sum) / r;
    // Clamping before truncating gives the same result and keeps the conversion in range.
    q = q < 0.0 ? 0.0 : q;
    q = q > sample_max<T> ? sample_max<T> : q;
    return static_cast<T>(static_cast<std::int32_t>(q));
}

// What the quotient takes besides d: 1/d as float for 32-bit sums, d as double for 64-bit ones.
template <class Acc>
using DivisorReal = std::conditional_t<sizeof(Acc) == 4, float, double>;

template <class Acc>
DivisorReal<Acc> divisor_real(std::int32_t d) {
    if constexpr (sizeof(Acc) == 4) {
        return 1.0f / static_cast<float>(d);
    } else {
        return static_cast<double>(d);
    }
}

constexpr int vertical_block = 512;

// One vertical output row from a fixed number of taps: every output sample is one expression,
// so the loop over the row vectorises with the taps unrolled.
template <class T, class Acc, int taps>
TESSALY_INLINE void vertical_fixed(std::uint8_t* const* rows, const std::int16_t* weights,
                                   std::int32_t d, DivisorReal<Acc> r, int samples,
                                   T* __restrict out) {
    // 8-bit samples and the weights both fit 16 bits: 16 x 16 -> 32-bit products.
    using Factor = std::conditional_t<sizeof(T) == 1 && sizeof(Acc) == 4, std::int16_t, Acc>;
    const T* s[taps];
    Factor w[taps];
    for (int t = 0; t < taps; ++t) {
        s[t] = reinterpret_cast<const T*>(rows[t]);
        w[t] = static_cast<Factor>(weights[t]);
    }
    for (int x = 0; x < samples; ++x) {
        Acc a = static_cast<Acc>(w[0] * static_cast<Factor>(s[0][x]));
        for (int t = 1; t < taps; ++t) a += static_cast<Acc>(w[t] * static_cast<Factor>(s[t][x]));
        out[x] = quotient<T>(a, d, r);
    }
}

// Any number of taps: sums over blocks of the row, one tap at a time.
template <class T, class Acc>
TESSALY_INLINE void vertical_any(std::uint8_t* const* rows, const std::int16_t* weights, int taps,
                                 std::int32_t d, DivisorReal<Acc> r, int samples,
                                 T* __restrict out) {
    Acc acc[vertical_block];
    for (int x0 = 0; x0 < samples; x0 += vertical_block) {
        const int len = samples - x0 < vertical_block ? samples - x0 : vertical_block;
        {
            const T* __restrict s = reinterpret_cast<const T*>(rows[0]) + x0;
            const Acc w = weights[0];
            for (int x = 0; x < len; ++x) acc[x] = w * static_cast<Acc>(s[x]);
        }
        for (int t = 1; t < taps; ++t) {
            const T* __restrict s = reinterpret_cast<const T*>(rows[t]) + x0;
            const Acc w = weights[t];
            for (int x = 0; x < len; ++x) acc[x] += w * static_cast<Acc>(s[x]);
        }
        T* __restrict o = out + x0;
        for (int x = 0; x < len; ++x) o[x] = quotient<T>(acc[x], d, r);
    }
}

// One vertical output row: rows[t] are the source rows of the taps, samples the number of
// samples in a row.
template <class T, class Acc>
TESSALY_INLINE void vertical_row(std::uint8_t* const* rows, const std::int16_t* weights, int taps,
                                 std::int32_t divisor, int samples, T* out) {
    const DivisorReal<Acc> r = divisor_real<Acc>(divisor);
    switch (taps) {
        case 1:
            vertical_fixed<T, Acc, 1>(rows, weights, divisor, r, samples, out);
            break;
        case 2:
            vertical_fixed<T, Acc, 2>(rows, weights, divisor, r, samples, out);
            break;
        case 3:
            vertical_fixed<T, Acc, 3>(rows, weights, divisor, r, samples, out);
            break;
        case 4:
            vertical_fixed<T, Acc, 4>(rows, weights, divisor, r, samples, out);
            break;
        case 5:
            vertical_fixed<T, Acc, 5>(rows, weights, divisor, r, samples, out);
            break;
        case 6:
            vertical_fixed<T, Acc, 6>(rows, weights, divisor, r, samples, out);
            break;
        case 7:
            vertical_fixed<T, Acc, 7>(rows, weights, divisor, r, samples, out);
            break;
        case 8:
            vertical_fixed<T, Acc, 8>(rows, weights, divisor, r, samples, out);
            break;
        default:
            vertical_any<T, Acc>(rows, weights, taps, divisor, r, samples, out);
            break;
    }
}

// The weighted sums of one horizontal output row of channels samples per pixel.
template <class T, class Acc, int channels>
TESSALY_INLINE void horizontal_sums(const T* in, const std::int32_t* start,
                                    const std::int16_t* weights, int taps, int width,
                                    Acc* __restrict sums) {
    for (int x = 0; x < width; ++x) {
        const T* s = in + static_cast<std::ptrdiff_t>(start[x]) * channels;
        const std::int16_t* w = weights + static_cast<std::ptrdiff_t>(x) * taps;
        Acc a[channels] = {};
        for (int t = 0; t < taps; ++t) {
            for (int c = 0; c < channels; ++c) a[c] += w[t] * static_cast<Acc>(s[t * channels + c]);
        }
        for (int c = 0; c < channels; ++c) sums[x * channels + c] = a[c];
    }
}

template <class T, class Acc>
TESSALY_INLINE void divide_row(const Acc* sums, const std::int32_t* d, const DivisorReal<Acc>* r,
                               int samples, T* __restrict out) {
    for (int i = 0; i < samples; ++i) out[i] = quotient<T>(sums[i], d[i], r[i]);
}

// Instantiations built for each processor level.
template <class T, class Acc>
struct Passes;
#define TESSALY_PASSES(T, Acc, tag)                                                                \
    TESSALY_CLONES void vertical_##tag(std::uint8_t* const* rows, const std::int16_t* weights,     \
                                       int taps, std::int32_t divisor, int samples, T* out) {      \
        vertical_row<T, Acc>(rows, weights, taps, divisor, samples, out);                          \
    }                                                                                              \
    TESSALY_CLONES void sums1_##tag(const T* in, const std::int32_t* start,                        \
                                    const std::int16_t* weights, int taps, int width, Acc* sums) { \
        horizontal_sums<T, Acc, 1>(in, start, weights, taps, width, sums);                         \
    }                                                                                              \
    TESSALY_CLONES void sums3_##tag(const T* in, const std::int32_t* start,                        \
                                    const std::int16_t* weights, int taps, int width, Acc* sums) { \
        horizontal_sums<T, Acc, 3>(in, start, weights, taps, width, sums);                         \
    }                                                                                              \
    TESSALY_CLONES void divide_##tag(const Acc* sums, const std::int32_t* d,                       \
                                     const DivisorReal<Acc>* r, int samples, T* out) {             \
        divide_row<T, Acc>(sums, d, r, samples, out);                                              \
    }                                                                                              \
    template <>                                                                                    \
    struct Passes<T, Acc> {                                                                        \
        static void vertical(std::uint8_t* const* rows, const std::int16_t* w, int taps,           \
                             std::int32_t d, int samples, T* out) {                                \
            vertical_##tag(rows, w, taps, d, samples, out);                                        \
        }                                                                                          \
        static void sums(int channels, const T* in, const std::int32_t* start,                     \
                         const std::int16_t* w, int taps, int width, Acc* sums) {                  \
            if (channels == 1) {                                                                   \
                sums1_##tag(in, start, w, taps, width, sums);                                      \
            } else {                                                                               \
                sums3_##tag(in, start, w, taps, width, sums);                                      \
            }                                                                                      \
        }                                                                                          \
        static void divide(const Acc* sums, const std::int32_t* d, const DivisorReal<Acc>* r,      \
                           int samples, T* out) {                                                  \
            divide_##tag(sums, d, r, samples, out);                                                \
        }                                                                                          \
    };
TESSALY_PASSES(std::uint8_t, std::int32_t, 8_32)
TESSALY_PASSES(std::uint8_t, std::int64_t, 8_64)
TESSALY_PASSES(std::uint16_t, std::int32_t, 16_32)
TESSALY_PASSES(std::uint16_t, std::int64_t, 16_64)
#undef TESSALY_PASSES

std::atomic<bool> vector_code{true};

#if TESSALY_AVX2
// The horizontal sums with AVX2 multiply-adds of 16-bit pairs: each 256-bit step takes four
// taps of a color pixel (two per 128-bit half, the three channels side by side) or sixteen of
// a gray one. 16-bit samples are biased by -32768 to fit the signed multiply and the bias is
// added back as 32768 x the weight sum. The weights come laid out by simd_weights.
int simd_taps_per_step(int channels) {
    return channels == 3 ? 4 : 16;
}

std::vector<std::int16_t> simd_weights(const TapTable& table, int channels, int& steps) {
    const int per = simd_taps_per_step(channels);
    steps = (table.taps + per - 1) / per;
    const std::size_t width = table.start.size();
    std::vector<std::int16_t> out(width * static_cast<std::size_t>(steps) * 16, 0);
    for (std::size_t x = 0; x < width; ++x) {
        for (int t = 0; t < table.taps; ++t) {
            const std::int16_t w = table.weights[x * static_cast<std::size_t>(table.taps) + t];
            const std::size_t block = (x * static_cast<std::size_t>(steps) + t / per) * 16;
            const int j = t % per;
            if (channels == 3) {
                const std::size_t lane = block + static_cast<std::size_t>(j / 2) * 8 + j % 2;
                out[lane] = out[lane + 2] = out[lane + 4] = w;
            } else {
                out[block + static_cast<std::size_t>(j)] = w;
            }
        }
    }
    return out;
}

TESSALY_AVX2_TARGET inline __m256i load_pair(const void* low, const void* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(low))),
        _mm_loadu_si128(static_cast<const __m128i*>(high)), 1);
}

TESSALY_AVX2_TARGET inline std::int32_t add_lanes(__m256i v) {
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4e));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xb1));
    return _mm_cvtsi128_si32(s);
}

// sums has room for one int32 after the row.
template <class T>
TESSALY_AVX2_TARGET void simd_sums3(const T* in, const std::int32_t* start,
                                    const std::int16_t* weights, int steps,
                                    const std::int32_t* bias, int width, std::int32_t* sums) {
    // Two pixels per 128-bit half become (c0 c0') (c1 c1') (c2 c2') (0 0) as 16-bit pairs.
    const __m256i pairs =
        sizeof(T) == 1 ? _mm256_setr_epi8(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1,
                                          0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1)
                       : _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1, 0,
                                          1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
    const __m256i flip = _mm256_set1_epi16(sizeof(T) == 1 ? 0 : -32768);
    for (int x = 0; x < width; ++x) {
        const T* s = in + static_cast<std::ptrdiff_t>(start[x]) * 3;
        const std::int16_t* w = weights + static_cast<std::ptrdiff_t>(x) * steps * 16;
        __m256i acc = _mm256_setzero_si256();
        for (int g = 0; g < steps; ++g) {
            __m256i v = _mm256_shuffle_epi8(load_pair(s + 12 * g, s + 12 * g + 6), pairs);
            v = _mm256_xor_si256(v, flip);
            acc = _mm256_add_epi32(
                acc, _mm256_madd_epi16(
                         v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 16 * g))));
        }
        __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
        if (sizeof(T) == 2) sum = _mm_add_epi32(sum, _mm_set1_epi32(bias[x]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + 3 * x), sum);
    }
}

template <class T>
TESSALY_AVX2_TARGET void simd_sums1(const T* in, const std::int32_t* start,
                                    const std::int16_t* weights, int steps,
                                    const std::int32_t* bias, int width, std::int32_t* sums) {
    const __m256i flip = _mm256_set1_epi16(-32768);
    for (int x = 0; x < width; ++x) {
        const T* s = in + start[x];
        const std::int16_t* w = weights + static_cast<std::ptrdiff_t>(x) * steps * 16;
        __m256i acc = _mm256_setzero_si256();
        for (int g = 0; g < steps; ++g) {
            __m256i v;
            if constexpr (sizeof(T) == 1) {
                v = _mm256_cvtepu8_epi16(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16 * g)));
            } else {
                v = _mm256_xor_si256(
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 16 * g)), flip);
            }
            acc = _mm256_add_epi32(
                acc, _mm256_madd_epi16(
                         v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 16 * g))));
        }
        sums[x] = add_lanes(acc) + (sizeof(T) == 2 ? bias[x] : 0);
    }
}
#endif

int channels_of(std::uint32_t type) {
    return type == image_color24 || type == image_color48 ? 3 : 1;
}

// Separable kernel scaling of 8- or 16-bit images: per destination row, the vertical taps make
// a row of source width, the horizontal taps make the destination row from it.
template <class T, class Acc>
bool scale_kernel(const Image& source, Image& destination, const TapTable& vertical,
                  const TapTable& horizontal, bool show_progress) {
    const int channels = channels_of(source.type);
    const int samples = static_cast<int>(source.width) * channels;
    const int width = static_cast<int>(destination.width);
    // The divisor of every output sample of a row, and what the quotient needs besides.
    std::vector<std::int32_t> divisors(static_cast<std::size_t>(width) * channels);
    std::vector<DivisorReal<Acc>> divisor_reals(divisors.size());
    for (std::size_t i = 0; i < divisors.size(); ++i) {
        divisors[i] = horizontal.divisor[i / static_cast<std::size_t>(channels)];
        divisor_reals[i] = divisor_real<Acc>(divisors[i]);
    }
    // The vector path reads whole 128- and 256-bit blocks past the last tap of a pixel: the
    // row buffer has room for them (zero weights meet those samples).
    constexpr int slack = 64;
    bool simd = false;
    [[maybe_unused]] int steps = 0;
    [[maybe_unused]] std::vector<std::int16_t> simd_table;
    [[maybe_unused]] std::vector<std::int32_t> bias;
#if TESSALY_AVX2
    if constexpr (std::is_same_v<Acc, std::int32_t>) {
        if (vector_code.load() && tessaly_has_avx2() && !horizontal.identity) {
            simd = true;
            simd_table = simd_weights(horizontal, channels, steps);
            if constexpr (sizeof(T) == 2) {
                for (std::int32_t sum : horizontal.sum) bias.push_back(sum * 32768);
            }
        }
    }
#endif
    auto rows = [&](const Image* in, Image* out, int first, int last,
                    Progress& progress) -> std::uint8_t {
        try {
            // This worker's row of source width and its horizontal sums.
            std::vector<T> row(static_cast<std::size_t>(samples) + slack);
            std::vector<Acc> sums(static_cast<std::size_t>(width) * channels + 1);
            std::size_t offset = 0;
            for (int r = 0; r < first; ++r) offset += static_cast<std::size_t>(vertical.count[r]);
            for (int r = first; r <= last; ++r) {
                if (progress_tick(progress)) return 1;
                const auto ri = static_cast<std::size_t>(r);
                const int taps = vertical.count[ri];
                const std::int16_t* w = vertical.weights.data() + offset;
                offset += static_cast<std::size_t>(taps);
                std::uint8_t* const* source_rows = in->rows + vertical.start[ri];
                T* target = reinterpret_cast<T*>(out->rows[r]);
                T* v = horizontal.identity ? target : row.data();
                if (taps == 1 && w[0] == vertical.divisor[ri]) {
                    std::memcpy(v, source_rows[0], static_cast<std::size_t>(samples) * sizeof(T));
                } else {
                    Passes<T, Acc>::vertical(source_rows, w, taps, vertical.divisor[ri], samples,
                                             v);
                }
                if (horizontal.identity) continue;
                if (simd) {
#if TESSALY_AVX2
                    if constexpr (std::is_same_v<Acc, std::int32_t>) {
                        if (channels == 3) {
                            simd_sums3(row.data(), horizontal.start.data(), simd_table.data(),
                                       steps, bias.data(), width, sums.data());
                        } else {
                            simd_sums1(row.data(), horizontal.start.data(), simd_table.data(),
                                       steps, bias.data(), width, sums.data());
                        }
                    }
#endif
                } else {
                    Passes<T, Acc>::sums(channels, row.data(), horizontal.start.data(),
                                         horizontal.weights.data(), horizontal.taps, width,
                                         sums.data());
                }
                Passes<T, Acc>::divide(sums.data(), divisors.data(), divisor_reals.data(),
                                       width * channels, target);
            }
            return 0;
        } catch (const std::bad_alloc&) {
            return 1;
        }
    };
    return run_rows(rows, show_progress ? "Resample" : "", &source, &destination) != 0;
}

template <class T>
bool scale_kernel_depth(const Image& source, Image& destination, const TapTable& vertical,
                        const TapTable& horizontal, bool show_progress) {
    // 32-bit sums when the largest possible sum, and the largest quotient times its divisor,
    // fit; the estimate-and-correct quotient also wants positive divisors.
    const std::int64_t bound = (std::max(vertical.max_abs_sum, horizontal.max_abs_sum) + 1) *
                               (std::int64_t{sample_max<T>} + 1);
    if (bound < (std::int64_t{1} << 31) && vertical.positive && horizontal.positive) {
        return scale_kernel<T, std::int32_t>(source, destination, vertical, horizontal,
                                             show_progress);
    }
    return scale_kernel<T, std::int64_t>(source, destination, vertical, horizontal, show_progress);
}

// Nearest neighbour: ((S - 1) i + (D - 1) / 2) / (D - 1), exact at both ends.
std::vector<std::int32_t> nearest_indices(std::int64_t source_length, std::int64_t length) {
    std::vector<std::int32_t> index(static_cast<std::size_t>(length), 0);
    if (length > 1) {
        for (std::int64_t i = 0; i < length; ++i) {
            index[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(
                ((source_length - 1) * i + (length - 1) / 2) / (length - 1));
        }
    }
    return index;
}

template <int bytes>
void pick_pixels(const std::uint8_t* in, const std::int32_t* index, int width, std::uint8_t* out) {
    for (int x = 0; x < width; ++x) {
        std::memcpy(out + static_cast<std::ptrdiff_t>(x) * bytes,
                    in + static_cast<std::ptrdiff_t>(index[x]) * bytes, bytes);
    }
}

bool scale_nearest(const Image& source, Image& destination, bool show_progress) {
    const std::vector<std::int32_t> xs = nearest_indices(source.width, destination.width);
    const std::vector<std::int32_t> ys = nearest_indices(source.height, destination.height);
    const int width = static_cast<int>(destination.width);
    const std::uint32_t type = source.type;
    auto rows = [&](const Image* in, Image* out, int first, int last,
                    Progress& progress) -> std::uint8_t {
        for (int r = first; r <= last; ++r) {
            if (progress_tick(progress)) return 1;
            const std::uint8_t* s = in->rows[ys[static_cast<std::size_t>(r)]];
            std::uint8_t* d = out->rows[r];
            switch (type) {
                case image_binary:
                    for (int x = 0; x < width; ++x) {
                        if (bit_get(s,
                                    static_cast<std::uint32_t>(xs[static_cast<std::size_t>(x)]))) {
                            bit_set(d, static_cast<std::uint32_t>(x));
                        }
                    }
                    break;
                case image_gray8:
                    pick_pixels<1>(s, xs.data(), width, d);
                    break;
                case image_color24:
                    pick_pixels<3>(s, xs.data(), width, d);
                    break;
                case image_gray16:
                    pick_pixels<2>(s, xs.data(), width, d);
                    break;
                default:
                    pick_pixels<6>(s, xs.data(), width, d);
                    break;
            }
        }
        return 0;
    };
    return run_rows(rows, show_progress ? "Resample" : "", &source, &destination) != 0;
}

// 8-bit gray back to binary: a level of 128 or more is white, so a scaled edge stays where the
// scaled gray crosses the middle.
bool threshold_to_binary(const Image& gray, Image& binary) {
    const int width = static_cast<int>(gray.width);
    auto rows = [width](const Image* in, Image* out, int first, int last,
                        Progress&) -> std::uint8_t {
        for (int r = first; r <= last; ++r) {
            const std::uint8_t* s = in->rows[r];
            std::uint8_t* d = out->rows[r];
            for (int x = 0; x < width; ++x) {
                if (s[x] >= 128) bit_set(d, static_cast<std::uint32_t>(x));
            }
        }
        return 0;
    };
    return run_rows(rows, "", &gray, &binary) != 0;
}

}  // namespace

void resample_allow_vector_code(bool allow) {
    vector_code.store(allow);
}

bool resample(const Image& source, Image& destination, std::int32_t new_width,
              std::int32_t new_height, double new_resolution, std::int32_t method, double sharpen,
              bool show_progress) {
    if (&source == &destination) return true;
    if (source.type < image_binary || source.type > image_color48 || !source.has_pixels() ||
        new_width < 1 || new_height < 1 || method < resample_nearest ||
        method > resample_lanczos8) {
        image_free(destination);
        return true;
    }
    const auto w = static_cast<std::uint32_t>(new_width);
    const auto h = static_cast<std::uint32_t>(new_height);
    if (w == source.width && h == source.height) {
        if (image_copy(source, destination)) return true;
        destination.dpi = new_resolution;
        return false;
    }
    try {
        if (source.type == image_binary && method != resample_nearest) {
            // Kernels need levels between black and white: scale an 8-bit gray copy.
            Image gray;
            Image scaled;
            if (convert_1_to_2(source, gray) ||
                resample(gray, scaled, new_width, new_height, new_resolution, method, sharpen,
                         show_progress) ||
                image_alloc_with(destination, image_binary, w, h, new_resolution, source.profile,
                                 source.profile_size, source.tags) ||
                threshold_to_binary(scaled, destination)) {
                image_free(destination);
                return true;
            }
            return false;
        }
        if (image_alloc_with(destination, source.type, w, h, new_resolution, source.profile,
                             source.profile_size, source.tags)) {
            return true;
        }
        bool failed;
        if (method == resample_nearest) {
            failed = scale_nearest(source, destination, show_progress);
        } else {
            const TapTable vertical = build_taps(method, sharpen, static_cast<int>(source.height),
                                                 new_height, true, false);
            const TapTable horizontal =
                build_taps(method, sharpen, static_cast<int>(source.width), new_width, false, true);
            if (source.type == image_gray16 || source.type == image_color48) {
                failed = scale_kernel_depth<std::uint16_t>(source, destination, vertical,
                                                           horizontal, show_progress);
            } else {
                failed = scale_kernel_depth<std::uint8_t>(source, destination, vertical, horizontal,
                                                          show_progress);
            }
        }
        if (failed) image_free(destination);
        return failed;
    } catch (const std::bad_alloc&) {
        image_free(destination);
        return true;
    }
}

}  // namespace tessaly
