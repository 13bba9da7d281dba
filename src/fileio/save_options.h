// Save formats, their stored options (preferences lines) and the extension check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/arguments.h"

namespace tessaly {

// Save format codes: the file type codes of the formats Tessaly writes.
enum : std::int32_t { save_tiff = 0, save_jpeg = 1, save_bmp = 2, save_png = 3, save_gif = 4 };

struct TiffSaveOptions {
    std::int32_t ask = 0;  // 0: show the options before every save
    std::int32_t metadata = 0;
    std::int32_t script = 1;
    std::int32_t compression = 0;  // 0 none, 1 LZW, 2 ZIP
};
struct JpegSaveOptions {
    std::int32_t ask = 0;
    double quality = 95.0;         // percent
    std::int32_t subsampling = 0;  // 0 4:2:0, 1 4:2:2, 2 4:4:4, 3 4:4:0
    std::int32_t metadata = 0;
    std::int32_t script = 1;
    std::int32_t show_summary = 0;
};
struct PngSaveOptions {
    std::int32_t ask = 0;
    std::int32_t metadata = 0;
    std::int32_t script = 0;
};
struct BmpSaveOptions {
    std::int32_t ask = 0;
    std::int32_t version = 0;  // 0 V5 with the profile, 1 V1 without
    std::int32_t script = 0;
};
struct GifSaveOptions {
    std::int32_t ask = 0;
    std::int32_t script = 0;
};

struct SaveOptions {
    TiffSaveOptions tiff;
    JpegSaveOptions jpeg;
    PngSaveOptions png;
    BmpSaveOptions bmp;
    GifSaveOptions gif;
};

// The stored options of the session (read and written with the preferences).
SaveOptions& save_options();

// The five preferences lines, in the order the preferences file writes them.
std::vector<std::string> save_options_lines(const SaveOptions& options);
// Reads one preferences line if it is a save-options line (values missing at its end keep
// theirs); false when the line is something else.
bool read_save_options_line(const ArgumentList& line, SaveOptions& options);

// The save format a file name's extension asks for (any case); -1 for other extensions.
std::int32_t save_format_of(const std::string& path);

// Checks and completes a file name for a format; true on failure (the message shown). A name
// without extension gets the format's default one; a wrong extension is warned about and the
// default one appended ("a.png" saved as JPEG becomes "a.png.jpg").
bool check_save_extension(std::string& path, std::int32_t format);

// The metadata mode a format uses when saving (BMP and GIF never carry metadata).
std::int32_t save_metadata_mode(const SaveOptions& options, std::int32_t format);

}  // namespace tessaly
