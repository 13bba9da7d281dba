// Change Profile: converts an image's pixels from one ICC profile to another, or only re-labels
// it, as a node of the image tree. Profiles are named by file name in the profile folders;
// "None" stands for the built-in profile of the image's kind.
#pragma once

#include <cstdint>
#include <string>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"

namespace tessaly {

// "Change:" choices.
enum : std::int32_t {
    change_profile_data_and_profile = 0,  // "Image Data and Profile"
    change_profile_data_only = 1,         // "Image Data Only": new numbers, old label
    change_profile_profile_only = 2,      // "Profile Only": pixels untouched
};

// Profile names hold up to this many characters.
constexpr std::size_t change_profile_name_capacity = 1000;

struct ChangeProfileSettings {
    std::int32_t use_original = 0;  // "Input profile:" 0 "Retain current", 1 "Set to custom"
    std::string input_profile = "None";
    std::string output_profile = "None";
    std::int32_t action = change_profile_data_and_profile;
    std::int32_t render_intent = 0;  // rendering intent code (color/lcms_support.h)
    std::int32_t gamut_alarm = 0;    // preview only
    std::int32_t display = 1;
    std::int32_t sync_scroll = 1;
    std::int32_t auto_preview = 1;
};

// "change_profile 0 use_original %d input_profile ″%s″ output_profile ″%s″ action %d
// render_intent %d gamut_alarm %d display %d sync_scroll %d auto_preview %d".
std::string change_profile_command_line(const ChangeProfileSettings& settings);
// Defaults (the profile names those of the working profiles of the input's kind when an input
// is given), then the keys present. true when the line does not parse (wrong keyword, an action
// outside 0..2 or an intent code outside 0..4); settings then at their defaults.
bool change_profile_parse(const ArgumentList& args, const Image* input,
                          ChangeProfileSettings& settings);

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

std::uint8_t change_profile_run_entry(Node* input, Node* node, const ArgumentList& args);

}  // namespace tessaly
