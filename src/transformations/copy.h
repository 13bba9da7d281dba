// Copy: a new top level image that copies any other image of the workspace, chosen in the node's
// "Input" slot.
#pragma once

#include <cstdint>
#include <string>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"

namespace tessaly {

struct CopySettings {
    std::int32_t display = 1;
    std::int32_t sync_scroll = 1;
};

inline constexpr const char* copy_input_caption = "Input";

// "copy 0 display %d sync_scroll %d".
std::string copy_command_line(const CopySettings& settings);
// Defaults, then the keys present; true when the line is not a Copy command line.
bool copy_parse(const ArgumentList& args, CopySettings& settings);

// What an empty slot yields: 8-bit gray, 320 x 240 at 100 dpi, 20-pixel squares of 128 and 255
// with 128 at (0, 0). true on failure.
[[nodiscard]] bool copy_placeholder(Image& image);

// The result is a copy of the effective image of the node in the node's first input slot, or the
// placeholder when the slot is empty. input is not used: a Copy node is a top level image.
std::uint8_t copy_run_entry(Node* input, Node* node, const ArgumentList& args);

}  // namespace tessaly
