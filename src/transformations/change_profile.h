// Change Profile: converts an image's pixels from one ICC profile to another, or only re-labels
// it, as a node of the image tree. Profiles are named by file name in the profile folders;
// "None" stands for the built-in profile of the image's kind.
#pragma once

#include <cstdint>
#include <string>

#include "core/image.h"
#include "framework/module.h"

namespace tessaly {

// "Change:" choices.
enum : std::int32_t {
    change_profile_data_and_profile = 0,  // "Image Data and Profile"
    change_profile_data_only = 1,         // "Image Data Only": new numbers, old label
    change_profile_profile_only = 2,      // "Profile Only": pixels untouched
};

// Profile names hold up to this many characters.
constexpr std::size_t change_profile_name_capacity = 1000;

// The settings; their defaults are declared with the module (change_profile_module).
struct ChangeProfileSettings {
    std::int32_t use_original;  // "Input profile:" 0 "Retain current", 1 "Set to custom"
    std::string input_profile;
    std::string output_profile;
    std::int32_t action;
    std::int32_t render_intent;  // rendering intent code (color/lcms_support.h)
    std::int32_t gamut_alarm;    // preview only
    DialogKeys dialog;
};

extern const Registered<ChangeProfileSettings> change_profile_module;

// --- for the dialog ---

// The working profile name of an image type's kind ("None" when unset).
std::string change_profile_working_name(std::uint32_t image_type);
// Opening the dialog with colour management off warns that the conversion will not be right;
// true when the warning was shown.
bool change_profile_warn_if_unmanaged();
// A re-run whose input turned from gray to colour or back: the named profiles cannot fit the new
// image, so both return to the working profiles of the new kind, with a message. true when they
// were reset.
bool change_profile_input_switched(ChangeProfileSettings& settings, std::uint32_t previous_type,
                                   std::uint32_t current_type);

}  // namespace tessaly
