// Brightness Curve: the brightness of a picture through a curve, in one of three colour models
// (HSV value, HSL lightness, or each RGB channel), with a colour-balance correction and a
// saturation change in the same pass. Advanced Mode applies the curve to an edge-preserving base
// layer and adds the detail back with a weight, so that contrast changes keep the texture. Under
// a mask two complete settings sets apply: set 0 where the mask is white, set 1 where it is black.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <numbers>
#include <string>
#include <vector>

#include "core/color_models.h"
#include "core/numeric.h"
#include "core/runner.h"
#include "framework/module.h"
#include "kernels/edge_preserving.h"
#include "kernels/lut.h"
#include "kernels/resample.h"

namespace tessaly {

namespace {

struct Settings {
    AmountSettings amount;
    std::int32_t colorspace, colorspace1;  // of set 0 and set 1
    std::int32_t advanced;
    std::int32_t sharpen_method;  // base layer: 0 sigma filter, 1 guided filter
    std::int32_t mask_histogram, which_curve;
    // Set 0: where the mask is white, and everywhere without a mask.
    Curve curve;
    Colour colorbal, colorbal_remove;  // "Add:" and "Remove:" colours of the colour balance
    double saturation;
    std::int32_t radius, threshold;  // of the base layer
    double detail;                   // weight of the detail layer
    std::int32_t antialias;
    // Set 1: where the mask is black.
    Curve curve1;
    Colour colorbal1, colorbal_remove1;
    double saturation1;
    std::int32_t radius1, threshold1;
    double detail1;
    std::int32_t antialias1;
    DialogKeys dialog;
};
using Context = TransformationContext<Settings>;

// The fields of one settings set.
struct SetFields {
    std::int32_t Settings::*colorspace;
    Curve Settings::*curve;
    Colour Settings::*add;
    Colour Settings::*remove;
    double Settings::*saturation;
    std::int32_t Settings::*radius;
    std::int32_t Settings::*threshold;
    double Settings::*detail;
    std::int32_t Settings::*antialias;
};
constexpr SetFields set_fields[2] = {
    {&Settings::colorspace, &Settings::curve, &Settings::colorbal, &Settings::colorbal_remove,
     &Settings::saturation, &Settings::radius, &Settings::threshold, &Settings::detail,
     &Settings::antialias},
    {&Settings::colorspace1, &Settings::curve1, &Settings::colorbal1, &Settings::colorbal_remove1,
     &Settings::saturation1, &Settings::radius1, &Settings::threshold1, &Settings::detail1,
     &Settings::antialias1},
};
constexpr Colour white{255, 255, 255};

// Reads a set's fields from the settings.
struct Set {
    const Settings& s;
    const SetFields& f;
    Set(const Settings& settings, int k) : s(settings), f(set_fields[k]) {}
    template <class T>
    const T& operator()(T Settings::*field) const {
        return s.*field;
    }
    // Advanced Mode changes this set's result.
    bool advanced() const { return s.advanced == 1 && s.*f.detail != 1.0 && s.*f.radius >= 1; }
};

// The step of one pass at one depth (T: the sample type), built once and shared by the workers:
// the colour balance, the curve in the colour model and the saturation are table rows; Advanced
// Mode adds the detail through a table of its weighted values.
template <class T>
struct Step {
    static constexpr std::int32_t top = sizeof(T) == 1 ? 255 : 65535;
    static constexpr std::int32_t half = top / 2 + 1;
    static constexpr bool wide = sizeof(T) == 2;
    std::uint32_t type;
    bool colour;
    std::int32_t colorspace;
    std::vector<T> balance[3];  // red, green, blue; empty when the colours leave them
    ToneRows tone;
    std::vector<T> saturation;  // empty when it leaves the saturation
    SaturationRows8 saturation8;
    std::vector<std::int32_t> detail;  // what a detail-layer value adds: rnd((d - half) weight)

    Step(const Set& set, std::uint32_t image_type)
        : type(image_type),
          colour(type == image_color24 || type == image_color48),
          colorspace(set(set.f.colorspace)) {
        std::vector<T> curve(top + 1);
        if constexpr (wide) {
            curve_table16(set(set.f.curve), curve.data(), false);
        } else {
            curve_table8(set(set.f.curve), curve.data());
        }
        tone.prepare(type,
                     colorspace == colorspace_hsv   ? ToneModel::value
                     : colorspace == colorspace_hsl ? ToneModel::lightness
                                                    : ToneModel::samples,
                     curve.data());
        const Colour add = set(set.f.add), remove = set(set.f.remove);
        const std::uint8_t adds[3] = {add.c1, add.c2, add.c3};
        const std::uint8_t removes[3] = {remove.c1, remove.c2, remove.c3};
        for (int c = 0; colour && !(add == white && remove == white) && c < 3; ++c) {
            balance[c].resize(top + 1);
            for (std::int64_t i = 0; i <= top; ++i)
                balance[c][i] = balanced(i, adds[c], removes[c]);
        }
        // A signed square: the slider's middle is gentle, its ends strong.
        const double s = set(set.f.saturation), t = s * std::fabs(s);
        if (colour && t != 0.0) {
            const double f = std::tan((t + 1.0) * std::numbers::pi / 4.0);
            saturation.resize(top + 1);
            for (std::int32_t i = 0; i <= top; ++i) {
                saturation[i] =
                    static_cast<T>(t <= -1.0  ? 0
                                   : t >= 1.0 ? top
                                              : round_to_int(std::min<double>(top, i * f)));
            }
            if constexpr (!wide)
                saturation8.prepare(saturation.data(), colorspace == colorspace_hsl);
        }
        if (set.advanced()) {
            detail.resize(top + 1);
            const double weight = set(set.f.detail);
            for (std::int32_t d = 0; d <= top; ++d) detail[d] = round_to_int((d - half) * weight);
        }
    }

    // i add / remove, the 16-bit colours being the 8-bit ones times 257: truncated at 8 bits,
    // rounded to nearest at 16.
    static T balanced(std::int64_t i, std::int64_t add, std::int64_t remove) {
        if (remove == 0) return static_cast<T>(i);
        const std::int64_t v = wide ? (2 * i * add + remove) / (2 * remove) : i * add / remove;
        return static_cast<T>(std::min<std::int64_t>(v, top));
    }

    // One row: the step acts on the base layer's pixels when there is one (Advanced Mode), and
    // the detail of the source over the base is added back afterwards. a and b: scratch rows.
    void row(const std::uint8_t* src, const std::uint8_t* base, std::uint8_t* out,
             std::uint32_t width, std::uint8_t* a, std::uint8_t* b) const {
        const std::uint8_t* in = base ? base : src;
        const std::size_t n = std::size_t{width} * (colour ? 3 : 1);
        if (!balance[0].empty()) {
            if constexpr (wide) {
                lut16x3_row(in, a, width, balance[2].data(), balance[1].data(), balance[0].data());
            } else {
                lut8x3_row(in, a, width, balance[2].data(), balance[1].data(), balance[0].data());
            }
            in = a;
        }
        std::uint8_t* toned = saturation.empty() && !base ? out : b;
        tone.row(in, toned, width);
        if (!saturation.empty()) {
            std::uint8_t* saturated = base ? a : out;
            if constexpr (wide) {
                saturate16(toned, saturated, width);
            } else {
                saturation8.row(toned, saturated, width);
            }
            toned = saturated;
        }
        if (!base) return;
        const T* s = reinterpret_cast<const T*>(src);
        const T* l = reinterpret_cast<const T*>(base);
        const T* v = reinterpret_cast<const T*>(toned);
        T* o = reinterpret_cast<T*>(out);
        for (std::size_t i = 0; i < n; ++i) {
            const std::int32_t d = std::clamp(s[i] - l[i] + half, 0, top);
            o[i] = static_cast<T>(std::clamp(v[i] + detail[d], 0, top));
        }
    }

    void saturate16(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width) const {
        const T* table = saturation.data();
        for (std::uint32_t x = 0; x < width; ++x) {
            std::int32_t b = sample16(in, 3 * x), g = sample16(in, 3 * x + 1),
                         r = sample16(in, 3 * x + 2);
            if (colorspace == colorspace_hsl) {
                saturation_map_hsl16(r, g, b, table);
            } else {
                saturation_map_hsv16(r, g, b, table);
            }
            set_sample16(out, 3 * x, static_cast<std::uint16_t>(b));
            set_sample16(out, 3 * x + 1, static_cast<std::uint16_t>(g));
            set_sample16(out, 3 * x + 2, static_cast<std::uint16_t>(r));
        }
    }
};

// The per-row step over src (with its base layer, or none) into out, allocated like src.
bool tone_image(const Image& src, const Image* base, const Set& set, Image& out) {
    if (image_alloc_with(out, src.type, src.width, src.height, src.dpi, src.profile,
                         src.profile_size, src.tags)) {
        return true;
    }
    auto rows = [&](const auto& step) {
        return run_rows(
            [&](const Image*, Image* o, int first, int last, Progress& p) -> std::uint8_t {
                std::vector<std::uint8_t> a(src.row_bytes), b(src.row_bytes);
                for (int y = first; y <= last; ++y) {
                    if (progress_tick(p)) return 1;
                    step.row(src.rows[y], base ? base->rows[y] : nullptr, o->rows[y], src.width,
                             a.data(), b.data());
                }
                return 0;
            },
            "Brightness Curve", &src, &out);
    };
    const bool wide = src.type == image_gray16 || src.type == image_color48;
    const std::uint8_t error =
        wide ? rows(Step<std::uint16_t>(set, src.type)) : rows(Step<std::uint8_t>(set, src.type));
    if (error) image_free(out);
    return error != 0;
}

// The base layers of one run. Each set gets the layer of its own radius and threshold; a second
// set that asks for the same one shares it, and both share the enlarged source of antialiasing.
class BaseLayers {
  public:
    explicit BaseLayers(std::int32_t method) : method_(method) {}

    const Image* base(const Image& src, bool enlarged, std::int32_t radius,
                      std::int32_t threshold) {
        for (const Layer& l : layers_) {
            if (l.enlarged == enlarged && l.radius == radius && l.threshold == threshold) {
                return &l.image;
            }
        }
        Layer& l = layers_.emplace_back(Layer{enlarged, radius, threshold, {}});
        const bool failed = method_ == 0 ? sigma_filter(src, l.image, radius, threshold)
                                         : guided_filter(src, l.image, radius, threshold);
        if (!failed) return &l.image;
        layers_.pop_back();
        return nullptr;
    }

    // The source at 4 times its width and height.
    const Image* enlarged(const Image& in) {
        const std::uint64_t w = 4ull * in.width, h = 4ull * in.height, limit = INT32_MAX;
        if (!big_.has_pixels() &&
            (w > limit || h > limit ||
             resample(in, big_, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), in.dpi,
                      resample_bilinear, 0.0, false))) {
            return nullptr;
        }
        return &big_;
    }

  private:
    struct Layer {
        bool enlarged;
        std::int32_t radius, threshold;
        Image image;
    };
    std::int32_t method_;
    std::deque<Layer> layers_;  // addresses stay put as layers are added
    Image big_;
};

bool neutral(const Settings& s, int k) {
    const Set set(s, k);
    return curve_is_identity(set(set.f.curve)) && set(set.f.saturation) == 0.0 &&
           set(set.f.add) == white && set(set.f.remove) == white &&
           (s.advanced == 0 || (set(set.f.detail) == 1.0 && set(set.f.antialias) == 0));
}

bool pass(const Settings& s, int k, const Image& in, Image& out, BaseLayers& layers) {
    const Set set(s, k);
    if (!set.advanced()) return tone_image(in, nullptr, set, out);
    const std::int32_t radius = set(set.f.radius), threshold = set(set.f.threshold);
    if (set(set.f.antialias) == 0) {
        const Image* base = layers.base(in, false, radius, threshold);
        return !base || tone_image(in, base, set, out);
    }
    // Antialiased: the whole step on the source enlarged four times, then reduced again.
    const Image* big = layers.enlarged(in);
    const Image* base = big ? layers.base(*big, true, radius, threshold) : nullptr;
    Image result;
    return !base || tone_image(*big, base, set, result) ||
           resample(result, out, static_cast<std::int32_t>(in.width),
                    static_cast<std::int32_t>(in.height), in.dpi, resample_bilinear, 0.0, false);
}

constexpr TypeSet accepted = types_gray_and_colour;

std::uint8_t run(Context& ctx) {
    const Image* in = ctx.working_input;
    if (!in || !in->has_pixels() || !(accepted & type_bit(in->type))) {
        image_free(*ctx.result);
        return fail_node(ctx.node, illegal_input_type);
    }
    const Settings& s = ctx.settings;
    BaseLayers layers(s.sharpen_method);
    FilterRun filter{*in, *ctx.result, &s.amount, amount_mask(s.amount, ctx.node),
                     Mixing::two_sets};
    filter.neutral = [&](int k) { return neutral(s, k); };
    filter.pass = [&](int k, Image& out) { return pass(s, k, *in, out, layers); };
    return run_filter(filter);
}

// An old command line without colorspace1, or with one that does not read, uses the same colour
// model for both sets.
bool colorspace1_follows(Settings& s, const ArgumentList& args, const Context&) {
    int i = 0;
    std::int32_t v = 0;
    if (find_key(args, "colorspace1", i) || parse_integer(args[i], v)) s.colorspace1 = s.colorspace;
    return false;
}

Schema<Settings> declare_set(Schema<Settings>&& schema, int k) {
    const SetFields& f = set_fields[k];
    const std::string n = k == 0 ? "" : "1";
    return std::move(schema)
        .curve("curve" + n, f.curve, Curve{})
        .colour("colorbal" + n, f.add, white)
        .label("Add Color")
        .colour("colorbal_remove" + n, f.remove, white)
        .label("Remove Color")
        .real("saturation" + n, f.saturation, "%4zf", 0.0)
        .range(-1.0, 1.0)
        .label("Saturation:")
        .integer("radius" + n, f.radius, 10)
        .range(0, 40)
        .label("Radius:", "pixels")
        .integer("threshold" + n, f.threshold, 100)
        .range(0, 255)
        .label("Threshold:")
        .real("detail" + n, f.detail, "%4zf", 1.0)
        .range(0.0, 4.0)
        .label("Detail:")
        .flag("antialias" + n, f.antialias, 0)
        .label("Antialias");
}

Schema<Settings> schema() {
    Schema<Settings> s =
        Schema<Settings>()
            .amount("amount", &Settings::amount, amount_init(0, true, amount_mode_separate))
            .choice("colorspace", &Settings::colorspace, colorspace_hsv, {"HSV", "HSL", "RGB"})
            .label("Color Space:")
            .choice("colorspace1", &Settings::colorspace1, colorspace_hsv, {"HSV", "HSL", "RGB"})
            .label("Color Space:")
            .note("absent or unreadable: the value of colorspace")
            .flag("advanced", &Settings::advanced, 0)
            .label("Advanced Mode")
            .choice("sharpen_method", &Settings::sharpen_method, 1,
                    {"Use Bilateral Filter", "Use Guided Filter"})
            .absent(0)
            .flag("mask_histogram", &Settings::mask_histogram, 0)
            .label("Base Histogram on Masked Area Only")
            .choice("which_curve", &Settings::which_curve, 0,
                    {"Curve for areas where mask is white", "Curve for areas where mask is black"});
    return declare_set(declare_set(std::move(s), 0), 1)
        .dialog(&Settings::dialog, {.display = 2, .sync_scroll = 1, .auto_preview = 1});
}

const Registered<Settings> brightness_curve{{
    .keyword = "brightness_curve",
    .schema = schema(),
    .types = accepted,
    .mixing = Mixing::two_sets,
    .kind = ModuleKind::image,
    .after_parse = colorspace1_follows,
    .run = run,
}};

}  // namespace

}  // namespace tessaly
