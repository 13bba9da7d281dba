#include "masks/mask_paint.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/mask_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using Values = std::vector<std::uint32_t>;

class MaskPaint : public ::testing::Test {
  protected:
    void start(const Image& base, std::int32_t level, std::int32_t mask16 = 0) {
        mask_state_set_base(state, &base);
        state.initial_level = level;
        state.mask16 = mask16;
        ASSERT_FALSE(mask_list_reset(state));
    }
    std::uint32_t at(std::uint32_t x, std::uint32_t y) const {
        return seen(state.current_mask)[y][x];
    }

    testing::RecordingScope scope;
    MaskState state;
};

// A hard brush stroke.
MaskOperation stroke(std::vector<MaskVertex> points, double radius, double transparency,
                     std::int32_t mode = mask_add, std::int32_t accumulate = 0) {
    MaskOperation o{mask_op_paint, mode, 0, {.vertices = std::move(points)}};
    o.parameters.brush = {.radius = radius, .transparency = transparency, .softness = 0};
    o.parameters.brush.accumulate = accumulate;
    return o;
}

// Columns below 10 are 100, the others 200; column 6 is 115.
Image halves(std::uint32_t w, std::uint32_t h) {
    Image im;
    EXPECT_FALSE(image_alloc(im, image_gray8, w, h, 0));
    for (std::uint32_t r = 0; r < h; ++r) {
        for (std::uint32_t x = 0; x < w; ++x) im.rows[r][x] = x == 6 ? 115 : x < 10 ? 100 : 200;
    }
    return im;
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
    start(base, 255);
    const std::pair<std::int32_t, std::uint32_t> subtracts[] = {
        {0, 191}, {0, 191}, {1, 127}, {1, 63}};
    for (const auto& [accumulate, expected] : subtracts) {
        ASSERT_FALSE(mask_record(state, dab(mask_subtract, accumulate)));
        EXPECT_EQ(at(5, 5), expected);
        EXPECT_EQ(at(5, 3), expected);
        EXPECT_EQ(at(4, 3), 255u);  // outside the radius
    }
    start(base, 0);
    ASSERT_FALSE(mask_record(state, dab(mask_add, 1)));
    ASSERT_FALSE(mask_record(state, dab(mask_add, 1)));
    ASSERT_FALSE(mask_record(state, dab(mask_add, 0)));
    EXPECT_EQ(at(5, 5), 128u);
}

TEST_F(MaskPaint, ColourLimitedPaintAndSixteenBitMasks) {
    // A cross-shaped brush dragged along row 2 from x = 2 to 17; threshold 30 on gray differences
    // counted three times (column 6 is half similar to the left).
    const Image base = halves(20, 5);
    MaskOperation similar = stroke({{2, 2}, {17, 2}}, 1, 0);
    similar.parameters.brush.operation = 2;
    similar.parameters.brush.threshold = 30;
    start(base, 0);
    ASSERT_FALSE(mask_record(state, similar));
    Rows mask = seen(state.current_mask);
    EXPECT_EQ(mask[2], (Values{0, 255, 255, 255, 255, 255, 128, 255, 255, 255,
                               0, 0,   0,   0,   0,   0,   0,   0,   0,   0}));
    EXPECT_EQ(mask[0], Values(20, 0));

    // Tracking: the first dab samples the left colour, the others the end point's.
    similar.parameters.brush.operation = 3;
    start(base, 0);
    ASSERT_FALSE(mask_record(state, similar));
    EXPECT_EQ(seen(state.current_mask)[2],
              (Values{0,   255, 255, 255, 0,   0,   0,   0,   0,   0,
                      255, 255, 255, 255, 255, 255, 255, 255, 255, 0}));

    // 16-bit masks widen the brush; half pressure on transparency makes the first dab 128.
    MaskOperation pressed = stroke({{2, 2, 0.5}, {17, 2, -1}}, 1, 0);
    pressed.parameters.brush.pressure_controls = 1;
    start(base, 0, 1);
    ASSERT_FALSE(mask_record(state, pressed));
    EXPECT_EQ(at(2, 1), 32896u);
    EXPECT_EQ(at(3, 1), 65535u);

    Image floating;
    ASSERT_FALSE(image_alloc(floating, image_float_gray, 20, 5, 0));
    start(floating, 7);
    EXPECT_TRUE(mask_record(state, similar));
    EXPECT_EQ(at(2, 2), 7u);
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Error painting mask"});
}

}  // namespace
}  // namespace tessaly
