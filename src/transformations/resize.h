// Resize: new pixel dimensions, a new resolution, or both, through the general image scaler
// (kernels/resample.h).
#pragma once

#include <cstdint>
#include <string>

#include "core/image.h"
#include "framework/module.h"
#include "kernels/resample.h"

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

}  // namespace tessaly
