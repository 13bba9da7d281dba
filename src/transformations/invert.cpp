// Invert: the negative of a picture, channel by channel, or only its HSV value or HSL lightness
// so that hue and saturation stay. Binary pictures are inverted as they are, bit by bit.
#include "core/color_models.h"
#include "core/tables.h"
#include "framework/module.h"
#include "kernels/lut.h"

namespace tessaly {

namespace {

// The "Color Space:" list of this dialog, in its own order.
enum : std::int32_t { invert_rgb = 0, invert_hsv = 1, invert_hsl = 2 };

struct Settings {
    std::int32_t colorspace;
    AmountSettings amount;
    DialogKeys dialog;
};
using Context = TransformationContext<Settings>;

// The value (HSV) or lightness (HSL) turned over, on the 12-bit scale of 8-bit pixels or the
// 16-bit scale of 16-bit ones.
template <bool deep>
void invert_model_row(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width, bool hsl) {
    for (std::uint32_t x = 0; x < width; ++x) {
        std::int32_t b = deep ? sample16(in, 3 * x) : in[3 * x];
        std::int32_t g = deep ? sample16(in, 3 * x + 1) : in[3 * x + 1];
        std::int32_t r = deep ? sample16(in, 3 * x + 2) : in[3 * x + 2];
        std::int32_t h = 0, s = 0, v = 0;
        if (deep) {
            hsl ? rgb_to_hsl16(r, g, b, h, s, v) : rgb_to_hsv16(r, g, b, h, s, v);
            hsl ? hsl16_to_rgb(h, s, 65535 - v, r, g, b) : hsv16_to_rgb(h, s, 65535 - v, r, g, b);
            set_sample16(out, 3 * x, static_cast<std::uint16_t>(b));
            set_sample16(out, 3 * x + 1, static_cast<std::uint16_t>(g));
            set_sample16(out, 3 * x + 2, static_cast<std::uint16_t>(r));
        } else {
            hsl ? rgb_to_hsl8(r, g, b, h, s, v) : rgb_to_hsv8(r, g, b, h, s, v);
            hsl ? hsl12_to_rgb8(h, s, 4096 - v, r, g, b) : hsv12_to_rgb8(h, s, 4096 - v, r, g, b);
            out[3 * x] = static_cast<std::uint8_t>(b);
            out[3 * x + 1] = static_cast<std::uint8_t>(g);
            out[3 * x + 2] = static_cast<std::uint8_t>(r);
        }
    }
}

// A bilevel pixel cannot take a mixed level: it takes its inverse where the amount's weight
// (the mask's, when one is in use) reaches the middle, 128 of 255, and keeps its value below.
PointRows binary_rows(const AmountSettings& amount) {
    const auto a = static_cast<std::uint8_t>(std::clamp(amount_weight8(amount.amount), 0, 255));
    const auto b = static_cast<std::uint8_t>(std::clamp(amount_weight8(amount.second), 0, 255));
    return {[a, b](const std::uint8_t* in, std::uint8_t* out, std::uint32_t width,
                   const std::uint8_t* mask, std::uint8_t*) {
        const std::size_t bytes = image_row_bytes(image_binary, width);
        if (!mask) {
            if (a >= 128) return invert_row(in, out, bytes);
            return static_cast<void>(std::copy(in, in + bytes, out));
        }
        std::copy(in, in + bytes, out);
        for (std::uint32_t x = 0; x < width; ++x) {
            if (blend8(a, b, mask[x]) >= 128) bit_toggle(out, x);
        }
    }};
}

PointRows invert_rows(const Context& ctx, const Image& in) {
    const std::int32_t model = ctx.settings.colorspace;
    if (in.type == image_binary) return binary_rows(ctx.settings.amount);
    if ((in.type != image_color24 && in.type != image_color48) || model == invert_rgb) {
        const std::size_t bpp = image_pixel_bytes(in.type);
        return {[bpp](const std::uint8_t* i, std::uint8_t* o, std::uint32_t width,
                      const std::uint8_t*, std::uint8_t*) { invert_row(i, o, bpp * width); }};
    }
    const bool hsl = model == invert_hsl;
    if (in.type == image_color48) {
        return {[hsl](const std::uint8_t* i, std::uint8_t* o, std::uint32_t width,
                      const std::uint8_t*,
                      std::uint8_t*) { invert_model_row<true>(i, o, width, hsl); }};
    }
    return {[hsl](const std::uint8_t* i, std::uint8_t* o, std::uint32_t width, const std::uint8_t*,
                  std::uint8_t*) { invert_model_row<false>(i, o, width, hsl); }};
}

// The framework's filter sequence, except that a binary picture is mixed by its own rows: the
// amount's mix works on levels, which a bilevel picture cannot hold.
std::uint8_t run(Context& ctx) {
    const Image* in = ctx.working_input;
    if (!in || !in->has_pixels() || !(types_all_five & type_bit(in->type))) {
        image_free(*ctx.result);
        return fail_node(ctx.node, illegal_input_type);
    }
    const AmountSettings& amount = ctx.settings.amount;
    const Image* mask = amount_mask(amount, ctx.node);
    const bool binary = in->type == image_binary;
    FilterRun run{*in, *ctx.result, &amount, mask, binary ? Mixing::none : Mixing::in_place};
    run.neutral = [&](int) { return binary && amount_leaves_input(amount, mask); };
    run.pass = [&](int, Image& out) {
        return run_point_rows(invert_rows(ctx, *in), *in, out, binary ? mask : nullptr, "Invert");
    };
    return run_filter(run);
}

const Registered<Settings> invert{{
    .keyword = "invert",
    .schema = Schema<Settings>()
                  .choice("colorspace", &Settings::colorspace, invert_rgb, {"RGB", "HSV", "HSL"})
                  .label("Color Space:")
                  .amount("amount", &Settings::amount, amount_init(0, true, amount_mode_percent))
                  .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1, .auto_preview = 1}),
    .types = types_all_five,
    .reads_binary = true,
    .kind = ModuleKind::point,
    .run = run,
}};

}  // namespace

}  // namespace tessaly
