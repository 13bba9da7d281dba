// The small-radius sharpener: each sample is pushed away from the mean of its four edge
// neighbours ("Sharpen") or all eight ("Sharpen More"), with the threshold ramp and halo limits
// of Unsharp Mask (sharpen_step.h). Pixels beyond an edge repeat the edge pixel. Sharpen and
// Export call it.
#pragma once

#include <cstdint>

#include "core/image.h"

namespace tessaly {

// The neighbourhood.
enum : std::int32_t { sharpen_kernel_four = 0, sharpen_kernel_eight = 1 };

// Sharpens in (binary, taken as 8-bit gray; 8/16-bit gray or RGB) into out, which gets the
// working type, in's size, resolution, profile and tags; no mask, the amount at full. The
// progress window "Sharpen" is shown only with show_progress. true on failure (another type,
// allocation, cancel); out is then empty.
[[nodiscard]] bool sharpen_image(const Image& in, Image& out, int kernel, double overshoot,
                                 double undershoot, double thresholdb, double thresholdw,
                                 double strength, bool show_progress);

}  // namespace tessaly
