// Script, workspace and snippet files: image trees saved as text and rebuilt by running every
// node again from its command line.
//
// A script holds one image and everything it depends on; a workspace every open tree with the
// current image; a snippet a chain of transformations without its source image, inserted after
// another image later. All three share one line format (UTF-8 with a byte-order mark, CR LF,
// ″-quoted texts and ‴-quoted command lines).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/node.h"

namespace tessaly {

// How top level File Open nodes are written.
enum class ImageNames {
    with_names,     // their command lines as they are
    without_names,  // an empty file list, to be filled by a batch or by hand
    with_copies,    // each image saved into "<file>.images" beside the file and named from there
};

// The image a workspace or script was saved for (a companion file beside a saved image).
struct AssociatedImage {
    std::string image_path;
    std::string original_path;
    std::int32_t number = -1;
};

// Saves the image node and everything it depends on. No path: the person chooses one.
// true on failure (the message shown).
bool save_script(Node* image, std::optional<std::string> path, ImageNames names);
// Saves every open tree. keep_as_previous also copies it to "Previous.workspace";
// open_afterwards makes it the workspace shown in the title.
bool save_workspace(std::optional<std::string> path, ImageNames names, bool keep_as_previous,
                    bool open_afterwards, const AssociatedImage& associated = {});
// Saves the selected chain starting at first (the selection flags of the Image Browser).
bool save_snippet(Node* first, std::optional<std::string> path);

// Loading rebuilds the nodes in file order and runs each as soon as its lines are complete.
// load_script accepts workspaces as well. true on failure (what was built so far stays).
bool load_script(std::optional<std::string> path);
bool load_workspace(std::optional<std::string> path);
bool load_autosaved_workspace();
// Inserts the snippet's chain after the current node and runs it.
bool insert_snippet(std::optional<std::string> path);

// The script or workspace last loaded or saved under a name ("" none), and the frame title
// that follows it: the version string, or "<version>  --  <file name>".
const std::string& current_script_file();
std::string frame_title();
// Files loaded or saved, most recent first (the recently used list of the File menu).
const std::vector<std::string>& recent_script_files();
void clear_script_state();

// The writers behind the save functions, for the companion files of saved images and the
// autosave: true on failure.
bool write_workspace_file(const std::string& path, ImageNames names,
                          const AssociatedImage& associated);
bool write_script_file(Node* image, const std::string& path, ImageNames names,
                       const AssociatedImage& associated);

// Writes the script or workspace beside a saved image (script modes 1 to 4 of the save
// options); installed into the save pipeline by install_workspace_hooks.
bool write_companion_file(Node* node, const std::string& image_path, std::int32_t mode);

// What the loader asks before loading over open images; the preferences set these.
struct ScriptLoadPolicy {
    bool ask_on_script_load = false;
    bool ask_on_workspace_load = true;
    bool ask_save_on_close_all = true;
    bool ignore_cm_changes = false;
};
ScriptLoadPolicy& script_load_policy();

}  // namespace tessaly
