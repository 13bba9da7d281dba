// The colour management settings: one process-wide record naming the profile of every role by
// file name (found in the profile folders), the mismatch policies and the monitor, proofing and
// calibration choices.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// Mismatch policies ("On Profile Mismatch:", "Batch:", "Multiple:").
enum : std::int32_t { mismatch_ask = 0, mismatch_convert = 1, mismatch_keep = 2 };

// Monitor profile on start-up ("On Startup:"): 0 "Set Monitor Profile from System Settings",
// 1 "Ignore System Monitor Profile Settings".
enum : std::int32_t { monitor_from_system = 0, monitor_named = 1 };

struct ColorManagementSettings {
    // Off until the person chooses the working spaces; images then keep their own profiles.
    std::int32_t enabled = 0;
    std::string wcs_profile;  // RGB working colour space ("" or "None": none)
    std::string gray_wcs_profile;
    std::string acs_profile;  // assumed RGB file profile
    std::string gray_acs_profile;
    std::string ar_profile;  // assumed RGB camera profile
    std::string gray_ar_profile;
    std::int32_t on_mismatch = mismatch_ask;
    std::int32_t on_batch_mismatch = mismatch_ask;
    std::int32_t on_multiple_mismatch = mismatch_convert;
    std::string monitor_profile;
    std::int32_t monitor_intent = 0;
    std::int32_t monitor_proof_intent = 3;
    std::int32_t monitor_on_startup = 0;
    std::int32_t cm_thumbnails = 1;
    std::string proof_profile;
    std::int32_t proof_intent = 0;
    std::int32_t gamut_alarm = 0;
    std::int32_t gamut_alarm_color[3] = {255, 255, 0};
    std::string monitor_curves_file;
    std::int32_t monitor_curves_enabled = 0;

    bool operator==(const ColorManagementSettings&) const = default;
};

// The settings in force. Changing the record alone changes nothing else: apply_color_settings
// (profiles.h) loads and validates the profiles it names and hands them to the image core.
ColorManagementSettings& color_settings();

// --- The settings file "ColorManagement 1.0" ---
//
// One line per setting in a fixed order ("enabled 1", "wcsprofile ″sRGB.icc″", ...,
// "monitorcurves ″″ 0", "end"); a profile that is not set is written as ″None″. Reading takes
// the lines in any order, ignores unknown ones and keeps the record's value for absent ones.

inline constexpr std::string_view color_settings_extension = ".color management";

// The lines of a record, without the header and "end".
std::vector<std::string> color_settings_lines(const ColorManagementSettings& settings);
// Writes a settings file; "Cannot create color management settings file: %s" and true on
// failure.
bool write_color_settings_file(const std::string& path, const ColorManagementSettings& settings);
// Reads a settings file into settings (left unchanged on failure: "Cannot open color management
// settings file: %s" or "Cannot read color management settings file: %s"). Profiles named but
// absent are reported ("Cannot find color working space profile: %s" and its siblings,
// "Monitor profile not found: %s", "Cannot locate monitor curves file: %s") and left unset.
bool read_color_settings_file(const std::string& path, ColorManagementSettings& settings);
// "Color management settings files must have an extension of .color management" and true when
// the extension is another.
bool check_color_settings_extension(const std::string& path);

// The current settings file: <settings root>/Color Management/Settings.Color Management. The
// folder is also a profile folder, so that profiles and monitor curves files kept with the
// settings are found by name.
std::string color_settings_folder();
std::string color_settings_path();

// Start-up: reads the current settings file (defaults when there is none), takes the monitor
// profile from the system when the on-startup choice says so (query_system_monitor; a program
// without a display passes false) and applies the settings. True when the file exists but does
// not read; the settings are then the defaults, applied, and the caller shows its message.
bool load_color_settings(bool query_system_monitor = true);
// Saves the current settings as the current settings file; true (after the message) on failure.
bool save_color_settings();

// --- What the settings dialog ("Color Management Settings") uses; it edits a copy ---

// "Load...": asks for a ".color management" file and reads it into settings. True when nothing
// was loaded (cancelled or failed).
bool load_color_settings_as(ColorManagementSettings& settings);
// "Save As...": asks for a file name, insisting on the extension, and writes settings.
bool save_color_settings_as(const ColorManagementSettings& settings);
// Leaving the dialog with the edited copy: when it differs from the settings in force, asks
// "Retain modified color management settings?..." (closed with OK) or "Abandon modified
// settings?..." (cancelled). Retained settings are applied and saved as the current settings
// file. Returns true when the settings in force changed.
bool leave_color_settings_dialog(const ColorManagementSettings& edited, bool cancelled);

// --- The system's monitor profile ---
//
// Linux has no GetICMProfileW: the desktop program installs a query that asks the display
// (colord or the X11 _ICC_PROFILE atom). Until then the default query is a file lookup: the
// single display profile that colord / GNOME generate from the monitor's EDID as
// "edid-*.icc" in $XDG_DATA_HOME/icc (else ~/.local/share/icc); none or several give "none".
struct SystemMonitorProfile {
    enum class Result { found, none, error } result = Result::none;
    std::string path;  // found: the profile's full path
};
using MonitorProfileQuery = SystemMonitorProfile (*)();
void set_monitor_profile_query(MonitorProfileQuery query);  // nullptr: the default lookup
SystemMonitorProfile query_system_monitor_profile();
// The on-startup choice 0: the system's profile becomes the monitor profile; without one
// "No system monitor profile defined" (a warning: a person can do nothing about it at once,
// and the command-line program's exit status stays clean) and the choice becomes 1; a query
// that fails gives "Error retrieving system monitor profile name" and the choice becomes 1.
void take_system_monitor_profile(ColorManagementSettings& settings);

// Where profiles are looked for, in order: /usr/share/color/icc, ~/.local/share/icc,
// ~/.color/icc, and any folders added (tests, the settings root's own profiles).
std::vector<std::string> profile_folders();
void add_profile_folder(const std::string& folder);
void reset_profile_folders();

// A profile given by file name ("" and "None" name no profile): its full path, searched in the
// profile folders and their subfolders; "" when absent. A name with a folder is taken as a path.
std::string find_profile_file(const std::string& name);
bool names_profile(const std::string& name);

}  // namespace tessaly
