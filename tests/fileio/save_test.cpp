#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/text_file.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "fileio/save_options.h"
#include "support/fileio_builders.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

TEST(SaveOptions, PreferencesLines) {
    SaveOptions o;
    EXPECT_EQ(save_options_lines(o),
              (std::vector<std::string>{"tiff_save_options 0 0 1 0",
                                        "jpeg_save_options 0 95 0 0 1 0", "png_save_options 0 0 0",
                                        "bmp_save_options 0 0 0", "gif_save_options 0 0"}));
    EXPECT_TRUE(read_save_options_line(split("jpeg_save_options 1 87.5 2 1"), o));
    EXPECT_EQ(o.jpeg.ask, 1);
    EXPECT_EQ(o.jpeg.quality, 87.5);
    EXPECT_EQ(o.jpeg.subsampling, 2);
    EXPECT_EQ(o.jpeg.metadata, 1);
    EXPECT_EQ(o.jpeg.script, 1);  // missing at the end: kept
    EXPECT_TRUE(read_save_options_line(split("tiff_save_options 1 3 0 2"), o));
    EXPECT_EQ(o.tiff.compression, 2);
    EXPECT_FALSE(read_save_options_line(split("use_count \u2033blur\u2033 2"), o));
    EXPECT_EQ(save_options_lines(o)[1], "jpeg_save_options 1 87.5 2 1 1 0");
    EXPECT_EQ(save_metadata_mode(o, save_tiff), 3);
    EXPECT_EQ(save_metadata_mode(o, save_bmp), 3);  // BMP and GIF never carry metadata
}

TEST(SaveOptions, Extensions) {
    testing::RecordingScope scope;
    std::string p = "/x/a";
    EXPECT_FALSE(check_save_extension(p, save_tiff));
    EXPECT_EQ(p, "/x/a.tif");
    p = "/x/a.TIFF";
    EXPECT_FALSE(check_save_extension(p, save_tiff));
    EXPECT_EQ(p, "/x/a.TIFF");
    p = "/x/a.jpeg";
    EXPECT_FALSE(check_save_extension(p, save_jpeg));
    EXPECT_TRUE(scope.recorder.messages.empty());
    p = "/x/a.png";
    EXPECT_FALSE(check_save_extension(p, save_jpeg));
    EXPECT_EQ(p, "/x/a.png.jpg");
    p = "/x/b.gif";
    EXPECT_FALSE(check_save_extension(p, save_bmp));
    EXPECT_EQ(p, "/x/b.gif.bmp");
    EXPECT_EQ(scope.recorder.warnings(),
              (std::vector<std::string>{
                  "JPEG files must have a .jpg or .jpeg extension - .jpg will be added",
                  "BMP files must have a .bmp extension - .bmp will be added"}));
    p = "/x/c";
    EXPECT_TRUE(check_save_extension(p, -1));
    p = "/x/c.heic";
    EXPECT_TRUE(check_save_extension(p, 5));
    p = "/x/c";
    EXPECT_TRUE(check_save_extension(p, 7));
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"No file extension specified", "Unrecognized file type",
                                        "Unrecognized file type with no extension"}));
}

TEST(BmpWriter, HeaderBytesAndRoundTrips) {
    testing::TempDir dir;
    Image color = testing::patterned(image_color24, 3, 2, 72.0);
    std::string path = dir.file("c.bmp");
    ASSERT_FALSE(write_bmp_file(path, color, 0));  // no profile: the 40-byte header
    std::string b;
    ASSERT_FALSE(read_file_bytes(path, b));
    auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at]) |
                                          static_cast<std::uint8_t>(b[at + 1]) << 8 |
                                          static_cast<std::uint8_t>(b[at + 2]) << 16 |
                                          static_cast<std::uint8_t>(b[at + 3]) << 24);
    };
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(u32(2), b.size());
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(38), 2835u);  // rnd(72 x 1000 / 25.4)
    EXPECT_EQ(b.size(), 54u + 2 * 12);

    Image back;
    ASSERT_FALSE(read_bmp_file(path, back));
    EXPECT_TRUE(testing::same_pixels(color, back));
    EXPECT_NEAR(back.dpi, 72.0, 0.02);

    // With a profile and version 0: a V5 header and the profile after the pixels.
    const std::uint8_t profile[] = {'p', 'r', 'o', 'f', 'i', 'l', 'e', '!'};
    ASSERT_FALSE(image_set_profile(color, profile, sizeof profile));
    ASSERT_FALSE(write_bmp_file(path, color, 0));
    ASSERT_FALSE(read_file_bytes(path, b));
    EXPECT_EQ(u32(14), 124u);
    EXPECT_EQ(u32(14 + 56), 0x4D424544u);
    EXPECT_EQ(b.substr(14 + u32(14 + 112), u32(14 + 116)), "profile!");
    ASSERT_FALSE(read_bmp_file(path, back));
    ASSERT_EQ(back.profile_size, sizeof profile);
    EXPECT_EQ(0, std::memcmp(back.profile, profile, sizeof profile));
    ASSERT_FALSE(write_bmp_file(path, color, 1));  // V1: no profile
    ASSERT_FALSE(read_bmp_file(path, back));
    EXPECT_EQ(back.profile_size, 0u);

    // Binary and 8-bit gray keep their types; 16-bit gray is reduced to 8 bits.
    for (std::uint32_t type : {image_binary, image_gray8}) {
        const Image im = testing::patterned(type, 11, 3, 300.0);
        ASSERT_FALSE(write_bmp_file(path, im, 0));
        ASSERT_FALSE(read_bmp_file(path, back));
        EXPECT_TRUE(testing::same_pixels(im, back));
        EXPECT_NEAR(back.dpi, 300.0, 0.02);
    }

    Image gray16;
    ASSERT_FALSE(image_alloc(gray16, image_gray16, 2, 1, 72.0));
    set_sample16(gray16.rows[0], 0, 32896);
    set_sample16(gray16.rows[0], 1, 65535);
    ASSERT_FALSE(write_bmp_file(path, gray16, 0));
    ASSERT_FALSE(read_bmp_file(path, back));
    EXPECT_EQ(back.type, image_gray8);
    EXPECT_EQ(back.rows[0][0], 128);
    EXPECT_EQ(back.rows[0][1], 255);
    Image float_image;
    ASSERT_FALSE(image_alloc(float_image, image_float_gray, 2, 2, 72.0));
    EXPECT_TRUE(write_bmp_file(dir.file("f.bmp"), float_image, 0));
}

}  // namespace
}  // namespace tessaly
