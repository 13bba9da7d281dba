// Edge-preserving smoothing: a copy of a picture with its texture flattened and its edges kept,
// the base layer of Brightness Curve's Advanced Mode. Both filters take 8 and 16-bit gray and
// colour images (types 2 to 5), filter colour images channel by channel (the guided filter uses
// its colour form), and fill out with the input's type, size, resolution, profile and tags.
// Results do not depend on the number of worker threads.
#pragma once

#include "core/image.h"

namespace tessaly {

// Sigma filter: every sample becomes the mean of the samples of the square window of side
// 2 radius + 1 around it (coordinates beyond an edge take the edge pixel) that lie within
// +-threshold of it. The window is a 256-bin histogram sliding along the row; 16-bit samples are
// binned on the 8-bit scale and the mean expanded by 257. Progress: "Compute Mean Image".
// true on failure (type, allocation, cancel); out is then empty.
[[nodiscard]] bool sigma_filter(const Image& in, Image& out, int radius, int threshold);

// Guided filter of the picture by itself in floating point, epsilon = (threshold / 510)^2 on
// the 0..1 scale. From radius 4 the box means are taken on a copy reduced by 2 (radius 4..7) or
// 4 (radius 8 and more) with box radius (radius + 2) / 4, and their coefficients enlarged
// bilinearly. Progress: "Mean Image". true on failure; out is then empty.
[[nodiscard]] bool guided_filter(const Image& in, Image& out, int radius, int threshold);

}  // namespace tessaly
