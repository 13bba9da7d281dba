// Masks: outputs a transformation's masks as images. Four mask slots, each behind an amount
// control; the output is the input itself, one of the masks, or masks 1 and 2 combined.
#include "core/runner.h"
#include "framework/module.h"

namespace tessaly {

namespace {

// The "Output:" choices.
enum : std::int32_t {
    output_input = 0,  // "Copy of Input Image"
    output_mask1 = 1,  // 1..4 "Mask k"
    output_sum = 5,    // "Mask 1 + Mask 2"
    output_difference = 6,
    output_overlap = 7,
};

struct Settings {
    AmountSettings amount1, amount2, amount3, amount4;
    std::int32_t output;
    DialogKeys dialog;

    const AmountSettings& amount(int k) const {
        const AmountSettings* a[] = {&amount1, &amount2, &amount3, &amount4};
        return *a[k];
    }
};

using Context = TransformationContext<Settings>;

std::uint8_t missing(Node* node, int k) {
    return fail_node(node, formatted("Missing Mask %d", k));
}

// Masks 1 and 2 combined pixel by pixel into a new gray image of mask 1's type and size.
std::uint8_t combine(Context& ctx, const Image& m1, const Image& m2) {
    if (m1.type != m2.type) return fail_node(ctx.node, "Masks 1 and 2 have different bit depths");
    if (m1.width != m2.width || m1.height != m2.height) {
        return fail_node(ctx.node, "Amount Apply - Amount mask does not match image dimensions");
    }
    Image out;
    if (image_alloc(out, m1.type, m1.width, m1.height, m1.dpi)) return 1;
    const std::int32_t choice = ctx.settings.output;
    const bool wide = m1.type == image_gray16;
    const std::uint8_t error = run_rows(
        [&](const Image*, Image* o, int first, int last, Progress& p) -> std::uint8_t {
            for (int r = first; r <= last; ++r) {
                if (progress_tick(p)) return 1;
                for (std::uint32_t x = 0; x < o->width; ++x) {
                    const std::uint32_t a = wide ? sample16(m1.rows[r], x) : m1.rows[r][x];
                    const std::uint32_t b = wide ? sample16(m2.rows[r], x) : m2.rows[r][x];
                    const std::uint32_t v = choice == output_sum          ? std::max(a, b)
                                            : choice == output_difference ? (a > b ? a - b : 0)
                                                                          : std::min(a, b);
                    if (wide) {
                        set_sample16(o->rows[r], x, static_cast<std::uint16_t>(v));
                    } else {
                        o->rows[r][x] = static_cast<std::uint8_t>(v);
                    }
                }
            }
            return 0;
        },
        "Masks", nullptr, &out);
    if (error) return 1;
    *ctx.result = std::move(out);
    return 0;
}

std::uint8_t run(Context& ctx) {
    const Image* in = ctx.working_input;
    if (!in || in->type < image_binary || in->type > image_float_color || !in->has_pixels()) {
        return fail_node(ctx.node, illegal_input_type);
    }
    const Settings& s = ctx.settings;
    auto mask = [&](int k) { return amount_mask(s.amount(k), ctx.node); };
    if (s.output == output_input) return image_copy(*in, *ctx.result) ? 1 : 0;
    if (s.output <= output_mask1 + 3) {
        const int k = s.output - output_mask1;
        const Image* m = mask(k);
        if (!m) return missing(ctx.node, k + 1);
        return image_copy(*m, *ctx.result) ? 1 : 0;
    }
    const Image* m1 = mask(0);
    if (!m1) return missing(ctx.node, 1);
    const Image* m2 = mask(1);
    if (!m2) return missing(ctx.node, 2);
    return combine(ctx, *m1, *m2);
}

AmountSettings slot(int k) {
    static const char* const labels[] = {"Mask 1: ", "Mask 2: ", "Mask 3: ", "Mask 4: "};
    static const char* const captions[] = {"Mask 1", "Mask 2", "Mask 3", "Mask 4"};
    return amount_init(k, true, amount_mode_percent, labels[k], captions[k]);
}

const Registered<Settings> masks{{
    .keyword = "masks",
    .schema = Schema<Settings>()
                  .amount("amount1", &Settings::amount1, slot(0))
                  .amount("amount2", &Settings::amount2, slot(1))
                  .amount("amount3", &Settings::amount3, slot(2))
                  .amount("amount4", &Settings::amount4, slot(3))
                  .choice("output", &Settings::output, output_input,
                          {"Copy of Input Image", "Mask 1", "Mask 2", "Mask 3", "Mask 4",
                           "Mask 1 + Mask 2", "Mask 1 - Mask 2", "Mask 1 & Mask 2"})
                  .label("Output:")
                  .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1}),
    .types = types_any,
    // Choice 0 copies the input as it is, binary included.
    .reads_binary = true,
    .run = run,
}};

}  // namespace

}  // namespace tessaly
