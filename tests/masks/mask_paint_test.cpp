#include "masks/mask_paint.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "masks/mask_command_line.h"
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

MaskOperation stroke(std::vector<MaskVertex> points, double radius, double transparency,
                     std::int32_t mode = mask_add, std::int32_t accumulate = 0) {
    MaskOperation o;
    o.code = mask_op_paint;
    o.mode = mode;
    o.parameters.vertices = std::move(points);
    o.parameters.brush.radius = radius;
    o.parameters.brush.transparency = transparency;
    o.parameters.brush.softness = 0;  // hard
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
    const std::vector<int> centre_row = {0, 102, 204, 204, 204, 102, 0};
    const std::vector<int> second_row = {0, 0, 33, 102, 33, 0, 0};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(b.at(i, 3), centre_row[i]);
        EXPECT_EQ(b.at(i, 1), second_row[i]);
        EXPECT_EQ(b.at(i, 0), 0);
    }
    // Tiny radii still make 3 x 3; a half-transparent peak rounds up.
    EXPECT_EQ(make_paint_brush(0.3, 0, 100).values,
              (std::vector<std::uint8_t>{0, 0, 0, 0, 255, 0, 0, 0, 0}));
    EXPECT_EQ(make_paint_brush(1, 50, 0).values,
              (std::vector<std::uint8_t>{0, 128, 0, 128, 128, 128, 0, 128, 0}));

    EXPECT_EQ(paint_dab_step(10, 25), 3);
    EXPECT_EQ(paint_dab_step(1, 25), 1);
    // Step 3: (1, 0) and (5.9, 0) are nearer than 6 to (0, 0), (9, 4) nearer than 6 to (9, 0).
    BrushSettings nominal;
    const auto dabs = paint_dabs({{0, 0}, {1, 0}, {5.9, 0}, {9, 0}, {9, 4}}, nominal);
    ASSERT_EQ(dabs.size(), 4u);
    EXPECT_DOUBLE_EQ(dabs[1].x, 3);
    EXPECT_DOUBLE_EQ(dabs[3].x, 9);
    EXPECT_EQ(dabs[3].point, 3u);

    nominal.pressure_controls = 2;
    EXPECT_DOUBLE_EQ(brush_at_pressure(nominal, 0.25).radius, 2.5);
    EXPECT_DOUBLE_EQ(brush_at_pressure(nominal, 0).radius, 0.5);
    EXPECT_DOUBLE_EQ(brush_at_pressure(nominal, -1).radius, 10);
    nominal.pressure_controls = 4;
    EXPECT_DOUBLE_EQ(brush_at_pressure(nominal, 0.5).spacing, 25);
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

    // The tool settings' colour range (gray at most 127), not the record's (everything).
    similar.parameters.brush.operation = 1;
    start(base, 0);
    state.settings.color_range.limits = {0, 512, 0, 1024, 0, 1024, 0, 512, 0, 1024, 0, 1024};
    ASSERT_FALSE(mask_record(state, similar));
    EXPECT_EQ(seen(state.current_mask)[2], (Values{0, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                                                   0, 0,   0,   0,   0,   0,   0,   0,   0,   0}));

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

TEST_F(MaskPaint, CommandLineStrokeReplaysOnAnotherSize) {
    const std::string text =
        "mask 0 nx 41 ny 11 mask_mode 0 mask16 0 n_op 1 command1 operation 8 mask_mode 0 "
        "mask_operation 8 paint_operation 0 paint_radius 2 paint_transparency 0 paint_softness 0 "
        "paint_spacing 25 paint_threshold 30 paint_accumulate 0 pressure_controls 0 n 2 0.1 0.5 "
        "0.9 0.5 ";
    for (const auto& [w, h] : {std::pair<std::uint32_t, std::uint32_t>{41, 11}, {81, 21}}) {
        // A hard disc of radius 2 dragged along the middle row from a tenth to nine tenths.
        const std::uint32_t x0 = (w - 1) / 10, x1 = 9 * (w - 1) / 10, yc = (h - 1) / 2;
        Rows expected(h, Values(w, 0));
        for (std::uint32_t dy = 0; dy <= 2; ++dy) {
            for (std::uint32_t x = x0 - 2 + dy; x <= x1 + 2 - dy; ++x) {
                expected[yc - dy][x] = expected[yc + dy][x] = 255;
            }
        }
        const Image base = halves(w, h);
        MaskState replayed;
        mask_state_set_base(replayed, &base);
        EXPECT_FALSE(read_mask_command_line(text, replayed));
        EXPECT_EQ(seen(replayed.current_mask), expected) << w;
    }
    EXPECT_TRUE(scope.recorder.messages.empty());
}

}  // namespace
}  // namespace tessaly
