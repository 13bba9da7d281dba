// The mask operations that reshape the whole mask: Feather, Blur, Remove Pinholes and Median
// Filter, and the two gray-image filters they rest on (the triangular blur and the median), which
// other parts of the program call directly.
#pragma once

#include <cstdint>
#include <vector>

#include "core/image.h"
#include "mask_operations.h"

namespace tessaly {

// How a whole-image filter ended. failed means a working buffer could not be made or the image
// is not 8- or 16-bit gray; cancelled means a batch abort or the person stopped it.
enum class FilterStatus { done, cancelled, failed };

// The (2r+1) x (2r+1) feather kernel, row by row, for r = |radius|. style: 0 linear, 1 step,
// 2 cosine (anything else is linear); corners: 0 round, 1 square.
std::vector<std::uint8_t> feather_kernel(std::int32_t radius, std::int32_t style,
                                         std::int32_t corners);

// The separable triangular blur of an 8- or 16-bit gray image: each row, then each column, goes
// twice through a box average of width 2 radius + 1. Outside the image the nearest edge pixel is
// repeated. target is allocated like source unless it already has its type and size; it may be
// source itself. A radius of 0 or less copies; radii above 2^20 are taken as 2^20. Progress
// captions "Blur Pass 1" (rows) and "Blur Pass 2" (columns).
FilterStatus blur_gray(const Image& source, Image& target, std::int32_t radius);

// The median of the (2 radius + 1)^2 square around each pixel of an 8- or 16-bit gray image
// (outside the image the nearest edge pixel is repeated), mixed with the pixel's own value:
// level 1024 gives the median, level 0 the pixel unchanged, levels between the rounded blend
// (levels are clamped to 0..1024, the radius to 1..32767). target is allocated like
// source unless it already has its type and size; it must not be source. Caption
// "Median Filter".
FilterStatus median_gray(const Image& source, Image& target, std::int32_t radius,
                         std::int32_t level);

// The renderers of operation codes 5, 6, 15 and 16 (see MaskRenderer). Each reads
// state.current_mask and writes after; true on failure or cancellation.
bool render_feather(MaskState& state, const MaskOperation& operation, Image& after);
bool render_blur(MaskState& state, const MaskOperation& operation, Image& after);
bool render_pinholes(MaskState& state, const MaskOperation& operation, Image& after);
bool render_median(MaskState& state, const MaskOperation& operation, Image& after);

}  // namespace tessaly
