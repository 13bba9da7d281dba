// The thirteen conversions between image types. Each copies dpi and tags, chooses the target's
// profile by its rule and runs its rows through the row-parallel runner. With color
// management enabled the conversions marked below go through a color transform instead of the
// plain arithmetic; the color-management layer installs that path with
// set_color_managed_conversion.
#pragma once

#include <cstdint>

#include "image.h"

namespace tessaly {

[[nodiscard]] bool convert_1_to_2(const Image& source, Image& target);
[[nodiscard]] bool convert_1_to_3(const Image& source, Image& target);
[[nodiscard]] bool convert_2_to_3(const Image& source, Image& target);  // color-managed
[[nodiscard]] bool convert_2_to_4(const Image& source, Image& target);
[[nodiscard]] bool convert_2_to_6(const Image& source, Image& target);
[[nodiscard]] bool convert_3_to_2(const Image& source, Image& target);  // color-managed
[[nodiscard]] bool convert_3_to_5(const Image& source, Image& target);
[[nodiscard]] bool convert_4_to_2(const Image& source, Image& target);
[[nodiscard]] bool convert_4_to_3(const Image& source, Image& target);  // color-managed
[[nodiscard]] bool convert_4_to_5(const Image& source, Image& target);  // color-managed
[[nodiscard]] bool convert_4_to_6(const Image& source, Image& target);
[[nodiscard]] bool convert_5_to_2(const Image& source, Image& target);  // color-managed
[[nodiscard]] bool convert_5_to_3(const Image& source, Image& target);

// Picks the conversion for a pair of types; fails for a pair without one.
[[nodiscard]] bool image_convert(const Image& source, Image& target, std::uint32_t type);
bool image_conversion_exists(std::uint32_t from, std::uint32_t to);

// The color-managed path: transforms every row of source (whose pixels target already has the
// size for) from the source's profile (the built-in gray or sRGB profile when it has none) to
// the target's, perceptual intent. Returns true on failure. When no path is
// installed, or color management is disabled, the plain arithmetic applies.
using ColorManagedConversion = bool (*)(const Image& source, Image& target);
void set_color_managed_conversion(ColorManagedConversion conversion);
void set_color_management_enabled(bool enabled);
bool color_management_enabled();

// The working profiles of the RGB and gray families (unset = empty). image_alloc_as and the
// conversions attach copies of them.
void set_rgb_working_profile(const std::uint8_t* bytes, std::uint32_t size);
void set_gray_working_profile(const std::uint8_t* bytes, std::uint32_t size);
struct ProfileBytes {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
};
ProfileBytes rgb_working_profile();
ProfileBytes gray_working_profile();

}  // namespace tessaly
