// Gray gradients from a color line: the pictures behind the Linear Gradient and Oval Gradient
// transformations and the mask operations of the same names.
//
// A stop's colour r + 256 g + 65536 b becomes gray (306 r + 601 g + 117 b) >> 10, widened
// (v x 257) on 16-bit images; between stops the gray is interpolated linearly by position, and
// before the first or after the last stop it is that stop's. The two integers of a stop are
// carried but not used here.
#pragma once

#include <cstdint>
#include <vector>

#include "mask_settings.h"

namespace tessaly {

// The gray of one colour on the full scale (255, or 65535 when sixteen).
std::uint32_t colour_gray(std::uint32_t colour, bool sixteen);

// Gray along a color line at position p (0..1), on the full scale. An empty line is black.
class GrayRamp {
  public:
    GrayRamp(const ColorLine& line, bool sixteen);
    std::uint32_t at(double p) const;

  private:
    struct Stop {
        double position;
        double gray;
    };
    std::vector<Stop> stops_;  // sorted by position, equal positions in their line order
};

// Both fill out, an allocated 8- or 16-bit gray image, and return true on failure (another image
// type, or cancelled). The end points are fractions of (width - 1) and (height - 1), y from the
// top; values are taken at pixel centres.
//
// Linear: position 0 at point 0, 1 at point 1, measured along the line between them (the
// projection, clamped to 0..1); coinciding points give position 0 everywhere.
bool render_linear_gradient(Image& out, double fx0, double fy0, double fx1, double fy1,
                            const ColorLine& line);
// Oval: an ellipse centred on point 0, turned by angle (radians, counter-clockwise on screen),
// whose quarter box has point 1 as its corner: in the turned frame the semi-axes are the two
// components of point 1 - point 0. Position is the elliptical radius (0 at the centre, 1 on the
// ellipse), clamped to 1 outside. A zero semi-axis flattens the ellipse to a line: only pixels on
// it get less than 1.
bool render_oval_gradient(Image& out, double fx0, double fy0, double fx1, double fy1, double angle,
                          const ColorLine& line);

}  // namespace tessaly
