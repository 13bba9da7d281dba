// Resize: new pixel dimensions, a new resolution, or both; and the program's general image
// scaler, which other transformations call directly.
#pragma once

#include <cstdint>
#include <string>

#include "core/image.h"
#include "framework/module.h"

namespace tessaly {

// How the new size is given (the "Set" list).
enum : std::int32_t {
    resize_pixel_width = 0,
    resize_pixel_height = 1,
    resize_pixel_width_height = 2,
    resize_physical_width = 3,
    resize_physical_height = 4,
    resize_physical_width_height = 5,
    resize_resolution = 6,
    resize_memory = 7,
    resize_pixel_short_side = 8,
    resize_pixel_long_side = 9,
    resize_physical_short_side = 10,
    resize_physical_long_side = 11,
    resize_pixel_bounding_rectangle = 12,
    resize_physical_bounding_rectangle = 13,
    resize_pixel_percent = 14,
    resize_physical_percent = 15,
    resize_megapixels = 16,
};

// Resampling methods (the "Resampling:" list).
enum : std::int32_t {
    resample_nearest = 0,
    resample_bilinear = 1,
    resample_bicubic = 2,
    resample_lanczos4 = 3,  // "Lanczos 4x4"
    resample_lanczos6 = 4,  // "Lanczos 6x6"
    resample_lanczos8 = 5,  // "Lanczos 8x8"
};

// The settings; their defaults are declared with the module (resize_module.defaults()).
struct ResizeSettings {
    // Display units of the dialog; they never enter the computation. Their default is the
    // person's default units preference, which is not stored anywhere yet: 0 until it is.
    std::int32_t iunits;
    std::int32_t wunits;
    std::int32_t runits;  // 0 dpi, 1 dpcm, 2 dpmm
    std::int32_t set;
    std::int32_t resample;  // 0 resample, 1 only the resolution changes
    std::int32_t method;
    double sharpen;  // the bicubic parameter a
    // The rest default to the source image's values (resize_input_defaults).
    std::int32_t pixel_w;
    std::int32_t pixel_h;
    double physical_w;  // inches
    double physical_h;
    double resolution;  // pixels per inch
    double memory;      // megabytes of 10^6 bytes
    double percent;
    double pixel_area;  // pixels; the command line holds megapixels
    DialogKeys dialog;
};

extern const Registered<ResizeSettings> resize_module;

// The size and resolution the settings ask for, given the source.
struct ResizeTarget {
    std::int32_t width = 0;
    std::int32_t height = 0;
    double resolution = 0.0;
};

// What the target computation needs of the source.
struct ResizeSource {
    double width = 0.0;
    double height = 0.0;
    double dpi = 0.0;
    double megabytes = 0.0;  // row size in bytes x height / 10^6
};
ResizeSource resize_source(const Image& source);

// Sets the fields that default to the source's values.
void resize_input_defaults(ResizeSettings& settings, const Image& source);
ResizeTarget resize_target(const ResizeSettings& settings, const ResizeSource& source);

// The general scaler: fills destination (same type as source, types 1 to 5) with the source
// scaled to new_width x new_height and given the new resolution, keeping profile and tags.
// show_progress titles the runner "Resample". true on failure (allocation, cancel, a type it
// cannot scale); the destination is then empty. A destination that is the source itself fails
// and is left as it is.
[[nodiscard]] bool resample(const Image& source, Image& destination, std::int32_t new_width,
                            std::int32_t new_height, double new_resolution, std::int32_t method,
                            double sharpen, bool show_progress);

// The scaler's hand-written vector code can be switched off (on by default), so that tests
// hold it and the plain loops to the same results.
void resample_allow_vector_code(bool allow);

// K(x) of a kernel method (1 to 5), x in source pixels.
double resample_kernel(std::int32_t method, double sharpen, double x);

}  // namespace tessaly
