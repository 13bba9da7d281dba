#include <gtest/gtest.h>
#include <jpeglib.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/fileio_builders.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"
#include "test_files.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// What the test writes: a picture given top row first, as a person sees it.
struct JpegLayout {
    std::uint32_t width = 0, height = 0;
    int components = 3;  // 1 gray, 3 RGB, 4 CMYK
    Bytes pixels;
    Bytes exif;  // APP1 body without "Exif\0\0"
    Bytes icc;
    bool jfif = true;
    int density_unit = 1;
    int density = 72;
};

void write_jpeg(const std::string& path, const JpegLayout& layout) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_stdio_dest(&c, f);
    c.image_width = layout.width;
    c.image_height = layout.height;
    c.input_components = layout.components;
    c.in_color_space = layout.components == 1   ? JCS_GRAYSCALE
                       : layout.components == 3 ? JCS_RGB
                                                : JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    c.write_JFIF_header = layout.jfif ? TRUE : FALSE;
    c.density_unit = static_cast<UINT8>(layout.density_unit);
    c.X_density = c.Y_density = static_cast<UINT16>(layout.density);
    jpeg_start_compress(&c, TRUE);
    if (!layout.exif.empty()) {
        Bytes app1 = exif_prefixed(layout.exif);
        jpeg_write_marker(&c, JPEG_APP0 + 1, app1.data(), static_cast<unsigned>(app1.size()));
    }
    if (!layout.icc.empty())
        jpeg_write_icc_profile(&c, layout.icc.data(), static_cast<unsigned>(layout.icc.size()));
    const std::size_t stride =
        std::size_t{layout.width} * static_cast<std::size_t>(layout.components);
    while (c.next_scanline < c.image_height) {
        auto* row = const_cast<JSAMPLE*>(layout.pixels.data() + c.next_scanline * stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

// The four quadrants, top row first.
JpegLayout quadrants(std::uint32_t w, std::uint32_t h) {
    JpegLayout s{.width = w, .height = h};
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            for (int c : quadrant_colors[quadrant_of(int(x), int(y), int(w), int(h))])
                s.pixels.push_back(static_cast<std::uint8_t>(c));
        }
    }
    return s;
}

Outcome read_jpeg(const std::string& path) {
    return read_recorded(path, read_jpeg_file);
}

TEST(Jpeg, EveryOrientationOpensUpright) {
    TempDir dir;
    // The file's quadrant seen at each place once the tag value is applied: 2 mirrored
    // left-right, 3 half turn, 4 mirrored top-bottom, 5 transposed, 6 turned clockwise,
    // 7 transverse, 8 turned counter-clockwise.
    const std::array<int, 4> expected[9] = {{},           {0, 1, 2, 3}, {1, 0, 3, 2},
                                            {3, 2, 1, 0}, {2, 3, 0, 1}, {0, 2, 1, 3},
                                            {2, 0, 3, 1}, {3, 1, 2, 0}, {1, 3, 0, 2}};
    for (std::uint16_t v = 1; v <= 8; ++v) {
        SCOPED_TRACE("orientation " + std::to_string(v));
        JpegLayout layout = quadrants(64, 32);
        layout.exif = small_exif_block(v, "Tessly");
        write_jpeg(dir.file("o.jpg"), layout);
        const Outcome r = read_jpeg(dir.file("o.jpg"));
        ASSERT_TRUE(read_cleanly(r));
        const Image& im = r.picture;
        ASSERT_EQ(im.type, image_color24);
        EXPECT_EQ(im.width, v >= 5 ? 32u : 64u);
        EXPECT_EQ(im.height, v >= 5 ? 64u : 32u);
        EXPECT_EQ(tag_short(im, 274), 1);
        expect_quadrants(im, expected[v], 40);
    }
}

TEST(Jpeg, GrayDensityAndProfile) {
    RecordingScope rec;
    TempDir dir;
    // Dots per centimetre; the top half light, the bottom dark.
    JpegLayout gray{.width = 24, .height = 8, .components = 1, .density_unit = 2, .density = 100};
    gray.pixels.assign(24 * 4, 200);
    gray.pixels.resize(24 * 8, 30);
    // Larger than one APP2 segment holds, so it comes back from several.
    for (int i = 0; i < 150000; ++i) gray.icc.push_back(static_cast<std::uint8_t>(i * 31 + i / 7));
    write_jpeg(dir.file("g.jpg"), gray);
    Image im, alpha;
    ASSERT_FALSE(read_jpeg_file(dir.file("g.jpg"), im));
    EXPECT_TRUE(im.type == image_gray8 && im.width == 24u && im.height == 8u);
    EXPECT_NEAR(im.dpi, 254.0, 1e-9);
    EXPECT_NEAR(top_row(im, 0)[0], 200, 8);
    EXPECT_NEAR(top_row(im, 7)[0], 30, 8);
    ASSERT_EQ(im.profile_size, gray.icc.size());
    EXPECT_TRUE(std::equal(gray.icc.begin(), gray.icc.end(), im.profile));

    // Inches as they are; no physical size gives 72 once read_image_file is done; without a
    // JFIF header the EXIF resolution counts. A JPEG never has transparency.
    JpegLayout inches = quadrants(16, 16), unitless = inches, exif = inches;
    inches.density = 300;
    unitless.density_unit = 0;
    unitless.density = 1;
    exif.jfif = false;
    exif.exif = resolution_exif_block(118, 1, 3);
    for (const auto& [layout, dpi] :
         {std::pair{inches, 300.0}, std::pair{unitless, 72.0}, std::pair{exif, 118 * 2.54}}) {
        write_jpeg(dir.file("i.jpg"), layout);
        ASSERT_FALSE(read_image_file(dir.file("i.jpg"), im, alpha));
        EXPECT_NEAR(im.dpi, dpi, 1e-9);
        EXPECT_TRUE(im.profile == nullptr && alpha.empty());
    }
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(Jpeg, BrokenUnsupportedAndHugeFilesFailCleanly) {
    TempDir dir;
    JpegLayout layout = quadrants(64, 64);
    layout.exif = small_exif_block(6, "Tessly");
    write_jpeg(dir.file("whole.jpg"), layout);
    const Bytes whole = file_bytes(dir.file("whole.jpg"));
    expect_damage_fails(dir.file("cut.jpg"), whole,
                        {2, 40, whole.size() / 3, whole.size() - 40, whole.size() - 2}, 0,
                        read_jpeg, "Error reading JPEG file");
    // A missing file fails without a message of its own.
    const Outcome missing = read_jpeg(dir.file("missing.jpg"));
    EXPECT_TRUE(missing.failed);
    EXPECT_TRUE(is_empty_record(missing.picture));

    JpegLayout cmyk{.width = 8, .height = 8, .components = 4};
    cmyk.pixels.assign(8 * 8 * 4, 128);
    write_jpeg(dir.file("cmyk.jpg"), cmyk);
    EXPECT_TRUE(failed_with(read_jpeg(dir.file("cmyk.jpg")), "Unsupported image format"));

    // A broken EXIF block costs the tags, not the picture.
    JpegLayout bad_exif = quadrants(16, 16);
    bad_exif.exif = {'M', 'M', 0, 42, 0xFF, 0xFF, 0xFF, 0xFF};
    write_jpeg(dir.file("bad_exif.jpg"), bad_exif);
    Outcome r = read_jpeg(dir.file("bad_exif.jpg"));
    ASSERT_FALSE(r.failed);
    EXPECT_EQ(r.picture.width, 16u);
    EXPECT_EQ(r.picture.tags, nullptr);

    // The declared size is checked before decoding.
    write_jpeg(dir.file("big.jpg"), quadrants(256, 200));
    MemoryLimit limit(100000);
    EXPECT_TRUE(failed_with(read_jpeg(dir.file("big.jpg")), "Image is too large: 256 x 200"));
}

// --- files made by other people ---

// A phone's file, stored 640 x 428 with orientation 6 and no JFIF header: upright, with the EXIF
// resolution and the camera's tags.
TEST(JpegFiles, PhoneJpegOpensUprightWithItsTags) {
    const std::string path = "/usr/libexec/installed-tests/gdk-pixbuf/bug725582-testrotate.jpg";
    if (!fs::exists(path)) GTEST_SKIP() << path << " is missing (gdk-pixbuf-tests)";
    RecordingScope rec;
    Image im, alpha;
    ASSERT_FALSE(read_image_file(path, im, alpha));
    EXPECT_EQ(im.type, image_color24);
    EXPECT_TRUE(im.width == 428u && im.height == 640u);
    EXPECT_EQ(tag_short(im, 274), 1);
    EXPECT_EQ(im.dpi, 180.0);
    int tags = 0;
    for (const MetadataTag* t = im.tags; t; t = t->next) ++tags;
    EXPECT_GE(tags, 25);
    EXPECT_EQ(tag_text(im, 271), "Panasonic");
    EXPECT_TRUE(rec.recorder.errors().empty());
}

// --- the writer ---

// A smooth picture: JPEG keeps it within a few levels. Blue, green and red (or the gray level)
// of each pixel; 48-bit samples are the 8-bit ones times 257.
Image gradient(std::uint32_t type, std::uint32_t w, std::uint32_t h) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 200.0));
    for (std::uint32_t r = 0; r < h; ++r) {
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t bgr[3] = {(x * 2) & 0xFF, (r * 3) & 0xFF, (100 + x / 2) & 0xFF};
            for (std::uint32_t c = 0; c < 3; ++c) {
                if (type == image_color24) im.rows[r][3 * x + c] = std::uint8_t(bgr[c]);
                if (type == image_color48)
                    set_sample16(im.rows[r], 3 * x + c, std::uint16_t(bgr[c] * 257));
            }
            if (type == image_gray8) im.rows[r][x] = static_cast<std::uint8_t>(bgr[1]);
        }
    }
    return im;
}

// The density of the JFIF header that opens the file and the luma sampling factors of its frame.
struct Header {
    int h = 0, v = 0, density_unit = -1, x_density = 0;
    explicit Header(const std::string& path) {
        const Bytes b = file_bytes(path);
        if (b.size() < 20 || b[6] != 'J') return;
        density_unit = b[13];
        x_density = b[14] << 8 | b[15];
        // Segments: a marker, a big-endian length, then the frame's fields (luma at 11).
        for (std::size_t i = 2; i + 12 < b.size(); i += 2 + (b[i + 2] << 8 | b[i + 3])) {
            if (b[i + 1] >= 0xC0 && b[i + 1] <= 0xC2) {
                h = b[i + 11] >> 4;
                v = b[i + 11] & 15;
                break;
            }
        }
    }
};

TEST(JpegWriter, QualitySubsamplingResolutionAndProfile) {
    RecordingScope scope;
    TempDir dir;
    Image im = gradient(image_color24, 64, 48);
    const std::uint8_t profile[] = {0, 0, 0, 16, 'l', 'c', 'm', 's', 1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_FALSE(image_set_profile(im, profile, sizeof profile));
    const int expected[4][2] = {{2, 2}, {2, 1}, {1, 1}, {1, 2}};
    const std::string path = dir.file("s.jpg");
    for (int sub = 0; sub < 4; ++sub) {
        SCOPED_TRACE(sub);
        ASSERT_EQ(write_jpeg_file(path, im, 95.0, sub, 0), write_done);
        const Header header(path);
        EXPECT_TRUE(header.h == expected[sub][0] && header.v == expected[sub][1]);
        EXPECT_TRUE(header.density_unit == 1 && header.x_density == 200);
        Image back;
        ASSERT_FALSE(read_jpeg_file(path, back));
        EXPECT_EQ(back.type, image_color24);
        int worst = 0;
        for (std::uint32_t r = 0; r < im.height; ++r) {
            for (std::uint32_t i = 0; i < 3 * im.width; ++i)
                worst = std::max(worst, std::abs(im.rows[r][i] - back.rows[r][i]));
        }
        EXPECT_LE(worst, 8);
        ASSERT_EQ(back.profile_size, sizeof profile);
        EXPECT_EQ(0, std::memcmp(back.profile, profile, sizeof profile));
    }
    // Metadata mode 3: no profile in the file. Lower quality, smaller file.
    ASSERT_EQ(write_jpeg_file(dir.file("m3.jpg"), im, 95.0, 2, 3), write_done);
    Image back;
    ASSERT_FALSE(read_jpeg_file(dir.file("m3.jpg"), back));
    EXPECT_EQ(back.profile_size, 0u);
    ASSERT_EQ(write_jpeg_file(dir.file("q30.jpg"), im, 30.0, 2, 3), write_done);
    EXPECT_LT(fs::file_size(dir.file("q30.jpg")), fs::file_size(dir.file("m3.jpg")));
    // The writer streams into a file of its own beside the target: a folder that does not
    // exist leaves nothing and reports no libjpeg error.
    const std::vector<std::string> before = dir.names();
    EXPECT_EQ(write_jpeg_file(dir.file("no/such/x.jpg"), im, 90.0, 0, 0), write_failed);
    EXPECT_EQ(dir.names(), before);
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST(JpegWriter, DepthsBinaryQuestionAndMissingResolution) {
    RecordingScope scope;
    TempDir dir;
    ASSERT_EQ(write_jpeg_file(dir.file("d.jpg"), gradient(image_color48, 32, 16), 95.0, 2, 0),
              write_done);
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
    EXPECT_EQ(Header(dir.file("b.jpg")).x_density, 72);
    const std::string question =
        "Warning: Cannot save binary images as JPEG\nSave as 8-bit black and white?";
    EXPECT_EQ(scope.recorder.questions, (std::vector<std::string>{question, question}));
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"Illegal image dpi -- will be set to 72.0"});
}

TEST(JpegWriter, ThumbnailsAreAtMost160Pixels) {
    TempDir dir;
    const Image wide = gradient(image_color24, 400, 100), tall = gradient(image_gray8, 30, 500);
    // 30 x 160 / 500 = 9.6 columns.
    for (const auto& [im, w, h] : {std::tuple{&wide, 160u, 40u}, std::tuple{&tall, 9u, 160u}}) {
        ASSERT_FALSE(write_thumbnail_jpeg(*im, dir.file("t.jpg")));
        Image back;
        ASSERT_FALSE(read_jpeg_file(dir.file("t.jpg"), back));
        EXPECT_TRUE(back.width == w && back.height == h) << back.width << "x" << back.height;
    }
}

}  // namespace
}  // namespace tessaly
