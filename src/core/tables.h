// Sample conversion tables and the color arithmetic every part shares. The tables are built at
// compile time, so any thread may read them at any time.
#pragma once

#include <array>
#include <cstdint>

namespace tessaly {

namespace detail {
constexpr std::array<std::uint16_t, 256> make_to16() {
    std::array<std::uint16_t, 256> t{};
    for (std::uint32_t v = 0; v < 256; ++v)
        t[v] = static_cast<std::uint16_t>((v * 65535 + 127) / 255);
    return t;
}
}  // namespace detail

// to16[v] = v x 257: 8-bit to 16-bit.
inline constexpr std::array<std::uint16_t, 256> to16 = detail::make_to16();

// to8[v] = (v x 255 + 32767) / 65535: 16-bit to 8-bit, rounding to nearest.
extern const std::uint8_t* const to8;

// blend8_table[d][w] = (d x w + 127) / 255.
extern const std::uint8_t (*const blend8_table)[256];

inline constexpr std::uint8_t to8_value(std::uint32_t v) {
    return static_cast<std::uint8_t>((v * 255 + 32767) / 65535);
}

// The same value as to8_value for every v in 0..65535 without a division or a table lookup:
// a high-half multiply and a shift, all in 16 bits, so row loops over 16-bit samples vectorise.
inline constexpr std::uint8_t to8_fast(std::uint16_t v) {
    const auto high = static_cast<std::uint16_t>((std::uint32_t{v} * 65281u) >> 16);
    return static_cast<std::uint8_t>(static_cast<std::uint16_t>(high + 128u) >> 8);
}

// Gray level of one color at the same depth.
inline constexpr std::int32_t luminance(std::int32_t r, std::int32_t g, std::int32_t b) {
    return (306 * r + 601 * g + 117 * b) >> 10;
}

// a moved toward b by w / 255, through the blend table.
inline std::uint8_t blend8(std::uint8_t a, std::uint8_t b, std::uint8_t w) {
    return b >= a ? static_cast<std::uint8_t>(a + blend8_table[b - a][w])
                  : static_cast<std::uint8_t>(a - blend8_table[a - b][w]);
}

// a + (b - a) w / 255, truncating toward zero.
inline constexpr std::uint16_t blend16(std::uint16_t a, std::uint16_t b, std::uint32_t w) {
    return static_cast<std::uint16_t>(
        a + ((static_cast<std::int32_t>(b) - a) * static_cast<std::int32_t>(w)) / 255);
}

inline constexpr std::int32_t clamp8(std::int32_t v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}
inline constexpr std::int32_t clamp16(std::int32_t v) {
    return v < 0 ? 0 : (v > 65535 ? 65535 : v);
}

}  // namespace tessaly
