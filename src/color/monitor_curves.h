// Monitor calibration: three 256-entry tables (red, green, blue) applied to every displayed
// pixel after the display transform. They come from 2, 3, 5, 7, 9 or 11 points, each an input
// level, a brightness level and a colour; "MonitorCurves 1.0" files (".monitor curves") keep
// the points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "color/color_settings.h"
#include "color/display.h"

namespace tessaly {

constexpr int monitor_curves_max_points = 11;
constexpr int monitor_curves_default_points = 5;
inline constexpr std::string_view monitor_curves_extension = ".monitor curves";

struct MonitorCurvePoint {
    std::int32_t input = 0;  // input level 0..255
    std::int32_t level = 0;  // brightness level 0..255
    std::int32_t red = 255, green = 255, blue = 255;
};

struct MonitorCurves {
    std::int32_t npts = monitor_curves_default_points;
    MonitorCurvePoint points[monitor_curves_max_points];

    MonitorCurves();  // the default: 5 evenly spaced white points on the diagonal
};

struct MonitorTables {
    std::uint8_t red[256];
    std::uint8_t green[256];
    std::uint8_t blue[256];
};

// 2, 3, 5, 7, 9 or 11.
bool monitor_curves_count_valid(std::int32_t npts);
// n evenly spaced white points with brightness equal to input (identity tables); n must be valid.
void monitor_curves_reset(MonitorCurves& curves, std::int32_t npts = monitor_curves_default_points);

// Each point's colour is scaled by level / 255 (all three channels become the level when the
// level or the colour is 0), and each channel's table is the spline Curve through (input level,
// scaled channel). True when the points make no curve (a count that is not allowed, a value
// outside 0..255, input levels not strictly increasing); the tables are unchanged then.
bool monitor_curve_tables(const MonitorCurves& curves, MonitorTables& tables);
void monitor_tables_identity(MonitorTables& tables);
// Identity tables mean no calibration.
bool monitor_tables_are_identity(const MonitorTables& tables);

// The file: "MonitorCurves 1.0", "npts %d", "point %d %d %d %d %d %d" per point (index, input,
// level, R, G, B), "end". Reading needs an allowed count, every point of it once with index at
// most 10 and values 0..255, and inputs that make tables; the curves are unchanged on failure
// ("Cannot open monitor curves file: %s", "Cannot read monitor curves file: %s"). Writing:
// "Cannot create monitor curves file: %s".
bool load_monitor_curves_file(const std::string& path, MonitorCurves& curves);
bool save_monitor_curves_file(const std::string& path, const MonitorCurves& curves);
// "Monitor curves files must have an extension of .monitor curves" and true when missing.
bool check_monitor_curves_extension(const std::string& path);

// Applies the tables to blue-green-red 8-bit pixels in place: blue through the blue table,
// green through the green table, red through the red table.
void apply_monitor_curves(const MonitorTables& tables, std::uint8_t* bgr, std::size_t pixels);
// The same over rows of a buffer (row_bytes apart; padding untouched).
void apply_monitor_curves(const MonitorTables& tables, std::uint8_t* first_row, std::size_t width,
                          std::size_t rows, std::size_t row_bytes);

// The calibration in force: null when monitor calibration is off, no file is named, the file
// does not load or its tables are identity.
const MonitorTables* active_monitor_curves();
// The same in the display path's form (display.h): null when there is no calibration.
const MonitorCurveTables* active_monitor_curve_tables();
// Loads the settings' monitor curves file when calibration is enabled ("Cannot locate monitor
// curves file: %s" when it is not found); part of applying the settings.
void apply_monitor_curves_setting(const ColorManagementSettings& settings);
// Makes tables the calibration in force (identity tables: none); the calibration dialog's
// preview uses it.
void set_active_monitor_curves(const MonitorTables& tables);
void clear_monitor_curves();

}  // namespace tessaly
