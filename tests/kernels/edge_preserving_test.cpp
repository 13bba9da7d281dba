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
#include "transformations/point_filter_helpers.h"

namespace tessaly {
namespace {

using testing::noise_picture;
using testing::Pixel;
using testing::pixel_at;

constexpr int w = 19, h = 14;
bool is_wide(std::uint32_t t) {
    return t == image_gray16 || t == image_color48;
}
bool is_colour(std::uint32_t t) {
    return t == image_color24 || t == image_color48;
}
template <class F>
void each(F f) {
    for (int i = 0; i < w * h; ++i) f(i % w, i / w, i);
}

TEST(EdgePreserving, SigmaFilterByHandAndByItsDefinition) {
    Image out;
    ASSERT_FALSE(sigma_filter(testing::pixels_picture(image_gray8, {{10}, {20}, {200}, {30}, {40}}),
                              out, 1, 50));
    EXPECT_EQ(std::vector<int>(out.rows[0], out.rows[0] + 5),
              (std::vector<int>{13, 15, 200, 35, 36}));
    for (const std::uint32_t type : {image_gray8, image_color24, image_gray16, image_color48}) {
        const Image in = noise_picture(type, 2, w, h);
        const int r = 3, t = 70;
        ASSERT_FALSE(sigma_filter(in, out, r, t));
        each([&](int x, int y, int) {
            for (int k = 0; k < (is_colour(type) ? 3 : 1); ++k) {
                auto at = [&](int dx, int dy) {
                    const int v =
                        pixel_at(in, std::clamp(x + dx, 0, w - 1), std::clamp(y + dy, 0, h - 1))[k];
                    return is_wide(type) ? to8[v] : v;
                };
                int n = 0, s = 0;
                for (int d = 0; d < (2 * r + 1) * (2 * r + 1); ++d) {
                    const int v = at(d % (2 * r + 1) - r, d / (2 * r + 1) - r);
                    if (std::abs(v - at(0, 0)) <= t) ++n, s += v;
                }
                ASSERT_EQ(pixel_at(out, x, y)[k],
                          is_wide(type) ? std::lround(s * 257.0 / n) : s / n);
            }
        });
    }
}

TEST(EdgePreserving, GuidedFilterByItsDefinition) {
    for (const std::uint32_t type : {image_gray8, image_gray16, image_color24}) {
        const Image gray = noise_picture(type == image_color24 ? image_gray8 : type, 5, w, h);
        Image in, out;
        ASSERT_FALSE(image_alloc(in, type, w, h, 0.0));
        each([&](int x, int y, int) {
            const int v = pixel_at(gray, x, y)[0];
            testing::set_pixel(in, x, y, Pixel{v, v, v});
        });
        const int r = 2;
        const double top = is_wide(type) ? 65535 : 255;
        const double e = std::pow(80 / 510.0, 2) / (is_colour(type) ? 3 : 1);
        auto mean = [&](const std::vector<double>& v, int x, int y) {
            double s = 0;
            for (int d = 0; d < (2 * r + 1) * (2 * r + 1); ++d) {
                s += v[std::clamp(y + d / (2 * r + 1) - r, 0, h - 1) * w +
                       std::clamp(x + d % (2 * r + 1) - r, 0, w - 1)];
            }
            return s / ((2 * r + 1) * (2 * r + 1));
        };
        std::vector<double> I(w * h), I2(w * h), a(w * h), b(w * h);
        each([&](int x, int y, int i) { I[i] = pixel_at(in, x, y)[0] / top, I2[i] = I[i] * I[i]; });
        each([&](int x, int y, int i) {
            const double m = mean(I, x, y), v = mean(I2, x, y) - m * m;
            a[i] = v / (v + e), b[i] = m - a[i] * m;
        });
        ASSERT_FALSE(guided_filter(in, out, r, 80));
        each([&](int x, int y, int i) {
            EXPECT_NEAR(pixel_at(out, x, y)[0], (mean(a, x, y) * I[i] + mean(b, x, y)) * top,
                        0.5001);
        });
    }
}

// Bands of rows give the same layer whatever the number of workers, at every scale.
TEST(EdgePreserving, GuidedFilterDoesNotDependOnTheWorkers) {
    const Image in = noise_picture(image_color48, 4, 61, 47);
    const int saved = processor_count();
    for (const int radius : {2, 5, 12}) {
        Image one, three;
        set_processor_count(1);
        ASSERT_FALSE(guided_filter(in, one, radius, 90));
        set_processor_count(3);
        ASSERT_FALSE(guided_filter(in, three, radius, 90));
        EXPECT_TRUE(image_equal(one, three)) << radius;
    }
    set_processor_count(saved);
}

}  // namespace
}  // namespace tessaly
