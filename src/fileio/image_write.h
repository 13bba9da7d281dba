// Writing image files. Every writer builds the whole file and hands it to write_file_atomic,
// so a failed write never leaves a partial file.
#pragma once

#include <cstdint>
#include <string>

#include "core/image.h"

namespace tessaly {

// The BMP writer of our own: a V5 header with the embedded profile when version is 0 and the
// image has one, else the 40-byte header. Types 1 to 3 are written as they are; 16-bit images
// are reduced to 8 bits first. true on failure.
bool write_bmp_file(const std::string& path, const Image& image, std::int32_t version);

}  // namespace tessaly
