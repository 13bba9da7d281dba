// Curves: a handful of control points with an interpolation style, evaluated once into a
// 256-entry (8-bit) or 65536-entry (16-bit) table that pixel loops index.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/arguments.h"

namespace tessaly {

enum : std::int32_t {
    curve_step = 0,    // "Stair Step"
    curve_linear = 1,  // "Broken Line"
    curve_spline = 2,  // "Smooth Curve"
    curve_gamma = 3,   // "Gamma Curve"
};

constexpr int curve_max_points = 256;

// Points on the 8-bit scale 0..255 (or 0..65535 when a caller says they are 16-bit); x strictly
// increasing over the first npts entries.
struct Curve {
    std::int32_t npts = 2;
    std::int32_t style = curve_spline;
    std::int32_t x[curve_max_points] = {0, 255};
    std::int32_t y[curve_max_points] = {0, 255};
};

// Points on 0.0..1.0, used by the gradients.
struct FloatCurve {
    std::int32_t npts = 2;
    std::int32_t style = curve_spline;
    double x[curve_max_points] = {0.0, 1.0};
    double y[curve_max_points] = {0.0, 1.0};
};

// Color space codes of color settings.
enum : std::int32_t { colorspace_hsv = 0, colorspace_hsl = 1, colorspace_rgb = 2 };

void curve_reset(Curve& curve);
bool curve_is_identity(const Curve& curve);
// True when npts is 2..256, style 0..3 and x strictly increasing (no table is built otherwise).
bool curve_is_valid(const Curve& curve);

void curve_table8(const Curve& curve, std::uint8_t table[256]);
void curve_table16(const Curve& curve, std::uint16_t table[65536], bool points_are_16bit);

// The fewest evenly spaced spline points that reproduce a 256-entry table within tolerance.
Curve curve_fit_table(const std::uint8_t table[256], int tolerance);

// Inverse: input and output exchanged (a falling curve's points put back in rising order).
// The outputs must strictly rise or fall; otherwise "Inverse requires steadily increasing or
// decreasing curve" is shown and true returned, the curve unchanged.
bool curve_invert(Curve& curve);

// The compact form of a curve setting: "npts style x0 y0 x1 y1 ...".
std::string curve_to_text(const Curve& curve);
// true on failure; the curve is unchanged then.
bool curve_from_text(std::string_view text, Curve& curve);
// The compact form as the tokens of a command line from args[first] on (the tokens after a
// curve key); true on failure, the curve unchanged then.
bool curve_from_args(const ArgumentList& args, int first, Curve& curve);

void float_curve_reset(FloatCurve& curve);
// True when npts is 2..256, style 0..3, x strictly increasing and every coordinate in 0..1.
bool float_curve_is_valid(const FloatCurve& curve);
// "npts style" then " %6f %6f" per point.
std::string float_curve_to_text(const FloatCurve& curve);
// true on failure; the curve is unchanged then.
bool float_curve_from_text(std::string_view text, FloatCurve& curve);

// Names of the styles in files: "step", "linear", "spline", "gamma".
const char* curve_style_name(std::int32_t style);
// true (style unchanged) for an unknown name.
bool curve_style_from_name(std::string_view name, std::int32_t& style);

// The slopes of the monotone Hermite spline through n points (X increasing).
void spline_slopes(int n, const double* X, const double* Y, double* d);
// The Hermite value at t inside interval k.
double hermite_value(const double* X, const double* Y, const double* d, int k, double t);

}  // namespace tessaly
