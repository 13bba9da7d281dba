// Brightness Curve: the worked examples, a plain per-pixel form of the step on noise in every
// colour model and depth, the two settings sets under a mask, Advanced Mode and its base layers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "core/color_models.h"
#include "core/curve_files.h"
#include "core/numeric.h"
#include "kernels/edge_preserving.h"
#include "support/temp_dir.h"
#include "transformations/point_filter_helpers.h"
#include "transformations/two_sets_helpers.h"

namespace tessaly {
namespace {

using testing::every_pixel;
using testing::noise_picture;
using testing::Pixel;
using testing::pixel_at;
using testing::pixels_picture;
using testing::PointRun;

constexpr const char* s_curve = "4 2 0 0 64 40 160 200 255 255";
const std::string with_curve = std::string("brightness_curve 0 curve ") + s_curve;
constexpr std::uint32_t all_types[] = {image_gray8, image_color24, image_gray16, image_color48};
bool is_wide(std::uint32_t t) {
    return t == image_gray16 || t == image_color48;
}
bool is_colour(std::uint32_t t) {
    return t == image_color24 || t == image_color48;
}
constexpr Pixel white{255, 255, 255};

// The step as the description gives it, one pixel at a time: the colour balance (add, remove),
// the colour model with s_curve, the saturation s.
struct PlainStep {
    bool wide, colour;
    int model;
    Pixel add, remove;
    double s;
    int top = wide ? 65535 : 255;
    std::vector<std::uint16_t> curve = std::vector<std::uint16_t>(65536), sat = curve;
    std::uint8_t sat8[256];

    PlainStep(std::uint32_t type, int m, const Pixel& a, const Pixel& r, double saturation)
        : wide(is_wide(type)), colour(is_colour(type)), model(m), add(a), remove(r), s(saturation) {
        Curve c;
        EXPECT_FALSE(curve_from_text(s_curve, c));
        std::uint8_t t8[256];
        curve_table8(c, t8);
        curve_table16(c, curve.data(), false);
        if (!wide) std::copy(t8, t8 + 256, curve.begin());
        const double t = s * std::fabs(s), f = std::tan((t + 1) * std::numbers::pi / 4);
        for (int i = 0; i <= top; ++i) {
            sat[i] =
                static_cast<std::uint16_t>(t == -1  ? 0
                                           : t == 1 ? top
                                                    : std::lround(std::min<double>(top, i * f)));
            if (i < 256) sat8[i] = static_cast<std::uint8_t>(sat[i]);
        }
    }

    Pixel operator()(Pixel p) const {
        if (!colour) return {curve[p[0]], 0, 0};
        for (int k = 0; k < 3; ++k) {
            if (remove[k] == 0) continue;
            p[k] = std::min<std::int32_t>(top, wide ? std::lround(p[k] * double(add[k]) / remove[k])
                                                    : p[k] * add[k] / remove[k]);
        }
        auto& [r, g, b] = p;
        if (model == 1) {
            std::int32_t h, sa, l, light = (std::max({r, g, b}) + std::min({r, g, b})) / 2;
            wide ? rgb_to_hsl16(r, g, b, h, sa, l) : rgb_to_hsl8(r, g, b, h, sa, l);
            wide ? hsl16_to_rgb(h, sa, curve[light], r, g, b)
                 : hsl12_to_rgb8(h, sa, curve[light] * 4096 / 255, r, g, b);
            if (s != 0) {
                wide ? saturation_map_hsl16(r, g, b, sat.data())
                     : saturation_map_hsl(r, g, b, sat8, 255);
            }
            return p;
        }
        const std::int32_t v = std::max({r, g, b}), nv = curve[v];
        for (std::int32_t& k : p) {
            k = model == 2 ? curve[k] : v == nv ? k : v && nv ? k * std::int64_t{nv} / v : nv;
        }
        if (s != 0)
            wide ? saturation_map_hsv16(r, g, b, sat.data()) : saturation_map_hsv(r, g, b, sat8);
        return p;
    }
};

TEST(BrightnessCurve, StepMatchesThePlainFormInEveryModelAndDepth) {
    for (const std::uint32_t type : all_types) {
        const Image in = noise_picture(type, 7);
        PointRun run(in);
        for (const int model : {0, 1, 2}) {
            for (const double s : {0.0, -0.55, 0.7}) {
                const std::string line = with_curve + " colorspace " + std::to_string(model) +
                                         " colorbal c0a0ff colorbal_remove ff8040 saturation " +
                                         std::to_string(s);
                EXPECT_TRUE(every_pixel(in, run.run(line),
                                        PlainStep(type, model, {255, 160, 192}, {64, 128, 255}, s)))
                    << line;
            }
        }
    }
}

TEST(BrightnessCurve, WorkedExamples) {
    for (const std::uint32_t type : {image_color24, image_color48}) {
        const int k = is_wide(type) ? 257 : 1, top = is_wide(type) ? 65535 : 255;
        // Remove ff8080 (blue ff, green 80, red 80): red and green times 255/128, clipped.
        PointRun balance(pixels_picture(type, {{100 * k, 200 * k, 50 * k}}));
        EXPECT_EQ(pixel_at(balance.run("brightness_curve 0 colorbal_remove ff8080"), 0, 0),
                  (Pixel{k == 1 ? 199 : 51199, top, 50 * k}));
        // A black pixel in HSV takes what the curve gives 0, in all three channels.
        PointRun black(pixels_picture(type, {{0, 0, 0}, {10 * k, 0, 0}}));
        const Image& lifted = black.run("brightness_curve 0 curve 2 1 0 40 255 255");
        EXPECT_EQ(pixel_at(lifted, 0, 0), (Pixel{40 * k, 40 * k, 40 * k}));
        EXPECT_EQ(pixel_at(lifted, 1, 0)[1], 0);
        // Saturation -1 makes every pixel gray; +1 drives the smallest channel of every coloured
        // one to 0 (HSV and RGB models).
        const Image noise = noise_picture(type, 3);
        for (const std::string model : {" colorspace 0", " colorspace 2"}) {
            PointRun run(noise);
            EXPECT_TRUE(every_pixel(noise, run.run("brightness_curve 0 saturation -1" + model),
                                    [](const Pixel& p) {
                                        const std::int32_t m = std::max({p[0], p[1], p[2]});
                                        return Pixel{m, m, m};
                                    }));
            const Image& vivid = run.run("brightness_curve 0 saturation 1" + model);
            for (std::uint32_t i = 0; i < noise.width * noise.height; ++i) {
                const Pixel p = pixel_at(vivid, i % noise.width, i / noise.width);
                if (p[0] != p[1] || p[1] != p[2]) {
                    EXPECT_EQ(std::min({p[0], p[1], p[2]}), 0);
                }
            }
        }
    }
}

TEST(BrightnessCurve, NeutralSettingsAndAdvancedModeThatChangesNothingAreExact) {
    for (const std::uint32_t type : all_types) {
        const Image in = noise_picture(type, 11);
        PointRun run(in), plain(in);
        // Advanced Mode at detail exactly 1 or radius 0 is off: the input, or the plain step.
        for (const std::string& line : {std::string("brightness_curve 0"), with_curve}) {
            const Image& want = line == with_curve ? plain.run(with_curve) : in;
            for (const char* advanced :
                 {"", " advanced 1 detail 1", " advanced 1 detail 1 antialias 1",
                  " advanced 1 radius 0 detail 3 sharpen_method 1"}) {
                EXPECT_TRUE(image_equal(run.run(line + advanced), want)) << line << advanced;
            }
        }
    }
}

TEST(BrightnessCurve, OlderCommandLines) {
    // No sharpen_method: the sigma filter; no colorspace1, or one that does not read: the same
    // model as colorspace; a colour that does not read: white.
    const std::string line = testing::normalised("brightness_curve 0 colorspace 2 colorbal zz");
    EXPECT_NE(line.find(" colorspace 2 colorspace1 2 "), std::string::npos) << line;
    EXPECT_NE(line.find(" sharpen_method 0 "), std::string::npos) << line;
    EXPECT_NE(line.find(" colorbal ffffff "), std::string::npos) << line;
    EXPECT_NE(testing::normalised("brightness_curve 0 colorspace 1 colorspace1 x")
                  .find(" colorspace1 1 "),
              std::string::npos);
}

TEST(BrightnessCurve, TwoSetsWhereTheMaskIsWhiteAndBlack) {
    const Image in = noise_picture(image_color24, 5);
    // Each set with its own base layer: radius and threshold differ.
    const std::string set0 = with_curve + " advanced 1 sharpen_method 1 radius 9 detail 2";
    const std::string set1 = "curve 2 2 0 60 255 200 colorspace 1 radius 2 threshold 30 detail 0.5";
    PointRun alone(in);
    Image white_result, black_result;
    ASSERT_FALSE(image_copy(alone.run(set0), white_result));
    ASSERT_FALSE(image_copy(alone.run("brightness_curve 0 advanced 1 sharpen_method 1 " + set1),
                            black_result));
    const std::string both =
        set0 + " curve1 2 2 0 60 255 200 colorspace1 1 radius1 2 threshold1 30 detail1 0.5";
    testing::expect_two_sets(in, both, white_result, black_result);
}

TEST(BrightnessCurve, AdvancedModeAddsTheWeightedDetailToTheCurvedBaseLayer) {
    for (const std::uint32_t type : all_types) {
        const Image in = noise_picture(type, 9, 37, 23);
        const int half = is_wide(type) ? 32768 : 128, top = is_wide(type) ? 65535 : 255;
        const PlainStep step(type, 2, white, white, 0.0);
        for (const int method : {0, 1}) {
            Image base;
            ASSERT_FALSE(method ? guided_filter(in, base, 5, 60) : sigma_filter(in, base, 5, 60));
            PointRun run(in);
            const Image& out = run.run(with_curve +
                                       " advanced 1 radius 5 threshold 60 detail 1.7 "
                                       "colorspace 2 sharpen_method " +
                                       std::to_string(method));
            for (std::uint32_t i = 0; i < in.width * in.height; ++i) {
                const std::uint32_t x = i % in.width, y = i / in.width;
                const Pixel s = pixel_at(in, x, y), b = pixel_at(base, x, y);
                Pixel want = step(b);
                for (int k = 0; k < (is_colour(type) ? 3 : 1); ++k) {
                    const int d = std::clamp(s[k] - b[k] + half, 0, top);
                    want[k] = std::clamp(want[k] + round_to_int((d - half) * 1.7), 0, top);
                }
                ASSERT_EQ(pixel_at(out, x, y), want) << type << " " << x << "," << y;
            }
        }
        // Antialiased: the step at four times the size, brought back to the input's.
        PointRun big(in);
        const Image& aa = big.run("brightness_curve 0 advanced 1 antialias 1 detail 2");
        EXPECT_TRUE(aa.type == in.type && aa.width == in.width && aa.height == in.height);
    }
}

TEST(BrightnessCurve, CurveFileIntoACommandLine) {
    testing::TempDir dir;
    Curve written, read;
    ASSERT_FALSE(curve_from_text("3 1 0 20 128 100 255 230", written));
    ASSERT_FALSE(save_curve_file(dir.file("lift.curve"), written));
    ASSERT_FALSE(load_curve_file(dir.file("lift.curve"), read));
    const Image in = noise_picture(image_color24, 8);
    PointRun run(in);
    std::uint8_t t[256];
    curve_table8(written, t);
    const Image& out = run.run("brightness_curve 0 colorspace 2 curve " + curve_to_text(read));
    EXPECT_TRUE(every_pixel(in, out, [&](const Pixel& p) {
        return Pixel{t[p[0]], t[p[1]], t[p[2]]};
    }));
}

}  // namespace
}  // namespace tessaly
