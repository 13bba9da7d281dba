#include "kernels/box_blur.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>
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
// 16-bit sums of windows up to 63 samples, in floats, twice as many to a vector: s <= 65535 x 63
// < 2^23, so s + 0.5 is exact; the rounded inverse and the rounded product are each within
// 2^-24 of their values, so the product is within q x 2^-23 < 2^-7 of q = (s + 0.5) / w < 2^16,
// less than the distance 0.5 / w > 2^-7 from q to the nearest integer: the truncation is s / w's.
// Wider windows keep Divide16.
constexpr int float_divide16_window = 63;
struct Divide16Float {
    float inverse;
    explicit Divide16Float(int w) : inverse(1.0f / static_cast<float>(w)) {}
    TESSALY_INLINE std::int32_t operator()(std::int32_t s) const {
        return static_cast<std::int32_t>((static_cast<float>(s) + 0.5f) * inverse);
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
template <class T, class D>
TESSALY_INLINE void divide_row(const Acc<T>* sum, T* out, std::size_t n, D d) {
    for (std::size_t j = 0; j < n; ++j) out[j] = static_cast<T>(d(sum[j]));
}
template <class T, class D>
TESSALY_INLINE void update_divide_row(Acc<T>* sum, const T* add, const T* sub, T* out,
                                      std::size_t n, D d) {
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
template <class T, class D>
TESSALY_INLINE void window_divide(const std::uint32_t* p, std::size_t span, T* out, std::size_t n,
                                  D d) {
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
TESSALY_CLONES void divide_rows(const std::int32_t* s, std::uint16_t* o, std::size_t n,
                                Divide16Float d) {
    divide_row<std::uint16_t>(s, o, n, d);
}
TESSALY_CLONES void update_divide_rows(std::int32_t* s, const std::uint16_t* a,
                                       const std::uint16_t* b, std::uint16_t* o, std::size_t n,
                                       Divide16Float d) {
    update_divide_row<std::uint16_t>(s, a, b, o, n, d);
}

TESSALY_CLONES void window_divide_rows(const std::uint32_t* p, std::size_t span, std::uint8_t* o,
                                       std::size_t n, Divide8 d) {
    window_divide<std::uint8_t>(p, span, o, n, d);
}
TESSALY_CLONES void window_divide_rows(const std::uint32_t* p, std::size_t span, std::uint16_t* o,
                                       std::size_t n, Divide16 d) {
    window_divide<std::uint16_t>(p, span, o, n, d);
}
TESSALY_CLONES void window_divide_rows(const std::uint32_t* p, std::size_t span, std::uint16_t* o,
                                       std::size_t n, Divide16Float d) {
    window_divide<std::uint16_t>(p, span, o, n, d);
}

template <class Sample, class Quotient = Divide<Sample>>
struct Kernels {
    using T = Sample;
    using Sum = Acc<T>;
    using Divider = Quotient;
    static void add(Acc<T>* s, const T* a, std::size_t n) { add_rows(s, a, n); }
    static void update(Acc<T>* s, const T* a, const T* b, std::size_t n) {
        update_rows(s, a, b, n);
    }
    static void divide(const Acc<T>* s, T* o, std::size_t n, Divider d) { divide_rows(s, o, n, d); }
    static void update_divide(Acc<T>* s, const T* a, const T* b, T* o, std::size_t n, Divider d) {
        update_divide_rows(s, a, b, o, n, d);
    }
    // Both filters at once: the first's row goes to t, and the second's moves on by it.
    static void update_divide_twice(Acc<T>* s1, const T* a, const T* b, T* t, Acc<T>* s2,
                                    const T* leaving, T* o, std::size_t n, Divider d) {
        update_divide_rows(s1, a, b, t, n, d);
        update_divide_rows(s2, t, leaving, o, n, d);
    }
    // Integer samples only (not instantiated for floats).
    static void window(const std::uint32_t* p, std::size_t span, T* o, std::size_t n, Divider d) {
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
    void box(const T* in, T* out, std::size_t count, std::size_t span, typename K::Divider d) {
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
            const typename K::Divider d(2 * r + 1);
            const std::size_t span = (2 * static_cast<std::size_t>(r) + 1) * pc;
            // First filter: positions r .. length - r - 1 (the only ones the second reads).
            const std::size_t inner = static_cast<std::size_t>(width + 2 * r) * pc;
            box(line.data(), once.data(), inner, span, d);
            // Second filter: positions 2r .. 2r + width - 1.
            box(once.data(), out, static_cast<std::size_t>(width) * pc, span, d);
        }
    }
};

// The column pass of one band: both filters as running sums over whole rows (every column of
// the row at once), the first filter's rows waiting in a ring of 2r + 2 rows. Line position k
// holds the first filter's output at k (rows first - 2r + k) and the second's at k - r, which
// is row first + k - 3r of the result. Twice-filtered row y of the band (0, 1, ...) is written
// to into(y) and then handed to done(y); a non-zero return stops the pass.
template <class Column, class Into, class Done>
std::uint8_t column_pass(const Image& in, int first, int last, int r, Progress& p, Into into,
                         Done done) {
    using T = typename Column::T;
    const int height = static_cast<int>(in.height);
    const std::size_t n = static_cast<std::size_t>(in.width) * channels_of(in.type);
    const int band = last - first + 1;
    const int ring_rows = 2 * r + 2;
    const typename Column::Divider d(2 * r + 1);
    std::vector<typename Column::Sum> sum1(n), sum2(n);
    std::vector<T> ring(static_cast<std::size_t>(ring_rows) * n);
    auto source = [&](int k) {
        return reinterpret_cast<const T*>(in.rows[mirror_row(first - 2 * r + k, height)]);
    };
    auto once = [&](int k) { return ring.data() + static_cast<std::size_t>(k % ring_rows) * n; };
    for (int k = 0; k < 3 * r; ++k) {
        T* t = once(k);
        if (k < r) {
            std::memcpy(t, source(k), n * sizeof(T));
        } else if (k == r) {
            for (int j = 0; j <= 2 * r; ++j) Column::add(sum1.data(), source(j), n);
            Column::divide(sum1.data(), t, n, d);
        } else {
            Column::update_divide(sum1.data(), source(k + r), source(k - r - 1), t, n, d);
        }
        if (k == 2 * r) {
            for (int j = 0; j <= 2 * r; ++j) Column::add(sum2.data(), once(j), n);
        } else if (k > 2 * r) {
            Column::update(sum2.data(), t, once(k - 2 * r - 1), n);
        }
        if (cancelled(p)) return 1;
    }
    for (int y = 0; y < band; ++y) {
        if (progress_tick(p)) return 1;
        const int k = y + 3 * r;
        Column::update_divide_twice(sum1.data(), source(k + r), source(k - r - 1), once(k),
                                    sum2.data(), once(k - 2 * r - 1), into(y), n, d);
        if (const std::uint8_t error = done(y)) return error;
    }
    return 0;
}

template <class K>
std::uint8_t band_fast(const Image& in, RowTarget& out, int first, int last, int r, Progress& p) {
    using T = typename K::T;
    std::vector<T> filtered(static_cast<std::size_t>(in.width) * channels_of(in.type));
    RowPass<K> rows(static_cast<int>(in.width), channels_of(in.type), r);
    return column_pass<K>(
        in, first, last, r, p, [&](int) { return filtered.data(); },
        [&](int y) {
            // For a sink, in place: the row pass copies its row before it writes.
            auto* row = out.row(first + y, reinterpret_cast<std::uint8_t*>(filtered.data()));
            rows.run(filtered.data(), reinterpret_cast<T*>(row));
            return out.done(first + y, 1, &row);
        });
}

// --- 8-bit pictures in 16-bit sums, the row pass over 16 rows at once (AVX2) ---------------

// Up to this radius the 8-bit form sums in 16-bit lanes. A window of w = 2r + 1 <= 257 samples
// of at most 255 sums to at most 255 x 257 = 65535, so every box sum fits in 16 bits. The
// running sums in between may leave 0..65535 (a subtraction before the matching addition, or
// the reverse), but they are only ever added to and subtracted from: each is the true box sum
// modulo 2^16, and when it is divided it has had every addition and subtraction of its window,
// so it equals the true sum. At radius 129 (w = 259) white pictures reach 66045, which no
// longer fits: those radii sum in 32 bits.
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

// The same division with a 16-bit multiplier, one product and a shift. With 2^s < w <= 2^(s+1)
// and m = ceil(2^(16+s) / w) (below 2^16), the excess e = m w - 2^(16+s) lies in 0 .. w - 1 and
// n m / 2^(16+s) = n / w + n e / (w 2^(16+s)); the floor is n / w's as long as n e < 2^(16+s).
// A window's sums reach n <= 255 w, so n e < 255 w^2, which is at most 2^15 w <= 2^(16+s) for
// every w up to 128; wider windows are checked sum by sum (exact), and the few that fail (all
// above 185) keep Magic16.
struct Reciprocal16 {
    std::uint16_t m;
    int shift;  // 16 + s
    explicit Reciprocal16(int w) {
        const int s = std::bit_width(static_cast<unsigned>(w - 1)) - 1;
        shift = 16 + s;
        m = static_cast<std::uint16_t>(((std::uint64_t{1} << shift) + w - 1) / w);
    }
    std::uint16_t operator()(std::uint32_t n) const {
        return static_cast<std::uint16_t>((std::uint64_t{n} * m) >> shift);
    }
    static bool exact(int w) {
        const Reciprocal16 d(w);
        for (std::uint32_t n = 0; n <= 255u * static_cast<std::uint32_t>(w); ++n) {
            if (d(n) != n / static_cast<std::uint32_t>(w)) return false;
        }
        return true;
    }
};

#if TESSALY_AVX2

struct MagicLanes {
    __m256i m;
    __m128i shift;
};
struct ReciprocalLanes {
    __m256i m;
    __m128i shift;  // s: the product's high half is already shifted by 16
};

TESSALY_AVX2_TARGET TESSALY_INLINE MagicLanes lanes_of(Magic16 d) {
    return {_mm256_set1_epi16(static_cast<short>(d.m)), _mm_cvtsi32_si128(d.shift)};
}
TESSALY_AVX2_TARGET TESSALY_INLINE ReciprocalLanes lanes_of(Reciprocal16 d) {
    return {_mm256_set1_epi16(static_cast<short>(d.m)), _mm_cvtsi32_si128(d.shift - 16)};
}
TESSALY_AVX2_TARGET TESSALY_INLINE __m256i divide_lanes(__m256i n, MagicLanes d) {
    const __m256i t = _mm256_mulhi_epu16(n, d.m);
    const __m256i q = _mm256_add_epi16(t, _mm256_srli_epi16(_mm256_sub_epi16(n, t), 1));
    return _mm256_srl_epi16(q, d.shift);
}
TESSALY_AVX2_TARGET TESSALY_INLINE __m256i divide_lanes(__m256i n, ReciprocalLanes d) {
    return _mm256_srl_epi16(_mm256_mulhi_epu16(n, d.m), d.shift);
}
// Sixteen 16-bit lanes (values below 256) to sixteen bytes, in order.
TESSALY_AVX2_TARGET TESSALY_INLINE __m128i narrow_lanes(__m256i v) {
    return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}
TESSALY_AVX2_TARGET TESSALY_INLINE __m256i widen(const std::uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// The column pass on whole rows in 16-bit sums: sum += a (- b), out = sum / w.
template <class Divide>
struct NarrowColumn {
    using T = std::uint8_t;
    using Sum = std::uint16_t;
    using Divider = Divide;
    TESSALY_AVX2_TARGET static void add(Sum* sum, const T* a, std::size_t n) {
        for (std::size_t j = 0; j < n; ++j) sum[j] = static_cast<Sum>(sum[j] + a[j]);
    }
    TESSALY_AVX2_TARGET static void update(Sum* sum, const T* a, const T* b, std::size_t n) {
        for (std::size_t j = 0; j < n; ++j) sum[j] = static_cast<Sum>(sum[j] + a[j] - b[j]);
    }
    TESSALY_AVX2_TARGET static void divide(const Sum* sum, T* out, std::size_t n, Divider d) {
        for (std::size_t j = 0; j < n; ++j) out[j] = static_cast<T>(d(sum[j]));
    }
    TESSALY_AVX2_TARGET static void update_divide(Sum* sum, const T* a, const T* b, T* out,
                                                  std::size_t n, Divider d) {
        const auto dl = lanes_of(d);
        std::size_t j = 0;
        for (; j + 16 <= n; j += 16) store(out + j, step(sum + j, widen(a + j), widen(b + j), dl));
        for (; j < n; ++j) out[j] = step(sum[j], a[j], b[j], d);
    }
    TESSALY_AVX2_TARGET static void update_divide_twice(Sum* s1, const T* a, const T* b, T* t,
                                                        Sum* s2, const T* leaving, T* out,
                                                        std::size_t n, Divider d) {
        const auto dl = lanes_of(d);
        std::size_t j = 0;
        for (; j + 16 <= n; j += 16) {
            const __m256i q = step(s1 + j, widen(a + j), widen(b + j), dl);
            store(t + j, q);
            store(out + j, step(s2 + j, q, widen(leaving + j), dl));
        }
        for (; j < n; ++j) {
            t[j] = step(s1[j], a[j], b[j], d);
            out[j] = step(s2[j], t[j], leaving[j], d);
        }
    }

  private:
    // 16 sums move on by add - sub; their quotients.
    template <class Ready>
    TESSALY_AVX2_TARGET TESSALY_INLINE static __m256i step(Sum* sum, __m256i add, __m256i sub,
                                                           Ready dl) {
        auto* s = reinterpret_cast<__m256i*>(sum);
        const __m256i v = _mm256_sub_epi16(_mm256_add_epi16(_mm256_loadu_si256(s), add), sub);
        _mm256_storeu_si256(s, v);
        return divide_lanes(v, dl);
    }
    static T step(Sum& sum, T add, T sub, Divider d) {
        sum = static_cast<Sum>(sum + add - sub);
        return static_cast<T>(d(sum));
    }
    TESSALY_AVX2_TARGET TESSALY_INLINE static void store(T* out, __m256i q) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), narrow_lanes(q));
    }
};

// A 16 x 16 byte transpose: byte k of a[i] becomes byte i of a[k]. On 256-bit vectors the two
// 128-bit halves are transposed side by side.
#define UNPACK(name, op)                                                    \
    TESSALY_AVX2_TARGET TESSALY_INLINE __m128i name(__m128i a, __m128i b) { \
        return _mm_##op(a, b);                                              \
    }                                                                       \
    TESSALY_AVX2_TARGET TESSALY_INLINE __m256i name(__m256i a, __m256i b) { \
        return _mm256_##op(a, b);                                           \
    }
UNPACK(unpacklo8, unpacklo_epi8)
UNPACK(unpackhi8, unpackhi_epi8)
UNPACK(unpacklo16, unpacklo_epi16)
UNPACK(unpackhi16, unpackhi_epi16)
UNPACK(unpacklo32, unpacklo_epi32)
UNPACK(unpackhi32, unpackhi_epi32)
UNPACK(unpacklo64, unpacklo_epi64)
UNPACK(unpackhi64, unpackhi_epi64)
#undef UNPACK
template <class Vector>
TESSALY_AVX2_TARGET TESSALY_INLINE void transpose16(Vector* a) {
    Vector t[16], u[16];
    for (int i = 0; i < 8; ++i) {  // rows 2i, 2i + 1: columns 0-7, 8-15
        t[2 * i] = unpacklo8(a[2 * i], a[2 * i + 1]);
        t[2 * i + 1] = unpackhi8(a[2 * i], a[2 * i + 1]);
    }
    for (int j = 0; j < 4; ++j) {  // rows 4j .. 4j + 3: columns 0-3, 4-7, 8-11, 12-15
        u[4 * j] = unpacklo16(t[4 * j], t[4 * j + 2]);
        u[4 * j + 1] = unpackhi16(t[4 * j], t[4 * j + 2]);
        u[4 * j + 2] = unpacklo16(t[4 * j + 1], t[4 * j + 3]);
        u[4 * j + 3] = unpackhi16(t[4 * j + 1], t[4 * j + 3]);
    }
    for (int g = 0; g < 2; ++g) {  // rows 8g .. 8g + 7: column pairs
        for (int c = 0; c < 4; ++c) {
            t[8 * g + 2 * c] = unpacklo32(u[8 * g + c], u[8 * g + 4 + c]);
            t[8 * g + 2 * c + 1] = unpackhi32(u[8 * g + c], u[8 * g + 4 + c]);
        }
    }
    for (int k = 0; k < 8; ++k) {
        a[2 * k] = unpacklo64(t[k], t[8 + k]);
        a[2 * k + 1] = unpackhi64(t[k], t[8 + k]);
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

// Makes the line positions from `ready` up to `last` (inclusive) ready, 32 or 16 at a time by
// transposes, and returns the first position not filled; the row's n samples start at position
// 2rC and the repeated last pixel follows them. Positions are filled no further ahead than 32,
// which the ring's 32 spare positions allow for.
template <int C>
TESSALY_AVX2_TARGET TESSALY_INLINE std::size_t feed_line(const std::uint8_t* const* rows,
                                                         std::size_t n, std::size_t last,
                                                         std::size_t ready, RowRings& g) {
    // Locals, which the byte stores below cannot alias.
    const std::size_t head = g.head, mask = g.line_mask;
    std::uint8_t* const line = g.line.data();
    auto lanes = [&](std::size_t p) { return reinterpret_cast<__m128i*>(line + (p & mask) * 16); };
    while (ready <= last) {
        if (ready >= head + n) {
            fill_edge<C>(rows, n - C, head + n, ready, last + 1, g);
            ready = last + 1;
            break;
        }
        const std::size_t j = ready - head;
        if (j + 32 <= n) {
            __m256i a[16];
            for (int l = 0; l < 16; ++l)
                a[l] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[l] + j));
            transpose16(a);
            for (int k = 0; k < 16; ++k) {
                _mm_storeu_si128(lanes(ready + k), _mm256_castsi256_si128(a[k]));
                _mm_storeu_si128(lanes(ready + 16 + k), _mm256_extracti128_si256(a[k], 1));
            }
            ready += 32;
        } else if (j + 16 <= n) {
            __m128i a[16];
            for (int l = 0; l < 16; ++l)
                a[l] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[l] + j));
            transpose16(a);
            for (int k = 0; k < 16; ++k) _mm_storeu_si128(lanes(ready + k), a[k]);
            ready += 16;
        } else {
            std::uint8_t* bytes = line + (ready & mask) * 16;
            for (int l = 0; l < 16; ++l) bytes[l] = rows[l][j];
            ++ready;
        }
    }
    return ready;
}

// The lanes of the row pass: 16-bit sums (one vector for 16 rows) up to narrow_radius_limit,
// 32-bit sums (two vectors) with the float division of Divide8 beyond it. Column is the column
// pass in the same width.
template <class Divide>
struct NarrowLanes {
    static constexpr int V = 1;
    using Divider = Divide;
    using Ready = decltype(lanes_of(std::declval<Divide>()));
    using Column = NarrowColumn<Divide>;
    TESSALY_AVX2_TARGET static Ready prepare(Divide d) { return lanes_of(d); }
    TESSALY_AVX2_TARGET static void load(const std::uint8_t* p, __m256i* v) { v[0] = widen(p); }
    TESSALY_AVX2_TARGET static __m256i add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
    TESSALY_AVX2_TARGET static __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
    TESSALY_AVX2_TARGET static __m256i divide(__m256i s, Ready d) { return divide_lanes(s, d); }
    TESSALY_AVX2_TARGET static __m128i narrow(const __m256i* q) { return narrow_lanes(q[0]); }
};
struct WideLanes {
    static constexpr int V = 2;
    using Divider = Divide8;
    using Ready = __m256;
    using Column = Kernels<std::uint8_t>;
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
};

// Writes the finished result positions [flushed, upto) out to the valid rows, 32 or 16 at a
// time by transposes while that many are ready (all when `all`).
TESSALY_AVX2_TARGET TESSALY_INLINE void flush_results(const std::uint8_t* result,
                                                      std::uint8_t* const* outs, int valid,
                                                      std::size_t upto, std::size_t& flushed,
                                                      bool all) {
    auto lanes = [&](std::size_t p) {
        return reinterpret_cast<const __m128i*>(result + (p & result_mask) * 16);
    };
    while (upto - flushed >= 32) {
        __m256i a[16];
        for (int k = 0; k < 16; ++k) {
            a[k] =
                _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(lanes(flushed + k))),
                                        _mm_loadu_si128(lanes(flushed + 16 + k)), 1);
        }
        transpose16(a);
        for (int l = 0; l < valid; ++l)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(outs[l] + flushed), a[l]);
        flushed += 32;
    }
    if (!all) return;
    if (upto - flushed >= 16) {
        __m128i a[16];
        for (int k = 0; k < 16; ++k) a[k] = _mm_loadu_si128(lanes(flushed + k));
        transpose16(a);
        for (int l = 0; l < valid; ++l)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[l] + flushed), a[l]);
        flushed += 16;
    }
    for (; flushed < upto; ++flushed) {
        for (int l = 0; l < valid; ++l) outs[l][flushed] = result[(flushed & result_mask) * 16 + l];
    }
}

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
    // Locals, so that the loops below keep them in registers across their stores.
    const std::size_t line_mask = g.line_mask, once_mask = g.once_mask;
    const std::uint8_t* const line = g.line.data();
    auto* const once = reinterpret_cast<__m256i*>(g.once.data());
    std::uint8_t* const result = g.result.data();
    auto at = [=](std::size_t p) { return line + (p & line_mask) * 16; };
    // The first filter's values of pixel i, channel k: V vectors.
    auto slot = [=](std::size_t i, int k) { return once + ((i & once_mask) * C + k) * V; };

    fill_edge<C>(rows, 0, 0, 0, head, g);
    std::size_t ready = feed_line<C>(rows, n, (R + 1) * C - 1, head, g);  // positions filled

    __m256i s1[C][V], s2[C][V], add[V], sub[V], q[V];
    for (int k = 0; k < C; ++k) {
        for (int v = 0; v < V; ++v) s1[k][v] = s2[k][v] = _mm256_setzero_si256();
        for (std::size_t t = 0; t <= R; ++t) {
            Lanes::load(at(t * C + k), add);
            for (int v = 0; v < V; ++v) s1[k][v] = Lanes::add(s1[k][v], add[v]);
        }
    }
    std::size_t flushed = 0;  // result positions written out
    const std::size_t inner = static_cast<std::size_t>(width) + R;
    for (std::size_t i = 0; i < inner;) {
        // Pixel i needs line positions up to (i + R + 1) C - 1.
        ready = feed_line<C>(rows, n, (i + R + 1) * C - 1, ready, g);
        const std::size_t stop = std::min(inner, ready / C - R);
        for (; i < stop; ++i) {
            // The first filter at pixel i: its window moves on from pixel i - 1, and the quotient
            // joins the second filter's window, which pixel i - R - 1 leaves.
            for (int k = 0; k < C; ++k) {
                if (i > 0) {
                    Lanes::load(at((i + R) * C + k), add);
                    Lanes::load(at((i - 1) * C + k), sub);
                    for (int v = 0; v < V; ++v)
                        s1[k][v] = Lanes::sub(Lanes::add(s1[k][v], add[v]), sub[v]);
                }
                for (int v = 0; v < V; ++v) {
                    q[v] = Lanes::divide(s1[k][v], dl);
                    _mm256_storeu_si256(slot(i, k) + v, q[v]);
                    s2[k][v] = Lanes::add(s2[k][v], q[v]);
                    if (i > R)
                        s2[k][v] = Lanes::sub(s2[k][v], _mm256_loadu_si256(slot(i - R - 1, k) + v));
                }
            }
            if (i < R) continue;
            // Result pixel i - R.
            const std::size_t x = i - R;
            for (int k = 0; k < C; ++k) {
                for (int v = 0; v < V; ++v) q[v] = Lanes::divide(s2[k][v], dl);
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(result + ((x * C + k) & result_mask) * 16),
                    Lanes::narrow(q));
            }
            flush_results(result, outs, valid, (x + 1) * C, flushed, false);
        }
    }
    flush_results(result, outs, valid, n, flushed, true);
}

// band_fast for 8-bit pictures: the column pass keeps its running sums in the lanes' width, and
// the twice-filtered rows gather in groups of 16 for the row pass.
template <class Lanes>
std::uint8_t band_fast8(const Image& in, RowTarget& out, int first, int last, int r, Progress& p) {
    using T = std::uint8_t;
    constexpr int group = 16;
    const int c = channels_of(in.type);
    const std::size_t n = static_cast<std::size_t>(in.width) * c;
    const int band = last - first + 1;
    const typename Lanes::Divider d(2 * r + 1);
    std::vector<T> filtered(group * n);
    RowRings rings(c, r, Lanes::V);
    const T* rows[group];
    T* outs[group];
    int gathered = 0;
    return column_pass<typename Lanes::Column>(
        in, first, last, r, p,
        [&](int) { return filtered.data() + static_cast<std::size_t>(gathered) * n; },
        [&](int y) -> std::uint8_t {
            T* row = filtered.data() + static_cast<std::size_t>(gathered) * n;
            rows[gathered] = row;
            outs[gathered] = out.row(first + y, row);
            if (++gathered < group && y < band - 1) return 0;
            // Lanes beyond the last row of the band repeat it and are not written.
            for (int l = gathered; l < group; ++l) rows[l] = rows[gathered - 1];
            if (c == 3) {
                row_group8<3, Lanes>(rows, outs, gathered, static_cast<int>(in.width), r, d, rings);
            } else {
                row_group8<1, Lanes>(rows, outs, gathered, static_cast<int>(in.width), r, d, rings);
            }
            const int count = std::exchange(gathered, 0);
            return out.done(first + y - count + 1, count, outs);
        });
}

#endif  // TESSALY_AVX2

// The 8-bit fast form: the grouped row pass where the processor has AVX2.
std::uint8_t band_fast_8bit(const Image& in, RowTarget& out, int first, int last, int r,
                            Progress& p) {
#if TESSALY_AVX2
    if (tessaly_has_avx2()) {
        if (r > narrow_radius_limit) return band_fast8<WideLanes>(in, out, first, last, r, p);
        return Reciprocal16::exact(2 * r + 1)
                   ? band_fast8<NarrowLanes<Reciprocal16>>(in, out, first, last, r, p)
                   : band_fast8<NarrowLanes<Magic16>>(in, out, first, last, r, p);
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
            if (!fast) return band_plain<std::uint16_t>(in, out, first, last, r, chroma, p);
            return 2 * r + 1 <= float_divide16_window
                       ? band_fast<Kernels<std::uint16_t, Divide16Float>>(in, out, first, last, r,
                                                                          p)
                       : band_fast<Kernels<std::uint16_t>>(in, out, first, last, r, p);
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
    // Every pixel is written, so the result's pages are not cleared first.
    if (image_alloc_for_overwrite(out, in)) return true;
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
