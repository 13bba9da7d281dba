#include "masks/mask_shapes.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>

#include "masks/gradient_render.h"
#include "masks/mask_command_line.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using testing::RecordingScope;

class MaskShapes : public ::testing::Test {
  protected:
    RecordingScope scope_;
};

Image uniform(std::uint32_t type, std::uint32_t w, std::uint32_t h, std::uint32_t v) {
    return mask_of(type, Rows(h, std::vector<std::uint32_t>(w, v)));
}

MaskOperation box_op(std::int32_t code, std::int32_t mode, double x0, double y0, double x1,
                     double y1, double angle = 0) {
    MaskOperation o;
    o.code = code;
    o.mode = mode;
    o.parameters.x0 = x0;
    o.parameters.y0 = y0;
    o.parameters.x1 = x1;
    o.parameters.y1 = y1;
    o.parameters.angle = angle;
    return o;
}

// Coverage of the square (10,10)-(19,19) along one axis: sub-samples 50..94 of the 1/5 grid are
// inside, so pixel 10 holds 3 of its 5, pixel 19 holds 2, and 11..18 all 5.
std::uint32_t square_coverage(std::uint32_t x, std::uint32_t y) {
    auto along = [](std::uint32_t p) -> std::uint32_t {
        if (p < 10 || p > 19) return 0;
        return p == 10 ? 3 : p == 19 ? 2 : 5;
    };
    return 255 * along(x) * along(y) / 25;
}

TEST_F(MaskShapes, RectangleCoverageInEveryMode) {
    MaskState state;
    EXPECT_EQ(square_coverage(10, 10), 91u);  // 9 of 25
    EXPECT_EQ(square_coverage(19, 12), 102u);
    for (std::int32_t mode = 0; mode < 4; ++mode) {
        Image after = uniform(image_gray8, 30, 25, 200);
        ASSERT_FALSE(render_rectangle(state, box_op(1, mode, 10, 10, 19, 19), after));
        const Rows got = seen(after);
        for (std::uint32_t y = 0; y < 25; ++y) {
            for (std::uint32_t x = 0; x < 30; ++x) {
                const bool in_box = x >= 10 && x <= 19 && y >= 10 && y <= 19;
                const std::uint32_t s = square_coverage(x, y);
                std::uint32_t want = in_box ? mask_combine(mode, 200, s) : 200;
                if (mode == mask_overlap && !in_box) want = 0;
                ASSERT_EQ(got[y][x], want) << "mode " << mode << " at " << x << "," << y;
            }
        }
    }
    // On black in Add and on white in Overlap both give the coverage itself.
    Image black = uniform(image_gray8, 30, 25, 0);
    Image white = uniform(image_gray8, 30, 25, 255);
    ASSERT_FALSE(render_rectangle(state, box_op(1, mask_add, 10, 10, 19, 19), black));
    ASSERT_FALSE(render_rectangle(state, box_op(1, mask_overlap, 10, 10, 19, 19), white));
    EXPECT_EQ(seen(black), seen(white));
    EXPECT_EQ(seen(black)[15][15], 255u);

    // Sixteen bits: the same coverage, widened.
    Image deep = uniform(image_gray16, 30, 25, 0);
    ASSERT_FALSE(render_rectangle(state, box_op(1, mask_add, 10, 10, 19, 19), deep));
    EXPECT_EQ(seen(deep)[10][10], 91u * 257);
    EXPECT_EQ(seen(deep)[19][19], 40u * 257);
    EXPECT_EQ(seen(deep)[15][15], 65535u);

    // A box entirely outside the image does nothing, even in Overlap.
    ASSERT_FALSE(render_rectangle(state, box_op(1, mask_overlap, 40, 40, 50, 50), white));
    EXPECT_EQ(seen(white), seen(black));
}

TEST_F(MaskShapes, RotatedRectangleAndOval) {
    MaskState state;
    Image turned = uniform(image_gray8, 40, 40, 0);
    Image upright = uniform(image_gray8, 40, 40, 0);
    // Half a turn of a quarter: the 20 x 6 box about (20, 23) becomes 6 x 20.
    ASSERT_FALSE(
        render_rectangle(state, box_op(1, mask_add, 10, 20, 30, 26, std::numbers::pi / 2), turned));
    ASSERT_FALSE(render_rectangle(state, box_op(1, mask_add, 17, 13, 23, 33), upright));
    EXPECT_EQ(seen(turned), seen(upright));

    // The outline count: round(2 |r|) on the grid, kept within 8..2000, the last point closing.
    EXPECT_EQ(oval_outline(0, 0, 1, 1, 0).size(), 8u);
    EXPECT_EQ(oval_outline(0, 0, 20, 10, 0).size(), 112u);  // 2 sqrt(50^2 + 25^2) = 111.8
    EXPECT_EQ(oval_outline(0, 0, 4000, 4000, 0).size(), 2000u);
    const std::vector<GridPoint> o = oval_outline(0, 0, 20, 10, 0.5);
    EXPECT_EQ(o.front(), o.back());
    EXPECT_EQ(o.front(), (GridPoint{50 + std::llround(50 * std::cos(0.5)),
                                    25 - std::llround(50 * std::sin(0.5))}));

    Image oval = uniform(image_gray8, 21, 21, 0);
    ASSERT_FALSE(render_oval(state, box_op(2, mask_add, 0, 0, 20, 20), oval));
    const Rows got = seen(oval);
    EXPECT_EQ(got[10][10], 255u);
    EXPECT_EQ(got[0][0], 0u);
    EXPECT_EQ(got[2][2], 0u);  // outside the circle, inside its box
    EXPECT_GT(got[10][0], 0u);
    EXPECT_LT(got[10][0], 255u);
}

TEST_F(MaskShapes, PolygonsFillEvenOdd) {
    MaskState state;
    // An outer square and an inner one of the same turning sense joined by a there-and-back
    // bridge: the inner square is a hole under the even-odd rule.
    MaskOperation o;
    o.code = mask_op_polygon;
    const double points[][2] = {{0, 0}, {20, 0}, {20, 20}, {0, 20}, {0, 0},
                                {5, 5}, {15, 5}, {15, 15}, {5, 15}, {5, 5}};
    for (const auto& p : points) o.parameters.vertices.push_back({p[0], p[1], -1});
    Image after = uniform(image_gray8, 22, 22, 0);
    ASSERT_FALSE(render_polygon(state, o, after));
    EXPECT_EQ(seen(after)[10][10], 0u);
    EXPECT_EQ(seen(after)[10][2], 255u);
    EXPECT_EQ(seen(after)[2][10], 255u);
    Image freehand = uniform(image_gray8, 22, 22, 0);
    ASSERT_FALSE(render_freehand(state, o, freehand));
    EXPECT_EQ(seen(freehand), seen(after));
}

TEST_F(MaskShapes, SplineIsAClosedCurveThroughItsPoints) {
    const std::vector<MaskVertex> controls = {{10, 10, -1}, {40, 10, -1}, {25, 35, -1}};
    const std::vector<MaskVertex> samples = spline_samples(controls);
    // Chords 30, 29.2 and 29.2 pixels: 15 samples each, both ends included.
    ASSERT_EQ(samples.size(), 45u);
    for (std::size_t k = 0; k < 3; ++k) {
        const MaskVertex& start = samples[15 * k];
        const MaskVertex& end = samples[15 * k + 14];
        const MaskVertex& next = controls[(k + 1) % 3];
        EXPECT_NEAR(start.x, controls[k].x, 1e-9);
        EXPECT_NEAR(start.y, controls[k].y, 1e-9);
        EXPECT_NEAR(end.x, next.x, 1e-9);
        EXPECT_NEAR(end.y, next.y, 1e-9);
    }
    // Each segment leaves along the previous chord, so the first one swings above y = 10.
    EXPECT_LT(samples[7].y, 10.0);
    EXPECT_NEAR(samples[7].x, 25.0, 1e-9);

    // A chord of 1 to 3 pixels keeps only its start point; one under a pixel adds nothing.
    const std::vector<MaskVertex> short_chords =
        spline_samples({{0, 0, -1}, {2, 0, -1}, {2.2, 0, -1}, {20, 0, -1}, {20, 20, -1}});
    ASSERT_GE(short_chords.size(), 2u);
    EXPECT_EQ(short_chords[0].x, 0.0);
    EXPECT_EQ(short_chords[1].x, 2.2);  // the start of the 2.2 -> 20 segment

    MaskState state;
    MaskOperation o;
    o.code = mask_op_spline;
    o.parameters.vertices = {{10, 10, -1}, {40, 10, -1}, {40, 40, -1}, {10, 40, -1}};
    Image after = uniform(image_gray8, 50, 50, 0);
    ASSERT_FALSE(render_spline(state, o, after));
    const Rows got = seen(after);
    EXPECT_EQ(got[25][25], 255u);
    EXPECT_EQ(got[10][25], 255u);  // the round loop passes outside the square's sides
    EXPECT_EQ(got[46][46], 0u);
    EXPECT_EQ(got[7][25], 255u);  // the top of the bulge is near y = 4.7
    EXPECT_EQ(got[3][25], 0u);
}

TEST_F(MaskShapes, GradientsMergeOverTheWholeMask) {
    MaskState state;
    Image after = uniform(image_gray8, 11, 3, 60);
    // Identical end points: nothing happens, even in Overlap.
    ASSERT_FALSE(render_linear_gradient_op(state, box_op(13, mask_overlap, 4, 1, 4, 1), after));
    ASSERT_FALSE(render_oval_gradient_op(state, box_op(14, mask_overlap, 4, 1, 4, 1), after));
    EXPECT_EQ(seen(after), seen(uniform(image_gray8, 11, 3, 60)));

    // White to black from x = 0 to x = 8 merged by Add: 255 down to 60, every row alike.
    Image ramp8 = uniform(image_gray8, 9, 3, 60);
    ASSERT_FALSE(render_linear_gradient_op(state, box_op(13, mask_add, 0, 1, 8, 1), ramp8));
    const Rows got = seen(ramp8);
    for (std::uint32_t x = 0; x < 9; ++x) {
        const auto gray = static_cast<std::uint32_t>(std::lround(255.0 * (8 - x) / 8));
        EXPECT_EQ(got[0][x], std::max<std::uint32_t>(60, gray)) << x;
        EXPECT_EQ(got[2][x], got[0][x]);
    }

    // Three stops on 16 bits: black, white at the middle, red (gray 76) at the end.
    ColorLine line;
    line.stops = {{0, 0, 0, 0}, {1, 0, 0, 0x0000ff}, {0.5, 7, 9, 0xffffff}};
    Image deep = uniform(image_gray16, 21, 1, 0);
    ASSERT_FALSE(render_linear_gradient(deep, 0, 0, 1, 0, line));
    const Rows ramp = seen(deep);
    EXPECT_EQ(ramp[0][0], 0u);
    EXPECT_EQ(ramp[0][10], 65535u);
    EXPECT_EQ(ramp[0][20], 76u * 257);
    for (std::uint32_t x = 1; x <= 10; ++x) EXPECT_GT(ramp[0][x], ramp[0][x - 1]);
    for (std::uint32_t x = 11; x <= 20; ++x) EXPECT_LT(ramp[0][x], ramp[0][x - 1]);

    // Oval: centre (10, 10), point 1 at the corner (20, 15) of the quarter box.
    Image oval = uniform(image_gray8, 21, 21, 0);
    ASSERT_FALSE(render_oval_gradient(oval, 0.5, 0.5, 1, 0.75, 0, ColorLine()));
    const Rows o = seen(oval);
    EXPECT_EQ(o[10][10], 255u);
    EXPECT_EQ(o[10][15], 128u);
    EXPECT_EQ(o[10][20], 0u);
    EXPECT_EQ(o[15][10], 0u);
    EXPECT_EQ(o[12][10], 153u);  // 2/5 of the way out
    // Turned, point 1 stays the corner of the quarter box: half way to it is sqrt(1/2) out.
    Image turned = uniform(image_gray8, 21, 21, 0);
    ASSERT_FALSE(render_oval_gradient(turned, 0.5, 0.5, 0.9, 0.7, 0.3, ColorLine()));
    const Rows t = seen(turned);
    EXPECT_EQ(t[14][18], 0u);
    EXPECT_EQ(t[12][14], 75u);
    EXPECT_EQ(t[10][10], 255u);
    EXPECT_NE(t, o);
    // A quarter turn about the same corner is the same ellipse.
    Image quarter = uniform(image_gray8, 21, 21, 0);
    ASSERT_FALSE(
        render_oval_gradient(quarter, 0.5, 0.5, 1, 0.75, std::numbers::pi / 2, ColorLine()));
    const Rows q = seen(quarter);
    for (std::uint32_t y = 0; y < 21; ++y) {
        for (std::uint32_t x = 0; x < 21; ++x) EXPECT_NEAR(q[y][x], o[y][x], 1.0);
    }
}

TEST_F(MaskShapes, FailedAllocationsKeepTheMask) {
    MaskState state;
    Image after = uniform(image_gray8, 30, 30, 9);
    image_fail_allocations_after(0);
    EXPECT_TRUE(render_rectangle(state, box_op(1, mask_add, 1, 1, 9, 9), after));
    EXPECT_TRUE(render_linear_gradient_op(state, box_op(13, mask_add, 1, 1, 9, 9), after));
    image_fail_allocations_after(-1);
    EXPECT_EQ(scope_.recorder.errors(),
              (std::vector<std::string>{"Error creating rectangular mask",
                                        "Error creating linear gradient"}));
}

TEST_F(MaskShapes, RecipeReplaysOnAnotherSize) {
    Image small;
    ASSERT_FALSE(image_alloc(small, image_gray8, 101, 51, 0));
    MaskState first;
    mask_state_set_base(first, &small);
    ASSERT_FALSE(mask_list_reset(first));
    MaskOperation o;
    o.code = mask_op_polygon;
    o.parameters.vertices = {{10, 10, -1}, {50, 10, -1}, {30, 40, -1}};
    ASSERT_FALSE(mask_record(first, o));
    ASSERT_FALSE(mask_record(first, box_op(1, mask_invert_mode, 20, 5, 80, 15)));
    const std::string text = mask_command_line(first);

    Image large;
    ASSERT_FALSE(image_alloc(large, image_gray8, 201, 101, 0));
    MaskState second;
    mask_state_set_base(second, &large);
    ASSERT_FALSE(read_mask_command_line(text, second));
    Image want = uniform(image_gray8, 201, 101, 0);
    ASSERT_FALSE(fill_polygon(want, {{100, 100}, {500, 100}, {300, 400}}, mask_add, "unexpected"));
    ASSERT_FALSE(
        fill_polygon(want, rectangle_outline(40, 10, 160, 30, 0), mask_invert_mode, "unexpected"));
    EXPECT_EQ(seen(second.current_mask), seen(want));
    EXPECT_EQ(seen(want)[50][60], 255u);   // in the triangle only
    EXPECT_EQ(seen(want)[12][100], 255u);  // in the box only
    EXPECT_EQ(seen(want)[25][60], 0u);     // in both
    EXPECT_TRUE(scope_.recorder.errors().empty());
}

}  // namespace
}  // namespace tessaly
