// The drawn shapes and gradients, their files, feather, pinholes and median.
#include "masks/mask_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/runner.h"
#include "core/text_file.h"
#include "framework/settings_files.h"
#include "masks/gradient_render.h"
#include "masks/mask_reshape.h"
#include "masks/shape_files.h"
#include "support/mask_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::RecordingScope;

class MaskShapes : public ::testing::Test {
  protected:
    RecordingScope scope_;
    testing::TempDir dir;
};

Image uniform(std::uint32_t type, std::uint32_t w, std::uint32_t h, std::uint32_t v) {
    return mask_of(type, Rows(h, std::vector<std::uint32_t>(w, v)));
}

MaskOperation box_op(std::int32_t code, std::int32_t mode, double x0, double y0, double x1,
                     double y1, double angle = 0) {
    return {code, mode, 0, {.x0 = x0, .y0 = y0, .x1 = x1, .y1 = y1, .angle = angle}};
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
    // On black in Add and on white in Overlap both give the coverage itself; a box entirely
    // outside the image then does nothing, even in Overlap.
    Image black = uniform(image_gray8, 30, 25, 0), white = uniform(image_gray8, 30, 25, 255);
    ASSERT_FALSE(render_rectangle(state, box_op(1, mask_add, 10, 10, 19, 19), black));
    ASSERT_FALSE(render_rectangle(state, box_op(1, mask_overlap, 10, 10, 19, 19), white));
    ASSERT_FALSE(render_rectangle(state, box_op(1, mask_overlap, 40, 40, 50, 50), white));
    EXPECT_TRUE(seen(black) == seen(white) && seen(black)[15][15] == 255u);

    // Sixteen bits: the same coverage, widened.
    Image deep = uniform(image_gray16, 30, 25, 0);
    ASSERT_FALSE(render_rectangle(state, box_op(1, mask_add, 10, 10, 19, 19), deep));
    const Rows d = seen(deep);
    EXPECT_EQ((std::vector{d[10][10], d[19][19], d[15][15]}),
              (std::vector<std::uint32_t>{91 * 257, 40 * 257, 65535}));  // 9 and 4 of 25
}

TEST_F(MaskShapes, OvalAndPolygon) {
    MaskState state;
    // An oval outline has round(2 |r|) grid points, kept within 8..2000.
    EXPECT_EQ(oval_outline(0, 0, 1, 1, 0).size(), 8u);
    Image oval = uniform(image_gray8, 21, 21, 0);
    ASSERT_FALSE(render_oval(state, box_op(2, mask_add, 0, 0, 20, 20), oval));
    const Rows got = seen(oval);
    // (2, 2) lies outside the circle, inside its box; the edge is part covered.
    EXPECT_TRUE(got[10][10] == 255 && got[0][0] == 0 && got[2][2] == 0 && got[10][0] > 0 &&
                got[10][0] < 255);

    // An outer square and an inner one of the same turning sense joined by a there-and-back
    // bridge: the inner square is a hole under the even-odd rule.
    MaskOperation o{mask_op_polygon};
    const int xy[] = {0, 0, 20, 0, 20, 20, 0, 20, 0, 0, 5, 5, 15, 5, 15, 15, 5, 15, 5, 5};
    for (int i = 0; i < 20; i += 2) o.parameters.vertices.push_back({1.0 * xy[i], 1.0 * xy[i + 1]});
    Image after = uniform(image_gray8, 22, 22, 0);
    ASSERT_FALSE(render_polygon(state, o, after));
    const Rows filled = seen(after);
    EXPECT_TRUE(filled[10][10] == 0 && filled[10][2] == 255 && filled[2][10] == 255);
}

TEST_F(MaskShapes, SplineIsAClosedCurveThroughItsPoints) {
    const std::vector<MaskVertex> controls = {{10, 10, -1}, {40, 10, -1}, {25, 35, -1}};
    const std::vector<MaskVertex> samples = spline_samples(controls);
    // Chords 30, 29.2 and 29.2 pixels: 15 samples each, both ends included.
    ASSERT_EQ(samples.size(), 45u);
    for (std::size_t k = 0; k < 6; ++k) {  // each segment's start and end
        const MaskVertex& sample = samples[15 * (k / 2) + 14 * (k % 2)];
        const MaskVertex& control = controls[(k / 2 + k % 2) % 3];
        EXPECT_TRUE(std::abs(sample.x - control.x) < 1e-9 && std::abs(sample.y - control.y) < 1e-9)
            << k;
    }
    // Each segment leaves along the previous chord, so the first one swings above y = 10.
    EXPECT_TRUE(samples[7].y < 10.0 && std::abs(samples[7].x - 25.0) < 1e-9);
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
    Rows expected(3);
    for (std::uint32_t x = 0; x < 9; ++x) {
        for (auto& row : expected)
            row.push_back(
                std::max(60u, static_cast<std::uint32_t>(std::lround(255.0 * (8 - x) / 8))));
    }
    EXPECT_EQ(seen(ramp8), expected);

    // Oval: centre (10, 10), point 1 at the corner (20, 15) of the quarter box.
    Image oval = uniform(image_gray8, 21, 21, 0);
    ASSERT_FALSE(render_oval_gradient(oval, 0.5, 0.5, 1, 0.75, 0, ColorLine()));
    const Rows o = seen(oval);
    EXPECT_EQ((std::vector{o[10][10], o[10][15], o[10][20], o[15][10], o[12][10]}),
              (std::vector<std::uint32_t>{255, 128, 0, 0, 153}));  // (10, 12) is 2/5 of the way
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

std::string read_back(const std::string& path) {
    std::string text;
    EXPECT_FALSE(read_text_file(path, text));
    return text;
}

TEST_F(MaskShapes, OutlinesAreFractionsOfTheLargerSide) {
    const std::string path = dir.file("shape.polygon");
    ASSERT_FALSE(
        save_polygon_file(path, {{1000, 500, -1}, {0, 0, -1}, {250, 125.5, -1}}, 1001, 501));
    EXPECT_EQ(read_back(path),
              "Polygon 1.0\r\nvertex 1.0000 0.5000\r\nvertex 0.0000 0.0000\r\n"
              "vertex 0.2500 0.1255\r\nend\r\n");

    MaskState state{.nx = 2001, .ny = 1001, .mode = mask_subtract};
    ASSERT_FALSE(load_polygon_file(path, state));
    ASSERT_EQ(state.pending_vertices.size(), 3u);
    EXPECT_EQ((std::vector{state.pending_vertices[0].x, state.pending_vertices[0].y,
                           state.pending_vertices[2].y}),
              (std::vector<double>{2000, 1000, 251}));
    ASSERT_TRUE(state.pending.has_value());  // pending only, not recorded
    EXPECT_TRUE(state.pending->code == mask_op_polygon && state.pending->mode == mask_subtract &&
                state.pending->parameters.vertices.size() == 3u && state.tool == mask_op_polygon &&
                state.records.empty());

    // A spline on a tall picture is scaled by its height.
    const std::string spline = dir.file("loop.spline");
    ASSERT_FALSE(save_spline_file(spline, {{50, 200, -1}}, 101, 201));
    MaskState other = {.nx = 11, .ny = 21};
    ASSERT_FALSE(load_spline_file(spline, other));
    EXPECT_TRUE(other.pending_vertices[0].x == 5 && other.pending_vertices[0].y == 20 &&
                other.pending->code == mask_op_spline && scope_.recorder.messages.empty());
}

TEST_F(MaskShapes, BadFilesLeaveTheStateAsItWas) {
    auto write = [&](const std::string& name, const std::string& text) {
        EXPECT_FALSE(write_file_atomic(dir.file(name), text));
        return dir.file(name);
    };
    MaskState state = {.nx = 11, .ny = 11};
    state.pending_vertices = {{1, 2, -1}};
    EXPECT_TRUE(load_polygon_file(write("a.polygon", "Polygon 1.0\nvertex 0.5 0.5\n"), state));
    EXPECT_TRUE(load_polygon_file(write("b.polygon", "Spline 1.0\nvertex 0.5 0.5\nend\n"), state));
    EXPECT_TRUE(load_spline_file(dir.file("missing.spline"), state));
    EXPECT_TRUE(
        load_oval_gradient_file(write("c.oval gradient", "Mask_Oval_Gradient 1.0\n"), state));
    EXPECT_TRUE(save_spline_file(dir.file("no/such/folder.spline"), {}, 11, 11));
    EXPECT_EQ(
        scope_.recorder.errors(),
        (std::vector<std::string>{"Error loading polygon file", "Error loading polygon file",
                                  "Error loading spline file", "Error loading oval gradient file",
                                  "Error saving spline file"}));
    EXPECT_TRUE(state.pending_vertices.size() == 1u && !state.pending.has_value());

    // Unknown lines and unreadable vertices are passed over; a newer version warns and reads.
    scope_.recorder.messages.clear();
    EXPECT_FALSE(load_polygon_file(
        write("d.polygon",
              "Polygon 2.0\nname triangle\nvertex x 1\nvertex 0.3 0.4\nend\nvertex 1 1\n"),
        state));
    ASSERT_EQ(state.pending_vertices.size(), 1u);
    EXPECT_TRUE(state.pending_vertices[0].x == 3 && state.pending_vertices[0].y == 4 &&
                scope_.recorder.warnings().size() == 1u && scope_.recorder.errors().empty());
}

TEST_F(MaskShapes, GradientsTravelWithTheirColorLine) {
    MaskOperationParameters g{.x0 = 10, .y0 = 5, .x1 = 100, .y1 = 50, .angle = 0.75};
    g.color_line.stops = {{0, 3, 4, 0x102030}, {0.25, 0, 1, 0xffffff}};
    const std::string linear = dir.file("a.linear gradient");
    const std::string oval = dir.file("b.oval gradient");
    ASSERT_FALSE(save_linear_gradient_file(linear, g, 101, 51));
    ASSERT_FALSE(save_oval_gradient_file(oval, g, 101, 51));
    EXPECT_EQ(read_back(oval),
              "Mask_Oval_Gradient 1.0\r\nendpoints 0.1000 0.1000 1.0000 1.0000\r\nangle "
              "0.7500\r\ncolor_line 2 0.000000 3 4 102030 0.250000 0 1 ffffff\r\nend\r\n");

    MaskState state = {.nx = 201, .ny = 101};
    ASSERT_FALSE(load_linear_gradient_file(linear, state));
    ASSERT_TRUE(state.pending.has_value());
    const MaskOperationParameters& read = state.pending->parameters;
    const std::string line_text = color_line_text(g.color_line);
    EXPECT_EQ(color_line_text(read.color_line), line_text);
    // Only the oval file carries an angle.
    EXPECT_TRUE(state.pending->code == mask_op_linear_gradient && read.x0 == 20 && read.y1 == 100 &&
                state.settings.gradient_line.stops[1].position == 0.25 &&
                state.settings.gradient_angle == 0.0);

    ASSERT_FALSE(load_oval_gradient_file(oval, state));
    EXPECT_TRUE(state.pending->code == mask_op_oval_gradient &&
                state.pending->parameters.angle == 0.75 && state.settings.gradient_angle == 0.75 &&
                color_line_text(state.pending->parameters.color_line) == line_text);
}

TEST_F(MaskShapes, SaveNamesMustCarryTheExtension) {
    set_settings_root(dir.path());
    EXPECT_FALSE(check_shape_extension(ShapeFileKind::polygon, "/x/a.POLYGON"));
    const auto fix = check_shape_extension(ShapeFileKind::polygon, "/x/shape.txt");
    EXPECT_TRUE(fix && fix->message == "Polygon files must have the extension .polygon" &&
                fix->corrected == "/x/shape.polygon");
    EXPECT_EQ(check_shape_extension(ShapeFileKind::oval_gradient, "ring")->corrected,
              "ring.oval gradient");
    EXPECT_EQ(check_shape_extension(ShapeFileKind::linear_gradient, "r.oval gradient")->message,
              "Linear Gradient files must have the extension .linear gradient");

    // The save dialog comes back with the corrected name until the name is right.
    scope_.recorder.files = {std::string("/x/loop.txt"), std::string("/x/loop.spline")};
    EXPECT_EQ(choose_shape_file(ShapeFileKind::spline, true), "/x/loop.spline");
    EXPECT_EQ(scope_.recorder.file_dialogs,
              (std::vector<std::string>{"Save Spline File", "Save Spline File"}));
    EXPECT_EQ(scope_.recorder.errors(),
              std::vector<std::string>{"Spline files must have the extension .spline"});
    EXPECT_EQ(shape_file_choice(ShapeFileKind::oval_gradient, false).folder,
              dir.file("Mask Gradients"));
}

using K = std::vector<std::uint8_t>;

MaskOperation feather_op(std::int32_t radius, std::int32_t style = 0, std::int32_t corners = 0) {
    return {mask_op_feather, mask_add, 0, {.feather = {radius, style, corners}}};
}
MaskOperation blur_op(std::int32_t radius) {
    return {mask_op_blur, mask_add, 0, {.blur_radius = radius}};
}
MaskOperation pinhole_op(std::int32_t size, std::int32_t removal) {
    return {mask_op_pinholes, mask_add, 0, {.pinhole = {size, 32, removal}}};
}
MaskOperation median_op(double radius, double level) {
    return {mask_op_median, mask_add, 0, {.median = {radius, level}}};
}

// A renderer run as the replay runs it (after starts as a copy of the current mask) on a mask of
// the given values.
Rows reshaped(MaskRenderer renderer, std::uint32_t type, const Rows& values,
              const MaskOperation& op) {
    MaskState state{.mask16 = type == image_gray16, .current_mask = mask_of(type, values)};
    Image after = mask_of(type, values);
    EXPECT_FALSE(renderer(state, op, after));
    return seen(after);
}

Rows uniform(std::size_t w, std::size_t h, std::uint32_t v) {
    return Rows(h, std::vector<std::uint32_t>(w, v));
}

Rows random_rows(std::size_t w, std::size_t h, std::uint32_t range, std::uint32_t seed) {
    Rows rows = uniform(w, h, 0);
    for (auto& row : rows) {
        for (auto& v : row) v = ((seed = seed * 1103515245u + 12345u) >> 8) % range;
    }
    return rows;
}

std::uint32_t clamped(const Rows& rows, long y, long x) {
    return rows[static_cast<std::size_t>(std::clamp(y, 0L, static_cast<long>(rows.size()) - 1))]
               [static_cast<std::size_t>(std::clamp(x, 0L, static_cast<long>(rows[0].size()) - 1))];
}

TEST(MaskReshape, FeatherKernelsAndWhatTheyDo) {
    EXPECT_EQ(feather_kernel(1, 0, 0), (K{75, 128, 75, 128, 255, 128, 75, 128, 75}));
    EXPECT_EQ(feather_kernel(-1, 0, 1), (K{128, 128, 128, 128, 255, 128, 128, 128, 128}));
    EXPECT_EQ(feather_kernel(1, 2, 0), (K{50, 128, 50, 128, 255, 128, 50, 128, 50}));
    // Cosine, square: d = 2/3 gives (cos(2 pi / 3) + 1) x 127.5 = 63.75, d = 1/3 gives 191.
    const K cosine_square = feather_kernel(2, 2, 1);
    EXPECT_EQ((K{cosine_square[0], cosine_square[6], cosine_square[12]}), (K{64, 191, 255}));
    // Step, 7 x 7 in quarters: (0.75, 0.75) lies outside the unit circle, (0.5, 0.75) inside.
    const K step = feather_kernel(3, 1, 0);
    EXPECT_TRUE(step[0] == 0 && step[1] == 255 && std::count(step.begin(), step.end(), 0) == 4);

    // One pixel expands into the kernel: round(K v / 255) on 8 bits; 16-bit truncates.
    const auto pattern = [](std::uint32_t corner, std::uint32_t edge, std::uint32_t centre) {
        return Rows{{0, 0, 0, 0, 0},
                    {0, corner, edge, corner, 0},
                    {0, edge, centre, edge, 0},
                    {0, corner, edge, corner, 0},
                    {0, 0, 0, 0, 0}};
    };
    const auto dot = [&](std::uint32_t v) { return pattern(0, 0, v); };
    EXPECT_EQ(reshaped(render_feather, image_gray8, dot(255), feather_op(1)),
              pattern(75, 128, 255));
    EXPECT_EQ(reshaped(render_feather, image_gray8, dot(128), feather_op(1)), pattern(38, 64, 128));
    EXPECT_EQ(reshaped(render_feather, image_gray16, dot(65535), feather_op(1)),
              pattern(75 * 257, 128 * 257, 65535));
    EXPECT_EQ(reshaped(render_feather, image_gray8, dot(9), feather_op(0)), dot(9));

    // Contracting leaves white white and drops the border of a 5 x 5 white square to 255 - 128.
    for (std::uint32_t unit : {1u, 257u}) {
        const std::uint32_t type = unit == 1 ? image_gray8 : image_gray16;
        const Rows white = uniform(4, 3, 255 * unit);
        EXPECT_EQ(reshaped(render_feather, type, white, feather_op(-1)), white);
        EXPECT_EQ(reshaped(render_feather, type, white, feather_op(-3, 2, 1)), white);
        Rows square = uniform(9, 9, 0), expected = uniform(9, 9, 0);
        for (std::size_t y = 2; y <= 6; ++y) {
            for (std::size_t x = 2; x <= 6; ++x) {
                square[y][x] = 255 * unit;
                expected[y][x] = (x == 2 || x == 6 || y == 2 || y == 6 ? 127 : 255) * unit;
            }
        }
        EXPECT_EQ(reshaped(render_feather, type, square, feather_op(-1)), expected);
    }
}

TEST(MaskReshape, PinholesWhiteBlackAndBoth) {
    // Removal 0 takes white specks, 1 black ones, 2 both, each replaced by its ring's mean; a pixel
    // within the threshold of its ring stays. No centre's square reaches the corner.
    Rows specks = uniform(7, 7, 0), cleaned = uniform(7, 7, 0);
    specks[3][3] = specks[0][0] = cleaned[0][0] = 255;
    Rows mixed = uniform(9, 9, 100), mixed_cleaned = uniform(9, 9, 100);
    mixed[2][2] = 255;
    mixed[6][6] = 0;
    mixed[2][6] = mixed_cleaned[2][6] = 120;
    Rows only_white = mixed_cleaned;
    only_white[6][6] = 0;
    const struct {
        Rows in;
        MaskOperation op;
        Rows out;
    } cases[] = {
        {specks, pinhole_op(1, 0), cleaned},   {specks, pinhole_op(1, 1), specks},
        {specks, pinhole_op(0, 2), specks},    {mixed, pinhole_op(1, 2), mixed_cleaned},
        {mixed, pinhole_op(1, 0), only_white},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reshaped(render_pinholes, image_gray8, c.in, c.op), c.out);

    // 16-bit: rings are measured in 8 bits and the mean widened (40000 narrows to 156).
    Rows hole16 = uniform(9, 9, 40000);
    hole16[4][4] = 0;
    Rows filled16 = hole16;
    filled16[4][4] = 156 * 257;
    EXPECT_EQ(reshaped(render_pinholes, image_gray16, hole16, pinhole_op(1, 1)), filled16);
}

// The median written out, blended with the pixel by level / 1024.
Rows median_of(const Rows& in, long r, std::uint32_t level) {
    Rows out = in;
    for (long y = 0; y < static_cast<long>(in.size()); ++y) {
        for (long x = 0; x < static_cast<long>(in[0].size()); ++x) {
            std::vector<std::uint32_t> values;
            for (long dy = -r; dy <= r; ++dy) {
                for (long dx = -r; dx <= r; ++dx) values.push_back(clamped(in, y + dy, x + dx));
            }
            std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
            const std::uint32_t own = clamped(in, y, x);
            out[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] =
                (own * (1024 - level) + values[values.size() / 2] * level + 512) / 1024;
        }
    }
    return out;
}

TEST(MaskReshape, MedianFilter) {
    const Rows noise8 = random_rows(12, 9, 256, 4);
    EXPECT_EQ(reshaped(render_median, image_gray8, noise8, median_op(1, 1)),
              median_of(noise8, 1, 1024));
    EXPECT_EQ(reshaped(render_median, image_gray8, noise8, median_op(2.6, 1)),
              median_of(noise8, 3, 1024));
    // 16-bit values far apart make the search cross many empty stretches of the histogram.
    const Rows noise16 = random_rows(10, 8, 65536, 5);
    EXPECT_EQ(reshaped(render_median, image_gray16, noise16, median_op(2, 1)),
              median_of(noise16, 2, 1024));
    EXPECT_EQ(reshaped(render_median, image_gray16, noise16, median_op(1, 0.25)),
              median_of(noise16, 1, 256));
}

TEST(MaskReshape, FailuresAndCancellation) {
    testing::RecordingScope scope;
    const MaskOperation ops[] = {feather_op(2), blur_op(2), pinhole_op(1, 2), median_op(1, 1)};
    const MaskRenderer renderers[] = {render_feather, render_blur, render_pinholes, render_median};
    MaskState state{.current_mask = mask_of(image_gray8, random_rows(40, 30, 256, 6))};
    Image after;
    ASSERT_FALSE(image_copy(state.current_mask, after));

    // A cancelled operation fails quietly; a failed allocation says so.
    set_run_abort(true);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(renderers[i](state, ops[i], after)) << i;
    set_run_abort(false);
    EXPECT_TRUE(scope.recorder.errors().empty());
    image_fail_allocations_after(0);
    EXPECT_TRUE(render_blur(state, ops[1], after));
    image_fail_allocations_after(-1);
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Error blurring mask"});
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(renderers[i](state, ops[i], after)) << i;
}

}  // namespace
}  // namespace tessaly
