// Convert: changes an image's type between binary, 8-bit and 16-bit gray, and 24-bit and 48-bit
// colour, in any direction. Unlike the image core's own conversions it spreads 8-bit levels over
// the gap between them when it widens them to 16 bits, and with colour management on the
// conversions between gray and colour or to fewer bits go through the profiles.
#pragma once

#include <cstdint>
#include <string>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"

namespace tessaly {

struct ConvertSettings {
    std::int32_t otype = image_gray8;  // target image type 1..5
    std::int32_t display = 1;
    std::int32_t sync_scroll = 1;
    std::int32_t auto_preview = 1;
};

// The target a new Convert node offers for an input type: colour for 8-bit gray and 48-bit
// colour, 8-bit gray for the others.
std::int32_t convert_default_type(std::uint32_t input_type);

// "convert 0 otype %d display %d sync_scroll %d auto_preview %d".
std::string convert_command_line(const ConvertSettings& settings);
// Defaults (otype from the input's type when an input is given), then the keys present. true
// when the line does not parse (wrong keyword, otype outside 1..5); settings then at their
// defaults.
bool convert_parse(const ArgumentList& args, const Image* input, ConvertSettings& settings);

// An 8-bit level as 16 bits with a small random offset (up to 127 either way, reflected at the
// ends of the range), so that widened pictures have no empty gaps between levels.
std::uint16_t convert_widen(std::uint8_t value);

std::uint8_t convert_run_entry(Node* input, Node* node, const ArgumentList& args);

}  // namespace tessaly
