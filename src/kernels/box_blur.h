// The box blur: a box filter of radius r run twice along each column and then twice along each
// row (a tent kernel of width 4r + 1), in integers with truncating divisions for 8 and 16-bit
// samples and in floats for floating-point ones. Rows beyond the top and bottom mirror the edge
// row, columns beyond the sides repeat the edge column. Gaussian Blur is this kernel; Unsharp
// Mask takes its rows band by band.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "core/image.h"

namespace tessaly {

// Blurs in (8/16-bit gray or RGB, floating-point gray or RGB) into out, which gets in's type,
// size, resolution, profile and tags. Radius 0 copies. chrominance_only blurs only the chroma
// plane of RGB pixels and keeps each pixel's value (gray pictures ignore it). Progress under
// title (empty: none). true on failure (a type it cannot blur, allocation, cancel); out is then
// empty.
[[nodiscard]] bool box_blur_image(const Image& in, Image& out, int radius, bool chrominance_only,
                                  std::string_view title = {});

// For operations that use each blurred row once, next to the source (Unsharp Mask): every worker
// blurs its band into a buffer of a few rows and hands each finished run of them to the sink
// while they are still in cache, so no blurred image is made. rows[i] holds the pixels of
// blurred row first + i (no padding), for i < count <= box_blur_sink_rows, valid only during the
// call; one worker's calls come in row order, the workers' at the same time. A non-zero return
// stops the run.
constexpr int box_blur_sink_rows = 16;
using BlurredRowsSink =
    std::function<std::uint8_t(int first, int count, const std::uint8_t* const* rows)>;
// All channels of in (a type box_blur_image takes), radius >= 1; progress under title. true on
// failure (a type it cannot blur, the sink, cancel).
[[nodiscard]] bool box_blur_rows(const Image& in, int radius, const BlurredRowsSink& sink,
                                 std::string_view title);

// The band step's running-sum loops can be switched off (on by default) in favour of the plain
// column-by-column form, so that tests hold both to the same results.
void box_blur_allow_fast_path(bool allow);

}  // namespace tessaly
