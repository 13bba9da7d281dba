// Export: takes an image out of the tree. In a batch each Export node writes one file per
// processed input file, named and placed by its settings; it can also hand the picture to the
// clipboard or pass a resized, converted copy on as its own output image. Except for the
// destination Output Image its output is an unchanged copy of its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/arguments.h"
#include "core/image.h"
#include "fileio/save.h"
#include "framework/module.h"
#include "framework/node.h"

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

// The settings; their defaults are declared with the module (export_module).
struct ExportSettings {
    std::int32_t destination;
    std::int32_t file_type;
    std::int32_t default_file_type;  // a save format code: 0 TIFF .. 4 GIF
    std::int32_t file_name;
    std::int32_t if_exists;
    std::int32_t resize;
    std::int32_t resample;
    std::int32_t dimension;
    std::int32_t length;
    std::int32_t width;
    std::int32_t height;
    double area;  // pixels; the command line holds megapixels
    std::int32_t units;
    double dpi;
    std::int32_t demote16;
    Colour pad_color;      // c1 red, c2 green, c3 blue
    std::int32_t profile;  // 0 None, 1 Original, 2 sRGB or Gamma 2.2
    std::int32_t tiff_ask, tiff_metadata, tiff_save_script, tiff_compression;
    std::int32_t jpeg_ask, jpeg_metadata, jpeg_save_script;
    double jpeg_quality;
    std::int32_t jpeg_chroma_subsampling, jpeg_summary;
    std::int32_t bmp_ask, bmp_v5, bmp_save_script;
    std::int32_t png_ask, png_metadata, png_save_script;
    std::int32_t gif_ask, gif_save_script;
    std::int32_t sharpen;       // 0 None, 1 Light, 2 Heavy
    std::int32_t which_folder;  // 0 Original, 1 Custom
    std::string folder;
    std::string first_file_name;
    std::int32_t execute;  // 1: also export while a script is run
    DialogKeys dialog;
    // The physical length (inches) of the fixed side when resizing without resampling: an entry
    // of the dialog, not on the command line. 0 = length / dpi (box side / dpi for the boxes).
    double physical_length = 0.0;
};

extern const Registered<ExportSettings> export_module;

// The outcome of one write.
enum class ExportResult { written, skipped, failed };

// The writing steps (folder, resize, 16-bit reduction, sharpen, profile, destination) for the
// image of input going out through node. Messages are shown; a skip is silent. For Output Image
// the processed picture replaces node's image.
// written gets the path of the file written, if any.
ExportResult export_write(const ExportSettings& settings, const Image& input, Node* node,
                          std::string* written = nullptr);

// Where a file export would write for a batch file at a position of the list (Sequence names
// number by it), without making the picture; no value when the name is only known from the
// picture (templates), is asked for, or the export writes no file.
std::optional<std::string> export_predicted_path(const ExportSettings& settings,
                                                 const std::string& original, std::int32_t number);

// The save format an export writes, or -1 for the destinations that are not files.
std::int32_t export_save_format(const ExportSettings& settings, const std::string& original);

// Points every Export node of the loaded trees that writes files at folder (the custom folder),
// so that a saved workspace can deliver somewhere else. Returns how many nodes it changed.
std::size_t export_redirect_all(const std::string& folder);

}  // namespace tessaly
