// Gaussian Blur: a box filter run twice along each column and then twice along each row (a tent
// kernel of width 4r + 1), for all channels or only the chrominance of RGB images, mixed with
// the source through the amount and mask. Other transformations call gaussian_blur_image.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"
#include "masks/amount.h"

namespace tessaly {

enum : std::int32_t { blur_all_channels = 0, blur_chrominance = 1 };

constexpr std::int32_t gaussian_blur_max_radius = 256;

struct GaussianBlurSettings {
    AmountSettings amount;
    std::int32_t radius = 3;  // box radius in pixels, 0..256
    std::int32_t what = blur_all_channels;
    std::int32_t display = 1;
    std::int32_t sync_scroll = 1;
};

std::string gaussian_blur_command_line(const GaussianBlurSettings& settings);
// Defaults, then the command line; node (may be null) holds the masks the amount refers to.
// true when the parse failed.
bool gaussian_blur_parse(const ArgumentList& args, const Node* node,
                         GaussianBlurSettings& settings);

// Blurs in (8/16-bit gray or RGB, floating-point gray or RGB) into out, which gets in's type,
// size, resolution, profile and tags; no mask, the amount at full. Radius 0 copies. true on
// failure (a type it cannot blur, allocation, cancel); out is then empty.
[[nodiscard]] bool gaussian_blur_image(const Image& in, Image& out, int radius, int what);

// For operations that use each blurred row once, next to the source (Unsharp Mask): every worker
// blurs its band into a buffer of a few rows and hands each finished run of them to the sink
// while they are still in cache, so no blurred image is made. rows[i] holds the pixels of
// blurred row first + i (no padding), for i < count <= gaussian_blur_sink_rows, valid only
// during the call; one worker's calls come in row order, the workers' at the same time. A
// non-zero return stops the run.
constexpr int gaussian_blur_sink_rows = 16;
using BlurredRowsSink =
    std::function<std::uint8_t(int first, int count, const std::uint8_t* const* rows)>;
// All channels of in (a type gaussian_blur_image takes), radius >= 1; progress under title.
// true on failure (a type it cannot blur, the sink, cancel).
[[nodiscard]] bool gaussian_blur_rows(const Image& in, int radius, const BlurredRowsSink& sink,
                                      std::string_view title);

// The band step's running-sum loops can be switched off (on by default) in favour of the plain
// column-by-column form, so that tests hold both to the same results.
void gaussian_blur_allow_fast_path(bool allow);

std::uint8_t gaussian_blur_run_entry(Node* input, Node* node, const ArgumentList& args);

}  // namespace tessaly
