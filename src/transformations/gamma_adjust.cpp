// Gamma Adjust: power-law tone tables, one gamma for every channel, for the HSV value or the HSL
// lightness, or one gamma each for red, green and blue.
#include <cmath>
#include <memory>
#include <vector>

#include "core/numeric.h"
#include "framework/module.h"
#include "kernels/lut.h"

namespace tessaly {

namespace {

// The "Channel(s):" choices.
enum : std::int32_t { gamma_rgb = 0, gamma_value = 1, gamma_lightness = 2, gamma_three = 3 };

struct Settings {
    std::int32_t gray;
    double rgamma, ggamma, bgamma;
    AmountSettings amount;
    DialogKeys dialog;
};
using Context = TransformationContext<Settings>;

bool colour(const Image& in) {
    return in.type == image_color24 || in.type == image_color48;
}
bool three_gammas(const Settings& s, const Image& in) {
    return s.gray == gamma_three && colour(in);
}

bool neutral(const Context& ctx, int, const Image& in) {
    const Settings& s = ctx.settings;
    if (three_gammas(s, in)) return s.rgamma == 1.0 && s.ggamma == 1.0 && s.bgamma == 1.0;
    return s.rgamma == 1.0;
}

// T[i] = round((i / top)^g x top); a gamma the dialog would never give (zero, negative, huge)
// still gives a table of the scale.
template <class T>
std::vector<T> gamma_table(double g) {
    constexpr std::int32_t top = sizeof(T) == 1 ? 255 : 65535;
    std::vector<T> t(std::size_t{top} + 1);
    for (std::int32_t i = 0; i <= top; ++i) {
        const double v = std::pow(static_cast<double>(i) / top, g) * top;
        t[static_cast<std::size_t>(i)] = static_cast<T>(std::clamp(round_to_int(v), 0, top));
    }
    return t;
}

template <class T>
PointRows rows_of(const Settings& s, const Image& in) {
    const std::vector<T> red = gamma_table<T>(s.rgamma);
    if (three_gammas(s, in)) {
        auto tables = std::make_shared<std::vector<T>[]>(3);
        tables[0] = gamma_table<T>(s.bgamma);
        tables[1] = gamma_table<T>(s.ggamma);
        tables[2] = red;
        return {[tables](const std::uint8_t* i, std::uint8_t* o, std::uint32_t width,
                         const std::uint8_t*, std::uint8_t*) {
            if constexpr (sizeof(T) == 1) {
                lut8x3_row(i, o, width, tables[0].data(), tables[1].data(), tables[2].data());
            } else {
                lut16x3_row(i, o, width, tables[0].data(), tables[1].data(), tables[2].data());
            }
        }};
    }
    const ToneModel model = s.gray == gamma_value       ? ToneModel::value
                            : s.gray == gamma_lightness ? ToneModel::lightness
                                                        : ToneModel::samples;
    auto tone = std::make_shared<ToneRows>();
    tone->prepare(in.type, model, red.data());
    return {[tone](const std::uint8_t* i, std::uint8_t* o, std::uint32_t width, const std::uint8_t*,
                   std::uint8_t*) { tone->row(i, o, width); }};
}

PointRows gamma_rows(const Context& ctx, int, const Image& in) {
    const bool deep = in.type == image_gray16 || in.type == image_color48;
    return deep ? rows_of<std::uint16_t>(ctx.settings, in)
                : rows_of<std::uint8_t>(ctx.settings, in);
}

Schema<Settings> schema() {
    // The dialog's sliders cover 0.1 to 10; a command line may hold any gamma.
    return Schema<Settings>()
        .choice("gray", &Settings::gray, gamma_value,
                {"RGB (1 slider)", "HSV V", "HSL L", "RGB (3 sliders)"})
        .label("Channel(s):")
        .real("rgamma", &Settings::rgamma, "%4zf", 1.0)
        .range(0.1, 10.0)
        .accept_out_of_range()
        .label("Red Gamma factor:")
        .real("ggamma", &Settings::ggamma, "%4zf", 1.0)
        .range(0.1, 10.0)
        .accept_out_of_range()
        .label("Green Gamma factor:")
        .real("bgamma", &Settings::bgamma, "%4zf", 1.0)
        .range(0.1, 10.0)
        .accept_out_of_range()
        .label("Blue Gamma factor:")
        .amount("amount", &Settings::amount, amount_init(0, true, amount_mode_percent))
        .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1, .auto_preview = 1});
}

const Registered<Settings> gamma_adjust{{
    .keyword = "gamma_adjust",
    .settings = {"Gamma Adjust", ".gamma adjust"},
    .schema = schema(),
    .title = "Gamma Adjust",
    .neutral = neutral,
    .point = gamma_rows,
}};

}  // namespace

}  // namespace tessaly
