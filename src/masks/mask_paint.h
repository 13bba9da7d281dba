// The Paint mask operation (code 8): a round brush stamped along a stroke, limited to all pixels,
// the pixels in the current colour range or pixels similar to a sampled colour, and merged into
// the mask by the combine mode.
#pragma once

#include <cstdint>
#include <vector>

#include "mask_operations.h"
#include "mask_settings.h"

namespace tessaly {

// A square brush image of 8-bit values, 2 half + 1 pixels on a side, centred on its middle pixel.
struct PaintBrush {
    std::int32_t half = 0;
    std::vector<std::uint8_t> values;  // row-major, top row first

    std::int32_t size() const { return 2 * half + 1; }
    std::uint8_t at(std::int32_t i, std::int32_t j) const {
        return values[static_cast<std::size_t>(j * size() + i)];
    }
};

// The brush of a radius (pixels), transparency and softness (percent): full strength inside the
// hard radius, a cosine falloff to 0 at the radius.
PaintBrush make_paint_brush(double radius, double transparency, double softness);

// Pixels between dabs: spacing is a percentage of the radius; at least 1.
std::int32_t paint_dab_step(double radius, double spacing);

// The brush settings in force at a stroke point with pen pressure (0..1; negative = none): the
// pressure control replaces one setting, nothing else changes.
BrushSettings brush_at_pressure(const BrushSettings& brush, double pressure);

// One stamp of a stroke: where (pixels, y down) and the stroke point whose pressure and (for
// "Similar Pixels (Track)") sample colour it uses.
struct PaintDab {
    double x = 0;
    double y = 0;
    std::size_t point = 0;
};
// The dabs of a stroke: one at the first point, then along each line to the next point that is
// at least two steps away (closer points are skipped), about one step apart, ending on it.
std::vector<PaintDab> paint_dabs(const std::vector<MaskVertex>& points, const BrushSettings& brush);

// Merges the paint value d into the mask value m (both on the scale full).
std::uint32_t paint_merge(std::int32_t mode, bool accumulate, std::uint32_t m, std::uint32_t d,
                          std::uint32_t full);

// The renderer (MaskRenderer). true on failure.
bool render_paint(MaskState& state, const MaskOperation& operation, Image& after);

}  // namespace tessaly
