#include "core/image_sample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/tables.h"

namespace tessaly {
namespace {

// p(x, y) = 10 + 20 x + 80 y on a 4 x 3 picture: every pixel differs, so a wrong neighbour shows.
std::uint8_t level(std::uint32_t x, std::uint32_t y) {
    return static_cast<std::uint8_t>(10 + 20 * x + 80 * y);
}

// The ramp in every sampled type; color has blue the ramp, green its inverse, red 99.
Image ramp(std::uint32_t type) {
    const bool color = type == image_color24 || type == image_color48;
    const bool wide = type == image_gray16 || type == image_color48;
    Image image;
    EXPECT_FALSE(image_alloc(image, type, 4, 3, 1.0));
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 4; ++x) {
            const std::uint8_t bgr[3] = {level(x, y), static_cast<std::uint8_t>(255 - level(x, y)),
                                         99};
            for (std::uint32_t c = 0; c < (color ? 3u : 1u); ++c) {
                const std::size_t i = color ? 3 * x + c : x;
                if (wide) {
                    set_sample16(image.rows[y], i, to16[bgr[c]]);
                } else {
                    image.rows[y][i] = bgr[c];
                }
            }
        }
    }
    return image;
}

TEST(ImageSample, InsideThePicture) {
    const Image gray = ramp(image_gray8), gray16 = ramp(image_gray16);
    const Image color = ramp(image_color24), color48 = ramp(image_color48);
    const std::uint8_t bg8[3] = {1, 2, 3};
    const std::uint16_t bg16[3] = {1, 2, 3};
    std::uint8_t out8[3];
    std::uint16_t out16[3];
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 4; ++x) {
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
    EXPECT_EQ(out8[0], 75);
    EXPECT_EQ(out8[1], 255 - 75);
    EXPECT_EQ(out8[2], 99);
    EXPECT_EQ(image_sample_gray16(gray16, 1.25, 0.5, 0),
              blend16(blend16(to16[30], to16[50], 64), blend16(to16[110], to16[130], 64), 128));
    // A fraction below 1/256 has weight 0.
    EXPECT_EQ(image_sample_gray8(gray, 1.0 + 1.0 / 512, 2.0, 0), level(1, 2));
    // On the last column the pair (2, 3) with weight 255 is column 3 itself: blend8(70, 150,
    // 128) = 110. The top row likewise: blend8(170, 190, 128) = 180.
    EXPECT_EQ(image_sample_gray8(gray, 3.0, 0.5, 0), 110);
    EXPECT_EQ(image_sample_gray8(gray, 0.5, 2.0, 0), 180);

    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 2, 1, 1.0));
    bit_set(binary.rows[0], 0);
    EXPECT_EQ(image_sample_binary(binary, 0.0, 0.0, 9), 255);
    EXPECT_EQ(image_sample_binary(binary, 0.5, 0.0, 9), 127);  // a gray level
}

TEST(ImageSample, EdgeBandAndOutside) {
    const Image gray = ramp(image_gray8);
    // Half a pixel beyond the last column: weight 128 toward the background; before the first:
    // from the background toward column 0.
    EXPECT_EQ(image_sample_gray8(gray, 3.5, 1.0, 0), 75);     // 150 - 75
    EXPECT_EQ(image_sample_gray8(gray, 3.5, 1.0, 255), 203);  // 150 + 53
    EXPECT_EQ(image_sample_gray8(gray, -0.5, 1.0, 200), 145);
    EXPECT_EQ(image_sample_gray8(gray, 0.5, 2.25, 0),
              blend8(blend8(level(0, 2), level(1, 2), 128), 0, 64));
    EXPECT_EQ(image_sample_gray8(gray, -0.5, -0.5, 0), blend8(0, blend8(0, level(0, 0), 128), 128));
    EXPECT_EQ(image_sample_gray16(ramp(image_gray16), 3.5, 1.0, 0), 19200);  // 38550 - 19350

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double x : {5.5, -1.5, 4.0, -1.0, 1e300, nan, inf}) {
        EXPECT_EQ(image_sample_gray8(gray, x, 1.0, 33), 33) << x;
        EXPECT_EQ(image_sample_gray8(gray, 1.0, x, 33), 33) << x;
    }
    Image empty;
    EXPECT_EQ(image_sample_gray8(empty, 0.0, 0.0, 5), 5);
    EXPECT_EQ(image_sample_gray16(gray, 0.0, 0.0, 5), 5);  // another type
}

TEST(ImageSample, OnePixelWideOrHigh) {
    // Nothing may be read outside the picture (AddressSanitizer watches).
    Image column, row, dot;
    ASSERT_FALSE(image_alloc(column, image_gray8, 1, 3, 1.0));
    column.rows[1][0] = 200;
    EXPECT_EQ(image_sample_gray8(column, 0.0, 0.5, 9), 100);  // blend8(0, 200, 128)
    EXPECT_EQ(image_sample_gray8(column, 0.5, 1.0, 0), 100);  // band: 200 toward 0

    ASSERT_FALSE(image_alloc(row, image_color48, 3, 1, 1.0));
    set_sample16(row.rows[0], 6, 1000);  // blue of the last pixel
    const std::uint16_t bg[3] = {0, 0, 0};
    std::uint16_t out[3];
    image_sample_color48(row, 1.5, 0.0, bg, out);
    EXPECT_EQ(out[0], 501);  // 128000 / 255, truncated

    ASSERT_FALSE(image_alloc(dot, image_gray8, 1, 1, 1.0));
    dot.rows[0][0] = 255;
    EXPECT_EQ(image_sample_gray8(dot, 0.0, 0.0, 0), 255);
    EXPECT_EQ(image_sample_gray8(dot, 0.0, 0.75, 0), 63);  // weight 192 toward 0
}

TEST(ImageSample, NearestBinaryAndRgb8) {
    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 3, 2, 1.0));
    bit_set(binary.rows[0], 1);
    bit_set(binary.rows[1], 0);
    EXPECT_EQ(image_sample_binary_nearest(binary, 0.5, 0.0, 9), 255);  // halves away from 0
    EXPECT_EQ(image_sample_binary_nearest(binary, 0.49, 0.0, 9), 0);
    EXPECT_EQ(image_sample_binary_nearest(binary, -0.49, 0.5, 9), 255);
    EXPECT_EQ(image_sample_binary_nearest(binary, -0.5, 0.0, 9), 9);
    EXPECT_EQ(image_sample_binary_nearest(binary, 2.5, 0.0, 9), 9);

    std::uint8_t r = 0, g = 0, b = 0;
    image_sample_rgb8(binary, 0.6, 0.0, 0, 0, 0, r, g, b);  // nearest, not blended
    EXPECT_EQ(r, 255);
    image_sample_rgb8(binary, 7.0, 0.0, 0, 255, 0, r, g, b);
    EXPECT_EQ(g, 149);  // luminance of pure green
    image_sample_rgb8(ramp(image_color24), 1.0, 1.0, 0, 0, 0, r, g, b);
    EXPECT_EQ(b, level(1, 1));
    EXPECT_EQ(g, 255 - level(1, 1));
    EXPECT_EQ(r, 99);
    image_sample_rgb8(ramp(image_color24), 9.0, 1.0, 10, 20, 30, r, g, b);
    EXPECT_EQ(r * 10000 + g * 100 + b, 102030);
    image_sample_rgb8(ramp(image_gray8), -5.0, 1.0, 255, 0, 0, r, g, b);
    EXPECT_EQ(b, 76);
    image_sample_rgb8(ramp(image_gray16), 3.0, 2.0, 0, 0, 0, r, g, b);
    EXPECT_EQ(r, level(3, 2));
    // The background reaches the 16-bit samplers unscaled: white reads as 255 / 65535.
    image_sample_rgb8(ramp(image_gray16), 10.0, 0.0, 255, 255, 255, r, g, b);
    EXPECT_EQ(r, to8[255]);
    image_sample_rgb8(ramp(image_color48), 0.0, 2.0, 0, 0, 0, r, g, b);
    EXPECT_EQ(g, 255 - level(0, 2));

    Image floats;
    ASSERT_FALSE(image_alloc(floats, image_float_gray, 2, 2, 1.0));
    r = 11;
    image_sample_rgb8(floats, 0.0, 0.0, 0, 0, 0, r, g, b);
    EXPECT_EQ(r, 11);  // unchanged
}

}  // namespace
}  // namespace tessaly
