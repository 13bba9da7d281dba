// The mask operations that select pixels of the base image by their own values: Curve (9),
// Separate Based on 2 Colors (11), Texture (12), Hue and Saturation (28) and Hue Saturation
// Histogram (29). Each computes a selection s per pixel and merges it into the mask with the
// operation's combine mode. They have the MaskRenderer form: after arrives as a copy of the
// current mask, and true means failure (a message was shown unless the person cancelled).
#pragma once

#include <cstdint>

#include "mask_operations.h"

namespace tessaly {

bool render_curve_select(MaskState& state, const MaskOperation& operation, Image& after);
bool render_separate(MaskState& state, const MaskOperation& operation, Image& after);
bool render_texture(MaskState& state, const MaskOperation& operation, Image& after);
bool render_hue_saturation(MaskState& state, const MaskOperation& operation, Image& after);
bool render_hs_histogram(MaskState& state, const MaskOperation& operation, Image& after);

// The histogram selection is a bitmap over a hue x saturation grid: 40 hue cells of 9 degrees
// (cell 0 starts at red) by 20 saturation cells of 5 %. Cell (h, s) is bit number s x 40 + h,
// kept in byte bit / 8 as the bit of value 1 << (bit mod 8); the last 24 bits are unused.
constexpr int hs_hue_cells = 40;
constexpr int hs_saturation_cells = 20;
static_assert(hs_hue_cells * hs_saturation_cells <= 8 * hs_selection_bytes);

inline int hs_cell_bit(int hue_cell, int saturation_cell) {
    return saturation_cell * hs_hue_cells + hue_cell;
}
inline bool hs_cell_selected(const HistogramSelection& h, int hue_cell, int saturation_cell) {
    const int bit = hs_cell_bit(hue_cell, saturation_cell);
    return (h.selection[static_cast<std::size_t>(bit >> 3)] >> (bit & 7)) & 1u;
}
inline void hs_set_cell(HistogramSelection& h, int hue_cell, int saturation_cell, bool on) {
    const int bit = hs_cell_bit(hue_cell, saturation_cell);
    std::uint8_t& byte = h.selection[static_cast<std::size_t>(bit >> 3)];
    const auto mask = static_cast<std::uint8_t>(1u << (bit & 7));
    byte = static_cast<std::uint8_t>(on ? byte | mask : byte & ~mask);
}

// The cell of a hue and saturation given on a scale where turn is a full hue turn and full is
// full saturation (4096 and 4096 for the 12-bit models, 65535 and 65535 for the 16-bit ones).
void hs_cell_of(std::int32_t hue, std::int32_t saturation, std::int32_t turn, std::int32_t full,
                int& hue_cell, int& saturation_cell);

}  // namespace tessaly
