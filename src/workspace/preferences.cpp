#include "workspace/preferences.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/format.h"
#include "core/numeric.h"
#include "core/text_file.h"
#include "framework/settings_files.h"

namespace tessaly {

namespace fs = std::filesystem;

namespace {

constexpr double file_version = 1.0;

// A colour component written as a fraction of 255; values outside 0..1 are clamped.
void read_fraction(const ArgumentList& line, int index, std::int32_t& component) {
    double value = 0.0;
    if (index >= line.count() || parse_real(line[index], value)) return;
    component = std::clamp(round_to_int(value * 255.0), 0, 255);
}

void read_fraction_colour(const ArgumentList& line, int first, ShellColor& colour) {
    read_fraction(line, first, colour.red);
    read_fraction(line, first + 1, colour.green);
    read_fraction(line, first + 2, colour.blue);
}

// The save-option lines of older files: the same values under their former keys.
std::string_view current_save_options_key(std::string_view key) {
    if (key == "jpeg_options") return "jpeg_save_options";
    if (key == "tiff_options") return "tiff_save_options";
    if (key == "png_options") return "png_save_options";
    if (key == "bmp_options") return "bmp_save_options";
    if (key == "gif_options") return "gif_save_options";
    return {};
}

void read_save_options_legacy(const ArgumentList& line, std::string_view key, SaveOptions& o) {
    std::string renamed(key);
    for (int i = 1; i < line.count(); ++i) {
        renamed += ' ';
        renamed += line[i];  // numbers only: no token needs its quotes back
    }
    (void)read_save_options_line(split(renamed), o);
}

void read_preferences_line(const ArgumentList& line, Preferences& p, SaveOptions& o) {
    std::string_view key = line[0];
    if (key == "border_color") {
        read_integer_values(line, 1, {&p.border_width});
        read_fraction_colour(line, 2, p.border_color);
    } else if (key == "workspace_background") {
        read_fraction_colour(line, 1, p.workspace_background);
    } else if (key == "defaultunits") {
        read_integer_values(line, 1, {&p.default_units});
    } else if (key == "displayfullpathname") {
        read_integer_values(line, 1, {&p.display_full_path_name});
    } else if (key == "silent") {
        read_integer_values(line, 1, {&p.silent});
    } else if (key == "use_tablet") {
        read_integer_values(line, 1, {&p.use_tablet});
    } else if (key == "text_delay") {
        read_integer_values(line, 1, {&p.text_delay});
    } else if (key == "clippedshadows") {
        read_integer_values(line, 1,
                            {&p.clipped_shadows_show, &p.clipped_shadows_color.red,
                             &p.clipped_shadows_color.green, &p.clipped_shadows_color.blue});
    } else if (key == "clippedhighlights") {
        read_integer_values(line, 1,
                            {&p.clipped_highlights_show, &p.clipped_highlights_color.red,
                             &p.clipped_highlights_color.green, &p.clipped_highlights_color.blue});
    } else if (key == "smooth_zoom") {
        read_integer_values(line, 1, {&p.smooth_zoom});
    } else if (key == "hide_progress_bars") {
        read_integer_values(line, 1, {&p.hide_progress_bars});
    } else if (key == "on_separator_move") {
        read_integer_values(line, 1, {&p.on_separator_move});
    } else if (key == "on_zoom_to_fit") {
        read_integer_values(line, 1, {&p.on_zoom_to_fit});
    } else if (key == "restore_workspace_file" || key == "restore_workspace") {
        read_integer_values(line, 1, {&p.restore_workspace_file});
    } else if (key == "save_workspace_file" || key == "save_workspace") {
        read_integer_values(line, 1, {&p.save_workspace_file});
    } else if (key == "save_workspace_file_on_close_all") {
        read_integer_values(line, 1, {&p.save_workspace_file_on_close_all});
    } else if (key == "ask_on_workspace_script_load") {
        read_integer_values(line, 1, {&p.ask_on_workspace_script_load});
    } else if (key == "ask_on_script_load") {
        read_integer_values(line, 1, {&p.ask_on_script_load});
    } else if (key == "ignore_cm_changes") {
        read_integer_values(line, 1, {&p.ignore_cm_changes});
    } else if (key == "script_images") {
        read_integer_values(line, 1, {&p.script_images});
    } else if (key == "initial_dialog_position") {
        read_integer_values(line, 1, {&p.initial_dialog_position});
    } else if (key == "recent_files") {
        read_integer_values(line, 1, {&p.recent_files, &p.recent_files_in_menu});
    } else if (key == "curve_options") {
        auto& c = p.curve_options;
        read_integer_values(line, 1, {&c[0], &c[1], &c[2], &c[3], &c[4]});
    } else if (key == "warn_if_larger_than") {
        read_integer_values(line, 1, {&p.warn_if_larger_than});
    } else if (std::string_view renamed = current_save_options_key(key); !renamed.empty()) {
        read_save_options_legacy(line, renamed, o);
    } else {
        (void)read_save_options_line(line, o);  // anything else is ignored
    }
}

bool remove_file(const std::string& path) {
    std::error_code ec;
    return !fs::remove(path, ec) || ec;
}

}  // namespace

// ---- The shared line format ----

KeyedFileRead read_keyed_file(const std::string& path, std::string_view keyword,
                              const std::function<void(const ArgumentList&)>& line) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return KeyedFileRead::missing;
    PlainSeparators plain;
    LineReader reader;
    if (reader.open(path)) return KeyedFileRead::unreadable;
    reader.keep_quoted_line_ends(true);  // a file or folder name may hold a line break
    ArgumentList tokens;
    if (!reader.next(tokens) || tokens.count() != 2 || tokens[0] != keyword)
        return KeyedFileRead::wrong_header;
    (void)version_check(tokens[1], file_version, keyword);
    while (reader.next(tokens)) {
        if (tokens[0] == "end") break;
        line(tokens);
    }
    return KeyedFileRead::read;
}

bool write_keyed_file(const std::string& path, std::string_view keyword,
                      const std::vector<std::string>& lines) {
    std::error_code ec;
    fs::path folder = fs::path(path).parent_path();
    if (!folder.empty()) fs::create_directories(folder, ec);
    LineWriter writer;
    writer.line(formatted("%s 1.0", keyword));
    for (const std::string& l : lines) writer.line(l);
    writer.line("end");
    return writer.save(path);
}

void read_integer_values(const ArgumentList& line, int first,
                         std::initializer_list<std::int32_t*> values) {
    int i = first;
    for (std::int32_t* v : values) {
        if (i >= line.count()) return;
        (void)parse_integer(line[i++], *v);
    }
}

// ---- Preferences ----

Preferences& preferences() {
    static Preferences current;
    return current;
}

std::string preferences_path() {
    return settings_root() + "/Preferences/Settings.Preferences";
}

std::string preferences_temp_path() {
    return settings_root() + "/Preferences/Settings.Temp";
}

std::vector<std::string> preferences_lines(const Preferences& p, const SaveOptions& o) {
    PlainSeparators plain;
    auto fraction = [](std::int32_t component) { return component / 255.0; };
    const ShellColor& b = p.border_color;
    const ShellColor& w = p.workspace_background;
    const ShellColor& s = p.clipped_shadows_color;
    const ShellColor& h = p.clipped_highlights_color;
    std::vector<std::string> lines = {
        formatted("border_color %d %f %f %f", p.border_width, fraction(b.red), fraction(b.green),
                  fraction(b.blue)),
        formatted("workspace_background %f %f %f", fraction(w.red), fraction(w.green),
                  fraction(w.blue)),
        formatted("defaultunits %d", p.default_units),
        formatted("displayfullpathname %d", p.display_full_path_name),
        formatted("silent %d", p.silent),
        formatted("use_tablet %d", p.use_tablet),
        formatted("text_delay %d", p.text_delay),
        formatted("clippedshadows %d %d %d %d", p.clipped_shadows_show, s.red, s.green, s.blue),
        formatted("clippedhighlights %d %d %d %d", p.clipped_highlights_show, h.red, h.green,
                  h.blue),
        formatted("smooth_zoom %d", p.smooth_zoom),
        formatted("hide_progress_bars %d", p.hide_progress_bars),
        formatted("on_separator_move %d", p.on_separator_move),
        formatted("on_zoom_to_fit %d", p.on_zoom_to_fit),
        formatted("restore_workspace_file %d", p.restore_workspace_file),
        formatted("save_workspace_file %d", p.save_workspace_file),
        formatted("save_workspace_file_on_close_all %d", p.save_workspace_file_on_close_all),
        formatted("ask_on_workspace_script_load %d", p.ask_on_workspace_script_load),
        formatted("ask_on_script_load %d", p.ask_on_script_load),
        formatted("ignore_cm_changes %d", p.ignore_cm_changes),
        formatted("script_images %d", p.script_images),
        formatted("initial_dialog_position %d", p.initial_dialog_position),
        formatted("recent_files %d %d", p.recent_files, p.recent_files_in_menu),
    };
    // The save options come in the file's own order, whatever order the file layer lists them.
    std::vector<std::string> save_lines = save_options_lines(o);
    for (std::string_view key : {"jpeg_save_options ", "tiff_save_options ", "png_save_options ",
                                 "bmp_save_options ", "gif_save_options "}) {
        for (const std::string& l : save_lines) {
            if (l.starts_with(key)) lines.push_back(l);
        }
    }
    const auto& c = p.curve_options;
    lines.push_back(formatted("curve_options %d %d %d %d %d", c[0], c[1], c[2], c[3], c[4]));
    return lines;
}

KeyedFileRead read_preferences(const std::string& path, Preferences& p, SaveOptions& o) {
    return read_keyed_file(path, "Preferences",
                           [&](const ArgumentList& line) { read_preferences_line(line, p, o); });
}

bool write_preferences(const std::string& path, const Preferences& p, const SaveOptions& o) {
    return write_keyed_file(path, "Preferences", preferences_lines(p, o));
}

bool load_preferences() {
    Preferences& p = preferences();
    SaveOptions& o = save_options();
    p = Preferences{};
    o = SaveOptions{};
    KeyedFileRead result = read_preferences(preferences_path(), p, o);
    bool failed = result == KeyedFileRead::unreadable || result == KeyedFileRead::wrong_header;
    if (failed) {
        p = Preferences{};
        o = SaveOptions{};
    }
    std::string temp = preferences_temp_path();
    if (read_preferences(temp, p, o) != KeyedFileRead::missing) (void)remove_file(temp);
    return failed;
}

bool save_preferences() {
    return write_preferences(preferences_path(), preferences(), save_options());
}

}  // namespace tessaly
