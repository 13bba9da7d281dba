#include "mask_select.h"

#include <algorithm>
#include <new>

#include "core/color_models.h"
#include "core/format.h"
#include "core/numeric.h"
#include "core/runner.h"

namespace tessaly {

namespace {

std::uint32_t full_of(const Image& mask) {
    return mask.type == image_gray16 ? 65535u : 255u;
}

std::uint32_t read_mask(const Image& mask, const std::uint8_t* row, std::uint32_t x) {
    return mask.type == image_gray16 ? sample16(row, x) : row[x];
}

void write_mask(const Image& mask, std::uint8_t* row, std::uint32_t x, std::uint32_t v) {
    if (mask.type == image_gray16) {
        set_sample16(row, x, static_cast<std::uint16_t>(v));
    } else {
        row[x] = static_cast<std::uint8_t>(v);
    }
}

bool same_size(const Image& a, const Image& b) {
    return a.width == b.width && a.height == b.height;
}

}  // namespace

const Image* selectable_image(const Image& image, Image& scratch) {
    const Image* view = gray_view(image, scratch);
    if (!view || !view->has_pixels()) return nullptr;
    switch (view->type) {
        case image_gray8:
        case image_gray16:
        case image_color24:
        case image_color48:
            return view;
        default:
            return nullptr;
    }
}

std::vector<std::uint16_t> color_range_table(std::size_t size, std::uint32_t full,
                                             std::int32_t minb, std::int32_t maxb,
                                             std::int32_t minw, std::int32_t maxw, bool narrow,
                                             std::int32_t band) {
    const std::int64_t last = static_cast<std::int64_t>(size) - 1;
    const std::int64_t f = full;
    if (narrow) {
        std::vector<std::uint16_t> table(size, 0);
        const std::int64_t from = std::max<std::int64_t>(0, minb - band);
        const std::int64_t to = std::min<std::int64_t>(last, minb + band);
        for (std::int64_t v = from; v <= to; ++v) {
            table[static_cast<std::size_t>(v)] = static_cast<std::uint16_t>(full);
        }
        return table;
    }
    // The band a..b at full with ramps out to lo and hi; a wrapped range is the complement of the
    // band between maxw and minw with its own ramps.
    const bool wrapped = minw > maxw;
    const std::int64_t a = wrapped ? maxw : minw;
    const std::int64_t b = wrapped ? minw : maxw;
    const std::int64_t lo = wrapped ? std::min(maxb, maxw) : std::min(minb, minw);
    const std::int64_t hi = wrapped ? std::max(minb, minw) : std::max(maxb, maxw);
    std::vector<std::uint16_t> table(size, static_cast<std::uint16_t>(wrapped ? full : 0));
    for (std::int64_t v = std::max<std::int64_t>(0, lo); v <= std::min(last, hi); ++v) {
        std::int64_t g;
        if (v < a) {
            g = (v - lo) * f / (a - lo);
        } else if (v <= b) {
            g = f;
        } else {
            g = (hi - v) * f / (hi - b);
        }
        table[static_cast<std::size_t>(v)] = static_cast<std::uint16_t>(wrapped ? f - g : g);
    }
    return table;
}

bool ColorRangeMembership::build(const ColorRangeSettings& settings, std::uint32_t image_type,
                                 std::uint32_t full) {
    const bool gray = image_type == image_gray8 || image_type == image_gray16;
    const bool sixteen = image_type == image_gray16 || image_type == image_color48;
    if (!gray && !sixteen && image_type != image_color24) return true;
    type_ = image_type;
    colorspace_ = settings.colorspace;
    const bool twelve = !gray && !sixteen && colorspace_ != 2;  // 12-bit HSV/HSL of 8-bit colour
    const std::size_t size = sixteen ? 65536 : twelve ? 4097 : 256;
    const std::int32_t band = size == 256 ? 1 : 8;
    auto scaled = [&](std::int32_t limit) -> std::int32_t {
        const std::int64_t v = std::clamp(limit, 0, 1024);
        if (twelve) return static_cast<std::int32_t>(v * 4);
        return static_cast<std::int32_t>(v * static_cast<std::int64_t>(size - 1) / 1024);
    };
    const auto& l = settings.limits;  // minb1, maxb1, .., minb3, maxb3, minw1, maxw1, ..
    bool narrow = true;
    for (std::size_t c = 0; c < 3; ++c) {
        narrow = narrow && l[2 * c] == l[2 * c + 1] && l[6 + 2 * c] == l[6 + 2 * c + 1];
    }
    for (std::size_t c = 0; c < 3; ++c) {
        tables_[c] =
            color_range_table(size, full, scaled(l[2 * c]), scaled(l[2 * c + 1]),
                              scaled(l[6 + 2 * c]), scaled(l[6 + 2 * c + 1]), narrow, band);
    }
    return false;
}

std::uint32_t ColorRangeMembership::of_rgb(std::int32_t r, std::int32_t g, std::int32_t b) const {
    std::int32_t c1 = r, c2 = g, c3 = b;
    const bool sixteen = type_ == image_color48;
    if (colorspace_ == 0) {
        if (sixteen) {
            rgb_to_hsv16(r, g, b, c1, c2, c3);
        } else {
            rgb_to_hsv8(r, g, b, c1, c2, c3);
        }
    } else if (colorspace_ == 1) {
        if (sixteen) {
            rgb_to_hsl16(r, g, b, c1, c2, c3);
        } else {
            rgb_to_hsl8(r, g, b, c1, c2, c3);
        }
    }
    return std::min({tables_[0][static_cast<std::size_t>(c1)],
                     tables_[1][static_cast<std::size_t>(c2)],
                     tables_[2][static_cast<std::size_t>(c3)]});
}

bool render_color_range(MaskState& state, const MaskOperation& operation, Image& after) {
    Image scratch;
    const Image* base = state.base ? selectable_image(*state.base, scratch) : nullptr;
    ColorRangeMembership membership;
    if (!base || !same_size(*base, after) ||
        membership.build(operation.parameters.color_range, base->type, full_of(after))) {
        show_error("Error creating color range mask");
        return true;
    }
    const std::int32_t mode = operation.mode;
    return run_rows(
               [&](const Image* in, Image* out, int first, int last,
                   Progress& progress) -> std::uint8_t {
                   for (int r = first; r <= last; ++r) {
                       if (progress_tick(progress)) return 1;
                       const std::uint8_t* pixels = base->rows[r];
                       const std::uint8_t* m = in->rows[r];
                       std::uint8_t* dst = out->rows[r];
                       for (std::uint32_t x = 0; x < out->width; ++x) {
                           write_mask(*out, dst, x,
                                      mask_combine(mode, read_mask(*in, m, x),
                                                   membership.pixel(pixels, x)));
                       }
                   }
                   return 0;
               },
               "Mask Range", &state.current_mask, &after) != 0;
}

// --- flood fill ---

namespace {

// Fill map values.
constexpr std::uint8_t fill_closed = 0;  // does not qualify
constexpr std::uint8_t fill_open = 1;    // qualifies, not reached yet
constexpr std::uint8_t fill_done = 2;    // filled

struct FillBox {
    std::uint32_t x0, x1, r0, r1;  // inclusive; r are stored row numbers
};

// Grows the filled set from the seed over the open pixels of map, column by column on an explicit
// stack (a recursive fill would overflow the call stack on large regions).
FillBox scanline_fill(Image& map, std::uint32_t seed_x, std::uint32_t seed_r) {
    struct Position {
        std::uint32_t x, r;
    };
    const std::uint32_t w = map.width, h = map.height;
    auto open = [&](std::uint32_t x, std::uint32_t r) { return map.rows[r][x] == fill_open; };
    FillBox box{seed_x, seed_x, seed_r, seed_r};
    std::vector<Position> stack;
    stack.push_back({seed_x, seed_r});
    while (!stack.empty()) {
        const Position at = stack.back();
        stack.pop_back();
        if (!open(at.x, at.r)) continue;  // reached through another run meanwhile
        std::uint32_t top = at.r;
        while (top + 1 < h && open(at.x, top + 1)) ++top;
        bool left_run = false, right_run = false;
        std::uint32_t r = top;
        for (;;) {
            map.rows[r][at.x] = fill_done;
            box.r0 = std::min(box.r0, r);
            box.r1 = std::max(box.r1, r);
            if (at.x > 0) {
                const bool q = open(at.x - 1, r);
                if (q && !left_run) stack.push_back({at.x - 1, r});
                left_run = q;
            }
            if (at.x + 1 < w) {
                const bool q = open(at.x + 1, r);
                if (q && !right_run) stack.push_back({at.x + 1, r});
                right_run = q;
            }
            if (r == 0 || !open(at.x, r - 1)) break;
            --r;
        }
        box.x0 = std::min(box.x0, at.x);
        box.x1 = std::max(box.x1, at.x);
    }
    return box;
}

}  // namespace

bool render_flood_fill(MaskState& state, const MaskOperation& operation, Image& after) {
    const MaskOperationParameters& p = operation.parameters;
    const std::int64_t sx = round_to_int(p.floodfill_x);
    const std::int64_t sy = round_to_int(p.floodfill_y);
    if (sx < 0 || sy < 0 || sx >= after.width || sy >= after.height) return false;

    Image scratch;
    const Image* base = state.base ? selectable_image(*state.base, scratch) : nullptr;
    if (!base || !same_size(*base, after)) {
        show_error("Flood fill mask error");
        return true;
    }
    const std::uint32_t w = after.width, h = after.height;
    Image map;
    if (image_alloc(map, image_gray8, w, h, working_image_dpi)) {
        show_error("Cannot create flood fill temporary image");
        return true;
    }

    const std::uint32_t seed_x = static_cast<std::uint32_t>(sx);
    const std::uint32_t seed_r = h - 1 - static_cast<std::uint32_t>(sy);
    const auto seed = pixel_colour8(*base, base->rows[seed_r], seed_x);
    const double limit = p.floodfill_threshold * p.floodfill_threshold;
    // Gray pixels count their one difference for all three channels on 8-bit images only.
    const std::int64_t gray_weight = base->type == image_gray8    ? 3
                                     : base->type == image_gray16 ? 1
                                                                  : 0;

    // Which pixels qualify, decided once per pixel before the fill walks the map.
    if (run_rows(
            [&](const Image*, Image* out, int first, int last, Progress& progress) -> std::uint8_t {
                for (int r = first; r <= last; ++r) {
                    if (progress_tick(progress)) return 1;
                    const std::uint8_t* pixels = base->rows[r];
                    std::uint8_t* dst = out->rows[r];
                    for (std::uint32_t x = 0; x < w; ++x) {
                        const auto c = pixel_colour8(*base, pixels, x);
                        std::int64_t d2;
                        if (gray_weight != 0) {
                            const std::int64_t d = c[0] - seed[0];
                            d2 = gray_weight * d * d;
                        } else {
                            const std::int64_t d0 = c[0] - seed[0], d1 = c[1] - seed[1],
                                               d3 = c[2] - seed[2];
                            d2 = d0 * d0 + d1 * d1 + d3 * d3;
                        }
                        dst[x] = static_cast<double>(d2) <= limit ? fill_open : fill_closed;
                    }
                }
                return 0;
            },
            "", nullptr, &map) != 0) {
        return true;  // cancelled
    }
    FillBox box;
    try {
        box = scanline_fill(map, seed_x, seed_r);
    } catch (const std::bad_alloc&) {
        show_error("Flood fill mask error");
        return true;
    }

    const std::uint32_t full = full_of(after);
    const std::int32_t mode = operation.mode;
    return run_rows(
               [&](const Image* in, Image* out, int first, int last,
                   Progress& progress) -> std::uint8_t {
                   for (int row = first; row <= last; ++row) {
                       if (progress_tick(progress)) return 1;
                       const auto r = static_cast<std::uint32_t>(row);
                       if (r < box.r0 || r > box.r1) continue;
                       const std::uint8_t* filled = map.rows[r];
                       const std::uint8_t* m = in->rows[r];
                       std::uint8_t* dst = out->rows[r];
                       for (std::uint32_t x = box.x0; x <= box.x1; ++x) {
                           const std::uint32_t s = filled[x] == fill_done ? full : 0;
                           write_mask(*out, dst, x, mask_combine(mode, read_mask(*in, m, x), s));
                       }
                   }
                   return 0;
               },
               "", &state.current_mask, &after) != 0;
}

}  // namespace tessaly
