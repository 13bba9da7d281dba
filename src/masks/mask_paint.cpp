#include "mask_paint.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "core/format.h"
#include "core/numeric.h"
#include "mask_select.h"

namespace tessaly {

namespace {

constexpr double pi = 3.14159265358979323846;

enum : std::int32_t {
    paint_all = 0,
    paint_in_color_range = 1,
    paint_similar_fixed = 2,
    paint_similar_track = 3,
};

// The colour under a point; points off the picture take the nearest edge pixel.
std::array<std::int32_t, 3> colour_at(const Image& image, double x, double y) {
    const std::int32_t w = static_cast<std::int32_t>(image.width);
    const std::int32_t h = static_cast<std::int32_t>(image.height);
    const std::int32_t px = std::clamp(round_to_int(x), 0, w - 1);
    const std::int32_t py = std::clamp(round_to_int(y), 0, h - 1);
    return pixel_colour8(image, image.rows[h - 1 - py], static_cast<std::uint32_t>(px));
}

// 255 for colours nearer than T (sum of channel differences), falling to 0 at 2T.
std::uint32_t similarity(const std::array<std::int32_t, 3>& a, const std::array<std::int32_t, 3>& b,
                         std::int32_t t) {
    const std::int32_t d = std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
    if (d < t) return 255;
    if (d >= 2 * t) return 0;
    return static_cast<std::uint32_t>((t - d) * 255 / t + 255);
}

}  // namespace

PaintBrush make_paint_brush(double radius, double transparency, double softness) {
    PaintBrush brush;
    brush.half = std::max(1, static_cast<std::int32_t>(radius + 0.9999));
    const std::int32_t n = brush.size();
    brush.values.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0);
    const double peak = std::clamp((100.0 - transparency) * 255.0 / 100.0, 0.0, 255.0);
    const double hard = (100.0 - softness) * radius / 100.0;
    for (std::int32_t j = 0; j < n; ++j) {
        for (std::int32_t i = 0; i < n; ++i) {
            const double dx = i - brush.half, dy = j - brush.half;
            const double d = std::sqrt(dx * dx + dy * dy);
            double v = 0;
            if (d <= hard) {
                v = peak;
            } else if (d <= radius) {
                const double t = (radius - d) / (radius - hard);
                v = peak * (1.0 - std::cos(pi * t)) / 2.0;
            }
            brush.values[static_cast<std::size_t>(j * n + i)] =
                static_cast<std::uint8_t>(std::clamp(round_to_int(v), 0, 255));
        }
    }
    return brush;
}

std::int32_t paint_dab_step(double radius, double spacing) {
    return std::max(1, round_to_int(spacing * 0.01 * radius));
}

BrushSettings brush_at_pressure(const BrushSettings& brush, double pressure) {
    BrushSettings b = brush;
    if (brush.pressure_controls == 0 || pressure < 0) return b;
    const double p = std::min(pressure, 1.0);
    switch (brush.pressure_controls) {
        case 1:
            b.transparency = (1.0 - p) * 100.0;
            break;
        case 2:
            // The nominal radius at full pressure, shrinking with it; never below half a pixel.
            b.radius = std::max(0.5, brush.radius * p);
            break;
        case 3:
            b.softness = (1.0 - p) * 100.0;
            break;
        case 4:
            // 0.5 - p/2 as a fraction of the radius: light pressure spaces dabs half a radius
            // apart, full pressure packs them.
            b.spacing = (0.5 - p / 2.0) * 100.0;
            break;
        default:
            break;
    }
    return b;
}

std::vector<PaintDab> paint_dabs(const std::vector<MaskVertex>& points,
                                 const BrushSettings& brush) {
    std::vector<PaintDab> dabs;
    if (points.empty()) return dabs;
    dabs.push_back({points[0].x, points[0].y, 0});
    std::size_t previous = 0;
    for (std::size_t k = 1; k < points.size(); ++k) {
        const BrushSettings b = brush_at_pressure(brush, points[k].pressure);
        const double step = paint_dab_step(b.radius, b.spacing);
        const double dx = points[k].x - points[previous].x;
        const double dy = points[k].y - points[previous].y;
        const double length = std::sqrt(dx * dx + dy * dy);
        if (length < 2 * step) continue;
        // Whole steps that end exactly on the new point.
        const std::int32_t n = std::max(1, round_to_int(length / step));
        for (std::int32_t i = 1; i <= n; ++i) {
            const double f = static_cast<double>(i) / n;
            dabs.push_back({points[previous].x + f * dx, points[previous].y + f * dy, k});
        }
        previous = k;
    }
    return dabs;
}

std::uint32_t paint_merge(std::int32_t mode, bool accumulate, std::uint32_t m, std::uint32_t d,
                          std::uint32_t full) {
    switch (mode) {
        case mask_subtract:
            if (accumulate) return m > d ? m - d : 0;
            return std::min(m, full - d);
        case mask_overlap:
            return std::min(m, d);
        case mask_invert_mode:
            return std::max(std::min(full - m, d), std::min(m, full - d));
        default:
            if (accumulate) return std::min(m + d, full);
            return std::max(m, d);
    }
}

bool render_paint(MaskState& state, const MaskOperation& operation, Image& after) {
    const MaskOperationParameters& p = operation.parameters;
    const BrushSettings& nominal = p.brush;
    if (p.vertices.empty()) return false;
    const bool sixteen = after.type == image_gray16;
    const std::uint32_t full = sixteen ? 65535u : 255u;
    const std::int32_t kind = nominal.operation;
    const bool by_colour = kind >= paint_in_color_range && kind <= paint_similar_track;

    Image scratch;
    const Image* base = nullptr;
    ColorRangeMembership membership;
    if (by_colour) {
        base = state.base ? selectable_image(*state.base, scratch) : nullptr;
        if (!base || base->width != after.width || base->height != after.height ||
            (kind == paint_in_color_range &&
             membership.build(state.settings.color_range, base->type, full))) {
            show_error("Error painting mask");
            return true;
        }
    }
    const std::int32_t threshold = round_to_int(nominal.threshold);
    std::array<std::int32_t, 3> sample{};
    if (kind == paint_similar_fixed) sample = colour_at(*base, p.vertices[0].x, p.vertices[0].y);

    const std::int32_t w = static_cast<std::int32_t>(after.width);
    const std::int32_t h = static_cast<std::int32_t>(after.height);
    const bool accumulate = nominal.accumulate != 0;
    PaintBrush brush;
    BrushSettings built;  // the settings brush was made from
    bool have_brush = false;
    std::size_t sampled_point = p.vertices.size();

    for (const PaintDab& dab : paint_dabs(p.vertices, nominal)) {
        const MaskVertex& point = p.vertices[dab.point];
        const BrushSettings b = brush_at_pressure(nominal, point.pressure);
        if (!have_brush || b.radius != built.radius || b.transparency != built.transparency ||
            b.softness != built.softness) {
            brush = make_paint_brush(b.radius, b.transparency, b.softness);
            built = b;
            have_brush = true;
        }
        if (kind == paint_similar_track && sampled_point != dab.point) {
            sample = colour_at(*base, point.x, point.y);
            sampled_point = dab.point;
        }
        const std::int32_t cx = round_to_int(dab.x) - brush.half;
        const std::int32_t cy = round_to_int(dab.y) - brush.half;
        for (std::int32_t j = 0; j < brush.size(); ++j) {
            const std::int32_t y = cy + j;
            if (y < 0 || y >= h) continue;
            const std::int32_t r = h - 1 - y;
            std::uint8_t* row = after.rows[r];
            const std::uint8_t* pixels = base ? base->rows[r] : nullptr;
            for (std::int32_t i = 0; i < brush.size(); ++i) {
                const std::int32_t x = cx + i;
                const std::uint32_t bv = brush.at(i, j);
                // The brush's corners beyond its radius are not part of the dab.
                if (x < 0 || x >= w || bv == 0) continue;
                const auto ux = static_cast<std::uint32_t>(x);
                std::uint32_t d = sixteen ? widen8to16(bv) : bv;
                if (kind == paint_in_color_range) {
                    d = std::min(d, membership.pixel(pixels, ux));
                } else if (by_colour) {
                    const std::uint32_t s =
                        similarity(pixel_colour8(*base, pixels, ux), sample, threshold);
                    d = std::min(d, sixteen ? widen8to16(s) : s);
                }
                if (sixteen) {
                    set_sample16(row, ux,
                                 static_cast<std::uint16_t>(paint_merge(
                                     operation.mode, accumulate, sample16(row, ux), d, full)));
                } else {
                    row[ux] = static_cast<std::uint8_t>(
                        paint_merge(operation.mode, accumulate, row[ux], d, full));
                }
            }
        }
    }
    return false;
}

}  // namespace tessaly
