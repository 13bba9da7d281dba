#include "kernels/lut.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/image.h"
#include "kernels/simd.h"
#include "kernels/tone.h"

namespace tessaly {

namespace {

// The samples of one 64-bit word (eight 8-bit or four 16-bit ones), sample s through
// tables[(first + s) mod 3].
template <class T>
TESSALY_INLINE std::uint64_t lookup_word(std::uint64_t x, const T* const tables[3], int first) {
    constexpr int bits = 8 * sizeof(T), count = 64 / bits;
    constexpr std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
    std::uint64_t y = 0;
    for (int s = 0; s < count; ++s) {
        y |= std::uint64_t{tables[(first + s) % 3][(x >> (bits * s)) & mask]} << (bits * s);
    }
    return y;
}

// Sample j through tables[j mod 3] (the same table three times for one table): three 64-bit
// words a step, so the pattern of tables repeats and the lookups do not wait on each other.
template <class T>
void lut_cycle(const std::uint8_t* in, std::uint8_t* out, std::size_t n, const T* const tables[3]) {
    constexpr std::size_t per_word = 8 / sizeof(T), step = 3 * per_word;
    std::size_t i = 0;
    for (; i + step <= n; i += step) {
        std::uint64_t a, b, c;
        std::memcpy(&a, in + i * sizeof(T), 8);
        std::memcpy(&b, in + i * sizeof(T) + 8, 8);
        std::memcpy(&c, in + i * sizeof(T) + 16, 8);
        a = lookup_word(a, tables, 0);
        b = lookup_word(b, tables, static_cast<int>(per_word));
        c = lookup_word(c, tables, static_cast<int>(2 * per_word));
        std::memcpy(out + i * sizeof(T), &a, 8);
        std::memcpy(out + i * sizeof(T) + 8, &b, 8);
        std::memcpy(out + i * sizeof(T) + 16, &c, 8);
    }
    for (; i < n; ++i) {
        T v;
        std::memcpy(&v, in + i * sizeof(T), sizeof(T));
        v = tables[i % 3][v];
        std::memcpy(out + i * sizeof(T), &v, sizeof(T));
    }
}

#if TESSALY_AVX2
// 32 samples a step without touching memory for the lookups: the table's sixteen rows of sixteen
// entries each give a byte shuffle by the low four bits, and the high four bits pick among the
// sixteen results in a tree of blends, one bit a level. (Three tables by position cost three such
// trees for every byte, which is no faster than the scalar form.)
TESSALY_AVX2_TARGET void lut8_avx2(const std::uint8_t* in, std::uint8_t* out, std::size_t n,
                                   const std::uint8_t* table) {
    __m256i rows[16];
    for (int k = 0; k < 16; ++k) {
        rows[k] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * k)));
    }
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i low = _mm256_and_si256(x, _mm256_set1_epi8(0x0f));
        // Bits 4, 5 and 6 moved to bit 7, where a blend looks.
        const __m256i bit4 = _mm256_slli_epi16(x, 3), bit5 = _mm256_slli_epi16(x, 2),
                      bit6 = _mm256_slli_epi16(x, 1);
        __m256i level[8];
        for (int k = 0; k < 8; ++k) {
            level[k] = _mm256_blendv_epi8(_mm256_shuffle_epi8(rows[2 * k], low),
                                          _mm256_shuffle_epi8(rows[2 * k + 1], low), bit4);
        }
        for (int k = 0; k < 4; ++k)
            level[k] = _mm256_blendv_epi8(level[2 * k], level[2 * k + 1], bit5);
        for (int k = 0; k < 2; ++k)
            level[k] = _mm256_blendv_epi8(level[2 * k], level[2 * k + 1], bit6);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_blendv_epi8(level[0], level[1], x));
    }
    const std::uint8_t* const tables[3] = {table, table, table};
    lut_cycle(in + i, out + i, n - i, tables);
}
#endif

}  // namespace

void lut8_row(const std::uint8_t* in, std::uint8_t* out, std::size_t n, const std::uint8_t* table) {
#if TESSALY_AVX2
    if (tessaly_has_avx2()) return lut8_avx2(in, out, n, table);
#endif
    const std::uint8_t* const tables[3] = {table, table, table};
    lut_cycle(in, out, n, tables);
}

void lut8x3_row(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                const std::uint8_t* blue, const std::uint8_t* green, const std::uint8_t* red) {
    const std::uint8_t* const tables[3] = {blue, green, red};
    lut_cycle(in, out, 3 * pixels, tables);
}

void lut16_row(const std::uint8_t* in, std::uint8_t* out, std::size_t n,
               const std::uint16_t* table) {
    const std::uint16_t* const tables[3] = {table, table, table};
    lut_cycle(in, out, n, tables);
}

void lut16x3_row(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                 const std::uint16_t* blue, const std::uint16_t* green, const std::uint16_t* red) {
    const std::uint16_t* const tables[3] = {blue, green, red};
    lut_cycle(in, out, 3 * pixels, tables);
}

TESSALY_CLONES void invert_row(const std::uint8_t* in, std::uint8_t* out, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(~in[i]);
}

void value_table8(const std::uint8_t* table, std::uint8_t* scaled) {
    for (std::uint32_t v = 0; v < 256; ++v) {
        const std::uint32_t nv = table[v];
        for (std::uint32_t c = 0; c < 256; ++c) {
            scaled[v * 256 + c] =
                static_cast<std::uint8_t>(v == 0 ? nv : std::min(c * nv / v, 255u));
        }
    }
}

void value_row8(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                const std::uint8_t* scaled) {
    for (std::size_t x = 0; x < pixels; ++x) {
        const std::uint8_t b = in[3 * x], g = in[3 * x + 1], r = in[3 * x + 2];
        const std::uint8_t* row = scaled + 256 * std::max({b, g, r});
        out[3 * x] = row[b];
        out[3 * x + 1] = row[g];
        out[3 * x + 2] = row[r];
    }
}

// c x table[v] / v in doubles: the product is below 2^32, and a quotient that is not an integer
// lies at least 1 / v from the next one, far beyond the division's rounding, so its floor is the
// integer quotient. A black pixel takes table[0] in every channel.
TESSALY_CLONES void value_row16(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                                const std::uint16_t* table) {
    const auto* s = reinterpret_cast<const std::uint16_t*>(in);
    auto* d = reinterpret_cast<std::uint16_t*>(out);
    for (std::size_t x = 0; x < pixels; ++x) {
        const std::uint32_t b = s[3 * x], g = s[3 * x + 1], r = s[3 * x + 2];
        const std::uint32_t v = std::max({b, g, r});
        const double nv = table[v];
        const double black = v == 0 ? nv : 0.0;
        const double divisor = v == 0 ? 1.0 : static_cast<double>(v);
        d[3 * x] = static_cast<std::uint16_t>((b * nv + black) / divisor);
        d[3 * x + 1] = static_cast<std::uint16_t>((g * nv + black) / divisor);
        d[3 * x + 2] = static_cast<std::uint16_t>((r * nv + black) / divisor);
    }
}

void ToneRows::prepare(std::uint32_t type, ToneModel model, const std::uint8_t* table) {
    type_ = type;
    model_ = type == image_color24 ? model : ToneModel::samples;
    if (model_ == ToneModel::value) {
        table_.resize(65536);
        value_table8(table, table_.data());
    } else {
        table_.assign(table, table + 256);
    }
}

void ToneRows::prepare(std::uint32_t type, ToneModel model, const std::uint16_t* table16) {
    type_ = type;
    model_ = type == image_color48 ? model : ToneModel::samples;
    table16_.assign(table16, table16 + 65536);
}

void ToneRows::row(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width) const {
    const bool deep = type_ == image_gray16 || type_ == image_color48;
    const bool colour = type_ == image_color24 || type_ == image_color48;
    const std::size_t samples = std::size_t{width} * (colour ? 3 : 1);
    switch (model_) {
        case ToneModel::samples:
            return deep ? lut16_row(in, out, samples, table16_.data())
                        : lut8_row(in, out, samples, table_.data());
        case ToneModel::value:
            return deep ? value_row16(in, out, width, table16_.data())
                        : value_row8(in, out, width, table_.data());
        case ToneModel::lightness:
            break;
    }
    for (std::uint32_t x = 0; x < width; ++x) {
        std::int32_t c[3];
        for (int k = 0; k < 3; ++k) c[k] = deep ? sample16(in, 3 * x + k) : in[3 * x + k];
        if (deep) {
            lightness_through16(c[2], c[1], c[0], table16_.data());
        } else {
            lightness_through8(c[2], c[1], c[0], table_.data());
        }
        for (int k = 0; k < 3; ++k) {
            if (deep) {
                set_sample16(out, 3 * x + k, static_cast<std::uint16_t>(c[k]));
            } else {
                out[3 * x + k] = static_cast<std::uint8_t>(c[k]);
            }
        }
    }
}

namespace {

// floor(n / d) = n x reciprocal[d] >> 32 for n below 65536 and d from 1 to 255: the product's
// error is below n / 2^32 < 2^-16, less than the 1 / d that separates a fraction from the next
// integer.
constexpr auto reciprocal = [] {
    std::array<std::uint64_t, 256> r{};
    for (std::uint64_t d = 1; d < 256; ++d) r[d] = ((std::uint64_t{1} << 32) + d - 1) / d;
    return r;
}();

}  // namespace

void SaturationRows8::prepare(const std::uint8_t* table, bool hsl) {
    hsl_ = hsl;
    extreme_.assign(65536, 0);
    for (std::int32_t max = 1; max < 256; ++max) {
        for (std::int32_t min = 0; min < max; ++min) {
            std::int32_t value;
            if (!hsl) {
                value = (255 - table[(max - min) * 255 / max]) * max / 255;
            } else {
                const std::int32_t sum = max + min;
                const bool dark = sum <= 255;
                const std::int32_t t = table[(max - min) * 255 / (dark ? sum : 510 - sum)];
                value = dark ? (255 + t) * sum / 510 : (t * 510 + (255 - t) * sum) / 510;
            }
            extreme_[static_cast<std::size_t>(max * 256 + min)] = static_cast<std::uint8_t>(value);
        }
    }
}

// With the new maximum M' and minimum m', every channel c becomes M' - (M' - m') (M - c) / (M - m)
// truncated toward zero: the maximum and minimum channels give M' and m' themselves, and the
// middle one keeps its place between them, so the hue stays.
void SaturationRows8::row(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) const {
    for (std::size_t x = 0; x < pixels; ++x) {
        const std::int32_t c[3] = {in[3 * x], in[3 * x + 1], in[3 * x + 2]};
        const std::int32_t max = std::max({c[0], c[1], c[2]}), min = std::min({c[0], c[1], c[2]});
        if (max == min) {
            std::memcpy(out + 3 * x, in + 3 * x, 3);
            continue;
        }
        const std::int32_t e = extreme_[static_cast<std::size_t>(max * 256 + min)];
        const std::int32_t high = hsl_ ? e : max, low = hsl_ ? max + min - e : e;
        const std::int32_t span = high - low;
        const std::uint64_t r = reciprocal[static_cast<std::size_t>(max - min)];
        for (int k = 0; k < 3; ++k) {
            const auto n = static_cast<std::uint64_t>((span < 0 ? -span : span) * (max - c[k]));
            const auto q = static_cast<std::int32_t>((n * r) >> 32);
            out[3 * x + k] = static_cast<std::uint8_t>(span < 0 ? high + q : high - q);
        }
    }
}

}  // namespace tessaly
