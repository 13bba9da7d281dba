// Gaussian Blur: a box filter run twice along each column and then twice along each row (a tent
// kernel of width 4r + 1), for all channels or only the chrominance of RGB images, mixed with
// the source through the amount and mask. Other transformations call gaussian_blur_image.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/image.h"

namespace tessaly {

// "What:" of Gaussian Blur and the kernel.
enum : std::int32_t { gaussian_blur_all_channels = 0, gaussian_blur_chrominance = 1 };

constexpr std::int32_t gaussian_blur_max_radius = 256;

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

}  // namespace tessaly
