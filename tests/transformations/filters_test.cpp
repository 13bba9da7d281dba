// The filters: Invert, Gamma Adjust, Saturation, Brightness, Brightness Curve, Color Curves,
// Gaussian Blur, Unsharp Mask and Sharpen.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/color_models.h"
#include "core/curve.h"
#include "core/numeric.h"
#include "core/tables.h"
#include "framework/registry.h"
#include "kernels/edge_preserving.h"
#include "kernels/level_tables.h"
#include "kernels/tone.h"
#include "support/image_helpers.h"
#include "support/module_helpers.h"
#include "support/sample_rows.h"

namespace tessaly {
namespace {

using namespace testing;

using Pixel = std::array<std::int32_t, 3>;  // red, green, blue; gray in [0]

constexpr std::uint32_t gray_and_colour[] = {image_gray8, image_color24, image_gray16,
                                             image_color48};

bool is_colour(const Image& im) {
    return samples_per_pixel(im) == 3;
}
Pixel pixel_at(const Image& im, std::uint32_t x, std::uint32_t y) {
    if (!is_colour(im)) return {sample_at(im, x, y), 0, 0};
    return {sample_at(im, x, y, 2), sample_at(im, x, y, 1), sample_at(im, x, y, 0)};
}
void set_pixel(Image& im, std::uint32_t x, std::uint32_t y, const Pixel& p) {
    const int c = samples_per_pixel(im);
    for (int k = 0; k < c; ++k) set_sample_at(im, x, y, c - 1 - k, p[k]);
}

// Repeatable noise, padding zero; 37 pixels wide so that the vector loops and their tails run.
Image noise_picture(std::uint32_t type, std::uint32_t seed, std::uint32_t w = 37,
                    std::uint32_t h = 9) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 0.0));
    fill_pattern(im, type == image_binary ? (w + 7) / 8 : image_pixel_bytes(type) * w, seed);
    return im;
}

// A one-row picture of the given pixels.
Image pixels_picture(std::uint32_t type, const std::vector<Pixel>& pixels) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, static_cast<std::uint32_t>(pixels.size()), 1, 0.0));
    for (std::uint32_t x = 0; x < pixels.size(); ++x) set_pixel(im, x, 0, pixels[x]);
    return im;
}

// A mask of noise_picture's size holding the levels 0, 32, ..., 224 and 255, 8 or 16-bit.
Image level_mask(std::uint32_t type, std::uint32_t seed) {
    Image mask = noise_picture(type, seed);
    for (std::uint32_t y = 0; y < mask.height; ++y) {
        for (std::uint32_t x = 0; x < mask.width; ++x) {
            const std::int32_t v = sample_at(mask, x, y) >> (type == image_gray16 ? 8 : 0);
            const std::int32_t m = v >= 224 ? 255 : v & 0xe0;
            set_sample_at(mask, x, y, 0, type == image_gray16 ? to16[m] : m);
        }
    }
    return mask;
}

// The level tables of one "Preserve:" code, T = std::uint8_t or std::uint16_t, made once each.
template <class T>
struct LevelTableCache {
    std::int32_t preserve;
    std::map<std::int32_t, std::vector<T>> tables;
    const T* operator()(std::int32_t level) {
        std::vector<T>& t = tables[level];
        if (t.empty()) {
            t.resize(sizeof(T) == 1 ? 256 : 65536);
            if constexpr (sizeof(T) == 1) level_table8(level, preserve, t.data());
            if constexpr (sizeof(T) == 2) level_table16(level, preserve, t.data());
        }
        return t.data();
    }
};

// A transformation node below an input node that holds a copy of a picture (and a first mask).
class PointRun {
  public:
    explicit PointRun(const Image& picture, const Image* mask = nullptr) {
        input_.parent = &tree_root();
        node_.parent = &input_;
        EXPECT_FALSE(image_copy(picture, input_.image));
        if (mask) {
            node_.masks.push_back(std::make_unique<MaskSettings>());
            EXPECT_FALSE(image_copy(*mask, node_.masks[0]->image));
        }
    }
    // The result of a command line (empty when the run failed).
    const Image& run(const std::string& line) {
        EXPECT_EQ(run_line(&input_, &node_, line), 0) << line << ": " << node_.error_text;
        return node_.image;
    }

  private:
    Node input_, node_;
};

// Every pixel of out equals expected(the same pixel of in).
::testing::AssertionResult every_pixel(const Image& in, const Image& out,
                                       const std::function<Pixel(const Pixel&)>& expected) {
    if (out.type != in.type || out.width != in.width || out.height != in.height) {
        return ::testing::AssertionFailure() << "type or size differs";
    }
    for (std::uint32_t y = 0; y < in.height; ++y) {
        for (std::uint32_t x = 0; x < in.width; ++x) {
            const Pixel p = pixel_at(in, x, y), got = pixel_at(out, x, y);
            Pixel want = expected(p);
            if (!is_colour(in)) want[1] = want[2] = 0;
            if (got == want) continue;
            return ::testing::AssertionFailure()
                   << "type " << in.type << " at " << x << "," << y << ": " << p[0] << " " << p[1]
                   << " " << p[2] << " gave " << got[0] << " " << got[1] << " " << got[2]
                   << ", not " << want[0] << " " << want[1] << " " << want[2];
        }
    }
    return ::testing::AssertionSuccess();
}

// Two settings sets: line holds both, white_result and black_result are each set's own result
// at 100 percent. Under an all-white mask only the set of the white areas shows, under an
// all-black one only the other; each set is mixed by its own amount.
void expect_two_sets(const Image& in, const std::string& line, const Image& white_result,
                     const Image& black_result) {
    for (const int m : {0, 255}) {
        Image mask;
        ASSERT_FALSE(image_alloc(mask, image_gray8, in.width, in.height, 0.0));
        for (std::uint32_t y = 0; y < mask.height; ++y) std::fill_n(mask.rows[y], mask.width, m);
        PointRun run(in, &mask);
        EXPECT_TRUE(image_equal(run.run(line + " amount 0 1 2 1 ″A″ ″M″"), m ? white_result : in))
            << "mask " << m;
        EXPECT_TRUE(image_equal(run.run(line + " amount 1 0 2 1 ″A″ ″M″"), m ? in : black_result))
            << "mask " << m;
    }
}

std::string with_amount(const std::string& line, const char* amounts) {
    return line + " amount " + amounts + " 0 1 \u2033Amount: \u2033 \u2033Mask\u2033";
}

TEST(Invert, ColourModelsGrayAndBinaryPictures) {
    const Image in = pixels_picture(image_color24, {{255, 0, 0}, {100, 0, 0}, {40, 40, 40}});
    PointRun run(in);
    // Pure red has V at the top of the 12-bit scale and turns black; dark red (V 1606 of 4096)
    // gets V 2490, a lighter red; gray 40 becomes 215.
    EXPECT_TRUE(every_pixel(in, run.run("invert 0 colorspace 1"), [](const Pixel& p) {
        return p[0] == 255 ? Pixel{0, 0, 0} : p[0] == 100 ? Pixel{155, 0, 0} : Pixel{215, 215, 215};
    }));
    // HSL: red's lightness 2048 stays the middle; dark red's 803 becomes 3293, a pale red.
    const Image& hsl = run.run("invert 0 colorspace 2");
    EXPECT_EQ(pixel_at(hsl, 0, 0), (Pixel{255, 0, 0}));
    EXPECT_EQ(pixel_at(hsl, 1, 0), (Pixel{255, 155, 155}));

    // Gray pictures in every model, and colour in "RGB", take the complement of each sample.
    for (std::uint32_t type : gray_and_colour) {
        const Image noise = noise_picture(type, type + 7);
        const std::int32_t top = wide_samples(noise) ? 65535 : 255;
        for (int model = 0; model < (is_colour(noise) ? 1 : 3); ++model) {
            PointRun each(noise);
            const Image& inverted = each.run("invert 0 colorspace " + std::to_string(model));
            EXPECT_TRUE(every_pixel(noise, inverted, [top](const Pixel& p) {
                return Pixel{top - p[0], top - p[1], top - p[2]};
            }));
        }
    }

    // Binary rows are complemented whole; a pixel takes its inverse where the amount's weight,
    // under a mask the mask's, reaches 128 of 255.
    const Image bits = noise_picture(image_binary, 5, 21, 3);
    PointRun binary(bits);
    const Image& out = binary.run("invert 0 colorspace 2");
    ASSERT_EQ(out.type, image_binary);
    for (std::uint32_t y = 0; y < bits.height; ++y) {
        for (std::uint32_t i = 0; i < bits.row_bytes; ++i)
            ASSERT_EQ(out.rows[y][i], static_cast<std::uint8_t>(~bits.rows[y][i]));
    }
    EXPECT_TRUE(image_equal(binary.run(with_amount("invert 0", "0.5 -1")), bits));
    EXPECT_FALSE(image_equal(binary.run(with_amount("invert 0", "0.51 -1")), bits));

    const Image mask = pixels_picture(image_gray8, {{0}, {127}, {128}, {255}});
    Image black;
    ASSERT_FALSE(image_alloc(black, image_binary, 4, 1, 0.0));
    PointRun masked(black, &mask);
    const Image& flipped = masked.run(with_amount("invert 0", "0 1"));
    for (std::uint32_t x = 0; x < 4; ++x) EXPECT_EQ(bit_get(flipped.rows[0], x), x < 2 ? 0 : 255);
}

std::string gamma_line(int mode, double r, double g, double b) {
    return "gamma_adjust 0 gray " + std::to_string(mode) + " rgamma " + std::to_string(r) +
           " ggamma " + std::to_string(g) + " bgamma " + std::to_string(b);
}

// Every accepted type and mode against tables built here with pow and the shared tone steps;
// with gammas 1, 1, 2.3 only blue changes in mode 3 on colour pictures, all else is copied.
TEST(GammaAdjust, EveryTypeAndModeMatchesThePlainForm) {
    for (const auto& [red, green, blue] : {std::tuple{1.7, 0.6, 2.3}, std::tuple{1.0, 1.0, 2.3}}) {
        for (std::uint32_t type : gray_and_colour) {
            const Image in = noise_picture(type, type);
            const bool deep = wide_samples(in);
            const std::int32_t top = deep ? 65535 : 255;
            auto table = [&](double g) {
                std::vector<std::int32_t> t(top + 1);
                for (std::int32_t i = 0; i <= top; ++i) {
                    t[i] = round_to_int(std::pow(static_cast<double>(i) / top, g) * top);
                }
                return t;
            };
            const auto tr = table(red), tg = table(green), tb = table(blue);
            std::vector<std::uint8_t> t8(tr.begin(), tr.begin() + 256);
            std::vector<std::uint16_t> t16(tr.begin(), tr.end());
            for (int mode = 0; mode < 4; ++mode) {
                PointRun run(in);
                auto plain = [&](const Pixel& p) {
                    std::int32_t r = p[0], g = p[1], b = p[2];
                    if (mode == 3 && is_colour(in)) return Pixel{tr[r], tg[g], tb[b]};
                    if (red == 1.0) return p;  // copied: the HSL round trip is not exact
                    if (!is_colour(in) || mode == 0) return Pixel{tr[r], tr[g], tr[b]};
                    if (mode == 1) {
                        deep ? value_through(r, g, b, t16.data())
                             : value_through(r, g, b, t8.data());
                    } else {
                        deep ? lightness_through16(r, g, b, t16.data())
                             : lightness_through8(r, g, b, t8.data());
                    }
                    return Pixel{r, g, b};
                };
                EXPECT_TRUE(every_pixel(in, run.run(gamma_line(mode, red, green, blue)), plain))
                    << "mode " << mode;
            }
        }
    }
}

TEST(LevelTables, EndsMiddleAndEachPreserveRule) {
    LevelTableCache<std::uint8_t> both{preserve_both}, low{preserve_low}, high{preserve_high},
        neither{preserve_neither};
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
    LevelTableCache<std::uint16_t> deep{preserve_both};
    EXPECT_EQ(deep(64)[32768], 18611);
    EXPECT_EQ(deep(64)[65535], 65535);
}

// Runs of keyword at the amounts 0, 0.3 and 1 (levels 0, 76 and 255) and one under mask with
// amounts 0.25 and 0.75 (levels 63 and 191; each pixel takes blend8 of them by its mask value,
// 8-bit) against the plain form: toned(pixel, level), with the tables of the preserve code.
void expect_levels(const Image& in, const Image& mask, const std::string& keyword, int colorspace,
                   int preserve, const std::function<Pixel(const Pixel&, int level)>& toned) {
    auto line = [&](const char* amounts) {
        return keyword + " 0 amount " + amounts + " 1 1 ″A″ ″M″ colorspace " +
               std::to_string(colorspace) + (keyword == "saturation" ? " code " : " preserve ") +
               std::to_string(preserve);
    };
    PointRun run(in), masked(in, &mask);
    for (const auto& [amounts, level] : {std::pair{"0 -1", 0}, {"0.3 -1", 76}, {"1 -1", 255}}) {
        EXPECT_TRUE(every_pixel(in, run.run(line(amounts)),
                                [&](const Pixel& p) { return toned(p, level); }))
            << keyword << " " << amounts;
    }
    const Image& out = masked.run(line("0.25 0.75"));
    for (std::uint32_t y = 0; y < in.height; ++y) {
        for (std::uint32_t x = 0; x < in.width; ++x) {
            const int m = mask.type == image_gray16 ? to8[sample_at(mask, x, y)] : mask.rows[y][x];
            ASSERT_EQ(pixel_at(out, x, y), toned(pixel_at(in, x, y), blend8(63, 191, m)))
                << keyword << " type " << in.type << " " << colorspace << " " << preserve << " at "
                << x << "," << y;
        }
    }
}

TEST(Saturation, EveryDepthMatchesThePlainForm) {
    const Image mask = level_mask(image_gray8, 9);
    for (std::uint32_t type : {image_color24, image_color48}) {
        const Image in = noise_picture(type, type + 1);
        const bool deep = type == image_color48;
        for (int colorspace = 0; colorspace < 2; ++colorspace) {
            for (int code = 0; code < 4; ++code) {
                LevelTableCache<std::uint8_t> t8{code};
                LevelTableCache<std::uint16_t> t16{code};
                expect_levels(in, mask, "saturation", colorspace, code, [&](Pixel p, int level) {
                    auto& [r, g, b] = p;
                    if (colorspace == 0) {
                        deep ? saturation_map_hsv16(r, g, b, t16(level))
                             : saturation_map_hsv(r, g, b, t8(level));
                    } else {
                        deep ? saturation_map_hsl16(r, g, b, t16(level))
                             : saturation_map_hsl(r, g, b, t8(level), 255);
                    }
                    return p;
                });
            }
        }
    }
}

// Every type against the shared tone steps through tables made here, under a 16-bit mask too.
TEST(Brightness, EveryTypeMatchesThePlainForm) {
    const Image mask = level_mask(image_gray16, 2);
    for (std::uint32_t type : gray_and_colour) {
        const Image in = noise_picture(type, type + 3);
        const bool deep = wide_samples(in);
        for (int colorspace = 0; colorspace < 2; ++colorspace) {
            for (int preserve = 0; preserve < 4; ++preserve) {
                LevelTableCache<std::uint8_t> t8{preserve};
                LevelTableCache<std::uint16_t> t16{preserve};
                expect_levels(in, mask, "brightness", colorspace, preserve,
                              [&](Pixel p, int level) {
                                  auto& [r, g, b] = p;
                                  if (!is_colour(in)) {
                                      r = deep ? t16(level)[r] : t8(level)[r];
                                  } else if (colorspace == 0) {
                                      deep ? value_through(r, g, b, t16(level))
                                           : value_through(r, g, b, t8(level));
                                  } else {
                                      deep ? lightness_through16(r, g, b, t16(level))
                                           : lightness_through8(r, g, b, t8(level));
                                  }
                                  return p;
                              });
            }
        }
    }
}

using Rows = testing::SampleRows;

class FilterRun : public ::testing::Test {
  protected:
    void SetUp() override {
        input.parent = &tree_root();
        node.parent = &input;
    }
    // The row of the result (one row) of line on an input row.
    Rows run(std::uint32_t type, const std::vector<int>& row, const std::string& line) {
        input.image = image_of_rows(type, {row});
        EXPECT_EQ(testing::run_line(&input, &node, line), 0) << line << ": " << node.error_text;
        return rows_of(node.image);
    }
    Node input, node;
};

const std::string half_amount = " amount 0.5 -1 0 1 \u2033A\u2033 \u2033M\u2033";
const std::string masked = " amount 0 1 0 1 \u2033A\u2033 \u2033M\u2033";

TEST_F(FilterRun, GaussianBlurAmountAndMask) {
    // Blur 0 0 90 0 0 -> 10 20 30 20 10; amount 5004 (weight 127): 5 10 60 10 5, e.g. 90 - floor
    // ((60 x 127 + 127) / 255) = 60. Radius 0 copies the input.
    EXPECT_EQ(run(image_gray8, {0, 0, 90, 0, 0}, "gaussian_blur 0 radius 1" + half_amount),
              (Rows{{5, 10, 60, 10, 5}}));
    EXPECT_EQ(run(image_gray8, {0, 0, 90, 0, 0}, "gaussian_blur 0 radius 0"),
              (Rows{{0, 0, 90, 0, 0}}));

    // An 8-bit mask on a 16-bit image: 9000 blurs to 1000 2000 3000 2000 1000; amounts 0 and
    // 10008 make the mask value the 8-bit weight: 0, 2000, 3000, 2000 x 128 / 255, 0.
    node.masks.push_back(std::make_unique<MaskSettings>());
    node.masks[0]->image = image_of_rows(image_gray8, {{0, 255, 255, 128, 0}});
    EXPECT_EQ(run(image_gray16, {0, 0, 9000, 0, 0}, "gaussian_blur 0 radius 1" + masked),
              (Rows{{0, 2000, 3000, 1003, 0}}));
}

TEST_F(FilterRun, SharpeningAmountsTypesAndTheOldThreshold) {
    // Peak 90 sharpened to 116 at full amount; at 5004 (weight 127) 90 + (26 x 127 + 127) / 255.
    EXPECT_EQ(run(image_gray8, {0, 0, 90, 0, 0},
                  "unsharp_mask 0 radius 1 thresholdb 0 thresholdw 0" + half_amount),
              (Rows{{0, 0, 103, 0, 0}}));
    EXPECT_EQ(run(image_gray8, {0, 0, 90, 0, 0}, "unsharp_mask 0 radius 0"),
              (Rows{{0, 0, 90, 0, 0}}));
    // Sharpen on one row: above and below are the row itself, so the peak's mean is
    // (90 + 0 + 0 + 90) >> 2 = 45 and its candidate 135, capped at 116 again.
    EXPECT_EQ(
        run(image_gray8, {0, 0, 90, 0, 0}, "sharpen 0 thresholdb 0 thresholdw 0" + half_amount),
        (Rows{{0, 0, 103, 0, 0}}));

    // A binary picture is sharpened as 8-bit gray.
    ASSERT_FALSE(image_alloc(input.image, image_binary, 3, 3, 0.0));
    bit_set(input.image.rows[1], 1);
    ASSERT_EQ(testing::run_line(&input, &node, "sharpen 0 kernel 1"), 0);
    EXPECT_EQ(node.image.type, image_gray8);
    EXPECT_EQ(rows_of(node.image), (Rows{{0, 0, 0}, {0, 255, 0}, {0, 0, 0}}));

    // The old threshold (0..255) sets both; the two keys override it whatever their place.
    EXPECT_NE(testing::normalised("unsharp_mask 0 thresholdw 0.5 threshold 51")
                  .find(" thresholdb 0.2 thresholdw 0.5 "),
              std::string::npos);
    EXPECT_NE(testing::normalised("sharpen 0 threshold 255 thresholdb 0.1")
                  .find(" thresholdb 0.1 thresholdw 1 "),
              std::string::npos);
}

constexpr const char* hue_wave = "4 2 0 100 90 170 180 60 255 140";
constexpr const char* s_shape = "4 2 0 0 64 40 160 200 255 255";
constexpr const char* lift = "3 1 0 30 128 150 255 240";
const std::string with_curve = std::string("brightness_curve 0 curve ") + s_shape;

Curve curve_of(const char* text) {
    Curve c;
    EXPECT_FALSE(curve_from_text(text, c));
    return c;
}
bool is_wide(std::uint32_t t) {
    return t == image_gray16 || t == image_color48;
}
bool is_colour(std::uint32_t t) {
    return t == image_color24 || t == image_color48;
}
constexpr Pixel white{255, 255, 255};

// The step as the description gives it, one pixel at a time: the colour balance (add, remove),
// the colour model with s_shape, the saturation s.
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
        const Curve c = curve_of(s_shape);
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
    for (const std::uint32_t type : gray_and_colour) {
        const Image in = noise_picture(type, 7);
        PointRun run(in);
        for (const int model : {0, 1, 2}) {
            for (const double s : {0.0, -0.55, 0.7, -1.0, 1.0}) {
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

TEST(BrightnessCurve, NeutralSettingsAndAdvancedModeThatChangesNothingAreExact) {
    for (const std::uint32_t type : gray_and_colour) {
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
    const std::string line = normalised("brightness_curve 0 colorspace 2 colorbal zz");
    EXPECT_NE(line.find(" colorspace 2 colorspace1 2 "), std::string::npos) << line;
    EXPECT_NE(line.find(" sharpen_method 0 "), std::string::npos) << line;
    EXPECT_NE(line.find(" colorbal ffffff "), std::string::npos) << line;
    EXPECT_NE(normalised("brightness_curve 0 colorspace 1 colorspace1 x").find(" colorspace1 1 "),
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
    expect_two_sets(in, both, white_result, black_result);
}

TEST(BrightnessCurve, AdvancedModeAddsTheWeightedDetailToTheCurvedBaseLayer) {
    for (const std::uint32_t type : gray_and_colour) {
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
    expect_two_sets(in, both, white_result, black_result);
}

}  // namespace
}  // namespace tessaly
