// Tone steps of the colour models that the tone transformations share (Brightness Curve,
// Brightness, Gamma Adjust): one pixel's value (HSV) or lightness (HSL) sent through a table
// while its hue and saturation stay. Channels are red, green, blue; tables are indexed by a
// sample value of the pixel's depth (256 entries for 8-bit, 65536 for 16-bit).
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/color_models.h"

namespace tessaly {

// HSV: v = max(r, g, b) becomes table[v]; when it changes, each channel is scaled by v' / v
// (integer, truncated), or all three become v' when v or v' is 0.
template <class T>
inline void value_through(std::int32_t& r, std::int32_t& g, std::int32_t& b, const T* table) {
    const std::int32_t v = std::max({r, g, b});
    const std::int32_t nv = table[v];
    if (v == nv) return;
    if (v != 0 && nv != 0) {
        r = static_cast<std::int32_t>(std::int64_t{r} * nv / v);
        g = static_cast<std::int32_t>(std::int64_t{g} * nv / v);
        b = static_cast<std::int32_t>(std::int64_t{b} * nv / v);
    } else {
        r = g = b = nv;
    }
}

// HSL, 8-bit: l = (max + min) / 2 goes through the table; the pixel is converted to HSL on the
// 12-bit scale, given the lightness table[l] x 4096 / 255 (truncated) and converted back.
inline void lightness_through8(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                               const std::uint8_t* table) {
    const std::int32_t l = (std::max({r, g, b}) + std::min({r, g, b})) / 2;
    std::int32_t h = 0, s = 0, lightness = 0;
    rgb_to_hsl8(r, g, b, h, s, lightness);
    hsl12_to_rgb8(h, s, table[l] * 4096 / 255, r, g, b);
}

// HSL, 16-bit: the same on the 16-bit scale, the lightness becoming table[l] itself.
inline void lightness_through16(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                                const std::uint16_t* table) {
    const std::int32_t l = (std::max({r, g, b}) + std::min({r, g, b})) / 2;
    std::int32_t h = 0, s = 0, lightness = 0;
    rgb_to_hsl16(r, g, b, h, s, lightness);
    hsl16_to_rgb(h, s, table[l], r, g, b);
}

}  // namespace tessaly
