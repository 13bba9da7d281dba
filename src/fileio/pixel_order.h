// Turning a line of 8-bit RGB pixels into BGR (the Image's order) or back: the same swap either
// way. One unaligned 32-bit load and store per pixel: the fourth byte stored is overwritten by
// the next pixel, and the last pixel is moved byte by byte, so nothing beyond the line is touched.
#pragma once

#include <cstdint>
#include <cstring>

namespace tessaly {

inline void swap_red_blue_24(const std::uint8_t* __restrict source, std::uint8_t* __restrict target,
                             std::uint32_t pixels) {
    if (pixels == 0) return;
    for (std::uint32_t x = 0; x + 1 < pixels; ++x) {
        std::uint32_t v;
        std::memcpy(&v, source + 3 * std::size_t{x}, 4);
        // Bytes r g b n of the little- or big-endian word: reversed and shifted they read b g r.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        v = __builtin_bswap32(v) << 8;
#else
        v = __builtin_bswap32(v) >> 8;
#endif
        std::memcpy(target + 3 * std::size_t{x}, &v, 4);
    }
    const std::size_t last = 3 * std::size_t{pixels - 1};
    const std::uint8_t r = source[last], g = source[last + 1], b = source[last + 2];
    target[last] = b;
    target[last + 1] = g;
    target[last + 2] = r;
}

}  // namespace tessaly
