// Saturation: raises or lowers the saturation of colour pictures in the HSV or HSL model through
// a level table chosen by the bipolar amount; under a mask each pixel takes the table of its own
// level, so nothing is mixed afterwards.
#include "core/color_models.h"
#include "framework/module.h"
#include "kernels/lut.h"
#include "transformations/level_amount.h"

namespace tessaly {

namespace {

struct Settings {
    AmountSettings amount;
    std::int32_t colorspace;  // 0 HSV, 1 HSL
    std::int32_t code;        // "Preserve:"
    DialogKeys dialog;
};
using Context = TransformationContext<Settings>;

template <class T>
void saturate(std::int32_t& r, std::int32_t& g, std::int32_t& b, const T* table, bool hsl) {
    if constexpr (sizeof(T) == 1) {
        hsl ? saturation_map_hsl(r, g, b, table, 255) : saturation_map_hsv(r, g, b, table);
    } else {
        hsl ? saturation_map_hsl16(r, g, b, table) : saturation_map_hsv16(r, g, b, table);
    }
}

template <class T>
PointRows rows_of(const Context& ctx) {
    const auto tables = amount_level_tables<T>(ctx.settings.amount, ctx.node, ctx.settings.code);
    if (!tables) return {};
    const bool hsl = ctx.settings.colorspace == 1;
    // One 8-bit table for the whole picture: every (max, min) pair worked out once.
    std::shared_ptr<SaturationRows8> whole;
    if (sizeof(T) == 1 && !amount_mask_in_use(ctx.settings.amount, ctx.node)) {
        whole = std::make_shared<SaturationRows8>();
        whole->prepare(reinterpret_cast<const std::uint8_t*>(tables->single()), hsl);
    }
    return {[tables, whole, hsl](const std::uint8_t* in, std::uint8_t* out, std::uint32_t width,
                                 const std::uint8_t* mask, std::uint8_t*) {
        if (whole && !mask) return whole->row(in, out, width);
        for (std::uint32_t x = 0; x < width; ++x) {
            const T* table = mask ? tables->for_mask(mask[x]) : tables->single();
            std::int32_t c[3];
            for (int k = 0; k < 3; ++k) {
                c[k] = sizeof(T) == 1 ? in[3 * x + k] : sample16(in, 3 * x + k);
            }
            saturate(c[2], c[1], c[0], table, hsl);
            for (int k = 0; k < 3; ++k) {
                if constexpr (sizeof(T) == 1) {
                    out[3 * x + k] = static_cast<std::uint8_t>(c[k]);
                } else {
                    set_sample16(out, 3 * x + k, static_cast<std::uint16_t>(c[k]));
                }
            }
        }
    }};
}

PointRows saturation_rows(const Context& ctx, int, const Image& in) {
    return in.type == image_color48 ? rows_of<std::uint16_t>(ctx) : rows_of<std::uint8_t>(ctx);
}

const Registered<Settings> saturation{{
    .keyword = "saturation",
    .schema = Schema<Settings>()
                  .amount("amount", &Settings::amount,
                          amount_init(0, true, amount_mode_signed, "Saturation: "))
                  .choice("colorspace", &Settings::colorspace, 0, {"HSV", "HSL"})
                  .label("Color Space:")
                  .choice("code", &Settings::code, preserve_both,
                          {"Low and High", "Low", "High", "Neither"})
                  .label("Preserve:")
                  .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1, .auto_preview = 1}),
    .types = types_colour,
    .mixing = Mixing::none,
    .neutral = [](const Context& ctx, int,
                  const Image&) { return amount_levels_unchanged(ctx.settings.amount); },
    .point = saturation_rows,
}};

}  // namespace

}  // namespace tessaly
