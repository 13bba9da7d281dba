// Curve files: ".curve" ("Curve 1.0"), ".cc" ("ColorCurves 1.0"), ".float curve"
// ("FloatCurve 1.0"); the foreign ".acv", ".amp" and one-dimensional ".cube" imports and the
// ".cube" export. Every loader leaves its destination unchanged when it fails and reports why
// through show_error.
#pragma once

#include <string>

#include "curve.h"

namespace tessaly {

// The three curves of Color Curves and their color space (curve 1 red, 2 green, 3 blue in RGB).
struct ColorCurves {
    std::int32_t colorspace = colorspace_rgb;
    Curve curve[3];
};

// All return true on failure.
bool load_curve_file(const std::string& path, Curve& curve);
bool save_curve_file(const std::string& path, const Curve& curve);
bool load_color_curves_file(const std::string& path, ColorCurves& curves);
bool save_color_curves_file(const std::string& path, const ColorCurves& curves);
bool load_float_curve_file(const std::string& path, FloatCurve& curve);
bool save_float_curve_file(const std::string& path, const FloatCurve& curve);

// The Color Curves load command: chooses by extension (.cc, .acv, .amp, .cube); anything else
// gives "Unrecognized file extension: %s".
bool load_color_curves_any(const std::string& path, ColorCurves& curves);
bool load_acv_file(const std::string& path, ColorCurves& curves);
bool load_amp_file(const std::string& path, ColorCurves& curves);
bool load_cube_file(const std::string& path, ColorCurves& curves);
// Only RGB curves: "Only RGB curves can be saved as a cube file".
bool save_cube_file(const std::string& path, const ColorCurves& curves);
// The Color Curves save command: ".cube" writes a cube file, anything else a ".cc" file.
bool save_color_curves_any(const std::string& path, const ColorCurves& curves);

// Save dialogs check the extension: true (after showing the message) when it is missing.
bool check_curve_extension(const std::string& path);
bool check_float_curve_extension(const std::string& path);

}  // namespace tessaly
