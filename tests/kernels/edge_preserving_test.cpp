// The base layers of Brightness Curve's Advanced Mode against their definitions. Sigma filter:
// the mean of the window's 8-bit values within the threshold of the centre. Guided filter of a
// gray picture: window means (edges repeated) of I and I^2, a = var / (var + epsilon),
// b = mean - a mean, q = mean(a) I + mean(b); on a colour picture whose three channels are equal
// its colour form is the gray one with epsilon / 3.
#include "kernels/edge_preserving.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/runner.h"
#include "core/tables.h"
#include "support/resample_reference.h"

namespace tessaly {
namespace {

using testing::sample_at;

constexpr int w = 19, h = 14;
template <class F>
void each(F f) {
    for (int i = 0; i < w * h; ++i) f(i % w, i / w, i);
}
// Hands f each value of the square window of radius r around (x, y), edges repeated.
template <class At, class F>
void each_in_window(At at, int x, int y, int r, F f) {
    for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx)
            f(at(std::clamp(x + dx, 0, w - 1), std::clamp(y + dy, 0, h - 1)));
    }
}
template <class At>
double window_mean(At at, int x, int y, int r) {
    double s = 0;
    each_in_window(at, x, y, r, [&](double v) { s += v; });
    return s / ((2 * r + 1) * (2 * r + 1));
}

TEST(EdgePreserving, SigmaFilterByHandAndByItsDefinition) {
    Image out;
    ASSERT_FALSE(
        sigma_filter(testing::image_of_rows(image_gray8, {{10, 20, 200, 30, 40}}), out, 1, 50));
    EXPECT_EQ(testing::rows_of(out)[0], (std::vector<int>{13, 15, 200, 35, 36}));
    for (const std::uint32_t type : {image_gray8, image_color24, image_gray16, image_color48}) {
        const Image in = testing::random_pixels(type, w, h, 2);
        const bool wide = testing::wide_samples(in);
        const int r = 3, t = 70;
        ASSERT_FALSE(sigma_filter(in, out, r, t));
        each([&](int x, int y, int) {
            for (int k = 0; k < testing::samples_per_pixel(in); ++k) {
                auto at = [&](int px, int py) {
                    const int v = sample_at(in, px, py, k);
                    return wide ? to8[v] : v;
                };
                int n = 0, s = 0;
                each_in_window(at, x, y, r, [&](int v) {
                    if (std::abs(v - at(x, y)) <= t) ++n, s += v;
                });
                ASSERT_EQ(sample_at(out, x, y, k), wide ? std::lround(s * 257.0 / n) : s / n);
            }
        });
    }
}

// Also: bands of rows give the same layer whatever the number of workers, at every scale.
TEST(EdgePreserving, GuidedFilterByItsDefinitionOnAnyNumberOfWorkers) {
    for (const std::uint32_t type : {image_gray8, image_gray16, image_color24}) {
        const Image gray =
            testing::random_pixels(type == image_color24 ? image_gray8 : type, w, h, 5);
        Image in, out;
        ASSERT_FALSE(image_alloc(in, type, w, h, 0.0));
        each([&](int x, int y, int) {
            for (int k = 0; k < testing::samples_per_pixel(in); ++k)
                testing::set_sample_at(in, x, y, k, sample_at(gray, x, y));
        });
        const int r = 2;
        const double top = testing::wide_samples(in) ? 65535 : 255;
        const double e = std::pow(80 / 510.0, 2) / testing::samples_per_pixel(in);
        std::vector<double> I(w * h), I2(w * h), a(w * h), b(w * h);
        auto mean = [&](const std::vector<double>& v, int x, int y) {
            return window_mean([&](int px, int py) { return v[py * w + px]; }, x, y, r);
        };
        each([&](int x, int y, int i) { I[i] = sample_at(in, x, y) / top, I2[i] = I[i] * I[i]; });
        each([&](int x, int y, int i) {
            const double m = mean(I, x, y), v = mean(I2, x, y) - m * m;
            a[i] = v / (v + e), b[i] = m - a[i] * m;
        });
        ASSERT_FALSE(guided_filter(in, out, r, 80));
        each([&](int x, int y, int i) {
            EXPECT_NEAR(sample_at(out, x, y), (mean(a, x, y) * I[i] + mean(b, x, y)) * top, 0.5001);
        });
    }
    const Image in = testing::random_pixels(image_color48, 61, 47, 4);
    for (const int radius : {2, 5, 12}) {
        Image one, three;
        set_processor_count(1);
        ASSERT_FALSE(guided_filter(in, one, radius, 90));
        set_processor_count(3);
        ASSERT_FALSE(guided_filter(in, three, radius, 90));
        EXPECT_TRUE(image_equal(one, three)) << radius;
    }
    set_processor_count(0);
}

}  // namespace
}  // namespace tessaly
