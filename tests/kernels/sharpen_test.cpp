// Unsharp Mask's and Sharpen's kernels, and the per-pixel step they share.
#include "kernels/sharpen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/numeric.h"
#include "core/tables.h"
#include "kernels/box_blur.h"
#include "kernels/sharpen_step.h"
#include "kernels/unsharp.h"
#include "support/image_helpers.h"
#include "support/resample_reference.h"

namespace tessaly {
namespace {

using Rows = testing::SampleRows;
using testing::image_of_rows;
using testing::random_pixels;
using testing::rows_of;
using testing::sample_at;
using testing::samples_per_pixel;
using testing::set_sample_at;

// The centre pixel of a 3 x 3 gray picture with the centre c and every other pixel n.
int sharpened_centre(std::uint32_t type, int c, int n, double over, double under, double tb,
                     double tw, double strength) {
    Image out;
    EXPECT_FALSE(sharpen_image(image_of_rows(type, {{n, n, n}, {n, c, n}, {n, n, n}}), out, 0, over,
                               under, tb, tw, strength, false));
    return sample_at(out, 1, 1);
}

// The step written plainly, one pixel at a time, on the library's own blends: m holds the
// reference samples (blurred, or the neighbourhood mean).
Image reference(const Image& in, const Image& m, double tb, double tw, double strength, double over,
                double under) {
    const int full = testing::wide_samples(in) ? 65535 : 255;
    const int low = round_to_int(tb * full), high = round_to_int(tw * full);
    const int up = round_to_int(over * full), down = round_to_int(under * full);
    Image out;
    EXPECT_FALSE(image_copy(in, out));
    for (std::uint32_t y = 0; y < in.height; ++y) {
        for (std::uint32_t x = 0; x < in.width; ++x) {
            int d = 0;
            for (int c = 0; c < samples_per_pixel(in); ++c)
                d = std::max(d, std::abs(sample_at(in, x, y, c) - sample_at(m, x, y, c)));
            const int t = d < low ? 0 : d >= high ? 255 : (d - low) * 255 / (high - low);
            for (int c = 0; c < samples_per_pixel(in); ++c) {
                const int s = sample_at(in, x, y, c);
                const int cand =
                    std::clamp(s + round_to_int((s - sample_at(m, x, y, c)) * strength), 0, full);
                const int o = full == 255 ? blend8(s, cand, t) : blend16(s, cand, t);
                set_sample_at(out, x, y, c, std::clamp(o, s - down, s + up));
            }
        }
    }
    return out;
}

// The mean of the four or eight neighbours, edge pixels repeated.
Image neighbour_mean(const Image& in, int kernel) {
    Image m;
    EXPECT_FALSE(image_copy(in, m));
    const int w = static_cast<int>(in.width), h = static_cast<int>(in.height);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < samples_per_pixel(in); ++c) {
                int sum = 0;
                for (int k = 0; k < 9; ++k) {
                    const int dx = k % 3 - 1, dy = k / 3 - 1;
                    if (k == 4 || (dx && dy && kernel == 0)) continue;  // the centre; diagonals
                    sum += sample_at(in, std::clamp(x + dx, 0, w - 1), std::clamp(y + dy, 0, h - 1),
                                     c);
                }
                set_sample_at(m, x, y, c, kernel == 1 ? sum >> 3 : sum >> 2);
            }
        }
    }
    return m;
}

TEST(SharpenStep, ThresholdsRampAndLimitsByHand) {
    // 100 among 50: mean 50, d = 50, candidate 150, overshoot rnd(25.5) = 26 caps it at 126. The
    // edge pixel 50 beside it sees itself in the border: mean (50 + 100 + 50 + 50) >> 2 = 62,
    // candidate 38; with all eight, (7 x 50 + 100) >> 3 = 56, candidate 44.
    const Image hundred = image_of_rows(image_gray8, {{50, 50, 50}, {50, 100, 50}, {50, 50, 50}});
    Image out;
    ASSERT_FALSE(sharpen_image(hundred, out, 0, 0.1, 0.1, 0, 0, 1, false));
    EXPECT_EQ(rows_of(out), (Rows{{50, 38, 50}, {38, 126, 38}, {50, 38, 50}}));
    ASSERT_FALSE(sharpen_image(hundred, out, 1, 0.1, 0.1, 0, 0, 1, false));
    EXPECT_EQ(rows_of(out)[1], (std::vector<int>{44, 126, 44}));
    // Equal thresholds, rnd(0.04 x 255) = 10: 9 stays, 10 is sharpened fully. Ramp from 5 to
    // rnd(25.5) = 26: D = 20 gives t = 15 x 255 / 21 = 182; strength 1.3 moves by 26, blend8 by
    // (26 x 182 + 127) / 255 = 19 either way. 16 bits, ramp from 655 to 3277: D = 2000 gives
    // t = 1345 x 255 / 2622 = 130, blend16 moves by 2000 x 130 / 255 = 1019 (truncated toward
    // zero both ways).
    EXPECT_EQ(sharpened_centre(image_gray8, 109, 100, 0.1, 0.1, 0.04, 0.04, 1), 109);
    EXPECT_EQ(sharpened_centre(image_gray8, 110, 100, 0.1, 0.1, 0.04, 0.04, 1), 120);
    EXPECT_EQ(sharpened_centre(image_gray8, 120, 100, 1, 1, 0.02, 0.1, 1.3), 139);
    EXPECT_EQ(sharpened_centre(image_gray8, 80, 100, 1, 1, 0.02, 0.1, 1.3), 61);
    EXPECT_EQ(sharpened_centre(image_gray16, 12000, 10000, 0.1, 0.1, 0.01, 0.05, 1), 13019);
    EXPECT_EQ(sharpened_centre(image_gray16, 8000, 10000, 0.1, 0.1, 0.01, 0.05, 1), 6981);
    // RGB: the largest difference (30 in red) reaches the threshold, so green's 5 is sharpened
    // too; red stops at the overshoot 130 + 26, blue has nothing to add.
    const std::vector<int> flat(9, 100);
    ASSERT_FALSE(sharpen_image(
        image_of_rows(image_color24, {flat, {100, 100, 100, 100, 105, 130, 100, 100, 100}, flat}),
        out, 0, 0.1, 0.1, 0.04, 0.04, 1, false));
    EXPECT_EQ(rows_of(out)[1], (std::vector<int>{100, 100, 100, 100, 110, 156, 100, 100, 100}));
}

// Both kernels against the plain form in every variant of the 8-bit vector rows (threshold or
// ramp one, three and 255 samples wide; strengths with and without corrections or taking the
// double form; halo limits at both ends) and at 16 bits, on rows with whole groups of 16 pixels
// and a tail; zero halo limits give the input back.
TEST(SharpenStep, KernelsMatchThePlainForm) {
    struct Case {
        double tb, tw, strength, over, under;
    };
    const Case cases[] = {{0.04, 0.04, 1, 0.1, 0.1},
                          {0.02, 0.03, 0.175, 1, 1},
                          {0.1, 0.106, 2.7, 0.2, 0},
                          {0, 1, 4.9999, 1, 1},
                          {0.5, 0.2, 5, 0, 0.3},
                          {1, 1, 1.3, 0.05, 1},
                          {0.01, 0.2, 0.35, 0.15, 0.25},
                          {0, 0, 0.5, 1, 1},
                          {0.02, 0.3, 2.7, 0.2, 0.35},
                          {0.1, 0.05, 1.6, 0.3, 0.15},
                          {0, 0, 5, 0, 0}};
    // Which variant the cases take.
    EXPECT_TRUE(sharpen_step(255, 0.02, 0.03, 1, 1, 0.175).eight.fixed);
    EXPECT_FALSE(sharpen_step(255, 0.01, 0.2, 0.15, 0.25, 0.35).eight.exact);
    for (std::uint32_t type : {image_gray8, image_color24, image_gray16, image_color48}) {
        for (std::uint32_t width : {1100u, 47u}) {
            const Image in = random_pixels(type, width, 5, width + type);
            Image blurred, out;
            ASSERT_FALSE(box_blur_image(in, blurred, 2, false));
            const Image mean = neighbour_mean(in, 1), mean4 = neighbour_mean(in, 0);
            for (const Case& c : cases) {
                SCOPED_TRACE(::testing::Message() << type << " " << width << " " << c.strength);
                ASSERT_FALSE(
                    unsharp_mask_image(in, out, 2, c.tb, c.tw, c.strength, c.over, c.under));
                EXPECT_TRUE(image_equal(
                    out, reference(in, blurred, c.tb, c.tw, c.strength, c.over, c.under)));
                for (int kernel : {0, 1}) {
                    ASSERT_FALSE(sharpen_image(in, out, kernel, c.over, c.under, c.tb, c.tw,
                                               c.strength, false));
                    EXPECT_TRUE(image_equal(out, reference(in, kernel ? mean : mean4, c.tb, c.tw,
                                                           c.strength, c.over, c.under)));
                }
            }
        }
    }
}

// The 16-bit blend divides |c - s| x t by 255 with shifts, exact for every product up to
// 65535 x 255. The rows reach the top of that range where sparse mid-grey pixels on black are
// pushed to white at strength 5 with a ramp ending just above their differences (t up to 254),
// and still give the plain form's pixels.
TEST(SharpenStep, SixteenBitBlendAtTheLargestSteps) {
    for (std::uint32_t x = 0; x <= 65535u * 255u; ++x) ASSERT_EQ(divide255(x), x / 255) << x;
    for (std::uint32_t type : {image_gray16, image_color48}) {
        Image in = random_pixels(type, 203, 7, 31);
        for (std::uint32_t i = 0; i < 203 * 7 * 3; ++i) {
            const std::uint32_t x = i / 3 % 203, y = i / 3 / 203;
            const int c = samples_per_pixel(in) == 3 ? static_cast<int>(i % 3) : 0;
            const int v = sample_at(in, x, y, c);
            set_sample_at(in, x, y, c, v % 3 ? 0 : 8000 + v % 8000);
        }
        Image blurred, out;
        ASSERT_FALSE(box_blur_image(in, blurred, 1, false));
        const Image mean = neighbour_mean(in, 0);
        for (const double tw : {0.25, 0.2442}) {
            ASSERT_FALSE(unsharp_mask_image(in, out, 1, 0, tw, 5, 1, 1));
            EXPECT_TRUE(image_equal(out, reference(in, blurred, 0, tw, 5, 1, 1))) << type << tw;
            ASSERT_FALSE(sharpen_image(in, out, 0, 1, 1, 0, tw, 5, false));
            EXPECT_TRUE(image_equal(out, reference(in, mean, 0, tw, 5, 1, 1))) << type << tw;
        }
    }
}

TEST(UnsharpMask, BlurredCopyAndLuminanceOnly) {
    // Radius 1 blurs 0 0 90 0 0 to 10 20 30 20 10: d = 60 lifts the peak to 150, capped at 116;
    // the sides would go below 0 and stay there.
    Image out;
    ASSERT_FALSE(unsharp_mask_image(image_of_rows(image_gray8, {{0, 0, 90, 0, 0}}), out, 1, 0, 0, 1,
                                    0.1, 0.1));
    EXPECT_EQ(rows_of(out), (Rows{{0, 0, 116, 0, 0}}));
    // Luminance only: V = 20 20 200 20 20 (red largest). The pixel beside the peak is pushed
    // to V' = 0 and turns black; the peak keeps its channel ratios.
    const Image in =
        image_of_rows(image_color24, {{5, 10, 20, 5, 10, 20, 50, 100, 200, 5, 10, 20, 5, 10, 20}});
    ASSERT_FALSE(unsharp_mask_image(in, out, 1, 0, 0, 5, 1, 1, unsharp_luminance));
    const std::vector<int> o = rows_of(out)[0];
    EXPECT_EQ(std::vector<int>(o.begin() + 3, o.begin() + 6), (std::vector<int>{0, 0, 0}));
    EXPECT_GT(o[8], 200);
    EXPECT_EQ(o[6], 50 * o[8] / 200);
    EXPECT_EQ(o[7], 100 * o[8] / 200);
    // Every pixel: channel x V' / V, V' being the sharpened maximum; rows wide enough for the
    // vector loops.
    for (std::uint32_t type : {image_color24, image_color48}) {
        const Image colours = random_pixels(type, 140, 6, 9);
        Image value, value_sharpened;
        ASSERT_FALSE(
            image_alloc(value, type == image_color24 ? image_gray8 : image_gray16, 140, 6, 0.0));
        for (std::uint32_t i = 0; i < 140 * 6; ++i) {
            set_sample_at(value, i % 140, i / 140, 0,
                          std::max({sample_at(colours, i % 140, i / 140, 0),
                                    sample_at(colours, i % 140, i / 140, 1),
                                    sample_at(colours, i % 140, i / 140, 2)}));
        }
        ASSERT_FALSE(unsharp_mask_image(value, value_sharpened, 2, 0.01, 0.1, 3, 0.3, 0.3));
        ASSERT_FALSE(
            unsharp_mask_image(colours, out, 2, 0.01, 0.1, 3, 0.3, 0.3, unsharp_luminance));
        for (std::uint32_t i = 0; i < 140 * 6 * 3; ++i) {
            const std::uint32_t x = i / 3 % 140, y = i / 3 / 140;
            const std::int64_t v = sample_at(value, x, y), vs = sample_at(value_sharpened, x, y),
                               s = sample_at(colours, x, y, i % 3);
            ASSERT_EQ(sample_at(out, x, y, i % 3), v == vs ? s : (v && vs ? s * vs / v : vs));
        }
    }
    // Radius 0 copies; other types fail.
    const Image colours = random_pixels(image_color48, 40, 6, 9);
    ASSERT_FALSE(unsharp_mask_image(colours, out, 0, 0, 0, 5, 1, 1));
    EXPECT_TRUE(image_equal(out, colours));
    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 8, 2, 0.0));
    EXPECT_TRUE(unsharp_mask_image(binary, out, 2, 0, 0, 1, 1, 1));
    EXPECT_TRUE(testing::is_empty_record(out));
}

}  // namespace
}  // namespace tessaly
