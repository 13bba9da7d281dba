// Sharpen: the small-radius sharpener (four or eight neighbours), mixed with the source through
// the amount and mask.
#include "kernels/sharpen.h"

#include <algorithm>

#include "framework/module.h"

namespace tessaly {

namespace {

constexpr double max_strength = 2.0;

struct Settings {
    std::int32_t kernel;
    double maxovershoot;   // largest increase, a fraction of full scale
    double maxundershoot;  // largest decrease
    double thresholdb;     // differences below are not sharpened
    double thresholdw;     // differences from here on are sharpened fully
    double strength;
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

bool sharpen_pass(const Context& ctx, int, const Image& in, Image& out) {
    const Settings& s = ctx.settings;
    return sharpen_image(in, out, s.kernel, s.maxovershoot, s.maxundershoot, s.thresholdb,
                         s.thresholdw, s.strength, true);
}

const Registered<Settings> sharpen_module{{
    .keyword = "sharpen",
    .schema =
        Schema<Settings>()
            .choice("kernel", &Settings::kernel, sharpen_kernel_four, {"Sharpen", "Sharpen More"})
            .real("maxovershoot", &Settings::maxovershoot, "%4zf", 0.1)
            .range(0.0, 1.0)
            .label("Maximum Overshoot:", "of full scale")
            .real("maxundershoot", &Settings::maxundershoot, "%4zf", 0.1)
            .range(0.0, 1.0)
            .label("Maximum Undershoot:", "of full scale")
            .real("thresholdb", &Settings::thresholdb, "%4zf", 0.04)
            .range(0.0, 1.0)
            .label("Threshold Black:", "of full scale")
            .real("thresholdw", &Settings::thresholdw, "%4zf", 0.04)
            .range(0.0, 1.0)
            .label("Threshold White:", "of full scale")
            .real("strength", &Settings::strength, "%4zf", 1.0)
            .range(0.0, max_strength)
            .label("Strength:")
            .amount("amount", &Settings::amount, amount_init(0, true, amount_mode_percent))
            .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1, .auto_preview = 1}),
    .before_read = legacy_threshold,
    .image = sharpen_pass,
}};

}  // namespace

}  // namespace tessaly
