#include "mask_shapes.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <utility>

#include "core/format.h"
#include "core/runner.h"
#include "gradient_render.h"

namespace tessaly {

namespace {

// Far beyond any image, yet small enough that products of two grid coordinates stay exact
// enough in a double and every rounding fits an int64.
constexpr double grid_limit = 1e12;

std::int64_t round_grid(double v) {
    if (!(v > -grid_limit)) return static_cast<std::int64_t>(-grid_limit);  // also NaN
    if (v > grid_limit) return static_cast<std::int64_t>(grid_limit);
    return std::llround(v);
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The pixel whose five sub-samples include grid coordinate g (sub-samples at 5p-2 .. 5p+2).
std::int64_t pixel_of(std::int64_t g) {
    return floor_div(g + 2, shape_subpixels);
}

struct Edge {
    std::int64_t y_top, y_bottom;  // the edge covers sub-rows y_top <= Y < y_bottom
    double x_top, slope;           // x at y_top, and dx / dy
};

std::uint32_t get_value(const Image& mask, const std::uint8_t* row, std::uint32_t x) {
    return mask.type == image_gray16 ? sample16(row, x) : row[x];
}

void put_value(const Image& mask, std::uint8_t* row, std::uint32_t x, std::uint32_t v) {
    if (mask.type == image_gray16) {
        set_sample16(row, x, static_cast<std::uint16_t>(v));
    } else {
        row[x] = static_cast<std::uint8_t>(v);
    }
}

constexpr std::uint8_t run_cancelled = 1;
constexpr std::uint8_t run_out_of_memory = 2;

// Builds an outline and fills it; a failed allocation while building reports like the fill.
template <typename MakeOutline>
bool fill_shape(Image& after, std::int32_t mode, const char* failure_message, MakeOutline make) {
    std::vector<GridPoint> outline;
    try {
        outline = make();
    } catch (const std::bad_alloc&) {
        show_error(failure_message);
        return true;
    }
    return fill_polygon(after, outline, mode, failure_message);
}

struct Vec {
    double x = 0, y = 0;
};
Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y};
}
Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y};
}
Vec operator*(double k, Vec a) {
    return {k * a.x, k * a.y};
}
double cross(Vec a, Vec b) {
    return a.x * b.y - a.y * b.x;
}
double length(Vec a) {
    return std::hypot(a.x, a.y);
}

// The unit tangent at the point between differences d1 (incoming) and d2 (outgoing), weighted by
// how sharply the neighbouring differences d0 and d3 turn.
Vec tangent(Vec d0, Vec d1, Vec d2, Vec d3) {
    double w1 = std::fabs(cross(d3, d2));
    double w2 = std::fabs(cross(d1, d0));
    if (w1 == 0 && w2 == 0) {
        w1 = length(d2);
        w2 = length(d1);
    }
    Vec t = w1 * d1 + w2 * d2;
    const double l = length(t);
    if (l > 0) t = (1 / l) * t;
    return t;
}

}  // namespace

std::int64_t to_grid(double pixels) {
    return round_grid(pixels * shape_subpixels);
}

std::vector<GridPoint> grid_outline(const std::vector<MaskVertex>& vertices) {
    std::vector<GridPoint> out;
    out.reserve(vertices.size());
    for (const MaskVertex& v : vertices) out.push_back({to_grid(v.x), to_grid(v.y)});
    return out;
}

std::vector<GridPoint> rectangle_outline(double x0, double y0, double x1, double y1, double angle) {
    const double gx0 = static_cast<double>(to_grid(x0)), gy0 = static_cast<double>(to_grid(y0));
    const double gx1 = static_cast<double>(to_grid(x1)), gy1 = static_cast<double>(to_grid(y1));
    const double cx = (gx0 + gx1) / 2, cy = (gy0 + gy1) / 2;
    const double c = std::cos(angle), s = std::sin(angle);
    std::vector<GridPoint> out;
    const std::pair<double, double> corners[] = {{gx0, gy0}, {gx0, gy1}, {gx1, gy1}, {gx1, gy0}};
    for (const auto& [x, y] : corners) {
        if (angle == 0) {  // keeps the corners exact
            out.push_back({round_grid(x), round_grid(y)});
            continue;
        }
        out.push_back({round_grid(cx + (x - cx) * c + (y - cy) * s),
                       round_grid(cy - (x - cx) * s + (y - cy) * c)});
    }
    return out;
}

std::vector<GridPoint> oval_outline(double x0, double y0, double x1, double y1, double angle) {
    const double gx0 = static_cast<double>(to_grid(x0)), gy0 = static_cast<double>(to_grid(y0));
    const double gx1 = static_cast<double>(to_grid(x1)), gy1 = static_cast<double>(to_grid(y1));
    const double rx = std::fabs(gx1 - gx0) / 2, ry = std::fabs(gy1 - gy0) / 2;
    const double cx = (gx0 + gx1) / 2, cy = (gy0 + gy1) / 2;
    const double n_wanted = std::round(2 * std::sqrt(rx * rx + ry * ry));
    const int n = static_cast<int>(std::clamp(n_wanted, 8.0, 2000.0));
    const double c = std::cos(angle), s = std::sin(angle);
    std::vector<GridPoint> out;
    out.reserve(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        const double theta = 2 * std::numbers::pi * k / (n - 1);
        const double u = rx * std::cos(theta), v = ry * std::sin(theta);
        out.push_back({round_grid(cx + u * c + v * s), round_grid(cy - u * s + v * c)});
    }
    return out;
}

std::vector<MaskVertex> spline_samples(const std::vector<MaskVertex>& controls) {
    std::vector<MaskVertex> out;
    const std::size_t n = controls.size();
    auto point = [&](std::size_t i) { return Vec{controls[i % n].x, controls[i % n].y}; };
    for (std::size_t i = 0; i < n; ++i) {
        const Vec e = point(i + n - 1), f = point(i), g = point(i + 1), h = point(i + 2);
        const Vec delta = g - f;
        const double l = length(delta);
        const long m = std::lround(l / 2);
        if (m <= 0) continue;
        if (m == 1) {  // too short to sample: the segment keeps its start point
            out.push_back({f.x, f.y, -1});
            continue;
        }
        // The four points as a closed loop: before F - E comes E - H, after H - G too.
        const Vec t1 = tangent(e - h, f - e, g - f, h - g);
        const Vec t2 = tangent(f - e, g - f, h - g, e - h);
        const Vec c2 = 3 * delta - l * (2 * t1 + t2);
        const Vec c3 = delta - l * t1 - c2;
        for (long j = 0; j < m; ++j) {
            const double t = static_cast<double>(j) / static_cast<double>(m - 1);
            const Vec p = f + t * ((t * (t * c3 + c2)) + l * t1);
            out.push_back({p.x, p.y, -1});
        }
    }
    return out;
}

bool fill_polygon(Image& mask, const std::vector<GridPoint>& polygon, std::int32_t mode,
                  const char* failure_message) {
    if (polygon.empty() || mask.width == 0 || mask.height == 0) return false;
    if (mask.type != image_gray8 && mask.type != image_gray16) {
        show_error("Internal error: mask is not a gray image");
        return true;
    }
    std::int64_t gx0 = polygon[0].x, gx1 = gx0, gy0 = polygon[0].y, gy1 = gy0;
    for (const GridPoint& p : polygon) {
        gx0 = std::min(gx0, p.x);
        gx1 = std::max(gx1, p.x);
        gy0 = std::min(gy0, p.y);
        gy1 = std::max(gy1, p.y);
    }
    // The pixel columns and rows (y from the top) the box touches, within the image.
    const std::int64_t c0 = std::max<std::int64_t>(pixel_of(gx0), 0);
    const std::int64_t c1 = std::min<std::int64_t>(pixel_of(gx1), mask.width - 1);
    const std::int64_t r0 = std::max<std::int64_t>(pixel_of(gy0), 0);
    const std::int64_t r1 = std::min<std::int64_t>(pixel_of(gy1), mask.height - 1);
    if (c0 > c1 || r0 > r1) return false;

    std::vector<Edge> edges;
    Image counts;  // sub-samples covered per pixel of the box, one row per box row
    try {
        edges.reserve(polygon.size());
        for (std::size_t i = 0; i < polygon.size(); ++i) {
            GridPoint a = polygon[i];
            GridPoint b = polygon[(i + 1) % polygon.size()];
            if (a.y == b.y) continue;  // horizontal edges never cross a sub-row
            if (a.y > b.y) std::swap(a, b);
            edges.push_back({a.y, b.y, static_cast<double>(a.x),
                             static_cast<double>(b.x - a.x) / static_cast<double>(b.y - a.y)});
        }
    } catch (const std::bad_alloc&) {
        show_error(failure_message);
        return true;
    }
    const auto box_w = static_cast<std::uint32_t>(c1 - c0 + 1);
    const auto box_h = static_cast<std::uint32_t>(r1 - r0 + 1);
    if (image_alloc(counts, image_gray8, box_w, box_h, 0)) {
        show_error(failure_message);
        return true;
    }

    const bool sixteen = mask.type == image_gray16;
    const std::int64_t first_sub = c0 * shape_subpixels - 2;  // sub-columns of the box
    const std::int64_t end_sub = c1 * shape_subpixels + 3;
    const std::uint32_t h = mask.height;
    const std::uint8_t result = run_rows(
        [&](const Image*, Image* out, int first, int last, Progress& progress) -> std::uint8_t {
            try {
                std::vector<const Edge*> active;
                std::vector<std::int64_t> crossings;
                active.reserve(edges.size());
                crossings.reserve(edges.size());
                for (int r = first; r <= last; ++r) {
                    if (progress_tick(progress)) return run_cancelled;
                    std::uint8_t* row = out->rows[r];
                    const std::int64_t y = h - 1 - static_cast<std::uint32_t>(r);
                    if (y < r0 || y > r1) {
                        if (mode == mask_overlap) {
                            for (std::uint32_t x = 0; x < out->width; ++x)
                                put_value(*out, row, x, 0);
                        }
                        continue;
                    }
                    std::uint8_t* count = counts.rows[y - r0];
                    std::fill(count, count + box_w, std::uint8_t{0});
                    const std::int64_t sub_top = y * shape_subpixels - 2;
                    active.clear();
                    for (const Edge& e : edges) {
                        if (e.y_top <= sub_top + 4 && e.y_bottom > sub_top) active.push_back(&e);
                    }
                    for (std::int64_t sy = sub_top; sy < sub_top + shape_subpixels; ++sy) {
                        crossings.clear();
                        for (const Edge* e : active) {
                            if (e->y_top <= sy && sy < e->y_bottom) {
                                crossings.push_back(round_grid(
                                    e->x_top + static_cast<double>(sy - e->y_top) * e->slope));
                            }
                        }
                        std::sort(crossings.begin(), crossings.end());
                        // Even-odd: sub-columns a <= X < b of each pair are inside.
                        for (std::size_t k = 0; k + 1 < crossings.size(); k += 2) {
                            const std::int64_t a = std::max(crossings[k], first_sub);
                            const std::int64_t b = std::min(crossings[k + 1], end_sub);
                            for (std::int64_t sx = a; sx < b;) {
                                const std::int64_t px = pixel_of(sx);
                                const std::int64_t stop = std::min(b, px * shape_subpixels + 3);
                                count[px - c0] =
                                    static_cast<std::uint8_t>(count[px - c0] + (stop - sx));
                                sx = stop;
                            }
                        }
                    }
                    for (std::uint32_t x = 0; x < out->width; ++x) {
                        std::uint32_t s = 0;
                        if (x >= c0 && x <= c1) {
                            s = 255u * count[x - c0] / 25u;
                            if (sixteen) s = widen8to16(s);
                        } else if (mode != mask_overlap) {
                            continue;  // outside the box only Overlap changes the mask
                        }
                        put_value(*out, row, x, mask_combine(mode, get_value(*out, row, x), s));
                    }
                }
                return 0;
            } catch (const std::bad_alloc&) {
                return run_out_of_memory;
            }
        },
        "Mask Shape", nullptr, &mask);
    if (result == run_out_of_memory) show_error(failure_message);
    return result != 0;
}

bool render_freehand(MaskState&, const MaskOperation& operation, Image& after) {
    return fill_shape(after, operation.mode, "Error creating polygon mask",
                      [&] { return grid_outline(operation.parameters.vertices); });
}

bool render_polygon(MaskState&, const MaskOperation& operation, Image& after) {
    return fill_shape(after, operation.mode, "Error creating polygon mask",
                      [&] { return grid_outline(operation.parameters.vertices); });
}

bool render_rectangle(MaskState&, const MaskOperation& operation, Image& after) {
    const MaskOperationParameters& p = operation.parameters;
    return fill_shape(after, operation.mode, "Error creating rectangular mask",
                      [&] { return rectangle_outline(p.x0, p.y0, p.x1, p.y1, p.angle); });
}

bool render_oval(MaskState&, const MaskOperation& operation, Image& after) {
    const MaskOperationParameters& p = operation.parameters;
    return fill_shape(after, operation.mode, "Error creating oval mask",
                      [&] { return oval_outline(p.x0, p.y0, p.x1, p.y1, p.angle); });
}

bool render_spline(MaskState&, const MaskOperation& operation, Image& after) {
    return fill_shape(after, operation.mode, "Error creating spline mask",
                      [&] { return grid_outline(spline_samples(operation.parameters.vertices)); });
}

namespace {

bool render_gradient(const MaskOperation& operation, Image& after, bool oval) {
    const MaskOperationParameters& p = operation.parameters;
    if (p.x0 == p.x1 && p.y0 == p.y1) return false;
    const char* failure = oval ? "Error creating oval gradient" : "Error creating linear gradient";
    Image gradient;
    if (image_alloc(gradient, after.type, after.width, after.height, after.dpi)) {
        show_error(failure);
        return true;
    }
    const double sx = after.width > 1 ? 1.0 / (after.width - 1) : 0.0;
    const double sy = after.height > 1 ? 1.0 / (after.height - 1) : 0.0;
    const bool failed = oval ? render_oval_gradient(gradient, p.x0 * sx, p.y0 * sy, p.x1 * sx,
                                                    p.y1 * sy, p.angle, p.color_line)
                             : render_linear_gradient(gradient, p.x0 * sx, p.y0 * sy, p.x1 * sx,
                                                      p.y1 * sy, p.color_line);
    if (failed) return true;
    // Each pixel is read before it is written, so the mask can be its own source.
    return mask_merge(after, gradient, operation.mode, after);
}

}  // namespace

bool render_linear_gradient_op(MaskState&, const MaskOperation& operation, Image& after) {
    return render_gradient(operation, after, false);
}

bool render_oval_gradient_op(MaskState&, const MaskOperation& operation, Image& after) {
    return render_gradient(operation, after, true);
}

}  // namespace tessaly
