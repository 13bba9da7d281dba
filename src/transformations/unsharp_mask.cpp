// Unsharp Mask: adds back a multiple of the difference between the image and its blur, with a
// threshold ramp and halo limits, for all channels or only the brightness of RGB images; mixed
// with the source through the amount and mask.
#include <algorithm>

#include "framework/module.h"
#include "kernels/unsharp.h"

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

// The old single threshold, 0..255: both thresholds at once, before the two keys that may
// override it.
void legacy_threshold(Settings& s, const ArgumentList& args, const Context&) {
    std::int32_t threshold = 0;
    if (read_integer(args, "threshold", threshold)) return;
    s.thresholdb = s.thresholdw = std::clamp(threshold, 0, 255) / 255.0;
}

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
                  .real("thresholdb", &Settings::thresholdb, "%4zf", 0.04)
                  .range(0.0, 1.0)
                  .label("Threshold Black:", "of full scale")
                  .real("thresholdw", &Settings::thresholdw, "%4zf", 0.04)
                  .range(0.0, 1.0)
                  .label("Threshold White:", "of full scale")
                  .choice("what", &Settings::what, unsharp_all_channels,
                          {"All Channels", "Luminance Only"})
                  .real("strength", &Settings::strength, "%4zf", 1.0)
                  .range(0.0, max_strength)
                  .label("Strength:")
                  .real("maxovershoot", &Settings::maxovershoot, "%4zf", 0.1)
                  .range(0.0, 1.0)
                  .label("Maximum Overshoot:", "of full scale")
                  .real("maxundershoot", &Settings::maxundershoot, "%4zf", 0.1)
                  .range(0.0, 1.0)
                  .label("Maximum Undershoot:", "of full scale")
                  .amount("amount", &Settings::amount, amount_init(0, true, amount_mode_percent))
                  .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1}),
    .before_read = legacy_threshold,
    .neutral = neutral,
    .image = sharpen_pass,
}};

}  // namespace

}  // namespace tessaly
