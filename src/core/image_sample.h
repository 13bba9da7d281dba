// Reading an Image at a fractional position. Integer positions are pixel centres; y counts rows
// as stored (row 0 at the bottom). Outside the picture the background is returned, and the
// picture's edge fades into it over one pixel. Color samplers take and give blue, green, red.
#pragma once

#include <cstdint>

#include "image.h"

namespace tessaly {

std::uint8_t image_sample_binary(const Image& image, double x, double y, std::uint8_t background);
std::uint8_t image_sample_gray8(const Image& image, double x, double y, std::uint8_t background);
std::uint16_t image_sample_gray16(const Image& image, double x, double y,
                                  std::uint16_t background);
void image_sample_color24(const Image& image, double x, double y, const std::uint8_t background[3],
                          std::uint8_t out[3]);
void image_sample_color48(const Image& image, double x, double y,
                          const std::uint16_t background[3], std::uint16_t out[3]);
// The nearest pixel of a binary image (0 or 255), the background outside.
std::uint8_t image_sample_binary_nearest(const Image& image, double x, double y,
                                         std::uint8_t background);
// Any type as an 8-bit red, green, blue triple; other types leave the outputs unchanged.
void image_sample_rgb8(const Image& image, double x, double y, std::uint8_t background_r,
                       std::uint8_t background_g, std::uint8_t background_b, std::uint8_t& r,
                       std::uint8_t& g, std::uint8_t& b);

}  // namespace tessaly
