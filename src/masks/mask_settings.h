// The vocabulary of masks: operation codes and their names, combine modes, the tool settings of
// the mask editor with their defaults, and the few queries on a node's Mask Settings record.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/curve.h"
#include "core/image.h"
#include "framework/node.h"

namespace tessaly {

// Operation codes; the numbers are stored in every mask command line.
enum : std::int32_t {
    mask_op_freehand = 0,
    mask_op_rectangle = 1,
    mask_op_oval = 2,
    mask_op_polygon = 3,
    mask_op_spline = 4,
    mask_op_feather = 5,
    mask_op_blur = 6,
    mask_op_color_range = 7,
    mask_op_paint = 8,
    mask_op_curve = 9,
    mask_op_flood_fill = 10,
    mask_op_separate = 11,
    mask_op_texture = 12,
    mask_op_linear_gradient = 13,
    mask_op_oval_gradient = 14,
    mask_op_pinholes = 15,
    mask_op_median = 16,
    mask_op_all = 17,
    mask_op_clear = 18,  // also the code of the head record (the base mask)
    mask_op_invert = 19,
    mask_op_left_half = 20,
    mask_op_right_half = 21,
    mask_op_top_half = 22,
    mask_op_bottom_half = 23,
    mask_op_save = 24,
    mask_op_combine_saved = 25,
    mask_op_brightness_curve = 26,
    mask_op_gray = 27,
    mask_op_hue_saturation = 28,
    mask_op_hs_histogram = 29,
};
constexpr int mask_operation_count = 30;

// The tool-tip text of an operation ("" for a code outside 0..29).
const char* mask_operation_name(std::int32_t code);

// Tool bar order: button position to operation code.
extern const std::array<std::int32_t, 20> mask_tool_buttons;
extern const std::array<std::int32_t, 8> mask_command_buttons;

// Combine modes: how an operation's value s meets the mask value m.
enum : std::int32_t { mask_add = 0, mask_subtract = 1, mask_overlap = 2, mask_invert_mode = 3 };

// m and s on the mask's full scale (255 or 65535).
inline std::uint32_t mask_combine(std::int32_t mode, std::uint32_t m, std::uint32_t s) {
    switch (mode) {
        case mask_subtract:
            return m > s ? m - s : 0;
        case mask_overlap:
            return m < s ? m : s;
        case mask_invert_mode:
            return m ^ s;
        default:
            return m > s ? m : s;
    }
}

// 8-bit coverage on a 16-bit mask, and back.
inline std::uint16_t widen8to16(std::uint32_t v) {
    return static_cast<std::uint16_t>(v * 257);
}
inline std::uint8_t narrow16to8(std::uint32_t v) {
    return static_cast<std::uint8_t>((v * 255 + 32767) / 65535);
}

// Colours in masks: r + 256 g + 65536 b; no_mask_colour marks an entry without one.
constexpr std::uint32_t no_mask_colour = 0xffffffffu;

// --- tool settings, defaults in the members ---

struct BrushSettings {
    std::int32_t operation = 0;  // 0 all pixels, 1 in colour range, 2 similar fixed, 3 track
    double radius = 10;
    double transparency = 0;
    double softness = 100;
    double spacing = 25;
    double threshold = 30;
    std::int32_t accumulate = 1;
    std::int32_t pressure_controls = 0;  // 0 none, 1 transparency, 2 radius, 3 softness, 4 spacing
};

struct FeatherSettings {
    std::int32_t radius = 0;   // negative contracts
    std::int32_t style = 0;    // 0 linear, 1 step, 2 cosine
    std::int32_t corners = 0;  // 0 round, 1 square
};

struct TextureSettings {
    std::int32_t method = 0;
    std::int32_t size = 0;
    std::int32_t threshold0 = 0;
    std::int32_t threshold1 = 255;
};

// One stop of a gradient's color line; the two integers are carried as they are.
struct ColorStop {
    double position = 0;
    std::int32_t a = 0;
    std::int32_t b = 0;
    std::uint32_t colour = 0;
};
// White at the start, black at the end.
inline std::vector<ColorStop> default_color_stops() {
    std::vector<ColorStop> stops(2);
    stops[0].colour = 0xffffff;
    stops[1].position = 1.0;
    return stops;
}
struct ColorLine {
    std::vector<ColorStop> stops = default_color_stops();
};

struct PinholeSettings {
    std::int32_t size = 1;
    std::int32_t threshold = 32;
    std::int32_t removal = 2;
};

struct MedianSettings {
    double radius = 1;
    double level = 1;
};

// Entries 0-7 are the first colour group, 8-15 the second; x and y are fractions of the image
// size, -1 when the colour was typed rather than picked.
struct SeparateEntry {
    bool in_use = false;
    std::uint32_t colour = 0;
    double x = -1;
    double y = -1;
};
using SeparateEntries = std::array<SeparateEntry, 16>;
SeparateEntries default_separate_entries();

struct ColorRangeSettings {
    std::int32_t colorspace = 0;
    std::uint32_t sample = 0x0000ff;  // red
    // minb1, maxb1, minb2, maxb2, minb3, maxb3, minw1, maxw1, minw2, maxw2, minw3, maxw3
    std::array<std::int32_t, 12> limits{0, 1024, 0, 1024, 0, 1024, 0, 1024, 0, 1024, 0, 1024};
};

// The hue-saturation selection: two settings, then the picked colours with two widths each
// (its text is "%d %d %d" with the colour count last, then " %x %4zf %4zf" per colour).
struct HueSatColour {
    std::uint32_t colour = 0;
    double hue_width = 0;
    double saturation_width = 0;
};
struct HueSatSelection {
    std::int32_t add_remove = 0;
    std::int32_t colorspace = 0;
    std::vector<HueSatColour> colours;
};

constexpr int hs_selection_bytes = 103;
struct HistogramSelection {
    std::int32_t add_remove = 0;
    std::int32_t colour = 0;
    std::int32_t transparency = 1;
    std::int32_t colorspace = 0;
    double expand = 5;
    std::int32_t blur = 0;
    std::array<std::int32_t, 4> thresholds{0, 10008, 0, 10008};
    std::array<std::uint8_t, hs_selection_bytes> selection{};
};

// Every tool's settings as the mask editor holds them.
struct MaskToolSettings {
    BrushSettings brush;
    BrushSettings nominal_brush;  // what Paint returns to when pen pressure is not in use
    FeatherSettings feather;
    double floodfill_threshold = 32;
    TextureSettings texture;
    ColorLine gradient_line;
    double gradient_angle = 0;
    PinholeSettings pinhole;
    MedianSettings median;
    std::int32_t blur_radius = 50;
    Curve curve;
    std::int32_t curve_channel = 0;
    Curve shape_curve;
    SeparateEntries separate = default_separate_entries();
    ColorRangeSettings color_range;
    HueSatSelection huesat;
    HistogramSelection histogram;
};

// --- Mask Settings of a node ---

// No command line, no initial mask image, no built or derived image, no open dialog.
bool mask_settings_empty(const MaskSettings& mask);

// The picture a mask starts from, when it starts from one: the stored initial image, else the
// image, transparency or mask (initial_mask_index) of the source node; nullptr for a uniform
// level.
const Image* initial_mask_image(const MaskSettings& mask);

// A mask started from another image's picture or built on an auxiliary input: its recipe alone
// does not rebuild it, so settings files leave it out.
bool mask_depends_on_other_image(const MaskSettings& mask);

// Forgets the recipe, the built and derived images and the initial image reference, and closes
// an open mask dialog.
void reset_mask_settings(MaskSettings& mask);

}  // namespace tessaly
