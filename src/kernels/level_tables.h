// The level tables of Saturation and Brightness: one bipolar amount, turned into a level from 0 to
// 255, chooses a table T over the saturation (Saturation) or the tone (Brightness). Level 127
// leaves every value as it is, 0 sends every value to 0 and 255 every value to the top; the
// "Preserve:" code says which end of the scale stays fixed on the way. Under a mask each pixel
// takes the table of its own level, blend8(a, b, m) between the black and white amounts' levels.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "core/image.h"

namespace tessaly {

// The "Preserve:" codes: both ends, the low end (black, or no saturation), the high end, neither.
enum : std::int32_t {
    preserve_both = 0,
    preserve_low = 1,
    preserve_high = 2,
    preserve_neither = 3,
};
inline constexpr std::int32_t level_unchanged = 127;

// T_level over 0 .. 255 (256 entries) or 0 .. 65535 (65536 entries). A code outside 0 .. 3
// counts as preserve_both.
void level_table8(std::int32_t level, std::int32_t preserve, std::uint8_t* table);
void level_table16(std::int32_t level, std::int32_t preserve, std::uint16_t* table);

// The tables one run needs, T = std::uint8_t or std::uint16_t.
template <class T>
class LevelTables {
  public:
    // T_a alone (b < 0), or the level of every mask value present (all when null), built in
    // parallel through the runner. true on failure (memory).
    [[nodiscard]] bool build(std::int32_t a, std::int32_t b, std::int32_t preserve,
                             const std::array<bool, 256>* present = nullptr);
    // The table of level a.
    const T* single() const { return by_mask_[0]; }
    // The table of a pixel whose 8-bit mask value is m.
    const T* for_mask(std::uint8_t m) const { return by_mask_[m]; }

  private:
    std::unique_ptr<T[]> storage_;
    const T* by_mask_[256] = {};
};

// Which 8-bit values a mask (8-bit, or 16-bit read through to8) holds; rows through the runner.
// true when cancelled.
[[nodiscard]] bool mask_values_present(const Image& mask, std::array<bool, 256>& present);

extern template class LevelTables<std::uint8_t>;
extern template class LevelTables<std::uint16_t>;

}  // namespace tessaly
