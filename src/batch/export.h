// Export: takes an image out of the tree. In a batch each Export node writes one file per
// processed input file, named and placed by its settings; it can also hand the picture to the
// clipboard or pass a resized, converted copy on as its own output image. Except for the
// destination Output Image its output is an unchanged copy of its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/arguments.h"
#include "core/image.h"
#include "fileio/save.h"
#include "framework/node.h"
#include "framework/transformation.h"

namespace tessaly {

enum : std::int32_t { export_to_file = 0, export_to_clipboard = 1, export_to_output = 2 };
// "Save As:" codes; 0 follows the original file's type.
enum : std::int32_t {
    export_original_type = 0,
    export_tiff = 1,
    export_jpeg = 2,
    export_bmp = 3,
    export_png = 4,
    export_gif = 5
};
enum : std::int32_t {
    export_name_original = 0,
    export_name_ask = 1,
    export_name_sequence = 2,
    export_name_template = 3
};
enum : std::int32_t {
    export_wide = 0,
    export_tall = 1,
    export_short_side = 2,
    export_long_side = 3,
    export_fit_box = 4,
    export_fill_box = 5,
    export_megapixels = 6
};

struct ExportSettings {
    std::int32_t destination = export_to_file;
    std::int32_t file_type = export_jpeg;
    std::int32_t default_file_type = 1;  // a save format code: 0 TIFF .. 4 GIF
    std::int32_t file_name = export_name_original;
    std::int32_t if_exists = 2;  // exists_add_version
    std::int32_t resize = 1;
    std::int32_t resample = 1;
    std::int32_t dimension = export_long_side;
    std::int32_t length = 1000;
    std::int32_t width = 1000;
    std::int32_t height = 800;
    double area = 1000000.0;  // pixels; the command line holds megapixels
    std::int32_t units = 0;
    double dpi = 100.0;
    std::int32_t demote16 = 0;
    Colour pad_color;          // c1 red, c2 green, c3 blue
    std::int32_t profile = 2;  // 0 None, 1 Original, 2 sRGB or Gamma 2.2
    std::int32_t tiff_ask = 1, tiff_metadata = 0, tiff_save_script = 0, tiff_compression = 0;
    std::int32_t jpeg_ask = 1, jpeg_metadata = 0, jpeg_save_script = 0;
    double jpeg_quality = 95.0;
    std::int32_t jpeg_chroma_subsampling = 0, jpeg_summary = 0;
    std::int32_t bmp_ask = 1, bmp_v5 = 0, bmp_save_script = 0;
    std::int32_t png_ask = 1, png_metadata = 0, png_save_script = 0;
    std::int32_t gif_ask = 1, gif_save_script = 0;
    std::int32_t sharpen = 1;       // 0 None, 1 Light, 2 Heavy
    std::int32_t which_folder = 1;  // 0 Original, 1 Custom
    std::string folder;
    std::string first_file_name;
    std::int32_t execute = 0;  // 1: also export while a script is run
    std::int32_t display = 1, sync_scroll = 1, auto_preview = 1;
    // The physical length (inches) of the fixed side when resizing without resampling: an entry
    // of the dialog, not on the command line. 0 = length / dpi (box side / dpi for the boxes).
    double physical_length = 0.0;
};

std::string export_command_line(const ExportSettings& settings);
// Defaults, then the command line. true when the parse failed.
bool export_parse(const ArgumentList& args, ExportSettings& settings);

// The outcome of one write.
enum class ExportResult { written, skipped, failed };

// The writing steps (folder, resize, 16-bit reduction, sharpen, profile, destination) for the
// image of input going out through node. Messages are shown; a skip is silent. For Output Image
// the processed picture replaces node's image.
ExportResult export_write(const ExportSettings& settings, const Image& input, Node* node);

// The save format an export writes, or -1 for the destinations that are not files.
std::int32_t export_save_format(const ExportSettings& settings, const std::string& original);

// The clipboard belongs to the desktop program: its writer returns 0 on success, 1 when the
// bitmap could not be placed, 2 when the version-5 bitmap could not. Without one a clipboard
// export fails with "Error copying bitmap to clipboard".
using ClipboardWriter = int (*)(const Image& image);
void set_clipboard_writer(ClipboardWriter writer);

// Points every Export node of the loaded trees that writes files at folder (the custom folder),
// so that a saved workspace can deliver somewhere else. Returns how many nodes it changed.
std::size_t export_redirect_all(const std::string& folder);

std::uint8_t export_run_entry(Node* input, Node* node, const ArgumentList& args);

// Registers the keyword "export" with its run entry.
void install_export();

}  // namespace tessaly
