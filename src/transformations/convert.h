// Convert: changes an image's type between binary, 8-bit and 16-bit gray, and 24-bit and 48-bit
// colour, in any direction. Unlike the image core's own conversions it spreads 8-bit levels over
// the gap between them when it widens them to 16 bits, and with colour management on the
// conversions between gray and colour or to fewer bits go through the profiles.
#pragma once

#include <cstdint>

#include "core/image.h"

namespace tessaly {

// The target a new Convert node offers for an input type: colour for 8-bit gray and 48-bit
// colour, 8-bit gray for the others.
std::int32_t convert_default_type(std::uint32_t input_type);

// An 8-bit level as 16 bits with a small random offset (up to 127 either way, reflected at the
// ends of the range), so that widened pictures have no empty gaps between levels. The offset
// comes from the generator state given, which it advances.
std::uint16_t convert_widen(std::uint8_t value, std::int32_t& state);

}  // namespace tessaly
