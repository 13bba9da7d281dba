#include "core/image_sample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "core/tables.h"
#include "support/sample_rows.h"

namespace tessaly {
namespace {

// p(x, y) = 10 + 20 x + 80 y on a 4 x 3 picture: every pixel differs, so a wrong neighbour shows.
int level(int x, int y) {
    return 10 + 20 * x + 80 * y;
}

// The ramp in every sampled type; colour has blue the ramp, green its inverse, red 99.
Image ramp(std::uint32_t type) {
    testing::SampleRows rows(3);
    const bool wide = type == image_gray16 || type == image_color48;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            const int bgr[3] = {level(x, y), 255 - level(x, y), 99};
            for (int c = 0; c < testing::samples_per_pixel(type); ++c)
                rows[y].push_back(wide ? to16[bgr[c]] : bgr[c]);
        }
    }
    return testing::image_of_rows(type, rows);
}

TEST(ImageSample, InsideTheEdgeBandOutsideAndOnePixelWideOrHigh) {
    const Image gray = ramp(image_gray8), gray16 = ramp(image_gray16);
    const Image color = ramp(image_color24), color48 = ramp(image_color48);
    const std::uint8_t bg8[3] = {1, 2, 3};
    const std::uint16_t bg16[3] = {1, 2, 3};
    std::uint8_t out8[3];
    std::uint16_t out16[3];
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(image_sample_gray8(gray, x, y, 7), level(x, y));
            EXPECT_EQ(image_sample_gray16(gray16, x, y, 7), to16[level(x, y)]);
            image_sample_color24(color, x, y, bg8, out8);
            EXPECT_EQ(out8[1], 255 - level(x, y));
            image_sample_color48(color48, x, y, bg16, out16);
            EXPECT_EQ(out16[0], to16[level(x, y)]);
        }
    }
    // Weights 64 and 128: blend8(30, 50, 64) = 35, blend8(110, 130, 64) = 115, then 75.
    EXPECT_EQ(image_sample_gray8(gray, 1.25, 0.5, 0), 75);
    image_sample_color24(color, 1.25, 0.5, bg8, out8);
    EXPECT_EQ(std::vector<int>(out8, out8 + 3), (std::vector<int>{75, 255 - 75, 99}));
    EXPECT_EQ(image_sample_gray16(gray16, 1.25, 0.5, 0),
              blend16(blend16(to16[30], to16[50], 64), blend16(to16[110], to16[130], 64), 128));
    // A fraction below 1/256 has weight 0. On the last column the pair (2, 3) with weight 255 is
    // column 3 itself: blend8(70, 150, 128) = 110. The top row likewise: blend8(170, 190, 128).
    EXPECT_EQ(image_sample_gray8(gray, 1.0 + 1.0 / 512, 2.0, 0), level(1, 2));
    EXPECT_EQ(image_sample_gray8(gray, 3.0, 0.5, 0), 110);
    EXPECT_EQ(image_sample_gray8(gray, 0.5, 2.0, 0), 180);
    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 2, 1, 1.0));
    bit_set(binary.rows[0], 0);
    EXPECT_EQ(image_sample_binary(binary, 0.0, 0.0, 9), 255);
    EXPECT_EQ(image_sample_binary(binary, 0.5, 0.0, 9), 127);  // a gray level

    // Half a pixel beyond the last column: weight 128 toward the background; before the first:
    // from the background toward column 0.
    EXPECT_EQ(image_sample_gray8(gray, 3.5, 1.0, 0), 75);     // 150 - 75
    EXPECT_EQ(image_sample_gray8(gray, 3.5, 1.0, 255), 203);  // 150 + 53
    EXPECT_EQ(image_sample_gray8(gray, -0.5, 1.0, 200), 145);
    EXPECT_EQ(image_sample_gray8(gray, 0.5, 2.25, 0),
              blend8(blend8(level(0, 2), level(1, 2), 128), 0, 64));
    EXPECT_EQ(image_sample_gray8(gray, -0.5, -0.5, 0), blend8(0, blend8(0, level(0, 0), 128), 128));
    EXPECT_EQ(image_sample_gray16(ramp(image_gray16), 3.5, 1.0, 0), 19200);  // 38550 - 19350
    for (double x : {5.5, -1.5, 4.0, -1.0, 1e300, std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(image_sample_gray8(gray, x, 1.0, 33), 33) << x;
        EXPECT_EQ(image_sample_gray8(gray, 1.0, x, 33), 33) << x;
    }
    EXPECT_EQ(image_sample_gray8(Image(), 0.0, 0.0, 5), 5);
    EXPECT_EQ(image_sample_gray16(gray, 0.0, 0.0, 5), 5);  // another type

    // Nothing may be read outside the picture (AddressSanitizer watches).
    const Image column = testing::image_of_rows(image_gray8, {{0}, {200}, {0}});
    EXPECT_EQ(image_sample_gray8(column, 0.0, 0.5, 9), 100);  // blend8(0, 200, 128)
    EXPECT_EQ(image_sample_gray8(column, 0.5, 1.0, 0), 100);  // band: 200 toward 0
    const Image row = testing::image_of_rows(image_color48, {{0, 0, 0, 0, 0, 0, 1000, 0, 0}});
    const std::uint16_t bg[3] = {0, 0, 0};
    std::uint16_t out[3];
    image_sample_color48(row, 1.5, 0.0, bg, out);
    EXPECT_EQ(out[0], 501);  // 128000 / 255, truncated
    const Image dot = testing::image_of_rows(image_gray8, {{255}});
    EXPECT_EQ(image_sample_gray8(dot, 0.0, 0.0, 0), 255);
    EXPECT_EQ(image_sample_gray8(dot, 0.0, 0.75, 0), 63);  // weight 192 toward 0
}

TEST(ImageSample, NearestBinaryAndRgb8) {
    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 3, 2, 1.0));
    bit_set(binary.rows[0], 1);
    bit_set(binary.rows[1], 0);
    // Halves away from 0; beyond half a pixel outside, the background.
    const std::tuple<double, double, int> nearest[] = {
        {0.5, 0.0, 255}, {0.49, 0.0, 0}, {-0.49, 0.5, 255}, {-0.5, 0.0, 9}, {2.5, 0.0, 9}};
    for (auto [x, y, expected] : nearest)
        EXPECT_EQ(image_sample_binary_nearest(binary, x, y, 9), expected) << x << " " << y;

    // RGB, from every type: nearest for binary, the background's luminance for gray, the
    // background unscaled for 16 bits (white reads as 255 / 65535); floats are not sampled.
    const Image gray = ramp(image_gray8), color = ramp(image_color24), gray16 = ramp(image_gray16),
                color48 = ramp(image_color48),
                floats = testing::image_of_rows(image_float_gray, {{0, 0}});
    struct Case {
        const Image& image;
        double x, y;
        int background, r, g, b;
    };
    const Case cases[] = {{binary, 0.6, 0.0, 0, 255, 255, 255},
                          {binary, 7.0, 0.0, 0x00ff00, 149, 149, 149},
                          {color, 1.0, 1.0, 0, 99, 255 - level(1, 1), level(1, 1)},
                          {color, 9.0, 1.0, 0x0a141e, 10, 20, 30},
                          {gray, -5.0, 1.0, 0xff0000, 76, 76, 76},
                          {gray16, 3.0, 2.0, 0, level(3, 2), level(3, 2), level(3, 2)},
                          {gray16, 10.0, 0.0, 0xffffff, to8[255], to8[255], to8[255]},
                          {color48, 0.0, 2.0, 0, 99, 255 - level(0, 2), level(0, 2)},
                          {floats, 0.0, 0.0, 0, 11, 12, 13}};
    for (const Case& c : cases) {
        std::uint8_t r = 11, g = 12, b = 13;
        image_sample_rgb8(c.image, c.x, c.y, c.background >> 16, (c.background >> 8) & 255,
                          c.background & 255, r, g, b);
        EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({c.r, c.g, c.b}))
            << c.image.type << " " << c.x << " " << c.y;
    }
}

}  // namespace
}  // namespace tessaly
