// The profiles in memory: the raw bytes of every profile role the settings name, validated when
// the settings are applied. The working profiles and the enabled flag are handed on to the image
// core, so that its colour-managed conversions follow the settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "color/color_settings.h"
#include "color/display.h"
#include "core/image_convert.h"

namespace tessaly {

enum class ProfileRole : int {
    rgb_working,   // wcsprofile
    gray_working,  // gray_wcsprofile
    assumed_rgb,   // acsprofile: files without a profile
    assumed_gray,  // gray_acsprofile
    camera_rgb,    // arprofile: camera raw files without a profile
    camera_gray,   // gray_arprofile
    monitor,       // monitorprofile
    proofing,      // proofprofile
};
constexpr int profile_role_count = 8;

// The name of a role in messages: "working color space profile", "gray working color space
// profile", "assumed RGB color space profile", "assumed gray color space profile", "assumed RGB
// camera profile", "assumed gray camera profile", "monitor profile", "proofing device profile".
const char* profile_role_name(ProfileRole role);
// The settings' file name of a role.
const std::string& profile_role_setting(const ColorManagementSettings& settings, ProfileRole role);

// What is wrong with profile bytes for a role, as the message shown ("Working color space
// profile is not a monitor profile", "Monitor profile is not an RGB profile", ...; bytes that do
// not parse: "Error reading <role name>", for the monitor "Invalid monitor profile"); "" when
// the profile fits.
std::string profile_role_problem(ProfileRole role, const std::uint8_t* bytes, std::uint32_t size);

// Reads and validates the profile a role names: the bytes, or true after the message ("Cannot
// locate <role name>" for a missing file, "Error reading <role name>" for one that does not
// read, or the validation message). A name that names no profile gives empty bytes and false.
bool load_role_profile(ProfileRole role, const std::string& name, std::vector<std::uint8_t>& bytes);

// Makes settings the settings in force: every named profile is read and validated (failures
// show their message and leave that role unset), the monitor curves are loaded when calibration
// is enabled, and the image core gets the working profiles and the enabled flag.
void apply_color_settings(const ColorManagementSettings& settings);
// The same for the record as it stands (color_settings()).
void apply_color_settings();

// A role's profile in memory ({nullptr, 0} when unset) and its description ("" when unset).
ProfileBytes role_profile(ProfileRole role);
const std::string& role_profile_description(ProfileRole role);
bool role_profile_set(ProfileRole role);

// What the display path needs of the settings in force: colour management on, the monitor and
// proofing profiles in memory, the current display intent (the monitor proofing rendering intent
// while proofing is on, else the monitor rendering intent) and the gamut alarm. Proofing counts
// only when a proofing profile is set.
DisplaySettings current_display_settings(bool proofing_enabled);

// Forgets every profile in memory and hands the core no working profiles and colour management
// off (tests).
void clear_color_profiles();

}  // namespace tessaly
