// Rotate/Mirror: the eight orientations of the square's symmetry group, each a lossless
// rearrangement of pixels. The rearrangements themselves are core Image operations
// (core/image_orient.h).
#pragma once

#include <cstdint>
#include <string>

#include "core/arguments.h"
#include "core/image.h"
#include "core/image_orient.h"
#include "framework/node.h"

namespace tessaly {

struct RotrefSettings {
    std::int32_t orientation = orientation_unchanged;
    std::int32_t display = 1;
};

// The dialog's four buttons and what each makes of the current code.
enum : int {
    rotref_button_rotate_cw = 0,           // "Rotate 90 CW.bmp", "Rotate Clockwise"
    rotref_button_rotate_ccw = 1,          // "Rotate 90 CCW.bmp", "Rotate Counterclockwise"
    rotref_button_reflect_horizontal = 2,  // "Reflect Horizontal.bmp", "Reflect left to right"
    rotref_button_reflect_vertical = 3,    // "Reflect Vertical.bmp", "Reflect top to bottom"
};
std::int32_t rotref_apply_button(int button, std::int32_t code);

// "rotref 0 orientation %d display %d".
std::string rotref_command_line(const RotrefSettings& settings);
// Defaults, then the keys present; true when the line does not parse (wrong keyword, or an
// orientation outside 0..7), settings then at their defaults.
bool rotref_parse(const ArgumentList& args, RotrefSettings& settings);

std::uint8_t rotref_run_entry(Node* input, Node* node, const ArgumentList& args);

}  // namespace tessaly
