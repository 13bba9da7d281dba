#include "mask_operations.h"

#include <utility>

#include "core/format.h"
#include "core/image_convert.h"
#include "core/runner.h"
#include "mask_paint.h"
#include "mask_pixels.h"
#include "mask_reshape.h"
#include "mask_select.h"
#include "mask_shapes.h"

namespace tessaly {

namespace {

std::uint32_t mask_value(const Image& mask, const std::uint8_t* row, std::uint32_t x) {
    return mask.type == image_gray16 ? sample16(row, x) : row[x];
}

void set_mask_value(const Image& mask, std::uint8_t* row, std::uint32_t x, std::uint32_t v) {
    if (mask.type == image_gray16) {
        set_sample16(row, x, static_cast<std::uint16_t>(v));
    } else {
        row[x] = static_cast<std::uint8_t>(v);
    }
}

// Sets every pixel of a mask from its position, x from the left and y from the top (row 0 of an
// Image is its bottom line).
template <typename ValueAt>
bool fill_mask(Image& mask, ValueAt value_at) {
    const std::uint32_t h = mask.height;
    return run_rows(
               [&](const Image*, Image* out, int first, int last,
                   Progress& progress) -> std::uint8_t {
                   for (int r = first; r <= last; ++r) {
                       if (progress_tick(progress)) return 1;
                       std::uint8_t* row = out->rows[r];
                       const std::uint32_t y = h - 1 - static_cast<std::uint32_t>(r);
                       for (std::uint32_t x = 0; x < out->width; ++x) {
                           set_mask_value(*out, row, x, value_at(x, y));
                       }
                   }
                   return 0;
               },
               "", nullptr, &mask) != 0;
}

bool render_all(MaskState& state, const MaskOperation&, Image& after) {
    const std::uint32_t full = mask_full(state);
    return fill_mask(after, [&](std::uint32_t, std::uint32_t) { return full; });
}

bool render_clear(MaskState&, const MaskOperation&, Image& after) {
    return fill_mask(after, [](std::uint32_t, std::uint32_t) { return 0u; });
}

bool render_gray(MaskState& state, const MaskOperation&, Image& after) {
    const std::uint32_t half = state.mask16 ? 32768u : 128u;
    return fill_mask(after, [&](std::uint32_t, std::uint32_t) { return half; });
}

template <std::int32_t code>
bool render_half(MaskState& state, const MaskOperation&, Image& after) {
    const std::uint32_t full = mask_full(state);
    const std::uint32_t half_x = after.width / 2;
    const std::uint32_t half_y = after.height / 2;
    return fill_mask(after, [&](std::uint32_t x, std::uint32_t y) -> std::uint32_t {
        switch (code) {
            case mask_op_left_half:
                return x < half_x ? full : 0;
            case mask_op_right_half:
                return x < half_x ? 0 : full;
            case mask_op_top_half:
                return y < half_y ? full : 0;
            default:
                return y < half_y ? 0 : full;
        }
    });
}

// Rewrites each value of the current mask through a function of the value.
template <typename Map>
bool map_mask(const Image& current, Image& after, Map map) {
    return run_rows(
               [&](const Image* in, Image* out, int first, int last,
                   Progress& progress) -> std::uint8_t {
                   for (int r = first; r <= last; ++r) {
                       if (progress_tick(progress)) return 1;
                       const std::uint8_t* src = in->rows[r];
                       std::uint8_t* dst = out->rows[r];
                       for (std::uint32_t x = 0; x < out->width; ++x) {
                           set_mask_value(*out, dst, x, map(mask_value(*in, src, x)));
                       }
                   }
                   return 0;
               },
               "", &current, &after) != 0;
}

bool render_invert(MaskState& state, const MaskOperation&, Image& after) {
    const std::uint32_t full = mask_full(state);
    return map_mask(state.current_mask, after, [&](std::uint32_t v) { return full - v; });
}

bool render_brightness_curve(MaskState& state, const MaskOperation& operation, Image& after) {
    if (!curve_is_valid(operation.parameters.curve)) return false;  // nothing to apply
    if (after.type == image_gray16) {
        std::vector<std::uint16_t> table(65536);
        curve_table16(operation.parameters.curve, table.data(), false);
        return map_mask(state.current_mask, after, [&](std::uint32_t v) { return table[v]; });
    }
    std::uint8_t table[256];
    curve_table8(operation.parameters.curve, table);
    return map_mask(state.current_mask, after, [&](std::uint32_t v) { return table[v]; });
}

bool render_save(MaskState& state, const MaskOperation&, Image&) {
    return image_copy(state.current_mask, state.saved_mask);
}

bool render_combine_saved(MaskState& state, const MaskOperation& operation, Image& after) {
    if (state.saved_mask.empty()) {
        show_error("No saved mask image");
        return false;
    }
    const Image& saved = state.saved_mask;
    if (saved.width != after.width || saved.height != after.height || saved.type != after.type) {
        show_error("Saved mask not the save size as current mask");
        return false;
    }
    return mask_merge(state.current_mask, saved, operation.mode, after);
}

std::array<MaskRenderer, mask_operation_count> renderers = [] {
    std::array<MaskRenderer, mask_operation_count> table{};
    table[mask_op_freehand] = render_freehand;
    table[mask_op_rectangle] = render_rectangle;
    table[mask_op_oval] = render_oval;
    table[mask_op_polygon] = render_polygon;
    table[mask_op_spline] = render_spline;
    table[mask_op_feather] = render_feather;
    table[mask_op_blur] = render_blur;
    table[mask_op_color_range] = render_color_range;
    table[mask_op_paint] = render_paint;
    table[mask_op_curve] = render_curve_select;
    table[mask_op_flood_fill] = render_flood_fill;
    table[mask_op_separate] = render_separate;
    table[mask_op_texture] = render_texture;
    table[mask_op_linear_gradient] = render_linear_gradient_op;
    table[mask_op_oval_gradient] = render_oval_gradient_op;
    table[mask_op_pinholes] = render_pinholes;
    table[mask_op_median] = render_median;
    table[mask_op_all] = render_all;
    table[mask_op_clear] = render_clear;
    table[mask_op_invert] = render_invert;
    table[mask_op_left_half] = render_half<mask_op_left_half>;
    table[mask_op_right_half] = render_half<mask_op_right_half>;
    table[mask_op_top_half] = render_half<mask_op_top_half>;
    table[mask_op_bottom_half] = render_half<mask_op_bottom_half>;
    table[mask_op_save] = render_save;
    table[mask_op_combine_saved] = render_combine_saved;
    table[mask_op_brightness_curve] = render_brightness_curve;
    table[mask_op_gray] = render_gray;
    table[mask_op_hue_saturation] = render_hue_saturation;
    table[mask_op_hs_histogram] = render_hs_histogram;
    return table;
}();

bool alloc_mask(const MaskState& state, Image& mask) {
    const double dpi = state.base && state.base->dpi > 0 ? state.base->dpi : working_image_dpi;
    if (state.nx <= 0 || state.ny <= 0) return true;
    return image_alloc(mask, state.mask16 ? image_gray16 : image_gray8,
                       static_cast<std::uint32_t>(state.nx), static_cast<std::uint32_t>(state.ny),
                       dpi);
}

// The base mask: the initial image (converted to the mask's depth) when it is a grayscale picture
// of the mask's size, else the uniform level.
bool build_base_mask(const MaskState& state, Image& mask) {
    const Image* initial = state.initial_image;
    if (initial && (initial->type == image_gray8 || initial->type == image_gray16) &&
        initial->width == static_cast<std::uint32_t>(state.nx) &&
        initial->height == static_cast<std::uint32_t>(state.ny)) {
        const std::uint32_t type = state.mask16 ? image_gray16 : image_gray8;
        if (initial->type == type) return image_copy(*initial, mask);
        return image_convert(*initial, mask, type);
    }
    if (alloc_mask(state, mask)) return true;
    const std::uint32_t level = static_cast<std::uint32_t>(state.initial_level) & 255u;
    const std::uint32_t value = state.mask16 ? widen8to16(level) : level;
    return fill_mask(mask, [&](std::uint32_t, std::uint32_t) { return value; });
}

// Renders operation over a copy of the current mask into after; a failed operation leaves the
// previous mask. true on failure.
bool render(MaskState& state, const MaskOperation& operation, Image& after) {
    if (image_copy(state.current_mask, after)) return true;
    MaskRenderer renderer = mask_renderer(operation.code);
    if (!renderer) return false;  // unknown codes leave the mask as it is
    if (renderer(state, operation, after)) {
        (void)image_copy(state.current_mask, after);
        return true;
    }
    return false;
}

}  // namespace

void set_mask_renderer(std::int32_t code, MaskRenderer renderer) {
    if (code >= 0 && code < mask_operation_count && renderer) {
        renderers[static_cast<std::size_t>(code)] = renderer;
    }
}

MaskRenderer mask_renderer(std::int32_t code) {
    if (code < 0 || code >= mask_operation_count) return nullptr;
    return renderers[static_cast<std::size_t>(code)];
}

bool mask_merge(const Image& current, const Image& s, std::int32_t mode, Image& after) {
    if (current.type != s.type || current.width != s.width || current.height != s.height ||
        after.type != s.type || after.width != s.width || after.height != s.height) {
        show_error("Internal error: mask sizes differ");
        return true;
    }
    return run_rows(
               [&](const Image* in, Image* out, int first, int last,
                   Progress& progress) -> std::uint8_t {
                   for (int r = first; r <= last; ++r) {
                       if (progress_tick(progress)) return 1;
                       const std::uint8_t* m = in->rows[r];
                       const std::uint8_t* v = s.rows[r];
                       std::uint8_t* dst = out->rows[r];
                       for (std::uint32_t x = 0; x < out->width; ++x) {
                           set_mask_value(
                               *out, dst, x,
                               mask_combine(mode, mask_value(*in, m, x), mask_value(s, v, x)));
                       }
                   }
                   return 0;
               },
               "Apply Mask to Image", &current, &after) != 0;
}

void mask_state_set_base(MaskState& state, const Image* base) {
    state.base = base;
    state.nx = base ? static_cast<std::int32_t>(base->width) : 0;
    state.ny = base ? static_cast<std::int32_t>(base->height) : 0;
}

void mask_state_defaults(MaskState& state) {
    state.tool = 0;
    state.mode = mask_add;
    state.mask16 = 0;
    state.initial_level = 0;
    state.settings = MaskToolSettings();
}

bool mask_list_reset(MaskState& state) {
    state.records.clear();
    state.current = 0;
    state.pending.reset();
    state.pending_vertices.clear();
    image_free(state.current_mask);
    image_free(state.pending_mask);
    MaskRecord head;
    head.operation.code = mask_op_clear;
    head.operation.mode = state.mode;
    head.operation.tool = state.tool;
    bool failed = build_base_mask(state, head.after);
    failed = failed || image_copy(head.after, state.current_mask) ||
             image_copy(head.after, state.pending_mask);
    state.records.push_back(std::move(head));
    return failed;
}

bool mask_reset_asked(MaskState& state) {
    if (interaction().ask("Confirm", "Reset Mask?\nAll mask operations will be lost.",
                          Buttons::yes_no, Answer::yes) != Answer::yes) {
        return true;
    }
    return mask_list_reset(state);
}

void take_tool_settings(const MaskToolSettings& s, MaskOperation& op) {
    MaskOperationParameters& p = op.parameters;
    p.feather = s.feather;
    p.blur_radius = s.blur_radius;
    p.color_range = s.color_range;
    p.brush = s.brush;
    p.channel = s.curve_channel;
    p.curve = op.code == mask_op_brightness_curve ? s.shape_curve : s.curve;
    p.floodfill_threshold = s.floodfill_threshold;
    p.separate = s.separate;
    p.texture = s.texture;
    p.color_line = s.gradient_line;
    p.angle = op.code == mask_op_oval_gradient ? s.gradient_angle : 0.0;
    p.pinhole = s.pinhole;
    p.median = s.median;
    p.huesat = s.huesat;
    p.histogram = s.histogram;
}

bool mask_record(MaskState& state, const MaskOperation& operation) {
    if (state.records.empty() && mask_list_reset(state)) return true;
    state.records.resize(state.current + 1);
    state.pending.reset();
    state.pending_vertices.clear();
    MaskRecord record;
    record.operation = operation;
    bool failed = image_copy(state.current_mask, record.before);
    failed = render(state, operation, record.after) || failed;
    state.records.push_back(std::move(record));
    state.current = state.records.size() - 1;
    const Image& after = state.records.back().after;
    if (image_copy(after, state.current_mask) || image_copy(after, state.pending_mask)) return true;
    return failed;
}

bool mask_can_undo(const MaskState& state) {
    return state.current > 0;
}

bool mask_can_redo(const MaskState& state) {
    return state.current + 1 < state.records.size();
}

namespace {

bool show_position(MaskState& state) {
    const Image& shown = state.records[state.current].after;
    state.pending.reset();
    state.pending_vertices.clear();
    return image_copy(shown, state.current_mask) || image_copy(shown, state.pending_mask);
}

}  // namespace

bool mask_undo(MaskState& state) {
    if (!mask_can_undo(state)) return false;
    --state.current;
    (void)show_position(state);
    return true;
}

bool mask_redo(MaskState& state) {
    if (!mask_can_redo(state)) return false;
    ++state.current;
    (void)show_position(state);
    return true;
}

std::size_t mask_recorded_count(const MaskState& state) {
    return state.records.empty() ? 0 : state.current;
}

bool mask_set_pending(MaskState& state, const MaskOperation& operation) {
    if (state.records.empty() && mask_list_reset(state)) return true;
    state.pending = operation;
    return render(state, operation, state.pending_mask);
}

void mask_cancel_pending(MaskState& state) {
    state.pending.reset();
    state.pending_vertices.clear();
    (void)image_copy(state.current_mask, state.pending_mask);
}

bool mask_apply_pending(MaskState& state) {
    if (!state.pending) return true;
    MaskOperation operation = std::move(*state.pending);
    return mask_record(state, operation);
}

bool mask_replay(MaskState& state) {
    std::vector<MaskOperation> operations;
    for (std::size_t i = 1; i < state.records.size(); ++i) {
        operations.push_back(std::move(state.records[i].operation));
    }
    const std::size_t position = state.current;
    const std::int32_t mode = state.mode;
    const std::int32_t tool = state.tool;
    image_free(state.saved_mask);
    bool failed = mask_list_reset(state);
    for (const MaskOperation& operation : operations) {
        // Each operation sees the mode and tool it was recorded with.
        state.mode = operation.mode;
        state.tool = operation.tool;
        failed = mask_record(state, operation) || failed;
    }
    state.mode = mode;
    state.tool = tool;
    if (position < state.records.size()) state.current = position;
    failed = image_copy(state.records[state.current].after, state.current_mask) || failed;
    return image_copy(state.records.back().after, state.pending_mask) || failed;
}

}  // namespace tessaly
