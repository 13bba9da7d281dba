// Between the start of the process and its end: the folders, the saved state loaded at start,
// the processing of the program's command line, the autosave rotation with its crash recovery
// copy, and what is kept at exit.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "framework/node.h"

namespace tessaly {

// <settings root>/Workspace Scripts and <local data folder>/Crash Recovery.workspace.
std::string workspace_scripts_folder();
std::string crash_recovery_file();
// Creates the settings root, the local data folder and the Workspace Scripts folder.
void create_program_folders();

// Installs the workspace writers into the layers below: the autosave and "save workspace as"
// of tree edits, the snippet writer and the companion files of saved images.
void install_workspace_hooks();

// Rotates Autosave.workspace .. Autosave4.workspace (the five newest, newest first), saves the
// whole workspace as Autosave.workspace and copies it to the crash recovery file. Only when an
// image is open.
void autosave_workspace();

// The exit-when-done switch of the command line.
bool exit_when_done();
void set_exit_when_done(bool on);

// Opens a file as a new top level image (a File Open node captioned with the file name) and
// runs it. The node, also when reading failed (it then carries the error).
Node* open_top_level_image(const std::string& path);
// The folder of the image last opened from the command line or a dialog.
const std::string& last_file_open_folder();
void set_last_file_open_folder(const std::string& folder);

// One token of the command line: exit_when_done (any case), a ".script" or ".workspace" file
// (loaded and run), or an image file (opened as a new top level image). true when it failed.
bool process_command_token(const std::string& token);
// Splits the text into tokens (quoted names may hold blanks), processes each and autosaves when
// an image is open afterwards. true when any token failed.
bool process_command_line(std::string_view text);

// A second instance hands its command line to the running one through the file "cmdline" in
// the settings root (UTF-16 with its terminating zero); the running one processes it and
// deletes the file. true on failure.
bool hand_over_command_line(std::string_view text);
bool process_handed_over_command_line();

// The file chosen in the workspace recovery dialog: a ".workspace" loads as a workspace, a
// ".script" as a script, anything else is refused ("Illegal script pathname: %s"); an autosave
// follows a successful load. true on failure.
bool load_recovery_choice(const std::string& path);

// Loading the saved state at start-up: the theme, the preferences of the last session (with
// the use counts), the script-loading policy they set and the colour management settings. Each failure only resets to defaults
// after its message.
void load_saved_state();
// Hands the preferences to the modules that follow them (the script loader's questions).
void apply_preferences();
// The start-up question after an abnormal end: restores the last autosave when the person
// agrees. true when a workspace was restored.
bool offer_crash_recovery();

// At exit: keeps the workspace as "Previous.workspace" when images are open, saves the
// preferences and the session state (open files, folders, use counts) and deletes the crash
// recovery file (the session ended normally).
void finish_session();

}  // namespace tessaly
