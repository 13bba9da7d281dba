// Small masks written and read as rows of values, top row first (an Image keeps its bottom line
// in rows[0]).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/image.h"

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

}  // namespace tessaly
