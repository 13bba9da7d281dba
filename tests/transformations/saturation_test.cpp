// Saturation: the level tables shared with Brightness, and the saturation mappings through them,
// one table per pixel under a mask.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/color_models.h"
#include "point_filter_helpers.h"

namespace tessaly {
namespace {

using testing::Pixel;
using testing::PointRun;

std::string line(const std::string& amounts, int colorspace, int code) {
    return "saturation 0 amount " + amounts + " 1 1 \u2033Saturation: \u2033 \u2033Mask\u2033 " +
           "colorspace " + std::to_string(colorspace) + " code " + std::to_string(code);
}

TEST(LevelTables, EndsMiddleAndEachPreserveRule) {
    testing::LevelTableCache<std::uint8_t> both{preserve_both}, low{preserve_low},
        high{preserve_high}, neither{preserve_neither};
    for (auto* t : {&both, &low, &high, &neither}) {
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ((*t)(0)[i], 0);
            ASSERT_EQ((*t)(127)[i], i);
            ASSERT_EQ((*t)(255)[i], 255);
        }
    }
    EXPECT_EQ(low(200)[50], 142);   // round(50 tan(200 pi / 510))
    EXPECT_EQ(low(254)[0], 0);      // below the top level T[0] stays 0
    EXPECT_EQ(high(60)[245], 229);  // 255 - round(10 tan(195 pi / 510))
    EXPECT_EQ(high(1)[255], 255);   // above level 0 T[M] stays M
    // A shift by 2 v M / 255 - M, clamped: a gray pixel's entry becomes positive above 127.
    EXPECT_EQ(neither(200)[0], 145);
    EXPECT_EQ(neither(200)[200], 255);
    EXPECT_EQ(neither(60)[0], 0);
    // The power ease toward the low end below the middle level, the high end above it.
    EXPECT_EQ(both(64)[128], 73);
    EXPECT_EQ(both(200)[128], 193);
    testing::LevelTableCache<std::uint16_t> deep{preserve_both};
    EXPECT_EQ(deep(64)[32768], 18611);
    EXPECT_EQ(deep(64)[65535], 65535);
}

TEST(Saturation, FullAmountsMakeGrayAndFullSaturation) {
    const Image in = testing::noise_picture(image_color24, 4);
    for (int colorspace = 0; colorspace < 2; ++colorspace) {
        for (int code = 0; code < 4; ++code) {
            PointRun run(in), run_full(in);
            const Image& gray = run.run(line("0 -1", colorspace, code));
            const Image& full = run_full.run(line("1 -1", colorspace, code));
            for (std::uint32_t x = 0; x < in.width; ++x) {
                const Pixel q = testing::pixel_at(in, x, 4), p = testing::pixel_at(gray, x, 4);
                const int low = std::ranges::min(q), high = std::ranges::max(q);
                // HSL keeps max + min, so an odd sum stays one level from gray.
                EXPECT_LE(std::ranges::max(p) - std::ranges::min(p), colorspace * (low + high) % 2);
                // HSV drives the minimum to 0; HSL keeps the lightness and reaches one end.
                const Pixel f = testing::pixel_at(full, x, 4);
                if (low == high) continue;
                EXPECT_TRUE(std::ranges::min(f) == 0 || (colorspace && std::ranges::max(f) == 255));
            }
        }
    }
}

// Random pictures of both depths against the core's mappings through tables made here; under a
// mask each pixel's level is blend8 of the black and white amounts' levels (63 and 191; mask
// value 128 gives the middle level 127).
TEST(Saturation, EveryDepthMatchesThePlainForm) {
    const Image mask = testing::level_mask(image_gray8, 9);
    for (std::uint32_t type : {image_color24, image_color48}) {
        const Image in = testing::noise_picture(type, type + 1);
        const bool deep = type == image_color48;
        for (int colorspace = 0; colorspace < 2; ++colorspace) {
            for (int code = 0; code < 4; ++code) {
                testing::LevelTableCache<std::uint8_t> t8{code};
                testing::LevelTableCache<std::uint16_t> t16{code};
                auto mapped = [&](const Pixel& p, int level) {
                    std::int32_t r = p[0], g = p[1], b = p[2];
                    if (colorspace == 0) {
                        deep ? saturation_map_hsv16(r, g, b, t16(level))
                             : saturation_map_hsv(r, g, b, t8(level));
                    } else {
                        deep ? saturation_map_hsl16(r, g, b, t16(level))
                             : saturation_map_hsl(r, g, b, t8(level), 255);
                    }
                    return Pixel{r, g, b};
                };
                PointRun run(in);
                EXPECT_TRUE(testing::every_pixel(in, run.run(line("0.3 -1", colorspace, code)),
                                                 [&](const Pixel& p) { return mapped(p, 76); }));
                PointRun masked(in, &mask);
                const Image& out = masked.run(line("0.25 0.75", colorspace, code));
                for (std::uint32_t y = 0; y < in.height; ++y) {
                    for (std::uint32_t x = 0; x < in.width; ++x) {
                        const int level = blend8(63, 191, mask.rows[y][x]);
                        ASSERT_EQ(testing::pixel_at(out, x, y),
                                  mapped(testing::pixel_at(in, x, y), level))
                            << type << " " << colorspace << " " << code << " at " << x << "," << y;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace tessaly
