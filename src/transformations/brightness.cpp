// Brightness: brightens or darkens through a level table chosen by the bipolar amount, the
// sibling of Saturation: gray samples go through it, colour pixels through their HSV value or
// HSL lightness so that hue and saturation stay; under a mask each pixel takes its own level.
#include "framework/module.h"
#include "kernels/lut.h"
#include "kernels/tone.h"
#include "transformations/level_amount.h"

namespace tessaly {

namespace {

struct Settings {
    AmountSettings amount;
    std::int32_t colorspace;  // colour pictures: 0 HSV value, 1 HSL lightness
    std::int32_t preserve;
    DialogKeys dialog;
};
using Context = TransformationContext<Settings>;

// One colour pixel's tone through a table of its depth.
template <class T>
void tone(std::int32_t& r, std::int32_t& g, std::int32_t& b, const T* table, bool hsl) {
    if (!hsl) return value_through(r, g, b, table);
    if constexpr (sizeof(T) == 1) {
        lightness_through8(r, g, b, table);
    } else {
        lightness_through16(r, g, b, table);
    }
}

// Under a mask: a table per pixel.
template <class T>
void masked_row(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width,
                const std::uint8_t* mask, const LevelTables<T>& tables, bool colour, bool hsl) {
    auto get = [&](std::size_t i) -> std::int32_t {
        return sizeof(T) == 1 ? in[i] : sample16(in, i);
    };
    auto put = [&](std::size_t i, std::int32_t v) {
        if constexpr (sizeof(T) == 1) {
            out[i] = static_cast<std::uint8_t>(v);
        } else {
            set_sample16(out, i, static_cast<std::uint16_t>(v));
        }
    };
    for (std::uint32_t x = 0; x < width; ++x) {
        const T* table = tables.for_mask(mask[x]);
        if (!colour) {
            put(x, table[get(x)]);
            continue;
        }
        std::int32_t b = get(3 * x), g = get(3 * x + 1), r = get(3 * x + 2);
        tone(r, g, b, table, hsl);
        put(3 * x, b);
        put(3 * x + 1, g);
        put(3 * x + 2, r);
    }
}

template <class T>
PointRows rows_of(const Context& ctx, const Image& in) {
    const auto tables =
        amount_level_tables<T>(ctx.settings.amount, ctx.node, ctx.settings.preserve);
    if (!tables) return {};
    const bool colour = in.type == image_color24 || in.type == image_color48;
    const bool hsl = ctx.settings.colorspace == 1;
    auto whole = std::make_shared<ToneRows>();
    whole->prepare(in.type, hsl ? ToneModel::lightness : ToneModel::value, tables->single());
    return {[tables, whole, colour, hsl](const std::uint8_t* i, std::uint8_t* o,
                                         std::uint32_t width, const std::uint8_t* mask,
                                         std::uint8_t*) {
        if (!mask) return whole->row(i, o, width);
        masked_row(i, o, width, mask, *tables, colour, hsl);
    }};
}

PointRows brightness_rows(const Context& ctx, int, const Image& in) {
    const bool deep = in.type == image_gray16 || in.type == image_color48;
    return deep ? rows_of<std::uint16_t>(ctx, in) : rows_of<std::uint8_t>(ctx, in);
}

const Registered<Settings> brightness{{
    .keyword = "brightness",
    .schema = Schema<Settings>()
                  .amount("amount", &Settings::amount,
                          amount_init(0, true, amount_mode_signed, "Brightness: "))
                  .choice("colorspace", &Settings::colorspace, 0, {"HSV", "HSL"})
                  .label("Color Space:")
                  .choice("preserve", &Settings::preserve, preserve_both,
                          {"Black and White", "Black", "White", "Neither"})
                  .label("Preserve:")
                  .dialog(&Settings::dialog, {.display = 2, .sync_scroll = 1, .auto_preview = 1}),
    .mixing = Mixing::none,
    .neutral = [](const Context& ctx, int,
                  const Image&) { return amount_levels_unchanged(ctx.settings.amount); },
    .point = brightness_rows,
}};

}  // namespace

}  // namespace tessaly
