#include "kernels/edge_preserving.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "core/image_convert.h"
#include "core/runner.h"
#include "kernels/resample.h"
#include "kernels/simd.h"

namespace tessaly {

namespace {

int channels_of(std::uint32_t type) {
    return type == image_color24 || type == image_color48 ? 3 : 1;
}
bool is_wide(std::uint32_t type) {
    return type == image_gray16 || type == image_color48;
}
bool filterable(const Image& in) {
    return in.type >= image_gray8 && in.type <= image_color48 && in.has_pixels();
}
bool alloc_like(const Image& in, Image& out) {
    return image_alloc_with(out, in.type, in.width, in.height, in.dpi, in.profile, in.profile_size,
                            in.tags);
}

// --- sigma filter --------------------------------------------------------------------------------

// Count and sum of the samples in bins lo..hi.
TESSALY_INLINE void bin_sums(const std::uint16_t* bins, int lo, int hi, std::int32_t& count,
                             std::int32_t& sum) {
    std::int32_t n = 0, s = 0;
    for (int v = lo; v <= hi; ++v) {
        n += bins[v];
        s += v * bins[v];
    }
    count = n;
    sum = s;
}

// R output rows at once (two histograms updated side by side keep the processor busier than one
// chain of increments): window holds the 2r + R rows of 8-bit samples around them (edge rows
// repeated), output row q using window rows q .. q + 2r; centre[q] is the row itself. Wide rows
// get the mean expanded by 257, rounded to nearest.
template <int C, bool Wide, int R>
TESSALY_INLINE void sigma_rows(const std::uint8_t* const* window, const std::uint8_t* const* centre,
                               int width, int r, int t, std::uint16_t* bins,
                               std::uint8_t* const* out) {
    const int k = 2 * r + 1;
    const std::int32_t count = k * k;
    std::int32_t total[R][C] = {};  // the sum of each window's samples, per channel
    std::fill(bins, bins + R * C * 256, std::uint16_t{0});
    // Window row i belongs to the windows of output rows i - 2r .. i.
    auto update = [&](int x_in, int x_out, auto step) {
        for (int i = 0; i < k + R - 1; ++i) {
            const int q0 = std::max(i - 2 * r, 0), q1 = std::min(i, R - 1);
            for (int c = 0; c < C; ++c) {
                const int a = window[i][x_in + c], b = x_out < 0 ? 0 : window[i][x_out + c];
                for (int q = q0; q <= q1; ++q) step(bins + (q * C + c) * 256, total[q][c], a, b);
            }
        }
    };
    for (int x = -r; x <= r; ++x) {
        update(std::clamp(x, 0, width - 1) * C, -1,
               [](std::uint16_t* h, std::int32_t& sum, int a, int) { ++h[a], sum += a; });
    }
    for (int x = 0; x < width; ++x) {
        for (int q = 0; q < R; ++q) {
            for (int c = 0; c < C; ++c) {
                const std::uint16_t* h = bins + (q * C + c) * 256;
                const int v = centre[q][x * C + c], lo = std::max(v - t, 0),
                          hi = std::min(v + t, 255);
                std::int32_t n = 0, s = 0;
                if (hi - lo < 128) {
                    bin_sums(h, lo, hi, n, s);
                } else {
                    // A wide range: the window less the bins outside it, fewer to count.
                    std::int32_t n1 = 0, s1 = 0, n2 = 0, s2 = 0;
                    bin_sums(h, 0, lo - 1, n1, s1);
                    bin_sums(h, hi + 1, 255, n2, s2);
                    n = count - n1 - n2;
                    s = total[q][c] - s1 - s2;
                }
                if constexpr (Wide) {
                    const auto mean =
                        static_cast<std::uint16_t>((514 * std::int64_t{s} + n) / (2 * n));
                    set_sample16(out[q], static_cast<std::size_t>(x) * C + c, mean);
                } else {
                    out[q][x * C + c] = static_cast<std::uint8_t>(s / n);
                }
            }
        }
        // One column in, one out; both beyond the same edge leave the windows as they are.
        if (x + r + 1 < width || x - r > 0) {
            update(std::min(x + r + 1, width - 1) * C, std::max(x - r, 0) * C,
                   [](std::uint16_t* h, std::int32_t& sum, int a, int b) {
                       ++h[a], --h[b], sum += a - b;
                   });
        }
    }
}

#define SIGMA_ROWS(C, Wide, R)                                                                    \
    TESSALY_CLONES void sigma_rows_##C##_##Wide##_##R(                                            \
        const std::uint8_t* const* w, const std::uint8_t* const* centre, int width, int r, int t, \
        std::uint16_t* bins, std::uint8_t* const* o) {                                            \
        sigma_rows<C, Wide, R>(w, centre, width, r, t, bins, o);                                  \
    }
SIGMA_ROWS(1, false, 1)
SIGMA_ROWS(3, false, 1)
SIGMA_ROWS(1, true, 1)
SIGMA_ROWS(3, true, 1)
SIGMA_ROWS(1, false, 2)
SIGMA_ROWS(3, false, 2)
SIGMA_ROWS(1, true, 2)
SIGMA_ROWS(3, true, 2)
#undef SIGMA_ROWS

using SigmaRows = void (*)(const std::uint8_t* const*, const std::uint8_t* const*, int, int, int,
                           std::uint16_t*, std::uint8_t* const*);
// [channels == 3][wide][rows - 1]
constexpr SigmaRows sigma_kernels[2][2][2] = {
    {{sigma_rows_1_false_1, sigma_rows_1_false_2}, {sigma_rows_1_true_1, sigma_rows_1_true_2}},
    {{sigma_rows_3_false_1, sigma_rows_3_false_2}, {sigma_rows_3_true_1, sigma_rows_3_true_2}},
};

// --- guided filter -------------------------------------------------------------------------------

// The guided filter works on integers: the moments of integer samples are exact, and the
// coefficients are held in fixed point, so every window sum is exact whatever order it is taken
// in and the result does not depend on where a worker's band of rows starts.
constexpr double fixed_one = 4294967296.0;  // 2^32

// The sums of the window of 2r + 1 pixels (edges repeated) along a row of K values a pixel.
template <int K>
void box_row(const std::int64_t* in, std::int64_t* out, int width, int r) {
    std::int64_t s[K] = {};
    for (int x = -r; x <= r; ++x) {
        for (int k = 0; k < K; ++k) s[k] += in[std::clamp(x, 0, width - 1) * K + k];
    }
    for (int x = 0; x < width; ++x) {
        const std::int64_t* add = in + std::min(x + r + 1, width - 1) * K;
        const std::int64_t* sub = in + std::max(x - r, 0) * K;
        for (int k = 0; k < K; ++k) {
            out[x * K + k] = s[k];
            s[k] += add[k] - sub[k];
        }
    }
}

TESSALY_CLONES void slide_rows(std::int64_t* sum, const std::int64_t* add, const std::int64_t* sub,
                               std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sum[i] += add[i] - sub[i];
}
TESSALY_CLONES void add_rows(std::int64_t* sum, const std::int64_t* row, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sum[i] += row[i];
}

std::int64_t to_fixed(double v) {
    return static_cast<std::int64_t>(v * fixed_one + (v >= 0.0 ? 0.5 : -0.5));
}

// The guided filter of a guide by itself: the window sums of its moments, the coefficients a
// and b of each window, and the window means of those. Gray: moments v, v^2; coefficients a, b.
// Colour (channels in stored order): moments c0, c1, c2 and the six products; coefficients the
// symmetric 3x3 matrix A (six values) and b (three).
template <class T, int C>
class GuidedRows {
  public:
    static constexpr int K = C == 1 ? 2 : 9;  // values a pixel, of both stages

    GuidedRows(const Image& guide, int radius, double epsilon)
        : guide_(guide),
          width_(static_cast<int>(guide.width)),
          height_(static_cast<int>(guide.height)),
          r_(radius),
          ring_(2 * radius + 2),
          epsilon_(std::max(epsilon, 1e-9)) {}

    // Calls emit(y, means) for y = first .. last in order, means holding the window means of the
    // coefficients of row y (K a pixel, samples on the 0..1 scale). Non-zero: cancelled.
    template <class Emit>
    std::uint8_t run(int first, int last, Progress& progress, Emit emit) {
        const std::size_t n = static_cast<std::size_t>(width_) * K;
        std::vector<std::int64_t> moment_sums(n * ring_), coefficient_sums(n * ring_), row(n),
            vertical(n), window(n);
        std::vector<double> means(n);
        auto slot = [&](std::vector<std::int64_t>& ring, int y) {
            return ring.data() + static_cast<std::size_t>(((y % ring_) + ring_) % ring_) * n;
        };
        // Coefficients are needed for rows p0..p1; moment sums for rows p0 - r .. p1 + r, those
        // beyond an edge repeating the edge row.
        const int p0 = std::max(first - r_, 0), p1 = std::min(last + r_, height_ - 1);
        const double scale = 1.0 / (fixed_one * (2 * r_ + 1) * (2 * r_ + 1));
        int next_moments = p0 - r_, next_out = first;
        for (int p = p0; p <= p1; ++p) {
            for (; next_moments <= p + r_; ++next_moments) {
                moments_of(std::clamp(next_moments, 0, height_ - 1), row.data());
                box_row<K>(row.data(), slot(moment_sums, next_moments), width_, r_);
            }
            if (p == p0) {
                std::fill(vertical.begin(), vertical.end(), 0);
                for (int y = p - r_; y <= p + r_; ++y)
                    add_rows(vertical.data(), slot(moment_sums, y), n);
            } else {
                slide_rows(vertical.data(), slot(moment_sums, p + r_),
                           slot(moment_sums, p - r_ - 1), n);
            }
            coefficients_of(vertical.data(), row.data());
            box_row<K>(row.data(), slot(coefficient_sums, p), width_, r_);
            // The rows whose window of coefficients is complete now; beyond an edge the edge row
            // repeats.
            const int ready = p == height_ - 1 ? last : std::min(p - r_, last);
            auto at = [&](int y) { return slot(coefficient_sums, std::clamp(y, 0, height_ - 1)); };
            for (; next_out <= ready; ++next_out) {
                if (progress_tick(progress)) return 1;
                if (next_out == first) {
                    std::fill(window.begin(), window.end(), 0);
                    for (int y = first - r_; y <= first + r_; ++y)
                        add_rows(window.data(), at(y), n);
                } else {
                    slide_rows(window.data(), at(next_out + r_), at(next_out - r_ - 1), n);
                }
                for (std::size_t i = 0; i < n; ++i)
                    means[i] = static_cast<double>(window[i]) * scale;
                emit(next_out, means.data());
            }
        }
        return 0;
    }

  private:
    void moments_of(int y, std::int64_t* m) const {
        const T* row = reinterpret_cast<const T*>(guide_.rows[y]);
        for (int x = 0; x < width_; ++x, m += K) {
            if constexpr (C == 1) {
                const std::int64_t v = row[x];
                m[0] = v;
                m[1] = v * v;
            } else {
                const std::int64_t c0 = row[3 * x], c1 = row[3 * x + 1], c2 = row[3 * x + 2];
                m[0] = c0, m[1] = c1, m[2] = c2;
                m[3] = c0 * c0, m[4] = c0 * c1, m[5] = c0 * c2;
                m[6] = c1 * c1, m[7] = c1 * c2, m[8] = c2 * c2;
            }
        }
    }

    // The coefficients of every window from its sums, in fixed point.
    void coefficients_of(const std::int64_t* sums, std::int64_t* out) const {
        constexpr double top = sizeof(T) == 1 ? 255.0 : 65535.0;
        const double count = static_cast<double>(2 * r_ + 1) * (2 * r_ + 1);
        const double first = 1.0 / (count * top), second = first / top;
        const double e = epsilon_;
        for (int x = 0; x < width_; ++x, sums += K, out += K) {
            if constexpr (C == 1) {
                const double mean = static_cast<double>(sums[0]) * first;
                const double variance =
                    std::max(static_cast<double>(sums[1]) * second - mean * mean, 0.0);
                const double a = variance / (variance + e);
                out[0] = to_fixed(a);
                out[1] = to_fixed(mean - a * mean);
            } else {
                double v[9];
                for (int k = 0; k < 9; ++k)
                    v[k] = static_cast<double>(sums[k]) * (k < 3 ? first : second);
                const double m0 = v[0], m1 = v[1], m2 = v[2];
                // The covariance plus epsilon on the diagonal, and its cofactors.
                const double s00 = v[3] - m0 * m0 + e, s01 = v[4] - m0 * m1, s02 = v[5] - m0 * m2,
                             s11 = v[6] - m1 * m1 + e, s12 = v[7] - m1 * m2,
                             s22 = v[8] - m2 * m2 + e;
                const double i00 = s11 * s22 - s12 * s12, i01 = s02 * s12 - s01 * s22,
                             i02 = s01 * s12 - s02 * s11, i11 = s00 * s22 - s02 * s02,
                             i12 = s01 * s02 - s00 * s12, i22 = s00 * s11 - s01 * s01;
                // A = covariance (covariance + e)^-1 = 1 - e (covariance + e)^-1. The matrix is
                // positive definite; should rounding say otherwise, the pixel is kept (A = 1).
                const double determinant = s00 * i00 + s01 * i01 + s02 * i02;
                const double f = determinant > 0.0 ? e / determinant : 0.0;
                const double a00 = 1.0 - f * i00, a01 = -f * i01, a02 = -f * i02,
                             a11 = 1.0 - f * i11, a12 = -f * i12, a22 = 1.0 - f * i22;
                const double a[9] = {a00,
                                     a01,
                                     a02,
                                     a11,
                                     a12,
                                     a22,
                                     m0 - (a00 * m0 + a01 * m1 + a02 * m2),
                                     m1 - (a01 * m0 + a11 * m1 + a12 * m2),
                                     m2 - (a02 * m0 + a12 * m1 + a22 * m2)};
                for (int k = 0; k < 9; ++k) out[k] = to_fixed(a[k]);
            }
        }
    }

    const Image& guide_;
    int width_, height_, r_, ring_;
    double epsilon_;
};

// The rows of the guided filter for the guide's type.
template <class Emit>
std::uint8_t guided_rows(const Image& guide, int radius, double epsilon, int first, int last,
                         Progress& progress, Emit emit) {
    switch (guide.type) {
        case image_gray8:
            return GuidedRows<std::uint8_t, 1>(guide, radius, epsilon)
                .run(first, last, progress, emit);
        case image_color24:
            return GuidedRows<std::uint8_t, 3>(guide, radius, epsilon)
                .run(first, last, progress, emit);
        case image_gray16:
            return GuidedRows<std::uint16_t, 1>(guide, radius, epsilon)
                .run(first, last, progress, emit);
        default:
            return GuidedRows<std::uint16_t, 3>(guide, radius, epsilon)
                .run(first, last, progress, emit);
    }
}

// One output pixel from the mean coefficients and the source pixel: q = A x + b on the 0..1
// scale, that is A v + b top in samples.
template <class T, int C>
TESSALY_INLINE void guided_pixel(const double* c, const T* in, T* out, double top) {
    auto store = [top](double q) { return static_cast<T>(std::clamp(q, 0.0, top) + 0.5); };
    if constexpr (C == 1) {
        out[0] = store(c[0] * in[0] + c[1] * top);
    } else {
        const double v0 = in[0], v1 = in[1], v2 = in[2];
        out[0] = store(c[0] * v0 + c[1] * v1 + c[2] * v2 + c[6] * top);
        out[1] = store(c[1] * v0 + c[3] * v1 + c[4] * v2 + c[7] * top);
        out[2] = store(c[2] * v0 + c[4] * v1 + c[5] * v2 + c[8] * top);
    }
}

template <class T, int C>
void guided_output_row(const double* coefficients, std::size_t stride, const std::uint8_t* in,
                       std::uint8_t* out, int width, double top) {
    const T* s = reinterpret_cast<const T*>(in);
    T* d = reinterpret_cast<T*>(out);
    for (int x = 0; x < width; ++x) {
        guided_pixel<T, C>(coefficients + x * stride, s + x * C, d + x * C, top);
    }
}

void guided_output(const double* coefficients, std::size_t stride, const Image& in,
                   std::uint8_t* out, int y) {
    const int w = static_cast<int>(in.width);
    switch (in.type) {
        case image_gray8:
            return guided_output_row<std::uint8_t, 1>(coefficients, stride, in.rows[y], out, w,
                                                      255.0);
        case image_color24:
            return guided_output_row<std::uint8_t, 3>(coefficients, stride, in.rows[y], out, w,
                                                      255.0);
        case image_gray16:
            return guided_output_row<std::uint16_t, 1>(coefficients, stride, in.rows[y], out, w,
                                                       65535.0);
        default:
            return guided_output_row<std::uint16_t, 3>(coefficients, stride, in.rows[y], out, w,
                                                       65535.0);
    }
}

// Where destination index i of n falls on a source of m indices, as the general scaler maps it:
// p = i (m - 1) / (n - 1).
struct Taps {
    std::vector<int> low, high;
    std::vector<double> fraction;
};
Taps enlarging_taps(int m, int n) {
    Taps t;
    for (int i = 0; i < n; ++i) {
        const double p = n > 1 ? static_cast<double>(i) * (m - 1) / (n - 1) : 0.0;
        const int low = std::min(static_cast<int>(p), m - 1);
        t.low.push_back(low);
        t.high.push_back(std::min(low + 1, m - 1));
        t.fraction.push_back(p - low);
    }
    return t;
}

}  // namespace

bool sigma_filter(const Image& in, Image& out, int radius, int threshold) {
    if (&in == &out || !filterable(in)) return true;
    // 16-bit samples are binned on the 8-bit scale: once, not at every window step.
    Image reduced;
    const bool wide = is_wide(in.type);
    if (wide &&
        (in.type == image_gray16 ? convert_4_to_2(in, reduced) : convert_5_to_3(in, reduced)))
        return true;
    const Image& samples = wide ? reduced : in;
    if (alloc_like(in, out)) return true;
    const int r = std::max(radius, 0), t = std::clamp(threshold, 0, 255);
    const int channels = channels_of(in.type), height = static_cast<int>(in.height);
    const std::uint8_t error = run_rows(
        [&](const Image*, Image* o, int first, int last, Progress& p) -> std::uint8_t {
            std::vector<std::uint16_t> bins(static_cast<std::size_t>(2 * channels) * 256);
            std::vector<const std::uint8_t*> window(static_cast<std::size_t>(2 * r + 2));
            const int w = static_cast<int>(samples.width);
            for (int y = first; y <= last; y += 2) {
                const int rows = std::min(2, last - y + 1);
                for (int q = 0; q < rows; ++q) {
                    if (progress_tick(p)) return 1;
                }
                for (int i = 0; i < 2 * r + rows; ++i) {
                    window[i] = samples.rows[std::clamp(y - r + i, 0, height - 1)];
                }
                const std::uint8_t* centre[2] = {samples.rows[y], samples.rows[y + rows - 1]};
                std::uint8_t* const outs[2] = {o->rows[y], o->rows[y + rows - 1]};
                sigma_kernels[channels == 3][wide][rows - 1](window.data(), centre, w, r, t,
                                                             bins.data(), outs);
            }
            return 0;
        },
        "Compute Mean Image", &in, &out);
    if (error) image_free(out);
    return error != 0;
}

bool guided_filter(const Image& in, Image& out, int radius, int threshold) {
    if (&in == &out || !filterable(in)) return true;
    const int r = std::max(radius, 0);
    const double epsilon = std::pow(std::clamp(threshold, 0, 255) / 510.0, 2.0);
    const int width = static_cast<int>(in.width), height = static_cast<int>(in.height);
    int factor = r < 4 ? 1 : (r < 8 ? 2 : 4);
    // A picture too small to reduce keeps its own scale.
    if (width / factor < 2 || height / factor < 2) factor = 1;
    const char* title = "Mean Image";
    const int values = channels_of(in.type) == 1 ? 2 : 9;

    if (factor == 1) {
        if (alloc_like(in, out)) return true;
        const std::uint8_t error = run_rows(
            [&](const Image*, Image* o, int first, int last, Progress& p) -> std::uint8_t {
                return guided_rows(in, r, epsilon, first, last, p, [&](int y, const double* m) {
                    guided_output(m, static_cast<std::size_t>(values), in, o->rows[y], y);
                });
            },
            title, &in, &out);
        if (error) image_free(out);
        return error != 0;
    }

    // The coefficients' means at reduced scale, then enlarged bilinearly for every pixel.
    Image small;
    if (resample(in, small, width / factor, height / factor, in.dpi, resample_bilinear, 0.0,
                 false)) {
        return true;
    }
    const int sw = static_cast<int>(small.width), sh = static_cast<int>(small.height);
    const int box = (r + 2) / 4;
    const std::size_t row_values = static_cast<std::size_t>(sw) * values;
    std::vector<float> means;
    try {
        means.resize(row_values * sh);
    } catch (const std::bad_alloc&) {
        return true;
    }
    std::uint8_t error = run_range(
        0,
        [&](int first, int last, Progress& p) -> std::uint8_t {
            return guided_rows(small, box, epsilon, first, last, p, [&](int y, const double* m) {
                std::copy(m, m + row_values,
                          means.begin() + static_cast<std::ptrdiff_t>(row_values * y));
            });
        },
        title, sw, sh, sh, false, true, true);
    if (error) return true;
    if (alloc_like(in, out)) return true;
    const Taps across = enlarging_taps(sw, width), down = enlarging_taps(sh, height);
    error = run_rows(
        [&](const Image*, Image* o, int first, int last, Progress& p) -> std::uint8_t {
            std::vector<double> column(row_values),
                pixels(static_cast<std::size_t>(width) * values);
            for (int y = first; y <= last; ++y) {
                if (progress_tick(p)) return 1;
                const float* a = means.data() + row_values * down.low[y];
                const float* b = means.data() + row_values * down.high[y];
                const double fy = down.fraction[y];
                for (std::size_t i = 0; i < row_values; ++i) column[i] = a[i] + (b[i] - a[i]) * fy;
                for (int x = 0; x < width; ++x) {
                    const double* l =
                        column.data() + static_cast<std::size_t>(across.low[x]) * values;
                    const double* h =
                        column.data() + static_cast<std::size_t>(across.high[x]) * values;
                    const double fx = across.fraction[x];
                    double* d = pixels.data() + static_cast<std::size_t>(x) * values;
                    for (int k = 0; k < values; ++k) d[k] = l[k] + (h[k] - l[k]) * fx;
                }
                guided_output(pixels.data(), static_cast<std::size_t>(values), in, o->rows[y], y);
            }
            return 0;
        },
        title, &in, &out);
    if (error) image_free(out);
    return error != 0;
}

}  // namespace tessaly
