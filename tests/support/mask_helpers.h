// Small masks written and read as rows of values, top row first (an Image keeps its bottom line
// in rows[0]).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/image.h"
#include "masks/mask_operations.h"

namespace tessaly {

using Rows = std::vector<std::vector<std::uint32_t>>;  // top row first

inline Image mask_of(std::uint32_t type, const Rows& rows) {
    Image im;
    const auto h = static_cast<std::uint32_t>(rows.size());
    const auto w = static_cast<std::uint32_t>(rows[0].size());
    EXPECT_FALSE(image_alloc(im, type, w, h, 0));
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint8_t* row = im.rows[h - 1 - y];
            if (type == image_gray16) {
                set_sample16(row, x, static_cast<std::uint16_t>(rows[y][x]));
            } else {
                row[x] = static_cast<std::uint8_t>(rows[y][x]);
            }
        }
    }
    return im;
}

inline Rows seen(const Image& im) {
    Rows out(im.height, std::vector<std::uint32_t>(im.width));
    for (std::uint32_t y = 0; y < im.height; ++y) {
        const std::uint8_t* row = im.rows[im.height - 1 - y];
        for (std::uint32_t x = 0; x < im.width; ++x) {
            out[y][x] = im.type == image_gray16 ? sample16(row, x) : row[x];
        }
    }
    return out;
}

// The mask after recording one operation on a uniform base mask of level drawn on base; failed
// tells whether the operation is expected to report failure.
inline Rows mask_after(const Image& base, const MaskOperation& op, std::int32_t level = 0,
                       std::int32_t mask16 = 0, bool failed = false) {
    MaskState state;
    mask_state_set_base(state, &base);
    state.initial_level = level;
    state.mask16 = mask16;
    EXPECT_FALSE(mask_list_reset(state));
    EXPECT_EQ(mask_record(state, op), failed);
    return seen(state.current_mask);
}

}  // namespace tessaly
