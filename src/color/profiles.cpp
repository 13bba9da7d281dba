#include "color/profiles.h"

#include <algorithm>
#include <filesystem>

#include "color/lcms_support.h"
#include "color/monitor_curves.h"
#include "core/format.h"
#include "core/text_file.h"

namespace tessaly {

namespace {

// Profiles larger than this are no colour profiles anyone uses; refusing them keeps a wrong
// file name from reading a whole disk image into memory.
constexpr std::uintmax_t largest_profile = 64u << 20;

struct HeldProfile {
    std::vector<std::uint8_t> bytes;
    std::string description;
};

HeldProfile held[profile_role_count];

HeldProfile& slot(ProfileRole role) {
    return held[static_cast<int>(role)];
}

struct RoleRule {
    const char* name;
    // Accepted device classes (0 ends the list; none listed: any class).
    cmsProfileClassSignature classes[3];
    const char* class_message;
    cmsColorSpaceSignature space;  // 0: any
    const char* space_message;
};

constexpr auto mntr = cmsSigDisplayClass;
constexpr auto spac = cmsSigColorSpaceClass;
constexpr auto scnr = cmsSigInputClass;
constexpr auto prtr = cmsSigOutputClass;
constexpr auto any_class = static_cast<cmsProfileClassSignature>(0);
constexpr auto any_space = static_cast<cmsColorSpaceSignature>(0);

const RoleRule rules[profile_role_count] = {
    {"working color space profile",
     {mntr, spac, any_class},
     "Working color space profile is not a monitor profile",
     cmsSigRgbData,
     "Working color space profile is not an RGB profile"},
    {"gray working color space profile",
     {mntr, spac, any_class},
     "Gray working color space profile is not a monitor profile",
     cmsSigGrayData,
     "Gray working color space profile is not a GRAY profile"},
    {"assumed RGB color space profile",
     {mntr, spac, scnr},
     "Assumed RGB color space profile is not a monitor or input profile",
     cmsSigRgbData,
     "Assumed RGB color space profile is not an RGB profile"},
    {"assumed gray color space profile",
     {mntr, spac, scnr},
     "Assumed gray color space profile is not a monitor or input profile",
     cmsSigGrayData,
     "Assumed gray color space profile is not a GRAY profile"},
    {"assumed RGB camera profile",
     {mntr, spac, scnr},
     "Assumed RGB camera profile is not a monitor or input profile",
     cmsSigRgbData,
     "Assumed RGB camera profile is not an RGB profile"},
    {"assumed gray camera profile",
     {mntr, spac, scnr},
     "Assumed gray camera profile is not a monitor or input profile",
     cmsSigGrayData,
     "Assumed gray camera profile is not a GRAY profile"},
    {"monitor profile",
     {any_class, any_class, any_class},
     nullptr,
     cmsSigRgbData,
     "Monitor profile is not an RGB profile"},
    {"proofing device profile",
     {prtr, mntr, any_class},
     "Proofing device profile is not a printer or monitor profile",
     any_space,
     nullptr},
};

const RoleRule& rule(ProfileRole role) {
    return rules[static_cast<int>(role)];
}

void hand_to_core(bool enabled) {
    const HeldProfile& rgb = slot(ProfileRole::rgb_working);
    const HeldProfile& gray = slot(ProfileRole::gray_working);
    set_rgb_working_profile(rgb.bytes.empty() ? nullptr : rgb.bytes.data(),
                            static_cast<std::uint32_t>(rgb.bytes.size()));
    set_gray_working_profile(gray.bytes.empty() ? nullptr : gray.bytes.data(),
                             static_cast<std::uint32_t>(gray.bytes.size()));
    set_color_management_enabled(enabled);
}

}  // namespace

const char* profile_role_name(ProfileRole role) {
    return rule(role).name;
}

const std::string& profile_role_setting(const ColorManagementSettings& c, ProfileRole role) {
    switch (role) {
        case ProfileRole::rgb_working:
            return c.wcs_profile;
        case ProfileRole::gray_working:
            return c.gray_wcs_profile;
        case ProfileRole::assumed_rgb:
            return c.acs_profile;
        case ProfileRole::assumed_gray:
            return c.gray_acs_profile;
        case ProfileRole::camera_rgb:
            return c.ar_profile;
        case ProfileRole::camera_gray:
            return c.gray_ar_profile;
        case ProfileRole::monitor:
            return c.monitor_profile;
        case ProfileRole::proofing:
        default:
            return c.proof_profile;
    }
}

std::string profile_role_problem(ProfileRole role, const std::uint8_t* bytes, std::uint32_t size) {
    const RoleRule& r = rule(role);
    ProfileHandle profile = open_profile(bytes, size);
    if (!profile) {
        if (role == ProfileRole::monitor) return "Invalid monitor profile";
        return formatted("Error reading %s", r.name);
    }
    if (r.classes[0] != any_class) {
        const cmsProfileClassSignature cls = cmsGetDeviceClass(profile.get());
        bool accepted = false;
        for (cmsProfileClassSignature c : r.classes) accepted = accepted || (c != 0 && c == cls);
        if (!accepted) return r.class_message;
    }
    if (r.space != any_space && cmsGetColorSpace(profile.get()) != r.space) return r.space_message;
    return {};
}

bool load_role_profile(ProfileRole role, const std::string& name,
                       std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (!names_profile(name)) return false;
    const std::string path = find_profile_file(name);
    if (path.empty()) {
        show_error("Cannot locate %s", profile_role_name(role));
        return true;
    }
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    std::string data;
    if (ec || size == 0 || size > largest_profile || read_file_bytes(path, data)) {
        show_error("Error reading %s", profile_role_name(role));
        return true;
    }
    std::string problem =
        profile_role_problem(role, reinterpret_cast<const std::uint8_t*>(data.data()),
                             static_cast<std::uint32_t>(data.size()));
    if (!problem.empty()) {
        show_error("%s", problem);
        return true;
    }
    bytes.assign(data.begin(), data.end());
    return false;
}

void apply_color_settings(const ColorManagementSettings& settings) {
    // Copied first: settings may be the record itself.
    const ColorManagementSettings chosen = settings;
    color_settings() = chosen;
    for (int i = 0; i < profile_role_count; ++i) {
        const auto role = static_cast<ProfileRole>(i);
        HeldProfile& h = held[i];
        h = {};
        if (load_role_profile(role, profile_role_setting(chosen, role), h.bytes)) continue;
        if (!h.bytes.empty()) {
            h.description =
                profile_description(h.bytes.data(), static_cast<std::uint32_t>(h.bytes.size()));
        }
    }
    apply_monitor_curves_setting(chosen);
    hand_to_core(chosen.enabled != 0);
}

void apply_color_settings() {
    apply_color_settings(color_settings());
}

ProfileBytes role_profile(ProfileRole role) {
    const HeldProfile& h = slot(role);
    if (h.bytes.empty()) return {};
    return {h.bytes.data(), static_cast<std::uint32_t>(h.bytes.size())};
}

const std::string& role_profile_description(ProfileRole role) {
    return slot(role).description;
}

bool role_profile_set(ProfileRole role) {
    return !slot(role).bytes.empty();
}

DisplaySettings current_display_settings(bool proofing_enabled) {
    const ColorManagementSettings& c = color_settings();
    DisplaySettings d;
    d.color_management = color_management_enabled();
    const ProfileBytes monitor = role_profile(ProfileRole::monitor);
    d.monitor_profile = monitor.data;
    d.monitor_profile_size = monitor.size;
    const ProfileBytes proof = role_profile(ProfileRole::proofing);
    d.proofing = proofing_enabled && proof.size > 0;
    d.proofing_profile = proof.data;
    d.proofing_profile_size = proof.size;
    d.intent = d.proofing ? c.monitor_proof_intent : c.monitor_intent;
    d.proofing_intent = c.proof_intent;
    d.gamut_alarm = c.gamut_alarm != 0;
    for (int i = 0; i < 3; ++i) {
        d.alarm_color[i] = static_cast<std::uint8_t>(std::clamp(c.gamut_alarm_color[i], 0, 255));
    }
    return d;
}

void clear_color_profiles() {
    for (HeldProfile& h : held) h = {};
    clear_monitor_curves();
    hand_to_core(false);
}

}  // namespace tessaly
