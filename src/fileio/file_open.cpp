#include "fileio/file_open.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "color/color_open.h"
#include "core/format.h"
#include "fileio/image_file.h"
#include "framework/module.h"

namespace tessaly {

namespace {

// What the node last read: its command line already holds path and time, and its image is
// there, so an unchanged file need not be decoded again.
bool already_read(const Node* node, const FileOpenEntry& entry) {
    if (!node->image.has_pixels() || node->error || !node->command_line) return false;
    FileOpenSettings previous;
    if (file_open_module.parse(split(*node->command_line), previous)) return false;
    if (previous.files.empty()) return false;
    const FileOpenEntry& shown = previous.files[static_cast<std::size_t>(previous.current)];
    return shown.path == entry.path && shown.time == entry.time && node->name == entry.path;
}

}  // namespace

std::string file_time_text(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    std::tm utc{};
    gmtime_r(&st.st_mtim.tv_sec, &utc);
    PlainSeparators plain;
    return formatted("%z4d-%z2d-%z2d %z2d:%z2d:%z2d.%z9d UTC", utc.tm_year + 1900, utc.tm_mon + 1,
                     utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                     static_cast<std::int64_t>(st.st_mtim.tv_nsec));
}

namespace {

// One selected file and nothing else is written in the short form.
bool short_form(const FileOpenSettings& s) {
    return s.files.size() == 1 && !s.multiple && !s.from_default && s.prompt.empty() &&
           s.files[0].selected;
}

void too_many_files(FileOpenSettings&, const ArgumentList& args,
                    const TransformationContext<FileOpenSettings>&) {
    std::int32_t n = 0;
    if (!read_integer(args, "n_files", n) && n > file_open_max_files) show_error("Too many files");
}

bool check_current(FileOpenSettings& s, const ArgumentList& args,
                   const TransformationContext<FileOpenSettings>&) {
    int i = 0;
    if (find_key(args, "n_files", i)) {
        // The older single-file form.
        FileOpenEntry f;
        f.selected = true;
        if (!read_string(args, "pathname", f.path, 4096)) {
            (void)read_string(args, "filetime", f.time);
            s.files.push_back(f);
        }
    }
    if (s.files.empty()) {
        s.current = 0;
        return false;
    }
    return s.current < 0 || s.current >= static_cast<std::int32_t>(s.files.size());
}

std::uint8_t run(TransformationContext<FileOpenSettings>& ctx);

}  // namespace

const Registered<FileOpenSettings> file_open_module{{
    .keyword = "file_open",
    .schema = Schema<FileOpenSettings>()
                  .count("n_files", &FileOpenSettings::files, file_open_max_files)
                  .integer("current", &FileOpenSettings::current, 0)
                  .note("index of the file shown; 0 .. n_files - 1")
                  .flag("from_default", &FileOpenSettings::from_default, false)
                  .flag("multiple", &FileOpenSettings::multiple, false)
                  .label("Multiple Batch")
                  .text("prompt", &FileOpenSettings::prompt, "")
                  .written_if([](const FileOpenSettings& s) { return !short_form(s); })
                  .group(&FileOpenSettings::files,
                         Schema<FileOpenEntry>()
                             .text("file%d", &FileOpenEntry::path, "", 4096)
                             .required()
                             .text("time%d", &FileOpenEntry::time, "")
                             .flag("selected%d", &FileOpenEntry::selected, true),
                         [](const FileOpenSettings& s, std::string_view key) {
                             return key == "selected%d" && short_form(s);
                         }),
    .types = types_any,
    .reads_binary = true,
    .kind = ModuleKind::generator,
    .dialog = {.top_level = true},
    .before_read = too_many_files,
    .after_parse = check_current,
    .run = run,
}};

namespace {

std::uint8_t run(TransformationContext<FileOpenSettings>& ctx) {
    FileOpenSettings& s = ctx.settings;
    Node* node = ctx.node;
    if (s.files.empty()) return fail_node(node, "No files selected");
    FileOpenEntry& entry = s.files[static_cast<std::size_t>(s.current)];
    std::error_code ec;
    if (!std::filesystem::exists(entry.path, ec)) {
        show_error("File does not exist: %s", entry.path);
        return fail_node(node, formatted("File does not exist: %s", entry.path));
    }
    std::string now = file_time_text(entry.path);
    bool changed = !entry.time.empty() && now != entry.time;
    if (!changed && already_read(node, entry)) {
        node->error = false;
        return 0;
    }
    if (changed) {
        show_warning("File has been modified since it was last opened: %s", entry.path);
    }
    if (read_image_file(entry.path, node->image, node->transparency)) {
        image_free(node->transparency);
        return fail_node(node, formatted("Error reading file: %s", entry.path));
    }
    node->name = entry.path;
    switch (color_manage_on_open(node, false, has_raw_extension(entry.path))) {
        case color_open_cancelled:
            show_warning("Profile conversion canceled - original file profile is unchanged");
            return fail_node(node, "Profile conversion canceled");
        case color_open_failed:
            show_error("Error converting to working color space");
            return fail_node(node, "Error converting to working color space");
        default:
            break;
    }
    entry.time = now;
    node->command_line = file_open_module.format(s);
    node->error = false;
    return 0;
}

}  // namespace

}  // namespace tessaly
