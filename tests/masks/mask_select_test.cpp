// The operations that select pixels of the base image, and the paint brush.
#include "masks/mask_select.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "core/runner.h"
#include "masks/mask_paint.h"
#include "masks/mask_pixels.h"
#include "support/image_helpers.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"
#include "support/sample_rows.h"

namespace tessaly {
namespace {

using Limits = std::array<std::int32_t, 12>;
using Values = std::vector<std::uint32_t>;

using Pixel = std::array<int, 3>;  // red, green, blue

// A colour picture from rows of pixels, top row first.
Image colour_image(std::uint32_t type, const std::vector<std::vector<Pixel>>& rows) {
    testing::SampleRows samples;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        samples.emplace_back();
        for (const Pixel& p : *row) samples.back().insert(samples.back().end(), {p[2], p[1], p[0]});
    }
    return testing::image_of_rows(type, samples);
}

class MaskSelect : public ::testing::Test {
  protected:
    testing::RecordingScope scope;
};

MaskOperation range_op(Limits limits, std::int32_t colorspace = 0, std::int32_t mode = mask_add) {
    return {mask_op_color_range, mode, 0, {.color_range = {colorspace, 0xff, limits}}};
}
MaskOperation fill_op(double x, double y, double threshold, std::int32_t mode = mask_add) {
    return {mask_op_flood_fill,
            mode,
            0,
            {.floodfill_x = x, .floodfill_y = y, .floodfill_threshold = threshold}};
}
Rows uniform(std::uint32_t w, std::uint32_t h, std::uint32_t v) {
    return Rows(h, std::vector<std::uint32_t>(w, v));
}

TEST(ColorRangeTable, RampsWrappedRangesAndNarrowBands) {
    // minb 10, maxb 90, minw 30, maxw 50: rising 10..30, falling 50..90, truncated.
    auto t = color_range_table(101, 255, 10, 90, 30, 50, false, 8);
    EXPECT_EQ((std::vector<int>{t[5], t[10], t[20], t[29], t[30], t[50], t[60], t[90]}),
              (std::vector<int>{0, 0, 127, 242, 255, 255, 191, 0}));
    // Wrapped: none from maxw 40 to minw 60, ramps out to maxb 20 and minb 70.
    t = color_range_table(101, 255, 70, 20, 60, 40, false, 8);
    EXPECT_EQ((std::vector<int>{t[10], t[30], t[40], t[60], t[65], t[80]}),
              (std::vector<int>{255, 128, 0, 0, 128, 255}));

    // Equal limits on every channel: a band of 8 steps on 12-bit tables, 1 on 8-bit RGB ones.
    ColorRangeSettings s;
    s.limits.fill(512);
    ColorRangeMembership m;
    ASSERT_FALSE(m.build(s, image_color24, 255));
    ASSERT_EQ(m.table_size(), 4097u);
    EXPECT_EQ((std::vector<std::uint32_t>{m.channel(2, 2039), m.channel(2, 2040),
                                          m.channel(2, 2056), m.channel(2, 2057)}),
              (std::vector<std::uint32_t>{0, 255, 255, 0}));
    EXPECT_TRUE(m.build(s, image_float_color, 255));
}

TEST_F(MaskSelect, ColorRangeOnGrayRampsAndColourPixels) {
    // Channel 1 wrapped: minb = minw = 200, maxb = maxw = 100 (49 and 24 on 8 bits).
    const Limits wrapped{200, 100, 0, 1024, 0, 1024, 200, 100, 0, 1024, 0, 1024};
    Image ramp;
    ASSERT_FALSE(image_alloc(ramp, image_gray8, 256, 1, 0));
    for (std::uint32_t x = 0; x < 256; ++x) ramp.rows[0][x] = static_cast<std::uint8_t>(x);
    const Rows r8 = mask_after(ramp, range_op(wrapped));
    for (std::uint32_t v = 0; v < 256; ++v) EXPECT_EQ(r8[0][v], v < 24 || v > 49 ? 255u : 0u);
    // 16-bit gray on a 16-bit mask: 100 and 200 become 6399 and 12799.
    const Image ramp16 = mask_of(image_gray16, {{0, 6398, 6399, 12799, 12800, 65535}});
    EXPECT_EQ(mask_after(ramp16, range_op(wrapped), 0, 1),
              Rows({{65535, 65535, 0, 0, 65535, 65535}}));

    // RGB: red at least 127 and green at most 63; Subtract from a full mask.
    const Image rgb =
        colour_image(image_color24, {{{255, 0, 0}, {0, 255, 0}, {255, 255, 0}, {200, 50, 10}}});
    EXPECT_EQ(mask_after(rgb,
                         range_op({512, 1024, 0, 256, 0, 1024, 512, 1024, 0, 256, 0, 1024}, 2,
                                  mask_subtract),
                         255),
              Rows({{0, 255, 255, 0}}));
    // 12-bit HSV hue 0..200 takes red and (200, 50, 10) (hue 143), not green or yellow (682).
    EXPECT_EQ(mask_after(rgb, range_op({0, 50, 0, 1024, 0, 1024, 0, 50, 0, 1024, 0, 1024})),
              Rows({{255, 0, 0, 255}}));

    Image floating;
    ASSERT_FALSE(image_alloc(floating, image_float_gray, 2, 1, 0));
    EXPECT_EQ(mask_after(floating, range_op(wrapped), 9, 0, true), Rows({{9, 9}}));
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Error creating color range mask"});
}

TEST_F(MaskSelect, FloodFillThresholdsSeedsAndBox) {
    const Image flat = mask_of(image_gray8, uniform(4, 3, 77));
    EXPECT_EQ(mask_after(flat, fill_op(1.4, 1.6, 0)), uniform(4, 3, 255));
    // Seeds that round off the picture fill nothing.
    for (const auto& seed : {fill_op(-0.5, 1, 50), fill_op(1, 2.5, 50)})
        EXPECT_EQ(mask_after(flat, seed, 9), uniform(4, 3, 9));

    // 8-bit gray counts a difference three times (1 needs sqrt(3)), 16-bit gray once.
    const Image steps = mask_of(image_gray8, {{10, 11, 10, 13}});
    EXPECT_EQ(mask_after(steps, fill_op(0, 0, 1.7)), Rows({{255, 0, 0, 0}}));
    EXPECT_EQ(mask_after(steps, fill_op(0, 0, 1.75)), Rows({{255, 255, 255, 0}}));
    const Image steps16 = mask_of(image_gray16, {{2570, 2827, 2570, 3341}});  // 10, 11, 10, 13
    EXPECT_EQ(mask_after(steps16, fill_op(0, 0, 0.9)), Rows({{255, 0, 0, 0}}));
    EXPECT_EQ(mask_after(steps16, fill_op(0, 0, 1), 0, 1), Rows({{65535, 65535, 65535, 0}}));
    // Colour: squared distance 1 + 4.
    const Image rgb = colour_image(image_color24, {{{10, 10, 10}, {11, 12, 10}, {10, 10, 10}}});
    EXPECT_EQ(mask_after(rgb, fill_op(2, 0, 2.2)), Rows({{0, 0, 255}}));
    EXPECT_EQ(mask_after(rgb, fill_op(2, 0, 2.24)), Rows({{255, 255, 255}}));

    // The L of zeros has the box of columns and rows 1-2; (2, 2) is in it but not filled.
    const Image el =
        mask_of(image_gray8,
                {{200, 200, 200, 200}, {200, 0, 0, 200}, {200, 0, 200, 200}, {200, 200, 200, 200}});
    Rows expected = uniform(4, 4, 100);
    expected[2][2] = 0;
    EXPECT_EQ(mask_after(el, fill_op(1, 1, 0, mask_overlap), 100), expected);
    EXPECT_EQ(mask_after(el, fill_op(1, 1, 0, mask_invert_mode), 15),
              Rows({{15, 15, 15, 15}, {15, 240, 240, 15}, {15, 240, 15, 15}, {15, 15, 15, 15}}));

    // A fill map that cannot be made leaves the mask as it was.
    MaskState state;
    mask_state_set_base(state, &el);
    ASSERT_FALSE(mask_list_reset(state));
    Image after;
    ASSERT_FALSE(image_copy(state.current_mask, after));
    testing::AllocationFailureScope failing;
    image_fail_allocations_after(0);
    EXPECT_TRUE(render_flood_fill(state, fill_op(1, 1, 0), after));
    EXPECT_EQ(seen(after), uniform(4, 4, 0));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Cannot create flood fill temporary image"});
}

TEST_F(MaskSelect, CurveChannelsOnColourAndGrayPictures) {
    const Image base =
        colour_image(image_color24, {{{200, 100, 50}, {0, 255, 0}, {240, 200, 160}}});
    // Luminance, R, G, B, HSV V, HSL L, HSV S, HSL S (the third pixel is in the light half),
    // HSV H, HSL H (20, 120 and 30 degrees).
    const Rows expected[10] = {
        {{124, 149, 207}}, {{200, 0, 240}},  {{100, 255, 200}}, {{50, 0, 160}}, {{200, 255, 240}},
        {{125, 127, 200}}, {{191, 255, 85}}, {{153, 255, 185}}, {{14, 85, 21}}, {{14, 85, 21}}};
    MaskOperation curve{mask_op_curve};
    MaskOperation inverted{mask_op_curve, mask_overlap};
    inverted.parameters.curve.style = curve_linear;
    inverted.parameters.curve.y[0] = 255;
    inverted.parameters.curve.y[1] = 0;
    for (std::int32_t channel = 0; channel < 10; ++channel) {
        curve.parameters.channel = inverted.parameters.channel = channel;
        EXPECT_EQ(mask_after(base, curve), expected[channel]) << "channel " << channel;
        // Overlap with a base mask of 100 keeps the smaller value.
        Rows low = expected[channel];
        for (auto& v : low[0]) v = std::min(255u - v, 100u);
        EXPECT_EQ(mask_after(base, inverted, 100), low) << "channel " << channel;
    }
    // 16-bit samples through the 16-bit table, onto 16- and 8-bit masks.
    const Image deep = colour_image(image_color48, {{{51400, 25700, 12850}}});
    const std::pair<std::int32_t, std::uint32_t> deep_expected[] = {
        {0, 31911}, {4, 51400}, {6, 49151}, {7, 39321}};
    for (const auto& [channel, value] : deep_expected) {
        curve.parameters.channel = channel;
        EXPECT_EQ(mask_after(deep, curve, 0, 1), Rows{{value}}) << "channel " << channel;
    }
    curve.parameters.channel = 0;
    EXPECT_EQ(mask_after(deep, curve), Rows{{124}});
    // A gray picture gives its value to every channel, saturation and hue included.
    curve.parameters.channel = 6;
    EXPECT_EQ(mask_after(mask_of(image_gray8, {{77}}), curve), Rows{{77}});
    EXPECT_EQ(mask_after(mask_of(image_gray8, {{77}}), curve, 0, 1), Rows{{77 * 257}});

    // Binary pictures are read as gray. A cancel fails without a word; a failed allocation
    // says so (the caller then keeps the mask before the operation).
    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 2, 1, 0));
    bit_set(binary.rows[0], 1);
    EXPECT_EQ(mask_after(binary, curve), (Rows{{0, 255}}));
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

TEST_F(MaskSelect, SeparateGrayRampRgbProjectionAndFailures) {
    MaskOperation sep{mask_op_separate};
    sep.parameters.separate = default_separate_entries();
    SeparateEntries& e = sep.parameters.separate;
    // Defaults (black to 0, white to full): light stays light.
    EXPECT_EQ(mask_after(mask_of(image_gray8, {{0, 200, 255}}), sep), (Rows{{0, 200, 255}}));

    // Gray: 50 and 240 map to 0, 200 to full; each pixel uses the nearer of 50 and 240.
    e[0].colour = 0x323232;
    e[1] = {true, 0xf0f0f0, -1, -1};
    e[8].colour = 0xc8c8c8;
    EXPECT_EQ(mask_after(mask_of(image_gray8, {{0, 50, 120, 200, 220, 255}}), sep),
              (Rows{{0, 0, 119, 255, 127, 0}}));

    // Equal colours give half.
    e[1].in_use = false;
    e[0].colour = e[8].colour = 0x808080;
    EXPECT_EQ(mask_after(mask_of(image_gray8, {{0, 255}}), sep), (Rows{{128, 128}}));
    EXPECT_EQ(mask_after(mask_of(image_gray16, {{0}}), sep, 0, 1), (Rows{{32768}}));

    // RGB from black to (200, 100, 0): projection inside the box, nearest colour outside it.
    e[0].colour = 0;
    e[8].colour = 200 + 256 * 100;
    const Image rgb = colour_image(
        image_color24, {{{100, 50, 0}, {50, 100, 0}, {10, 10, 50}, {250, 120, 10}, {200, 100, 0}}});
    EXPECT_EQ(mask_after(rgb, sep), (Rows{{128, 102, 0, 255, 255}}));

    // Neither gray nor colour of 8 or 16 bits: the message, and the mask as it was.
    for (std::uint32_t type : {image_binary, image_float_color}) {
        Image other;
        ASSERT_FALSE(image_alloc(other, type, 2, 1, 0));
        EXPECT_EQ(mask_after(other, sep, 7, 0, true), (Rows{{7, 7}}));
    }
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>(2, "Error creating separate mask"));
}

TEST_F(MaskSelect, TextureMeasuresWithClampedEdges) {
    const Rows a = {{40, 40, 40}, {40, 40, 0}, {40, 40, 80}};
    const Rows expected[3] = {{{0, 40, 40}, {0, 40, 80}, {0, 40, 80}},
                              {{0, 5, 10}, {0, 10, 45}, {0, 15, 35}},
                              {{0, 5, 10}, {0, 0, 45}, {0, 5, 35}}};
    MaskOperation texture{mask_op_texture};
    for (std::int32_t method = 0; method < 3; ++method) {
        texture.parameters.texture.method = method;
        EXPECT_EQ(mask_after(mask_of(image_gray8, a), texture), expected[method]) << method;
    }
    // 16-bit: thresholds in 8-bit units, a ramp from 10 to 50 on a 16-bit mask.
    Rows a16 = a;
    for (auto& row : a16)
        std::transform(row.begin(), row.end(), row.begin(), [](auto v) { return v * 257; });
    texture.parameters.texture = {1, 0, 10, 50};
    EXPECT_EQ(mask_after(mask_of(image_gray16, a16), texture, 0, 1),
              (Rows{{0, 0, 0}, {0, 0, 57343}, {0, 8191, 40959}}));
}

using MaskPaint = MaskSelect;  // the same recording scope

// A hard brush stroke.
MaskOperation stroke(std::vector<MaskVertex> points, double radius, double transparency,
                     std::int32_t mode = mask_add, std::int32_t accumulate = 0) {
    MaskOperation o{mask_op_paint, mode, 0, {.vertices = std::move(points)}};
    o.parameters.brush = {.radius = radius, .transparency = transparency, .softness = 0};
    o.parameters.brush.accumulate = accumulate;
    return o;
}

TEST(PaintBrush, ProfileStepsAndPressure) {
    // Radius 2.5, transparency 20 (peak 204), softness 40 (hard radius 1.5): 7 x 7.
    const PaintBrush b = make_paint_brush(2.5, 20, 40);
    ASSERT_EQ(b.size(), 7);
    std::vector<int> rows[3];
    for (int i = 0; i < 7; ++i)
        rows[0].push_back(b.at(i, 3)), rows[1].push_back(b.at(i, 1)), rows[2].push_back(b.at(i, 0));
    EXPECT_EQ(rows[0], (std::vector{0, 102, 204, 204, 204, 102, 0}));
    EXPECT_EQ(rows[1], (std::vector{0, 0, 33, 102, 33, 0, 0}));
    EXPECT_EQ(rows[2], std::vector<int>(7, 0));
    // Tiny radii still make 3 x 3; a half-transparent peak rounds up.
    EXPECT_EQ(make_paint_brush(0.3, 0, 100).values,
              (std::vector<std::uint8_t>{0, 0, 0, 0, 255, 0, 0, 0, 0}));
    EXPECT_EQ(make_paint_brush(1, 50, 0).values,
              (std::vector<std::uint8_t>{0, 128, 0, 128, 128, 128, 0, 128, 0}));

    BrushSettings nominal;
    nominal.pressure_controls = 2;
    EXPECT_EQ(
        (std::vector{brush_at_pressure(nominal, 0.25).radius, brush_at_pressure(nominal, 0).radius,
                     brush_at_pressure(nominal, -1).radius}),
        (std::vector{2.5, 0.5, 10.0}));
    EXPECT_EQ(paint_merge(mask_invert_mode, false, 100, 200, 255), 155u);
}

TEST_F(MaskPaint, SubtractAndAddWithAndWithoutAccumulate) {
    Image base;
    ASSERT_FALSE(image_alloc(base, image_gray8, 11, 11, 0));
    // Transparency 75: every pixel of the hard radius-2 brush is 64.
    const auto dab = [](std::int32_t mode, std::int32_t accumulate) {
        return stroke({{5, 5}}, 2, 75, mode, accumulate);
    };
    MaskState state{.initial_level = 255};
    mask_state_set_base(state, &base);
    ASSERT_FALSE(mask_list_reset(state));
    const std::pair<std::int32_t, std::uint32_t> subtracts[] = {
        {0, 191}, {0, 191}, {1, 127}, {1, 63}};
    for (const auto& [accumulate, expected] : subtracts) {
        ASSERT_FALSE(mask_record(state, dab(mask_subtract, accumulate)));
        const Rows m = seen(state.current_mask);  // (4, 3) is outside the radius
        EXPECT_TRUE(m[5][5] == expected && m[3][5] == expected && m[3][4] == 255u) << expected;
    }
    state.initial_level = 0;
    ASSERT_FALSE(mask_list_reset(state));
    for (std::int32_t accumulate : {1, 1, 0})
        ASSERT_FALSE(mask_record(state, dab(mask_add, accumulate)));
    EXPECT_EQ(seen(state.current_mask)[5][5], 128u);
}

TEST_F(MaskPaint, ColourLimitedPaintAndSixteenBitMasks) {
    // A cross-shaped brush dragged along row 2 from x = 2 to 17; threshold 30 on gray differences
    // counted three times (column 6 is half similar to the left).
    Values row(20, 200);  // columns below 10 are 100, column 6 is 115
    std::fill_n(row.begin(), 10, 100);
    row[6] = 115;
    const Image base = mask_of(image_gray8, Rows(5, row));
    MaskOperation similar = stroke({{2, 2}, {17, 2}}, 1, 0);
    similar.parameters.brush.operation = 2;
    similar.parameters.brush.threshold = 30;
    const Rows mask = mask_after(base, similar);
    EXPECT_EQ(mask[2], (Values{0, 255, 255, 255, 255, 255, 128, 255, 255, 255,
                               0, 0,   0,   0,   0,   0,   0,   0,   0,   0}));
    EXPECT_EQ(mask[0], Values(20, 0));

    // Tracking: the first dab samples the left colour, the others the end point's.
    similar.parameters.brush.operation = 3;
    EXPECT_EQ(mask_after(base, similar)[2],
              (Values{0,   255, 255, 255, 0,   0,   0,   0,   0,   0,
                      255, 255, 255, 255, 255, 255, 255, 255, 255, 0}));

    // 16-bit masks widen the brush; half pressure on transparency makes the first dab 128.
    MaskOperation pressed = stroke({{2, 2, 0.5}, {17, 2, -1}}, 1, 0);
    pressed.parameters.brush.pressure_controls = 1;
    const Rows deep = mask_after(base, pressed, 0, 1);
    EXPECT_TRUE(deep[1][2] == 32896u && deep[1][3] == 65535u);

    Image floating;
    ASSERT_FALSE(image_alloc(floating, image_float_gray, 20, 5, 0));
    EXPECT_EQ(mask_after(floating, similar, 7, 0, true)[2][2], 7u);
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Error painting mask"});
}

}  // namespace
}  // namespace tessaly
