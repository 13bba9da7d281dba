#include "transformations/masks.h"

#include "core/runner.h"
#include "framework/transformation.h"

namespace tessaly {

const std::array<const char*, 8> masks_output_names = {
    "Copy of Input Image", "Mask 1",          "Mask 2",         "Mask 3", "Mask 4",
    "Mask 1 + Mask 2",     "Mask 1 - Mask 2", "Mask 1 & Mask 2"};

std::array<AmountSettings, masks_slot_count> MasksSettings::default_amounts() {
    static const char* const labels[] = {"Mask 1: ", "Mask 2: ", "Mask 3: ", "Mask 4: "};
    static const char* const captions[] = {"Mask 1", "Mask 2", "Mask 3", "Mask 4"};
    std::array<AmountSettings, masks_slot_count> a;
    for (int k = 0; k < masks_slot_count; ++k) {
        a[static_cast<std::size_t>(k)] =
            amount_init(k, true, amount_mode_percent, labels[k], captions[k]);
    }
    return a;
}

namespace {

using Context = TransformationContext<MasksSettings>;

template <int k>
auto amount_key() {
    return Schema<MasksSettings>::Writer(
        [](const MasksSettings& s, std::string& out) { out += amount_to_text(s.amounts[k]); });
}

template <int k>
auto amount_read(std::string_view key) {
    return Schema<MasksSettings>::Reader([key](const ArgumentList& a, MasksSettings& s) {
        (void)amount_from_args(a, key, s.amounts[k]);
    });
}

bool after_parse(MasksSettings& s, const ArgumentList&, const Context& ctx) {
    for (AmountSettings& a : s.amounts) amount_make_consistent(a, ctx.node);
    if (s.output < masks_output_input || s.output > masks_output_overlap) {
        s.output = masks_output_input;
    }
    return false;
}

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
                    const std::uint32_t v = choice == masks_output_sum ? std::max(a, b)
                                            : choice == masks_output_difference
                                                ? (a > b ? a - b : 0)
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
    const MasksSettings& s = ctx.settings;
    auto mask = [&](int k) {
        return amount_mask(s.amounts[static_cast<std::size_t>(k)], ctx.node);
    };
    if (s.output == masks_output_input) return image_copy(*in, *ctx.result) ? 1 : 0;
    if (s.output <= masks_output_mask1 + 3) {
        const int k = s.output - masks_output_mask1;
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

const Module<MasksSettings> masks_module = {
    .keyword = "masks",
    .display_name = "Masks",
    .settings = {"Masks", ".masks"},
    // Choice 0 copies the input as it is, binary included.
    .reads_binary = true,
    .schema = Schema<MasksSettings>()
                  .custom("amount1", amount_key<0>(), amount_read<0>("amount1"))
                  .custom("amount2", amount_key<1>(), amount_read<1>("amount2"))
                  .custom("amount3", amount_key<2>(), amount_read<2>("amount3"))
                  .custom("amount4", amount_key<3>(), amount_read<3>("amount4"))
                  .integer("output", &MasksSettings::output)
                  .integer("display", &MasksSettings::display)
                  .integer("sync_scroll", &MasksSettings::sync_scroll),
    .after_parse = after_parse,
    .run = run,
};

}  // namespace

std::string masks_command_line(const MasksSettings& settings) {
    return format_settings(masks_module, settings);
}

bool masks_parse(const ArgumentList& args, const Node* node, MasksSettings& settings) {
    Context ctx;
    ctx.node = const_cast<Node*>(node);
    const bool failed = parse_settings(masks_module, args, ctx);
    settings = ctx.settings;
    return failed;
}

std::uint8_t masks_run_entry(Node* input, Node* node, const ArgumentList& args) {
    return run_entry(masks_module, input, node, args);
}

}  // namespace tessaly
