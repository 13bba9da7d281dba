// The session state ("Session State/Session.state"): what the program was showing at its last
// exit (window placements, folders, display toggles, the open files) and how often each
// transformation has been used. Rewritten at every exit, read at start-up.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/preferences.h"

namespace tessaly {

// The ten values of a window placement: flags, show state, minimised position, maximised
// position, and the rectangle of the normal (restored) window.
struct WindowPlacement {
    std::int32_t flags = 0;
    std::int32_t show_state = 1;  // normal
    std::int32_t minimized_x = -1;
    std::int32_t minimized_y = -1;
    std::int32_t maximized_x = -1;
    std::int32_t maximized_y = -1;
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 1280;
    std::int32_t bottom = 800;
    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// The fonts offered for the interface, in the order font_face_index counts them.
inline constexpr std::array<std::string_view, 7> interface_fonts = {
    "Tahoma", "Times New Roman", "Calibri", "Cambria", "Segoe UI", "Verdana", "Arial"};
// The font of an index; an index out of range gives the first one.
std::string_view interface_font(std::int32_t font_face_index);

// The histogram window's values, in the order written; the window gives them their roles.
struct HistogramState {
    std::int32_t first = 0;
    std::int32_t second = 0;
    double scale = 1.0;
    std::int32_t fourth = 0;
    std::int32_t fifth = 0;
    friend bool operator==(const HistogramState&, const HistogramState&) = default;
};

// The "no_file" line's two numbers and text.
struct NoFileState {
    std::int32_t first = 0;
    std::int32_t second = 0;
    std::string text;
    friend bool operator==(const NoFileState&, const NoFileState&) = default;
};

// The user's home folder ($HOME, else "/"): where file dialogs start before anything was chosen.
std::string user_home_folder();

// Every line of the session file, in the order written. The use counts are not kept here: they
// live in the transformation registry and are written from it.
//
// Folders the program had as drive paths start in the home folder on Linux. The plug-in
// folders default to where the vendors' packages would install under /opt; nothing in the
// program depends on them existing.
struct SessionState {
    std::vector<std::string> open_files;  // the images open at exit, in order
    double font_scale = 1.0;
    std::int32_t font_face_index = 0;  // interface_fonts
    std::int32_t border_color = 0;
    std::int32_t current_view = 0;
    std::int32_t mask_overlay_color = 0;  // red
    std::int32_t mask_transparency = 2;   // 50%
    std::int32_t mask_initial_display = 2;
    std::int32_t color_picker_colorspace = 0;
    std::int32_t color_picker_numberspace = 0;
    std::int32_t show_clipped_highlights = 0;
    std::int32_t show_clipped_shadows = 0;
    std::int32_t hide_images = 0;
    std::int32_t show_select = 0;
    std::int32_t measure_operation = 0;
    std::int32_t measure_units = 0;
    std::int32_t horizontal_split = 0;
    double separator = 0.5;  // fraction of the browser pane
    double thumbnail_zoom_factor = 1.0;
    std::string last_file_open_folder = user_home_folder();
    std::string last_file_save_folder = user_home_folder();
    std::string default_folder = user_home_folder();
    std::string prev_workspace;
    std::string last_workspace;
    std::string current_snippet;
    std::string falloff_folder;
    std::string distortion_folder;
    std::int32_t what_workspace_to_recover = 0;
    std::int32_t clipping_color_space = 0;
    WindowPlacement window_placement;
    std::optional<WindowPlacement> browser_window_placement;  // written only when present
    std::optional<WindowPlacement> preview_window_placement;  // written only when present
    std::array<std::int32_t, 4> palette{};
    std::array<std::int32_t, 7> readout{};
    std::int32_t magnifier = 0;
    HistogramState histogram;
    NoFileState no_file;
    std::string nik_folder = "/opt/DxO/Nik Collection";
    std::string topaz_folder = "/opt/Topaz Labs";
    std::string dxo_folder = "/opt/DxO Labs";

    friend bool operator==(const SessionState&, const SessionState&) = default;
};

// The session of this run.
SessionState& session_state();

// <settings root>/Session State/Session.state
std::string session_state_path();

// The lines between the header and "end": the session's, then the registry's use counts.
std::vector<std::string> session_state_lines(const SessionState& session);

// Reads a session file over the given record (absent keys keep their values). When the header
// reads, the registry's use counts are replaced by those of the file.
KeyedFileRead read_session_state(const std::string& path, SessionState& session);
// true on failure (nothing shown).
[[nodiscard]] bool write_session_state(const std::string& path, const SessionState& session);

// Start-up: session_state() is set to its defaults and read from the session file. true when
// the file exists but cannot be read or has a wrong first line: the session is then back at its
// defaults and the caller shows last_session_load_error.
[[nodiscard]] bool load_session_state();
// Exit: writes session_state() and the use counts; true on failure, which the program ignores.
[[nodiscard]] bool save_session_state();

}  // namespace tessaly
