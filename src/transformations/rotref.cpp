#include "transformations/rotref.h"

#include <array>

#include "framework/transformation.h"

namespace tessaly {

namespace {

bool accepted_type(std::uint32_t type) {
    return type >= image_binary && type <= image_color48;
}

// --- the transformation ---

bool check_orientation(RotrefSettings& s, const ArgumentList&,
                       const TransformationContext<RotrefSettings>&) {
    return s.orientation < 0 || s.orientation >= orientation_count;
}

std::uint8_t run_rotref(TransformationContext<RotrefSettings>& ctx) {
    const Image* in = ctx.working_input;
    if (!in || !accepted_type(in->type)) {
        image_free(*ctx.result);
        return fail_node(ctx.node, illegal_input_type);
    }
    if (image_orient(*in, *ctx.result, ctx.settings.orientation)) {
        image_free(*ctx.result);
        return 1;
    }
    return 0;
}

const Module<RotrefSettings> rotref_module = {
    .keyword = "rotref",
    .display_name = "Rotate/Mirror",
    .settings = {"Rotate-Mirror", ".rotate mirror"},
    // Bilevel images move single bits; the gray view would turn them into 8-bit.
    .reads_binary = true,
    .schema = Schema<RotrefSettings>()
                  .integer("orientation", &RotrefSettings::orientation)
                  .integer("display", &RotrefSettings::display),
    .after_parse = check_orientation,
    .run = run_rotref,
};

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

std::string rotref_command_line(const RotrefSettings& settings) {
    return format_settings(rotref_module, settings);
}

bool rotref_parse(const ArgumentList& args, RotrefSettings& settings) {
    TransformationContext<RotrefSettings> ctx;
    const bool failed = parse_settings(rotref_module, args, ctx);
    settings = failed ? RotrefSettings{} : ctx.settings;
    return failed;
}

std::uint8_t rotref_run_entry(Node* input, Node* node, const ArgumentList& args) {
    return run_entry(rotref_module, input, node, args);
}

}  // namespace tessaly
