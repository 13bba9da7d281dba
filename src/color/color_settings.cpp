#include "color/color_settings.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "color/profiles.h"
#include "core/format.h"
#include "core/interaction.h"
#include "core/text_file.h"
#include "framework/settings_files.h"

namespace tessaly {

namespace fs = std::filesystem;

namespace {

std::vector<std::string>& extra_folders() {
    static std::vector<std::string> folders;
    return folders;
}

std::string home_folder() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

constexpr std::string_view file_tag = "ColorManagement";
constexpr double file_version = 1.0;
constexpr std::size_t name_capacity = 4096;

MonitorProfileQuery installed_query = nullptr;

// A profile name as written: "None" for no profile.
std::string written_name(const std::string& name) {
    return quoted_text(names_profile(name) ? name : std::string("None"));
}

void read_name(const ArgumentList& line, int index, std::string& name) {
    if (index >= line.count()) return;
    std::string_view token = line[index];
    // Cut at a character boundary, as every stored text is.
    std::size_t characters = 0, end = 0;
    for (; end < token.size(); ++end) {
        if ((static_cast<unsigned char>(token[end]) & 0xc0) != 0x80) {
            if (characters == name_capacity) break;
            ++characters;
        }
    }
    name.assign(token.substr(0, end));
    if (name == "None") name.clear();
}

// Reads the integer at index when it is within first..last; anything else keeps the value.
void read_ranged(const ArgumentList& line, int index, std::int32_t& value, std::int32_t first,
                 std::int32_t last) {
    std::int32_t v = 0;
    if (index >= line.count() || parse_integer(line[index], v)) return;
    if (v >= first && v <= last) value = v;
}

// Policies above 2 count as 0, as they do in scripts.
void read_policy(const ArgumentList& line, std::int32_t& policy) {
    std::int32_t v = 0;
    if (line.count() < 2 || parse_integer(line[1], v)) return;
    policy = v >= 0 && v <= 2 ? v : mismatch_ask;
}

void read_settings_line(const ArgumentList& line, ColorManagementSettings& c) {
    std::string_view key = line[0];
    constexpr std::int32_t last_intent = 4;
    if (key == "enabled") {
        read_ranged(line, 1, c.enabled, 0, 1);
    } else if (key == "wcsprofile") {
        read_name(line, 1, c.wcs_profile);
    } else if (key == "gray_wcsprofile") {
        read_name(line, 1, c.gray_wcs_profile);
    } else if (key == "acsprofile") {
        read_name(line, 1, c.acs_profile);
    } else if (key == "gray_acsprofile") {
        read_name(line, 1, c.gray_acs_profile);
    } else if (key == "arprofile") {
        read_name(line, 1, c.ar_profile);
    } else if (key == "gray_arprofile") {
        read_name(line, 1, c.gray_ar_profile);
    } else if (key == "onmismatch") {
        read_policy(line, c.on_mismatch);
    } else if (key == "onbatchmismatch") {
        read_policy(line, c.on_batch_mismatch);
    } else if (key == "onmultiplemismatch") {
        read_policy(line, c.on_multiple_mismatch);
    } else if (key == "monitorprofile") {
        read_name(line, 1, c.monitor_profile);
        read_ranged(line, 2, c.monitor_intent, 0, last_intent);
        read_ranged(line, 3, c.monitor_proof_intent, 0, last_intent);
        read_ranged(line, 4, c.monitor_on_startup, monitor_from_system, monitor_named);
    } else if (key == "cm_thumbnails") {
        read_ranged(line, 1, c.cm_thumbnails, 0, 1);
    } else if (key == "proofprofile") {
        read_name(line, 1, c.proof_profile);
        read_ranged(line, 2, c.proof_intent, 0, last_intent);
    } else if (key == "gamutalarm") {
        read_ranged(line, 1, c.gamut_alarm, 0, 1);
    } else if (key == "gamutalarmcolor") {
        for (int i = 0; i < 3; ++i) read_ranged(line, 1 + i, c.gamut_alarm_color[i], 0, 255);
    } else if (key == "monitorcurves") {
        read_name(line, 1, c.monitor_curves_file);
        read_ranged(line, 2, c.monitor_curves_enabled, 0, 1);
    }
}

// Named but absent profiles are reported and left unset.
void drop_missing(ColorManagementSettings& c) {
    auto check = [](std::string& name, const char* message) {
        if (names_profile(name) && find_profile_file(name).empty()) {
            show_error(message, name);
            name.clear();
        }
    };
    check(c.wcs_profile, "Cannot find color working space profile: %s");
    check(c.gray_wcs_profile, "Cannot find gray working space profile: %s");
    check(c.acs_profile, "Cannot find assumed color profile: %s");
    check(c.gray_acs_profile, "Cannot find assumed gray profile: %s");
    check(c.ar_profile, "Cannot find assumed camera profile: %s");
    check(c.gray_ar_profile, "Cannot find assumed gray camera profile: %s");
    // With the on-startup choice 0 the system's profile replaces the name at start-up.
    if (c.monitor_on_startup == monitor_named) {
        check(c.monitor_profile, "Monitor profile not found: %s");
    }
    check(c.proof_profile, "Cannot find proofing profile: %s");
    check(c.monitor_curves_file, "Cannot locate monitor curves file: %s");
}

std::string lowercase(std::string_view s) {
    std::string out(s);
    for (char& ch : out) {
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    return out;
}

void ensure_settings_profile_folder() {
    const std::string folder = color_settings_folder();
    for (const std::string& f : profile_folders()) {
        if (f == folder) return;
    }
    add_profile_folder(folder);
}

SystemMonitorProfile default_monitor_query() {
    SystemMonitorProfile out;
    std::string data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        data = xdg;
    } else if (std::string home = home_folder(); !home.empty()) {
        data = home + "/.local/share";
    } else {
        return out;
    }
    const fs::path folder = fs::path(data) / "icc";
    std::error_code ec;
    if (!fs::exists(folder, ec)) return out;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        out.result = SystemMonitorProfile::Result::error;
        return out;
    }
    int found = 0;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("edid-", 0) == 0 && lowercase(it->path().extension().string()) == ".icc" &&
            it->is_regular_file(ec)) {
            ++found;
            out.path = it->path().string();
        }
    }
    if (ec) {
        out = {};
        out.result = SystemMonitorProfile::Result::error;
    } else if (found == 1) {
        out.result = SystemMonitorProfile::Result::found;
    } else {
        out.path.clear();
    }
    return out;
}

}  // namespace

ColorManagementSettings& color_settings() {
    static ColorManagementSettings settings;
    return settings;
}

std::vector<std::string> profile_folders() {
    std::vector<std::string> folders = extra_folders();
    folders.push_back("/usr/share/color/icc");
    std::string home = home_folder();
    if (!home.empty()) {
        folders.push_back(home + "/.local/share/icc");
        folders.push_back(home + "/.color/icc");
    }
    return folders;
}

void add_profile_folder(const std::string& folder) {
    extra_folders().insert(extra_folders().begin(), folder);
}

void reset_profile_folders() {
    extra_folders().clear();
}

bool names_profile(const std::string& name) {
    return !name.empty() && name != "None";
}

std::string find_profile_file(const std::string& name) {
    if (!names_profile(name)) return {};
    std::error_code ec;
    if (name.find('/') != std::string::npos) {
        return fs::is_regular_file(name, ec) ? name : std::string();
    }
    for (const std::string& folder : profile_folders()) {
        fs::path direct = fs::path(folder) / name;
        if (fs::is_regular_file(direct, ec)) return direct.string();
        if (!fs::is_directory(folder, ec)) continue;
        // Distribution packages keep their profiles in subfolders of the profile folder.
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->path().filename() == name && it->is_regular_file(ec))
                return it->path().string();
        }
        ec.clear();
    }
    return {};
}

// --- the settings file ---

std::vector<std::string> color_settings_lines(const ColorManagementSettings& c) {
    PlainSeparators plain;
    return {
        formatted("enabled %d", c.enabled),
        formatted("wcsprofile %s", written_name(c.wcs_profile)),
        formatted("gray_wcsprofile %s", written_name(c.gray_wcs_profile)),
        formatted("acsprofile %s", written_name(c.acs_profile)),
        formatted("gray_acsprofile %s", written_name(c.gray_acs_profile)),
        formatted("arprofile %s", written_name(c.ar_profile)),
        formatted("gray_arprofile %s", written_name(c.gray_ar_profile)),
        formatted("onmismatch %d", c.on_mismatch),
        formatted("onbatchmismatch %d", c.on_batch_mismatch),
        formatted("onmultiplemismatch %d", c.on_multiple_mismatch),
        formatted("monitorprofile %s %d %d %d", written_name(c.monitor_profile), c.monitor_intent,
                  c.monitor_proof_intent, c.monitor_on_startup),
        formatted("cm_thumbnails %d", c.cm_thumbnails),
        formatted("proofprofile %s %d", written_name(c.proof_profile), c.proof_intent),
        formatted("gamutalarm %d", c.gamut_alarm),
        formatted("gamutalarmcolor %d %d %d", c.gamut_alarm_color[0], c.gamut_alarm_color[1],
                  c.gamut_alarm_color[2]),
        // The monitor curves file is not a profile: an unset one is written empty.
        formatted("monitorcurves %s %d", quoted_text(c.monitor_curves_file),
                  c.monitor_curves_enabled),
    };
}

bool write_color_settings_file(const std::string& path, const ColorManagementSettings& settings) {
    std::error_code ec;
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty()) fs::create_directories(folder, ec);
    LineWriter writer;
    writer.line(formatted("%s 1.0", file_tag));
    for (const std::string& line : color_settings_lines(settings)) writer.line(line);
    writer.line("end");
    if (writer.save(path)) {
        show_error("Cannot create color management settings file: %s", path);
        return true;
    }
    return false;
}

bool read_color_settings_file(const std::string& path, ColorManagementSettings& settings) {
    PlainSeparators plain;
    std::string bytes, text;
    if (read_file_bytes(path, bytes)) {
        show_error("Cannot open color management settings file: %s", path);
        return true;
    }
    LineReader reader;
    if (decode_text(bytes, text)) {
        show_error("Cannot read color management settings file: %s", path);
        return true;
    }
    reader.open_text(text);
    // A newer file is read with the version check's warning; its unknown lines are ignored.
    if (read_versioned_header(reader, file_tag, file_version, "Color management settings", false)) {
        show_error("Cannot read color management settings file: %s", path);
        return true;
    }
    ColorManagementSettings read = settings;
    ArgumentList line;
    while (reader.next(line)) {
        if (line[0] == "end") break;
        read_settings_line(line, read);
    }
    drop_missing(read);
    settings = read;
    return false;
}

bool check_color_settings_extension(const std::string& path) {
    const std::string ext(color_settings_extension);
    if (path.size() > ext.size() && lowercase(path.substr(path.size() - ext.size())) == ext) {
        return false;
    }
    show_error("Color management settings files must have an extension of .color management");
    return true;
}

std::string color_settings_folder() {
    return settings_root() + "/Color Management";
}

std::string color_settings_path() {
    return color_settings_folder() + "/Settings.Color Management";
}

bool load_color_settings(bool query_system_monitor) {
    ensure_settings_profile_folder();
    ColorManagementSettings settings;
    bool failed = false;
    std::error_code ec;
    if (fs::exists(color_settings_path(), ec)) {
        failed = read_color_settings_file(color_settings_path(), settings);
        if (failed) settings = ColorManagementSettings{};
    }
    if (query_system_monitor && settings.monitor_on_startup == monitor_from_system) {
        take_system_monitor_profile(settings);
    }
    apply_color_settings(settings);
    return failed;
}

bool save_color_settings() {
    return write_color_settings_file(color_settings_path(), color_settings());
}

// --- the settings dialog ---

bool load_color_settings_as(ColorManagementSettings& settings) {
    FileChoice choice;
    choice.title = "Load Color Management Settings";
    choice.filter_name = "Color Management Settings";
    choice.patterns = {"*.color management"};
    choice.folder = color_settings_folder();
    std::optional<std::string> path = interaction().choose_open_file(choice);
    if (!path) return true;
    if (check_color_settings_extension(*path)) return true;
    return read_color_settings_file(*path, settings);
}

bool save_color_settings_as(const ColorManagementSettings& settings) {
    FileChoice choice;
    choice.title = "Save Color Management Settings";
    choice.filter_name = "Color Management Settings";
    choice.patterns = {"*.color management"};
    choice.folder = color_settings_folder();
    for (;;) {
        std::optional<std::string> path = interaction().choose_save_file(choice);
        if (!path) return true;
        if (check_color_settings_extension(*path)) continue;
        return write_color_settings_file(*path, settings);
    }
}

bool leave_color_settings_dialog(const ColorManagementSettings& edited, bool cancelled) {
    if (edited == color_settings()) return false;
    bool retain;
    if (cancelled) {
        retain = interaction().ask("Alert",
                                   "Abandon modified settings?.\nClick Yes to revert to previous "
                                   "settings.\nClick No to retain new settings.",
                                   Buttons::yes_no, Answer::yes) == Answer::no;
    } else {
        retain = interaction().ask("Alert",
                                   "Retain modified color management settings?.\nClick Yes to "
                                   "retain new settings.\nClick No to revert to previous settings.",
                                   Buttons::yes_no, Answer::yes) == Answer::yes;
    }
    if (!retain) return false;
    apply_color_settings(edited);
    (void)save_color_settings();
    return true;
}

// --- the system's monitor profile ---

void set_monitor_profile_query(MonitorProfileQuery query) {
    installed_query = query;
}

SystemMonitorProfile query_system_monitor_profile() {
    return installed_query ? installed_query() : default_monitor_query();
}

void take_system_monitor_profile(ColorManagementSettings& settings) {
    SystemMonitorProfile system = query_system_monitor_profile();
    switch (system.result) {
        case SystemMonitorProfile::Result::found:
            settings.monitor_profile = system.path;
            return;
        case SystemMonitorProfile::Result::error:
            show_error("Error retrieving system monitor profile name");
            break;
        case SystemMonitorProfile::Result::none:
            show_warning("No system monitor profile defined");
            break;
    }
    settings.monitor_on_startup = monitor_named;
    if (names_profile(settings.monitor_profile) &&
        find_profile_file(settings.monitor_profile).empty()) {
        show_error("Monitor profile not found: %s", settings.monitor_profile);
        settings.monitor_profile.clear();
    }
}

}  // namespace tessaly
