#include "transformations/convert.h"

#include "color/lcms_support.h"
#include "core/builtin_profiles.h"
#include "core/image_convert.h"
#include "core/numeric.h"
#include "core/runner.h"
#include "core/tables.h"
#include "framework/module.h"

namespace tessaly {

namespace {

struct Settings {
    std::int32_t otype;  // target image type 1..5
    DialogKeys dialog;
};
using Context = TransformationContext<Settings>;

bool is_gray(std::uint32_t type) {
    return type == image_gray8 || type == image_gray16;
}
bool is_color(std::uint32_t type) {
    return type == image_color24 || type == image_color48;
}
bool convertible(std::int64_t type) {
    return type >= image_binary && type <= image_color48;
}

// The pairs that go through the colour transform when colour management is on: those that
// cross between gray and colour, and those that drop to 8 bits from colour. Widening and
// thresholding keep their own rules.
bool managed_pair(std::uint32_t from, std::uint32_t to) {
    switch (from) {
        case image_gray8:
            return to == image_color24 || to == image_color48;
        case image_color24:
            return to == image_gray8 || to == image_gray16;
        case image_gray16:
            return to == image_color24 || to == image_color48;
        case image_color48:
            return to == image_gray8 || to == image_color24 || to == image_gray16;
        default:
            return false;
    }
}

ProfileBytes own_profile(const Image& image) {
    return {image.profile, image.profile_size};
}

// The profile the output carries: the input's within a family, else the working profile of the
// target's family (the built-in one when unset); binary images carry none.
ProfileBytes output_profile(const Image& in, std::uint32_t to) {
    if (to == image_binary) return {};
    if (is_gray(to)) {
        if (!is_color(in.type)) return own_profile(in);
        ProfileBytes working = gray_working_profile();
        return working.size > 0 ? working : builtin_gray_profile();
    }
    if (is_color(in.type)) return own_profile(in);
    ProfileBytes working = rgb_working_profile();
    return working.size > 0 ? working : builtin_srgb_profile();
}

void put3(std::uint8_t* out, std::uint32_t x, std::uint8_t v) {
    out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = v;
}
void put3_16(std::uint8_t* out, std::uint32_t x, std::uint16_t v) {
    set_sample16(out, 3 * x, v);
    set_sample16(out, 3 * x + 1, v);
    set_sample16(out, 3 * x + 2, v);
}

constexpr int pair(std::uint32_t from, std::uint32_t to) {
    return static_cast<int>(from * 8 + to);
}

template <class F>
void each(std::uint32_t width, F f) {
    for (std::uint32_t x = 0; x < width; ++x) f(x);
}

std::uint8_t luminance8(const std::uint8_t* bgr) {
    return static_cast<std::uint8_t>(luminance(bgr[2], bgr[1], bgr[0]));
}
std::uint8_t luminance_of_to8(const std::uint8_t* row, std::uint32_t x) {
    return static_cast<std::uint8_t>(luminance(
        to8[sample16(row, 3 * x + 2)], to8[sample16(row, 3 * x + 1)], to8[sample16(row, 3 * x)]));
}

// One row by the arithmetic rules, one loop per pair so that each stays simple enough for the
// compiler. The output row starts zeroed, so binary targets only set their white bits.
void convert_row(std::uint32_t from, std::uint32_t to, const std::uint8_t* in, std::uint8_t* out,
                 std::uint32_t width, std::int32_t& noise) {
    switch (pair(from, to)) {
        case pair(image_binary, image_gray8):
            each(width, [&](std::uint32_t x) { out[x] = bit_get(in, x); });
            break;
        case pair(image_binary, image_color24):
            each(width, [&](std::uint32_t x) { put3(out, x, bit_get(in, x)); });
            break;
        case pair(image_binary, image_gray16):
            each(width, [&](std::uint32_t x) { set_sample16(out, x, to16[bit_get(in, x)]); });
            break;
        case pair(image_binary, image_color48):
            each(width, [&](std::uint32_t x) { put3_16(out, x, to16[bit_get(in, x)]); });
            break;
        case pair(image_gray8, image_binary):
            each(width, [&](std::uint32_t x) {
                if (in[x] >= 128) bit_set(out, x);
            });
            break;
        case pair(image_gray8, image_color24):
            each(width, [&](std::uint32_t x) { put3(out, x, in[x]); });
            break;
        case pair(image_gray8, image_gray16):
            each(width,
                 [&](std::uint32_t x) { set_sample16(out, x, convert_widen(in[x], noise)); });
            break;
        case pair(image_gray8, image_color48):
            each(width, [&](std::uint32_t x) { put3_16(out, x, convert_widen(in[x], noise)); });
            break;
        case pair(image_color24, image_binary):
            each(width, [&](std::uint32_t x) {
                if (luminance8(in + 3 * x) >= 128) bit_set(out, x);
            });
            break;
        case pair(image_color24, image_gray8):
            each(width, [&](std::uint32_t x) { out[x] = luminance8(in + 3 * x); });
            break;
        case pair(image_color24, image_gray16):
            each(width, [&](std::uint32_t x) {
                set_sample16(out, x, convert_widen(luminance8(in + 3 * x), noise));
            });
            break;
        case pair(image_color24, image_color48):
            // Each channel draws its own offset.
            each(3 * width,
                 [&](std::uint32_t i) { set_sample16(out, i, convert_widen(in[i], noise)); });
            break;
        case pair(image_gray16, image_binary):
            each(width, [&](std::uint32_t x) {
                if (to8[sample16(in, x)] >= 128) bit_set(out, x);
            });
            break;
        case pair(image_gray16, image_gray8):
            each(width, [&](std::uint32_t x) { out[x] = to8[sample16(in, x)]; });
            break;
        case pair(image_gray16, image_color24):
            each(width, [&](std::uint32_t x) { put3(out, x, to8[sample16(in, x)]); });
            break;
        case pair(image_gray16, image_color48):
            each(width, [&](std::uint32_t x) { put3_16(out, x, sample16(in, x)); });
            break;
        case pair(image_color48, image_binary):
            each(width, [&](std::uint32_t x) {
                if (luminance_of_to8(in, x) >= 128) bit_set(out, x);
            });
            break;
        case pair(image_color48, image_gray8):
            each(width, [&](std::uint32_t x) { out[x] = luminance_of_to8(in, x); });
            break;
        case pair(image_color48, image_color24):
            each(3 * width, [&](std::uint32_t i) { out[i] = to8[sample16(in, i)]; });
            break;
        case pair(image_color48, image_gray16):
            each(width, [&](std::uint32_t x) {
                set_sample16(
                    out, x,
                    static_cast<std::uint16_t>(luminance(
                        sample16(in, 3 * x + 2), sample16(in, 3 * x + 1), sample16(in, 3 * x))));
            });
            break;
        default:
            break;
    }
}

void input_defaults(Settings& s, const Context& ctx) {
    if (ctx.working_input) s.otype = convert_default_type(ctx.working_input->type);
}

std::uint8_t run_convert(Context& ctx) {
    const Image* in = ctx.working_input;
    if (!in || !convertible(in->type)) {
        image_free(*ctx.result);
        return fail_node(ctx.node, illegal_input_type);
    }
    const auto to = static_cast<std::uint32_t>(ctx.settings.otype);
    if (to == in->type) {
        if (image_copy(*in, *ctx.result)) {
            image_free(*ctx.result);
            return 1;
        }
        return 0;
    }

    const ProfileBytes profile = output_profile(*in, to);
    if (image_alloc_with(*ctx.result, to, in->width, in->height, in->dpi, profile.data,
                         profile.size, in->tags)) {
        return 1;
    }
    TransformHandle transform;
    if (color_management_enabled() && managed_pair(in->type, to)) {
        ProfileHandle source = image_profile_or_fallback(*in);
        ProfileHandle target = image_profile_or_fallback(*ctx.result);
        if (source && target) {
            transform.reset(cmsCreateTransform(source.get(), lcms_format(in->type), target.get(),
                                               lcms_format(to), INTENT_PERCEPTUAL,
                                               cmsFLAGS_NOCACHE));
        }
        if (!transform) {
            image_free(*ctx.result);
            return fail_node(ctx.node, "Internal error: error creating lcms transform");
        }
    }
    if (!ctx.result->has_pixels()) return 0;

    void* t = transform.get();
    // Widening draws noise from a generator of each row's own, seeded from one draw of the
    // shared one: the workers never contend for it, and the picture does not depend on which
    // worker took which row.
    const std::int32_t base = random_int();
    const std::uint8_t failed = run_rows(
        [t, to, base](const Image* src, Image* dst, int first, int last,
                      Progress& progress) -> std::uint8_t {
            for (int r = first; r <= last; ++r) {
                if (progress_tick(progress)) return 1;
                if (t) {
                    cmsDoTransform(t, src->rows[r], dst->rows[r], src->width);
                } else {
                    std::int32_t noise = static_cast<std::int32_t>(
                        1 + (std::uint64_t(base) + std::uint64_t(r) * 40503u) % 2147483646u);
                    convert_row(src->type, to, src->rows[r], dst->rows[r], src->width, noise);
                }
            }
            return 0;
        },
        "Convert", in, ctx.result);
    if (failed) image_free(*ctx.result);
    return failed;
}

const Registered<Settings> convert{{
    .keyword = "convert",
    .schema = Schema<Settings>()
                  .choice("otype", &Settings::otype, image_gray8,
                          {"", "Binary", "8-bit Black and White", "24-bit Color",
                           "16-bit Black and White", "48-bit Color"})
                  .range(image_binary, image_color48)
                  .reject()
                  .label("Convert to:")
                  .note("default: 24-bit Color for 8-bit gray and 48-bit input, else 8-bit gray")
                  .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1, .auto_preview = 1}),
    .types = types_all_five,
    // Binary input is one of the types converted from, not something to view as gray.
    .reads_binary = true,
    .input_defaults = input_defaults,
    .run = run_convert,
}};

}  // namespace

std::int32_t convert_default_type(std::uint32_t input_type) {
    return input_type == image_gray8 || input_type == image_color48 ? image_color24 : image_gray8;
}

std::uint16_t convert_widen(std::uint8_t value, std::int32_t& state) {
    state = random_step(state);
    const std::int32_t n = state;
    const std::int32_t offset = (n & 0x100) ? -(n % 128) : n % 128;
    std::int32_t v = to16[value] + offset;
    // Reflected rather than clamped, so the ends of the range are not piled up.
    if (v < 0) v = -v;
    if (v > 65535) v = 131070 - v;
    return static_cast<std::uint16_t>(v);
}

}  // namespace tessaly
