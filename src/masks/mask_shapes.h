// The drawn mask operations: outlines (freehand, polygon, spline), rectangle and oval filled with
// 5 x 5 sub-pixel coverage, and the two gradients, each merged into the mask by the combine mode.
// Every render_* function has the MaskRenderer form: after arrives as a copy of the current mask
// and true means failure (the message has been shown, the caller keeps the previous mask).
#pragma once

#include <cstdint>
#include <vector>

#include "mask_operations.h"

namespace tessaly {

// Sub-pixel units per pixel along each axis.
constexpr int shape_subpixels = 5;

// A point on the 1/5-pixel grid: pixel centre (x, y) is (5x, 5y).
struct GridPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;
    bool operator==(const GridPoint&) const = default;
};

// Pixels to grid units: times 5, rounded half away from zero.
std::int64_t to_grid(double pixels);
std::vector<GridPoint> grid_outline(const std::vector<MaskVertex>& vertices);

// The outlines on the grid. Rectangle and oval take the box corners in pixels and the rotation
// (radians, positive turns counter-clockwise on screen) about the box centre.
std::vector<GridPoint> rectangle_outline(double x0, double y0, double x1, double y1, double angle);
std::vector<GridPoint> oval_outline(double x0, double y0, double x1, double y1, double angle);
// The closed curve through the control points, sampled about every 2 pixels, in pixels. A
// segment of one sample (chord 1 to 3 pixels) contributes its start point.
std::vector<MaskVertex> spline_samples(const std::vector<MaskVertex>& controls);

// Fills the closed polygon into mask (8- or 16-bit gray) with the even-odd rule, 25 sub-samples
// a pixel, and merges the coverage by mode. A polygon whose box misses the image changes
// nothing. On failure shows failure_message when memory ran out (not when cancelled); true then.
bool fill_polygon(Image& mask, const std::vector<GridPoint>& polygon, std::int32_t mode,
                  const char* failure_message);

bool render_freehand(MaskState& state, const MaskOperation& operation, Image& after);
bool render_rectangle(MaskState& state, const MaskOperation& operation, Image& after);
bool render_oval(MaskState& state, const MaskOperation& operation, Image& after);
bool render_polygon(MaskState& state, const MaskOperation& operation, Image& after);
bool render_spline(MaskState& state, const MaskOperation& operation, Image& after);
bool render_linear_gradient_op(MaskState& state, const MaskOperation& operation, Image& after);
bool render_oval_gradient_op(MaskState& state, const MaskOperation& operation, Image& after);

}  // namespace tessaly
