// The eight orientations of the square's symmetry group as lossless pixel rearrangements. They
// live in the core because both Rotate/Mirror and the file readers (turning pictures upright by
// their orientation tag) need them.
#pragma once

#include <cstdint>

#include "core/image.h"

namespace tessaly {

// Orientation codes, as the picture is seen.
enum : std::int32_t {
    orientation_unchanged = 0,
    orientation_rotate_cw = 1,  // 90 degrees clockwise
    orientation_rotate_180 = 2,
    orientation_rotate_ccw = 3,  // 90 degrees counterclockwise
    orientation_mirror_left_right = 4,
    orientation_transpose = 5,  // about the diagonal from top-left to bottom-right
    orientation_mirror_top_bottom = 6,
    orientation_transverse = 7,  // about the diagonal from top-right to bottom-left
};
constexpr int orientation_count = 8;

// Whether a code exchanges width and height.
constexpr bool orientation_swaps_sides(std::int32_t code) {
    return (code & 1) != 0;
}

// Each allocates target (the source's type, dpi, profile and tags; width and height exchanged
// for the quarter turns and diagonal mirrors) and fills it. Types 1 to 5 only; true on failure
// (unsupported type, no memory or cancelled), target then empty.
[[nodiscard]] bool image_rotate_cw(const Image& source, Image& target);
[[nodiscard]] bool image_rotate_180(const Image& source, Image& target);
[[nodiscard]] bool image_rotate_ccw(const Image& source, Image& target);
[[nodiscard]] bool image_mirror_left_right(const Image& source, Image& target);
[[nodiscard]] bool image_transpose(const Image& source, Image& target);
[[nodiscard]] bool image_mirror_top_bottom(const Image& source, Image& target);
[[nodiscard]] bool image_transverse(const Image& source, Image& target);
// Any code 0..7; code 0 is image_copy.
[[nodiscard]] bool image_orient(const Image& source, Image& target, std::int32_t code);

}  // namespace tessaly
