// The display path: the colour transform from an image's profile to the monitor (optionally
// simulating a proofing device and marking colours outside its gamut) and the conversion of the
// visible rectangle into an 8-bit blue-green-red buffer that the window draws.
#pragma once

#include <lcms2.h>

#include <cstdint>

#include "color/lcms_support.h"
#include "core/image.h"

namespace tessaly {

inline constexpr const char* display_transform_failure =
    "Internal error: error creating lcms transform";
inline constexpr const char* display_conversion_failure =
    "Problem converting from working color space to monitor color space";

// What the display needs to know of the colour management settings, profiles as bytes.
struct DisplaySettings {
    bool color_management = false;
    // No monitor profile: the display copy is shown unconverted.
    const std::uint8_t* monitor_profile = nullptr;
    std::uint32_t monitor_profile_size = 0;
    // The current display intent: the monitor rendering intent, or the monitor proofing
    // rendering intent while proofing is on.
    std::int32_t intent = 0;
    bool proofing = false;
    const std::uint8_t* proofing_profile = nullptr;
    std::uint32_t proofing_profile_size = 0;
    std::int32_t proofing_intent = 0;
    bool gamut_alarm = false;
    std::uint8_t alarm_color[3] = {255, 255, 0};  // red, green, blue
};

// The monitor calibration: three 256-entry tables applied to every displayed pixel after the
// transform. Null tables mean no calibration.
struct MonitorCurveTables {
    const std::uint8_t* red = nullptr;
    const std::uint8_t* green = nullptr;
    const std::uint8_t* blue = nullptr;
};

// A transform from an image's 8-bit display copy (gray for types 1, 2, 4, blue-green-red for 3
// and 5) to 8-bit blue-green-red. Each has its own Little CMS context, so that the alarm codes
// of one display do not leak into another, and its profiles and transform stay within that
// context's budget. Declared in this order so the transform goes first.
struct DisplayTransform {
    BoundedContext context;
    TransformHandle transform;
    std::uint32_t input_type = 0;  // image_gray8 or image_color24; 0 when empty

    bool empty() const { return !transform; }
};

// The type of an image's display copy; 0 for types that have none.
std::uint32_t display_copy_type(std::uint32_t image_type);

// Builds the display transform of an image: from its profile (else the fallback of its kind) to
// the monitor profile (else Little CMS's sRGB), with the proofing profile, its intent, the
// soft-proofing flag and the gamut check when asked. Shows display_transform_failure and
// returns true when it cannot be built; result is then empty.
[[nodiscard]] bool build_display_transform(const Image& image, const DisplaySettings& settings,
                                           DisplayTransform& result);

// Converts the rectangle x0..x1, y0..y1 (inclusive, stored row numbers) of an image of types 1
// to 5 into a 24-bit colour buffer of the rectangle's size: through the 8-bit display copy, then
// the transform when one is given and not empty, then the monitor curves when given. Shows
// display_conversion_failure (or the display copy's own message) and returns true on failure.
[[nodiscard]] bool display_convert(const Image& image, std::uint32_t x0, std::uint32_t y0,
                                   std::uint32_t x1, std::uint32_t y1,
                                   const DisplayTransform* transform,
                                   const MonitorCurveTables* curves, Image& buffer);

// The whole display of a rectangle as settings say: a transform only with colour management on
// and a monitor profile set (a transform that cannot be built shows its message and the picture
// is shown unconverted), then the curves.
[[nodiscard]] bool display_image(const Image& image, std::uint32_t x0, std::uint32_t y0,
                                 std::uint32_t x1, std::uint32_t y1,
                                 const DisplaySettings& settings, const MonitorCurveTables* curves,
                                 Image& buffer);

}  // namespace tessaly
