// What the tests of the point filters (Invert, Gamma Adjust, Saturation, Brightness) share:
// pictures of every type, a node to run a command line on, and a check of every pixel against a
// plain per-pixel formula.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/tables.h"
#include "kernels/level_tables.h"
#include "support/image_helpers.h"
#include "support/module_helpers.h"

namespace tessaly::testing {

using Pixel = std::array<std::int32_t, 3>;  // red, green, blue; gray in [0]

inline bool is_colour(const Image& im) {
    return im.type == image_color24 || im.type == image_color48;
}
inline bool is_deep(const Image& im) {
    return im.type == image_gray16 || im.type == image_color48;
}
// Sample k of a pixel: red, green, blue (stored blue first), or the gray.
inline std::size_t sample_index(const Image& im, std::uint32_t x, int k) {
    return is_colour(im) ? 3 * x + 2 - k : x;
}

inline Pixel pixel_at(const Image& im, std::uint32_t x, std::uint32_t y) {
    Pixel p{};
    for (int k = 0; k < (is_colour(im) ? 3 : 1); ++k) {
        const std::size_t i = sample_index(im, x, k);
        p[k] = is_deep(im) ? sample16(im.rows[y], i) : im.rows[y][i];
    }
    return p;
}
inline void set_pixel(Image& im, std::uint32_t x, std::uint32_t y, const Pixel& p) {
    for (int k = 0; k < (is_colour(im) ? 3 : 1); ++k) {
        const std::size_t i = sample_index(im, x, k);
        if (is_deep(im)) {
            set_sample16(im.rows[y], i, static_cast<std::uint16_t>(p[k]));
        } else {
            im.rows[y][i] = static_cast<std::uint8_t>(p[k]);
        }
    }
}

// Repeatable noise, padding zero; 37 pixels wide so that the vector loops and their tails run.
inline Image noise_picture(std::uint32_t type, std::uint32_t seed, std::uint32_t w = 37,
                           std::uint32_t h = 9) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 0.0));
    fill_pattern(im, type == image_binary ? (w + 7) / 8 : image_pixel_bytes(type) * w, seed);
    return im;
}

// A one-row picture of the given pixels.
inline Image pixels_picture(std::uint32_t type, const std::vector<Pixel>& pixels) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, static_cast<std::uint32_t>(pixels.size()), 1, 0.0));
    for (std::uint32_t x = 0; x < pixels.size(); ++x) set_pixel(im, x, 0, pixels[x]);
    return im;
}

// A mask of noise_picture's size holding the levels 0, 32, ..., 224 and 255, 8 or 16-bit.
inline Image level_mask(std::uint32_t type, std::uint32_t seed) {
    Image mask = noise_picture(type, seed);
    for (std::uint32_t y = 0; y < mask.height; ++y) {
        for (std::uint32_t x = 0; x < mask.width; ++x) {
            const std::uint32_t v = pixel_at(mask, x, y)[0] >> (type == image_gray16 ? 8 : 0);
            const std::int32_t m = v >= 224 ? 255 : v & 0xe0;
            set_pixel(mask, x, y, {type == image_gray16 ? to16[m] : m});
        }
    }
    return mask;
}

// The level tables of one "Preserve:" code, T = std::uint8_t or std::uint16_t, made once each.
template <class T>
struct LevelTableCache {
    std::int32_t preserve;
    std::map<std::int32_t, std::vector<T>> tables;
    const T* operator()(std::int32_t level) {
        std::vector<T>& t = tables[level];
        if (t.empty()) {
            t.resize(sizeof(T) == 1 ? 256 : 65536);
            if constexpr (sizeof(T) == 1) level_table8(level, preserve, t.data());
            if constexpr (sizeof(T) == 2) level_table16(level, preserve, t.data());
        }
        return t.data();
    }
};

// A transformation node below an input node that holds a copy of a picture (and a first mask).
class PointRun {
  public:
    explicit PointRun(const Image& picture, const Image* mask = nullptr) {
        input_.parent = &tree_root();
        node_.parent = &input_;
        EXPECT_FALSE(image_copy(picture, input_.image));
        if (mask) {
            node_.masks.push_back(std::make_unique<MaskSettings>());
            EXPECT_FALSE(image_copy(*mask, node_.masks[0]->image));
        }
    }
    // The result of a command line (empty when the run failed).
    const Image& run(const std::string& line) {
        EXPECT_EQ(run_line(&input_, &node_, line), 0) << line << ": " << node_.error_text;
        return node_.image;
    }

  private:
    Node input_, node_;
};

// Every pixel of out equals expected(the same pixel of in).
inline ::testing::AssertionResult every_pixel(const Image& in, const Image& out,
                                              const std::function<Pixel(const Pixel&)>& expected) {
    if (out.type != in.type || out.width != in.width || out.height != in.height) {
        return ::testing::AssertionFailure() << "type or size differs";
    }
    for (std::uint32_t y = 0; y < in.height; ++y) {
        for (std::uint32_t x = 0; x < in.width; ++x) {
            const Pixel p = pixel_at(in, x, y), got = pixel_at(out, x, y);
            Pixel want = expected(p);
            if (!is_colour(in)) want[1] = want[2] = 0;
            if (got == want) continue;
            return ::testing::AssertionFailure()
                   << "type " << in.type << " at " << x << "," << y << ": " << p[0] << " " << p[1]
                   << " " << p[2] << " gave " << got[0] << " " << got[1] << " " << got[2]
                   << ", not " << want[0] << " " << want[1] << " " << want[2];
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tessaly::testing
