#include "transformations/rotref.h"

#include <array>

#include "core/image_orient.h"
#include "framework/module.h"

namespace tessaly {

namespace {

struct Settings {
    std::int32_t orientation;
    DialogKeys dialog;
};

std::uint8_t run(TransformationContext<Settings>& ctx) {
    const Image* in = ctx.working_input;
    if (!in || !(types_all_five & type_bit(in->type))) {
        image_free(*ctx.result);
        return fail_node(ctx.node, illegal_input_type);
    }
    if (image_orient(*in, *ctx.result, ctx.settings.orientation)) {
        image_free(*ctx.result);
        return 1;
    }
    return 0;
}

const Registered<Settings> rotref{{
    .keyword = "rotref",
    .settings = {"Rotate-Mirror", ".rotate mirror"},
    .schema = Schema<Settings>()
                  .choice("orientation", &Settings::orientation, orientation_unchanged,
                          {"Unchanged", "Rotated 90 CW", "Rotated 180", "Rotated 90 CCW",
                           "Mirrored Left to Right", "Transposed", "Mirrored Top to Bottom",
                           "Transversed"})
                  .reject()
                  .label("Orientation:")
                  .dialog(&Settings::dialog, {.display = 1}),
    .types = types_all_five,
    // Bilevel images move single bits; the gray view would turn them into 8-bit.
    .reads_binary = true,
    .kind = ModuleKind::geometry,
    .dialog = {.same_size = false, .replaces_image = true},
    .run = run,
}};

// new code = table[button][current code]
constexpr std::array<std::array<std::int32_t, orientation_count>, 4> button_tables = {{
    {1, 2, 3, 0, 7, 4, 5, 6},  // rotate clockwise
    {3, 0, 1, 2, 5, 6, 7, 4},  // rotate counterclockwise
    {4, 5, 6, 7, 0, 1, 2, 3},  // reflect left to right
    {6, 7, 4, 5, 2, 3, 0, 1},  // reflect top to bottom
}};

}  // namespace

std::int32_t rotref_apply_button(int button, std::int32_t code) {
    if (button < 0 || button >= static_cast<int>(button_tables.size()) || code < 0 ||
        code >= orientation_count) {
        return code;
    }
    return button_tables[static_cast<std::size_t>(button)][static_cast<std::size_t>(code)];
}

}  // namespace tessaly
