#include "masks/mask_pixels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/runner.h"
#include "masks/mask_command_line.h"
#include "support/image_helpers.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using Pixel = std::array<std::uint32_t, 3>;  // red, green, blue

// A colour picture from rows of pixels, top row first.
Image colour_image(std::uint32_t type, const std::vector<std::vector<Pixel>>& rows) {
    Image im;
    const auto h = static_cast<std::uint32_t>(rows.size());
    const auto w = static_cast<std::uint32_t>(rows[0].size());
    EXPECT_FALSE(image_alloc(im, type, w, h, 0));
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            for (std::uint32_t c = 0; c < 3; ++c) {
                const std::uint32_t v = rows[y][x][2 - c];  // stored blue, green, red
                if (type == image_color48) {
                    set_sample16(im.rows[h - 1 - y], 3 * x + c, static_cast<std::uint16_t>(v));
                } else {
                    im.rows[h - 1 - y][3 * x + c] = static_cast<std::uint8_t>(v);
                }
            }
        }
    }
    return im;
}

constexpr std::array<std::int32_t, 5> codes = {mask_op_curve, mask_op_separate, mask_op_texture,
                                               mask_op_hue_saturation, mask_op_hs_histogram};

class MaskPixels : public ::testing::Test {
  protected:
    // The mask after one operation on a base mask of level on base; failed tells whether the
    // operation reported failure.
    Rows run(const Image& base, const MaskOperation& op, std::int32_t mask16 = 0,
             std::int32_t level = 0, bool failed = false) {
        return mask_after(base, op, level, mask16, failed);
    }

    testing::RecordingScope scope;
};

MaskOperation op(std::int32_t code, std::int32_t mode = mask_add) {
    MaskOperation o;
    o.code = code;
    o.mode = mode;
    return o;
}

TEST_F(MaskPixels, CurveChannelsOnColourAndGrayPictures) {
    const Image base =
        colour_image(image_color24, {{{200, 100, 50}, {0, 255, 0}, {240, 200, 160}}});
    // Luminance, R, G, B, HSV V, HSL L, HSV S, HSL S (the third pixel is in the light half),
    // HSV H, HSL H (20, 120 and 30 degrees).
    const Rows expected[10] = {
        {{124, 149, 207}}, {{200, 0, 240}},  {{100, 255, 200}}, {{50, 0, 160}}, {{200, 255, 240}},
        {{125, 127, 200}}, {{191, 255, 85}}, {{153, 255, 185}}, {{14, 85, 21}}, {{14, 85, 21}}};
    MaskOperation curve = op(mask_op_curve);
    MaskOperation inverted = op(mask_op_curve, mask_overlap);
    inverted.parameters.curve.style = curve_linear;
    inverted.parameters.curve.y[0] = 255;
    inverted.parameters.curve.y[1] = 0;
    for (std::int32_t channel = 0; channel < 10; ++channel) {
        curve.parameters.channel = inverted.parameters.channel = channel;
        EXPECT_EQ(run(base, curve), expected[channel]) << "channel " << channel;
        // Overlap with a base mask of 100 keeps the smaller value.
        Rows low = expected[channel];
        for (auto& v : low[0]) v = std::min(255u - v, 100u);
        EXPECT_EQ(run(base, inverted, 0, 100), low) << "channel " << channel;
    }
    // 16-bit samples through the 16-bit table, onto 16- and 8-bit masks.
    const Image deep = colour_image(image_color48, {{{51400, 25700, 12850}}});
    const std::pair<std::int32_t, std::uint32_t> deep_expected[] = {
        {0, 31911}, {4, 51400}, {6, 49151}, {7, 39321}};
    for (const auto& [channel, value] : deep_expected) {
        curve.parameters.channel = channel;
        EXPECT_EQ(run(deep, curve, 1), Rows{{value}}) << "channel " << channel;
    }
    curve.parameters.channel = 0;
    EXPECT_EQ(run(deep, curve, 0), Rows{{124}});
    // A gray picture gives its value to every channel, saturation and hue included.
    curve.parameters.channel = 6;
    EXPECT_EQ(run(mask_of(image_gray8, {{77}}), curve), Rows{{77}});
    EXPECT_EQ(run(mask_of(image_gray8, {{77}}), curve, 1), Rows{{77 * 257}});

    // Binary pictures are read as gray. A cancel fails without a word; a failed allocation
    // says so (the caller then keeps the mask before the operation).
    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 2, 1, 0));
    bit_set(binary.rows[0], 1);
    EXPECT_EQ(run(binary, curve), (Rows{{0, 255}}));
    MaskState state;
    mask_state_set_base(state, &binary);
    Image after = mask_of(image_gray8, {{9, 9}});
    set_run_abort(true);
    EXPECT_TRUE(render_curve_select(state, curve, after));
    set_run_abort(false);
    EXPECT_TRUE(scope.recorder.errors().empty());
    testing::AllocationFailureScope failing;
    image_fail_allocations_after(0);
    EXPECT_TRUE(render_curve_select(state, curve, after));
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Error creating curve mask"});
}

TEST_F(MaskPixels, SeparateGrayRampRgbProjectionAndFailures) {
    MaskOperation sep = op(mask_op_separate);
    sep.parameters.separate = default_separate_entries();
    SeparateEntries& e = sep.parameters.separate;
    // Defaults (black to 0, white to full): light stays light.
    EXPECT_EQ(run(mask_of(image_gray8, {{0, 200, 255}}), sep), (Rows{{0, 200, 255}}));

    // Gray: 50 and 240 map to 0, 200 to full; each pixel uses the nearer of 50 and 240.
    e[0].colour = 0x323232;
    e[1] = {true, 0xf0f0f0, -1, -1};
    e[8].colour = 0xc8c8c8;
    EXPECT_EQ(run(mask_of(image_gray8, {{0, 50, 120, 200, 220, 255}}), sep),
              (Rows{{0, 0, 119, 255, 127, 0}}));

    // Equal colours give half.
    e[1].in_use = false;
    e[0].colour = e[8].colour = 0x808080;
    EXPECT_EQ(run(mask_of(image_gray8, {{0, 255}}), sep), (Rows{{128, 128}}));
    EXPECT_EQ(run(mask_of(image_gray16, {{0}}), sep, 1), (Rows{{32768}}));

    // RGB from black to (200, 100, 0): projection inside the box, nearest colour outside it.
    e[0].colour = 0;
    e[8].colour = 200 + 256 * 100;
    const Image rgb = colour_image(
        image_color24, {{{100, 50, 0}, {50, 100, 0}, {10, 10, 50}, {250, 120, 10}, {200, 100, 0}}});
    EXPECT_EQ(run(rgb, sep), (Rows{{128, 102, 0, 255, 255}}));

    // Neither gray nor colour of 8 or 16 bits: the message, and the mask as it was.
    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 2, 1, 0));
    EXPECT_EQ(run(binary, sep, 0, 7, true), (Rows{{7, 7}}));
    Image floats;
    ASSERT_FALSE(image_alloc(floats, image_float_color, 2, 1, 0));
    EXPECT_EQ(run(floats, sep, 0, 7, true), (Rows{{7, 7}}));
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>(2, "Error creating separate mask"));
}

TEST_F(MaskPixels, TextureMeasuresWithClampedEdges) {
    const Rows a = {{40, 40, 40}, {40, 40, 0}, {40, 40, 80}};
    const Rows expected[3] = {{{0, 40, 40}, {0, 40, 80}, {0, 40, 80}},
                              {{0, 5, 10}, {0, 10, 45}, {0, 15, 35}},
                              {{0, 5, 10}, {0, 0, 45}, {0, 5, 35}}};
    // Colour: red carries a, green a second pattern; the larger channel result counts.
    std::vector<std::vector<Pixel>> pixels(3, std::vector<Pixel>(3));
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 3; ++x) pixels[y][x] = {a[y][x], 0, 7};
    }
    pixels[2][0][1] = 30;
    const Rows expected_rgb[3] = {{{0, 40, 40}, {30, 40, 80}, {30, 40, 80}},
                                  {{0, 5, 10}, {8, 10, 45}, {19, 15, 35}},
                                  {{0, 5, 10}, {8, 4, 45}, {19, 8, 35}}};
    MaskOperation texture = op(mask_op_texture);
    for (std::int32_t method = 0; method < 3; ++method) {
        texture.parameters.texture.method = method;
        EXPECT_EQ(run(mask_of(image_gray8, a), texture), expected[method]) << method;
        EXPECT_EQ(run(colour_image(image_color24, pixels), texture), expected_rgb[method])
            << method;
    }
    // 16-bit: thresholds in 8-bit units, a ramp from 10 to 50 on a 16-bit mask.
    Rows a16 = a;
    for (auto& row : a16) {
        for (auto& v : row) v *= 257;
    }
    texture.parameters.texture = {1, 0, 10, 50};
    EXPECT_EQ(run(mask_of(image_gray16, a16), texture, 1),
              (Rows{{0, 0, 0}, {0, 0, 57343}, {0, 8191, 40959}}));
}

TEST_F(MaskPixels, TextureRunningSumsMatchTheDirectAverageOnALargerPicture) {
    Image base;
    ASSERT_FALSE(image_alloc(base, image_gray8, 23, 41, 0));
    testing::fill_pattern(base, 23);
    const Rows v = seen(base);
    for (std::int32_t size = 0; size < 3; ++size) {
        MaskOperation texture = op(mask_op_texture);
        texture.parameters.texture = {2, size, 0, 255};
        const Rows got = run(base, texture);
        const int k = size + 1, n = (2 * k + 1) * (2 * k + 1) - 1;
        for (int y = 0; y < 41; ++y) {
            for (int x = 0; x < 23; ++x) {
                int sum = 0;
                for (int dy = -k; dy <= k; ++dy) {
                    for (int dx = -k; dx <= k; ++dx) {
                        if (dx != 0 || dy != 0) {
                            sum += static_cast<int>(
                                v[std::clamp(y + dy, 0, 40)][std::clamp(x + dx, 0, 22)]);
                        }
                    }
                }
                const int expected = std::abs((n / 2 + sum) / n - static_cast<int>(v[y][x]));
                ASSERT_EQ(got[y][x], static_cast<std::uint32_t>(expected)) << x << "," << y;
            }
        }
    }
}

TEST_F(MaskPixels, HueSaturationSelectsPickedColoursAndHistogramCells) {
    const Image base = colour_image(
        image_color24, {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {128, 128, 128}, {255, 64, 0}}});
    MaskOperation pick = op(mask_op_hue_saturation);
    pick.parameters.huesat.colours = {{0x0000ff, 20, 20}};  // red
    EXPECT_EQ(run(base, pick), (Rows{{255, 0, 0, 0, 255}}));
    pick.parameters.huesat.add_remove = 1;  // everything but red
    EXPECT_EQ(run(base, pick, 1), (Rows{{0, 65535, 65535, 65535, 0}}));
    // A colour just past the width falls on the soft edge.
    pick.parameters.huesat.add_remove = 0;
    const Rows edge = run(colour_image(image_color24, {{{255, 107, 0}}}), pick);
    EXPECT_GT(edge[0][0], 0u);
    EXPECT_LT(edge[0][0], 255u);

    // Histogram: the cell of pure green (120 degrees, full saturation) holds a darker green of
    // 123 degrees too, but not one of 129 degrees, unless the blur reaches it (1 of 6 cells).
    const Image greens = colour_image(
        image_color24, {{{0, 255, 0}, {0, 200, 10}, {0, 255, 40}, {255, 0, 0}, {90, 90, 90}}});
    MaskOperation hist = op(mask_op_hs_histogram);
    hs_set_cell(hist.parameters.histogram, 13, 19, true);
    EXPECT_EQ(run(greens, hist), (Rows{{255, 255, 0, 0, 0}}));
    hist.parameters.histogram.blur = 1;
    EXPECT_EQ(run(greens, hist), (Rows{{255, 255, 43, 0, 0}}));
    hist.parameters.histogram.thresholds[2] = 9000;  // value at least 90 %
    EXPECT_EQ(run(greens, hist), (Rows{{255, 0, 43, 0, 0}}));
}

TEST_F(MaskPixels, EachOperationReplaysFromItsCommandLineOnAnotherSize) {
    Image small, large;
    ASSERT_FALSE(image_alloc(small, image_color24, 6, 4, 0));
    ASSERT_FALSE(image_alloc(large, image_color24, 11, 9, 0));
    testing::fill_pattern(small, 18, 1);
    testing::fill_pattern(large, 33, 2);
    std::vector<MaskOperation> ops(5);
    for (std::size_t i = 0; i < ops.size(); ++i) ops[i] = op(codes[i], mask_add);
    ops[0].parameters.channel = 7;
    ops[0].parameters.curve.style = curve_linear;
    ops[0].parameters.curve.y[0] = 255;
    ops[0].parameters.curve.y[1] = 0;
    ops[1].parameters.separate = default_separate_entries();
    ops[1].parameters.separate[8] = {true, 0, 0.4, 1.0};  // picked in the bottom row
    ops[2].parameters.texture = {1, 1, 90, 140};
    ops[3].parameters.huesat.colours = {{0x20c040, 40, 30}, {0xff, 10, 50}};
    hs_set_cell(ops[4].parameters.histogram, 5, 10, true);
    ops[4].parameters.histogram.selection[40] = 0xf0;
    ops[4].parameters.histogram.blur = 2;
    for (const MaskOperation& o : ops) {
        MaskState state;
        mask_state_set_base(state, &small);
        ASSERT_FALSE(mask_list_reset(state));
        ASSERT_FALSE(mask_record(state, o));
        const std::string text = mask_command_line(state);
        for (const Image* base : {&small, &large}) {
            MaskState read;
            mask_state_set_base(read, base);
            EXPECT_FALSE(read_mask_command_line(text, read)) << text;
            // The same operation recorded directly on that picture (a picked colour is taken
            // from the picture the mask is built on).
            MaskOperation direct = o;
            if (o.code == mask_op_separate) {
                // y = 1 is the bottom row, stored first.
                const std::uint8_t* p =
                    base->rows[0] + 3 * static_cast<std::uint32_t>(0.4 * (base->width - 1) + 0.5);
                direct.parameters.separate[8].colour = p[2] + 256u * p[1] + 65536u * p[0];
            }
            const Rows got = seen(read.current_mask);
            EXPECT_EQ(got, run(*base, direct)) << text;
            EXPECT_EQ(read.current_mask.width, base->width);
            // Something is selected and something is not, so the comparison means something.
            std::vector<std::uint32_t> values;
            for (const auto& row : got) values.insert(values.end(), row.begin(), row.end());
            EXPECT_NE(*std::min_element(values.begin(), values.end()),
                      *std::max_element(values.begin(), values.end()))
                << o.code;
        }
    }
    EXPECT_TRUE(scope.recorder.errors().empty());
}

}  // namespace
}  // namespace tessaly
