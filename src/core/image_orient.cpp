#include "core/image_orient.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/runner.h"

namespace tessaly {

namespace {

bool accepted_type(std::uint32_t type) {
    return type >= image_binary && type <= image_color48;
}

// Every orientation, seen from the destination: pixel (dx, dy) comes from source column
// reverse_x ? W-1-c : c and source row reverse_y ? H-1-r : r, where (c, r) is (dx, dy), or
// (dy, dx) when the sides are swapped. Rows are stored bottom first, so "clockwise" as seen is
// the table's (y, W-1-x) and not the top-down formula.
struct Mapping {
    bool swap;
    bool reverse_x;
    bool reverse_y;
};
constexpr std::array<Mapping, orientation_count> mappings = {{
    {false, false, false},  // 0 unchanged
    {true, true, false},    // 1 clockwise: source (W-1-dy, dx)
    {false, true, true},    // 2 half turn
    {true, false, true},    // 3 counterclockwise: source (dy, H-1-dx)
    {false, true, false},   // 4 left to right
    {true, true, true},     // 5 transpose: source (W-1-dy, H-1-dx)
    {false, false, true},   // 6 top to bottom
    {true, false, false},   // 7 transverse: source (dy, dx)
}};

// One pixel from source column sx of row s to destination column dx of row d. The destination
// starts zeroed, so a binary pixel only needs its white bits set.
template <std::uint32_t P>
inline void move_pixel(const std::uint8_t* s, std::uint32_t sx, std::uint8_t* d, std::uint32_t dx) {
    if constexpr (P == 0) {
        if (s[sx >> 3] & (0x80u >> (sx & 7))) bit_set(d, dx);
    } else {
        std::memcpy(d + std::size_t{dx} * P, s + std::size_t{sx} * P, P);
    }
}

// Codes 2, 4, 6: every destination row is one source row, whole or reversed.
template <std::uint32_t P>
std::uint8_t orient_rows(const Image& src, Image& dst, Mapping m, int first, int last,
                         Progress& progress) {
    const std::uint32_t w = src.width;
    for (int dy = first; dy <= last; ++dy) {
        if (progress_tick(progress)) return 1;
        const std::uint32_t r = static_cast<std::uint32_t>(dy);
        const std::uint8_t* s = src.rows[m.reverse_y ? src.height - 1 - r : r];
        std::uint8_t* d = dst.rows[r];
        if (!m.reverse_x) {
            std::memcpy(d, s, src.row_bytes);
            continue;
        }
        for (std::uint32_t dx = 0; dx < w; ++dx) move_pixel<P>(s, w - 1 - dx, d, dx);
    }
    return 0;
}

// Codes 1, 3, 5, 7: every destination row is one source column. A band of destination rows is
// filled together, so each source row is read a run of neighbouring pixels at a time rather than
// one pixel per cache line.
template <std::uint32_t P>
std::uint8_t orient_columns(const Image& src, Image& dst, Mapping m, int first, int last,
                            Progress& progress) {
    constexpr int band = 32;
    const std::uint32_t w = src.width;
    const std::uint32_t h = src.height;
    std::array<std::uint8_t*, band> d{};
    std::array<std::uint32_t, band> sx{};
    for (int b = first; b <= last; b += band) {
        const int n = std::min(band, last - b + 1);
        for (int k = 0; k < n; ++k) {
            if (progress_tick(progress)) return 1;
            const std::uint32_t dy = static_cast<std::uint32_t>(b + k);
            d[k] = dst.rows[dy];
            sx[k] = m.reverse_x ? w - 1 - dy : dy;
        }
        for (std::uint32_t dx = 0; dx < h; ++dx) {
            const std::uint8_t* s = src.rows[m.reverse_y ? h - 1 - dx : dx];
            for (int k = 0; k < n; ++k) move_pixel<P>(s, sx[k], d[k], dx);
        }
    }
    return 0;
}

template <std::uint32_t P>
std::uint8_t orient_range(const Image& src, Image& dst, Mapping m, int first, int last,
                          Progress& progress) {
    return m.swap ? orient_columns<P>(src, dst, m, first, last, progress)
                  : orient_rows<P>(src, dst, m, first, last, progress);
}

std::uint8_t orient_range(const Image& src, Image& dst, Mapping m, int first, int last,
                          Progress& progress) {
    // 0 for binary pictures, whose pixels are single bits.
    switch (image_pixel_bytes(src.type)) {
        case 1:
            return orient_range<1>(src, dst, m, first, last, progress);
        case 2:
            return orient_range<2>(src, dst, m, first, last, progress);
        case 3:
            return orient_range<3>(src, dst, m, first, last, progress);
        case 6:
            return orient_range<6>(src, dst, m, first, last, progress);
        default:
            return orient_range<0>(src, dst, m, first, last, progress);
    }
}

// Into a fresh Image, so that target may be the source itself.
bool orient(const Image& source, Image& target, std::int32_t code) {
    if (!accepted_type(source.type) || code < 0 || code >= orientation_count) {
        if (&source != &target) image_free(target);
        return true;
    }
    if (code == orientation_unchanged) return image_copy(source, target);
    Image out;
    const Mapping m = mappings[static_cast<std::size_t>(code)];
    const std::uint32_t w = m.swap ? source.height : source.width;
    const std::uint32_t h = m.swap ? source.width : source.height;
    bool failed = image_alloc_with(out, source.type, w, h, source.dpi, source.profile,
                                   source.profile_size, source.tags);
    // A zero width or height has no rows to move.
    if (!failed && out.rows && source.rows) {
        failed = run_rows(
                     [m](const Image* in, Image* o, int first, int last, Progress& progress) {
                         return orient_range(*in, *o, m, first, last, progress);
                     },
                     "Rotate/Mirror", &source, &out) != 0;
    }
    if (failed) {
        if (&source != &target) image_free(target);
        return true;
    }
    target = std::move(out);
    return false;
}

}  // namespace

bool image_rotate_cw(const Image& source, Image& target) {
    return orient(source, target, orientation_rotate_cw);
}
bool image_rotate_180(const Image& source, Image& target) {
    return orient(source, target, orientation_rotate_180);
}
bool image_rotate_ccw(const Image& source, Image& target) {
    return orient(source, target, orientation_rotate_ccw);
}
bool image_mirror_left_right(const Image& source, Image& target) {
    return orient(source, target, orientation_mirror_left_right);
}
bool image_transpose(const Image& source, Image& target) {
    return orient(source, target, orientation_transpose);
}
bool image_mirror_top_bottom(const Image& source, Image& target) {
    return orient(source, target, orientation_mirror_top_bottom);
}
bool image_transverse(const Image& source, Image& target) {
    return orient(source, target, orientation_transverse);
}
bool image_orient(const Image& source, Image& target, std::int32_t code) {
    return orient(source, target, code);
}

}  // namespace tessaly
