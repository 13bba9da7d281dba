// The three mixing routines every transformation ends its run with: the result is mixed with the
// input through the Amount Settings and, while one is in use, the mask (8-bit or 16-bit gray, the
// input's size). Rows run in parallel under the caption "Apply amount mask"; each routine shows
// its message and returns true on failure (a cancelled mix fails too).
#pragma once

#include <cstdint>

#include "core/image.h"
#include "framework/amount.h"

namespace tessaly {

// p moved toward q by t / 255, the step rounded to nearest: p + sign(q - p) floor((|q - p| t +
// 127) / 255).
inline constexpr std::uint8_t mix8(std::uint32_t p, std::uint32_t q, std::uint32_t t) {
    const std::uint32_t d = q >= p ? q - p : p - q;
    const std::uint32_t x = d * t + 127;                 // at most 65152
    const std::uint32_t step = (x + 1 + (x >> 8)) >> 8;  // x / 255 for x < 65536
    return static_cast<std::uint8_t>(q >= p ? p + step : p - step);
}

// p + (q - p) t / 65535, truncated toward zero.
inline constexpr std::uint16_t mix16(std::uint32_t p, std::uint32_t q, std::uint32_t t) {
    const std::uint32_t d = q >= p ? q - p : p - q;
    const std::uint64_t x = std::uint64_t{d} * t;
    const auto step = static_cast<std::uint32_t>((x + 1 + (x >> 16)) >> 16);  // x / 65535
    return static_cast<std::uint16_t>(q >= p ? p + step : p - step);
}

// p + (q - p) t / 255 for 16-bit samples and an 8-bit weight, truncated toward zero.
inline constexpr std::uint16_t mix16by8(std::uint32_t p, std::uint32_t q, std::uint32_t t) {
    const std::uint32_t d = q >= p ? q - p : p - q;
    const std::uint32_t step = d * t / 255;
    return static_cast<std::uint16_t>(q >= p ? p + step : p - step);
}

// The weights of an amount: trunc(A x 255 / 10008) and trunc(A x 65535 / 10008).
inline constexpr std::int32_t amount_weight8(std::int32_t a) {
    return a * 255 / amount_full;
}
inline constexpr std::int32_t amount_weight16(std::int32_t a) {
    return static_cast<std::int32_t>(std::int64_t{a} * 65535 / amount_full);
}

// True when mixing would give the input back unchanged (nothing to compute).
bool amount_leaves_input(const AmountSettings& amount, const Image* mask);

// output = input mixed with result. output must be allocated with result's type and size (an
// output without pixels is allocated so). mask: the mask in use, or null (amount_mask).
[[nodiscard]] bool mix_into_output(const Image& input, const Image& result, Image& output,
                                   const AmountSettings& amount, const Image* mask);
// result = input mixed with result.
[[nodiscard]] bool mix_in_place(const Image& input, Image& result, const AmountSettings& amount,
                                const Image* mask);
// output = black_result where the mask is black, white_result where it is white, each first
// mixed with the input by the amount and the second amount. Needs a mask.
[[nodiscard]] bool mix_two_results(const Image& input, const Image& black_result,
                                   const Image& white_result, Image& output,
                                   const AmountSettings& amount, const Image* mask);

}  // namespace tessaly
