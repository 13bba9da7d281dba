#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

// clang-format off
#include <cstddef>
#include <jpeglib.h>
// clang-format on

#include "fileio/exiftool.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// A smooth picture: JPEG keeps it within a few levels. Blue, green and red (or the gray level)
// of each pixel; 48-bit samples are the 8-bit ones times 257.
Image gradient(std::uint32_t type, std::uint32_t w, std::uint32_t h) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 200.0));
    for (std::uint32_t r = 0; r < h; ++r) {
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t bgr[3] = {(x * 2) & 0xFF, (r * 3) & 0xFF, (100 + x / 2) & 0xFF};
            for (std::uint32_t c = 0; c < 3; ++c) {
                if (type == image_color24)
                    im.rows[r][3 * x + c] = static_cast<std::uint8_t>(bgr[c]);
                if (type == image_color48)
                    set_sample16(im.rows[r], 3 * x + c, static_cast<std::uint16_t>(bgr[c] * 257));
            }
            if (type == image_gray8) im.rows[r][x] = static_cast<std::uint8_t>(bgr[1]);
        }
    }
    return im;
}

int largest_difference(const Image& a, const Image& b) {
    int worst = 0;
    for (std::uint32_t r = 0; r < a.height; ++r) {
        for (std::uint32_t i = 0; i < 3 * a.width; ++i) {
            worst = std::max(worst, std::abs(a.rows[r][i] - b.rows[r][i]));
        }
    }
    return worst;
}

// The luma sampling factors and density libjpeg reads back.
struct Header {
    int h = 0, v = 0, density_unit = -1, x_density = 0;
    bool read(const std::string& path) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return false;
        jpeg_decompress_struct d{};
        jpeg_error_mgr e{};
        d.err = jpeg_std_error(&e);
        jpeg_create_decompress(&d);
        jpeg_stdio_src(&d, f);
        jpeg_read_header(&d, TRUE);
        h = d.comp_info[0].h_samp_factor;
        v = d.comp_info[0].v_samp_factor;
        density_unit = d.density_unit;
        x_density = d.X_density;
        jpeg_destroy_decompress(&d);
        std::fclose(f);
        return true;
    }
};

TEST(JpegWriter, QualitySubsamplingResolutionAndProfile) {
    testing::RecordingScope scope;
    testing::TempDir dir;
    Image im = gradient(image_color24, 64, 48);
    const std::uint8_t profile[] = {0, 0, 0, 16, 'l', 'c', 'm', 's', 1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_FALSE(image_set_profile(im, profile, sizeof profile));
    const int expected[4][2] = {{2, 2}, {2, 1}, {1, 1}, {1, 2}};
    for (int sub = 0; sub < 4; ++sub) {
        SCOPED_TRACE(sub);
        std::string path = dir.file("s.jpg");
        ASSERT_EQ(write_jpeg_file(path, im, 95.0, sub, 0), write_done);
        Header header;
        ASSERT_TRUE(header.read(path));
        EXPECT_EQ(header.h, expected[sub][0]);
        EXPECT_EQ(header.v, expected[sub][1]);
        EXPECT_EQ(header.density_unit, 1);
        EXPECT_EQ(header.x_density, 200);
        Image back;
        ASSERT_FALSE(read_jpeg_file(path, back));
        EXPECT_EQ(back.type, image_color24);
        EXPECT_LE(largest_difference(im, back), 8);
        ASSERT_EQ(back.profile_size, sizeof profile);
        EXPECT_EQ(0, std::memcmp(back.profile, profile, sizeof profile));
    }
    // Metadata mode 3: no profile in the file.
    ASSERT_EQ(write_jpeg_file(dir.file("m3.jpg"), im, 95.0, 2, 3), write_done);
    Image back;
    ASSERT_FALSE(read_jpeg_file(dir.file("m3.jpg"), back));
    EXPECT_EQ(back.profile_size, 0u);
    // Lower quality, smaller file.
    ASSERT_EQ(write_jpeg_file(dir.file("q30.jpg"), im, 30.0, 2, 3), write_done);
    EXPECT_LT(fs::file_size(dir.file("q30.jpg")), fs::file_size(dir.file("m3.jpg")));
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST(JpegWriter, DepthsBinaryQuestionAndMissingResolution) {
    testing::RecordingScope scope;
    testing::TempDir dir;
    Image deep = gradient(image_color48, 32, 16);
    ASSERT_EQ(write_jpeg_file(dir.file("d.jpg"), deep, 95.0, 2, 0), write_done);
    Image back;
    ASSERT_FALSE(read_jpeg_file(dir.file("d.jpg"), back));
    EXPECT_EQ(back.type, image_color24);  // 16-bit pictures go out as 8-bit JPEGs

    Image binary;
    ASSERT_FALSE(image_alloc(binary, image_binary, 16, 8, 0.0));
    bit_set(binary.rows[3], 5);
    scope.recorder.answers = {Answer::no};
    EXPECT_EQ(write_jpeg_file(dir.file("b.jpg"), binary, 95.0, 0, 0), write_cancelled);
    EXPECT_FALSE(fs::exists(dir.file("b.jpg")));
    scope.recorder.answers = {Answer::yes};
    EXPECT_EQ(write_jpeg_file(dir.file("b.jpg"), binary, 95.0, 0, 0), write_done);
    ASSERT_FALSE(read_jpeg_file(dir.file("b.jpg"), back));
    EXPECT_EQ(back.type, image_gray8);
    Header header;
    ASSERT_TRUE(header.read(dir.file("b.jpg")));
    EXPECT_EQ(header.x_density, 72);
    EXPECT_EQ(scope.recorder.questions,
              (std::vector<std::string>{
                  "Warning: Cannot save binary images as JPEG\nSave as 8-bit black and white?",
                  "Warning: Cannot save binary images as JPEG\nSave as 8-bit black and white?"}));
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"Illegal image dpi -- will be set to 72.0"});
}

TEST(JpegWriter, ThumbnailsAreAtMost160Pixels) {
    testing::TempDir dir;
    Image wide = gradient(image_color24, 400, 100);
    ASSERT_FALSE(write_thumbnail_jpeg(wide, dir.file("t.jpg")));
    Image back;
    ASSERT_FALSE(read_jpeg_file(dir.file("t.jpg"), back));
    EXPECT_EQ(back.width, 160u);
    EXPECT_EQ(back.height, 40u);
    Image tall = gradient(image_gray8, 30, 500);
    ASSERT_FALSE(write_thumbnail_jpeg(tall, dir.file("u.jpg")));
    ASSERT_FALSE(read_jpeg_file(dir.file("u.jpg"), back));
    EXPECT_EQ(back.width, 9u);  // 30 x 160 / 500
    EXPECT_EQ(back.height, 160u);

    // Through ExifTool the thumbnail lands in the saved file.
    if (exiftool_path().empty()) GTEST_SKIP() << "exiftool is not installed";
    std::string target = dir.file("saved.jpg");
    ASSERT_EQ(write_jpeg_file(target, wide, 90.0, 0, 0), write_done);
    EXPECT_FALSE(add_thumbnail(target, wide));
    std::string out = dir.file("thumb.txt");
    ASSERT_FALSE(run_program(exiftool_path(), {"-s", "-s", "-s", "-ThumbnailLength", target}, out));
    std::FILE* f = std::fopen(out.c_str(), "r");
    ASSERT_NE(f, nullptr);
    int length = 0;
    EXPECT_EQ(std::fscanf(f, "%d", &length), 1);
    std::fclose(f);
    EXPECT_GT(length, 100);
    EXPECT_FALSE(fs::exists(fs::temp_directory_path() / "Thumbnail.jpg"));
}

}  // namespace
}  // namespace tessaly
