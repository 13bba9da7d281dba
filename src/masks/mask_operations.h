// The mask editor's state without a window: the operation list with its undo position, the
// pending operation, and the replay that rebuilds a mask from the list on any image size. The
// mask dialog drives the same state; a rebuild without a dialog makes a temporary one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/image.h"
#include "mask_settings.h"

namespace tessaly {

struct MaskVertex {
    double x = 0;
    double y = 0;
    double pressure = -1;  // -1 when no pen pressure was recorded
};

// The parameters of one operation; each code uses the fields its comment names.
struct MaskOperationParameters {
    std::vector<MaskVertex> vertices;       // 0, 3, 4 outline; 8 stroke points (pixels)
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // 1, 2 box; 13, 14 end points (pixels)
    double angle = 0;                       // 1, 2 rotation (radians); 14 gradient angle
    FeatherSettings feather;                // 5
    std::int32_t blur_radius = 0;           // 6
    ColorRangeSettings color_range;         // 7
    BrushSettings brush;                    // 8
    std::int32_t channel = 0;               // 9
    Curve curve;                            // 9, 26
    double floodfill_x = 0, floodfill_y = 0, floodfill_threshold = 32;  // 10 (pixels)
    SeparateEntries separate = default_separate_entries();              // 11
    TextureSettings texture;                                            // 12
    ColorLine color_line;                                               // 13, 14
    PinholeSettings pinhole;                                            // 15
    MedianSettings median;                                              // 16
    HueSatSelection huesat;                                             // 28
    HistogramSelection histogram;                                       // 29
};

struct MaskOperation {
    std::int32_t code = mask_op_clear;
    std::int32_t mode = mask_add;  // the combine mode when it was recorded
    std::int32_t tool = 0;         // the current tool when it was recorded
    MaskOperationParameters parameters;
};

// Fills an operation's parameters from the tool settings, as a recorded action takes them (the
// curve of Brightness Curve from the shape curve, the angle only for oval gradients).
void take_tool_settings(const MaskToolSettings& settings, MaskOperation& operation);

// One entry of the operation list: the operation and the mask after and before it, so that undo
// and redo never recompute.
struct MaskRecord {
    MaskOperation operation;
    Image after;
    Image before;
};

// The editing state of one mask.
struct MaskState {
    // The base image the mask is built for (not owned; may be null for reading text only) and the
    // size coordinates are scaled by.
    const Image* base = nullptr;
    std::int32_t nx = 0;
    std::int32_t ny = 0;
    // The picture the base mask starts from, or null for the uniform level (not owned).
    const Image* initial_image = nullptr;

    std::int32_t tool = 0;  // mask_operation
    std::int32_t mode = mask_add;
    std::int32_t mask16 = 0;
    std::int32_t initial_level = 0;
    std::int32_t mask_color = 0;         // shared display preference
    std::int32_t mask_transparency = 0;  // shared display preference
    MaskToolSettings settings;

    // records[0] is the head (the base mask); current is the undo position.
    std::vector<MaskRecord> records;
    std::size_t current = 0;

    Image current_mask;
    Image pending_mask;
    Image saved_mask;
    std::optional<MaskOperation> pending;  // drawn but not applied
    std::vector<MaskVertex> pending_vertices;
};

// The mask values: 255 or 65535.
inline std::uint32_t mask_full(const MaskState& state) {
    return state.mask16 ? 65535u : 255u;
}

// Points state at a base image (its size becomes nx, ny).
void mask_state_set_base(MaskState& state, const Image* base);
// Tool settings, modes and levels back to the built-in defaults (the list is kept).
void mask_state_defaults(MaskState& state);

// Makes a list holding only the head and builds the base mask: a copy (or depth conversion) of the
// initial image when it is grayscale, else initial_level everywhere. true on failure.
[[nodiscard]] bool mask_list_reset(MaskState& state);
// The Reset command: asks "Reset Mask?" first; false when the list was cleared.
bool mask_reset_asked(MaskState& state);
// Records an operation: drops every record after the undo position, renders the operation on the
// current mask and appends it as the new current record. The pending operation and vertices are
// cleared. true when the operation failed (the record is kept, its mask unchanged).
bool mask_record(MaskState& state, const MaskOperation& operation);
// Undo and redo move the position only; false when there was nowhere to move.
bool mask_undo(MaskState& state);
bool mask_redo(MaskState& state);
bool mask_can_undo(const MaskState& state);
bool mask_can_redo(const MaskState& state);
// The records from the first after the head to the current one: what the command line keeps.
std::size_t mask_recorded_count(const MaskState& state);

// A pending operation is rendered into pending_mask for display; the list does not change until
// it is applied. true when rendering failed.
bool mask_set_pending(MaskState& state, const MaskOperation& operation);
void mask_cancel_pending(MaskState& state);
// Records the pending operation; true when there is none or it failed.
bool mask_apply_pending(MaskState& state);

// Replays every record from the head (rebuilding the base mask) and leaves the last record's mask
// as current and pending mask. true when anything failed; what could be built stays built.
bool mask_replay(MaskState& state);

// --- the renderers of the operations ---

// Renders one operation: reads state.current_mask (the mask before it; the base image through
// state.base) and fills after, which arrives as a copy of the current mask. true on failure (the
// caller then keeps the previous mask).
using MaskRenderer = bool (*)(MaskState& state, const MaskOperation& operation, Image& after);
// Every code 0..29 has its renderer in the table; one may be replaced (a test's failing stand-in).
void set_mask_renderer(std::int32_t code, MaskRenderer renderer);
MaskRenderer mask_renderer(std::int32_t code);

// Merges s into the mask image by the combine mode over the whole image (both of the mask's
// size and depth): after = combine(mode, current, s).
[[nodiscard]] bool mask_merge(const Image& current, const Image& s, std::int32_t mode,
                              Image& after);

}  // namespace tessaly
