#include "kernels/box_blur.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <type_traits>
#include <vector>

#include "core/runner.h"
#include "kernels/chroma.h"
#include "kernels/simd.h"

namespace tessaly {

namespace {

std::atomic<bool> fast_path_allowed{true};

// Integer samples sum in 32 bits (255 x 513 and 65535 x 513 both fit); floats in floats.
template <class T>
using Acc = std::conditional_t<std::is_floating_point_v<T>, float, std::int32_t>;

// Truncating division of a sum of 8-bit samples by the window: (s + 0.5) / w lies at least
// 0.5 / w away from the next integer, far beyond the error of a float product at these sizes.
struct Divide8 {
    float inverse;
    explicit Divide8(int w) : inverse(1.0f / static_cast<float>(w)) {}
    TESSALY_INLINE std::int32_t operator()(std::int32_t s) const {
        return static_cast<std::int32_t>((static_cast<float>(s) + 0.5f) * inverse);
    }
};
// The same for 16-bit sums, which need the precision of a double.
struct Divide16 {
    double inverse;
    explicit Divide16(int w) : inverse(1.0 / w) {}
    TESSALY_INLINE std::int32_t operator()(std::int32_t s) const {
        return static_cast<std::int32_t>((static_cast<double>(s) + 0.5) * inverse);
    }
};
struct DivideFloat {
    float w;
    explicit DivideFloat(int window) : w(static_cast<float>(window)) {}
    TESSALY_INLINE float operator()(float s) const { return s / w; }
};

template <class T>
using Divide =
    std::conditional_t<std::is_same_v<T, std::uint8_t>, Divide8,
                       std::conditional_t<std::is_same_v<T, std::uint16_t>, Divide16, DivideFloat>>;

int channels_of(std::uint32_t type) {
    return type == image_color24 || type == image_color48 || type == image_float_color ? 3 : 1;
}

// Row of the band's line for line position y: mirrored about the edge row, the edge row not
// repeated; clamped into the image when the image is shorter than the kernel.
int mirror_row(int y, int height) {
    if (y < 0) return std::min(-y, height - 1);
    if (y >= height) return std::max(2 * height - y - 2, 0);
    return y;
}

bool cancelled(const Progress& p) {
    return p.cancel.load(std::memory_order_relaxed) || run_abort_requested();
}

// Where a band's finished rows go: the rows of a whole output image, or, for a sink, a buffer
// of the band's own (a row pass may write in place over the column pass's rows, which it has
// read by then). A band hands over at most box_blur_sink_rows rows at a time, in row order.
class RowTarget {
  public:
    explicit RowTarget(Image& out) : image_(&out) {}
    explicit RowTarget(const BlurredRowsSink& sink) : sink_(&sink) {}

    // Where row y goes; `own` is the band's buffer for it.
    std::uint8_t* row(int y, std::uint8_t* own) const { return image_ ? image_->rows[y] : own; }
    // Rows first .. first + count - 1 are written, to rows[0 .. count - 1].
    std::uint8_t done(int first, int count, const std::uint8_t* const* rows) const {
        return sink_ ? (*sink_)(first, count, rows) : 0;
    }

  private:
    Image* image_ = nullptr;
    const BlurredRowsSink* sink_ = nullptr;
};

// --- the running-sum form: many columns at once, rows fused with the row pass ---------------

template <class T>
TESSALY_INLINE void add_row(Acc<T>* sum, const T* a, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) sum[j] += static_cast<Acc<T>>(a[j]);
}
template <class T>
TESSALY_INLINE void update_row(Acc<T>* sum, const T* add, const T* sub, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j)
        sum[j] += static_cast<Acc<T>>(add[j]) - static_cast<Acc<T>>(sub[j]);
}
template <class T>
TESSALY_INLINE void divide_row(const Acc<T>* sum, T* out, std::size_t n, Divide<T> d) {
    for (std::size_t j = 0; j < n; ++j) out[j] = static_cast<T>(d(sum[j]));
}
template <class T>
TESSALY_INLINE void update_divide_row(Acc<T>* sum, const T* add, const T* sub, T* out,
                                      std::size_t n, Divide<T> d) {
    for (std::size_t j = 0; j < n; ++j) {
        sum[j] += static_cast<Acc<T>>(add[j]) - static_cast<Acc<T>>(sub[j]);
        out[j] = static_cast<T>(d(sum[j]));
    }
}

// Box sums of integer samples as differences of prefix sums: the same integers as the running
// sum, but the divisions no longer wait on one another. The prefix sums may wrap; their
// differences stay exact.
// The running totals stay in registers: one add per sample on each channel's chain. Continues
// the sums of `total` over in[from, to) into out[from + C, to + C).
template <class T, int C>
TESSALY_INLINE void prefix_of(const T* in, std::uint32_t* out, std::size_t from, std::size_t to,
                              std::uint32_t* total) {
    std::uint32_t s[C];
    for (int k = 0; k < C; ++k) s[k] = total[k];
    for (std::size_t j = from; j < to; j += C) {
        for (int k = 0; k < C; ++k) {
            s[k] += in[j + k];
            out[j + C + k] = s[k];
        }
    }
    for (int k = 0; k < C; ++k) total[k] = s[k];
}
template <class T>
TESSALY_INLINE void prefix(const T* in, std::uint32_t* out, std::size_t from, std::size_t to, int c,
                           std::uint32_t* total) {
    if (c == 3) {
        prefix_of<T, 3>(in, out, from, to, total);
    } else {
        prefix_of<T, 1>(in, out, from, to, total);
    }
}
template <class T>
TESSALY_INLINE void window_divide(const std::uint32_t* p, std::size_t span, T* out, std::size_t n,
                                  Divide<T> d) {
    for (std::size_t j = 0; j < n; ++j)
        out[j] = static_cast<T>(d(static_cast<std::int32_t>(p[j + span] - p[j])));
}

// The kernels, built for AVX2 and for the plain instruction set; overloads by sample type.
#define BLUR_KERNELS(T)                                                                            \
    TESSALY_CLONES void add_rows(Acc<T>* s, const T* a, std::size_t n) {                           \
        add_row<T>(s, a, n);                                                                       \
    }                                                                                              \
    TESSALY_CLONES void update_rows(Acc<T>* s, const T* a, const T* b, std::size_t n) {            \
        update_row<T>(s, a, b, n);                                                                 \
    }                                                                                              \
    TESSALY_CLONES void divide_rows(const Acc<T>* s, T* o, std::size_t n, Divide<T> d) {           \
        divide_row<T>(s, o, n, d);                                                                 \
    }                                                                                              \
    TESSALY_CLONES void update_divide_rows(Acc<T>* s, const T* a, const T* b, T* o, std::size_t n, \
                                           Divide<T> d) {                                          \
        update_divide_row<T>(s, a, b, o, n, d);                                                    \
    }
BLUR_KERNELS(std::uint8_t)
BLUR_KERNELS(std::uint16_t)
BLUR_KERNELS(float)
#undef BLUR_KERNELS

TESSALY_CLONES void window_divide_rows(const std::uint32_t* p, std::size_t span, std::uint8_t* o,
                                       std::size_t n, Divide8 d) {
    window_divide<std::uint8_t>(p, span, o, n, d);
}
TESSALY_CLONES void window_divide_rows(const std::uint32_t* p, std::size_t span, std::uint16_t* o,
                                       std::size_t n, Divide16 d) {
    window_divide<std::uint16_t>(p, span, o, n, d);
}

template <class Sample>
struct Kernels {
    using T = Sample;
    static void add(Acc<T>* s, const T* a, std::size_t n) { add_rows(s, a, n); }
    static void update(Acc<T>* s, const T* a, const T* b, std::size_t n) {
        update_rows(s, a, b, n);
    }
    static void divide(const Acc<T>* s, T* o, std::size_t n, Divide<T> d) {
        divide_rows(s, o, n, d);
    }
    static void update_divide(Acc<T>* s, const T* a, const T* b, T* o, std::size_t n, Divide<T> d) {
        update_divide_rows(s, a, b, o, n, d);
    }
    // Integer samples only (not instantiated for floats).
    static void window(const std::uint32_t* p, std::size_t span, T* o, std::size_t n, Divide<T> d) {
        window_divide_rows(p, span, o, n, d);
    }
};

// The line filter on one line of L pixels of c values each; the first `filtered` values of a
// pixel are box-filtered with radius r, the others copied.
template <class V>
void line_filter(const V* in, V* out, int length, int r, int c, int filtered) {
    using Sum = std::conditional_t<std::is_floating_point_v<V>, float, std::int64_t>;
    const int w = 2 * r + 1;
    for (int k = filtered; k < c; ++k) {
        for (int i = 0; i < length; ++i) out[i * c + k] = in[i * c + k];
    }
    for (int k = 0; k < filtered; ++k) {
        Sum sum = 0;
        for (int i = 0; i < w; ++i) sum += in[i * c + k];
        for (int i = 0; i < r; ++i) out[i * c + k] = in[i * c + k];
        const int end = length - r - 1;
        for (int i = r; i <= end; ++i) {
            out[i * c + k] = static_cast<V>(sum / static_cast<Sum>(w));
            if (i < end) sum += in[(i + r + 1) * c + k] - in[(i - r) * c + k];
        }
        for (int i = length - r; i < length; ++i) out[i * c + k] = in[i * c + k];
    }
}

// The row pass of one filtered row v (width pixels): the line runs from -2r to width + 2r - 1
// with the edge pixels repeated; the middle width pixels of the twice-filtered line go to out.
template <class K>
struct RowPass {
    using T = typename K::T;
    int width, c, r;
    std::vector<T> line, once;
    std::vector<std::uint32_t> sums;
    std::vector<float> fline, fonce, ftwice;

    RowPass(int w, int channels, int radius) : width(w), c(channels), r(radius) {
        const std::size_t length = static_cast<std::size_t>(width + 4 * r) * c;
        line.resize(length);
        once.resize(length);
        sums.resize(length + static_cast<std::size_t>(c));
        if constexpr (std::is_floating_point_v<T>) {
            fonce.resize(length);
            ftwice.resize(length);
        }
    }

    void extend(const T* v) {
        const std::size_t pc = static_cast<std::size_t>(c);
        for (int x = 0; x < 2 * r; ++x) {
            std::memcpy(&line[x * pc], v, pc * sizeof(T));
            std::memcpy(&line[(width + 2 * r + x) * pc], v + (width - 1) * pc, pc * sizeof(T));
        }
        std::memcpy(&line[2 * r * pc], v, static_cast<std::size_t>(width) * pc * sizeof(T));
    }

    // out[q] = (in[q] + ... + in[q + span - c]) / w per channel, for q < count: prefix sums and
    // their differences taken block by block, so the sums are read back while still in the
    // first-level cache.
    void box(const T* in, T* out, std::size_t count, std::size_t span, Divide<T> d) {
        constexpr std::size_t block = 3 * 1024;
        std::uint32_t total[3] = {};
        for (int k = 0; k < c; ++k) sums[static_cast<std::size_t>(k)] = 0;
        std::size_t summed = 0;  // prefix sums known for in[0, summed)
        for (std::size_t q = 0; q < count; q += block) {
            const std::size_t end = std::min(q + block, count);
            const std::size_t need = end + span - static_cast<std::size_t>(c);
            prefix(in, sums.data(), summed, need, c, total);
            summed = need;
            K::window(sums.data() + q, span, out + q, end - q, d);
        }
    }

    void run(const T* v, T* out) {
        extend(v);
        const std::size_t pc = static_cast<std::size_t>(c);
        const int length = width + 4 * r;
        if constexpr (std::is_floating_point_v<T>) {
            // Floating-point sums keep the running order, so the rounding is the same.
            line_filter<float>(line.data(), fonce.data(), length, r, c, c);
            line_filter<float>(fonce.data(), ftwice.data(), length, r, c, c);
            std::memcpy(out, &ftwice[2 * r * pc], static_cast<std::size_t>(width) * pc * 4);
        } else {
            const Divide<T> d(2 * r + 1);
            const std::size_t span = (2 * static_cast<std::size_t>(r) + 1) * pc;
            // First filter: positions r .. length - r - 1 (the only ones the second reads).
            const std::size_t inner = static_cast<std::size_t>(width + 2 * r) * pc;
            box(line.data(), once.data(), inner, span, d);
            // Second filter: positions 2r .. 2r + width - 1.
            box(once.data(), out, static_cast<std::size_t>(width) * pc, span, d);
        }
    }
};

template <class K>
std::uint8_t band_fast(const Image& in, RowTarget& out, int first, int last, int r, Progress& p) {
    using T = typename K::T;
    const int height = static_cast<int>(in.height);
    const int c = channels_of(in.type);
    const std::size_t n = static_cast<std::size_t>(in.width) * c;
    const int band = last - first + 1;
    const int ring_rows = 2 * r + 2;
    const Divide<T> d(2 * r + 1);
    std::vector<Acc<T>> sum1(n), sum2(n);
    std::vector<T> ring(static_cast<std::size_t>(ring_rows) * n);
    std::vector<T> filtered(n);
    RowPass<K> rows(static_cast<int>(in.width), c, r);
    auto source = [&](int k) {
        return reinterpret_cast<const T*>(in.rows[mirror_row(first - 2 * r + k, height)]);
    };
    auto once = [&](int k) { return ring.data() + static_cast<std::size_t>(k % ring_rows) * n; };
    // Line position k: the first filter's output at k (rows first - 2r + k), the second's at
    // k - r, written to output row first + k - 3r.
    for (int k = 0; k < 3 * r + band; ++k) {
        T* t = once(k);
        if (k < r) {
            std::memcpy(t, source(k), n * sizeof(T));
        } else if (k == r) {
            for (int j = 0; j <= 2 * r; ++j) K::add(sum1.data(), source(j), n);
            K::divide(sum1.data(), t, n, d);
        } else {
            K::update_divide(sum1.data(), source(k + r), source(k - r - 1), t, n, d);
        }
        if (k == 2 * r) {
            for (int j = 0; j <= 2 * r; ++j) K::add(sum2.data(), once(j), n);
        } else if (k > 2 * r && k < 3 * r) {
            K::update(sum2.data(), t, once(k - 2 * r - 1), n);
        } else if (k >= 3 * r) {
            K::update_divide(sum2.data(), t, once(k - 2 * r - 1), filtered.data(), n, d);
        }
        if (k >= 3 * r) {
            if (progress_tick(p)) return 1;
            const int y = first + k - 3 * r;
            // For a sink, in place: the row pass copies its row before it writes.
            auto* row = out.row(y, reinterpret_cast<std::uint8_t*>(filtered.data()));
            rows.run(filtered.data(), reinterpret_cast<T*>(row));
            if (const std::uint8_t error = out.done(y, 1, &row)) return error;
        } else if (cancelled(p)) {
            return 1;
        }
    }
    return 0;
}

// --- 8-bit pictures in 16-bit sums, the row pass over 16 rows at once (AVX2) ---------------

// Sums of up to 257 8-bit samples fit in 16 bits, so for radii up to this one the 8-bit form
// runs in 16-bit lanes; the wrapping of the running sums in between cancels out.
constexpr int narrow_radius_limit = 128;

// Truncating division of a 16-bit n by w (3 <= w <= 257) with a 17-bit multiplier (Granlund and
// Montgomery): l = ceil(log2 w), m = floor(2^16 (2^l - w) / w) + 1, t = (n m) >> 16, then
// n / w = (t + ((n - t) >> 1)) >> (l - 1), exact for every 16-bit n.
struct Magic16 {
    std::uint16_t m;
    int shift;  // l - 1
    explicit Magic16(int w) {
        const int l = std::bit_width(static_cast<unsigned>(w - 1));
        m = static_cast<std::uint16_t>(((std::uint32_t{1} << l) - w) * 65536u / w + 1);
        shift = l - 1;
    }
    std::uint16_t operator()(std::uint32_t n) const {
        const std::uint32_t t = (n * m) >> 16;
        return static_cast<std::uint16_t>((t + ((n - t) >> 1)) >> shift);
    }
};

#if TESSALY_AVX2

struct MagicLanes {
    __m256i m;
    __m128i shift;
};

TESSALY_AVX2_TARGET TESSALY_INLINE MagicLanes lanes_of(Magic16 d) {
    return {_mm256_set1_epi16(static_cast<short>(d.m)), _mm_cvtsi32_si128(d.shift)};
}
TESSALY_AVX2_TARGET TESSALY_INLINE __m256i divide_lanes(__m256i n, MagicLanes d) {
    const __m256i t = _mm256_mulhi_epu16(n, d.m);
    const __m256i q = _mm256_add_epi16(t, _mm256_srli_epi16(_mm256_sub_epi16(n, t), 1));
    return _mm256_srl_epi16(q, d.shift);
}
// Sixteen 16-bit lanes (values below 256) to sixteen bytes, in order.
TESSALY_AVX2_TARGET TESSALY_INLINE __m128i narrow_lanes(__m256i v) {
    return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}
TESSALY_AVX2_TARGET TESSALY_INLINE __m256i widen(const std::uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// The column pass on whole rows: sum += a (- b), out = sum / w.
TESSALY_AVX2_TARGET void add_rows8(std::uint16_t* sum, const std::uint8_t* a, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) sum[j] = static_cast<std::uint16_t>(sum[j] + a[j]);
}
TESSALY_AVX2_TARGET void update_rows8(std::uint16_t* sum, const std::uint8_t* a,
                                      const std::uint8_t* b, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) sum[j] = static_cast<std::uint16_t>(sum[j] + a[j] - b[j]);
}
TESSALY_AVX2_TARGET void update_divide_rows8(std::uint16_t* sum, const std::uint8_t* a,
                                             const std::uint8_t* b, std::uint8_t* out,
                                             std::size_t n, Magic16 d) {
    const MagicLanes dl = lanes_of(d);
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        auto* s = reinterpret_cast<__m256i*>(sum + j);
        const __m256i v =
            _mm256_sub_epi16(_mm256_add_epi16(_mm256_loadu_si256(s), widen(a + j)), widen(b + j));
        _mm256_storeu_si256(s, v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), narrow_lanes(divide_lanes(v, dl)));
    }
    for (; j < n; ++j) {
        sum[j] = static_cast<std::uint16_t>(sum[j] + a[j] - b[j]);
        out[j] = static_cast<std::uint8_t>(d(sum[j]));
    }
}
TESSALY_AVX2_TARGET void divide_rows8(const std::uint16_t* sum, std::uint8_t* out, std::size_t n,
                                      Magic16 d) {
    for (std::size_t j = 0; j < n; ++j) out[j] = static_cast<std::uint8_t>(d(sum[j]));
}

// A 16 x 16 byte transpose: byte k of a[i] becomes byte i of a[k].
TESSALY_AVX2_TARGET TESSALY_INLINE void transpose16(__m128i* a) {
    __m128i t[16], u[16];
    for (int i = 0; i < 8; ++i) {  // rows 2i, 2i + 1: columns 0-7, 8-15
        t[2 * i] = _mm_unpacklo_epi8(a[2 * i], a[2 * i + 1]);
        t[2 * i + 1] = _mm_unpackhi_epi8(a[2 * i], a[2 * i + 1]);
    }
    for (int j = 0; j < 4; ++j) {  // rows 4j .. 4j + 3: columns 0-3, 4-7, 8-11, 12-15
        u[4 * j] = _mm_unpacklo_epi16(t[4 * j], t[4 * j + 2]);
        u[4 * j + 1] = _mm_unpackhi_epi16(t[4 * j], t[4 * j + 2]);
        u[4 * j + 2] = _mm_unpacklo_epi16(t[4 * j + 1], t[4 * j + 3]);
        u[4 * j + 3] = _mm_unpackhi_epi16(t[4 * j + 1], t[4 * j + 3]);
    }
    for (int g = 0; g < 2; ++g) {  // rows 8g .. 8g + 7: column pairs
        for (int c = 0; c < 4; ++c) {
            t[8 * g + 2 * c] = _mm_unpacklo_epi32(u[8 * g + c], u[8 * g + 4 + c]);
            t[8 * g + 2 * c + 1] = _mm_unpackhi_epi32(u[8 * g + c], u[8 * g + 4 + c]);
        }
    }
    for (int k = 0; k < 8; ++k) {
        a[2 * k] = _mm_unpacklo_epi64(t[k], t[8 + k]);
        a[2 * k + 1] = _mm_unpackhi_epi64(t[k], t[8 + k]);
    }
}

// The row pass of up to 16 rows at once. The extended line is held transposed, position p
// (a sample of the line) as the 16 rows' samples at p, so the two running sums along the row
// run in vector lanes, one row per lane, with no chain from sample to sample. The transposed
// line and results are rings just longer than the window, so they stay in the first-level
// cache.
struct RowRings {
    std::size_t head;  // 2rc: the positions before the row
    std::size_t line_mask, once_mask;
    std::vector<std::uint8_t> line;    // (line_mask + 1) positions x 16 lanes
    std::vector<std::uint16_t> once;   // (once_mask + 1) pixels x c x `vectors` 32-byte vectors
    std::vector<std::uint8_t> result;  // 64 positions x 16 lanes
    RowRings(int c, int r, int vectors)
        : head(2 * static_cast<std::size_t>(r) * c),
          line_mask(std::bit_ceil(static_cast<std::size_t>(2 * r + 2) * c + 32) - 1),
          once_mask(std::bit_ceil(static_cast<std::size_t>(2 * r + 2)) - 1),
          line((line_mask + 1) * 16),
          once((once_mask + 1) * static_cast<std::size_t>(c) * 16 * vectors),
          result(64 * 16) {}
};

constexpr std::size_t result_mask = 63;

// Fills line positions [begin, end) with the repeated edge pixel whose samples start at `from`
// in each row; position `base` holds its first channel.
template <int C>
void fill_edge(const std::uint8_t* const* rows, std::size_t from, std::size_t base,
               std::size_t begin, std::size_t end, RowRings& g) {
    for (std::size_t p = begin; p < end; ++p) {
        std::uint8_t* lanes = g.line.data() + (p & g.line_mask) * 16;
        for (int l = 0; l < 16; ++l) lanes[l] = rows[l][from + (p - base) % C];
    }
}

// Makes the line positions up to `last` (inclusive) ready, 16 at a time by transposes; the
// row's n samples start at position 2rC and the repeated last pixel follows them. Positions are
// filled no further ahead than 16, so that the ring never overtakes the window.
template <int C>
TESSALY_AVX2_TARGET void feed_line(const std::uint8_t* const* rows, std::size_t n, std::size_t last,
                                   std::size_t& ready, RowRings& g) {
    const std::size_t head = g.head;
    while (ready <= last) {
        if (ready >= head + n) {
            fill_edge<C>(rows, n - C, head + n, ready, last + 1, g);
            ready = last + 1;
            return;
        }
        const std::size_t j = ready - head;
        if (j + 16 <= n) {
            __m128i a[16];
            for (int l = 0; l < 16; ++l)
                a[l] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[l] + j));
            transpose16(a);
            for (int k = 0; k < 16; ++k) {
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(g.line.data() + ((ready + k) & g.line_mask) * 16),
                    a[k]);
            }
            ready += 16;
        } else {
            std::uint8_t* lanes = g.line.data() + (ready & g.line_mask) * 16;
            for (int l = 0; l < 16; ++l) lanes[l] = rows[l][j];
            ++ready;
        }
    }
}

// The lanes of the row pass: 16-bit sums (one vector for 16 rows) up to narrow_radius_limit,
// 32-bit sums (two vectors) with the float division of Divide8 beyond it.
struct NarrowLanes {
    static constexpr int V = 1;
    using Divider = Magic16;
    using Ready = MagicLanes;
    TESSALY_AVX2_TARGET static Ready prepare(Magic16 d) { return lanes_of(d); }
    TESSALY_AVX2_TARGET static void load(const std::uint8_t* p, __m256i* v) { v[0] = widen(p); }
    TESSALY_AVX2_TARGET static __m256i add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
    TESSALY_AVX2_TARGET static __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
    TESSALY_AVX2_TARGET static __m256i divide(__m256i s, Ready d) { return divide_lanes(s, d); }
    TESSALY_AVX2_TARGET static __m128i narrow(const __m256i* q) { return narrow_lanes(q[0]); }
    // The column pass.
    using Sum = std::uint16_t;
    static void add_row(Sum* s, const std::uint8_t* a, std::size_t n) { add_rows8(s, a, n); }
    static void update(Sum* s, const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
        update_rows8(s, a, b, n);
    }
    static void divide_row(const Sum* s, std::uint8_t* o, std::size_t n, Divider d) {
        divide_rows8(s, o, n, d);
    }
    static void update_divide(Sum* s, const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* o,
                              std::size_t n, Divider d) {
        update_divide_rows8(s, a, b, o, n, d);
    }
};
struct WideLanes {
    static constexpr int V = 2;
    using Divider = Divide8;
    using Ready = __m256;
    TESSALY_AVX2_TARGET static Ready prepare(Divide8 d) { return _mm256_set1_ps(d.inverse); }
    TESSALY_AVX2_TARGET static void load(const std::uint8_t* p, __m256i* v) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        v[0] = _mm256_cvtepu8_epi32(b);
        v[1] = _mm256_cvtepu8_epi32(_mm_srli_si128(b, 8));
    }
    TESSALY_AVX2_TARGET static __m256i add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
    TESSALY_AVX2_TARGET static __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
    // As Divide8: (s + 0.5) / w by a float product, truncated.
    TESSALY_AVX2_TARGET static __m256i divide(__m256i s, Ready inverse) {
        const __m256 f = _mm256_add_ps(_mm256_cvtepi32_ps(s), _mm256_set1_ps(0.5f));
        return _mm256_cvttps_epi32(_mm256_mul_ps(f, inverse));
    }
    TESSALY_AVX2_TARGET static __m128i narrow(const __m256i* q) {
        return narrow_lanes(_mm256_permute4x64_epi64(_mm256_packus_epi32(q[0], q[1]), 0xD8));
    }
    using Sum = std::int32_t;
    using K = Kernels<std::uint8_t>;
    static void add_row(Sum* s, const std::uint8_t* a, std::size_t n) { K::add(s, a, n); }
    static void update(Sum* s, const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
        K::update(s, a, b, n);
    }
    static void divide_row(const Sum* s, std::uint8_t* o, std::size_t n, Divider d) {
        K::divide(s, o, n, d);
    }
    static void update_divide(Sum* s, const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* o,
                              std::size_t n, Divider d) {
        K::update_divide(s, a, b, o, n, d);
    }
};

// outs may be rows themselves: every sample is read before its result is written.
template <int C, class Lanes>
TESSALY_AVX2_TARGET void row_group8(const std::uint8_t* const* rows, std::uint8_t* const* outs,
                                    int valid, int width, int r, typename Lanes::Divider d,
                                    RowRings& g) {
    constexpr int V = Lanes::V;
    const typename Lanes::Ready dl = Lanes::prepare(d);
    const std::size_t n = static_cast<std::size_t>(width) * C;
    const std::size_t head = 2 * static_cast<std::size_t>(r) * C;
    const std::size_t R = 2 * static_cast<std::size_t>(r);
    std::uint8_t* line = g.line.data();
    auto* once = reinterpret_cast<__m256i*>(g.once.data());
    std::uint8_t* result = g.result.data();
    auto at = [&](std::size_t p) { return line + (p & g.line_mask) * 16; };
    // The first filter's values of pixel i, channel k: V vectors.
    auto slot = [&](std::size_t i, int k) { return once + ((i & g.once_mask) * C + k) * V; };

    fill_edge<C>(rows, 0, 0, 0, head, g);
    std::size_t ready = head;  // line positions filled
    auto need = [&](std::size_t last) { feed_line<C>(rows, n, last, ready, g); };

    __m256i s1[C][V], s2[C][V], add[V], sub[V];
    need((R + 1) * C - 1);
    for (int k = 0; k < C; ++k) {
        for (int v = 0; v < V; ++v) s1[k][v] = s2[k][v] = _mm256_setzero_si256();
        for (std::size_t t = 0; t <= R; ++t) {
            Lanes::load(at(t * C + k), add);
            for (int v = 0; v < V; ++v) s1[k][v] = Lanes::add(s1[k][v], add[v]);
        }
    }
    std::size_t flushed = 0;  // result positions written out
    const std::size_t inner = static_cast<std::size_t>(width) + R;
    for (std::size_t i = 0; i < inner; ++i) {
        if (i > 0) {
            need((i + R) * C + C - 1);
            for (int k = 0; k < C; ++k) {
                Lanes::load(at((i + R) * C + k), add);
                Lanes::load(at((i - 1) * C + k), sub);
                for (int v = 0; v < V; ++v)
                    s1[k][v] = Lanes::sub(Lanes::add(s1[k][v], add[v]), sub[v]);
            }
        }
        for (int k = 0; k < C; ++k) {
            for (int v = 0; v < V; ++v)
                _mm256_storeu_si256(slot(i, k) + v, Lanes::divide(s1[k][v], dl));
        }
        if (i < R) continue;
        for (int k = 0; k < C; ++k) {
            for (int v = 0; v < V; ++v) {
                if (i == R) {
                    for (std::size_t t = 0; t <= R; ++t)
                        s2[k][v] = Lanes::add(s2[k][v], _mm256_loadu_si256(slot(t, k) + v));
                } else {
                    s2[k][v] = Lanes::sub(Lanes::add(s2[k][v], _mm256_loadu_si256(slot(i, k) + v)),
                                          _mm256_loadu_si256(slot(i - R - 1, k) + v));
                }
            }
        }
        const std::size_t x = i - R;
        for (int k = 0; k < C; ++k) {
            __m256i q[V];
            for (int v = 0; v < V; ++v) q[v] = Lanes::divide(s2[k][v], dl);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(result + ((x * C + k) & result_mask) * 16),
                             Lanes::narrow(q));
        }
        if ((x + 1) * C - flushed >= 16) {
            __m128i a[16];
            for (int k = 0; k < 16; ++k) {
                a[k] = _mm_loadu_si128(
                    reinterpret_cast<const __m128i*>(result + ((flushed + k) & result_mask) * 16));
            }
            transpose16(a);
            for (int l = 0; l < valid; ++l)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[l] + flushed), a[l]);
            flushed += 16;
        }
    }
    for (std::size_t q = flushed; q < n; ++q) {
        for (int l = 0; l < valid; ++l) outs[l][q] = result[(q & result_mask) * 16 + l];
    }
}

// band_fast for 8-bit pictures: the column pass keeps its running sums in the lanes' width (16
// bits up to narrow_radius_limit), and the twice-filtered rows gather in groups of 16 for the
// row pass.
template <class Lanes>
std::uint8_t band_fast8(const Image& in, RowTarget& out, int first, int last, int r, Progress& p) {
    using T = std::uint8_t;
    constexpr int group = 16;
    const int height = static_cast<int>(in.height);
    const int c = channels_of(in.type);
    const std::size_t n = static_cast<std::size_t>(in.width) * c;
    const int band = last - first + 1;
    const int ring_rows = 2 * r + 2;
    const typename Lanes::Divider d(2 * r + 1);
    std::vector<typename Lanes::Sum> sum1(n), sum2(n);
    std::vector<T> ring(static_cast<std::size_t>(ring_rows) * n);
    std::vector<T> filtered(group * n);
    RowRings rings(c, r, Lanes::V);
    const T* rows[group];
    T* outs[group];
    int gathered = 0;
    auto source = [&](int k) {
        return reinterpret_cast<const T*>(in.rows[mirror_row(first - 2 * r + k, height)]);
    };
    auto once = [&](int k) { return ring.data() + static_cast<std::size_t>(k % ring_rows) * n; };
    // As band_fast: line position k is the first filter's output at k and the second's at k - r.
    for (int k = 0; k < 3 * r + band; ++k) {
        T* t = once(k);
        if (k < r) {
            std::memcpy(t, source(k), n);
        } else if (k == r) {
            for (int j = 0; j <= 2 * r; ++j) Lanes::add_row(sum1.data(), source(j), n);
            Lanes::divide_row(sum1.data(), t, n, d);
        } else {
            Lanes::update_divide(sum1.data(), source(k + r), source(k - r - 1), t, n, d);
        }
        if (k == 2 * r) {
            for (int j = 0; j <= 2 * r; ++j) Lanes::add_row(sum2.data(), once(j), n);
        } else if (k > 2 * r && k < 3 * r) {
            Lanes::update(sum2.data(), t, once(k - 2 * r - 1), n);
        } else if (k >= 3 * r) {
            if (progress_tick(p)) return 1;
            T* row = filtered.data() + static_cast<std::size_t>(gathered) * n;
            Lanes::update_divide(sum2.data(), t, once(k - 2 * r - 1), row, n, d);
            rows[gathered] = row;
            outs[gathered] = out.row(first + k - 3 * r, row);
            ++gathered;
            if (gathered == group || k == 3 * r + band - 1) {
                // Lanes beyond the last row of the band repeat it and are not written.
                for (int l = gathered; l < group; ++l) rows[l] = rows[gathered - 1];
                if (c == 3) {
                    row_group8<3, Lanes>(rows, outs, gathered, static_cast<int>(in.width), r, d,
                                         rings);
                } else {
                    row_group8<1, Lanes>(rows, outs, gathered, static_cast<int>(in.width), r, d,
                                         rings);
                }
                const std::uint8_t error =
                    out.done(first + k - 3 * r - gathered + 1, gathered, outs);
                if (error) return error;
                gathered = 0;
            }
        }
        if (k < 3 * r && cancelled(p)) return 1;
    }
    return 0;
}

#endif  // TESSALY_AVX2

// The 8-bit fast form: the grouped row pass where the processor has AVX2.
std::uint8_t band_fast_8bit(const Image& in, RowTarget& out, int first, int last, int r,
                            Progress& p) {
#if TESSALY_AVX2
    if (tessaly_has_avx2()) {
        return r <= narrow_radius_limit ? band_fast8<NarrowLanes>(in, out, first, last, r, p)
                                        : band_fast8<WideLanes>(in, out, first, last, r, p);
    }
#endif
    return band_fast<Kernels<std::uint8_t>>(in, out, first, last, r, p);
}

// --- the plain form: column by column, then row by row, with the chrominance option ----------

// One line of pixels in and out of the filter's values.
template <class T>
struct LineCodec {
    using V = Acc<T>;
    int c;
    bool chroma;
    void load(const T* pixel, V* values) const {
        if (chroma) {
            to_chroma(pixel[2], pixel[1], pixel[0], values);
        } else {
            for (int k = 0; k < c; ++k) values[k] = static_cast<V>(pixel[k]);
        }
    }
    void store(const V* values, T* pixel) const {
        if (chroma) {
            from_chroma(values, pixel);
        } else {
            for (int k = 0; k < c; ++k) pixel[k] = static_cast<T>(values[k]);
        }
    }
};

// Inlined into band_step: as a function of its own the chrominance loops ran a few percent
// slower.
template <class T>
TESSALY_INLINE std::uint8_t band_plain(const Image& in, RowTarget& out, int first, int last, int r,
                                       bool chroma, Progress& p) {
    using V = Acc<T>;
    const int width = static_cast<int>(in.width), height = static_cast<int>(in.height);
    const int c = channels_of(in.type);
    const int filtered = chroma ? 2 : c;
    const LineCodec<T> codec{c, chroma};
    const int band = last - first + 1;
    const int inter_width = width + 4 * r;
    const std::size_t pc = static_cast<std::size_t>(c);
    const int longest = std::max(inter_width, band + 4 * r);
    std::vector<V> a(static_cast<std::size_t>(longest) * pc), b(a.size()), e(a.size());
    std::vector<T> inter(static_cast<std::size_t>(band) * inter_width * pc);
    std::vector<std::uint8_t> own(in.row_bytes);
    auto at = [&](int row, int x) {
        return inter.data() + (static_cast<std::size_t>(row) * inter_width + x) * pc;
    };

    // Columns -2r .. width + 2r - 1; a clamped column repeats its edge column.
    const int length = band + 4 * r;
    for (int x = -2 * r; x < width + 2 * r; ++x) {
        const int column = std::clamp(x, 0, width - 1);
        for (int k = 0; k < length; ++k) {
            const T* row =
                reinterpret_cast<const T*>(in.rows[mirror_row(first - 2 * r + k, height)]);
            codec.load(row + column * pc, &a[k * pc]);
        }
        line_filter(a.data(), b.data(), length, r, c, filtered);
        line_filter(b.data(), e.data(), length, r, c, filtered);
        for (int k = 0; k < band; ++k) codec.store(&e[(2 * r + k) * pc], at(k, x + 2 * r));
        if (cancelled(p)) return 1;
    }
    for (int y = 0; y < band; ++y) {
        if (progress_tick(p)) return 1;
        for (int x = 0; x < inter_width; ++x) codec.load(at(y, x), &a[x * pc]);
        line_filter(a.data(), b.data(), inter_width, r, c, filtered);
        line_filter(b.data(), e.data(), inter_width, r, c, filtered);
        std::uint8_t* bytes = out.row(first + y, own.data());
        T* row = reinterpret_cast<T*>(bytes);
        for (int x = 0; x < width; ++x) codec.store(&e[(2 * r + x) * pc], row + x * pc);
        if (const std::uint8_t error = out.done(first + y, 1, &bytes)) return error;
    }
    return 0;
}

std::uint8_t band_step(const Image& in, RowTarget& out, int first, int last, int radius,
                       bool chrominance_only, Progress& p) {
    const int r = std::max(radius, 1);
    const bool rgb = channels_of(in.type) == 3;
    const bool chroma = chrominance_only && rgb;
    const bool fast = fast_path_allowed.load() && !chroma;
    switch (in.type) {
        case image_gray8:
        case image_color24:
            return fast ? band_fast_8bit(in, out, first, last, r, p)
                        : band_plain<std::uint8_t>(in, out, first, last, r, chroma, p);
        case image_gray16:
        case image_color48:
            return fast ? band_fast<Kernels<std::uint16_t>>(in, out, first, last, r, p)
                        : band_plain<std::uint16_t>(in, out, first, last, r, chroma, p);
        default:
            return fast ? band_fast<Kernels<float>>(in, out, first, last, r, p)
                        : band_plain<float>(in, out, first, last, r, chroma, p);
    }
}

bool blurrable(const Image& in) {
    return in.type >= image_gray8 && in.type <= image_float_color && in.has_pixels();
}

}  // namespace

bool box_blur_image(const Image& in, Image& out, int radius, bool chrominance_only,
                    std::string_view title) {
    if (&in == &out || !blurrable(in)) return true;
    if (radius <= 0) return image_copy(in, out);
    if (image_alloc_with(out, in.type, in.width, in.height, in.dpi, in.profile, in.profile_size,
                         in.tags)) {
        return true;
    }
    const std::uint8_t error = run_rows(
        [&](const Image* source, Image* target, int first, int last, Progress& p) {
            RowTarget rows(*target);
            return band_step(*source, rows, first, last, radius, chrominance_only, p);
        },
        title, &in, &out);
    if (error) image_free(out);
    return error != 0;
}

bool box_blur_rows(const Image& in, int radius, const BlurredRowsSink& sink,
                   std::string_view title) {
    if (!blurrable(in) || radius < 1) return true;
    const std::uint8_t error = run_range(
        0,
        [&](int first, int last, Progress& p) {
            RowTarget rows(sink);
            return band_step(in, rows, first, last, radius, false, p);
        },
        title, static_cast<int>(in.width), static_cast<int>(in.height), in.height, false, true,
        true);
    return error != 0;
}

void box_blur_allow_fast_path(bool allow) {
    fast_path_allowed.store(allow);
}

}  // namespace tessaly
