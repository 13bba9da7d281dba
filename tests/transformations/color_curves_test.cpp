// Color Curves: the worked examples, a plain per-pixel form of the three models at both depths,
// the two sets under a mask, and curve files carried into a command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "core/color_models.h"
#include "core/curve.h"
#include "core/curve_files.h"
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

constexpr const char* hue_wave = "4 2 0 100 90 170 180 60 255 140";
constexpr const char* s_shape = "4 2 0 0 64 40 160 200 255 255";
constexpr const char* lift = "3 1 0 30 128 150 255 240";

Curve curve_of(const char* text) {
    Curve c;
    EXPECT_FALSE(curve_from_text(text, c));
    return c;
}

// The three models as the description gives them, one pixel at a time.
struct PlainCurves {
    int model;
    bool wide;
    std::array<std::vector<std::int32_t>, 3> t;  // 8-bit tables on the 12-bit scale, or 16-bit
    bool flat_hue = true;

    PlainCurves(int m, bool w, const std::array<const char*, 3>& curves) : model(m), wide(w) {
        for (int c = 0; c < 3; ++c) {
            std::uint8_t t8[256];
            std::vector<std::uint16_t> t16(65536);
            curve_table8(curve_of(curves[c]), t8);
            curve_table16(curve_of(curves[c]), t16.data(), false);
            if (c == 0) flat_hue = std::all_of(t8, t8 + 256, [](int v) { return v == 128; });
            for (int k = 0; k <= (wide ? 65535 : model == 2 ? 255 : 4096); ++k) {
                t[c].push_back(wide         ? t16[k]
                               : model == 2 ? t8[k]
                                            : (t8[(2048 + 255 * k) / 4096] * 4096 + 127) / 255);
            }
        }
    }
    Pixel operator()(const Pixel& p) const {
        if (model == 2) return {t[0][p[0]], t[1][p[1]], t[2][p[2]]};
        const int full = wide ? 65536 : 4096;
        std::int32_t h, s, v, r, g, b;
        if (wide) {
            (model == 0 ? rgb_to_hsv16 : rgb_to_hsl16)(p[0], p[1], p[2], h, s, v);
        } else {
            (model == 0 ? rgb_to_hsv8 : rgb_to_hsl8)(p[0], p[1], p[2], h, s, v);
        }
        if (!flat_hue) h = ((t[0][h] + h - full / 2) % full + full) % full;
        if (wide) {
            (model == 0 ? hsv16_to_rgb : hsl16_to_rgb)(h, t[1][s], t[2][v], r, g, b);
        } else {
            (model == 0 ? hsv12_to_rgb8 : hsl12_to_rgb8)(h, t[1][s], t[2][v], r, g, b);
        }
        return {r, g, b};
    }
};

std::string line_of(int model, const std::array<const char*, 3>& c, const char* prefix = "") {
    std::string out = "color_curves 0";
    for (int k = 0; k < 3; ++k) {
        out += std::string(" ") + prefix + "curve" + std::to_string(k + 1) + " " + c[k];
    }
    return out + " " + prefix + "colorspace " + std::to_string(model);
}

TEST(ColorCurves, EveryModelAndDepthMatchesThePlainForm) {
    const std::array<const char*, 3> curves = {hue_wave, s_shape, lift};
    const std::array<const char*, 3> flat_hue = {"2 2 0 128 255 128", lift, s_shape};
    for (const std::uint32_t type : {image_color24, image_color48}) {
        const Image in = noise_picture(type, 13);
        PointRun run(in);
        for (const int model : {0, 1, 2}) {
            for (const auto& c : {curves, flat_hue}) {
                EXPECT_TRUE(every_pixel(in, run.run(line_of(model, c)),
                                        PlainCurves(model, type == image_color48, c)))
                    << line_of(model, c);
            }
        }
        // The defaults change nothing in any model.
        for (const char* model : {"0", "1", "2"}) {
            EXPECT_TRUE(
                image_equal(run.run(std::string("color_curves 0 colorspace ") + model), in));
        }
    }
}

TEST(ColorCurves, WorkedExamples) {
    // RGB: a curve2 through (0, 0) and (255, 128) halves green, rounded by its table.
    PointRun rgb(pixels_picture(image_color24, {{200, 255, 10}, {7, 101, 99}}));
    const Image& halved = rgb.run("color_curves 0 colorspace 2 curve2 2 2 0 0 255 128");
    EXPECT_EQ(pixel_at(halved, 0, 0), (Pixel{200, 128, 10}));
    EXPECT_EQ(pixel_at(halved, 1, 0), (Pixel{7, 51, 99}));  // 101 x 128 / 255 = 50.7
    // HSV: a flat curve1 at 192 turns every hue by (192 x 4096 + 127) / 255 - 2048 = 1036 of
    // 4096. Pure red goes to hue 1036: green at full, red at 4096 - 2123 = 1973 of 4096, 123.
    PointRun hsv(pixels_picture(image_color24, {{255, 0, 0}}));
    EXPECT_EQ(pixel_at(hsv.run("color_curves 0 curve1 2 2 0 192 255 192"), 0, 0),
              (Pixel{123, 255, 0}));
}

TEST(ColorCurves, TwoSetsWhereTheMaskIsWhiteAndBlack) {
    const Image in = noise_picture(image_color48, 6);
    const std::array<const char*, 3> main = {hue_wave, s_shape, lift},
                                     second = {lift, lift, hue_wave};
    PointRun alone(in);
    Image white_result, black_result;
    ASSERT_FALSE(image_copy(alone.run(line_of(0, main)), white_result));
    ASSERT_FALSE(image_copy(alone.run(line_of(2, second)), black_result));
    const std::string both = line_of(0, main) + line_of(2, second, "b_").substr(14);
    testing::expect_two_sets(in, both, white_result, black_result);
}

TEST(ColorCurvesFiles, ColorCurvesAndPhotoshopFilesIntoACommandLine) {
    testing::TempDir dir;
    ColorCurves written;
    written.colorspace = colorspace_hsl;
    written.curve[0] = curve_of(hue_wave), written.curve[1] = curve_of(s_shape);
    written.curve[2] = curve_of(lift);
    ASSERT_FALSE(save_color_curves_file(dir.file("look.cc"), written));
    // A Photoshop curve file: version 4, one curve of three points (output before input), used
    // for all three channels in RGB.
    const std::vector<int> words = {4, 1, 3, 0, 0, 170, 90, 255, 255};
    std::ofstream acv(dir.file("contrast.acv"), std::ios::binary);
    for (const int w : words) acv.put(static_cast<char>(w >> 8)).put(static_cast<char>(w & 255));
    acv.close();
    const Image in = noise_picture(image_color24, 21);
    constexpr const char* acv_curve = "3 2 0 0 90 170 255 255";
    for (const auto& [name, expected] :
         {std::pair{"look.cc", std::array{hue_wave, s_shape, lift}},
          std::pair{"contrast.acv", std::array{acv_curve, acv_curve, acv_curve}}}) {
        ColorCurves read;
        ASSERT_FALSE(load_color_curves_any(dir.file(name), read));
        const std::string t[3] = {curve_to_text(read.curve[0]), curve_to_text(read.curve[1]),
                                  curve_to_text(read.curve[2])};
        PointRun run(in);
        EXPECT_TRUE(every_pixel(
            in, run.run(line_of(read.colorspace, {t[0].c_str(), t[1].c_str(), t[2].c_str()})),
            PlainCurves(read.colorspace, false, expected)))
            << name;
    }
}

}  // namespace
}  // namespace tessaly
