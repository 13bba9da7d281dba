// Colour transforms of images: converting an image from one ICC profile to another in place, and
// the colour-managed type conversions that the image core calls through its seam.
#pragma once

#include <cstdint>

#include "core/image.h"

namespace tessaly {

// Converts the pixels of an 8/16-bit gray or colour image from profile `from` to profile `to`
// in place and attaches a copy of `to`. A null or empty profile stands for the fallback of the
// image's kind (built-in gray for gray types, Little CMS sRGB for colour types). Byte-equal
// profiles leave the image untouched. intent_code is a rendering intent code (lcms_support.h).
// Returns true on failure.
[[nodiscard]] bool convert_image_profile(Image& image, const std::uint8_t* from,
                                         std::uint32_t from_size, const std::uint8_t* to,
                                         std::uint32_t to_size, std::int32_t intent_code);

// Installs the colour-managed type conversions into the image core. Programs call it once at
// start-up.
void install_color_transforms();

}  // namespace tessaly
