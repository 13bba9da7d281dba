// Sharpen: the small-radius sharpener (four or eight neighbours), mixed with the source through
// the amount and mask.
#include "kernels/sharpen.h"

#include "framework/module.h"
#include "transformations/legacy_threshold.h"

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
            .fraction("maxovershoot", &Settings::maxovershoot, 0.1, "Maximum Overshoot:")
            .fraction("maxundershoot", &Settings::maxundershoot, 0.1, "Maximum Undershoot:")
            .fraction("thresholdb", &Settings::thresholdb, 0.04, "Threshold Black:")
            .fraction("thresholdw", &Settings::thresholdw, 0.04, "Threshold White:")
            .real("strength", &Settings::strength, "%4zf", 1.0)
            .range(0.0, max_strength)
            .label("Strength:")
            .amount("amount", &Settings::amount, amount_init(0, true, amount_mode_percent))
            .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1, .auto_preview = 1}),
    .before_read = legacy_threshold<Settings>,
    .image = sharpen_pass,
}};

}  // namespace

}  // namespace tessaly
