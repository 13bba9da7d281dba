// How Export names the files it writes: the extension of each format, Sequence names, the
// template macros (names between U+27EA and U+27EB) and what happens when the name is taken.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/image.h"

namespace tessaly {

// "If File Exists:" choices.
enum : std::int32_t {
    exists_overwrite = 0,
    exists_ask = 1,
    exists_add_version = 2,
    exists_skip = 3
};

// ".tif", ".jpg", ".bmp", ".png" or ".gif" for a save format code ("" for anything else).
const char* export_extension(std::int32_t format);
// "TIFF", "JPEG", "BMP", "PNG", "GIF".
const char* export_format_name(std::int32_t format);

// name with the format's extension: an image file extension already there is replaced, any
// other text after a dot is kept ("Trip.2024" stays a base name).
std::string with_export_extension(const std::string& name, std::int32_t format);

// "%s %d" of the base name and the export counter + 1.
std::string sequence_name(const std::string& base, std::int32_t export_count);

// The next name tried by Add Version Number: "a.jpg" -> "a v1.jpg", "a v1.jpg" -> "a v2.jpg",
// "x v9.jpg" -> "x v10.jpg" (one to three digits after " v"); the folder is kept.
std::string next_version_name(const std::string& path);

// What the template macros read: the original file (its time stamps and EXIF) and the size of
// the exported image.
struct MacroSource {
    std::string original;                 // "" when the image has no original file
    const MetadataTag* tags = nullptr;    // EXIF tags of the original
    std::uint32_t width = 0, height = 0;  // pixels
    double dpi = 0.0;
};

// The macro names in menu order (the dialog's "Macro..." menu lists them).
const std::vector<std::string_view>& template_macro_names();

// The value of one macro; no value for a name that is not a macro. Values that are absent
// (no original, no such tag, no resolution for a physical size) are "N/A".
std::optional<std::string> macro_value(std::string_view name, const MacroSource& source);

// The template with every macro replaced; shows "Unrecognized macro: %s" and gives no value
// for an unknown name. An opening bracket without its closing one is copied as text.
std::optional<std::string> expand_template(std::string_view text, const MacroSource& source);

// The EXIF tags of a JPEG or TIFF file read with our tag parser into holder's tag list; false
// when the file carries none that can be read.
bool read_exif_tags(const std::string& path, Image& holder);

// Creation time of a file as seconds since the epoch: the birth time where the file system
// records one (statx), else the modification time. No value when the file cannot be examined.
std::optional<std::int64_t> file_created_time(const std::string& path);
std::optional<std::int64_t> file_modified_time(const std::string& path);

// The save dialog "Export JPEG File" (etc.) starting in folder with a suggested name; no value
// when cancelled.
std::optional<std::string> ask_export_name(std::int32_t format, const std::string& folder,
                                           const std::string& suggested);

enum class NameDecision { write, skip };

// Applies the If File Exists rule to path (which may be changed): Overwrite writes over it (the
// old file goes only when the new one is complete), Ask asks "Overwrite existing file?" with
// Yes/No/Cancel (No picks another name through the save dialog and checks again), Add Version
// Number moves on to the first free version name, Skip skips. Add Version Number claims the
// name it settles on by creating it, empty, exclusively: two writers in one folder (workers of a
// distributed batch) never take the same name. *claimed tells the caller to remove that file if
// it then writes nothing.
NameDecision settle_existing(std::string& path, std::int32_t if_exists, std::int32_t format,
                             bool* claimed = nullptr);

}  // namespace tessaly
