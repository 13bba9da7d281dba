// The colour management settings: one process-wide record naming the profile of every role by
// file name (found in the profile folders), the mismatch policies and the monitor, proofing and
// calibration choices.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

// Mismatch policies.
enum : std::int32_t { mismatch_ask = 0, mismatch_convert = 1, mismatch_keep = 2 };

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
};

ColorManagementSettings& color_settings();

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
