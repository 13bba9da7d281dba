// Unsharp Mask: adds back a multiple of the difference between the image and its Gaussian Blur,
// with a threshold ramp on that difference and halo limits on the result, for all channels or
// only the brightness of RGB images; mixed with the source through the amount and mask. Other
// transformations call unsharp_mask_image.
#pragma once

#include <cstdint>
#include <string>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"
#include "masks/amount.h"

namespace tessaly {

enum : std::int32_t { unsharp_all_channels = 0, unsharp_luminance = 1 };

constexpr std::int32_t unsharp_mask_max_radius = 40;
constexpr double unsharp_mask_max_strength = 5.0;

struct UnsharpMaskSettings {
    AmountSettings amount;
    double maxovershoot = 0.1;   // largest increase, a fraction of full scale
    double maxundershoot = 0.1;  // largest decrease
    std::int32_t radius = 2;     // blur radius in pixels, 0..40
    double thresholdb = 0.04;    // differences below are not sharpened
    double thresholdw = 0.04;    // differences from here on are sharpened fully
    double strength = 1.0;       // 0..5
    std::int32_t what = unsharp_all_channels;
    std::int32_t display = 1;
    std::int32_t sync_scroll = 1;
};

std::string unsharp_mask_command_line(const UnsharpMaskSettings& settings);
// Defaults, then the command line; node (may be null) holds the masks the amount refers to.
// true when the parse failed.
bool unsharp_mask_parse(const ArgumentList& args, const Node* node, UnsharpMaskSettings& settings);

// Sharpens in (8/16-bit gray or RGB) into out, which gets in's type, size, resolution, profile
// and tags; no mask, the amount at full. Radius 0 or strength 0 copy. true on failure (another
// type, allocation, cancel); out is then empty.
[[nodiscard]] bool unsharp_mask_image(const Image& in, Image& out, int radius, double thresholdb,
                                      double thresholdw, double strength, double maxovershoot,
                                      double maxundershoot, int what = unsharp_all_channels);

std::uint8_t unsharp_mask_run_entry(Node* input, Node* node, const ArgumentList& args);

}  // namespace tessaly
