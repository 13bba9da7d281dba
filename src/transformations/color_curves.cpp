// Color Curves: three curves on a colour picture, one per component of a colour model. In RGB
// each channel has its curve; in HSV and HSL the first curve shifts the hue as a function of the
// hue (128 is no shift) and the others remap saturation and value or lightness. Under a mask two
// complete sets apply: the main set where the mask is white, the second where it is black.
#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/color_models.h"
#include "framework/module.h"
#include "kernels/lut.h"

namespace tessaly {

namespace {

struct Settings {
    Curve curve1, curve2, curve3;
    std::int32_t colorspace, component;
    Curve b_curve1, b_curve2, b_curve3;
    std::int32_t b_colorspace, b_component;
    std::int32_t which_curve, mask_histogram;
    AmountSettings amount;
    DialogKeys dialog;
};
using Context = TransformationContext<Settings>;

struct SetFields {
    Curve Settings::*curve[3];
    std::int32_t Settings::*colorspace;
    std::int32_t Settings::*component;
};
constexpr SetFields set_fields[2] = {
    {{&Settings::curve1, &Settings::curve2, &Settings::curve3},
     &Settings::colorspace,
     &Settings::component},
    {{&Settings::b_curve1, &Settings::b_curve2, &Settings::b_curve3},
     &Settings::b_colorspace,
     &Settings::b_component},
};

// The tables of one set for one picture depth. HSV and HSL work on 12-bit components for 24-bit
// pictures (entries 0..4096: full saturation and value are 4096) and on 16-bit ones for 48-bit.
struct Tables {
    std::int32_t colorspace = colorspace_rgb;
    bool wide = false;
    bool keep_hue = false;  // the hue curve is flat at 128
    bool neutral = false;
    std::array<std::array<std::uint8_t, 256>, 3> t8{};
    std::array<std::vector<std::uint16_t>, 3> t12, t16;

    Tables(const Settings& s, int set, std::uint32_t type) {
        const SetFields& f = set_fields[set];
        colorspace = s.*f.colorspace;
        wide = type == image_color48;
        bool identity[3];
        for (int c = 0; c < 3; ++c) {
            const Curve& curve = s.*f.curve[c];
            curve_table8(curve, t8[c].data());
            if (wide) {
                t16[c].resize(65536);
                curve_table16(curve, t16[c].data(), false);
            } else if (colorspace != colorspace_rgb) {
                t12[c].resize(4097);
                for (std::uint32_t k = 0; k <= 4096; ++k) {
                    t12[c][k] = static_cast<std::uint16_t>(
                        (t8[c][(2048 + 255 * k) / 4096] * 4096u + 127) / 255);
                }
            }
            identity[c] = true;
            for (std::uint32_t v = 0; identity[c] && v < (wide ? 65536u : 256u); ++v) {
                identity[c] = (wide ? t16[c][v] : t8[c][v]) == v;
            }
        }
        // A hue curve flat at 128 leaves the hue alone: its tables would give 2056 of 4096
        // (16-bit: 32896) for 128, a small turn nobody asked for.
        keep_hue = std::all_of(t8[0].begin(), t8[0].end(), [](std::uint8_t v) { return v == 128; });
        neutral = colorspace == colorspace_rgb ? identity[0] && identity[1] && identity[2]
                                               : keep_hue && identity[1] && identity[2];
    }

    // One pixel on the 12-bit (8-bit pictures) or 16-bit scale of the model.
    void model_pixel(std::int32_t& r, std::int32_t& g, std::int32_t& b) const {
        const bool hsv = colorspace == colorspace_hsv;
        std::int32_t h = 0, s = 0, v = 0;
        if (wide) {
            (hsv ? rgb_to_hsv16 : rgb_to_hsl16)(r, g, b, h, s, v);
            if (!keep_hue) h = (t16[0][h] + h - 32768 + 65536) % 65536;
            (hsv ? hsv16_to_rgb : hsl16_to_rgb)(h, t16[1][s], t16[2][v], r, g, b);
        } else {
            (hsv ? rgb_to_hsv8 : rgb_to_hsl8)(r, g, b, h, s, v);
            if (!keep_hue) h = (t12[0][h] + h - 2048 + 4096) % 4096;
            (hsv ? hsv12_to_rgb8 : hsl12_to_rgb8)(h, t12[1][s], t12[2][v], r, g, b);
        }
    }
};

// HSV and HSL pixel by pixel (stored blue, green, red).
template <class T>
void model_row(const Tables& t, const T* in, T* out, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x, in += 3, out += 3) {
        std::int32_t r = in[2], g = in[1], b = in[0];
        t.model_pixel(r, g, b);
        out[0] = static_cast<T>(b), out[1] = static_cast<T>(g), out[2] = static_cast<T>(r);
    }
}

bool neutral(const Context& ctx, int set, const Image& in) {
    return Tables(ctx.settings, set, in.type).neutral;
}

PointRows rows(const Context& ctx, int set, const Image& in) {
    auto t = std::make_shared<const Tables>(ctx.settings, set, in.type);
    return {[t](const std::uint8_t* i, std::uint8_t* o, std::uint32_t width, const std::uint8_t*,
                std::uint8_t*) {
        // RGB: blue through curve 3, green through curve 2, red through curve 1.
        if (t->colorspace == colorspace_rgb && t->wide) {
            lut16x3_row(i, o, width, t->t16[2].data(), t->t16[1].data(), t->t16[0].data());
        } else if (t->colorspace == colorspace_rgb) {
            lut8x3_row(i, o, width, t->t8[2].data(), t->t8[1].data(), t->t8[0].data());
        } else if (t->wide) {
            model_row(*t, reinterpret_cast<const std::uint16_t*>(i),
                      reinterpret_cast<std::uint16_t*>(o), width);
        } else {
            model_row(*t, i, o, width);
        }
    }};
}

// The flat line at 128 is the first curve's default as a hue curve; in RGB the first curve is
// red's, and a command line that leaves it out (or gives one that does not read) means the
// diagonal.
bool red_curve_default(Settings& s, const ArgumentList& args, const Context&) {
    for (int set = 0; set < 2; ++set) {
        const SetFields& f = set_fields[set];
        int i = 0;
        Curve read;
        if (s.*f.colorspace == colorspace_rgb &&
            (find_key(args, set == 0 ? "curve1" : "b_curve1", i) ||
             curve_from_args(args, i, read))) {
            s.*f.curve[0] = Curve{};
        }
    }
    return false;
}

Schema<Settings> declare_set(Schema<Settings>&& schema, int set) {
    const SetFields& f = set_fields[set];
    const std::string p = set == 0 ? "" : "b_";
    Curve flat;  // a hue shift of 0 everywhere
    flat.y[0] = flat.y[1] = 128;
    return std::move(schema)
        .curve(p + "curve1", f.curve[0], flat)
        .curve(p + "curve2", f.curve[1], Curve{})
        .curve(p + "curve3", f.curve[2], Curve{})
        .choice(p + "colorspace", f.colorspace, colorspace_hsv, {"HSV", "HSL", "RGB"})
        .label("Color Space:")
        .integer(p + "component", f.component, 2)
        .range(0, 2);
}

const Registered<Settings> color_curves{{
    .keyword = "color_curves",
    .schema =
        declare_set(declare_set(Schema<Settings>(), 0), 1)
            .choice("which_curve", &Settings::which_curve, 0,
                    {"Curve for areas where mask is white", "Curve for areas where mask is black"})
            .flag("mask_histogram", &Settings::mask_histogram, 0)
            .label("Base Histogram on Masked Area Only")
            .amount("amount", &Settings::amount, amount_init(0, true, amount_mode_separate))
            .dialog(&Settings::dialog, {.display = 2, .sync_scroll = 1, .auto_preview = 1}),
    .types = types_colour,
    .mixing = Mixing::two_sets,
    .after_parse = red_curve_default,
    .neutral = neutral,
    .point = rows,
}};

}  // namespace

}  // namespace tessaly
