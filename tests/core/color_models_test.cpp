#include "core/color_models.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

namespace tessaly {
namespace {

// The usual hexagonal hue in turns (0..1) of a non-gray color.
double reference_hue(double r, double g, double b) {
    const double max = std::max({r, g, b}), d = max - std::min({r, g, b});
    if (max == r) return std::fmod((g - b) / d + 6, 6) / 6;
    return (max == g ? 2 + (b - r) / d : 4 + (r - g) / d) / 6;
}

int worst_channel_error(int r, int g, int b, int r2, int g2, int b2) {
    return std::max({std::abs(r - r2), std::abs(g - g2), std::abs(b - b2)});
}

TEST(ColorModels, HueSaturationValueAndLightnessAndBack) {
    // The six primaries and secondaries, one per hue formula, and R max with G = B.
    const int primaries[][4] = {{65535, 0, 0, 0},      {65535, 65535, 0, 10922},
                                {0, 65535, 0, 21845},  {0, 65535, 65535, 32767},
                                {0, 0, 65535, 43690},  {65535, 0, 65535, 54612},
                                {40000, 1000, 1000, 0}};
    for (auto [r, g, b, hue] : primaries) {
        int h, s, v;
        rgb_to_hsv16(r, g, b, h, s, v);
        EXPECT_EQ(h, hue) << r << " " << g << " " << b;
        EXPECT_EQ(v, std::max({r, g, b}));
    }
    // Every sector against the continuous hue (H only loses the integer divisions), and back.
    // A hue of 65536 steps per turn places the middle channel of a strongly colored pixel only
    // to about 6 x delta / 65535 levels; the inverse takes the centre of that range. Value,
    // maximum and minimum come back exactly (HSV) or within one level (HSL).
    std::mt19937 random(5);
    for (int i = 0; i < 2000000; ++i) {
        int r = random() % 65536, g = random() % 65536, b = random() % 65536;
        if (i % 4 == 0) g = std::clamp(r + static_cast<int>(random() % 2001) - 1000, 0, 65535);
        const int max = std::max({r, g, b}), min = std::min({r, g, b});
        int h, s, v, hl, sl, l, r2, g2, b2;
        rgb_to_hsv16(r, g, b, h, s, v);
        rgb_to_hsl16(r, g, b, hl, sl, l);
        ASSERT_EQ(h, hl);
        ASSERT_EQ(l, (max + min) / 2);
        if (max == min) {
            ASSERT_EQ(h + s + sl, 0);
        } else {
            ASSERT_NEAR(h, reference_hue(r, g, b) * 65535, 2.0) << r << " " << g << " " << b;
            ASSERT_EQ(s, static_cast<std::int64_t>(max - min) * 65535 / max);
            const std::int64_t den = l <= 32767 ? max + min : 2 * 65535 - max - min;
            ASSERT_EQ(sl, (max - min) * std::int64_t{65535} / den);
        }
        const int allowed = 1 + static_cast<int>(3.5 * (max - min) / 65535.0);
        hsv16_to_rgb(h, s, v, r2, g2, b2);
        ASSERT_LE(worst_channel_error(r, g, b, r2, g2, b2), allowed) << r << " " << g << " " << b;
        ASSERT_EQ(std::max({r2, g2, b2}), max);
        ASSERT_EQ(std::min({r2, g2, b2}), min);
        hsl16_to_rgb(hl, sl, l, r2, g2, b2);
        ASSERT_LE(worst_channel_error(r, g, b, r2, g2, b2), allowed + 1)
            << r << " " << g << " " << b;
    }
    // Out-of-range components are clamped, and a hue past a full turn wraps.
    int r, g, b;
    hsv16_to_rgb(65535 + 10922, 70000, 70000, r, g, b);
    EXPECT_TRUE(r == 65535 && g >= 65535 - 8 && b == 0) << r << " " << g << " " << b;
    // The 8-bit forms work on the 12-bit scale, and come back exactly.
    int h, s, v, l;
    rgb_to_hsv8(0, 255, 255, h, s, v);
    EXPECT_EQ(std::vector<int>({h, s, v}), std::vector<int>({2048, 4096, 4096}));
    rgb_to_hsl8(255, 0, 255, h, s, l);
    EXPECT_EQ(std::vector<int>({h, s, l}), std::vector<int>({5 * 4096 / 6, 4096, 2048}));
    rgb_to_hsl8(255, 255, 128, h, s, l);
    EXPECT_EQ(l, (4096 + to12[128]) / 2);
    EXPECT_EQ(s, (4096 - to12[128]) * 4096 / (8192 - 4096 - to12[128]));
    for (int i = 0; i < (1 << 24); ++i) {
        r = i >> 16, g = (i >> 8) & 255, b = i & 255;
        int r2, g2, b2;
        rgb_to_hsv8(r, g, b, h, s, v);
        hsv12_to_rgb8(h, s, v, r2, g2, b2);
        ASSERT_TRUE(r == r2 && g == g2 && b == b2) << "HSV " << r << " " << g << " " << b;
        rgb_to_hsl8(r, g, b, h, s, v);
        hsl12_to_rgb8(h, s, v, r2, g2, b2);
        ASSERT_TRUE(r == r2 && g == g2 && b == b2) << "HSL " << r << " " << g << " " << b;
    }
}

TEST(ColorModels, ChromaPlane) {
    int cx, cy, max;
    rgb_to_chroma8(200, 100, 50, cx, cy);
    EXPECT_EQ(std::pair(cx, cy), std::pair(43, 125));  // 50 x 0.866 = 43.3
    rgb_to_chroma8(0, 10, 13, cx, cy);
    EXPECT_EQ(std::pair(cx, cy), std::pair(-3, -11));  // -2.598 rounds away from zero
    rgb_to_chroma16(200, 100, 51, true, cx, cy);
    EXPECT_EQ(std::pair(cx, cy), std::pair(85, 249));  // 98 x 0.866 = 84.87; 400 - 151
    rgb_to_chroma16_normalised(100, 50, 0, cx, cy, max);
    EXPECT_EQ(std::vector<int>({cx, cy, max}), std::vector<int>({28378, 65535 - 16384, 100}));
    rgb_to_chroma16_normalised(0, 0, 0, cx, cy, max);
    EXPECT_EQ(cx | cy | max, 0);
    float fx, fy;
    rgb_to_chroma_float(0.5f, 0.25f, 0.0f, fx, fy);
    EXPECT_NEAR(fx, 0.5 * 0.8660254, 1e-6);
    EXPECT_NEAR(fy, 0.75, 1e-6);

    // Back from the plane with the largest channel as the level: every 8-bit color within one.
    int worst = 0, r, g, b;
    for (int i = 0; i < (1 << 24); ++i) {
        const int r1 = i >> 16, g1 = (i >> 8) & 255, b1 = i & 255;
        rgb_to_chroma8(r1, g1, b1, cx, cy);
        chroma_to_rgb(cx, cy, std::max({r1, g1, b1}), 255, r, g, b);
        worst = std::max(worst, worst_channel_error(r1, g1, b1, r, g, b));
    }
    EXPECT_LE(worst, 1);
    // A level too low for the chroma clips at 0; too high clips at the limit.
    chroma_to_rgb(0, 200, 100, 255, r, g, b);
    EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({100, 0, 0}));
    chroma_to_rgb(0, -60000, 65535, 65535, r, g, b);
    EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({5535, 65535, 65535}));
}

TEST(ColorModels, SaturationMappingKeepsHueAndValueOrLightness) {
    std::uint8_t identity[256], none[256] = {}, full[256];
    for (int i = 0; i < 256; ++i) identity[i] = static_cast<std::uint8_t>(i), full[i] = 255;
    for (int i = 0; i < 52 * 86 * 37; ++i) {
        const int r = i / (86 * 37) * 5, g = i / 37 % 86 * 3, b = i % 37 * 7;
        const int max = std::max({r, g, b}), min = std::min({r, g, b});
        int r2 = r, g2 = g, b2 = b;
        saturation_map_hsv(r2, g2, b2, identity);
        ASSERT_LE(worst_channel_error(r, g, b, r2, g2, b2), 1);
        r2 = r, g2 = g, b2 = b;
        saturation_map_hsl(r2, g2, b2, identity, 255);
        ASSERT_LE(worst_channel_error(r, g, b, r2, g2, b2), 2);
        // No saturation: gray at the same value (HSV) or lightness (HSL); an odd max + min
        // cannot split evenly, the two halves differ by one.
        r2 = r, g2 = g, b2 = b;
        saturation_map_hsv(r2, g2, b2, none);
        ASSERT_TRUE(r2 == max && g2 == max && b2 == max);
        r2 = r, g2 = g, b2 = b;
        saturation_map_hsl(r2, g2, b2, none, 255);
        if (max + min != 510 && max != min) {
            ASSERT_LE(std::max({r2, g2, b2}) - std::min({r2, g2, b2}), (max + min) % 2);
            ASSERT_EQ(std::max({r2, g2, b2}) + std::min({r2, g2, b2}), max + min);
        }
        // Full saturation keeps the hue.
        r2 = r, g2 = g, b2 = b;
        saturation_map_hsv(r2, g2, b2, full);
        if (max > min) {
            ASSERT_EQ(std::min({r2, g2, b2}), 0);
            ASSERT_EQ(std::max({r2, g2, b2}), max);
            ASSERT_NEAR(reference_hue(r2, g2, b2), reference_hue(r, g, b), 1.0 / max);
        }
    }
    // Black, white and gray stay as they are even when the table would add saturation.
    for (int level : {0, 128, 255}) {
        int r = level, g = level, b = level;
        saturation_map_hsv(r, g, b, full);
        saturation_map_hsl(r, g, b, full, 255);
        EXPECT_TRUE(r == level && g == level && b == level);
    }
    // 16-bit channels: products beyond 32 bits, hue and value or lightness kept.
    int r = 60000, g = 20000, b = 5000;
    saturation_map_hsl(r, g, b, full, 65535);
    EXPECT_TRUE(r == 65000 && b == 0) << r << " " << b;
    EXPECT_NEAR(reference_hue(r, g, b), reference_hue(60000, 20000, 5000), 1e-4);
    r = 60000, g = 20000, b = 10000;
    saturation_map_hsv(r, g, b, full);
    EXPECT_TRUE(r == 60000 && g == 12000 && b == 0);
}

}  // namespace
}  // namespace tessaly
