#include "transformations/gaussian_blur.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <type_traits>
#include <vector>

#include "core/color_models.h"
#include "core/numeric.h"
#include "core/runner.h"
#include "framework/transformation.h"
#include "masks/mix.h"

namespace tessaly {

namespace {

// The inner loops read 16-bit samples in place.
static_assert(std::endian::native == std::endian::little, "16-bit samples are little-endian");

// The GNU toolchain on x86-64 Linux builds the row loops twice and picks AVX2 at load time when
// the processor has it; elsewhere the plain build runs.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && defined(__linux__)
#define BLUR_CLONES __attribute__((target_clones("avx2", "default")))
#define BLUR_INLINE inline __attribute__((always_inline))
#else
#define BLUR_CLONES
#define BLUR_INLINE inline
#endif

using Settings = GaussianBlurSettings;
using Context = TransformationContext<Settings>;

std::atomic<bool> fast_path_allowed{true};

// Integer samples sum in 32 bits (255 x 513 and 65535 x 513 both fit); floats in floats.
template <class T>
using Acc = std::conditional_t<std::is_floating_point_v<T>, float, std::int32_t>;

// Truncating division of a sum of 8-bit samples by the window: (s + 0.5) / w lies at least
// 0.5 / w away from the next integer, far beyond the error of a float product at these sizes.
struct Divide8 {
    float inverse;
    explicit Divide8(int w) : inverse(1.0f / static_cast<float>(w)) {}
    BLUR_INLINE std::int32_t operator()(std::int32_t s) const {
        return static_cast<std::int32_t>((static_cast<float>(s) + 0.5f) * inverse);
    }
};
// The same for 16-bit sums, which need the precision of a double.
struct Divide16 {
    double inverse;
    explicit Divide16(int w) : inverse(1.0 / w) {}
    BLUR_INLINE std::int32_t operator()(std::int32_t s) const {
        return static_cast<std::int32_t>((static_cast<double>(s) + 0.5) * inverse);
    }
};
struct DivideFloat {
    float w;
    explicit DivideFloat(int window) : w(static_cast<float>(window)) {}
    BLUR_INLINE float operator()(float s) const { return s / w; }
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

// --- the running-sum form: many columns at once, rows fused with the row pass ---------------

template <class T>
BLUR_INLINE void add_row(Acc<T>* sum, const T* a, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) sum[j] += static_cast<Acc<T>>(a[j]);
}
template <class T>
BLUR_INLINE void update_row(Acc<T>* sum, const T* add, const T* sub, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j)
        sum[j] += static_cast<Acc<T>>(add[j]) - static_cast<Acc<T>>(sub[j]);
}
template <class T>
BLUR_INLINE void divide_row(const Acc<T>* sum, T* out, std::size_t n, Divide<T> d) {
    for (std::size_t j = 0; j < n; ++j) out[j] = static_cast<T>(d(sum[j]));
}
template <class T>
BLUR_INLINE void update_divide_row(Acc<T>* sum, const T* add, const T* sub, T* out, std::size_t n,
                                   Divide<T> d) {
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
BLUR_INLINE void prefix_of(const T* in, std::uint32_t* out, std::size_t from, std::size_t to,
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
BLUR_INLINE void prefix(const T* in, std::uint32_t* out, std::size_t from, std::size_t to, int c,
                        std::uint32_t* total) {
    if (c == 3) {
        prefix_of<T, 3>(in, out, from, to, total);
    } else {
        prefix_of<T, 1>(in, out, from, to, total);
    }
}
template <class T>
BLUR_INLINE void window_divide(const std::uint32_t* p, std::size_t span, T* out, std::size_t n,
                               Divide<T> d) {
    for (std::size_t j = 0; j < n; ++j)
        out[j] = static_cast<T>(d(static_cast<std::int32_t>(p[j + span] - p[j])));
}

// The kernels, built for AVX2 and for the plain instruction set.
#define BLUR_KERNELS(T, tag)                                                               \
    BLUR_CLONES void add_row_##tag(Acc<T>* s, const T* a, std::size_t n) {                 \
        add_row<T>(s, a, n);                                                               \
    }                                                                                      \
    BLUR_CLONES void update_row_##tag(Acc<T>* s, const T* a, const T* b, std::size_t n) {  \
        update_row<T>(s, a, b, n);                                                         \
    }                                                                                      \
    BLUR_CLONES void divide_row_##tag(const Acc<T>* s, T* o, std::size_t n, Divide<T> d) { \
        divide_row<T>(s, o, n, d);                                                         \
    }                                                                                      \
    BLUR_CLONES void update_divide_row_##tag(Acc<T>* s, const T* a, const T* b, T* o,      \
                                             std::size_t n, Divide<T> d) {                 \
        update_divide_row<T>(s, a, b, o, n, d);                                            \
    }
BLUR_KERNELS(std::uint8_t, u8)
BLUR_KERNELS(std::uint16_t, u16)
BLUR_KERNELS(float, f32)
#undef BLUR_KERNELS

BLUR_CLONES void window_divide_u8(const std::uint32_t* p, std::size_t span, std::uint8_t* o,
                                  std::size_t n, Divide8 d) {
    window_divide<std::uint8_t>(p, span, o, n, d);
}
BLUR_CLONES void window_divide_u16(const std::uint32_t* p, std::size_t span, std::uint16_t* o,
                                   std::size_t n, Divide16 d) {
    window_divide<std::uint16_t>(p, span, o, n, d);
}

struct Kernels8 {
    using T = std::uint8_t;
    static void add(Acc<T>* s, const T* a, std::size_t n) { add_row_u8(s, a, n); }
    static void update(Acc<T>* s, const T* a, const T* b, std::size_t n) {
        update_row_u8(s, a, b, n);
    }
    static void divide(const Acc<T>* s, T* o, std::size_t n, Divide<T> d) {
        divide_row_u8(s, o, n, d);
    }
    static void update_divide(Acc<T>* s, const T* a, const T* b, T* o, std::size_t n, Divide<T> d) {
        update_divide_row_u8(s, a, b, o, n, d);
    }
    static void window(const std::uint32_t* p, std::size_t span, T* o, std::size_t n, Divide<T> d) {
        window_divide_u8(p, span, o, n, d);
    }
};
struct Kernels16 {
    using T = std::uint16_t;
    static void add(Acc<T>* s, const T* a, std::size_t n) { add_row_u16(s, a, n); }
    static void update(Acc<T>* s, const T* a, const T* b, std::size_t n) {
        update_row_u16(s, a, b, n);
    }
    static void divide(const Acc<T>* s, T* o, std::size_t n, Divide<T> d) {
        divide_row_u16(s, o, n, d);
    }
    static void update_divide(Acc<T>* s, const T* a, const T* b, T* o, std::size_t n, Divide<T> d) {
        update_divide_row_u16(s, a, b, o, n, d);
    }
    static void window(const std::uint32_t* p, std::size_t span, T* o, std::size_t n, Divide<T> d) {
        window_divide_u16(p, span, o, n, d);
    }
};
struct KernelsFloat {
    using T = float;
    static void add(Acc<T>* s, const T* a, std::size_t n) { add_row_f32(s, a, n); }
    static void update(Acc<T>* s, const T* a, const T* b, std::size_t n) {
        update_row_f32(s, a, b, n);
    }
    static void divide(const Acc<T>* s, T* o, std::size_t n, Divide<T> d) {
        divide_row_f32(s, o, n, d);
    }
    static void update_divide(Acc<T>* s, const T* a, const T* b, T* o, std::size_t n, Divide<T> d) {
        update_divide_row_f32(s, a, b, o, n, d);
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
std::uint8_t band_fast(const Image& in, Image& out, int first, int last, int r, Progress& p) {
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
            rows.run(filtered.data(), reinterpret_cast<T*>(out.rows[first + k - 3 * r]));
        } else if (cancelled(p)) {
            return 1;
        }
    }
    return 0;
}

// --- the plain form: column by column, then row by row, with the chrominance option ----------

// The chroma plane of one pixel at full value, with the value: (a, b, V).
void to_chroma(std::uint8_t r8, std::uint8_t g8, std::uint8_t b8, std::int32_t* o) {
    const std::int32_t v = std::max({r8, g8, b8});
    o[2] = v;
    if (v == 0) {
        o[0] = o[1] = 0;
        return;
    }
    const std::int32_t r = r8 * 255 / v, g = g8 * 255 / v, b = b8 * 255 / v;
    o[0] = round_to_int((g - b) * 3547 / 4096.0);
    o[1] = r - (g + b) / 2;
}
void to_chroma(std::uint16_t r, std::uint16_t g, std::uint16_t b, std::int32_t* o) {
    rgb_to_chroma16_normalised(r, g, b, o[0], o[1], o[2]);
}
void to_chroma(float r, float g, float b, float* o) {
    rgb_to_chroma_float(r, g, b, o[0], o[1]);
    o[2] = std::max({r, g, b});
}

template <class T>
void from_chroma(const std::int32_t* o, T* pixel) {
    constexpr std::int64_t m = std::is_same_v<T, std::uint8_t> ? 255 : 65535;
    std::int32_t r = 0, g = 0, b = 0;
    chroma_to_rgb(o[0], o[1], static_cast<std::int32_t>(m), static_cast<std::int32_t>(m), r, g, b);
    pixel[0] = static_cast<T>(b * std::int64_t{o[2]} / m);
    pixel[1] = static_cast<T>(g * std::int64_t{o[2]} / m);
    pixel[2] = static_cast<T>(r * std::int64_t{o[2]} / m);
}
void from_chroma(const float* o, float* pixel) {
    const float difference = o[0] * (4730.0f / 4096.0f);
    const float half = difference / 2.0f;
    const float top = std::max({o[1], half, -half});
    const float offset = 1.0f - top;
    pixel[0] = std::clamp(offset - half, 0.0f, 1.0f) * o[2];
    pixel[1] = std::clamp(offset + half, 0.0f, 1.0f) * o[2];
    pixel[2] = std::clamp(offset + o[1], 0.0f, 1.0f) * o[2];
}

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

template <class T>
std::uint8_t band_plain(const Image& in, Image& out, int first, int last, int r, bool chroma,
                        Progress& p) {
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
        T* row = reinterpret_cast<T*>(out.rows[first + y]);
        for (int x = 0; x < width; ++x) codec.store(&e[(2 * r + x) * pc], row + x * pc);
    }
    return 0;
}

std::uint8_t band_step(const Image& in, Image& out, int first, int last, int radius, int what,
                       Progress& p) {
    const int r = std::max(radius, 1);
    const bool rgb = channels_of(in.type) == 3;
    const bool chroma = what == blur_chrominance && rgb;
    const bool fast = fast_path_allowed.load() && !chroma;
    switch (in.type) {
        case image_gray8:
        case image_color24:
            return fast ? band_fast<Kernels8>(in, out, first, last, r, p)
                        : band_plain<std::uint8_t>(in, out, first, last, r, chroma, p);
        case image_gray16:
        case image_color48:
            return fast ? band_fast<Kernels16>(in, out, first, last, r, p)
                        : band_plain<std::uint16_t>(in, out, first, last, r, chroma, p);
        default:
            return fast ? band_fast<KernelsFloat>(in, out, first, last, r, p)
                        : band_plain<float>(in, out, first, last, r, chroma, p);
    }
}

bool blurrable(const Image& in) {
    return in.type >= image_gray8 && in.type <= image_float_color && in.has_pixels();
}

bool blur(const Image& in, Image& out, int radius, int what) {
    if (&in == &out || !blurrable(in)) return true;
    if (image_alloc_with(out, in.type, in.width, in.height, in.dpi, in.profile, in.profile_size,
                         in.tags)) {
        return true;
    }
    const std::uint8_t error = run_rows(
        [&](const Image* source, Image* target, int first, int last, Progress& p) {
            return band_step(*source, *target, first, last, radius, what, p);
        },
        "Gaussian Blur", &in, &out);
    if (error) image_free(out);
    return error != 0;
}

bool after_parse(Settings& s, const ArgumentList&, const Context& ctx) {
    s.radius = std::clamp(s.radius, 0, gaussian_blur_max_radius);
    if (s.what != blur_chrominance) s.what = blur_all_channels;
    amount_make_consistent(s.amount, ctx.node);
    return false;
}

std::uint8_t run(Context& ctx) {
    const Image* in = ctx.working_input;
    if (!in || !blurrable(*in)) return fail_node(ctx.node, illegal_input_type);
    const Settings& s = ctx.settings;
    const Image* mask = amount_mask(s.amount, ctx.node);
    if (s.radius == 0 || amount_leaves_input(s.amount, mask)) {
        return image_copy(*in, *ctx.result) ? 1 : 0;
    }
    if (blur(*in, *ctx.result, s.radius, s.what) ||
        mix_in_place(*in, *ctx.result, s.amount, mask)) {
        image_free(*ctx.result);
        return 1;
    }
    return 0;
}

const Module<Settings> gaussian_blur_module = {
    .keyword = "gaussian_blur",
    .display_name = "Gaussian Blur",
    .settings = {"Gaussian Blur", ".gaussian blur"},
    .schema = Schema<Settings>()
                  .integer("radius", &Settings::radius)
                  .integer("what", &Settings::what)
                  .custom("amount", amount_writer(&Settings::amount),
                          amount_reader<Settings>("amount", &Settings::amount))
                  .integer("display", &Settings::display)
                  .integer("sync_scroll", &Settings::sync_scroll),
    .after_parse = after_parse,
    .run = run,
};

}  // namespace

std::string gaussian_blur_command_line(const GaussianBlurSettings& settings) {
    return format_settings(gaussian_blur_module, settings);
}

bool gaussian_blur_parse(const ArgumentList& args, const Node* node,
                         GaussianBlurSettings& settings) {
    Context ctx;
    ctx.node = const_cast<Node*>(node);
    const bool failed = parse_settings(gaussian_blur_module, args, ctx);
    settings = ctx.settings;
    return failed;
}

bool gaussian_blur_image(const Image& in, Image& out, int radius, int what) {
    if (&in == &out || !blurrable(in)) return true;
    if (radius <= 0) return image_copy(in, out);
    return blur(in, out, radius, what);
}

void gaussian_blur_allow_fast_path(bool allow) {
    fast_path_allowed.store(allow);
}

std::uint8_t gaussian_blur_run_entry(Node* input, Node* node, const ArgumentList& args) {
    return run_entry(gaussian_blur_module, input, node, args);
}

}  // namespace tessaly
