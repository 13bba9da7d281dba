// Sharpen: the small-radius sharpener. Each sample is pushed away from the mean of its four edge
// neighbours ("Sharpen") or all eight ("Sharpen More"), with the threshold ramp and halo limits
// of Unsharp Mask; mixed with the source through the amount and mask. Other transformations call
// sharpen_image.
#pragma once

#include <cstdint>
#include <string>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"
#include "masks/amount.h"

namespace tessaly {

enum : std::int32_t { sharpen_kernel_four = 0, sharpen_kernel_eight = 1 };

constexpr double sharpen_max_strength = 2.0;

struct SharpenSettings {
    AmountSettings amount;
    std::int32_t kernel = sharpen_kernel_four;
    double maxovershoot = 0.1;   // largest increase, a fraction of full scale
    double maxundershoot = 0.1;  // largest decrease
    double thresholdb = 0.04;    // differences below are not sharpened
    double thresholdw = 0.04;    // differences from here on are sharpened fully
    double strength = 1.0;       // 0..2
    std::int32_t display = 1;
    std::int32_t sync_scroll = 1;
    std::int32_t auto_preview = 1;
};

std::string sharpen_command_line(const SharpenSettings& settings);
// Defaults, then the command line; node (may be null) holds the masks the amount refers to.
// true when the parse failed.
bool sharpen_parse(const ArgumentList& args, const Node* node, SharpenSettings& settings);

// Sharpens in (binary, taken as 8-bit gray; 8/16-bit gray or RGB) into out, which gets the
// working type, in's size, resolution, profile and tags; no mask, the amount at full. The
// progress window "Sharpen" is shown only with show_progress. true on failure (another type,
// allocation, cancel); out is then empty.
[[nodiscard]] bool sharpen_image(const Image& in, Image& out, int kernel, double overshoot,
                                 double undershoot, double thresholdb, double thresholdw,
                                 double strength, bool show_progress);

std::uint8_t sharpen_run_entry(Node* input, Node* node, const ArgumentList& args);

}  // namespace tessaly
