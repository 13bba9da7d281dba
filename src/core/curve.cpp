#include "curve.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "arguments.h"
#include "format.h"

namespace tessaly {

namespace {

constexpr double slope_epsilon = 1e-10;

// Values are clamped before rounding, so rounding half away from zero is a plain +0.5 here. A NaN
// (only from a degenerate curve) becomes 0.
template <typename T>
inline T store(double value, double scale) {
    if (!(value > 0.0)) return 0;
    if (value >= 1.0) return static_cast<T>(scale);
    return static_cast<T>(static_cast<std::int32_t>(value * scale + 0.5));
}

// The same on the output scale itself (the three-point methods work there).
template <typename T>
inline T store_scaled(double value, double scale) {
    if (!(value > 0.0)) return 0;
    if (value >= scale) return static_cast<T>(scale);
    return static_cast<T>(static_cast<std::int32_t>(value + 0.5));
}

bool strictly_between(double v, double a, double b) {
    return (a < v && v < b) || (b < v && v < a);
}

// The shape function of the three-point smooth curve: F(0) = 0, F(1) = 1, g = 1 the diagonal.
double shape(double s, double g) {
    if (s <= 0.0) return 0.0;  // also keeps pow away from negative bases
    if (s >= 1.0) return 1.0;
    if (g == 0.0) return 0.0;
    if (g == 1.0) return s;
    if (g < 1.0) return 1.0 - std::pow(1.0 - std::pow(s, 1.0 / g), g);
    return std::pow(1.0 - std::pow(1.0 - s, g), 1.0 / g);
}

// g such that F(p, g) = q, by 20 halvings.
double shape_parameter(double p, double q) {
    if (q == p) return 1.0;
    double a = std::max(p, q), b = std::min(p, q);
    double s = 0.5, low = 0.0, high = 1.0;
    for (int i = 0; i < 20; ++i) {
        if (shape(a, s) >= b) {
            high = s;
        } else {
            low = s;
        }
        s = (high + low) / 2.0;
    }
    return q < p ? s : 1.0 / s;
}

// The control points on the table's own scale and normalised to 0..1 in both directions.
struct Prepared {
    int n = 0;
    double px[curve_max_points];
    double py[curve_max_points];
    double X[curve_max_points];
    double Y[curve_max_points];
};

void prepare(const Curve& c, double lift, double scale, Prepared& p) {
    p.n = c.npts;
    for (int i = 0; i < p.n; ++i) {
        p.px[i] = static_cast<double>(c.x[i]) * lift;
        p.py[i] = static_cast<double>(c.y[i]) * lift;
    }
    double x0 = p.px[0], span = p.px[p.n - 1] - x0;
    for (int i = 0; i < p.n; ++i) {
        p.X[i] = (p.px[i] - x0) / span;
        p.Y[i] = p.py[i] / scale;
    }
}

template <typename T>
void piecewise(const Prepared& p, bool step, int count, double scale, T* out) {
    const int n = p.n;
    const double x0 = p.px[0], xl = p.px[n - 1], span = xl - x0;
    const double* X = p.X;
    const double* Y = p.Y;
    int k = 0;
    for (int v = 0; v < count; ++v) {
        // The same expression as X[], so that t equals X[k] exactly at a control point.
        double t = (static_cast<double>(v) - x0) / span;
        double value;
        if (v < x0) {
            value = step ? Y[0] : (t - X[0]) * (Y[1] - Y[0]) / (X[1] - X[0]) + Y[0];
        } else if (v <= xl) {
            if (k < n - 2 && t >= X[k + 1]) ++k;
            value = step ? Y[k] : (Y[k + 1] - Y[k]) * (t - X[k]) / (X[k + 1] - X[k]) + Y[k];
        } else {
            value = step
                        ? Y[n - 1]
                        : (t - X[n - 1]) * (Y[n - 1] - Y[n - 2]) / (X[n - 1] - X[n - 2]) + Y[n - 1];
        }
        out[v] = store<T>(value, scale);
    }
}

template <typename T>
void smooth_three(const Prepared& p, int count, double scale, T* out) {
    const double x0 = p.px[0], x2 = p.px[2], y0 = p.py[0], y2 = p.py[2];
    const double w = x2 - x0, h = y2 - y0;
    const double g = shape_parameter((p.px[1] - x0) / w, (p.py[1] - y0) / h);
    // Beyond the end points the curve continues with the slope over its first and last two units.
    const double below = (shape(2.0 / w, g) - shape(0.0, g)) * h / 2.0;
    const double above = (shape(1.0, g) - shape(1.0 - 2.0 / w, g)) * h / 2.0;
    for (int v = 0; v < count; ++v) {
        double value;
        if (v < x0) {
            value = y0 + (v - x0) * below;
        } else if (v <= x2) {
            value = g == 1.0 ? (v - x0) / w * h + y0 : shape((v - x0) / w, g) * h + y0;
        } else {
            value = y2 + (v - x2) * above;
        }
        out[v] = store_scaled<T>(value, scale);
    }
}

// false when the exponent comes out as exactly 1 or 0 (the piecewise method applies then).
template <typename T>
bool power_three(const Prepared& p, int count, double scale, T* out) {
    const double x0 = p.px[0], x2 = p.px[2], y0 = p.py[0], y2 = p.py[2];
    const double e = std::log((p.py[1] - y0) / (y2 - y0)) / std::log((p.px[1] - x0) / (x2 - x0));
    if (e == 1.0 || e == 0.0) return false;
    for (int v = 0; v < count; ++v) {
        double value = v < x0 ? y0 : std::pow((v - x0) / (x2 - x0), e) * (y2 - y0) + y0;
        out[v] = store_scaled<T>(value, scale);
    }
    return true;
}

template <typename T>
void hermite(const Prepared& p, int count, double scale, T* out) {
    const int n = p.n;
    const double x0 = p.px[0], xl = p.px[n - 1], span = xl - x0;
    double d[curve_max_points];
    spline_slopes(n, p.X, p.Y, d);
    int k = 0;
    for (int v = 0; v < count; ++v) {
        double t = (static_cast<double>(v) - x0) / span;
        double value;
        if (v < x0) {
            value = t * d[0] + p.Y[0];
        } else if (v > xl) {
            value = (t - 1.0) * d[n - 1] + p.Y[n - 1];
        } else {
            while (k < n - 2 && t > p.X[k + 1]) ++k;
            value = hermite_value(p.X, p.Y, d, k, t);
        }
        out[v] = store<T>(value, scale);
    }
}

template <typename T>
void evaluate(const Curve& c, double lift, int count, double scale, T* out) {
    if (!curve_is_valid(c)) {
        // Nothing sensible to evaluate: pass values through unchanged.
        for (int v = 0; v < count; ++v) out[v] = static_cast<T>(v);
        return;
    }
    Prepared p;
    prepare(c, lift, scale, p);
    const int n = c.npts;
    if (c.style == curve_step || c.style == curve_linear || n == 2) {
        piecewise(p, c.style == curve_step, count, scale, out);
        return;
    }
    if (n == 3 && strictly_between(p.py[1], p.py[0], p.py[2])) {
        if (c.style == curve_spline) {
            smooth_three(p, count, scale, out);
        } else if (!power_three(p, count, scale, out)) {
            piecewise(p, false, count, scale, out);
        }
        return;
    }
    hermite(p, count, scale, out);
}

// Blank- or tab-separated tokens.
std::vector<std::string_view> tokens_of(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
        if (i > start) out.push_back(text.substr(start, i - start));
    }
    return out;
}

bool float_curve_is_sampleable(const FloatCurve& c) {
    if (c.npts < 2 || c.npts > curve_max_points) return false;
    for (int i = 0; i < c.npts; ++i) {
        if (!std::isfinite(c.x[i]) || !std::isfinite(c.y[i])) return false;
        if (i > 0 && !(c.x[i] > c.x[i - 1])) return false;
    }
    return true;
}

}  // namespace

void curve_reset(Curve& curve) {
    curve = Curve{};
}

bool curve_is_identity(const Curve& curve) {
    return curve.npts == 2 && curve.style == curve_spline && curve.x[0] == 0 && curve.y[0] == 0 &&
           curve.x[1] == 255 && curve.y[1] == 255;
}

bool curve_is_valid(const Curve& curve) {
    if (curve.npts < 2 || curve.npts > curve_max_points) return false;
    if (curve.style < curve_step || curve.style > curve_gamma) return false;
    for (int i = 1; i < curve.npts; ++i) {
        if (curve.x[i] <= curve.x[i - 1]) return false;
    }
    return true;
}

void curve_table8(const Curve& curve, std::uint8_t table[256]) {
    evaluate(curve, 1.0, 256, 255.0, table);
}

void curve_table16(const Curve& curve, std::uint16_t table[65536], bool points_are_16bit) {
    evaluate(curve, points_are_16bit ? 1.0 : 257.0, 65536, 65535.0, table);
}

Curve curve_fit_table(const std::uint8_t table[256], int tolerance) {
    Curve best;
    best.style = curve_spline;
    best.npts = 256;
    for (int v = 0; v < 256; ++v) {
        best.x[v] = v;
        best.y[v] = table[v];
    }
    Curve trial;
    trial.style = curve_spline;
    std::uint8_t evaluated[256];
    for (int n = 255; n >= 2; --n) {
        trial.npts = n;
        for (int j = 0; j < n; ++j) {
            trial.x[j] = j * 255 / (n - 1);
            trial.y[j] = table[trial.x[j]];
        }
        curve_table8(trial, evaluated);
        bool fits = true;
        for (int v = 0; v < 256 && fits; ++v) {
            fits =
                std::abs(static_cast<int>(evaluated[v]) - static_cast<int>(table[v])) <= tolerance;
        }
        if (!fits) break;
        best = trial;
    }
    // Entries past npts keep no stale points.
    for (int i = best.npts; i < curve_max_points; ++i) best.x[i] = best.y[i] = 0;
    return best;
}

bool curve_invert(Curve& curve) {
    const int n = curve.npts;
    bool rising = true, falling = true;
    for (int i = 1; i < n; ++i) {
        rising = rising && curve.y[i] > curve.y[i - 1];
        falling = falling && curve.y[i] < curve.y[i - 1];
    }
    if (!rising && !falling) {
        show_error("Inverse requires steadily increasing or decreasing curve");
        return true;
    }
    Curve inverse = curve;
    for (int i = 0; i < n; ++i) {
        const int from = rising ? i : n - 1 - i;
        inverse.x[i] = curve.y[from];
        inverse.y[i] = curve.x[from];
    }
    curve = inverse;
    return false;
}

std::string curve_to_text(const Curve& curve) {
    const int n = std::clamp(curve.npts, 0, curve_max_points);
    std::string text = std::to_string(curve.npts) + ' ' + std::to_string(curve.style);
    for (int i = 0; i < n; ++i) {
        text += ' ';
        text += std::to_string(curve.x[i]);
        text += ' ';
        text += std::to_string(curve.y[i]);
    }
    return text;
}

namespace {

// The compact form held in tokens[0 .. 2 + 2 npts); true on failure.
bool curve_from_tokens(const std::vector<std::string_view>& tokens, bool exact, Curve& curve) {
    Curve read;
    if (tokens.size() < 2 || parse_integer(tokens[0], read.npts) ||
        parse_integer(tokens[1], read.style)) {
        return true;
    }
    if (read.npts < 2 || read.npts > curve_max_points) return true;
    const std::size_t needed = 2 + 2 * static_cast<std::size_t>(read.npts);
    if (exact ? tokens.size() != needed : tokens.size() < needed) return true;
    for (int i = 0; i < read.npts; ++i) {
        if (parse_integer(tokens[2 + 2 * i], read.x[i]) ||
            parse_integer(tokens[3 + 2 * i], read.y[i])) {
            return true;
        }
    }
    if (!curve_is_valid(read)) return true;
    curve = read;
    return false;
}

}  // namespace

bool curve_from_text(std::string_view text, Curve& curve) {
    return curve_from_tokens(tokens_of(text), true, curve);
}

bool curve_from_args(const ArgumentList& args, int first, Curve& curve) {
    std::vector<std::string_view> tokens;
    // At most the longest compact form is looked at.
    const int end = std::min(args.count(), first + 2 + 2 * curve_max_points);
    for (int i = first; i < end; ++i) tokens.push_back(args[i]);
    return curve_from_tokens(tokens, false, curve);
}

void spline_slopes(int n, const double* X, const double* Y, double* d) {
    if (n < 2) {
        if (n == 1) d[0] = 0.0;
        return;
    }
    if (n == 2) {
        d[0] = d[1] = (Y[1] - Y[0]) / (X[1] - X[0]);
        return;
    }
    double m[curve_max_points];
    double f[curve_max_points];
    for (int k = 0; k < n - 1; ++k) m[k] = (Y[k + 1] - Y[k]) / (X[k + 1] - X[k]);

    d[0] = m[0];
    d[n - 1] = m[n - 2];
    for (int i = 1; i < n - 1; ++i) d[i] = (m[i - 1] + m[i]) * 0.5;

    // Flat stretches and local extremes get horizontal tangents.
    for (int i = 1; i < n - 1; ++i) {
        if (std::fabs(m[i - 1]) <= slope_epsilon) {
            d[i - 1] = d[i] = 0.0;
        } else if (m[i - 1] * m[i] < 0.0) {
            d[i] = 0.0;
        }
    }
    if (std::fabs(m[n - 2]) <= slope_epsilon) d[n - 2] = d[n - 1] = 0.0;

    // A tangent against the direction of its interval would overshoot.
    for (int k = 0; k < n - 1; ++k) {
        if (d[k] * m[k] < 0.0) d[k] = 0.0;
        if (d[k + 1] * m[k] < 0.0) d[k + 1] = 0.0;
    }
    if (d[n - 1] * m[n - 2] < 0.0) d[n - 1] = 0.0;

    // Tangents too steep for their interval are scaled down by the interval's factor.
    for (int k = 0; k < n - 1; ++k) {
        const double alpha = d[k], beta = d[k + 1], secant = m[k];
        double a = 0.0, b = 0.0;
        if (std::fabs(alpha) + std::fabs(beta) > slope_epsilon && secant != 0.0) {
            double p = (2.0 * beta + alpha) / (3.0 * secant);
            double q = (2.0 * alpha + beta) / (3.0 * secant);
            if ((1.0 - q) * (p - 1.0) < 0.0) a = std::min(p, q);
        }
        if (std::fabs(secant) >= slope_epsilon && alpha * beta >= 0.0) {
            b = (alpha + beta) / (3.0 * secant) - std::sqrt(alpha * beta) / std::fabs(3.0 * secant);
        }
        f[k] = std::max({1.0, a, b});
    }
    d[0] /= f[0];
    d[n - 1] /= f[n - 2];
    for (int i = 1; i < n - 1; ++i) d[i] /= std::max(f[i - 1], f[i]);
}

double hermite_value(const double* X, const double* Y, const double* d, int k, double t) {
    const double h = X[k + 1] - X[k];
    const double a = (t - X[k]) / h;
    const double b = (X[k + 1] - t) / h;
    return Y[k + 1] * a * a * (3.0 - 2.0 * a) + Y[k] * b * b * (3.0 - 2.0 * b) +
           d[k] * h * a * b * b - d[k + 1] * h * a * a * b;
}

void float_curve_reset(FloatCurve& curve) {
    curve = FloatCurve{};
}

bool float_curve_is_valid(const FloatCurve& curve) {
    if (!float_curve_is_sampleable(curve)) return false;
    if (curve.style < curve_step || curve.style > curve_gamma) return false;
    for (int i = 0; i < curve.npts; ++i) {
        if (curve.x[i] < 0.0 || curve.x[i] > 1.0 || curve.y[i] < 0.0 || curve.y[i] > 1.0) {
            return false;
        }
    }
    return true;
}

std::string float_curve_to_text(const FloatCurve& curve) {
    PlainSeparators plain;
    const int n = std::clamp(curve.npts, 0, curve_max_points);
    std::string text = formatted("%d %d", curve.npts, curve.style);
    for (int i = 0; i < n; ++i) text += formatted(" %6f %6f", curve.x[i], curve.y[i]);
    return text;
}

bool float_curve_from_text(std::string_view text, FloatCurve& curve) {
    PlainSeparators plain;
    auto tokens = tokens_of(text);
    FloatCurve read;
    if (tokens.size() < 2 || parse_integer(tokens[0], read.npts) ||
        parse_integer(tokens[1], read.style)) {
        return true;
    }
    if (read.npts < 2 || read.npts > curve_max_points) return true;
    if (tokens.size() != 2 + 2 * static_cast<std::size_t>(read.npts)) return true;
    for (int i = 0; i < read.npts; ++i) {
        if (parse_real(tokens[2 + 2 * i], read.x[i]) || parse_real(tokens[3 + 2 * i], read.y[i])) {
            return true;
        }
    }
    if (!float_curve_is_valid(read)) return true;
    curve = read;
    return false;
}

const char* curve_style_name(std::int32_t style) {
    switch (style) {
        case curve_step:
            return "step";
        case curve_linear:
            return "linear";
        case curve_gamma:
            return "gamma";
        default:
            return "spline";
    }
}

bool curve_style_from_name(std::string_view name, std::int32_t& style) {
    static constexpr std::string_view names[] = {"step", "linear", "spline", "gamma"};
    for (std::int32_t i = 0; i < 4; ++i) {
        if (name == names[i]) {
            style = i;
            return false;
        }
    }
    return true;
}

}  // namespace tessaly
