// Paste: a new top level image from the clipboard, a picture or the first of the files copied
// in a file manager, through colour management on open like any file.
#include <algorithm>

#include "color/color_open.h"
#include "core/clipboard.h"
#include "core/format.h"
#include "core/interaction.h"
#include "fileio/image_file.h"
#include "framework/module.h"
#include "tree/edit.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly {

namespace {

constexpr const char* paste_caption = "Paste";
constexpr const char* paste_error = "Error pasting bitmap from clipboard";

struct Settings {};

std::uint8_t run(TransformationContext<Settings>& ctx) {
    Node* node = ctx.node;
    ClipboardContent content;
    const ClipboardReader reader = clipboard_reader();
    if (!reader || reader(content)) {
        show_error(paste_error);
        return fail_node(node, paste_error);
    }
    if (content.image.has_pixels()) {
        node->image = std::move(content.image);
        image_free(node->transparency);
    } else if (!content.files.empty()) {
        if (content.files.size() > 1) {
            show_warning(
                "Only one file can be pasted at a time -- all others will be ignored.\nTo copy "
                "multiple files, use drag and drop instead of copy and paste.");
        }
        const std::string& path = content.files.front();
        if (read_image_file(path, node->image, node->transparency)) {
            image_free(node->transparency);
            show_error("Cannot open file: %s", path);
            return fail_node(node, formatted("Cannot open file: %s", path));
        }
        node->name = path;
    } else {
        show_error(paste_error);
        return fail_node(node, paste_error);
    }
    switch (color_manage_on_open(node, false)) {
        case color_open_cancelled:
            show_warning("Profile conversion canceled - original file profile is unchanged");
            break;
        case color_open_failed:
            show_error("Error converting to working color space");
            return fail_node(node, "Error converting to working color space");
        default:
            break;
    }
    node->error = false;
    return 0;
}

// The menu case: a new top level image, run at once and made current.
std::uint8_t menu_command(Node*, const ArgumentList* args) {
    if (args) return 0;
    Node* node = create_top_level_image(false, false, 0, 0, bypass_none, paste_caption, true);
    if (!node) return 0;
    node->command_line = "paste";
    (void)run_node(nullptr, node);
    set_current_node(node, -1);
    autosave();
    return 0;
}

const Registered<Settings> paste{{
    .keyword = "paste",
    .version = nullptr,
    .types = types_any,
    .reads_binary = true,
    .kind = ModuleKind::generator,
    .run = run,
    .dialog_entry = menu_command,
}};

}  // namespace

}  // namespace tessaly
