#include "transformations/change_profile.h"

#include <cstring>

#include "color/color_settings.h"
#include "color/lcms_support.h"
#include "core/builtin_profiles.h"
#include "core/image_convert.h"
#include "core/runner.h"
#include "core/text_file.h"
#include "framework/module.h"

namespace tessaly {

namespace {

using Settings = ChangeProfileSettings;
using Context = TransformationContext<Settings>;

constexpr const char* transform_failure = "Internal error: error creating lcms transform";

bool is_gray(std::uint32_t type) {
    return type == image_gray8 || type == image_gray16;
}
bool is_color(std::uint32_t type) {
    return type == image_color24 || type == image_color48;
}

// A profile as its bytes and its opened form; bytes may be empty (the image had none).
struct Profile {
    std::string bytes;
    ProfileHandle handle;

    const std::uint8_t* data() const { return reinterpret_cast<const std::uint8_t*>(bytes.data()); }
    std::uint32_t size() const { return static_cast<std::uint32_t>(bytes.size()); }
};

// Reads a named profile ("None" or "": the built-in one of the image's kind) and checks that it
// fits the image. Returns the error text, "" on success.
std::string load_named(const std::string& name, const char* role, bool gray, Profile& out) {
    if (!names_profile(name)) {
        ProfileBytes builtin = gray ? builtin_gray_profile() : builtin_srgb_profile();
        out.bytes.assign(reinterpret_cast<const char*>(builtin.data), builtin.size);
    } else {
        const std::string path = find_profile_file(name);
        if (path.empty()) return formatted("Cannot locate %s profile: %s", role, name);
        if (read_file_bytes(path, out.bytes)) {
            return formatted("Error reading %s profile: %s", role, name);
        }
    }
    out.handle = open_profile(out.data(), out.size());
    if (!out.handle) return formatted("Error reading %s profile: %s", role, name);
    const cmsColorSpaceSignature space = cmsGetColorSpace(out.handle.get());
    if (gray && space != cmsSigGrayData) return "Black and White images must have gray profiles";
    if (!gray && space != cmsSigRgbData) return "Color images must have RGB profiles";
    return {};
}

bool same_bytes(const Profile& a, const Profile& b) {
    return !a.bytes.empty() && a.bytes == b.bytes;
}

void working_names(Settings& s, const Context& ctx) {
    if (!ctx.working_input) return;
    s.input_profile = s.output_profile = change_profile_working_name(ctx.working_input->type);
}

std::uint8_t fail(Context& ctx, std::string_view text) {
    image_free(*ctx.result);
    return fail_node(ctx.node, text);
}

std::uint8_t run_change_profile(Context& ctx) {
    const Image* in = ctx.working_input;
    if (!in || !(is_gray(in->type) || is_color(in->type))) return fail(ctx, illegal_input_type);
    const Settings& s = ctx.settings;
    const bool gray = is_gray(in->type);

    Profile input, output;
    if (s.use_original == 0) {
        if (in->profile && in->profile_size > 0) {
            input.bytes.assign(reinterpret_cast<const char*>(in->profile), in->profile_size);
        }
        // Without a profile of its own the image is taken as the fallback of its kind.
        input.handle = image_profile_or_fallback(*in);
        if (!input.handle) return fail(ctx, transform_failure);
    } else if (std::string error = load_named(s.input_profile, "input", gray, input);
               !error.empty()) {
        return fail(ctx, error);
    }
    if (std::string error = load_named(s.output_profile, "output", gray, output); !error.empty()) {
        return fail(ctx, error);
    }

    if (s.action == change_profile_profile_only || same_bytes(input, output)) {
        if (image_copy(*in, *ctx.result) ||
            image_set_profile(*ctx.result, output.data(), output.size())) {
            image_free(*ctx.result);
            return 1;
        }
        return 0;
    }

    // Input-class profiles only describe a device's readings; nothing can be rendered into one.
    if (cmsGetDeviceClass(output.handle.get()) == cmsSigInputClass) {
        return fail(ctx, "Cannot convert image data to an input (scnr) profile");
    }
    const LcmsIntent intent = lcms_intent(s.render_intent);
    const cmsUInt32Number format = lcms_format(in->type);
    TransformHandle transform(cmsCreateTransform(input.handle.get(), format, output.handle.get(),
                                                 format, intent.intent, intent.flags));
    if (!transform) return fail(ctx, transform_failure);

    // "Image Data Only" changes the numbers but keeps the label.
    const Profile& label = s.action == change_profile_data_only ? input : output;
    if (image_alloc_with(*ctx.result, in->type, in->width, in->height, in->dpi, label.data(),
                         label.size(), in->tags)) {
        return 1;
    }
    if (!ctx.result->has_pixels()) return 0;
    void* t = transform.get();
    const std::uint8_t failed = run_rows(
        [t](const Image* src, Image* dst, int first, int last, Progress& progress) -> std::uint8_t {
            for (int r = first; r <= last; ++r) {
                if (progress_tick(progress)) return 1;
                cmsDoTransform(t, src->rows[r], dst->rows[r], src->width);
            }
            return 0;
        },
        "Change Color Profile", in, ctx.result);
    if (failed) image_free(*ctx.result);
    return failed;
}

}  // namespace

const Registered<ChangeProfileSettings> change_profile_module{{
    .keyword = "change_profile",
    .schema =
        Schema<Settings>()
            .choice("use_original", &Settings::use_original, 0, {"Retain current", "Set to custom"})
            .accept_out_of_range()
            .label("Input profile:")
            .text("input_profile", &Settings::input_profile, "None", change_profile_name_capacity)
            .note("default: the working profile of the input's kind")
            .text("output_profile", &Settings::output_profile, "None", change_profile_name_capacity)
            .note("default: the working profile of the input's kind")
            .choice("action", &Settings::action, change_profile_data_and_profile,
                    {"Image Data and Profile", "Image Data Only", "Profile Only"})
            .reject()
            .label("Change:")
            .choice("render_intent", &Settings::render_intent, 0,
                    {"Perceptual", "Saturation", "Relative Colorimetric", "Absolute Colorimetric",
                     "Relative Colorimetric with Black Point Compensation"})
            .reject()
            .label("Rendering Intent:")
            .flag("gamut_alarm", &Settings::gamut_alarm, 0)
            .accept_out_of_range()
            .label("Gamut Alarm")
            .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1, .auto_preview = 1}),
    .types = types_gray_and_colour,
    .input_defaults = working_names,
    .run = run_change_profile,
    .input_switched = change_profile_input_switched,
}};

std::string change_profile_working_name(std::uint32_t image_type) {
    const ColorManagementSettings& cm = color_settings();
    const std::string& name = is_gray(image_type) ? cm.gray_wcs_profile : cm.wcs_profile;
    return names_profile(name) ? name : std::string("None");
}

bool change_profile_warn_if_unmanaged() {
    if (color_management_enabled()) return false;
    show_warning("Color management needs to be enabled for this transformation to work correctly.");
    return true;
}

bool change_profile_input_switched(ChangeProfileSettings& settings, std::uint32_t previous_type,
                                   std::uint32_t current_type) {
    const bool was_known = is_gray(previous_type) || is_color(previous_type);
    const bool is_known = is_gray(current_type) || is_color(current_type);
    if (!was_known || !is_known || is_gray(previous_type) == is_gray(current_type)) return false;
    show_warning(
        "Change Profile: Input image switched from gray or color or from color to gray.\n"
        "Profiles will be reset to working color space.");
    settings.input_profile = settings.output_profile = change_profile_working_name(current_type);
    return true;
}

}  // namespace tessaly
