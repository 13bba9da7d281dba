// A pixel's chroma plane coordinates taken at full value, with the value itself: (a, b, V). The
// chrominance-only blur filters a and b and keeps V, so every pixel keeps its brightness. Integer
// samples give integer coordinates (8-bit through the factor 3547 / 4096, 16-bit through the
// core's normalised conversion); floating-point samples give floats.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "core/color_models.h"
#include "core/numeric.h"

namespace tessaly {

// o = (a, b, V) of the pixel (r, g, b).
inline void to_chroma(std::uint8_t r8, std::uint8_t g8, std::uint8_t b8, std::int32_t* o) {
    const std::int32_t v = std::max({r8, g8, b8});
    o[2] = v;
    if (v == 0) {
        o[0] = o[1] = 0;
        return;
    }
    const std::int32_t r = r8 * 255 / v, g = g8 * 255 / v, b = b8 * 255 / v;
    o[0] = round_to_int((g - b) * 3547 / 4096.0);
    o[1] = r - (g + b) / 2;
}
inline void to_chroma(std::uint16_t r, std::uint16_t g, std::uint16_t b, std::int32_t* o) {
    rgb_to_chroma16_normalised(r, g, b, o[0], o[1], o[2]);
}
inline void to_chroma(float r, float g, float b, float* o) {
    rgb_to_chroma_float(r, g, b, o[0], o[1]);
    o[2] = std::max({r, g, b});
}

// The pixel (blue, green, red, as stored) of o = (a, b, V): the full-value colour of (a, b),
// clipped at the channel limits, scaled by V (truncated for integer samples).
template <class T>
inline void from_chroma(const std::int32_t* o, T* pixel) {
    constexpr std::int64_t m = std::is_same_v<T, std::uint8_t> ? 255 : 65535;
    std::int32_t r = 0, g = 0, b = 0;
    chroma_to_rgb(o[0], o[1], static_cast<std::int32_t>(m), static_cast<std::int32_t>(m), r, g, b);
    pixel[0] = static_cast<T>(b * std::int64_t{o[2]} / m);
    pixel[1] = static_cast<T>(g * std::int64_t{o[2]} / m);
    pixel[2] = static_cast<T>(r * std::int64_t{o[2]} / m);
}
inline void from_chroma(const float* o, float* pixel) {
    const float difference = o[0] * (4730.0f / 4096.0f);
    const float half = difference / 2.0f;
    const float top = std::max({o[1], half, -half});
    const float offset = 1.0f - top;
    pixel[0] = std::clamp(offset - half, 0.0f, 1.0f) * o[2];
    pixel[1] = std::clamp(offset + half, 0.0f, 1.0f) * o[2];
    pixel[2] = std::clamp(offset + o[1], 0.0f, 1.0f) * o[2];
}

}  // namespace tessaly
