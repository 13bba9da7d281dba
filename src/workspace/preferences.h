// The user's preferences ("Preferences/Settings.Preferences"), and the line format shared with
// the session state and theme files: a first line "<keyword> 1.0", then one key per line
// followed by its values, then "end".
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/arguments.h"
#include "fileio/save_options.h"

namespace tessaly {

// ---- The shared line format ----

// How reading one of the three files went. A missing file is not an error (every value keeps
// its default); a file that exists but cannot be read or decoded, and a first line that is not
// exactly "<keyword> <version>", are: the caller resets to the defaults and says so.
enum class KeyedFileRead { read, missing, unreadable, wrong_header };

// Reads the header (the version checked against 1.0 under the keyword, a mismatch only warns),
// then hands each following line to `line` until "end" or the end of the file. Plain separators
// are held throughout.
KeyedFileRead read_keyed_file(const std::string& path, std::string_view keyword,
                              const std::function<void(const ArgumentList&)>& line);

// Writes "<keyword> 1.0", the lines and "end" (BOM, CR LF, through a temporary file), creating
// the folder when it is missing. true on failure; no message, since these files are skipped
// silently when they cannot be written.
[[nodiscard]] bool write_keyed_file(const std::string& path, std::string_view keyword,
                                    const std::vector<std::string>& lines);

// The integers of a line from token `first` on; values missing at its end or not readable keep
// theirs.
void read_integer_values(const ArgumentList& line, int first,
                         std::initializer_list<std::int32_t*> values);

// A colour of the interface: 8-bit components (0..255), red first.
struct ShellColor {
    std::int32_t red = 0;
    std::int32_t green = 0;
    std::int32_t blue = 0;
    friend bool operator==(const ShellColor&, const ShellColor&) = default;
};

// ---- Preferences ----

// Every key of the preferences file with its default. The save options written in the same file
// are the file layer's record (save_options()); they are read and written alongside.
struct Preferences {
    std::int32_t border_width = 16;                  // border_color, first value
    ShellColor border_color{64, 64, 64};             // written as fractions of 255
    ShellColor workspace_background{128, 128, 128};  // written as fractions of 255
    std::int32_t default_units = 0;                  // defaultunits
    std::int32_t display_full_path_name = 0;         // displayfullpathname
    std::int32_t silent = 0;
    std::int32_t use_tablet = 1;
    std::int32_t text_delay = 2000;         // milliseconds
    std::int32_t clipped_shadows_show = 0;  // clippedshadows
    ShellColor clipped_shadows_color{255, 255, 255};
    std::int32_t clipped_highlights_show = 255;  // clippedhighlights (non-zero shows them)
    ShellColor clipped_highlights_color{0, 0, 0};
    std::int32_t smooth_zoom = 0;
    std::int32_t hide_progress_bars = 0;
    std::int32_t on_separator_move = 1;
    std::int32_t on_zoom_to_fit = 0;
    std::int32_t restore_workspace_file = 0;  // also read as restore_workspace
    std::int32_t save_workspace_file = 1;     // also read as save_workspace
    std::int32_t save_workspace_file_on_close_all = 1;
    std::int32_t ask_on_workspace_script_load = 1;
    std::int32_t ask_on_script_load = 0;
    std::int32_t ignore_cm_changes = 0;
    std::int32_t script_images = 1;
    std::int32_t initial_dialog_position = 0;
    std::int32_t recent_files = 10;         // number of recent files kept
    std::int32_t recent_files_in_menu = 0;  // 1: listed directly in the File menu
    std::array<std::int32_t, 5> curve_options{0, 0, 10, 1, 3};
    std::int32_t warn_if_larger_than = 20000;  // read from older files, no longer written

    friend bool operator==(const Preferences&, const Preferences&) = default;
};

// The preferences of this run.
Preferences& preferences();

// <settings root>/Preferences/Settings.Preferences and .../Settings.Temp.
std::string preferences_path();
std::string preferences_temp_path();

// The lines of the file between its header and "end", in the order written.
std::vector<std::string> preferences_lines(const Preferences& preferences,
                                           const SaveOptions& options);

// Reads a preferences file over the given records: keys absent from the file keep the values
// already there (start from Preferences{} and SaveOptions{} for the defaults).
KeyedFileRead read_preferences(const std::string& path, Preferences& preferences,
                               SaveOptions& options);
// true on failure (nothing shown).
[[nodiscard]] bool write_preferences(const std::string& path, const Preferences& preferences,
                                     const SaveOptions& options);

// Start-up: preferences() and save_options() are set to their defaults, then read from
// Settings.Preferences, then from Settings.Temp when it exists, which is deleted afterwards.
// true when Settings.Preferences exists but cannot be read or has a wrong first line: every
// value is then back at its default and the caller shows last_session_load_error. A damaged
// Settings.Temp is only deleted, since the saved preferences are still good.
[[nodiscard]] bool load_preferences();
// Writes preferences() and save_options() to Settings.Preferences; true on failure, which the
// program ignores (the file is skipped silently).
[[nodiscard]] bool save_preferences();

// What start-up shows when the preferences or the session state could not be loaded.
inline constexpr std::string_view last_session_load_error =
    "Error loading settings from last session.\nSettings reset to defaults.";

}  // namespace tessaly
