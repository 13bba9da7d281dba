// Unsharp Mask: adds back a multiple of the difference between the image and its blur, with a
// threshold ramp and halo limits, for all channels or only the brightness of RGB images; mixed
// with the source through the amount and mask.
#include "framework/module.h"
#include "kernels/unsharp.h"
#include "transformations/legacy_threshold.h"

namespace tessaly {

namespace {

constexpr std::int32_t max_radius = 40;
constexpr double max_strength = 5.0;

struct Settings {
    std::int32_t radius;  // blur radius in pixels
    double thresholdb;    // differences below are not sharpened
    double thresholdw;    // differences from here on are sharpened fully
    std::int32_t what;
    double strength;
    double maxovershoot;   // largest increase, a fraction of full scale
    double maxundershoot;  // largest decrease
    AmountSettings amount;
    DialogKeys dialog;
};
using Context = TransformationContext<Settings>;

bool neutral(const Context& ctx, int, const Image&) {
    return ctx.settings.radius == 0 || ctx.settings.strength == 0.0;
}

bool sharpen_pass(const Context& ctx, int, const Image& in, Image& out) {
    const Settings& s = ctx.settings;
    return unsharp_mask_image(in, out, s.radius, s.thresholdb, s.thresholdw, s.strength,
                              s.maxovershoot, s.maxundershoot, s.what);
}

const Registered<Settings> unsharp_mask{{
    .keyword = "unsharp_mask",
    .schema = Schema<Settings>()
                  .integer("radius", &Settings::radius, 2)
                  .range(0, max_radius)
                  .label("Radius:", "pixels")
                  .fraction("thresholdb", &Settings::thresholdb, 0.04, "Threshold Black:")
                  .fraction("thresholdw", &Settings::thresholdw, 0.04, "Threshold White:")
                  .choice("what", &Settings::what, unsharp_all_channels,
                          {"All Channels", "Luminance Only"})
                  .real("strength", &Settings::strength, "%4zf", 1.0)
                  .range(0.0, max_strength)
                  .label("Strength:")
                  .fraction("maxovershoot", &Settings::maxovershoot, 0.1, "Maximum Overshoot:")
                  .fraction("maxundershoot", &Settings::maxundershoot, 0.1, "Maximum Undershoot:")
                  .amount("amount", &Settings::amount, amount_init(0, true, amount_mode_percent))
                  .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1}),
    .dialog = {.preview_buttons =
                   preview_button_run | preview_button_delta | preview_button_double},
    .before_read = legacy_threshold<Settings>,
    .neutral = neutral,
    .image = sharpen_pass,
}};

}  // namespace

}  // namespace tessaly
