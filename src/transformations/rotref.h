// Rotate/Mirror: the eight orientations of the square's symmetry group, each a lossless
// rearrangement of pixels. The rearrangements are Image operations of their own, so that other
// parts of the program can use them directly.
#pragma once

#include <cstdint>
#include <string>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"

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

struct RotrefSettings {
    std::int32_t orientation = orientation_unchanged;
    std::int32_t display = 1;
};

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
