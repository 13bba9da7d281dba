#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fileio/image_file.h"
#include "support/fileio_builders.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using namespace testing;

struct Rgb {
    int r, g, b;
};

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
        Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
        app1.insert(app1.end(), layout.exif.begin(), layout.exif.end());
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

// Four flat quadrants red, green / blue, white (top row first): every orientation puts them in
// a different arrangement.
const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255};

JpegLayout quadrants(std::uint32_t w, std::uint32_t h) {
    JpegLayout s;
    s.width = w;
    s.height = h;
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            const Rgb c = y < h / 2 ? (x < w / 2 ? red : green) : (x < w / 2 ? blue : white);
            s.pixels.insert(s.pixels.end(),
                            {static_cast<std::uint8_t>(c.r), static_cast<std::uint8_t>(c.g),
                             static_cast<std::uint8_t>(c.b)});
        }
    }
    return s;
}

// The color seen at (x, y), counted from the top-left as a person sees the picture.
Rgb seen(const Image& im, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = top_row(im, y) + 3 * x;
    return {p[2], p[1], p[0]};
}

std::uint16_t orientation_tag(const Image& im) {
    const MetadataTag* t = find_tag(im, 274);
    return t ? sample16(t->data, 0) : 0;
}

Outcome read_jpeg(const std::string& path) {
    return read_recorded(path, read_jpeg_file);
}

TEST(Jpeg, EveryOrientationOpensUpright) {
    TempDir dir;
    // Stored [[R, G], [B, W]]; what a person sees after each tag value is applied.
    const Rgb expected[9][4] = {
        {},
        {red, green, blue, white},  // 1
        {green, red, white, blue},  // 2 mirrored left-right
        {white, blue, green, red},  // 3 half turn
        {blue, white, red, green},  // 4 mirrored top-bottom
        {red, blue, green, white},  // 5 transposed
        {blue, red, white, green},  // 6 turned clockwise
        {white, green, blue, red},  // 7 transverse
        {green, white, red, blue},  // 8 turned counter-clockwise
    };
    for (std::uint16_t v = 1; v <= 8; ++v) {
        SCOPED_TRACE("orientation " + std::to_string(v));
        JpegLayout layout = quadrants(64, 32);
        layout.exif = small_exif_block(v, "Tessly");
        write_jpeg(dir.file("o.jpg"), layout);
        const Outcome r = read_jpeg(dir.file("o.jpg"));
        ASSERT_FALSE(r.failed);
        EXPECT_TRUE(r.errors.empty());
        const Image& im = r.picture;
        ASSERT_EQ(im.type, image_color24);
        EXPECT_EQ(im.width, v >= 5 ? 32u : 64u);
        EXPECT_EQ(im.height, v >= 5 ? 64u : 32u);
        EXPECT_EQ(orientation_tag(im), 1);
        const std::uint32_t qx = im.width / 4, qy = im.height / 4;
        const Rgb got[4] = {seen(im, qx, qy), seen(im, 3 * qx, qy), seen(im, qx, 3 * qy),
                            seen(im, 3 * qx, 3 * qy)};
        for (int q = 0; q < 4; ++q) {
            EXPECT_NEAR(got[q].r, expected[v][q].r, 40) << "quadrant " << q;
            EXPECT_NEAR(got[q].g, expected[v][q].g, 40) << "quadrant " << q;
            EXPECT_NEAR(got[q].b, expected[v][q].b, 40) << "quadrant " << q;
        }
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
    Image im;
    ASSERT_FALSE(read_jpeg_file(dir.file("g.jpg"), im));
    EXPECT_EQ(im.type, image_gray8);
    EXPECT_EQ(im.width, 24u);
    EXPECT_EQ(im.height, 8u);
    EXPECT_NEAR(im.dpi, 254.0, 1e-9);
    EXPECT_NEAR(top_row(im, 0)[0], 200, 8);
    EXPECT_NEAR(top_row(im, 7)[0], 30, 8);
    ASSERT_EQ(im.profile_size, gray.icc.size());
    EXPECT_TRUE(std::equal(gray.icc.begin(), gray.icc.end(), im.profile));

    // Inches as they are; no physical size gives 72 once read_image_file is done; without a
    // JFIF header the EXIF resolution counts.
    JpegLayout inches = quadrants(16, 16);
    inches.density = 300;
    write_jpeg(dir.file("i.jpg"), inches);
    ASSERT_FALSE(read_jpeg_file(dir.file("i.jpg"), im));
    EXPECT_EQ(im.dpi, 300.0);
    EXPECT_EQ(im.profile, nullptr);

    JpegLayout unitless = quadrants(16, 16);
    unitless.density_unit = 0;
    unitless.density = 1;
    write_jpeg(dir.file("u.jpg"), unitless);
    ASSERT_FALSE(read_jpeg_file(dir.file("u.jpg"), im));
    EXPECT_EQ(im.dpi, 0.0);
    Image alpha;
    ASSERT_FALSE(read_image_file(dir.file("u.jpg"), im, alpha));
    EXPECT_EQ(im.dpi, 72.0);
    EXPECT_TRUE(alpha.empty());  // a JPEG never has transparency

    JpegLayout exif = quadrants(16, 16);
    exif.jfif = false;
    exif.exif = resolution_exif_block(118, 1, 3);
    write_jpeg(dir.file("e.jpg"), exif);
    ASSERT_FALSE(read_jpeg_file(dir.file("e.jpg"), im));
    EXPECT_NEAR(im.dpi, 118 * 2.54, 1e-9);
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(Jpeg, BrokenUnsupportedAndHugeFilesFailCleanly) {
    TempDir dir;
    JpegLayout layout = quadrants(64, 64);
    layout.exif = small_exif_block(6, "Tessly");
    write_jpeg(dir.file("whole.jpg"), layout);
    const Bytes whole = file_bytes(dir.file("whole.jpg"));
    for (std::size_t cut :
         {std::size_t{2}, std::size_t{40}, whole.size() / 3, whole.size() - 40, whole.size() - 2}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        put_bytes(dir.file("cut.jpg"),
                  Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
        EXPECT_TRUE(failed_with(read_jpeg(dir.file("cut.jpg")), "Error reading JPEG file"));
    }
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

const std::string pixbuf = "/usr/libexec/installed-tests/gdk-pixbuf/";

#define REQUIRE_FILE(path, package) \
    if (!fs::exists(path))          \
    GTEST_SKIP() << path << " is missing: install the Debian package " << package

TEST(JpegFiles, PhoneJpegMatchesExifTool) {
    const std::string path = pixbuf + "bug725582-testrotate.jpg";
    REQUIRE_FILE(path, "gdk-pixbuf-tests");
    if (!have_exiftool()) GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
    RecordingScope rec;
    Image im, alpha;
    ASSERT_FALSE(read_image_file(path, im, alpha));
    // Stored 640 x 428 with orientation 6.
    EXPECT_EQ(im.type, image_color24);
    EXPECT_EQ(im.width, 428u);
    EXPECT_EQ(im.height, 640u);
    EXPECT_EQ(orientation_tag(im), 1);
    EXPECT_EQ(im.dpi, 180.0);  // no JFIF header: the EXIF resolution

    std::map<std::uint32_t, const MetadataTag*> ours;
    for (const MetadataTag* t = im.tags; t; t = t->next) ours.emplace(t->tag, t);
    std::istringstream lines(
        command_output("exiftool -s -n -H -G1 -IFD0:all -ExifIFD:all -GPS:all '" + path + "'"));
    auto u32 = [](const std::uint8_t* d) {
        return d[0] | (d[1] << 8) | (d[2] << 16) | (std::uint32_t{d[3]} << 24);
    };
    int compared = 0;
    for (std::string line; std::getline(lines, line);) {
        // "[IFD0]          0x010f Make                            : Panasonic"
        const std::size_t id_at = line.find("0x");
        const std::size_t colon = line.find(" : ");
        if (id_at == std::string::npos || colon == std::string::npos) continue;
        const auto id = static_cast<std::uint32_t>(std::stoul(line.substr(id_at, 6), nullptr, 16));
        const std::string value = line.substr(colon + 3);
        SCOPED_TRACE(line);
        if (id == 274) continue;
        auto it = ours.find(id);
        ASSERT_NE(it, ours.end()) << "tag missing";
        const MetadataTag* t = it->second;
        if (t->field_type == 2) {
            // ExifTool trims the trailing blanks that cameras pad text with; we keep them.
            std::string text(reinterpret_cast<const char*>(t->data));
            text.erase(text.find_last_not_of(' ') + 1);
            EXPECT_EQ(text, value);
        } else if ((t->field_type == 3 || t->field_type == 4) && t->count == 1) {
            EXPECT_EQ(std::to_string(t->field_type == 3 ? sample16(t->data, 0) : u32(t->data)),
                      value);
        } else if (t->field_type == 5 && t->count == 1 && id != 0x9201 && id != 0x9202 &&
                   id != 0x9205) {
            // (The APEX values are shown converted, so they are left out.)
            const double num = u32(t->data), den = u32(t->data + 4);
            EXPECT_NEAR(den == 0 ? 0 : num / den, std::stod(value), 1e-9);
        } else {
            continue;
        }
        ++compared;
    }
    EXPECT_GE(compared, 25);
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(JpegFiles, TruncatedCmykAndHugeJpegsFail) {
    REQUIRE_FILE(pixbuf + "premature-end.jpg", "gdk-pixbuf-tests");
    // A truncated CMYK file: refused for its colors before its end is reached.
    EXPECT_TRUE(failed_with(read_jpeg(pixbuf + "premature-end.jpg"), "Unsupported image format"));
    MemoryLimit limit(std::uint64_t{1} << 30);
    EXPECT_TRUE(failed_with(read_jpeg(pixbuf + "large.jpg"), "Image is too large: 22500 x 33300"));
}

}  // namespace
}  // namespace tessaly
