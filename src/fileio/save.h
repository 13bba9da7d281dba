// Saving an image of the tree: the format's writer with the original's metadata (in the same
// pass where the format allows, else written and then rewritten), the target replaced in one
// rename, and the node told where it was saved.
#pragma once

#include <cstdint>
#include <string>

#include "core/image.h"
#include "fileio/metadata_copy.h"
#include "fileio/save_options.h"
#include "framework/node.h"

namespace tessaly {

// Writes image (and, for PNG, its transparency image) with the stored options of the format:
// write_done, write_cancelled or write_failed. When the format's ask flag is 0 and an options
// dialog is installed, it edits a copy of the options first (true = cancelled); without one
// (the command-line program) the stored options are used as they are.
int write_image_file(const std::string& path, const Image& image, const Image* transparency,
                     std::int32_t format, const SaveOptions& options,
                     const EmbeddedMetadata* embed = nullptr);

// What a saved file carries besides the pixels: the original's metadata (modes 0 and 1 copy it)
// and a thumbnail made from a picture.
struct MetadataPlan {
    std::string original;  // "" for none
    std::int32_t mode = 3;
    const Image* thumbnail = nullptr;
};

// write_image_file with the plan's metadata. The JPEG and PNG writers take it in the same pass
// when the metadata library can read the original; otherwise the file is written beside the
// target under a name of its own, given its metadata there and renamed over the target. A
// failed metadata step leaves the picture saved without it (after its message).
int write_with_metadata(const std::string& path, const Image& image, const Image* transparency,
                        std::int32_t format, const SaveOptions& options, const MetadataPlan& plan);

using SaveOptionsDialog = bool (*)(std::int32_t format, SaveOptions& options);
void set_save_options_dialog(SaveOptionsDialog dialog);

// The original file an image was made from: the current file of the File Open node its branch
// starts with, following the single input of each node ("" when there is none or a node has
// several different inputs).
std::string original_file_of(const Node* node);

// Saves the node's image to path in a format (the save options of the session). true on
// failure; the target is replaced only when everything before succeeded.
bool save_image_file(const std::string& path, Node* node, std::int32_t format, bool no_script);

// Writes the script (mode 1, 2) or workspace (3, 4) beside a saved image; modes 2 and 4 store
// image copies. The script files live above this layer and install the writer at start-up;
// until then such a save fails with a message. true on failure.
using CompanionWriter = bool (*)(Node* node, const std::string& image_path, std::int32_t mode);
void set_companion_writer(CompanionWriter writer);
// Writes the companion through the installed writer; true on failure (with its message).
bool write_companion(Node* node, const std::string& image_path, std::int32_t mode);

}  // namespace tessaly
