// Brightness: the level tables of Saturation over the tone scale, through gray samples, the HSV
// value or the HSL lightness, one table per pixel under a mask.
#include <gtest/gtest.h>

#include <algorithm>

#include "kernels/tone.h"
#include "point_filter_helpers.h"

namespace tessaly {
namespace {

using testing::Pixel;
using testing::PointRun;

std::string line(const std::string& amounts, int colorspace, int preserve) {
    return "brightness 0 amount " + amounts + " 1 1 \u2033Brightness: \u2033 \u2033Mask\u2033 " +
           "colorspace " + std::to_string(colorspace) + " preserve " + std::to_string(preserve);
}

constexpr std::uint32_t all_types[] = {image_gray8, image_color24, image_gray16, image_color48};

TEST(Brightness, FullAmountsAndTheEndsEachPreserveKeeps) {
    for (std::uint32_t type : all_types) {
        Image in = testing::noise_picture(type, type);
        const std::int32_t top = testing::is_deep(in) ? 65535 : 255;
        testing::set_pixel(in, 0, 0, {0, 0, 0});
        testing::set_pixel(in, 1, 0, {top, top, top});
        for (int preserve = 0; preserve < 4; ++preserve) {
            PointRun run(in);
            auto uniform = [](std::int32_t v) {
                return [v](const Pixel&) { return Pixel{v, v, v}; };
            };
            EXPECT_TRUE(testing::every_pixel(in, run.run(line("0 -1", 0, preserve)), uniform(0)));
            EXPECT_TRUE(testing::every_pixel(in, run.run(line("1 -1", 1, preserve)), uniform(top)));
            // HSV scales the channels to the top value: white only where they were equal.
            const Image& bright = run.run(line("1 -1", 0, preserve));
            for (std::uint32_t x = 0; x < in.width; ++x) {
                EXPECT_EQ(std::ranges::max(testing::pixel_at(bright, x, 2)), top) << x;
            }
            for (const char* amount : {"0.02 -1", "0.7 -1", "0.99 -1"}) {
                const Image& out = run.run(line(amount, preserve % 2, preserve));
                const std::int32_t kept = preserve == preserve_low    ? 0
                                          : preserve == preserve_high ? top
                                                                      : -1;
                if (kept >= 0) {
                    EXPECT_EQ(testing::pixel_at(out, kept ? 1 : 0, 0)[0], kept);
                }
            }
        }
    }
}

TEST(Brightness, HsvScalesTheChannelsAlike) {
    const Image in = testing::pixels_picture(image_color24, {{200, 100, 50}, {0, 0, 0}});
    PointRun run(in);
    // Level 191, both ends kept: the value 200 becomes T[200], the others follow by T[200] / 200.
    const std::uint8_t v = testing::LevelTableCache<std::uint8_t>{preserve_both}(191)[200];
    EXPECT_EQ(testing::pixel_at(run.run(line("0.75 -1", 0, preserve_both)), 0, 0),
              (Pixel{v, 100 * v / 200, 50 * v / 200}));
    // "Neither" lifts black to T[0] in every channel (level 191: 127).
    const Image& lifted = run.run(line("0.75 -1", 0, preserve_neither));
    EXPECT_EQ(testing::pixel_at(lifted, 1, 0), (Pixel{127, 127, 127}));
}

// Random pictures of every type against the shared tone steps through tables made here, with one
// amount and under a 16-bit mask (levels 38 and 229, each pixel blend8 between them).
TEST(Brightness, EveryTypeMatchesThePlainForm) {
    const Image mask = testing::level_mask(image_gray16, 2);
    for (std::uint32_t type : all_types) {
        const Image in = testing::noise_picture(type, type + 3);
        const bool deep = testing::is_deep(in);
        for (int colorspace = 0; colorspace < 2; ++colorspace) {
            for (int preserve = 0; preserve < 4; ++preserve) {
                testing::LevelTableCache<std::uint8_t> t8{preserve};
                testing::LevelTableCache<std::uint16_t> t16{preserve};
                auto toned = [&](const Pixel& p, int level) {
                    if (!testing::is_colour(in)) {
                        return Pixel{deep ? t16(level)[p[0]] : t8(level)[p[0]], 0, 0};
                    }
                    std::int32_t r = p[0], g = p[1], b = p[2];
                    if (colorspace == 0) {
                        deep ? value_through(r, g, b, t16(level))
                             : value_through(r, g, b, t8(level));
                    } else {
                        deep ? lightness_through16(r, g, b, t16(level))
                             : lightness_through8(r, g, b, t8(level));
                    }
                    return Pixel{r, g, b};
                };
                PointRun run(in), masked(in, &mask);
                EXPECT_TRUE(testing::every_pixel(in, run.run(line("0.8 -1", colorspace, preserve)),
                                                 [&](const Pixel& p) { return toned(p, 203); }));
                const Image& out = masked.run(line("0.15 0.9", colorspace, preserve));
                for (std::uint32_t y = 0; y < in.height; ++y) {
                    for (std::uint32_t x = 0; x < in.width; ++x) {
                        const int level = blend8(38, 229, to8[sample16(mask.rows[y], x)]);
                        ASSERT_EQ(testing::pixel_at(out, x, y),
                                  toned(testing::pixel_at(in, x, y), level))
                            << type << " " << colorspace << " " << preserve << " at " << x;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace tessaly
