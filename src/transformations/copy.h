// Copy: a new top level image that copies any other image of the workspace, chosen in the node's
// "Input" slot (the module is copy.cpp).
#pragma once

#include "core/image.h"

namespace tessaly {

inline constexpr const char* copy_input_caption = "Input";

// What an empty slot yields: 8-bit gray, 320 x 240 at 100 dpi, 20-pixel squares of 128 and 255
// with 128 at (0, 0). true on failure.
[[nodiscard]] bool copy_placeholder(Image& image);

}  // namespace tessaly
