// The colour theme of the interface: "Themes/Default.theme" holds the current one, and any
// ".theme" file can be loaded or saved from the Theme window.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/preferences.h"

namespace tessaly {

// The theme colours in the order the file writes them. The defaults, used when no
// Default.theme exists, are a neutral gray scheme: a mid-gray workspace (the same gray as the
// preferences' workspace background), darker browser and caption grays with light text, and
// light menus and Quick Pick buttons with black text.
struct Theme {
    ShellColor workspace_background{128, 128, 128};
    ShellColor image_browser_background{64, 64, 64};
    std::int32_t thumbnail_border_same_as_image = 1;  // "Thumbnail border follows image border"
    ShellColor thumbnail_border{32, 32, 32};
    ShellColor thumbnail_caption_background{80, 80, 80};
    ShellColor thumbnail_caption_text{224, 224, 224};
    ShellColor thumbnail_current_caption_background{176, 176, 176};
    ShellColor thumbnail_current_caption_text{0, 0, 0};
    ShellColor thumbnail_upstream_caption_background{112, 112, 112};
    ShellColor thumbnail_upstream_caption_text{240, 240, 240};
    ShellColor thumbnail_downstream_caption_background{48, 48, 48};
    ShellColor thumbnail_downstream_caption_text{208, 208, 208};
    ShellColor thumbnail_outline{200, 200, 200};
    ShellColor thumbnail_connector{160, 160, 160};
    ShellColor menu_background{240, 240, 240};
    ShellColor menu_text{0, 0, 0};
    ShellColor highlighted_menu_background{192, 192, 192};
    ShellColor highlighted_menu_text{0, 0, 0};
    ShellColor quick_pick_background{224, 224, 224};
    ShellColor quick_pick_button_background{240, 240, 240};
    ShellColor quick_pick_button_text{0, 0, 0};
    ShellColor quick_pick_grayed_button_background{224, 224, 224};
    ShellColor quick_pick_grayed_button_text{128, 128, 128};
    ShellColor quick_pick_unused_button_background{208, 208, 208};
    ShellColor quick_pick_unused_button_text{64, 64, 64};
    ShellColor depressed_button{96, 96, 96};

    friend bool operator==(const Theme&, const Theme&) = default;
};

// The theme of this run.
Theme& current_theme();

// <settings root>/Themes and <settings root>/Themes/Default.theme.
std::string themes_folder();
std::string default_theme_path();

inline constexpr std::string_view theme_extension = ".theme";

// The lines between the header and "end", in the order written.
std::vector<std::string> theme_lines(const Theme& theme);

// Reads any theme file over the given record (absent keys keep their values; components are
// clamped to 0..255).
KeyedFileRead read_theme(const std::string& path, Theme& theme);
// Writes a theme file, creating its folder; true on failure (nothing shown).
[[nodiscard]] bool write_theme(const std::string& path, const Theme& theme);

// Start-up: current_theme() is set to the defaults and read from Default.theme. true when the
// file exists but cannot be read or has a wrong first line: the theme is then back at its
// defaults and the caller shows theme_load_error.
[[nodiscard]] bool load_default_theme();
// Writes current_theme() to Default.theme; true on failure, which the program ignores.
[[nodiscard]] bool save_default_theme();

// The name chosen in "Save As...": one without the extension ".theme" (any case) shows "Theme
// files must have an extension of .theme" and gets the extension appended; the dialog is then
// shown again with it. Returns true when the name had to be completed.
bool complete_theme_file_name(std::string& path);

inline constexpr std::string_view theme_load_error =
    "Error loading theme.\nTheme settings reset to defaults.";

}  // namespace tessaly
