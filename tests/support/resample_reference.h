// The general scaler's algorithm written out plainly, one sample at a time in doubles, to hold
// the table-driven, vectorised scaler (and Resize, which runs it) to.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/image.h"
#include "kernels/resample.h"
#include "support/image_helpers.h"
#include "support/sample_rows.h"

namespace tessaly::testing {

// Every byte of every pixel random, so 16-bit samples use their whole range; 300 dpi.
inline Image random_pixels(std::uint32_t type, std::uint32_t w, std::uint32_t h,
                           std::uint32_t seed) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 300.0));
    const std::uint32_t bits[] = {0, 1, 8, 24, 16, 48};
    fill_pattern(im, (w * bits[type] + 7) / 8, seed);
    return im;
}

// The taps (source index, weight in 1/255) of destination index i when s samples become d.
inline std::vector<std::pair<int, int>> plain_taps(int method, double a, int s, int d, int i,
                                                   bool vertical) {
    std::vector<std::pair<int, int>> taps;
    if (d == 1) return {{0, 255}};
    const double p = i * (s - 1.0) / (d - 1.0);
    const int base = static_cast<int>(std::floor(p));
    const double f = p - base;
    if (s < d) {
        if (vertical && std::trunc(255.0 * f) == 0) return {{base, 255}};
        const int n = method == resample_lanczos6 ? 6 : method == resample_lanczos8 ? 8 : 4;
        for (int k = 1 - n / 2; k <= n / 2; ++k) {
            if (base + k < 0 || base + k >= s) continue;
            taps.push_back({base + k, static_cast<int>(
                                          std::trunc(255.0 * resample_kernel(method, a, k - f)))});
        }
        return taps;
    }
    const int reach = static_cast<int>(std::floor((s - 1.0) / (d - 1.0))) + 1;
    for (int k = -reach; k <= reach; ++k) {
        if (base + k < 0 || base + k >= s) continue;
        const double w = resample_kernel(method, a, (k - f) / (static_cast<double>(s) / d));
        if (w == 0.0) continue;
        taps.push_back({base + k, std::clamp(static_cast<int>(std::trunc(255.0 * w)), 0, 255)});
    }
    return taps;
}

template <class Read>
int plain_sample(const std::vector<std::pair<int, int>>& taps, Read read, int top) {
    std::int64_t sum = 0, weights = 0;
    for (auto [index, w] : taps) {
        sum += static_cast<std::int64_t>(w) * read(index);
        weights += w;
    }
    if (weights == 0) weights = 1;
    return static_cast<int>(std::clamp<std::int64_t>(sum / weights, 0, top));
}

inline Image plain_resample(const Image& src, int w, int h, int method, double a) {
    Image out;
    EXPECT_FALSE(image_alloc(out, src.type, w, h, src.dpi));
    const int top = wide_samples(src) ? 65535 : 255;
    const int c = samples_per_pixel(src);
    const int sw = static_cast<int>(src.width), sh = static_cast<int>(src.height);
    std::vector<int> column(static_cast<std::size_t>(sw) * c);
    for (int y = 0; y < h; ++y) {
        auto vt = plain_taps(method, a, sh, h, y, true);
        for (int x = 0; x < sw; ++x) {
            for (int k = 0; k < c; ++k) {
                column[x * c + k] = plain_sample(
                    vt, [&](int r) { return sample_at(src, x, r, k); }, top);
            }
        }
        for (int x = 0; x < w; ++x) {
            auto ht = plain_taps(method, a, sw, w, x, false);
            for (int k = 0; k < c; ++k) {
                set_sample_at(out, x, y, k,
                              plain_sample(
                                  ht, [&](int i) { return column[i * c + k]; }, top));
            }
        }
    }
    return out;
}

inline ::testing::AssertionResult same_pixels(const Image& a, const Image& b) {
    if (a.type != b.type || a.width != b.width || a.height != b.height) {
        return ::testing::AssertionFailure()
               << "shape " << a.width << "x" << a.height << " vs " << b.width << "x" << b.height;
    }
    for (std::uint32_t y = 0; y < a.height; ++y) {
        for (std::uint32_t x = 0; x < a.width; ++x) {
            for (int c = 0; c < samples_per_pixel(a); ++c) {
                if (sample_at(a, x, y, c) != sample_at(b, x, y, c)) {
                    return ::testing::AssertionFailure()
                           << "pixel " << x << "," << y << " channel " << c << ": "
                           << sample_at(a, x, y, c) << " vs " << sample_at(b, x, y, c);
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tessaly::testing
