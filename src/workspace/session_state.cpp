#include "workspace/session_state.h"

#include <cmath>
#include <cstdlib>

#include "core/format.h"
#include "framework/registry.h"
#include "framework/settings_files.h"

namespace tessaly {

namespace {

// Scales and fractions only: a value the four-decimal writer cannot write back (a million or
// more) keeps the default.
void read_real_value(const ArgumentList& line, int index, double& value) {
    double read = 0.0;
    if (index < line.count() && !parse_real(line[index], read) && std::isfinite(read) &&
        std::fabs(read) < 1e6) {
        value = read;
    }
}

void read_string_value(const ArgumentList& line, int index, std::string& value) {
    if (index < line.count()) value = line[index];
}

void read_placement(const ArgumentList& line, WindowPlacement& w) {
    read_integer_values(line, 1,
                        {&w.flags, &w.show_state, &w.minimized_x, &w.minimized_y, &w.maximized_x,
                         &w.maximized_y, &w.left, &w.top, &w.right, &w.bottom});
}

std::string placement_line(std::string_view key, const WindowPlacement& w) {
    return formatted("%s %d %d %d %d %d %d %d %d %d %d", key, w.flags, w.show_state, w.minimized_x,
                     w.minimized_y, w.maximized_x, w.maximized_y, w.left, w.top, w.right, w.bottom);
}

std::string string_line(std::string_view key, const std::string& value) {
    return formatted("%s %s", key, quoted_text(value));
}

void read_session_line(const ArgumentList& line, SessionState& s,
                       std::vector<ArgumentList>& use_counts) {
    std::string_view key = line[0];
    // Keys with one integer.
    const std::pair<std::string_view, std::int32_t*> integers[] = {
        {"font_face_index", &s.font_face_index},
        {"border_color", &s.border_color},
        {"current_view", &s.current_view},
        {"mask_overlay_color", &s.mask_overlay_color},
        {"mask_transparency", &s.mask_transparency},
        {"mask_initial_display", &s.mask_initial_display},
        {"color_picker_colorspace", &s.color_picker_colorspace},
        {"color_picker_numberspace", &s.color_picker_numberspace},
        {"showclippedhighlights", &s.show_clipped_highlights},
        {"showclippedshadows", &s.show_clipped_shadows},
        {"hide_images", &s.hide_images},
        {"show_select", &s.show_select},
        {"measure_operation", &s.measure_operation},
        {"measure_units", &s.measure_units},
        {"horizontal_split", &s.horizontal_split},
        {"what_workspace_to_recover", &s.what_workspace_to_recover},
        {"clipping_color_space", &s.clipping_color_space},
        {"magnifier", &s.magnifier},
    };
    for (const auto& [name, field] : integers) {
        if (key == name) return read_integer_values(line, 1, {field});
    }
    const std::pair<std::string_view, std::string*> strings[] = {
        {"last_file_open_folder", &s.last_file_open_folder},
        {"last_file_save_folder", &s.last_file_save_folder},
        {"default_folder", &s.default_folder},
        {"prev_workspace", &s.prev_workspace},
        {"last_workspace", &s.last_workspace},
        {"current_snippet", &s.current_snippet},
        {"falloff_folder", &s.falloff_folder},
        {"distortion_folder", &s.distortion_folder},
        {"nik_folder", &s.nik_folder},
        {"topaz_folder", &s.topaz_folder},
        {"dxo_folder", &s.dxo_folder},
    };
    for (const auto& [name, field] : strings) {
        if (key == name) return read_string_value(line, 1, *field);
    }
    if (key == "openfile") {
        if (line.count() > 2) s.open_files.emplace_back(line[2]);
    } else if (key == "font_scale") {
        read_real_value(line, 1, s.font_scale);
    } else if (key == "separator") {
        read_real_value(line, 1, s.separator);
    } else if (key == "thumbnail_zoom_factor") {
        read_real_value(line, 1, s.thumbnail_zoom_factor);
    } else if (key == "window_placement") {
        read_placement(line, s.window_placement);
    } else if (key == "browser_window_placement") {
        read_placement(line, s.browser_window_placement.emplace());
    } else if (key == "preview_window_placement") {
        read_placement(line, s.preview_window_placement.emplace());
    } else if (key == "palette") {
        auto& p = s.palette;
        read_integer_values(line, 1, {&p[0], &p[1], &p[2], &p[3]});
    } else if (key == "readout") {
        auto& r = s.readout;
        read_integer_values(line, 1, {&r[0], &r[1], &r[2], &r[3], &r[4], &r[5], &r[6]});
    } else if (key == "histogram") {
        HistogramState& h = s.histogram;
        read_integer_values(line, 1, {&h.first, &h.second});
        read_real_value(line, 3, h.scale);
        read_integer_values(line, 4, {&h.fourth, &h.fifth});
    } else if (key == "no_file") {
        read_integer_values(line, 1, {&s.no_file.first, &s.no_file.second});
        read_string_value(line, 3, s.no_file.text);
    } else if (key == "use_count") {
        use_counts.push_back(line);
    }
}

}  // namespace

std::string_view interface_font(std::int32_t font_face_index) {
    if (font_face_index < 0 || font_face_index >= static_cast<std::int32_t>(interface_fonts.size()))
        return interface_fonts[0];
    return interface_fonts[static_cast<std::size_t>(font_face_index)];
}

std::string user_home_folder() {
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) : std::string("/");
}

SessionState& session_state() {
    static SessionState current;
    return current;
}

std::string session_state_path() {
    return settings_root() + "/Session State/Session.state";
}

std::vector<std::string> session_state_lines(const SessionState& s) {
    PlainSeparators plain;
    std::vector<std::string> lines;
    // The number before each path is its place in the list, from 1.
    for (std::size_t i = 0; i < s.open_files.size(); ++i)
        lines.push_back(formatted("openfile %d %s", i + 1, quoted_text(s.open_files[i])));
    const std::vector<std::string> middle = {
        formatted("font_scale %4f", s.font_scale),
        formatted("font_face_index %d", s.font_face_index),
        formatted("border_color %d", s.border_color),
        formatted("current_view %d", s.current_view),
        formatted("mask_overlay_color %d", s.mask_overlay_color),
        formatted("mask_transparency %d", s.mask_transparency),
        formatted("mask_initial_display %d", s.mask_initial_display),
        formatted("color_picker_colorspace %d", s.color_picker_colorspace),
        formatted("color_picker_numberspace %d", s.color_picker_numberspace),
        formatted("showclippedhighlights %d", s.show_clipped_highlights),
        formatted("showclippedshadows %d", s.show_clipped_shadows),
        formatted("hide_images %d", s.hide_images),
        formatted("show_select %d", s.show_select),
        formatted("measure_operation %d", s.measure_operation),
        formatted("measure_units %d", s.measure_units),
        formatted("horizontal_split %d", s.horizontal_split),
        formatted("separator %4f", s.separator),
        formatted("thumbnail_zoom_factor %4f", s.thumbnail_zoom_factor),
        string_line("last_file_open_folder", s.last_file_open_folder),
        string_line("last_file_save_folder", s.last_file_save_folder),
        string_line("default_folder", s.default_folder),
        string_line("prev_workspace", s.prev_workspace),
        string_line("last_workspace", s.last_workspace),
        string_line("current_snippet", s.current_snippet),
        string_line("falloff_folder", s.falloff_folder),
        string_line("distortion_folder", s.distortion_folder),
        formatted("what_workspace_to_recover %d", s.what_workspace_to_recover),
        formatted("clipping_color_space %d", s.clipping_color_space),
        placement_line("window_placement", s.window_placement),
    };
    lines.insert(lines.end(), middle.begin(), middle.end());
    if (s.browser_window_placement)
        lines.push_back(placement_line("browser_window_placement", *s.browser_window_placement));
    if (s.preview_window_placement)
        lines.push_back(placement_line("preview_window_placement", *s.preview_window_placement));
    const auto& p = s.palette;
    const auto& r = s.readout;
    const HistogramState& h = s.histogram;
    const std::vector<std::string> tail = {
        formatted("palette %d %d %d %d", p[0], p[1], p[2], p[3]),
        formatted("readout %d %d %d %d %d %d %d", r[0], r[1], r[2], r[3], r[4], r[5], r[6]),
        formatted("magnifier %d", s.magnifier),
        formatted("histogram %d %d %4zf %d %d", h.first, h.second, h.scale, h.fourth, h.fifth),
        formatted("no_file %d %d %s", s.no_file.first, s.no_file.second,
                  quoted_text(s.no_file.text)),
        string_line("nik_folder", s.nik_folder),
        string_line("topaz_folder", s.topaz_folder),
        string_line("dxo_folder", s.dxo_folder),
    };
    lines.insert(lines.end(), tail.begin(), tail.end());
    for (std::string& l : use_count_lines()) lines.push_back(std::move(l));
    return lines;
}

KeyedFileRead read_session_state(const std::string& path, SessionState& session) {
    // The counts are applied only once the header has read, so that a damaged file leaves the
    // registry as it was.
    std::vector<ArgumentList> counts;
    KeyedFileRead result = read_keyed_file(path, "Session", [&](const ArgumentList& line) {
        read_session_line(line, session, counts);
    });
    if (result == KeyedFileRead::read) {
        reset_use_counts();
        UseCountReader reader;
        for (const ArgumentList& line : counts) reader.line(line);
        reader.finish();
    }
    return result;
}

bool write_session_state(const std::string& path, const SessionState& session) {
    return write_keyed_file(path, "Session", session_state_lines(session));
}

bool load_session_state() {
    SessionState& s = session_state();
    s = SessionState();
    KeyedFileRead result = read_session_state(session_state_path(), s);
    if (result == KeyedFileRead::unreadable || result == KeyedFileRead::wrong_header) {
        s = SessionState();
        return true;
    }
    return false;
}

bool save_session_state() {
    return write_session_state(session_state_path(), session_state());
}

}  // namespace tessaly
