#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fileio/exif.h"
#include "fileio/image_file.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

struct Rgb {
    int r, g, b;
};

// What the test writes: a picture given top row first, as a person sees it.
struct JpegLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int components = 3;  // 1 gray, 3 RGB, 4 CMYK
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> exif;  // APP1 body without "Exif\0\0"
    std::vector<std::uint8_t> icc;
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
        std::vector<std::uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
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

// The EXIF block of a camera: orientation and a maker, through our own writer.
std::vector<std::uint8_t> exif_with_orientation(int value) {
    Image tags;
    const std::uint16_t orientation = static_cast<std::uint16_t>(value);
    EXPECT_FALSE(image_add_tag(tags, 271, 2, 7, "Tessly"));
    EXPECT_FALSE(image_add_tag(tags, 274, 3, 1, &orientation));
    std::vector<std::uint8_t> block;
    EXPECT_FALSE(exif_write_block(tags, block));
    return block;
}

// The color seen at (x, y), counted from the top-left as a person sees the picture.
Rgb seen(const Image& im, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = im.rows[im.height - 1 - y] + 3 * x;
    return {p[2], p[1], p[0]};
}

bool near(Rgb a, Rgb b) {
    return std::abs(a.r - b.r) < 40 && std::abs(a.g - b.g) < 40 && std::abs(a.b - b.b) < 40;
}

std::uint16_t orientation_tag(const Image& im) {
    for (const MetadataTag* t = im.tags; t; t = t->next) {
        if (t->tag == 274) return static_cast<std::uint16_t>(t->data[0] | (t->data[1] << 8));
    }
    return 0;
}

TEST(Jpeg, EveryOrientationOpensUpright) {
    testing::RecordingScope rec;
    testing::TempDir dir;
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
    for (int v = 1; v <= 8; ++v) {
        SCOPED_TRACE("orientation " + std::to_string(v));
        JpegLayout layout = quadrants(64, 32);
        layout.exif = exif_with_orientation(v);
        const std::string path = dir.file("o" + std::to_string(v) + ".jpg");
        write_jpeg(path, layout);
        Image im;
        ASSERT_FALSE(read_jpeg_file(path, im));
        ASSERT_EQ(im.type, image_color24);
        const bool swapped = v >= 5;
        EXPECT_EQ(im.width, swapped ? 32u : 64u);
        EXPECT_EQ(im.height, swapped ? 64u : 32u);
        EXPECT_EQ(orientation_tag(im), 1);
        const std::uint32_t qx = im.width / 4, qy = im.height / 4;
        const Rgb got[4] = {seen(im, qx, qy), seen(im, 3 * qx, qy), seen(im, qx, 3 * qy),
                            seen(im, 3 * qx, 3 * qy)};
        for (int q = 0; q < 4; ++q) {
            EXPECT_TRUE(near(got[q], expected[v][q]))
                << "quadrant " << q << ": " << got[q].r << "," << got[q].g << "," << got[q].b;
        }
    }
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(Jpeg, GrayDensityAndProfile) {
    testing::RecordingScope rec;
    testing::TempDir dir;
    JpegLayout gray;
    gray.width = 24;
    gray.height = 8;
    gray.components = 1;
    for (std::uint32_t y = 0; y < 8; ++y) {
        for (std::uint32_t x = 0; x < 24; ++x) gray.pixels.push_back(y < 4 ? 200 : 30);
    }
    gray.density_unit = 2;  // dots per centimetre
    gray.density = 100;
    // Larger than one APP2 segment holds, so it comes back from several.
    for (int i = 0; i < 150000; ++i) gray.icc.push_back(static_cast<std::uint8_t>(i * 31 + i / 7));
    write_jpeg(dir.file("g.jpg"), gray);
    Image im;
    ASSERT_FALSE(read_jpeg_file(dir.file("g.jpg"), im));
    EXPECT_EQ(im.type, image_gray8);
    EXPECT_EQ(im.width, 24u);
    EXPECT_EQ(im.height, 8u);
    EXPECT_NEAR(im.dpi, 254.0, 1e-9);
    EXPECT_NEAR(im.rows[7][0], 200, 8);  // the top line is the last row
    EXPECT_NEAR(im.rows[0][0], 30, 8);
    ASSERT_EQ(im.profile_size, gray.icc.size());
    EXPECT_TRUE(std::equal(gray.icc.begin(), gray.icc.end(), im.profile));

    // Inches as they are; no physical size gives 72 once read_image_file is done.
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
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(Jpeg, ExifResolutionWhenThereIsNoJfifHeader) {
    testing::RecordingScope rec;
    testing::TempDir dir;
    JpegLayout layout = quadrants(16, 16);
    layout.jfif = false;
    Image tags;
    const std::uint32_t res[2] = {118, 1};
    const std::uint16_t cm = 3;
    ASSERT_FALSE(image_add_tag(tags, 282, 5, 1, res));
    ASSERT_FALSE(image_add_tag(tags, 296, 3, 1, &cm));
    ASSERT_FALSE(exif_write_block(tags, layout.exif));
    write_jpeg(dir.file("e.jpg"), layout);
    Image im;
    ASSERT_FALSE(read_jpeg_file(dir.file("e.jpg"), im));
    EXPECT_NEAR(im.dpi, 118 * 2.54, 1e-9);
}

std::vector<char> file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

TEST(Jpeg, BrokenAndUnsupportedFilesFailCleanly) {
    testing::TempDir dir;
    JpegLayout layout = quadrants(64, 64);
    layout.exif = exif_with_orientation(6);
    write_jpeg(dir.file("whole.jpg"), layout);
    const std::vector<char> whole = file_bytes(dir.file("whole.jpg"));
    for (std::size_t cut :
         {std::size_t{2}, std::size_t{40}, whole.size() / 3, whole.size() - 40, whole.size() - 2}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const std::string path = dir.file("cut.jpg");
        std::ofstream(path, std::ios::binary)
            .write(whole.data(), static_cast<std::streamsize>(cut));
        testing::RecordingScope rec;
        Image im;
        EXPECT_TRUE(read_jpeg_file(path, im));
        EXPECT_TRUE(im.empty());
        EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Error reading JPEG file"});
    }

    JpegLayout cmyk;
    cmyk.width = cmyk.height = 8;
    cmyk.components = 4;
    cmyk.pixels.assign(8 * 8 * 4, 128);
    write_jpeg(dir.file("cmyk.jpg"), cmyk);
    testing::RecordingScope rec;
    Image im;
    EXPECT_TRUE(read_jpeg_file(dir.file("cmyk.jpg"), im));
    EXPECT_TRUE(im.empty());
    EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Unsupported image format"});

    // A broken EXIF block costs the tags, not the picture.
    JpegLayout bad_exif = quadrants(16, 16);
    bad_exif.exif = {'M', 'M', 0, 42, 0xFF, 0xFF, 0xFF, 0xFF};
    write_jpeg(dir.file("bad_exif.jpg"), bad_exif);
    ASSERT_FALSE(read_jpeg_file(dir.file("bad_exif.jpg"), im));
    EXPECT_EQ(im.width, 16u);
    EXPECT_EQ(im.tags, nullptr);

    EXPECT_TRUE(read_jpeg_file(dir.file("missing.jpg"), im));
    EXPECT_TRUE(im.empty());
}

TEST(Jpeg, DeclaredSizeIsCheckedBeforeDecoding) {
    testing::TempDir dir;
    write_jpeg(dir.file("big.jpg"), quadrants(256, 200));
    const std::uint64_t limit = image_memory_limit();
    image_set_memory_limit(100000);
    testing::RecordingScope rec;
    Image im;
    const bool failed = read_jpeg_file(dir.file("big.jpg"), im);
    image_set_memory_limit(limit);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(im.empty());
    EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Image is too large: 256 x 200"});
}

// --- files made by other people ---

const std::string pixbuf = "/usr/libexec/installed-tests/gdk-pixbuf/";

#define REQUIRE_FILE(path, package) \
    if (!fs::exists(path))          \
    GTEST_SKIP() << path << " is missing: install the Debian package " << package

std::string run(const std::string& command) {
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

TEST(JpegFiles, PhoneJpegMatchesExifTool) {
    const std::string path = pixbuf + "bug725582-testrotate.jpg";
    REQUIRE_FILE(path, "gdk-pixbuf-tests");
    if (std::system("exiftool -ver >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "exiftool is not installed (package libimage-exiftool-perl)";
    }
    testing::RecordingScope rec;
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
        run("exiftool -s -n -H -G1 -IFD0:all -ExifIFD:all -GPS:all '" + path + "'"));
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
        const std::uint8_t* d = t->data;
        if (t->field_type == 2) {
            // ExifTool trims the trailing blanks that cameras pad text with; we keep them.
            std::string text(reinterpret_cast<const char*>(d));
            text.erase(text.find_last_not_of(' ') + 1);
            EXPECT_EQ(text, value);
        } else if ((t->field_type == 3 || t->field_type == 4) && t->count == 1) {
            const std::uint32_t v = t->field_type == 3 ? d[0] | (d[1] << 8)
                                                       : d[0] | (d[1] << 8) | (d[2] << 16) |
                                                             (std::uint32_t{d[3]} << 24);
            EXPECT_EQ(std::to_string(v), value);
        } else if (t->field_type == 5 && t->count == 1 && id != 0x9201 && id != 0x9202 &&
                   id != 0x9205) {
            // (The APEX values are shown converted, so they are left out.)
            const double num = d[0] | (d[1] << 8) | (d[2] << 16) | (std::uint32_t{d[3]} << 24);
            const double den = d[4] | (d[5] << 8) | (d[6] << 16) | (std::uint32_t{d[7]} << 24);
            EXPECT_NEAR(den == 0 ? 0 : num / den, std::stod(value), 1e-9);
        } else {
            continue;
        }
        ++compared;
    }
    EXPECT_GE(compared, 25);
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(JpegFiles, OtherPeoplesJpegs) {
    const std::string go =
        "/usr/share/gocode/src/golang.org/x/image/testdata/go-turns-two-280x360.jpeg";
    const std::string sdl = "/usr/libexec/installed-tests/SDL2_image/sample.jpg";
    REQUIRE_FILE(pixbuf + "dpi.jpeg", "gdk-pixbuf-tests");
    REQUIRE_FILE(go, "golang-golang-x-image-dev");
    REQUIRE_FILE(sdl, "libsdl2-image-tests");
    testing::RecordingScope rec;
    struct Case {
        std::string path;
        std::uint32_t width, height;
        double dpi;
    };
    // Sizes and densities as exiftool reports them.
    const Case cases[] = {
        {go, 280, 360, 72.0},
        {sdl, 23, 42, 100.0},
        {pixbuf + "dpi.jpeg", 48, 48, 300.0},
        {pixbuf + "icc-profile.jpeg", 48, 48, 35 * 2.54},
        {pixbuf + "issue70.jpg", 3120, 4208, 72.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Image im, alpha;
        ASSERT_FALSE(read_image_file(c.path, im, alpha));
        EXPECT_EQ(im.type, image_color24);
        EXPECT_EQ(im.width, c.width);
        EXPECT_EQ(im.height, c.height);
        EXPECT_NEAR(im.dpi, c.dpi, 1e-9);
    }

    // The profile is the one exiftool extracts.
    Image im;
    ASSERT_FALSE(read_jpeg_file(pixbuf + "icc-profile.jpeg", im));
    const std::string icc = run("exiftool -b -ICC_Profile '" + pixbuf + "icc-profile.jpeg'");
    if (!icc.empty()) {
        ASSERT_EQ(im.profile_size, icc.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(im.profile), im.profile_size), icc);
    }
    EXPECT_TRUE(rec.recorder.errors().empty());
}

TEST(JpegFiles, DamagedJpegsFailOrReadWithoutHarm) {
    REQUIRE_FILE(pixbuf + "premature-end.jpg", "gdk-pixbuf-tests");
    {
        // A truncated CMYK file: refused for its colors before its end is reached.
        testing::RecordingScope rec;
        Image im;
        EXPECT_TRUE(read_jpeg_file(pixbuf + "premature-end.jpg", im));
        EXPECT_TRUE(im.empty());
        EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Unsupported image format"});
    }
    // Hostile files: whatever the outcome, the result is whole or empty. One declares 64250 x
    // 64250 pixels; a modest limit keeps the test quick on any machine.
    const std::uint64_t limit = image_memory_limit();
    image_set_memory_limit(std::uint64_t{1} << 30);
    for (const char* name :
         {"test-images/fail/CVE-2017-2862.jpg", "test-images/randomly-modified/bug775697.jpg",
          "test-images/randomly-modified/valid.1.jpeg",
          "test-images/randomly-modified/valid.2.jpeg", "bug775218.jpg", "issue205.jpg"}) {
        SCOPED_TRACE(name);
        testing::RecordingScope rec;
        Image im;
        if (read_jpeg_file(pixbuf + name, im)) {
            EXPECT_TRUE(im.empty());
            EXPECT_EQ(rec.recorder.errors().size(), 1u);
        } else {
            EXPECT_TRUE(im.has_pixels());
            EXPECT_GT(im.width, 0u);
        }
    }
    image_set_memory_limit(limit);
}

TEST(JpegFiles, HugeDeclaredSizeIsRefused) {
    REQUIRE_FILE(pixbuf + "large.jpg", "gdk-pixbuf-tests");
    const std::uint64_t limit = image_memory_limit();
    image_set_memory_limit(std::uint64_t{1} << 30);
    testing::RecordingScope rec;
    Image im;
    const bool failed = read_jpeg_file(pixbuf + "large.jpg", im);
    image_set_memory_limit(limit);
    EXPECT_TRUE(failed);
    EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Image is too large: 22500 x 33300"});
}

}  // namespace
}  // namespace tessaly
