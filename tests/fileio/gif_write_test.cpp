#include <gtest/gtest.h>

#include <cstdlib>

#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/fileio_builders.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

TEST(GifWriter, BinaryGrayAndFewColoursAreExact) {
    testing::TempDir dir;
    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 13, 4, 72.0));
    bit_set(binary.rows[0], 12);
    bit_set(binary.rows[3], 0);
    ASSERT_FALSE(write_gif_file(dir.file("b.gif"), binary, false));
    Image back;
    ASSERT_FALSE(read_gif_file(dir.file("b.gif"), back));
    ASSERT_EQ(back.width, 13u);
    // A black and white palette reads back as gray levels 0 and 255.
    auto level = [&](std::uint32_t x, std::uint32_t y) {
        return back.type == image_binary ? bit_get(back.rows[y], x) : back.rows[y][x];
    };
    EXPECT_EQ(level(12, 0), 255);
    EXPECT_EQ(level(0, 3), 255);
    EXPECT_EQ(level(5, 2), 0);

    // 256 gray levels, and 100 colours: both fit the palette exactly.
    Image gray;
    ASSERT_FALSE(image_alloc(gray, image_gray8, 16, 16, 72.0));
    for (std::uint32_t y = 0; y < 16; ++y) {
        for (std::uint32_t x = 0; x < 16; ++x)
            gray.rows[y][x] = static_cast<std::uint8_t>(16 * y + x);
    }
    Image few;
    ASSERT_FALSE(image_alloc(few, image_color24, 10, 10, 72.0));
    for (std::uint32_t y = 0; y < 10; ++y) {
        for (std::uint32_t x = 0; x < 10; ++x) {
            few.rows[y][3 * x] = static_cast<std::uint8_t>(x * 25);  // blue
            few.rows[y][3 * x + 1] = static_cast<std::uint8_t>(y * 25);
            few.rows[y][3 * x + 2] = 200;
        }
    }
    for (const Image* im : {&gray, &few}) {
        ASSERT_FALSE(write_gif_file(dir.file("g.gif"), *im, false));
        ASSERT_FALSE(read_gif_file(dir.file("g.gif"), back));
        EXPECT_TRUE(testing::same_pixels(*im, back));
    }
}

TEST(GifWriter, ManyColoursAreQuantizedCloselyAndDeepImagesAsSaid) {
    testing::RecordingScope scope;
    testing::TempDir dir;
    Image many;
    ASSERT_FALSE(image_alloc(many, image_color24, 64, 64, 72.0));
    for (std::uint32_t y = 0; y < 64; ++y) {
        for (std::uint32_t x = 0; x < 64; ++x) {
            std::uint8_t* p = many.rows[y] + 3 * x;
            p[0] = static_cast<std::uint8_t>(x * 4);
            p[1] = static_cast<std::uint8_t>(y * 4);
            p[2] = static_cast<std::uint8_t>((x + y) * 2);
        }
    }
    std::vector<std::uint8_t> palette, indexes;
    quantize_colors(many, palette, indexes);
    EXPECT_LE(palette.size(), 256u * 3);
    ASSERT_FALSE(write_gif_file(dir.file("m.gif"), many, false));
    Image back;
    ASSERT_FALSE(read_gif_file(dir.file("m.gif"), back));
    double total = 0;
    for (std::uint32_t y = 0; y < 64; ++y) {
        for (std::uint32_t i = 0; i < 192; ++i)
            total += std::abs(back.rows[y][i] - many.rows[y][i]);
    }
    EXPECT_LT(total / (64.0 * 192.0), 6.0);  // 4096 colours in 256: a few levels on average

    Image deep;
    ASSERT_FALSE(image_alloc(deep, image_gray16, 4, 4, 72.0));
    EXPECT_TRUE(write_gif_file(dir.file("d.gif"), deep, false));
    ASSERT_FALSE(image_alloc(deep, image_color48, 4, 4, 72.0));
    EXPECT_TRUE(write_gif_file(dir.file("d.gif"), deep, false));
    EXPECT_FALSE(write_gif_file(dir.file("d.gif"), deep, true));  // the Save command reduces
    ASSERT_FALSE(read_gif_file(dir.file("d.gif"), back));
    EXPECT_EQ(back.width, 4u);
    Image floats;
    ASSERT_FALSE(image_alloc(floats, image_float_gray, 2, 2, 72.0));
    EXPECT_TRUE(write_gif_file(dir.file("f.gif"), floats, true));
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"Cannot save 16-bit black and white images as a GIF file",
                                        "Cannot save 48-bit color images as a GIF file",
                                        "Cannot save images of this type as a GIF file"}));
}

}  // namespace
}  // namespace tessaly
