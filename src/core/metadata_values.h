// Reading values out of a picture's metadata tags (the EXIF and TIFF fields a reader kept):
// text and numbers as the people who name files and describe pictures want them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/image.h"

namespace tessaly {

// The first tag of that number in the list, or null.
const MetadataTag* find_tag(const MetadataTag* tags, std::uint32_t number);
// An ASCII tag's text up to its first zero, trailing blanks and line ends removed; no value
// for an absent, non-text or empty tag.
std::optional<std::string> tag_text(const MetadataTag* tags, std::uint32_t number);
// Value `index` of a numeric tag (BYTE, SHORT, LONG, SLONG, RATIONAL, SRATIONAL, UNDEFINED as
// bytes); no value for an absent tag, another type, an index past its count or a zero divisor.
std::optional<double> tag_number(const MetadataTag* tags, std::uint32_t number,
                                 std::uint32_t index = 0);

}  // namespace tessaly
