// Rotate/Mirror: the eight orientations of the square's symmetry group, each a lossless
// rearrangement of pixels. The rearrangements themselves are core Image operations
// (core/image_orient.h); the module is rotref.cpp.
#pragma once

#include <cstdint>

namespace tessaly {

// The dialog's four buttons and what each makes of the current code.
enum : int {
    rotref_button_rotate_cw = 0,           // "Rotate 90 CW.bmp", "Rotate Clockwise"
    rotref_button_rotate_ccw = 1,          // "Rotate 90 CCW.bmp", "Rotate Counterclockwise"
    rotref_button_reflect_horizontal = 2,  // "Reflect Horizontal.bmp", "Reflect left to right"
    rotref_button_reflect_vertical = 3,    // "Reflect Vertical.bmp", "Reflect top to bottom"
};
std::int32_t rotref_apply_button(int button, std::int32_t code);

}  // namespace tessaly
