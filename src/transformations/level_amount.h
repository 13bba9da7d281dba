// The bipolar amount of Saturation and Brightness as levels: the amount is not mixed with the
// input afterwards, it chooses the level table itself (kernels/level_tables.h), and under a mask
// each pixel its own.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "framework/mix.h"
#include "kernels/level_tables.h"

namespace tessaly {

// trunc(amount x 255 / 10008); an amount switched off (-1) leaves the values as they are.
inline std::int32_t amount_level(std::int32_t amount) {
    return amount < 0 ? level_unchanged : std::clamp(amount_weight8(amount), 0, 255);
}

// 0 percent (or switched off) wherever the mask is: the output is the input.
inline bool amount_levels_unchanged(const AmountSettings& amount) {
    auto unchanged = [](std::int32_t a) { return a == amount_half || a < 0; };
    return unchanged(amount.amount) && unchanged(amount.second);
}

// The tables of one run: the amount's level alone, or with a mask in use the level of every
// value the mask holds (a 16-bit table each costs milliseconds; hard-edged masks hold few
// values). Null when they cannot be made.
template <class T>
std::shared_ptr<const LevelTables<T>> amount_level_tables(const AmountSettings& amount,
                                                          const Node* node, std::int32_t preserve) {
    auto tables = std::make_shared<LevelTables<T>>();
    const Image* mask = amount_mask(amount, node);
    std::array<bool, 256> present{};
    if (mask && mask_values_present(*mask, present)) return nullptr;
    if (tables->build(amount_level(amount.amount), mask ? amount_level(amount.second) : -1,
                      preserve, mask ? &present : nullptr)) {
        return nullptr;
    }
    return tables;
}

}  // namespace tessaly
