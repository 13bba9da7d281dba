#include "fileio/file_open.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "color/color_open.h"
#include "core/format.h"
#include "fileio/image_file.h"
#include "framework/transformation.h"

namespace tessaly {

namespace {

// What the node last read: its command line already holds path and time, and its image is
// there, so an unchanged file need not be decoded again.
bool already_read(const Node* node, const FileOpenEntry& entry) {
    if (!node->image.has_pixels() || node->error || !node->command_line) return false;
    FileOpenSettings previous;
    if (file_open_parse(split(*node->command_line), previous)) return false;
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

std::string file_open_command_line(const FileOpenSettings& s) {
    PlainSeparators plain;
    const int n = static_cast<int>(s.files.size());
    if (n == 1 && !s.multiple && !s.from_default && s.prompt.empty() && s.files[0].selected) {
        return formatted(
            "file_open 0 n_files 1 current 0 from_default 0 multiple 0 file1 %s time1 %s",
            quoted_text(s.files[0].path), quoted_text(s.files[0].time));
    }
    std::string line =
        formatted("file_open 0 n_files %d current %d from_default %d multiple %d prompt %s", n,
                  s.current, s.from_default ? 1 : 0, s.multiple ? 1 : 0, quoted_text(s.prompt));
    for (int i = 0; i < n; ++i) {
        const FileOpenEntry& f = s.files[static_cast<std::size_t>(i)];
        line += formatted(" file%d %s time%d %s selected%d %d", i + 1, quoted_text(f.path), i + 1,
                          quoted_text(f.time), i + 1, f.selected ? 1 : 0);
    }
    return line;
}

bool file_open_parse(const ArgumentList& args, FileOpenSettings& settings) {
    PlainSeparators plain;
    if (args.count() < 1 || args[0] != "file_open") return true;
    if (args.count() > 1) (void)version_check(args[1], 0.0, "File Open");
    FileOpenSettings s;
    std::int32_t n = 0;
    std::int32_t flag = 0;
    (void)read_integer(args, "current", s.current);
    if (!read_integer(args, "from_default", flag)) s.from_default = flag != 0;
    if (!read_integer(args, "multiple", flag)) s.multiple = flag != 0;
    (void)read_string(args, "prompt", s.prompt);
    if (read_integer(args, "n_files", n)) {
        // The older single-file form.
        FileOpenEntry f;
        if (!read_string(args, "pathname", f.path, 4096)) {
            (void)read_string(args, "filetime", f.time);
            s.files.push_back(f);
        }
    } else {
        if (n < 0) return true;
        if (n > file_open_max_files) {
            show_error("Too many files");
            return true;
        }
        for (int i = 1; i <= n; ++i) {
            FileOpenEntry f;
            if (read_string(args, formatted("file%d", i), f.path, 4096)) return true;
            (void)read_string(args, formatted("time%d", i), f.time);
            if (!read_integer(args, formatted("selected%d", i), flag)) f.selected = flag != 0;
            s.files.push_back(std::move(f));
        }
    }
    if (s.files.empty()) {
        s.current = 0;
    } else if (s.current < 0 || s.current >= static_cast<std::int32_t>(s.files.size())) {
        return true;
    }
    settings = std::move(s);
    return false;
}

std::uint8_t file_open_run_entry(Node*, Node* node, const ArgumentList& args) {
    FileOpenSettings s;
    if (file_open_parse(args, s)) return fail_node(node, "Illegal File Open command line");
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
    node->command_line = file_open_command_line(s);
    node->error = false;
    return 0;
}

}  // namespace tessaly
