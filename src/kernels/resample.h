// The program's general image scaler: nearest neighbour, bilinear, bicubic with an adjustable
// parameter and Lanczos with 4, 6 or 8 taps, separable, in two passes over the rows. Resize,
// Export and Brightness Curve's antialiasing call it.
#pragma once

#include <cstdint>

#include "core/image.h"

namespace tessaly {

// Resampling methods (the "Resampling:" list).
enum : std::int32_t {
    resample_nearest = 0,
    resample_bilinear = 1,
    resample_bicubic = 2,
    resample_lanczos4 = 3,  // "Lanczos 4x4"
    resample_lanczos6 = 4,  // "Lanczos 6x6"
    resample_lanczos8 = 5,  // "Lanczos 8x8"
};

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
