#include "workspace/theme.h"

#include <algorithm>
#include <cctype>

#include "core/format.h"
#include "framework/settings_files.h"

namespace tessaly {

namespace {

// One entry of the file: a colour, or (when colour is null) the border flag.
struct ThemeEntry {
    std::string_view key;
    ShellColor Theme::*colour;
};

constexpr ThemeEntry theme_entries[] = {
    {"workspace_background", &Theme::workspace_background},
    {"image_browser_background", &Theme::image_browser_background},
    {"thumbnail_border_same_as_image", nullptr},
    {"thumbnail_border", &Theme::thumbnail_border},
    {"thumbnail_caption_background", &Theme::thumbnail_caption_background},
    {"thumbnail_caption_text", &Theme::thumbnail_caption_text},
    {"thumbnail_current_caption_background", &Theme::thumbnail_current_caption_background},
    {"thumbnail_current_caption_text", &Theme::thumbnail_current_caption_text},
    {"thumbnail_upstream_caption_background", &Theme::thumbnail_upstream_caption_background},
    {"thumbnail_upstream_caption_text", &Theme::thumbnail_upstream_caption_text},
    {"thumbnail_downstream_caption_background", &Theme::thumbnail_downstream_caption_background},
    {"thumbnail_downstream_caption_text", &Theme::thumbnail_downstream_caption_text},
    {"thumbnail_outline", &Theme::thumbnail_outline},
    {"thumbnail_connector", &Theme::thumbnail_connector},
    {"menu_background", &Theme::menu_background},
    {"menu_text", &Theme::menu_text},
    {"highlighted_menu_background", &Theme::highlighted_menu_background},
    {"highlighted_menu_text", &Theme::highlighted_menu_text},
    {"quick_pick_background", &Theme::quick_pick_background},
    {"quick_pick_button_background", &Theme::quick_pick_button_background},
    {"quick_pick_button_text", &Theme::quick_pick_button_text},
    {"quick_pick_grayed_button_background", &Theme::quick_pick_grayed_button_background},
    {"quick_pick_grayed_button_text", &Theme::quick_pick_grayed_button_text},
    {"quick_pick_unused_button_background", &Theme::quick_pick_unused_button_background},
    {"quick_pick_unused_button_text", &Theme::quick_pick_unused_button_text},
    {"depressed_button", &Theme::depressed_button},
};

void read_theme_line(const ArgumentList& line, Theme& theme) {
    for (const ThemeEntry& e : theme_entries) {
        if (line[0] != e.key) continue;
        if (!e.colour) {
            read_integer_values(line, 1, {&theme.thumbnail_border_same_as_image});
            return;
        }
        ShellColor& c = theme.*e.colour;
        read_integer_values(line, 1, {&c.red, &c.green, &c.blue});
        for (std::int32_t* v : {&c.red, &c.green, &c.blue}) *v = std::clamp(*v, 0, 255);
        return;
    }
}

}  // namespace

Theme& current_theme() {
    static Theme current;
    return current;
}

std::string themes_folder() {
    return settings_root() + "/Themes";
}

std::string default_theme_path() {
    return themes_folder() + "/Default.theme";
}

std::vector<std::string> theme_lines(const Theme& theme) {
    PlainSeparators plain;
    std::vector<std::string> lines;
    for (const ThemeEntry& e : theme_entries) {
        if (!e.colour) {
            lines.push_back(formatted("%s %d", e.key, theme.thumbnail_border_same_as_image));
        } else {
            const ShellColor& c = theme.*e.colour;
            lines.push_back(formatted("%s %d %d %d", e.key, c.red, c.green, c.blue));
        }
    }
    return lines;
}

KeyedFileRead read_theme(const std::string& path, Theme& theme) {
    return read_keyed_file(path, "Theme",
                           [&](const ArgumentList& line) { read_theme_line(line, theme); });
}

bool write_theme(const std::string& path, const Theme& theme) {
    return write_keyed_file(path, "Theme", theme_lines(theme));
}

bool load_default_theme() {
    Theme& theme = current_theme();
    theme = Theme{};
    KeyedFileRead result = read_theme(default_theme_path(), theme);
    if (result == KeyedFileRead::unreadable || result == KeyedFileRead::wrong_header) {
        theme = Theme{};
        return true;
    }
    return false;
}

bool save_default_theme() {
    return write_theme(default_theme_path(), current_theme());
}

bool complete_theme_file_name(std::string& path) {
    auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    bool has_extension =
        path.size() > theme_extension.size() &&
        std::equal(theme_extension.begin(), theme_extension.end(),
                   path.end() - static_cast<std::ptrdiff_t>(theme_extension.size()),
                   [&](char a, char b) { return lower(a) == lower(b); });
    if (has_extension) return false;
    show_error("Theme files must have an extension of .theme");
    path += theme_extension;
    return true;
}

}  // namespace tessaly
