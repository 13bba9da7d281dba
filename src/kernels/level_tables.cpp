#include "kernels/level_tables.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <numbers>
#include <vector>

#include "core/numeric.h"
#include "core/runner.h"
#include "core/tables.h"

namespace tessaly {

namespace {

template <class T>
void level_table(std::int32_t v, std::int32_t preserve, T* t, std::int32_t top) {
    const double m = top;
    v = std::clamp(v, 0, 255);
    if (v == 0 || v == 255 || v == level_unchanged) {
        for (std::int32_t i = 0; i <= top; ++i) {
            t[i] = static_cast<T>(v == 0 ? 0 : v == 255 ? top : i);
        }
        return;
    }
    auto put = [&](std::int32_t i, double value) {
        t[i] = static_cast<T>(std::clamp(round_to_int(value), 0, top));
    };
    switch (preserve) {
        case preserve_low: {
            const double f = std::tan(v * std::numbers::pi / 510.0);
            for (std::int32_t i = 0; i <= top; ++i) put(i, std::min(m, i * f));
            return;
        }
        case preserve_high: {
            const double f = std::tan((255 - v) * std::numbers::pi / 510.0);
            for (std::int32_t i = 0; i <= top; ++i) {
                t[top - i] =
                    static_cast<T>(top - std::clamp(round_to_int(std::min(m, i * f)), 0, top));
            }
            return;
        }
        case preserve_neither: {
            const double shift = 2.0 * v * m / 255.0 - m;
            for (std::int32_t i = 0; i <= top; ++i) put(i, i + shift);
            return;
        }
        default: {
            // An ease that keeps both ends: a power curve bent toward the low end below the
            // middle level and toward the high end above it.
            const double level = v / 255.0;
            if (level <= 0.5) {
                const double p = std::sqrt(0.5 / level);
                for (std::int32_t i = 0; i <= top; ++i) {
                    put(i, (1.0 - std::pow(1.0 - std::pow(i / m, p), 1.0 / p)) * m);
                }
            } else {
                const double p = std::sqrt(0.5 / (1.0 - level));
                for (std::int32_t j = 0; j <= top; ++j) {
                    put(j, std::pow(1.0 - std::pow((m - j) / m, p), 1.0 / p) * m);
                }
            }
            return;
        }
    }
}

template <class T>
constexpr std::int32_t top_of = sizeof(T) == 1 ? 255 : 65535;

}  // namespace

void level_table8(std::int32_t level, std::int32_t preserve, std::uint8_t* table) {
    level_table(level, preserve, table, 255);
}

void level_table16(std::int32_t level, std::int32_t preserve, std::uint16_t* table) {
    level_table(level, preserve, table, 65535);
}

template <class T>
bool LevelTables<T>::build(std::int32_t a, std::int32_t b, std::int32_t preserve,
                           const std::array<bool, 256>* present) {
    constexpr std::size_t entries = std::size_t{top_of<T>} + 1;
    a = std::clamp(a, 0, 255);
    const bool blended = b >= 0;
    b = blended ? std::clamp(b, 0, 255) : a;
    // The level of each mask value, and the levels wanted, each once, in their order.
    std::int32_t level_of[256];
    std::array<std::int32_t, 256> slot;
    slot.fill(-1);
    std::vector<std::int32_t> levels;
    for (std::uint32_t m = 0; m < 256; ++m) {
        level_of[m] = blended ? blend8(static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                                       static_cast<std::uint8_t>(m))
                              : a;
        if ((present && !(*present)[m]) || slot[level_of[m]] >= 0) continue;
        slot[level_of[m]] = static_cast<std::int32_t>(levels.size());
        levels.push_back(level_of[m]);
    }
    const int count = static_cast<int>(levels.size());
    storage_.reset(new (std::nothrow) T[entries * static_cast<std::size_t>(std::max(count, 1))]);
    if (!storage_) return true;
    const std::uint8_t error = run_range(
        0,
        [&](int first, int last, Progress&) -> std::uint8_t {
            for (int k = first; k <= last; ++k) {
                level_table(levels[k], preserve, storage_.get() + entries * k, top_of<T>);
            }
            return 0;
        },
        "", 1, count, count, false, false, false);
    if (error) return true;
    for (std::uint32_t m = 0; m < 256; ++m) {
        const std::int32_t k = slot[level_of[m]];
        by_mask_[m] = k < 0 ? nullptr : storage_.get() + entries * static_cast<std::size_t>(k);
    }
    return false;
}

bool mask_values_present(const Image& mask, std::array<bool, 256>& present) {
    present.fill(false);
    if (!mask.has_pixels()) return false;
    const bool deep = mask.type == image_gray16;
    std::mutex merge;
    return run_range(
               0,
               [&](int first, int last, Progress& p) -> std::uint8_t {
                   std::array<bool, 256> seen{};
                   for (int y = first; y <= last; ++y) {
                       if (progress_tick(p)) return 1;
                       const std::uint8_t* row = mask.rows[y];
                       for (std::uint32_t x = 0; x < mask.width; ++x) {
                           seen[deep ? to8[sample16(row, x)] : row[x]] = true;
                       }
                   }
                   const std::lock_guard<std::mutex> lock(merge);
                   for (std::size_t m = 0; m < 256; ++m) present[m] = present[m] || seen[m];
                   return 0;
               },
               "", static_cast<int>(mask.width), static_cast<int>(mask.height), mask.height, false,
               false, true) != 0;
}

template class LevelTables<std::uint8_t>;
template class LevelTables<std::uint16_t>;

}  // namespace tessaly
