// Pictures written and read sample by sample, for tests that compute pixels by hand: binary
// (read as 0 or 255), 8 and 16-bit gray and RGB.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/image.h"

namespace tessaly::testing {

// rows[y] holds the samples of stored row y, C per pixel.
using SampleRows = std::vector<std::vector<int>>;

inline int samples_per_pixel(std::uint32_t type) {
    return type == image_color24 || type == image_color48 ? 3 : 1;
}
inline int samples_per_pixel(const Image& im) {
    return samples_per_pixel(im.type);
}
inline bool wide_samples(const Image& im) {
    return im.type == image_gray16 || im.type == image_color48;
}

// Sample c of pixel x in stored row y.
inline int sample_at(const Image& im, std::uint32_t x, std::uint32_t y, int c = 0) {
    const std::uint8_t* r = im.rows[y];
    if (im.type == image_binary) return bit_get(r, x);
    const std::size_t i = static_cast<std::size_t>(x) * samples_per_pixel(im) + c;
    return wide_samples(im) ? sample16(r, i) : r[i];
}
inline void set_sample_at(Image& im, std::uint32_t x, std::uint32_t y, int c, int v) {
    std::uint8_t* r = im.rows[y];
    const std::size_t i = static_cast<std::size_t>(x) * samples_per_pixel(im) + c;
    if (wide_samples(im)) {
        set_sample16(r, i, static_cast<std::uint16_t>(v));
    } else {
        r[i] = static_cast<std::uint8_t>(v);
    }
}

// An 8 or 16-bit gray or RGB picture of the given samples, without a resolution.
inline Image image_of_rows(std::uint32_t type, const SampleRows& rows) {
    Image im;
    const int c = samples_per_pixel(type);
    EXPECT_FALSE(image_alloc(im, type, static_cast<std::uint32_t>(rows[0].size() / c),
                             static_cast<std::uint32_t>(rows.size()), 0.0));
    for (std::uint32_t y = 0; y < im.height; ++y) {
        for (std::uint32_t x = 0; x < im.width; ++x) {
            for (int k = 0; k < c; ++k) set_sample_at(im, x, y, k, rows[y][x * c + k]);
        }
    }
    return im;
}
inline SampleRows rows_of(const Image& im) {
    SampleRows out(im.height);
    for (std::uint32_t y = 0; y < im.height; ++y) {
        for (std::uint32_t x = 0; x < im.width; ++x) {
            for (int k = 0; k < samples_per_pixel(im); ++k)
                out[y].push_back(sample_at(im, x, y, k));
        }
    }
    return out;
}

}  // namespace tessaly::testing
