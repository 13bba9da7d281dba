#include "gradient_render.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/runner.h"

namespace tessaly {

std::uint32_t colour_gray(std::uint32_t colour, bool sixteen) {
    const std::uint32_t r = colour & 255u;
    const std::uint32_t g = (colour >> 8) & 255u;
    const std::uint32_t b = (colour >> 16) & 255u;
    const std::uint32_t gray = (306 * r + 601 * g + 117 * b) >> 10;
    return sixteen ? widen8to16(gray) : gray;
}

GrayRamp::GrayRamp(const ColorLine& line, bool sixteen) {
    for (const ColorStop& stop : line.stops) {
        stops_.push_back({stop.position, static_cast<double>(colour_gray(stop.colour, sixteen))});
    }
    std::stable_sort(stops_.begin(), stops_.end(),
                     [](const Stop& a, const Stop& b) { return a.position < b.position; });
}

std::uint32_t GrayRamp::at(double p) const {
    if (stops_.empty()) return 0;
    if (!(p > stops_.front().position)) return static_cast<std::uint32_t>(stops_.front().gray);
    // The first stop beyond p; two stops at one position make a hard step to the later one.
    auto next = std::upper_bound(stops_.begin(), stops_.end(), p,
                                 [](double v, const Stop& s) { return v < s.position; });
    if (next == stops_.end()) return static_cast<std::uint32_t>(stops_.back().gray);
    const Stop& a = *(next - 1);
    const Stop& b = *next;
    const double t = (p - a.position) / (b.position - a.position);
    return static_cast<std::uint32_t>(std::lround(a.gray + (b.gray - a.gray) * t));
}

namespace {

// Fills out from the ramp position of each pixel centre (x from the left, y from the top).
template <typename PositionAt>
bool fill_gradient(Image& out, const ColorLine& line, const char* title, PositionAt position_at) {
    if (out.type != image_gray8 && out.type != image_gray16) return true;
    const bool sixteen = out.type == image_gray16;
    const GrayRamp ramp(line, sixteen);
    const std::uint32_t h = out.height;
    return run_rows(
               [&](const Image*, Image* image, int first, int last,
                   Progress& progress) -> std::uint8_t {
                   for (int r = first; r <= last; ++r) {
                       if (progress_tick(progress)) return 1;
                       std::uint8_t* row = image->rows[r];
                       const double y = h - 1 - static_cast<std::uint32_t>(r);
                       for (std::uint32_t x = 0; x < image->width; ++x) {
                           const std::uint32_t v = ramp.at(position_at(x, y));
                           if (sixteen) {
                               set_sample16(row, x, static_cast<std::uint16_t>(v));
                           } else {
                               row[x] = static_cast<std::uint8_t>(v);
                           }
                       }
                   }
                   return 0;
               },
               title, nullptr, &out) != 0;
}

double span(std::uint32_t n) {
    return n > 1 ? static_cast<double>(n - 1) : 0.0;
}

}  // namespace

bool render_linear_gradient(Image& out, double fx0, double fy0, double fx1, double fy1,
                            const ColorLine& line) {
    const double x0 = fx0 * span(out.width), y0 = fy0 * span(out.height);
    const double dx = fx1 * span(out.width) - x0, dy = fy1 * span(out.height) - y0;
    const double length2 = dx * dx + dy * dy;
    return fill_gradient(out, line, "Linear Gradient", [&](std::uint32_t x, double y) {
        if (length2 == 0) return 0.0;
        const double t = ((x - x0) * dx + (y - y0) * dy) / length2;
        return std::clamp(t, 0.0, 1.0);
    });
}

bool render_oval_gradient(Image& out, double fx0, double fy0, double fx1, double fy1, double angle,
                          const ColorLine& line) {
    const double cx = fx0 * span(out.width), cy = fy0 * span(out.height);
    const double c = std::cos(angle), s = std::sin(angle);
    // Point 1 in the ellipse's own frame (the inverse of the turn the Oval shape uses).
    const double px = fx1 * span(out.width) - cx, py = fy1 * span(out.height) - cy;
    const double rx = std::fabs(px * c - py * s);
    const double ry = std::fabs(px * s + py * c);
    return fill_gradient(out, line, "Oval Gradient", [&](std::uint32_t x, double y) {
        const double dx = x - cx, dy = y - cy;
        const double u = dx * c - dy * s;
        const double v = dx * s + dy * c;
        // A zero semi-axis: only the points on the flattened ellipse's line are inside.
        double q = 0;
        for (const auto& [d, r] : {std::pair{u, rx}, std::pair{v, ry}}) {
            if (r > 0) {
                q += (d / r) * (d / r);
            } else if (std::fabs(d) > 1e-9) {
                return 1.0;
            }
        }
        return std::min(std::sqrt(q), 1.0);
    });
}

}  // namespace tessaly
