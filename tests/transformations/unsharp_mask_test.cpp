// Unsharp Mask and Sharpen, and the per-pixel step they share.
#include "transformations/unsharp_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/numeric.h"
#include "core/tables.h"
#include "framework/module.h"
#include "support/module_helpers.h"
#include "support/image_helpers.h"
#include "transformations/gaussian_blur.h"
#include "transformations/sharpen.h"
#include "transformations/sharpen_step.h"

namespace tessaly {
namespace {

using Rows = std::vector<std::vector<int>>;

int channels(const Image& im) {
    return im.type == image_color24 || im.type == image_color48 ? 3 : 1;
}
bool wide(const Image& im) {
    return im.type == image_gray16 || im.type == image_color48;
}
int get(const Image& im, std::uint32_t x, std::uint32_t y, int c = 0) {
    const std::size_t i = x * channels(im) + c;
    return wide(im) ? sample16(im.rows[y], i) : im.rows[y][i];
}
void put(Image& im, std::uint32_t x, std::uint32_t y, int c, int v) {
    const std::size_t i = x * channels(im) + c;
    if (wide(im)) {
        set_sample16(im.rows[y], i, static_cast<std::uint16_t>(v));
    } else {
        im.rows[y][i] = static_cast<std::uint8_t>(v);
    }
}

// rows[y] holds the samples of stored row y (C per pixel).
Image make(std::uint32_t type, const Rows& rows) {
    Image im;
    const int c = type == image_color24 || type == image_color48 ? 3 : 1;
    EXPECT_FALSE(image_alloc(im, type, static_cast<std::uint32_t>(rows[0].size() / c),
                             static_cast<std::uint32_t>(rows.size()), 0.0));
    for (std::uint32_t y = 0; y < im.height; ++y) {
        for (std::uint32_t x = 0; x < im.width; ++x) {
            for (int k = 0; k < c; ++k) put(im, x, y, k, rows[y][x * c + k]);
        }
    }
    return im;
}
Rows samples(const Image& im) {
    Rows out(im.height);
    for (std::uint32_t y = 0; y < im.height; ++y) {
        for (std::uint32_t x = 0; x < im.width; ++x) {
            for (int k = 0; k < channels(im); ++k) out[y].push_back(get(im, x, y, k));
        }
    }
    return out;
}
// 3 x 3 gray with the centre c and every other pixel n.
Image centre(std::uint32_t type, int c, int n) {
    return make(type, {{n, n, n}, {n, c, n}, {n, n, n}});
}

Rows sharpened(const Image& in, int kernel, double over, double under, double tb, double tw,
               double strength) {
    Image out;
    EXPECT_FALSE(sharpen_image(in, out, kernel, over, under, tb, tw, strength, false));
    return samples(out);
}

Image random_image(std::uint32_t type, std::uint32_t w, std::uint32_t h, std::uint32_t seed) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 0.0));
    // Pixel bytes only: the row padding stays zero, as in every output.
    const std::uint32_t c = type == image_color24 || type == image_color48 ? 3 : 1;
    const std::uint32_t bytes = type == image_gray16 || type == image_color48 ? 2 : 1;
    testing::fill_pattern(im, w * c * bytes, seed);
    return im;
}

// The step written plainly, one pixel at a time, on the library's own blends: m holds the
// reference samples (blurred, or the neighbourhood mean).
Image reference(const Image& in, const Image& m, double tb, double tw, double strength, double over,
                double under) {
    const int full = wide(in) ? 65535 : 255;
    const int low = round_to_int(tb * full), high = round_to_int(tw * full);
    const int up = round_to_int(over * full), down = round_to_int(under * full);
    Image out;
    EXPECT_FALSE(image_copy(in, out));
    for (std::uint32_t y = 0; y < in.height; ++y) {
        for (std::uint32_t x = 0; x < in.width; ++x) {
            int d = 0;
            for (int c = 0; c < channels(in); ++c)
                d = std::max(d, std::abs(get(in, x, y, c) - get(m, x, y, c)));
            for (int c = 0; c < channels(in); ++c) {
                const int s = get(in, x, y, c);
                const int cand =
                    std::clamp(s + round_to_int((s - get(m, x, y, c)) * strength), 0, full);
                int o = cand;
                if (d < low) {
                    o = s;
                } else if (d < high) {
                    const int t = (d - low) * 255 / (high - low);
                    o = full == 255
                            ? blend8(static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(cand),
                                     static_cast<std::uint8_t>(t))
                            : blend16(static_cast<std::uint16_t>(s),
                                      static_cast<std::uint16_t>(cand),
                                      static_cast<std::uint32_t>(t));
                }
                put(out, x, y, c, std::clamp(o, s - down, s + up));
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
    auto at = [&](int x, int y, int c) {
        return get(in, static_cast<std::uint32_t>(std::clamp(x, 0, w - 1)),
                   static_cast<std::uint32_t>(std::clamp(y, 0, h - 1)), c);
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < channels(in); ++c) {
                int sum = at(x, y - 1, c) + at(x - 1, y, c) + at(x + 1, y, c) + at(x, y + 1, c);
                if (kernel == 1) {
                    sum += at(x - 1, y - 1, c) + at(x + 1, y - 1, c) + at(x - 1, y + 1, c) +
                           at(x + 1, y + 1, c);
                }
                put(m, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), c,
                    kernel == 1 ? sum >> 3 : sum >> 2);
            }
        }
    }
    return m;
}

constexpr std::uint32_t all_types[] = {image_gray8, image_color24, image_gray16, image_color48};

TEST(SharpenStep, ThresholdsRampAndLimitsByHand) {
    // 100 among 50: mean 50, d = 50, candidate 150, overshoot rnd(25.5) = 26 caps it at 126. The
    // edge pixel 50 beside it sees itself in the border: mean (50 + 100 + 50 + 50) >> 2 = 62,
    // candidate 38; with all eight, (7 x 50 + 100) >> 3 = 56, candidate 44.
    const Image hundred = centre(image_gray8, 100, 50);
    EXPECT_EQ(sharpened(hundred, 0, 0.1, 0.1, 0, 0, 1),
              (Rows{{50, 38, 50}, {38, 126, 38}, {50, 38, 50}}));
    EXPECT_EQ(sharpened(hundred, 1, 0.1, 0.1, 0, 0, 1)[1], (std::vector<int>{44, 126, 44}));
    // Equal thresholds, rnd(0.04 x 255) = 10: 9 stays, 10 is sharpened fully.
    EXPECT_EQ(sharpened(centre(image_gray8, 109, 100), 0, 0.1, 0.1, 0.04, 0.04, 1)[1][1], 109);
    EXPECT_EQ(sharpened(centre(image_gray8, 110, 100), 0, 0.1, 0.1, 0.04, 0.04, 1)[1][1], 120);
    // Ramp from 5 to rnd(25.5) = 26: D = 20 gives t = 15 x 255 / 21 = 182; strength 1.3 moves by
    // 26, blend8 by (26 x 182 + 127) / 255 = 19 either way.
    EXPECT_EQ(sharpened(centre(image_gray8, 120, 100), 0, 1, 1, 0.02, 0.1, 1.3)[1][1], 139);
    EXPECT_EQ(sharpened(centre(image_gray8, 80, 100), 0, 1, 1, 0.02, 0.1, 1.3)[1][1], 61);
    // 16 bits, ramp from 655 to 3277: D = 2000 gives t = 1345 x 255 / 2622 = 130, blend16 moves
    // by 2000 x 130 / 255 = 1019 (truncated toward zero both ways).
    EXPECT_EQ(sharpened(centre(image_gray16, 12000, 10000), 0, 0.1, 0.1, 0.01, 0.05, 1)[1][1],
              13019);
    EXPECT_EQ(sharpened(centre(image_gray16, 8000, 10000), 0, 0.1, 0.1, 0.01, 0.05, 1)[1][1], 6981);
    // RGB: the largest difference (30 in red) reaches the threshold, so green's 5 is sharpened
    // too; red stops at the overshoot 130 + 26, blue has nothing to add.
    const Image colour = make(image_color24, {std::vector<int>(9, 100),
                                              {100, 100, 100, 100, 105, 130, 100, 100, 100},
                                              std::vector<int>(9, 100)});
    EXPECT_EQ(sharpened(colour, 0, 0.1, 0.1, 0.04, 0.04, 1)[1],
              (std::vector<int>{100, 100, 100, 100, 110, 156, 100, 100, 100}));
}

// Both modules against the plain form, on pictures wide enough for several blocks, with and
// without a ramp; flat pictures and zero halo limits give the input back.
TEST(SharpenStep, ModulesMatchThePlainForm) {
    for (std::uint32_t type : all_types) {
        const Image in = random_image(type, 1100, 7, type);
        for (auto [tb, tw] : {std::pair{0.02, 0.3}, std::pair{0.1, 0.05}}) {
            Image blurred, out;
            ASSERT_FALSE(gaussian_blur_image(in, blurred, 2, gaussian_blur_all_channels));
            ASSERT_FALSE(unsharp_mask_image(in, out, 2, tb, tw, 2.7, 0.2, 0.35));
            EXPECT_TRUE(image_equal(out, reference(in, blurred, tb, tw, 2.7, 0.2, 0.35))) << type;
            for (int kernel : {0, 1}) {
                ASSERT_FALSE(sharpen_image(in, out, kernel, 0.3, 0.15, tb, tw, 1.6, false));
                EXPECT_TRUE(image_equal(
                    out, reference(in, neighbour_mean(in, kernel), tb, tw, 1.6, 0.3, 0.15)))
                    << type << " kernel " << kernel;
            }
        }
        Image out;
        ASSERT_FALSE(unsharp_mask_image(in, out, 3, 0, 0, 5, 0, 0));
        EXPECT_TRUE(image_equal(out, in));
        ASSERT_FALSE(sharpen_image(in, out, 1, 0, 0, 0, 0, 2, false));
        EXPECT_TRUE(image_equal(out, in));
        Image flat = random_image(type, 9, 5, 1);
        for (std::uint32_t y = 0; y < flat.height; ++y) {
            for (std::uint32_t x = 0; x < flat.width; ++x) {
                for (int c = 0; c < channels(flat); ++c) put(flat, x, y, c, 77 + 40 * c);
            }
        }
        ASSERT_FALSE(unsharp_mask_image(flat, out, 5, 0, 0, 5, 1, 1, unsharp_luminance));
        EXPECT_TRUE(image_equal(out, flat));
        ASSERT_FALSE(sharpen_image(flat, out, 0, 1, 1, 0, 0, 2, false));
        EXPECT_TRUE(image_equal(out, flat));
    }
}

// The 8-bit integer form: set up for almost every strength (the rest run the double form) and
// for every pair of thresholds, and then equal to rounding and to the ramp written plainly.
TEST(SharpenStep, EightBitIntegerForm) {
    int tried = 0, exact = 0, fixed = 0, wrong = 0;
    for (int i = 0; i <= 50000; i += 3) {
        const double strength = i / 10000.0;
        ++tried;
        const SharpenStep8 e = sharpen_step(255, 0.04, 0.04, 0.1, 0.1, strength).eight;
        if (!e.exact) continue;
        ++exact;
        fixed += e.fixed;
        for (int a = 0; a <= 255; ++a) wrong += step8_delta(e, a) != round_to_int(a * strength);
    }
    EXPECT_GE(exact * 1000, tried * 999);
    EXPECT_GT(fixed, 0);
    EXPECT_EQ(wrong, 0);
    int inexact = 0;
    for (int low = 0; low <= 255; ++low) {
        for (int high = 0; high <= 255; ++high) {
            const SharpenStep8 e = sharpen_step(255, low / 255.0, high / 255.0, 0.1, 0.1, 1).eight;
            inexact += !e.exact;
            for (int d = 0; d <= 255; ++d) {
                const int t = high <= low ? (d < low ? 0 : 255)
                              : d < low   ? 0
                              : d >= high ? 255
                                          : (d - low) * 255 / (high - low);
                wrong += step8_weight(e, d) != t;
            }
        }
    }
    EXPECT_EQ(inexact, 0);
    EXPECT_EQ(wrong, 0);
    // The lanes divide the blend by 255 as a product.
    for (std::uint32_t x = 0; x < 65536; ++x) wrong += (x * 0x8081u) >> 23 != x / 255;
    EXPECT_EQ(wrong, 0);
    // Settings outside the lanes' ranges keep the double form.
    EXPECT_FALSE(sharpen_step(255, 0.04, 0.04, 0.1, 0.1, -1).eight.exact);
    EXPECT_FALSE(sharpen_step(255, 0.04, 0.04, -0.1, 0.1, 1).eight.exact);
    EXPECT_FALSE(sharpen_step(65535, 0.04, 0.04, 0.1, 0.1, 1).eight.exact);
}

// The vector rows against the plain form on 8-bit pictures, in every variant: threshold or
// ramp (one, three and 255 samples wide), strengths with and without corrections or taking the
// double form, halo limits at both ends; rows with whole groups of 16 pixels and a tail.
TEST(SharpenStep, EightBitRowsMatchThePlainForm) {
    struct Case {
        double tb, tw, strength, over, under;
    };
    const Case cases[] = {{0.04, 0.04, 1, 0.1, 0.1},     {0.02, 0.03, 0.175, 1, 1},
                          {0.1, 0.106, 2.7, 0.2, 0},     {0, 1, 4.9999, 1, 1},
                          {0.5, 0.2, 5, 0, 0.3},         {1, 1, 1.3, 0.05, 1},
                          {0.01, 0.2, 0.35, 0.15, 0.25}, {0, 0, 0.5, 1, 1}};
    // Which variant each case takes.
    EXPECT_TRUE(sharpen_step(255, 0.02, 0.03, 1, 1, 0.175).eight.fixed);
    EXPECT_FALSE(sharpen_step(255, 0.01, 0.2, 0.15, 0.25, 0.35).eight.exact);
    for (std::uint32_t type : {image_gray8, image_color24}) {
        for (std::uint32_t width : {1100u, 47u}) {
            const Image in = random_image(type, width, 5, width + type);
            Image blurred, out;
            ASSERT_FALSE(gaussian_blur_image(in, blurred, 1, gaussian_blur_all_channels));
            const Image mean = neighbour_mean(in, 1);
            for (const Case& c : cases) {
                ASSERT_FALSE(
                    unsharp_mask_image(in, out, 1, c.tb, c.tw, c.strength, c.over, c.under));
                EXPECT_TRUE(image_equal(
                    out, reference(in, blurred, c.tb, c.tw, c.strength, c.over, c.under)))
                    << type << " " << width << " " << c.strength;
                ASSERT_FALSE(
                    sharpen_image(in, out, 1, c.over, c.under, c.tb, c.tw, c.strength, false));
                EXPECT_TRUE(
                    image_equal(out, reference(in, mean, c.tb, c.tw, c.strength, c.over, c.under)))
                    << type << " " << width << " " << c.strength;
            }
        }
    }
}

TEST(UnsharpMaskImage, BlurredCopyAndLuminanceOnly) {
    // Radius 1 blurs 0 0 90 0 0 to 10 20 30 20 10: d = 60 lifts the peak to 150, capped at 116;
    // the sides would go below 0 and stay there.
    Image out;
    ASSERT_FALSE(
        unsharp_mask_image(make(image_gray8, {{0, 0, 90, 0, 0}}), out, 1, 0, 0, 1, 0.1, 0.1));
    EXPECT_EQ(samples(out), (Rows{{0, 0, 116, 0, 0}}));

    // Luminance only: V = 20 20 200 20 20 (red largest). The pixel beside the peak is pushed
    // to V' = 0 and turns black; the peak keeps its channel ratios.
    const Image in =
        make(image_color24, {{5, 10, 20, 5, 10, 20, 50, 100, 200, 5, 10, 20, 5, 10, 20}});
    ASSERT_FALSE(unsharp_mask_image(in, out, 1, 0, 0, 5, 1, 1, unsharp_luminance));
    const std::vector<int> o = samples(out)[0];
    EXPECT_EQ(std::vector<int>(o.begin() + 3, o.begin() + 6), (std::vector<int>{0, 0, 0}));
    EXPECT_GT(o[8], 200);
    EXPECT_EQ(o[6], 50 * o[8] / 200);
    EXPECT_EQ(o[7], 100 * o[8] / 200);
    // Every pixel: channel x V' / V, V' being the sharpened maximum; rows wide enough for the
    // vector loops.
    for (std::uint32_t type : {image_color24, image_color48}) {
        const Image colours = random_image(type, 140, 6, 9);
        Image value, value_sharpened;
        ASSERT_FALSE(
            image_alloc(value, type == image_color24 ? image_gray8 : image_gray16, 140, 6, 0.0));
        for (std::uint32_t y = 0; y < 6; ++y) {
            for (std::uint32_t x = 0; x < 140; ++x) {
                put(value, x, y, 0,
                    std::max(
                        {get(colours, x, y, 0), get(colours, x, y, 1), get(colours, x, y, 2)}));
            }
        }
        ASSERT_FALSE(unsharp_mask_image(value, value_sharpened, 2, 0.01, 0.1, 3, 0.3, 0.3));
        ASSERT_FALSE(
            unsharp_mask_image(colours, out, 2, 0.01, 0.1, 3, 0.3, 0.3, unsharp_luminance));
        for (std::uint32_t y = 0; y < 6; ++y) {
            for (std::uint32_t x = 0; x < 140; ++x) {
                const std::int64_t v = get(value, x, y), vs = get(value_sharpened, x, y);
                for (int c = 0; c < 3; ++c) {
                    const std::int64_t s = get(colours, x, y, c);
                    EXPECT_EQ(get(out, x, y, c), v == vs ? s : (v && vs ? s * vs / v : vs));
                }
            }
        }
    }
    const Image colours = random_image(image_color48, 40, 6, 9);
    // Radius 0 or strength 0 copy; other types fail.
    ASSERT_FALSE(unsharp_mask_image(colours, out, 0, 0, 0, 5, 1, 1));
    EXPECT_TRUE(image_equal(out, colours));
    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 8, 2, 0.0));
    EXPECT_TRUE(unsharp_mask_image(binary, out, 2, 0, 0, 1, 1, 1));
    EXPECT_TRUE(testing::is_empty_record(out));
}

class SharpenRun : public ::testing::Test {
  protected:
    void SetUp() override {
        input.parent = &tree_root();
        node.parent = &input;
    }
    std::uint8_t run(const char* keyword, const std::string& line) {
        return find_module(keyword)->run(&input, &node, split(line));
    }
    Node input, node;
};

TEST_F(SharpenRun, OldSingleThresholdSetsBothUnlessTheyAreGiven) {
    // The old threshold (0..255) sets both; the two keys override it whatever their place.
    EXPECT_EQ(testing::normalised("unsharp_mask 0 thresholdw 0.5 threshold 51"),
              "unsharp_mask 0 radius 2 thresholdb 0.2 thresholdw 0.5 what 0 strength 1 "
              "maxovershoot 0.1 maxundershoot 0.1 amount 1 -1 0 1 \u2033Amount: \u2033 "
              "\u2033Mask\u2033 display 1 sync_scroll 1");
    EXPECT_EQ(testing::normalised("sharpen 0 threshold 255 thresholdb 0.1"),
              "sharpen 0 kernel 0 maxovershoot 0.1 maxundershoot 0.1 thresholdb 0.1 "
              "thresholdw 1 strength 1 amount 1 -1 0 1 \u2033Amount: \u2033 \u2033Mask\u2033 "
              "display 1 sync_scroll 1 auto_preview 1");
}

TEST_F(SharpenRun, AmountTypesAndFailures) {
    // Peak 90 sharpened to 116 at full amount; at 5004 (weight 127) 90 + (26 x 127 + 127) / 255.
    input.image = make(image_gray8, {{0, 0, 90, 0, 0}});
    const std::string amount = " amount 0.5 -1 0 1 \u2033A\u2033 \u2033M\u2033";
    ASSERT_EQ(run("unsharp_mask", "unsharp_mask 0 radius 1 thresholdb 0 thresholdw 0" + amount), 0);
    EXPECT_EQ(samples(node.image), (Rows{{0, 0, 103, 0, 0}}));
    ASSERT_EQ(run("unsharp_mask", "unsharp_mask 0 radius 0"), 0);
    EXPECT_TRUE(image_equal(node.image, input.image));
    // Sharpen on one row: above and below are the row itself, so the peak's mean is
    // (90 + 0 + 0 + 90) >> 2 = 45 and its candidate 135, capped at 116 again.
    ASSERT_EQ(run("sharpen", "sharpen 0 thresholdb 0 thresholdw 0" + amount), 0);
    EXPECT_EQ(samples(node.image), (Rows{{0, 0, 103, 0, 0}}));

    // A binary picture is sharpened as 8-bit gray.
    ASSERT_FALSE(image_alloc(input.image, image_binary, 3, 3, 0.0));
    bit_set(input.image.rows[1], 1);
    ASSERT_EQ(run("sharpen", "sharpen 0 kernel 1"), 0);
    EXPECT_EQ(node.image.type, image_gray8);
    EXPECT_EQ(samples(node.image), (Rows{{0, 0, 0}, {0, 255, 0}, {0, 0, 0}}));

    ASSERT_FALSE(image_alloc(input.image, image_float_gray, 3, 3, 0.0));
    EXPECT_EQ(run("unsharp_mask", "unsharp_mask 0 radius 2"), 1);
    EXPECT_EQ(node.error_text, "Illegal input image type");
    node.error_text.clear();
    EXPECT_EQ(run("sharpen", "sharpen 0 kernel 0"), 1);
    EXPECT_EQ(node.error_text, "Illegal input image type");
    EXPECT_EQ(run("sharpen", "unsharp_mask 0 kernel 0"), 1);
    EXPECT_EQ(node.error_text, "Illegal Sharpen command line");
    EXPECT_EQ(run("unsharp_mask", "sharpen 0 radius 1"), 1);
    EXPECT_EQ(node.error_text, "Illegal Unsharp Mask command line");
}

}  // namespace
}  // namespace tessaly
