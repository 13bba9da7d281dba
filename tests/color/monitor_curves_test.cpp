// Monitor calibration: tables from points, the "MonitorCurves 1.0" file and applying the tables.
#include "color/monitor_curves.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "color/color_settings.h"
#include "core/curve.h"
#include "core/text_file.h"
#include "support/recording_interaction.h"
#include "support/suite_helpers.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::file_text;
using testing::RecordingScope;
using testing::TempDir;

MonitorCurves two_points(MonitorCurvePoint top) {
    MonitorCurves c;
    monitor_curves_reset(c, 2);
    c.points[1] = top;
    return c;
}

TEST(MonitorCurves, EvenlySpacedPointsMakeNoCalibration) {
    MonitorCurves c;
    for (int n : {2, 3, 5, 7, 9, 11}) {
        monitor_curves_reset(c, n);
        MonitorTables t;
        ASSERT_FALSE(monitor_curve_tables(c, t)) << n;
        EXPECT_TRUE(monitor_tables_are_identity(t)) << n;
    }
    EXPECT_FALSE(monitor_curves_count_valid(4));
    EXPECT_FALSE(monitor_curves_count_valid(12));
}

TEST(MonitorCurves, ColoursAreScaledByTheLevel) {
    // Level 200 of the colour (255, 128, 0): red 200, green 128 * 200 / 255 = 100.4, blue 0.
    MonitorCurves c = two_points({255, 200, 255, 128, 0});
    MonitorTables t;
    ASSERT_FALSE(monitor_curve_tables(c, t));
    EXPECT_EQ(t.red[0], 0);
    EXPECT_EQ(t.red[255], 200);
    EXPECT_EQ(t.green[255], 100);
    EXPECT_EQ(t.blue[255], 0);
    // Each table is the spline Curve through (input, scaled channel).
    std::uint8_t expected[256];
    curve_table8(testing::make_curve(curve_spline, {{0, 0}, {255, 100}}), expected);
    for (int v = 0; v < 256; ++v) ASSERT_EQ(t.green[v], expected[v]) << v;

    // A black colour counts as neutral: all three channels take the level.
    c = two_points({255, 180, 0, 0, 0});
    ASSERT_FALSE(monitor_curve_tables(c, t));
    EXPECT_EQ(t.red[255], 180);
    EXPECT_EQ(t.green[255], 180);
    EXPECT_EQ(t.blue[255], 180);
    EXPECT_FALSE(monitor_tables_are_identity(t));

    // A spline through five points with a raised middle.
    MonitorCurves five;
    five.points[2] = {128, 150, 255, 255, 255};
    ASSERT_FALSE(monitor_curve_tables(five, t));
    EXPECT_EQ(t.red[128], 150);
    EXPECT_EQ(t.blue[64], 64);
    EXPECT_GT(t.green[100], 100);
}

TEST(MonitorCurves, PointsThatMakeNoCurveAreRefused) {
    MonitorTables t;
    monitor_tables_identity(t);
    MonitorCurves c;
    c.points[2].input = c.points[1].input;  // not increasing
    EXPECT_TRUE(monitor_curve_tables(c, t));
    c = MonitorCurves{};
    c.points[3].blue = 256;
    EXPECT_TRUE(monitor_curve_tables(c, t));
    c = MonitorCurves{};
    c.npts = 4;
    EXPECT_TRUE(monitor_curve_tables(c, t));
    EXPECT_TRUE(monitor_tables_are_identity(t));  // unchanged
}

TEST(MonitorCurves, FileRoundTrip) {
    TempDir dir;
    MonitorCurves c;
    monitor_curves_reset(c, 3);
    c.points[1] = {128, 120, 250, 240, 255};
    const std::string path = dir.file("Screen.monitor curves");
    ASSERT_FALSE(save_monitor_curves_file(path, c));
    EXPECT_EQ(file_text(path),
              "\xEF\xBB\xBF"
              "MonitorCurves 1.0\r\n"
              "npts 3\r\n"
              "point 0 0 0 255 255 255\r\n"
              "point 1 128 120 250 240 255\r\n"
              "point 2 255 255 255 255 255\r\n"
              "end\r\n");
    MonitorCurves read;
    RecordingScope scope;
    ASSERT_FALSE(load_monitor_curves_file(path, read));
    EXPECT_TRUE(scope.recorder.messages.empty());
    ASSERT_EQ(read.npts, 3);
    const std::string again = dir.file("Again.monitor curves");
    ASSERT_FALSE(save_monitor_curves_file(again, read));
    EXPECT_EQ(file_text(again), file_text(path));
}

TEST(MonitorCurves, FileLimits) {
    TempDir dir;
    RecordingScope scope;
    auto try_lines = [&](const std::vector<std::string>& lines) {
        const std::string path = dir.file("t.monitor curves");
        LineWriter w;
        w.line("MonitorCurves 1.0");
        for (const auto& l : lines) w.line(l);
        w.line("end");
        EXPECT_FALSE(w.save(path));
        MonitorCurves c;
        c.points[0].level = 7;  // a marker: failures leave the curves unchanged
        bool failed = load_monitor_curves_file(path, c);
        if (failed) {
            EXPECT_EQ(c.points[0].level, 7);
        }
        return failed;
    };
    EXPECT_FALSE(try_lines({"npts 2", "point 0 0 0 255 255 255", "point 1 255 255 1 2 3"}));
    // The points may come in any order.
    EXPECT_FALSE(try_lines({"npts 2", "point 1 255 255 1 2 3", "point 0 0 0 255 255 255"}));
    EXPECT_TRUE(try_lines({"npts 4", "point 0 0 0 255 255 255", "point 1 255 255 1 2 3"}));
    EXPECT_TRUE(try_lines({"npts 2", "point 0 0 0 255 255 255", "point 11 255 255 1 2 3"}));
    EXPECT_TRUE(try_lines({"npts 2", "point 0 0 0 255 255 255", "point 1 255 256 1 2 3"}));
    EXPECT_TRUE(try_lines({"npts 2", "point 0 0 0 255 255 255", "point 1 255 255 1 2 -1"}));
    EXPECT_TRUE(try_lines({"npts 3", "point 0 0 0 255 255 255", "point 1 255 255 1 2 3"}));
    EXPECT_TRUE(try_lines({"point 0 0 0 255 255 255", "point 1 255 255 1 2 3"}));
    EXPECT_TRUE(try_lines({"npts 2", "point 0 0 0 255 255 255", "point 1 255 255 1 2"}));
    const std::string path = dir.file("t.monitor curves");
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>(7, "Cannot read monitor curves file: " + path));

    scope.recorder.messages.clear();
    MonitorCurves c;
    EXPECT_TRUE(load_monitor_curves_file(dir.file("none.monitor curves"), c));
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Cannot open monitor curves file: " +
                                       dir.file("none.monitor curves")});
    EXPECT_TRUE(check_monitor_curves_extension("a.curve"));
    EXPECT_FALSE(check_monitor_curves_extension("a.Monitor Curves"));
}

TEST(MonitorCurves, TablesApplyToBlueGreenRedPixels) {
    MonitorTables t;
    monitor_tables_identity(t);
    for (int v = 0; v < 256; ++v) {
        t.red[v] = static_cast<std::uint8_t>(255 - v);
        t.green[v] = static_cast<std::uint8_t>(v / 2);
        t.blue[v] = 9;
    }
    // Two rows of two pixels, four bytes apart... plus two padding bytes.
    std::uint8_t buffer[16] = {1, 2, 3, 4, 5, 6, 77, 77, 10, 20, 30, 40, 50, 60, 77, 77};
    apply_monitor_curves(t, buffer, 2, 2, 8);
    const std::uint8_t expected[16] = {9, 1,  252, 9, 2,  249, 77, 77,
                                       9, 10, 225, 9, 25, 195, 77, 77};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(buffer[i], expected[i]) << i;
}

TEST(MonitorCurves, TheSettingsChooseTheCalibrationInForce) {
    TempDir dir;
    add_profile_folder(dir.path());
    RecordingScope scope;
    MonitorCurves c;
    c.points[2].level = 140;
    ASSERT_FALSE(save_monitor_curves_file(dir.file("Warm.monitor curves"), c));
    ASSERT_FALSE(save_monitor_curves_file(dir.file("Flat.monitor curves"), MonitorCurves{}));

    ColorManagementSettings s;
    s.monitor_curves_file = "Warm.monitor curves";
    apply_monitor_curves_setting(s);
    EXPECT_EQ(active_monitor_curves(), nullptr);  // calibration off
    EXPECT_EQ(active_monitor_curve_tables(), nullptr);

    s.monitor_curves_enabled = 1;
    apply_monitor_curves_setting(s);
    ASSERT_NE(active_monitor_curves(), nullptr);
    EXPECT_EQ(active_monitor_curves()->red[128], 140);
    const MonitorCurveTables* view = active_monitor_curve_tables();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->green[128], 140);

    s.monitor_curves_file = "Flat.monitor curves";  // identity: no calibration
    apply_monitor_curves_setting(s);
    EXPECT_EQ(active_monitor_curves(), nullptr);

    s.monitor_curves_file = "Lost.monitor curves";
    apply_monitor_curves_setting(s);
    EXPECT_EQ(active_monitor_curves(), nullptr);
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Cannot locate monitor curves file: Lost.monitor curves"});
    clear_monitor_curves();
    reset_profile_folders();
}

}  // namespace
}  // namespace tessaly
