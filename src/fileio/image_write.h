// Writing image files. Every writer builds the whole file and hands it to write_file_atomic, or
// (libtiff, and the JPEG writer, which streams libjpeg's output) writes <target>.tmp itself and
// renames it over the target only when complete, so a failed write never leaves a partial file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/image.h"

namespace tessaly {

struct EmbeddedMetadata;

// The BMP writer of our own: a V5 header with the embedded profile when version is 0 and the
// image has one, else the 40-byte header. Types 1 to 3 are written as they are; 16-bit images
// are reduced to 8 bits first. true on failure.
bool write_bmp_file(const std::string& path, const Image& image, std::int32_t version);

}  // namespace tessaly

namespace tessaly {

// The PNG writer (libpng). With a non-empty transparency image (8-bit gray, the picture's size)
// the alpha is written too, except for binary pictures. Metadata mode 3 leaves the profile out.
// Text chunks carry the tags of the PNG keyword table. true on failure ("Error writing PNG
// file" for libpng's own errors).
bool write_png_file(const std::string& path, const Image& image, const Image* transparency,
                    std::int32_t metadata_mode, const EmbeddedMetadata* embed = nullptr);

}  // namespace tessaly

namespace tessaly {

// The TIFF writer (libtiff): compression 0 none, 1 LZW, 2 ZIP (no predictor), in strips of about
// 1 MB; types 1 to 5 as they are; the resolution in pixels per inch ("Illegal image dpi -- will
// be set to 72.0" when it is 0 or less); the profile as tag 34675 unless the metadata mode is 3;
// the image's ASCII tags of the first directory (description, make, model, software, date,
// artist, copyright). true on failure ("Error writing TIFF file").
// With embed's rewrite step, the file is built in memory and handed to it before it is written.
bool write_tiff_file(const std::string& path, const Image& image, std::int32_t compression,
                     std::int32_t metadata_mode, const EmbeddedMetadata* embed = nullptr);

}  // namespace tessaly

namespace tessaly {

// Results of writers that may ask a question first.
enum : int { write_done = 0, write_cancelled = 1, write_failed = 2 };

// The JPEG writer (libjpeg-turbo): quality in percent, subsampling 0 4:2:0, 1 4:2:2, 2 4:4:4,
// 3 4:4:0; 16-bit pictures are reduced to 8 bits; a binary picture is written as 8-bit gray
// after asking; the profile in APP2 segments unless the metadata mode is 3. embed's blocks go in
// their segments after the header.
int write_jpeg_file(const std::string& path, const Image& image, double quality,
                    std::int32_t subsampling, std::int32_t metadata_mode,
                    const EmbeddedMetadata* embed = nullptr);

// The thumbnail JPEG of the metadata step: the picture reduced so that its longer side is 160
// pixels, quality 90, 4:2:0, no profile. true on failure.
bool write_thumbnail_jpeg(const Image& image, const std::string& path);
// The same thumbnail made in memory.
bool thumbnail_jpeg(const Image& image, std::string& bytes);

}  // namespace tessaly

namespace tessaly {

// The GIF writer (giflib): binary as 1-bit with the palette black, white; 8-bit gray with a
// 256-entry gray palette; 24-bit color through our quantizer (exact when the picture has at
// most 256 colours). With reduce_deep set, 16-bit pictures are reduced to 8 bits first;
// otherwise they are refused with their messages. true on failure.
bool write_gif_file(const std::string& path, const Image& image, bool reduce_deep);

// Chooses at most 256 colours for a 24-bit picture (median cut over a 15-bit histogram) and maps
// every pixel to its nearest one. palette holds red, green, blue triples; indexes one byte per
// pixel, rows top first. Exact when the picture has 256 colours or fewer.
void quantize_colors(const Image& image, std::vector<std::uint8_t>& palette,
                     std::vector<std::uint8_t>& indexes);

}  // namespace tessaly
