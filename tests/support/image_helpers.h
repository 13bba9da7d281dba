// Small helpers for tests that build and inspect Images.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "core/image.h"

namespace tessaly::testing {

// An empty Image has every field zero.
inline ::testing::AssertionResult is_empty_record(const Image& image) {
    if (image.type == 0 && image.width == 0 && image.height == 0 && image.row_bytes == 0 &&
        image.dpi == 0.0 && image.rows == nullptr && image.chunk_count == 0 &&
        image.rows_per_chunk == 0 && image.chunks == nullptr && image.profile == nullptr &&
        image.profile_size == 0 && image.tags == nullptr) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "type " << image.type << " " << image.width << "x" << image.height << " row_bytes "
           << image.row_bytes << " dpi " << image.dpi << " rows "
           << static_cast<const void*>(image.rows) << " chunks " << image.chunk_count
           << " profile_size " << image.profile_size << " tags "
           << static_cast<const void*>(image.tags);
}

// Fills every pixel byte (not the padding) with a repeatable pattern that differs from row to
// row, so mixed-up rows or channels show.
inline void fill_pattern(Image& image, std::uint32_t pixel_bytes_per_row, std::uint32_t seed = 1) {
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::uint32_t r = 0; r < image.height; ++r) {
        for (std::uint32_t i = 0; i < pixel_bytes_per_row; ++i) {
            state = state * 1103515245u + 12345u;
            image.rows[r][i] = static_cast<std::uint8_t>(state >> 23);
        }
    }
}

// Makes every allocation of the image core succeed again when a test ends, however it ends.
class AllocationFailureScope {
  public:
    AllocationFailureScope() = default;
    ~AllocationFailureScope() { image_fail_allocations_after(-1); }
    AllocationFailureScope(const AllocationFailureScope&) = delete;
    AllocationFailureScope& operator=(const AllocationFailureScope&) = delete;
};

}  // namespace tessaly::testing
