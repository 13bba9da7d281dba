// Unsharp Mask: adds back a multiple of the difference between the image and its Gaussian Blur,
// with a threshold ramp on that difference and halo limits on the result, for all channels or
// only the brightness of RGB images; mixed with the source through the amount and mask. Other
// transformations call unsharp_mask_image.
#pragma once

#include <cstdint>

#include "core/image.h"

namespace tessaly {

enum : std::int32_t { unsharp_all_channels = 0, unsharp_luminance = 1 };

constexpr std::int32_t unsharp_mask_max_radius = 40;
constexpr double unsharp_mask_max_strength = 5.0;

// Sharpens in (8/16-bit gray or RGB) into out, which gets in's type, size, resolution, profile
// and tags; no mask, the amount at full. Radius 0 or strength 0 copy. true on failure (another
// type, allocation, cancel); out is then empty.
[[nodiscard]] bool unsharp_mask_image(const Image& in, Image& out, int radius, double thresholdb,
                                      double thresholdw, double strength, double maxovershoot,
                                      double maxundershoot, int what = unsharp_all_channels);

}  // namespace tessaly
