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
// The same, counting beside the picture the buffers a decoder holds at the same time (a library's
// own decoded copy, a canvas, index lines): the picture alone may fit where the read would not.
bool image_too_large(std::uint64_t width, std::uint64_t height, std::uint32_t type,
                     std::uint64_t decoder_bytes);
// Refuses a size with the same message, for a reader that finds the file cannot really hold the
// picture it declares; true.
bool refuse_declared_size(std::uint64_t width, std::uint64_t height);
// How many pixels a GIF screen or a WEBP canvas may hold beyond its first frame: they are only
// background, which the file claims without holding any data for it. A small frame on a wide
// background stays readable; a few bytes claiming gigapixels do not.
constexpr std::uint64_t background_pixels_max = std::uint64_t{1} << 24;

// The largest ICC profile a reader attaches; real profiles stay far below it.
constexpr std::uint64_t profile_bytes_max = std::uint64_t{64} << 20;
// Attaches a profile read from a file; one larger than profile_bytes_max is left out, as a
// damaged EXIF block costs its tags and not the picture. true only when memory runs out (the
// picture is then freed).
bool attach_file_profile(Image& picture, const std::uint8_t* bytes, std::uint64_t size);

// Turns a picture upright by its orientation tag value (1 nothing .. 8, as TIFF and EXIF define
// them); true on failure. The orientation tags of the picture are then stored as 1.
bool apply_orientation(Image& picture, int orientation);

}  // namespace tessaly
