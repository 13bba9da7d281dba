#include "masks/shape_files.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text_file.h"
#include "framework/settings_files.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::RecordingScope;

MaskState sized(std::int32_t nx, std::int32_t ny) {
    MaskState state;
    state.nx = nx;
    state.ny = ny;
    return state;
}

std::string read_back(const std::string& path) {
    std::string text;
    EXPECT_FALSE(read_text_file(path, text));
    return text;
}

TEST(ShapeFiles, OutlinesAreFractionsOfTheLargerSide) {
    RecordingScope scope;
    testing::TempDir dir;
    const std::string path = dir.file("shape.polygon");
    ASSERT_FALSE(
        save_polygon_file(path, {{1000, 500, -1}, {0, 0, -1}, {250, 125.5, -1}}, 1001, 501));
    EXPECT_EQ(read_back(path),
              "Polygon 1.0\r\nvertex 1.0000 0.5000\r\nvertex 0.0000 0.0000\r\n"
              "vertex 0.2500 0.1255\r\nend\r\n");

    MaskState state = sized(2001, 1001);
    state.mode = mask_subtract;
    ASSERT_FALSE(load_polygon_file(path, state));
    ASSERT_EQ(state.pending_vertices.size(), 3u);
    EXPECT_DOUBLE_EQ(state.pending_vertices[0].x, 2000);
    EXPECT_DOUBLE_EQ(state.pending_vertices[0].y, 1000);
    EXPECT_DOUBLE_EQ(state.pending_vertices[2].y, 251);
    ASSERT_TRUE(state.pending.has_value());
    EXPECT_EQ(state.pending->code, mask_op_polygon);
    EXPECT_EQ(state.pending->mode, mask_subtract);
    EXPECT_EQ(state.pending->parameters.vertices.size(), 3u);
    EXPECT_EQ(state.tool, mask_op_polygon);
    EXPECT_TRUE(state.records.empty());  // pending only, not recorded

    // A spline on a tall picture is scaled by its height.
    const std::string spline = dir.file("loop.spline");
    ASSERT_FALSE(save_spline_file(spline, {{50, 200, -1}}, 101, 201));
    MaskState other = sized(11, 21);
    ASSERT_FALSE(load_spline_file(spline, other));
    EXPECT_DOUBLE_EQ(other.pending_vertices[0].x, 5);
    EXPECT_DOUBLE_EQ(other.pending_vertices[0].y, 20);
    EXPECT_EQ(other.pending->code, mask_op_spline);
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST(ShapeFiles, BadFilesLeaveTheStateAsItWas) {
    RecordingScope scope;
    testing::TempDir dir;
    auto write = [&](const std::string& name, const std::string& text) {
        EXPECT_FALSE(write_file_atomic(dir.file(name), text));
        return dir.file(name);
    };
    MaskState state = sized(11, 11);
    state.pending_vertices = {{1, 2, -1}};
    EXPECT_TRUE(load_polygon_file(write("a.polygon", "Polygon 1.0\nvertex 0.5 0.5\n"), state));
    EXPECT_TRUE(load_polygon_file(write("b.polygon", "Spline 1.0\nvertex 0.5 0.5\nend\n"), state));
    EXPECT_TRUE(load_spline_file(dir.file("missing.spline"), state));
    EXPECT_TRUE(
        load_oval_gradient_file(write("c.oval gradient", "Mask_Oval_Gradient 1.0\n"), state));
    EXPECT_TRUE(save_spline_file(dir.file("no/such/folder.spline"), {}, 11, 11));
    EXPECT_EQ(
        scope.recorder.errors(),
        (std::vector<std::string>{"Error loading polygon file", "Error loading polygon file",
                                  "Error loading spline file", "Error loading oval gradient file",
                                  "Error saving spline file"}));
    EXPECT_EQ(state.pending_vertices.size(), 1u);
    EXPECT_FALSE(state.pending.has_value());

    // Unknown lines and unreadable vertices are passed over; a newer version warns and reads.
    scope.recorder.messages.clear();
    EXPECT_FALSE(load_polygon_file(
        write("d.polygon",
              "Polygon 2.0\nname triangle\nvertex x 1\nvertex 0.3 0.4\nend\nvertex 1 1\n"),
        state));
    ASSERT_EQ(state.pending_vertices.size(), 1u);
    EXPECT_DOUBLE_EQ(state.pending_vertices[0].x, 3);
    EXPECT_DOUBLE_EQ(state.pending_vertices[0].y, 4);
    EXPECT_EQ(scope.recorder.warnings().size(), 1u);
    EXPECT_TRUE(scope.recorder.errors().empty());
}

TEST(ShapeFiles, GradientsTravelWithTheirColorLine) {
    RecordingScope scope;
    testing::TempDir dir;
    MaskOperationParameters g;
    g.x0 = 10;
    g.y0 = 5;
    g.x1 = 100;
    g.y1 = 50;
    g.angle = 0.75;
    g.color_line.stops = {{0, 3, 4, 0x102030}, {0.25, 0, 1, 0xffffff}};
    const std::string linear = dir.file("a.linear gradient");
    const std::string oval = dir.file("b.oval gradient");
    ASSERT_FALSE(save_linear_gradient_file(linear, g, 101, 51));
    ASSERT_FALSE(save_oval_gradient_file(oval, g, 101, 51));
    EXPECT_EQ(read_back(oval),
              "Mask_Oval_Gradient 1.0\r\nendpoints 0.1000 0.1000 1.0000 1.0000\r\nangle "
              "0.7500\r\ncolor_line 2 0.000000 3 4 102030 0.250000 0 1 ffffff\r\nend\r\n");

    MaskState state = sized(201, 101);
    ASSERT_FALSE(load_linear_gradient_file(linear, state));
    ASSERT_TRUE(state.pending.has_value());
    const MaskOperationParameters& read = state.pending->parameters;
    EXPECT_EQ(state.pending->code, mask_op_linear_gradient);
    EXPECT_DOUBLE_EQ(read.x0, 20);
    EXPECT_DOUBLE_EQ(read.y1, 100);
    EXPECT_EQ(read.color_line.stops.size(), 2u);
    EXPECT_EQ(read.color_line.stops[0].a, 3);
    EXPECT_EQ(read.color_line.stops[0].colour, 0x102030u);
    EXPECT_EQ(state.settings.gradient_line.stops[1].position, 0.25);
    EXPECT_EQ(state.settings.gradient_angle, 0.0);  // only the oval file carries an angle

    ASSERT_FALSE(load_oval_gradient_file(oval, state));
    EXPECT_EQ(state.pending->code, mask_op_oval_gradient);
    EXPECT_DOUBLE_EQ(state.pending->parameters.angle, 0.75);
    EXPECT_DOUBLE_EQ(state.settings.gradient_angle, 0.75);
    EXPECT_EQ(color_line_text(state.pending->parameters.color_line), color_line_text(g.color_line));
}

TEST(ShapeFiles, SaveNamesMustCarryTheExtension) {
    RecordingScope scope;
    testing::TempDir dir;
    set_settings_root(dir.path());
    EXPECT_FALSE(check_shape_extension(ShapeFileKind::polygon, "/x/a.POLYGON"));
    const auto fix = check_shape_extension(ShapeFileKind::polygon, "/x/shape.txt");
    ASSERT_TRUE(fix);
    EXPECT_EQ(fix->message, "Polygon files must have the extension .polygon");
    EXPECT_EQ(fix->corrected, "/x/shape.polygon");
    EXPECT_EQ(check_shape_extension(ShapeFileKind::oval_gradient, "ring")->corrected,
              "ring.oval gradient");
    EXPECT_EQ(check_shape_extension(ShapeFileKind::linear_gradient, "r.oval gradient")->message,
              "Linear Gradient files must have the extension .linear gradient");

    // The save dialog comes back with the corrected name until the name is right.
    scope.recorder.files = {std::string("/x/loop.txt"), std::string("/x/loop.spline")};
    EXPECT_EQ(choose_shape_file(ShapeFileKind::spline, true), "/x/loop.spline");
    EXPECT_EQ(scope.recorder.file_dialogs,
              (std::vector<std::string>{"Save Spline File", "Save Spline File"}));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Spline files must have the extension .spline"});
    EXPECT_EQ(shape_file_choice(ShapeFileKind::oval_gradient, false).folder,
              dir.file("Mask Gradients"));
}

}  // namespace
}  // namespace tessaly
