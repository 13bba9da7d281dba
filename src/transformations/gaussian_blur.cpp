// Gaussian Blur: the box blur run twice in each direction (a tent kernel), for all channels or
// only the chrominance of RGB images, mixed with the source through the amount and mask.
#include "framework/module.h"
#include "kernels/box_blur.h"

namespace tessaly {

namespace {

// "What:"
enum : std::int32_t { all_channels = 0, chrominance_only = 1 };

constexpr std::int32_t max_radius = 256;

struct Settings {
    std::int32_t radius;  // box radius in pixels
    std::int32_t what;
    AmountSettings amount;
    DialogKeys dialog;
};
using Context = TransformationContext<Settings>;

bool neutral(const Context& ctx, int, const Image&) {
    return ctx.settings.radius == 0;
}

bool blur_pass(const Context& ctx, int, const Image& in, Image& out) {
    return box_blur_image(in, out, ctx.settings.radius, ctx.settings.what == chrominance_only,
                          "Gaussian Blur");
}

const Registered<Settings> gaussian_blur{{
    .keyword = "gaussian_blur",
    .schema =
        Schema<Settings>()
            .integer("radius", &Settings::radius, 3)
            .range(0, max_radius)
            .label("Radius:", "pixels")
            .choice("what", &Settings::what, all_channels, {"All Channels", "Chrominance Only"})
            .amount("amount", &Settings::amount, amount_init(0, true, amount_mode_percent))
            .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1}),
    .types = types_gray_and_colour | types_floating,
    .dialog = {.preview_buttons = preview_button_run | preview_button_double},
    .neutral = neutral,
    .image = blur_pass,
}};

}  // namespace

}  // namespace tessaly
