// Where Tessaly keeps its settings, and the per-transformation settings files ("Default",
// "Previous" and names of the user's): one folder per transformation under the settings root,
// each file the UTF-8 byte-order mark and one command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/arguments.h"

namespace tessaly {

// The settings root: $TESSALY_SETTINGS_ROOT when set; else the "Settings" folder beside the
// program when it exists (portable use); else the Documents folder ($XDG_DOCUMENTS_DIR, else
// ~/Documents) + "/Tessaly". Chosen once (at start-up) unless set explicitly.
const std::string& settings_root();
void set_settings_root(const std::string& folder);
// The local data folder: the portable "Settings" folder, else $XDG_DATA_HOME (else
// ~/.local/share) + "/Tessaly"; $TESSALY_SETTINGS_ROOT overrides it too.
const std::string& local_data_folder();
// The program's version string, "Tessaly <major>.<minor>.<patch>".
std::string version_string();
// The folder of the running program (for the portable "Settings" folder and tools beside it).
std::string program_folder();
// Forgets the chosen folders so that the next call chooses again (tests).
void reset_settings_folders();

// The name and extension a transformation's settings files use: mostly its display name and
// ".<display name in lowercase>" ("Add Border", ".add border"; "Rotate-Mirror", ".rotate mirror").
struct SettingsName {
    std::string name;       // the folder and the name in titles and messages
    std::string extension;  // with its leading point
};

// <root>/<name>/<file name><extension>; the folder is created when missing.
std::string settings_path(const SettingsName& which, std::string_view file_name);
bool settings_exist(const SettingsName& which, std::string_view file_name);

// Loads a settings file: with no file name, asks for one ("Load <name> Settings"). The command
// line's first token must be keyword ("Settings file %s - command line starts with wrong
// command: %s"). A file that cannot be opened fails silently. No value on failure.
std::optional<ArgumentList> load_settings(std::string_view keyword,
                                          std::optional<std::string> file_name,
                                          const SettingsName& which);
// Saves a command line: with no file name, asks for one ("Save <name> Settings"), insisting on
// the extension. true on failure.
bool save_settings(std::string_view command_line, std::optional<std::string> file_name,
                   const SettingsName& which);
// Deletes "Default".
void clear_default(const SettingsName& which);

// Reads a settings file of any accepted encoding into a command line; true on failure.
bool read_settings_file(const std::string& path, std::string& command_line);
// Writes BOM + the command line, no line end, through a temporary file; true on failure.
bool write_settings_file(const std::string& path, std::string_view command_line);

}  // namespace tessaly
