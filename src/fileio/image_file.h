// Reading image files: which decoder reads which file, and the readers themselves. Every reader
// fills a picture (and, for formats with alpha, an 8-bit transparency image of the same size),
// leaves both empty on failure, and returns true then. Readers report what went wrong in their
// own terms ("Unsupported image format", "Error reading PNG file", a too large image) through
// show_error; the caller adds "Error reading file: %s" or "Cannot open file: %s".
#pragma once

#include <cstdint>
#include <string>

#include "core/image.h"

namespace tessaly {

// File type codes.
enum : std::int32_t {
    file_unknown = -1,
    file_tiff = 0,
    file_jpeg = 1,
    file_bmp = 2,
    file_png = 3,
    file_gif = 4,
    file_heif = 5,
    file_raw = 6,
    file_webp = 7,
};

// The extension decides for HEIF, WEBP and camera raw files, then the first two bytes. -1 for an
// unknown type (with "Unrecognized image file type: %s"), a file that cannot be opened or one
// shorter than two bytes.
std::int32_t detect_file_type(const std::string& path);
// true when the path's extension is one of the camera raw extensions.
bool has_raw_extension(const std::string& path);

// Reads any supported file; a dpi of 0 or less becomes 72. The reading flag is set meanwhile.
bool read_image_file(const std::string& path, Image& picture, Image& transparency);
bool reading_in_progress();

// The decoders (transparency may be null when the caller does not want alpha).
bool read_tiff_file(const std::string& path, Image& picture, Image* transparency);
bool read_jpeg_file(const std::string& path, Image& picture);
bool read_bmp_file(const std::string& path, Image& picture);
bool read_png_file(const std::string& path, Image& picture, Image* transparency);
bool read_gif_file(const std::string& path, Image& picture);
bool read_heif_file(const std::string& path, Image& picture);
bool read_webp_file(const std::string& path, Image& picture, Image* transparency);
bool read_raw_file(const std::string& path, Image& picture);

// Declared sizes are checked before anything is allocated: a picture whose pixels would exceed
// the image memory limit, or whose sides exceed 1,000,000 pixels, is refused with
// "Image is too large: %d x %d" and true.
bool image_too_large(std::uint64_t width, std::uint64_t height, std::uint32_t type);

// Turns a picture upright by its orientation tag value (1 nothing .. 8, as TIFF and EXIF define
// them); true on failure. The orientation tags of the picture are then stored as 1.
bool apply_orientation(Image& picture, int orientation);

}  // namespace tessaly
