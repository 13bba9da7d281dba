// Unsharp Mask's kernel: adds back a multiple of the difference between the image and its box
// blur (box_blur.h), with the threshold ramp and halo limits of sharpen_step.h, for all channels
// or only the brightness (the value max(R, G, B)) of RGB images.
#pragma once

#include <cstdint>

#include "core/image.h"

namespace tessaly {

// "What:"
enum : std::int32_t { unsharp_all_channels = 0, unsharp_luminance = 1 };

// Sharpens in (8/16-bit gray or RGB) into out, which gets in's type, size, resolution, profile
// and tags; no mask, the amount at full. Radius 0 or strength 0 copy. true on failure (another
// type, allocation, cancel); out is then empty.
[[nodiscard]] bool unsharp_mask_image(const Image& in, Image& out, int radius, double thresholdb,
                                      double thresholdw, double strength, double maxovershoot,
                                      double maxundershoot, int what = unsharp_all_channels);

}  // namespace tessaly
