#include "workspace/script_files.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <unordered_set>

#include "color/color_settings.h"
#include "color/profiles.h"
#include "core/arguments.h"
#include "core/format.h"
#include "core/interaction.h"
#include "core/text_file.h"
#include "fileio/file_open.h"
#include "fileio/image_file.h"
#include "fileio/save.h"
#include "framework/registry.h"
#include "framework/settings_files.h"
#include "framework/transformation.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly {

namespace fs = std::filesystem;

namespace {

std::string& script_file_name() {
    static std::string name;
    return name;
}

std::vector<std::string>& recent_files() {
    static std::vector<std::string> files;
    return files;
}

void remember_file(const std::string& path) {
    script_file_name() = path;
    auto& list = recent_files();
    list.erase(std::remove(list.begin(), list.end(), path), list.end());
    list.insert(list.begin(), path);
    if (list.size() > 10) list.resize(10);
}

bool has_extension(const std::string& path, std::string_view extension) {
    std::string ext = fs::path(path).extension().string();
    if (ext.size() != extension.size()) return false;
    for (std::size_t i = 0; i < ext.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(ext[i])) != extension[i]) return false;
    }
    return true;
}

bool is_file_open(const Node* node) {
    return node->command_line && node->command_line->rfind("file_open", 0) == 0;
}

int index_of(const Node* node) {
    return node ? node->serial : -1;
}

std::string comment_of(const Node* node) {
    return node->comment.value_or(std::string());
}

// --- writing ---

// The colour management line; scripts add the multiple-files policy.
std::string color_management_line(bool with_multiple) {
    const ColorManagementSettings& c = color_settings();
    std::string line = formatted("color_management enabled %d on_mismatch %d on_batch_mismatch %d",
                                 c.enabled, c.on_mismatch, c.on_batch_mismatch);
    if (with_multiple) line += formatted(" on_multiple_mismatch %d", c.on_multiple_mismatch);
    line += formatted(
        " acs_profile %s gray_acs_profile %s ar_profile %s gray_ar_profile %s wcs_profile %s "
        "gray_wcs_profile %s monitor_curves_file %s monitor_curves_enabled %d",
        quoted_text(c.acs_profile), quoted_text(c.gray_acs_profile), quoted_text(c.ar_profile),
        quoted_text(c.gray_ar_profile), quoted_text(c.wcs_profile), quoted_text(c.gray_wcs_profile),
        quoted_text(c.monitor_curves_file), c.monitor_curves_enabled);
    return line;
}

// Image copies go into one folder beside the file; the names taken so far are remembered.
struct CopyFolder {
    std::string folder;  // full path
    std::string name;    // the folder's own name, for the relative names written
    std::unordered_set<std::string> taken;
};

const char* month_names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Saves a File Open node's image into the copy folder; the command line naming the copy.
bool copy_image(Node* node, CopyFolder& copies, std::string& command) {
    FileOpenSettings settings;
    std::string original;
    if (!file_open_module.parse(split(*node->command_line), settings) && !settings.files.empty()) {
        original = settings.files[static_cast<std::size_t>(settings.current)].path;
    }
    const bool deep = node->image.type == image_gray16 || node->image.type == image_color48;
    std::string stem = original.empty() ? std::string() : fs::path(original).stem().string();
    std::string extension =
        original.empty() ? std::string() : fs::path(original).extension().string();
    std::int32_t type = save_format_of(original);
    if (type < 0) {
        // Formats Tessaly cannot write are copied as TIFF (deep images) or JPEG.
        type = deep ? save_tiff : save_jpeg;
        extension = deep ? ".tif" : ".jpg";
    }
    std::string name;
    if (stem.empty()) {
        name = formatted("untitled %d%s", node->serial, deep ? ".tif" : ".jpg");
        type = deep ? save_tiff : save_jpeg;
    } else {
        name = stem + extension;
        for (int counter = 1; copies.taken.count(name); ++counter) {
            name = formatted("%s (%d)", stem, counter) + extension;
        }
    }
    copies.taken.insert(name);
    std::string target = copies.folder + "/" + name;
    if (save_image_file(target, node, type, true)) {
        show_error("error saving image: %s", target);
        return true;
    }
    command =
        formatted("file_open 0 n_files 1 current 0 from_default 0 multiple 0 file1 %s time1 %s",
                  quoted_text(copies.name + "/" + name), quoted_text(file_time_text(target)));
    return false;
}

bool prepare_copy_folder(const std::string& file, CopyFolder& copies) {
    copies.folder = file + ".images";
    copies.name = fs::path(copies.folder).filename().string();
    std::error_code ec;
    if (fs::exists(copies.folder, ec)) {
        if (interaction().ask("Warning", "Replace existing folder?", Buttons::ok_cancel,
                              Answer::ok) != Answer::ok) {
            return true;
        }
        fs::remove_all(copies.folder, ec);
        if (ec) {
            show_error("Cannot delete image folder: %s", copies.folder);
            return true;
        }
        if (!fs::create_directory(copies.folder, ec) || ec) {
            show_error("Cannot re-create image folder after deleting old version: %s",
                       copies.folder);
            return true;
        }
        return false;
    }
    if (!fs::create_directories(copies.folder, ec) || ec) {
        show_error("Error creating folder: %s", copies.folder);
        return true;
    }
    return false;
}

class NodeWriter {
  public:
    NodeWriter(LineWriter& out, ImageNames names, CopyFolder* copies)
        : out_(out), names_(names), copies_(copies) {}

    // Writes node after everything it uses, once. true on failure.
    bool write(Node* node) {
        if (!node || node == &tree_root() || written_.count(node)) return false;
        written_.insert(node);  // marks before recursing, so a cycle cannot loop
        for (Node* input : node->inputs) {
            if (write(input)) return true;
        }
        for (const auto& mask : node->masks) {
            if (mask && write(mask->source)) return true;
        }
        if (write(node->parent)) return true;
        return write_block(node);
    }

    void mark_written(Node* node) { written_.insert(node); }
    const std::vector<Node*>& order() const { return order_; }

    bool write_block(Node* node) {
        order_.push_back(node);
        const int parent = is_top_level(node) ? -1 : index_of(node->parent);
        if (is_splitter(node)) {
            out_.line(formatted("splitter index %d parent %d n_branches %d caption %s comment %s",
                                node->serial, parent, static_cast<int>(node->children.size()),
                                quoted_text(node->caption), quoted_text(comment_of(node))));
            return false;
        }
        if (is_side_branch(node)) {
            out_.line(
                formatted("side_branch index %d parent %d branch_number %d caption %s comment %s",
                          node->serial, parent, child_position(node), quoted_text(node->caption),
                          quoted_text(comment_of(node))));
            return false;
        }
        std::string command = node->command_line.value_or(std::string());
        if (is_top_level(node) && is_file_open(node) && names_ != ImageNames::with_names) {
            FileOpenSettings settings;
            (void)file_open_module.parse(split(command), settings);
            if (names_ == ImageNames::without_names) {
                command = formatted(
                    "file_open 0 n_files 1 current 0 from_default %d multiple 0 file1 ″″ time1 ″″",
                    settings.from_default ? 1 : 0);
            } else {
                if (settings.files.size() > 1) {
                    show_warning(
                        "A File Open has more than one file in its file list.\nOnly the current "
                        "file will be saved.");
                }
                if (copy_image(node, *copies_, command)) return true;
            }
        }
        out_.line(
            formatted("image index %d caption %s comment %s saved_as_pathname %s saved_on_date %s "
                      "parent %d bypass %d same_size %d size_specific %d breakpoint %d n_inputs %d "
                      "n_masks %d command %s",
                      node->serial, quoted_text(node->caption), quoted_text(comment_of(node)),
                      quoted_text(node->saved_as_pathname), quoted_text(node->saved_on_date),
                      parent, node->bypass, node->same_size ? 1 : 0, node->size_specific ? 1 : 0,
                      node->breakpoint ? 1 : 0, node->input_count(), node->mask_count(),
                      quoted_command(command)));
        for (int i = 0; i < node->input_count(); ++i) {
            Node* input = node->inputs[static_cast<std::size_t>(i)];
            if (!input) continue;
            std::string caption = static_cast<std::size_t>(i) < node->input_captions.size()
                                      ? node->input_captions[static_cast<std::size_t>(i)]
                                      : std::string();
            out_.line(formatted("  input base_image %d input_number %d index %d caption %s",
                                node->serial, i, input->serial, quoted_text(caption)));
        }
        for (int i = 0; i < node->mask_count(); ++i) {
            const MaskSettings* mask = node->masks[static_cast<std::size_t>(i)].get();
            if (!mask || mask->command_line.empty()) continue;
            out_.line(
                formatted("  mask base_image %d mask_number %d base_input_index %d "
                          "initial_image %d initial_mask_index %d initial_level %d "
                          "caption %s command %s",
                          node->serial, i, mask->base_input_index, index_of(mask->source),
                          mask->initial_mask_index, mask->initial_level, quoted_text(mask->caption),
                          quoted_command(mask->command_line)));
        }
        out_.line("end_image");
        return false;
    }

  private:
    LineWriter& out_;
    ImageNames names_;
    CopyFolder* copies_;
    std::unordered_set<const Node*> written_;
    std::vector<Node*> order_;
};

// "end", or "end <count> <index>..." with two or more top level images.
std::string end_line(const std::vector<Node*>& tops) {
    if (tops.size() < 2) return "end";
    std::string line = formatted("end %d", static_cast<int>(tops.size()));
    for (const Node* n : tops) line += formatted(" %d", n->serial);
    return line;
}

std::string associated_lines_image(const AssociatedImage& a) {
    return formatted("associated_image_pathname %s", quoted_text(a.image_path));
}

std::string associated_lines_original(const AssociatedImage& a) {
    if (a.original_path.empty()) return "associated_original_pathname ″″ -1";
    return formatted("associated_original_pathname %s %d", quoted_text(a.original_path), a.number);
}

std::string now_text() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return formatted("%d-%s-%d %z2d:%z2d:%z2d", local.tm_mday, month_names[local.tm_mon],
                     local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

bool writable(const std::string& path, const char* message) {
    std::error_code ec;
    fs::path folder = fs::path(path).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
        show_error(message, path);
        return false;
    }
    return true;
}

std::optional<std::string> ask_save_path(const char* title, const char* filter, const char* pattern,
                                         std::string folder) {
    FileChoice choice;
    choice.title = title;
    choice.filter_name = filter;
    choice.patterns = {pattern};
    choice.folder = std::move(folder);
    return interaction().choose_save_file(choice);
}

// --- reading ---

enum class LoadKind { script, workspace, autosaved, snippet };

struct Header {
    std::string original_script_pathname;
    std::string associated_image_pathname;
    std::string associated_original_pathname;
    std::int32_t associated_number = -1;
    std::int32_t top_level_index = -1;
};

class ScriptReader {
  public:
    ScriptReader(bool snippet, std::string folder)
        : snippet_(snippet), folder_(std::move(folder)) {}

    // true on failure; the message about the line is shown.
    bool process_line(const ArgumentList& line) {
        std::string_view kind = line[0];
        if (kind == "image") return image_line(line);
        if (kind == "input") return input_line(line);
        if (kind == "mask") return mask_line(line);
        if (kind == "end_image") return end_image();
        if (kind == "splitter") return splitter_line(line);
        if (kind == "side_branch") return side_branch_line(line);
        if (kind == "current_image") return current_image_line(line);
        return false;  // unknown lines are ignored
    }

    Header header;
    std::map<std::int32_t, Node*> nodes;  // file index -> node
    std::vector<Node*> created;
    // Replacement paths for missing files, and the files' folder for relative names.
    std::map<std::string, std::string> replacements;

  private:
    bool snippet_;
    std::string folder_;
    Node* last_ = nullptr;      // the image node whose lines are being read
    Node* previous_ = nullptr;  // in snippet mode: the node the next one goes after
    std::map<const Node*, std::vector<std::int32_t>> branch_numbers_;

    bool fail(const char* message) {
        show_error(message);
        return true;
    }
    template <typename... Args>
    bool fail(const char* message, const Args&... args) {
        show_error(message, args...);
        return true;
    }

    Node* lookup(std::int32_t index) {
        auto it = nodes.find(index);
        return it == nodes.end() ? nullptr : it->second;
    }

    // File Open command lines name their files as saved: relative names are taken beside the
    // script, and missing files by the replacement the person chose.
    std::string resolve_file_open(const std::string& command) {
        FileOpenSettings settings;
        if (file_open_module.parse(split(command), settings)) return command;
        bool changed = false;
        for (FileOpenEntry& f : settings.files) {
            std::string path = resolve_path(f.path, folder_);
            auto r = replacements.find(path);
            if (r != replacements.end()) path = r->second;
            if (path != f.path) {
                f.path = path;
                changed = true;
            }
        }
        return changed ? file_open_module.format(settings) : command;
    }

    bool image_line(const ArgumentList& line) {
        std::int32_t index = 0, parent = -1, bypass = 0, same_size = 0, size_specific = 0;
        std::int32_t breakpoint = 0, n_inputs = 0, n_masks = 0;
        std::string caption, comment, command;
        if (read_integer(line, "index", index)) return fail("Missing image index");
        if (read_string(line, "caption", caption)) return fail("Missing image caption");
        if (caption == "Bilateral Sharpen") caption = "Multipass Sharpen";
        const bool has_comment = !read_string(line, "comment", comment, 1 << 20);
        if (read_integer(line, "parent", parent)) return fail("Missing parent index");
        if (read_integer(line, "bypass", bypass)) return fail("Missing image bypass code");
        if (read_integer(line, "same_size", same_size)) return fail("Missing image same_size code");
        if (read_integer(line, "size_specific", size_specific)) {
            return fail("Missing image size_specific code");
        }
        (void)read_integer(line, "breakpoint", breakpoint);
        if (read_string(line, "command", command, 1 << 24)) return fail("Missing command line");
        if (read_integer(line, "n_inputs", n_inputs)) return fail("Missing image n_inputs");
        if (read_integer(line, "n_masks", n_masks)) return fail("Missing image n_masks");

        // The older Clone format kept its source outside the input slots.
        ArgumentList words = split(command);
        old_clone_ = words.count() > 1 && words[0] == "clone" && words[1] == "0";
        if (old_clone_) ++n_inputs;
        if (n_inputs < 0 || n_masks < 0 || check_masks_and_inputs(command, n_inputs, n_masks)) {
            return fail("Problem with number of inputs or masks: %s", command);
        }
        if (words.count() > 0 && words[0] == "file_open") command = resolve_file_open(command);

        Node* node = nullptr;
        if (snippet_) {
            Node* after = previous_ ? previous_ : current_node();
            node = after ? add_transformation_after(after, same_size != 0, size_specific != 0,
                                                    n_masks, n_inputs, bypass, caption)
                         : create_top_level_image(same_size != 0, size_specific != 0, n_masks,
                                                  n_inputs, bypass, caption, false);
        } else if (parent == -1) {
            node = create_top_level_image(same_size != 0, size_specific != 0, n_masks, n_inputs,
                                          bypass, caption, false);
        } else {
            Node* p = lookup(parent);
            // A splitter's children are its branches; images follow a branch.
            if (!p || is_splitter(p)) return fail("Missing parent image index: %d", parent);
            node = add_transformation_after(p, same_size != 0, size_specific != 0, n_masks,
                                            n_inputs, bypass, caption);
        }
        if (!node) return fail("Cannot create new image params for command: %s", command);
        if (has_comment) node->comment = comment;
        node->breakpoint = breakpoint != 0;
        node->command_line = command;
        if (passes_through(node)) node->needs_run = true;
        set_current_node(node, -1);
        nodes[index] = node;
        created.push_back(node);
        last_ = node;
        previous_ = node;
        if (index == header.top_level_index) {
            node->associated_image_pathname = header.associated_image_pathname;
            node->associated_original_pathname = header.associated_original_pathname;
            node->associated_number = header.associated_number;
        }
        return false;
    }

    bool input_line(const ArgumentList& line) {
        std::int32_t number = 0, base = 0, index = -1;
        std::string caption;
        if (read_integer(line, "input_number", number)) return fail("Missing input number");
        if (read_string(line, "caption", caption)) return fail("Missing input image caption");
        if (read_integer(line, "base_image", base)) return fail("Missing input base_image");
        if (read_integer(line, "index", index)) return fail("Missing input image index");
        Node* node = snippet_ ? last_ : lookup(base);
        if (!node) return fail("Missing base image index: %d", base);
        if (old_clone_ && node == last_) ++number;
        if (number < 0 || number >= node->input_count()) {
            return fail("Missing input image index: %d", number);
        }
        Node* input = nullptr;
        if (snippet_) index = -1;
        if (index != -1) {
            input = lookup(index);
            if (!input) return fail("Missing input image index: %d", index);
        }
        const auto slot = static_cast<std::size_t>(number);
        node->inputs[slot] = input;
        if (node->input_captions.size() <= slot) node->input_captions.resize(slot + 1);
        node->input_captions[slot] = caption;
        return false;
    }

    bool mask_line(const ArgumentList& line) {
        std::int32_t number = 0, base_input = 0, initial = -1, initial_mask = -1, level = 0;
        std::int32_t base = 0;
        std::string caption, command;
        if (read_integer(line, "mask_number", number)) return fail("Missing mask number");
        if (read_integer(line, "base_input_index", base_input)) {
            return fail("Missing mask input index");
        }
        if (read_integer(line, "initial_image", initial)) return fail("Missing initial image");
        if (read_integer(line, "initial_mask_index", initial_mask)) {
            return fail("Missing initial mask index");
        }
        if (read_integer(line, "initial_level", level)) return fail("Missing initial level");
        if (read_string(line, "caption", caption)) return fail("Missing mask caption");
        if (read_string(line, "command", command, 1 << 24)) return fail("Missing mask command");
        if (read_integer(line, "base_image", base)) return fail("Missing mask base image index");
        Node* node = snippet_ ? last_ : lookup(base);
        if (!node) return fail("Missing mask base image index: %d", base);
        if (snippet_) initial = -1;
        Node* source = nullptr;
        if (initial != -1) {
            source = lookup(initial);
            if (!source) return fail("Missing mask base image index: %d", initial);
        }
        if (number < 0 || number >= node->mask_count() ||
            !node->masks[static_cast<std::size_t>(number)]) {
            return fail("Null mask params: %d", number);
        }
        MaskSettings& mask = *node->masks[static_cast<std::size_t>(number)];
        mask.caption = caption;
        mask.source = source;
        mask.initial_mask_index = initial_mask;
        mask.initial_level = level;
        mask.base_input_index = base_input;
        mask.command_line = command;
        if (source) {
            mask.source_name = initial_mask == -1 ? source->caption
                               : initial_mask == -99
                                   ? formatted("%s - Transparency", source->caption)
                                   : formatted("%s - Mask %d", source->caption, initial_mask + 1);
        }
        return false;
    }

    bool end_image() {
        Node* node = last_;
        if (!node || snippet_) return false;
        // A node the person bypassed still gets its result, then stays bypassed.
        const bool bypassed = node->bypass == bypass_user;
        if (bypassed) node->bypass = bypass_none;
        (void)run_node(node->parent, node);
        if (bypassed) node->bypass = bypass_user;
        return false;
    }

    bool splitter_line(const ArgumentList& line) {
        std::int32_t index = 0, branches = 0, parent = 0;
        std::string caption, comment;
        if (read_integer(line, "index", index)) return fail("Missing splitter index");
        if (read_integer(line, "n_branches", branches)) {
            return fail("Missing splitter number of branches");
        }
        if (read_string(line, "caption", caption)) return fail("Missing splitter caption");
        const bool has_comment = !read_string(line, "comment", comment, 1 << 20);
        if (read_integer(line, "parent", parent)) return fail("Missing splitter image index");
        Node* p = lookup(parent);
        // A splitter ends its chain: what follows it hangs from its branches.
        if (!p || is_splitter(p) || !p->children.empty()) {
            return fail("Missing splitter image index: %d", parent);
        }
        Node* splitter = add_transformation_after(p, true, false, 0, 0, bypass_structural, caption);
        if (!splitter) return fail("Missing splitter image index: %d", parent);
        splitter->kind = node_splitter;
        if (has_comment) splitter->comment = comment;
        nodes[index] = splitter;
        created.push_back(splitter);
        return false;
    }

    bool side_branch_line(const ArgumentList& line) {
        std::int32_t index = 0, number = 0, parent = 0;
        std::string caption, comment;
        if (read_integer(line, "index", index)) return fail("Missing side branch index");
        if (read_integer(line, "branch_number", number)) return fail("Missing branch number");
        if (read_string(line, "caption", caption)) return fail("Missing branch caption");
        const bool has_comment = !read_string(line, "comment", comment, 1 << 20);
        (void)read_integer(line, "parent", parent);
        Node* splitter = lookup(parent);
        if (!splitter || !is_splitter(splitter)) {
            return fail("Missing splitter image index: %d", parent);
        }
        if (static_cast<int>(splitter->children.size()) >= max_children) {
            return fail("Missing splitter image index: %d", parent);
        }
        Node* branch = create_node(true, false, 0, 0, bypass_structural, caption);
        branch->kind = node_side_branch;
        branch->parent = splitter;
        if (has_comment) branch->comment = comment;
        // Branches may arrive out of order (a later branch used as an input is written first):
        // each goes where its number puts it among those already read.
        auto& numbers = branch_numbers_[splitter];
        auto at = std::upper_bound(numbers.begin(), numbers.end(), number);
        const auto position = at - numbers.begin();
        numbers.insert(at, number);
        splitter->children.insert(splitter->children.begin() + position, branch);
        splitter->current_child = 0;
        nodes[index] = branch;
        created.push_back(branch);
        return false;
    }

    bool current_image_line(const ArgumentList& line) {
        std::int32_t index = -1;
        (void)read_integer(line, "current_image", index);
        if (index == -1) {
            set_current_node(nullptr, -1);
            return false;
        }
        Node* node = lookup(index);
        if (!node) return fail("Missing current image index: %d", index);
        set_current_node(node, -1);
        return false;
    }

    bool old_clone_ = false;

  public:
    static std::string resolve_path(const std::string& path, const std::string& folder) {
        if (path.empty() || folder.empty() || fs::path(path).is_absolute()) return path;
        return (fs::path(folder) / path).lexically_normal().string();
    }
};

// The end list puts the listed top level images in its order, in the places they hold.
void reorder_top_level(const ArgumentList& line, const std::map<std::int32_t, Node*>& nodes) {
    std::int32_t count = 0;
    if (line.count() < 2 || parse_integer(line[1], count)) return;
    count = std::clamp(count, 0, max_children);
    std::vector<Node*> listed;
    for (int i = 0; i < count && 2 + i < line.count(); ++i) {
        std::int32_t index = 0;
        if (parse_integer(line[2 + i], index)) continue;
        auto it = nodes.find(index);
        if (it == nodes.end() || !is_top_level(it->second)) continue;
        if (std::find(listed.begin(), listed.end(), it->second) == listed.end()) {
            listed.push_back(it->second);
        }
    }
    auto& tops = tree_root().children;
    std::vector<std::size_t> places;
    for (std::size_t i = 0; i < tops.size(); ++i) {
        if (std::find(listed.begin(), listed.end(), tops[i]) != listed.end()) places.push_back(i);
    }
    for (std::size_t i = 0; i < places.size(); ++i) tops[places[i]] = listed[i];
}

// The colour management line of a loaded file against the current settings. true: stop.
bool compare_color_management(const ArgumentList& line) {
    if (script_load_policy().ignore_cm_changes) return false;
    ColorManagementSettings recorded = color_settings();
    (void)read_integer(line, "enabled", recorded.enabled);
    (void)read_integer(line, "on_mismatch", recorded.on_mismatch);
    (void)read_integer(line, "on_batch_mismatch", recorded.on_batch_mismatch);
    (void)read_integer(line, "on_multiple_mismatch", recorded.on_multiple_mismatch);
    for (std::int32_t* policy :
         {&recorded.on_mismatch, &recorded.on_batch_mismatch, &recorded.on_multiple_mismatch}) {
        if (*policy > 2) *policy = 0;
    }
    const std::size_t capacity = 4096;
    (void)read_string(line, "acs_profile", recorded.acs_profile, capacity);
    (void)read_string(line, "gray_acs_profile", recorded.gray_acs_profile, capacity);
    (void)read_string(line, "ar_profile", recorded.ar_profile, capacity);
    (void)read_string(line, "gray_ar_profile", recorded.gray_ar_profile, capacity);
    (void)read_string(line, "wcs_profile", recorded.wcs_profile, capacity);
    (void)read_string(line, "gray_wcs_profile", recorded.gray_wcs_profile, capacity);
    (void)read_string(line, "monitor_curves_file", recorded.monitor_curves_file, capacity);
    (void)read_integer(line, "monitor_curves_enabled", recorded.monitor_curves_enabled);

    const ColorManagementSettings& now = color_settings();
    bool differs = false;
    auto note = [&](bool changed, const char* what) {
        if (!changed) return;
        differs = true;
        show_warning("Color management setting was changed since script was created: %s", what);
    };
    note(recorded.enabled != now.enabled, "color management enabled");
    note(recorded.on_mismatch != now.on_mismatch, "on profile mismatch");
    note(recorded.on_batch_mismatch != now.on_batch_mismatch, "on batch profile mismatch");
    note(recorded.on_multiple_mismatch != now.on_multiple_mismatch, "on multiple profile mismatch");
    note(recorded.acs_profile != now.acs_profile, "assumed color profile");
    note(recorded.gray_acs_profile != now.gray_acs_profile, "assumed gray profile");
    note(recorded.ar_profile != now.ar_profile, "camera profile");
    note(recorded.gray_ar_profile != now.gray_ar_profile, "gray camera profile");
    note(recorded.wcs_profile != now.wcs_profile, "working color space profile");
    note(recorded.gray_wcs_profile != now.gray_wcs_profile, "gray working space profile");
    note(recorded.monitor_curves_file != now.monitor_curves_file, "monitor curves file");
    note(recorded.monitor_curves_enabled != now.monitor_curves_enabled, "monitor curves enabled");

    bool missing = false;
    auto check = [&](const std::string& name, const char* message) {
        if (names_profile(name) && find_profile_file(name).empty()) {
            show_error(message, name);
            missing = true;
        }
    };
    check(recorded.acs_profile, "Cannot find assumed color profile: %s");
    check(recorded.gray_acs_profile, "Cannot find assumed gray profile: %s");
    check(recorded.ar_profile, "Cannot find assumed camera profile: %s");
    check(recorded.gray_ar_profile, "Cannot find assumed gray camera profile: %s");
    check(recorded.wcs_profile, "Cannot find color working space profile: %s");
    check(recorded.gray_wcs_profile, "Cannot find gray working space profile: %s");
    if (names_profile(recorded.monitor_curves_file) &&
        find_profile_file(recorded.monitor_curves_file).empty()) {
        show_error("Cannot locate monitor curves file: %s", recorded.monitor_curves_file);
        missing = true;
    }
    if (missing) {
        return interaction().ask("Alert",
                                 "Cannot restore color management settings at time script was "
                                 "saved because some files are missing.\n\n Ignore and continue?",
                                 Buttons::ok_cancel, Answer::ok) != Answer::ok;
    }
    if (!differs) return false;
    Answer answer =
        interaction().ask("Alert", "Restore color management settings at time script was saved?",
                          Buttons::yes_no_cancel, Answer::no);
    if (answer == Answer::cancel) return true;
    if (answer == Answer::yes) {
        color_settings() = recorded;
        apply_color_settings();
        if (interaction().ask("Alert", "Save changes for future sessions?", Buttons::yes_no,
                              Answer::no) == Answer::yes) {
            (void)save_color_settings();
        }
    }
    return false;
}

// Every file named by a File Open line of the text that does not exist (resolved beside the
// script).
std::vector<std::string> missing_files(const std::string& text, const std::string& folder) {
    std::vector<std::string> missing;
    LineReader reader;
    reader.keep_quoted_line_ends(true);
    reader.open_text(text);
    ArgumentList line;
    std::error_code ec;
    while (reader.next(line)) {
        if (line[0] != "image") continue;
        std::string command;
        if (read_string(line, "command", command, 1 << 24)) continue;
        if (command.rfind("file_open", 0) != 0) continue;
        FileOpenSettings settings;
        if (file_open_module.parse(split(command), settings)) continue;
        for (const FileOpenEntry& f : settings.files) {
            if (f.path.empty()) continue;
            std::string path = ScriptReader::resolve_path(f.path, folder);
            if (!fs::exists(path, ec) &&
                std::find(missing.begin(), missing.end(), path) == missing.end()) {
                missing.push_back(path);
            }
        }
    }
    return missing;
}

bool ask_close_all(LoadKind kind) {
    const ScriptLoadPolicy& policy = script_load_policy();
    if (tree_root().children.empty()) return false;
    const bool ask =
        kind == LoadKind::script ? policy.ask_on_script_load : policy.ask_on_workspace_load;
    if (!ask) return false;
    Answer a = interaction().ask("Alert",
                                 kind == LoadKind::script
                                     ? "Close all images before loading script?"
                                     : "Close all images before loading workspace script?",
                                 Buttons::yes_no_cancel, Answer::no);
    if (a == Answer::cancel) return true;
    if (a == Answer::no) return false;
    if (policy.ask_save_on_close_all) {
        Answer save =
            interaction().ask("Confirm", "Save current workspace before closing all images?",
                              Buttons::yes_no_cancel, Answer::no);
        if (save == Answer::cancel) return true;
        if (save == Answer::yes &&
            save_workspace(std::nullopt, ImageNames::with_names, false, false)) {
            return true;
        }
    }
    close_all_images();
    return false;
}

// Clears the script-running flag however loading ends.
struct ScriptRunning {
    ScriptRunning() { set_script_running(true); }
    ~ScriptRunning() { set_script_running(false); }
};

bool load_file(std::optional<std::string> path, LoadKind kind) {
    const bool snippet = kind == LoadKind::snippet;
    if (kind == LoadKind::script || kind == LoadKind::workspace) {
        if (ask_close_all(kind)) return true;
    }
    if (!path) {
        FileChoice choice;
        choice.title = snippet                    ? "Load Snippet File"
                       : kind == LoadKind::script ? "Load Script File"
                                                  : "Load Workspace Script File";
        choice.filter_name = snippet                    ? "Snippet Files"
                             : kind == LoadKind::script ? "Script Files"
                                                        : "Workspace Script Files";
        choice.patterns = {snippet                    ? "*.snip"
                           : kind == LoadKind::script ? "*.script"
                                                      : "*.workspace"};
        if (snippet) choice.folder = settings_root() + "/Snippets";
        path = interaction().choose_open_file(choice);
        if (!path) return true;
    }
    const char* cannot_open = snippet                    ? "Cannot open snippet file: %s"
                              : kind == LoadKind::script ? "Cannot open script file: %s"
                                                         : "Cannot open workspace script file: %s";
    std::string text;
    if (read_text_file(*path, text)) {
        show_error(cannot_open, *path);
        return true;
    }
    const std::string folder = fs::absolute(fs::path(*path)).parent_path().string();

    std::map<std::string, std::string> replacements;
    if (!snippet) {
        std::vector<std::string> missing = missing_files(text, folder);
        if (!missing.empty()) {
            std::string list;
            for (const std::string& m : missing) list += (list.empty() ? "" : "\n") + m;
            const char* message =
                kind == LoadKind::script
                    ? "At least one missing file in script:\n\n%s\n\nClick OK to request "
                      "replacement pathname or Cancel to abort"
                    : "At least one missing file in workspace script:\n\n%s\n\nClick OK to "
                      "request replacement pathname or Cancel to abort";
            if (interaction().ask("Alert", formatted(message, list), Buttons::ok_cancel,
                                  Answer::cancel) != Answer::ok) {
                return true;
            }
            for (const std::string& m : missing) {
                FileChoice choice;
                choice.title = formatted("Replacement for %s", m);
                choice.suggested_name = fs::path(m).filename().string();
                std::optional<std::string> replacement = interaction().choose_open_file(choice);
                if (!replacement) return true;
                replacements[m] = *replacement;
            }
        }
    }

    PlainSeparators plain;
    ScriptRunning running;
    const char* title = kind == LoadKind::script      ? "Loading Script"
                        : kind == LoadKind::workspace ? "Loading Workspace Script"
                        : kind == LoadKind::autosaved ? "Loading Last Autosaved Workspace Script"
                                                      : "Loading Snippet";
    interaction().progress_begin(title, 0);
    struct EndProgress {
        ~EndProgress() { interaction().progress_end(); }
    } end_progress;

    // Failures of the file's contents name the file after their own message.
    auto processing_failed = [&] {
        show_error(snippet                    ? "Error processing snippet file: %s"
                   : kind == LoadKind::script ? "Error processing script file: %s"
                                              : "Error processing workspace script file: %s",
                   *path);
        return true;
    };
    LineReader reader;
    reader.keep_quoted_line_ends(true);
    reader.open_text(text);
    ArgumentList line;
    if (!reader.next(line) ||
        (line[0] != "script" && line[0] != "workspace_script" && line[0] != "snippet")) {
        show_error("Illegal script file header");
        return processing_failed();
    }
    (void)version_check(line.count() > 1 ? line[1] : std::string_view(), 1.0, "Script");

    ScriptReader body(snippet, folder);
    body.replacements = std::move(replacements);
    Node* first_inserted = nullptr;
    bool ended = false;
    while (reader.next(line)) {
        std::string_view key = line[0];
        if (key == "end") {
            ended = true;
            break;
        }
        if (key == "TSY_Version" || key == "script_directory") continue;
        if (key == "original_script_pathname") {
            (void)read_string(line, key, body.header.original_script_pathname, 4096);
        } else if (key == "associated_image_pathname") {
            (void)read_string(line, key, body.header.associated_image_pathname, 4096);
        } else if (key == "associated_original_pathname") {
            (void)read_string(line, key, body.header.associated_original_pathname, 4096);
            if (line.count() > 2) (void)parse_integer(line[2], body.header.associated_number);
        } else if (key == "top_level_index") {
            (void)read_integer(line, key, body.header.top_level_index);
        } else if (key == "color_management") {
            if (!snippet && compare_color_management(line)) return true;
        } else {
            if (body.process_line(line)) {
                show_error("Error processing command: %s", key);
                return processing_failed();
            }
            if (snippet && !first_inserted && !body.created.empty()) {
                first_inserted = body.created.front();
            }
        }
    }
    if (!ended) {
        show_error("Missing end statement");
        return processing_failed();
    }
    dissolve_splitters();
    renumber_all_branches();
    if (!snippet) {
        reorder_top_level(line, body.nodes);
        remember_file(*path);
    } else if (first_inserted) {
        // The inserted chain runs once it is complete, then everything after it.
        (void)run_node(first_inserted->parent, first_inserted);
        (void)rerun_downstream(first_inserted, true);
    }
    refresh_display();
    return false;
}

}  // namespace

ScriptLoadPolicy& script_load_policy() {
    static ScriptLoadPolicy policy;
    return policy;
}

const std::string& current_script_file() {
    return script_file_name();
}

std::string frame_title() {
    if (script_file_name().empty()) return version_string();
    return formatted("%s  --  %s", version_string(),
                     fs::path(script_file_name()).filename().string());
}

const std::vector<std::string>& recent_script_files() {
    return recent_files();
}

void clear_script_state() {
    script_file_name().clear();
    recent_files().clear();
}

bool write_workspace_file(const std::string& path, ImageNames names,
                          const AssociatedImage& associated) {
    PlainSeparators plain;
    CopyFolder copies;
    if (names == ImageNames::with_copies && prepare_copy_folder(path, copies)) return true;
    LineWriter out;
    out.line("workspace_script 1.0");
    out.line("");
    out.line(formatted("TSY_Version ″%s″", version_string()));
    out.line("");
    out.line(formatted("original_script_pathname %s", quoted_text(path)));
    out.line(associated_lines_image(associated));
    out.line(associated_lines_original(associated));
    Node* current = current_node();
    out.line(formatted("top_level_index %d", current ? index_of(top_level_of(current)) : -1));
    out.line("");
    out.line(color_management_line(false));
    NodeWriter writer(out, names, &copies);
    std::vector<Node*> leaves;
    walk([&](Node* n) {
        if (n->children.empty()) leaves.push_back(n);
        return false;
    });
    for (Node* leaf : leaves) {
        if (writer.write(leaf)) return true;
    }
    out.line(formatted("current_image %d", index_of(current)));
    out.line(end_line(tree_root().children));
    if (out.save(path)) {
        show_error("Cannot create workspace script file: %s", path);
        return true;
    }
    return false;
}

bool write_script_file(Node* image, const std::string& path, ImageNames names,
                       const AssociatedImage& associated) {
    if (!image) {
        show_error("No image specified");
        return true;
    }
    PlainSeparators plain;
    CopyFolder copies;
    if (names == ImageNames::with_copies && prepare_copy_folder(path, copies)) return true;
    LineWriter out;
    out.line("script 1.0");
    out.line("");
    out.line(formatted("TSY_Version ″%s″ saved ″%s″", version_string(), now_text()));
    out.line("");
    out.line(formatted("script_directory %s",
                       quoted_text(fs::absolute(fs::path(path)).parent_path().string())));
    out.line(formatted("original_script_pathname %s", quoted_text(path)));
    out.line(associated_lines_image(associated));
    out.line(associated_lines_original(associated));
    out.line(formatted("top_level_index %d", index_of(top_level_of(image))));
    out.line("");
    out.line(color_management_line(true));
    NodeWriter writer(out, names, &copies);
    if (writer.write(image)) return true;
    out.line("");
    std::vector<Node*> tops;
    for (Node* top : tree_root().children) {
        const auto& order = writer.order();
        if (std::find(order.begin(), order.end(), top) != order.end()) tops.push_back(top);
    }
    out.line(end_line(tops));
    if (out.save(path)) {
        show_error("Cannot create file: %s", path);
        return true;
    }
    return false;
}

bool save_script(Node* image, std::optional<std::string> path, ImageNames names) {
    if (!image) {
        show_error("No image specified");
        return true;
    }
    while (!path) {
        path = ask_save_path("Save Script File", "Script Files", "*.script", std::string());
        if (!path) return true;
        if (!has_extension(*path, ".script")) {
            show_error("Script files must have the extension .script");
            path.reset();
        }
    }
    if (!writable(*path, "Cannot create file: %s")) return true;
    AssociatedImage associated;
    if (Node* top = top_level_of(image)) {
        associated = {top->associated_image_pathname, top->associated_original_pathname,
                      top->associated_number};
    }
    if (write_script_file(image, *path, names, associated)) return true;
    remember_file(*path);
    return false;
}

bool save_workspace(std::optional<std::string> path, ImageNames names, bool keep_as_previous,
                    bool open_afterwards, const AssociatedImage& associated) {
    if (tree_root().children.empty()) {
        show_error("No images in workspace to save");
        return true;
    }
    if (!path) {
        path = ask_save_path("Save Workspace Script File", "Workspace Script Files", "*.workspace",
                             settings_root() + "/Workspace Scripts");
        if (!path) return true;
    }
    if (!writable(*path, "Cannot create workspace script file: %s")) return true;
    if (write_workspace_file(*path, names, associated)) return true;
    if (keep_as_previous) {
        std::error_code ec;
        std::string folder = settings_root() + "/Workspace Scripts";
        fs::create_directories(folder, ec);
        std::string previous = folder + "/Previous.workspace";
        if (fs::absolute(previous) != fs::absolute(*path)) {
            std::string bytes;
            if (read_file_bytes(*path, bytes) || write_file_atomic(previous, bytes)) {
                show_error("Cannot create workspace script file: %s", previous);
                return true;
            }
        }
    }
    if (open_afterwards) remember_file(*path);
    return false;
}

bool save_snippet(Node* first, std::optional<std::string> path) {
    if (!first) {
        show_error("No image specified");
        return true;
    }
    if (!path) {
        path = ask_save_path("Save Snippet File", "Snippet Files", "*.snip",
                             settings_root() + "/Snippets");
        if (!path) return true;
    }
    PlainSeparators plain;
    LineWriter out;
    out.line("snippet 1.0");
    out.line(formatted("TSY_Version ″%s″", version_string()));
    out.line("");
    out.line(formatted("original_script_pathname %s", quoted_text(*path)));
    out.line("");
    NodeWriter writer(out, ImageNames::with_names, nullptr);
    // The selected nodes of the chain, in chain order.
    for (Node* n = first; n;) {
        if (n->selected && writer.write_block(n)) return true;
        n = n->children.empty()
                ? nullptr
                : n->children[static_cast<std::size_t>(std::max(n->current_child, 0))];
    }
    out.line("");
    out.line("end");
    if (!writable(*path, "Cannot create snippet file: %s") || out.save(*path)) {
        show_error("Cannot create snippet file: %s", *path);
        return true;
    }
    return false;
}

bool load_script(std::optional<std::string> path) {
    return load_file(std::move(path), LoadKind::script);
}

bool load_workspace(std::optional<std::string> path) {
    return load_file(std::move(path), LoadKind::workspace);
}

bool load_autosaved_workspace() {
    return load_file(settings_root() + "/Workspace Scripts/Autosave.workspace",
                     LoadKind::autosaved);
}

bool insert_snippet(std::optional<std::string> path) {
    if (!current_node()) {
        show_error("No image to insert after");
        return true;
    }
    return load_file(std::move(path), LoadKind::snippet);
}

bool write_companion_file(Node* node, const std::string& image_path, std::int32_t mode) {
    const bool workspace = mode >= 3;
    const ImageNames names =
        (mode == 2 || mode == 4) ? ImageNames::with_copies : ImageNames::with_names;
    std::string target =
        fs::path(image_path).replace_extension(workspace ? ".workspace" : ".script").string();
    std::error_code ec;
    fs::remove(target, ec);
    AssociatedImage associated{image_path, original_file_of(node), 0};
    return workspace ? write_workspace_file(target, names, associated)
                     : write_script_file(node, target, names, associated);
}

}  // namespace tessaly
