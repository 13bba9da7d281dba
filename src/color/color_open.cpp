#include "color/color_open.h"

#include <filesystem>
#include <string>
#include <vector>

#include "color/color_settings.h"
#include "color/color_transform.h"
#include "color/lcms_support.h"
#include "color/profiles.h"
#include "core/builtin_profiles.h"
#include "core/format.h"
#include "core/interaction.h"
#include "core/text_file.h"
#include "framework/transformation.h"

namespace tessaly {

namespace {

int several_files_scopes = 0;

bool is_gray(std::uint32_t type) {
    return type == image_gray8 || type == image_gray16;
}

std::string description_of(const std::uint8_t* bytes, std::uint32_t size) {
    return bytes && size > 0 ? profile_description(bytes, size) : std::string();
}

// Step 1: a profile of the wrong colour space (or one that does not parse) is removed.
void drop_unfit_profile(Image& image) {
    if (!image.profile || image.profile_size == 0) return;
    const bool gray = is_gray(image.type);
    ProfileHandle profile = open_profile(image.profile, image.profile_size);
    const cmsColorSpaceSignature wanted = gray ? cmsSigGrayData : cmsSigRgbData;
    if (profile && cmsGetColorSpace(profile.get()) == wanted) return;
    (void)image_set_profile(image, nullptr, 0);
    show_warning(gray ? "Profile for gray image is not gray -- profile removed"
                      : "Profile for color image is not color -- profile removed");
}

// The policy in force for this open.
std::int32_t mismatch_policy(bool several_files) {
    const ColorManagementSettings& c = color_settings();
    if (batch_mode() != 0) return c.on_batch_mismatch;
    if (several_files || several_files_scopes > 0) return c.on_multiple_mismatch;
    return c.on_mismatch;
}

// "Convert from custom profile...": a profile file of the image's kind; empty when none was
// chosen or it does not fit (after its message).
std::vector<std::uint8_t> choose_custom_profile(bool gray) {
    FileChoice choice;
    choice.title = "Convert from custom profile:";
    choice.filter_name = "ICC Profiles";
    choice.patterns = {"*.icc", "*.icm"};
    const std::vector<std::string> folders = profile_folders();
    std::error_code ec;
    for (const std::string& f : folders) {
        if (std::filesystem::is_directory(f, ec)) {
            choice.folder = f;
            break;
        }
    }
    std::vector<std::uint8_t> bytes;
    std::optional<std::string> path = interaction().choose_open_file(choice);
    if (!path) return bytes;
    std::string data;
    ProfileHandle profile;
    if (!read_file_bytes(*path, data)) {
        profile = open_profile(reinterpret_cast<const std::uint8_t*>(data.data()),
                               static_cast<std::uint32_t>(data.size()));
    }
    if (!profile) {
        show_error("Error reading custom profile: %s", *path);
        return bytes;
    }
    if (cmsGetColorSpace(profile.get()) != (gray ? cmsSigGrayData : cmsSigRgbData)) {
        show_error(gray ? "Custom profile is not a GRAY profile"
                        : "Custom profile is not an RGB profile");
        return bytes;
    }
    bytes.assign(data.begin(), data.end());
    return bytes;
}

}  // namespace

SeveralFilesOpening::SeveralFilesOpening() {
    ++several_files_scopes;
}

SeveralFilesOpening::~SeveralFilesOpening() {
    --several_files_scopes;
}

int color_manage_on_open(Node* node, bool several_files, bool camera_raw) {
    if (!node || !color_management_enabled()) return color_open_done;
    Image& image = node->image;
    if (image.type < image_gray8 || image.type > image_color48) return color_open_done;
    const bool gray = is_gray(image.type);

    drop_unfit_profile(image);

    // Step 2: "opRGB" is Adobe RGB (1998) under its ISO name; the built-in profile stands in.
    if (!gray && image.profile && description_of(image.profile, image.profile_size) == "opRGB") {
        const ProfileBytes adobe = builtin_adobe_rgb_profile();
        if (image_set_profile(image, adobe.data, adobe.size)) return color_open_failed;
    }

    // Step 3: an image without a profile gets the assumed profile of its kind.
    if (!image.profile || image.profile_size == 0) {
        ProfileRole role = gray
                               ? (camera_raw ? ProfileRole::camera_gray : ProfileRole::assumed_gray)
                               : (camera_raw ? ProfileRole::camera_rgb : ProfileRole::assumed_rgb);
        const ProfileBytes assumed = role_profile(role);
        if (assumed.size > 0 && image_set_profile(image, assumed.data, assumed.size)) {
            return color_open_failed;
        }
    }

    const std::int32_t policy = mismatch_policy(several_files);

    // Step 5: the descriptions decide; with no working profile of its kind every image matches.
    const ProfileBytes working = gray ? gray_working_profile() : rgb_working_profile();
    if (!working.data || working.size == 0) return color_open_done;
    const std::string working_description = description_of(working.data, working.size);
    const std::string image_description = description_of(image.profile, image.profile_size);
    if (image_description == working_description) return color_open_done;

    if (policy == mismatch_keep) return color_open_done;
    std::vector<std::uint8_t> custom;
    if (policy != mismatch_convert) {
        const std::string text = formatted(
            "Pathname: %s\nWorking color space: %s\nConvert from embedded profile: %s", node->name,
            working_description, image.profile ? image_description : std::string("None"));
        const std::vector<std::string> options = {"Convert", "Don't Convert", "Cancel",
                                                  "Convert from custom profile..."};
        for (;;) {
            const int answer =
                interaction().choose("Convert to Working Color Space", text, options);
            if (answer == convert_choice_convert) break;
            if (answer == convert_choice_keep) return color_open_done;
            if (answer == convert_choice_custom) {
                custom = choose_custom_profile(gray);
                if (!custom.empty()) break;
                continue;
            }
            return color_open_cancelled;
        }
    }

    const std::uint8_t* from = custom.empty() ? image.profile : custom.data();
    const std::uint32_t from_size =
        custom.empty() ? image.profile_size : static_cast<std::uint32_t>(custom.size());
    // The source bytes may be the image's own, which the conversion replaces: keep a copy.
    const std::vector<std::uint8_t> source(from, from + (from ? from_size : 0));
    if (convert_image_profile(image, source.empty() ? nullptr : source.data(),
                              static_cast<std::uint32_t>(source.size()), working.data, working.size,
                              0)) {
        (void)image_set_profile(image, nullptr, 0);
        show_error("Error converting to working color space, image profile removed");
    }
    return color_open_done;
}

}  // namespace tessaly
