#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "fileio/image_file.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::RecordingScope;
using testing::TempDir;

using Color = std::array<std::uint8_t, 3>;  // red, green, blue

// A BMP assembled byte by byte; pixel values are palette indices or packed 0xRRGGBB colors,
// given top line first.
struct BmpLayout {
    std::uint32_t header = 40;
    std::uint16_t bits = 8;
    std::int32_t width = 5, height = 3;  // a negative height stores the top line first
    std::uint32_t compression = 0;
    std::vector<Color> palette;
    std::int32_t pixels_per_metre = 3780;
    std::uint32_t color_space = 0;
    std::vector<std::uint8_t> profile;  // embedded or linked bytes
    std::vector<std::uint8_t> rle;      // compressed data instead of rows
    std::function<std::uint32_t(std::uint32_t, std::uint32_t)> pixel;
};

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

std::vector<std::uint8_t> build_bmp(const BmpLayout& s) {
    const std::uint32_t w = static_cast<std::uint32_t>(s.width);
    const std::uint32_t h = static_cast<std::uint32_t>(std::abs(s.height));
    const bool core = s.header == 12;
    const std::size_t entry = core ? 3 : 4;
    std::vector<std::uint8_t> b(14 + s.header, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 14, s.header);
    if (core) {
        put16(b, 18, w);
        put16(b, 20, h);
        put16(b, 22, 1);
        put16(b, 24, s.bits);
    } else {
        put32(b, 18, w);
        put32(b, 22, static_cast<std::uint32_t>(s.height));
        put16(b, 26, 1);
        put16(b, 28, s.bits);
        put32(b, 30, s.compression);
        put32(b, 38, static_cast<std::uint32_t>(s.pixels_per_metre));
        put32(b, 42, static_cast<std::uint32_t>(s.pixels_per_metre));
        put32(b, 46, static_cast<std::uint32_t>(s.palette.size()));
    }
    if (s.header >= 108) put32(b, 14 + 56, s.color_space);
    for (const Color& c : s.palette) {
        b.push_back(c[2]);
        b.push_back(c[1]);
        b.push_back(c[0]);
        if (entry == 4) b.push_back(0);
    }
    put32(b, 10, static_cast<std::uint32_t>(b.size()));
    if (!s.rle.empty()) {
        b.insert(b.end(), s.rle.begin(), s.rle.end());
    } else {
        const std::size_t stride = (std::size_t{w} * s.bits + 31) / 32 * 4;
        for (std::uint32_t i = 0; i < h; ++i) {
            // File line i is the bottom line first unless the height is negative.
            const std::uint32_t y = s.height < 0 ? i : h - 1 - i;
            std::vector<std::uint8_t> line(stride, 0);
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::uint32_t v = s.pixel(x, y);
                if (s.bits >= 24) {
                    const std::size_t at = x * (s.bits / 8);
                    line[at] = static_cast<std::uint8_t>(v);
                    line[at + 1] = static_cast<std::uint8_t>(v >> 8);
                    line[at + 2] = static_cast<std::uint8_t>(v >> 16);
                    if (s.bits == 32) line[at + 3] = 0x5A;
                } else {
                    const std::size_t bit = std::size_t{x} * s.bits;
                    line[bit / 8] |= static_cast<std::uint8_t>(v << (8 - s.bits - bit % 8));
                }
            }
            b.insert(b.end(), line.begin(), line.end());
        }
    }
    if (s.header >= 124 && !s.profile.empty()) {
        put32(b, 14 + 112, static_cast<std::uint32_t>(b.size() - 14));
        put32(b, 14 + 116, static_cast<std::uint32_t>(s.profile.size()));
        b.insert(b.end(), s.profile.begin(), s.profile.end());
    }
    put32(b, 2, static_cast<std::uint32_t>(b.size()));
    return b;
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

struct Read {
    Image picture;
    bool failed = true;
    std::vector<std::string> errors;
};

Read read_bmp(const std::string& path) {
    RecordingScope scope;
    Read r;
    r.failed = read_bmp_file(path, r.picture);
    r.errors = scope.recorder.errors();
    return r;
}

Read read_layout(const TempDir& dir, const BmpLayout& s) {
    const std::string path = dir.file("t.bmp");
    write_bytes(path, build_bmp(s));
    return read_bmp(path);
}

const std::uint8_t* top_row(const Image& image, std::uint32_t y) {
    return image.rows[image.height - 1 - y];
}

std::vector<Color> color_palette(std::size_t n) {
    std::vector<Color> p(n);
    for (std::size_t i = 0; i < n; ++i)
        p[i] = {static_cast<std::uint8_t>(i * 3 + 1), static_cast<std::uint8_t>(255 - i),
                static_cast<std::uint8_t>(i * 7)};
    return p;
}

// Checks a 24-bit picture against the colors the layout's pixels stand for.
void expect_colors(const BmpLayout& s, const Image& picture) {
    ASSERT_EQ(picture.type, image_color24);
    ASSERT_EQ(picture.width, static_cast<std::uint32_t>(s.width));
    ASSERT_EQ(picture.height, static_cast<std::uint32_t>(std::abs(s.height)));
    for (std::uint32_t y = 0; y < picture.height; ++y)
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const std::uint32_t v = s.pixel(x, y);
            Color want;
            if (s.bits <= 8) {
                want = s.palette[v];
            } else {
                want = {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                        static_cast<std::uint8_t>(v)};
            }
            const std::uint8_t* p = top_row(picture, y) + 3 * x;
            ASSERT_EQ(p[2], want[0]) << x << "," << y;
            ASSERT_EQ(p[1], want[1]) << x << "," << y;
            ASSERT_EQ(p[0], want[2]) << x << "," << y;
        }
}

TEST(BmpRead, EveryHeaderSizeAndDepthReadsEveryPixel) {
    TempDir dir;
    for (std::uint32_t header : {12u, 40u, 108u, 124u}) {
        for (std::uint16_t bits : {1, 2, 4, 8, 24, 32}) {
            if (header == 12 && bits == 32) continue;
            SCOPED_TRACE(::testing::Message() << "header " << header << " bits " << bits);
            BmpLayout s;
            s.header = header;
            s.bits = bits;
            s.width = 13;  // rows need padding at every depth
            s.height = 4;
            if (bits <= 8) s.palette = color_palette(std::size_t{1} << bits);
            s.pixel = [bits](std::uint32_t x, std::uint32_t y) -> std::uint32_t {
                if (bits <= 8) return (x * 3 + y * 5) % (1u << bits);
                return (x * 19 + 1) << 16 | (y * 41 + 2) << 8 | (x * y + 3);
            };
            Read r = read_layout(dir, s);
            ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
            expect_colors(s, r.picture);
            if (header == 12) {
                EXPECT_EQ(r.picture.dpi, 100.0);
            } else {
                EXPECT_DOUBLE_EQ(r.picture.dpi, 3780 * 25.4 / 1000);
            }
        }
    }
}

TEST(BmpRead, PaletteDecidesBinaryGrayOrColor) {
    TempDir dir;
    auto checker = [](std::uint32_t x, std::uint32_t y) { return (x + y) % 2; };
    struct Case {
        std::vector<Color> palette;
        std::uint32_t type;
    };
    const Case cases[] = {
        {{{0, 0, 0}, {255, 255, 255}}, image_binary},
        {{{255, 255, 255}, {0, 0, 0}}, image_binary},  // reversed: index 0 is white
        {{{40, 40, 40}, {200, 200, 200}}, image_gray8},
        {{{0, 0, 0}, {255, 0, 0}}, image_color24},
    };
    for (const Case& c : cases) {
        BmpLayout s;
        s.bits = 1;
        s.width = 10;
        s.palette = c.palette;
        s.pixel = checker;
        Read r = read_layout(dir, s);
        ASSERT_FALSE(r.failed);
        ASSERT_EQ(r.picture.type, c.type);
        for (std::uint32_t y = 0; y < 3; ++y)
            for (std::uint32_t x = 0; x < 10; ++x) {
                const Color want = c.palette[checker(x, y)];
                const std::uint8_t* row = top_row(r.picture, y);
                if (c.type == image_binary) {
                    EXPECT_EQ(bit_get(row, x), want[0]);
                } else if (c.type == image_gray8) {
                    EXPECT_EQ(row[x], want[0]);
                } else {
                    EXPECT_EQ(row[3 * x + 2], want[0]);
                }
            }
    }

    // A 256-entry gray palette gives 8-bit gray with the entries' levels.
    BmpLayout gray;
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(255 - i);
        gray.palette.push_back({v, v, v});
    }
    gray.pixel = [](std::uint32_t x, std::uint32_t y) { return x * 50 + y; };
    Read r = read_layout(dir, gray);
    ASSERT_FALSE(r.failed);
    ASSERT_EQ(r.picture.type, image_gray8);
    EXPECT_EQ(top_row(r.picture, 2)[4], 255 - 202);
}

TEST(BmpRead, TopDownRowsAndBitFieldsAndRle) {
    TempDir dir;
    BmpLayout top;
    top.bits = 24;
    top.height = -4;
    top.pixel = [](std::uint32_t x, std::uint32_t y) { return x << 16 | y << 8 | 9; };
    Read r = read_layout(dir, top);
    ASSERT_FALSE(r.failed);
    expect_colors(top, r.picture);

    // 32-bit pixels whose masks put red in the low byte and blue in the third.
    BmpLayout fields;
    fields.bits = 32;
    fields.compression = 3;
    fields.pixel = [](std::uint32_t x, std::uint32_t y) { return x * 40 << 16 | y * 60 << 8 | 7; };
    std::vector<std::uint8_t> bytes = build_bmp(fields);
    // The masks follow the 40-byte header; the pixel data moves 12 bytes on.
    std::vector<std::uint8_t> masks(12, 0);
    put32(masks, 0, 0x000000FF);
    put32(masks, 4, 0x0000FF00);
    put32(masks, 8, 0x00FF0000);
    bytes.insert(bytes.begin() + 54, masks.begin(), masks.end());
    put32(bytes, 10, 54 + 12);
    write_bytes(dir.file("fields.bmp"), bytes);
    r = read_bmp(dir.file("fields.bmp"));
    ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
    BmpLayout swapped = fields;
    swapped.pixel = [](std::uint32_t x, std::uint32_t y) {
        return 7u << 16 | y * 60 << 8 | x * 40;
    };
    expect_colors(swapped, r.picture);

    // RLE8: a run, an absolute run, an end of line, a delta, then the end.
    BmpLayout rle;
    rle.width = 6;
    rle.height = 3;
    rle.compression = 1;
    rle.palette = color_palette(8);
    rle.rle = {3, 5, 0, 3, 1, 2, 4, 0, 0, 0, 0, 2, 2, 1, 2, 6, 0, 1};
    r = read_layout(dir, rle);
    ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
    ASSERT_EQ(r.picture.type, image_color24);
    auto red = [&](std::uint32_t row, std::uint32_t x) { return r.picture.rows[row][3 * x + 2]; };
    const std::uint32_t bottom[6] = {5, 5, 5, 1, 2, 4};
    for (std::uint32_t x = 0; x < 6; ++x) EXPECT_EQ(red(0, x), rle.palette[bottom[x]][0]) << x;
    EXPECT_EQ(red(1, 0), 0);  // skipped by the delta: black
    EXPECT_EQ(red(2, 2), rle.palette[6][0]);
    EXPECT_EQ(red(2, 3), rle.palette[6][0]);
    EXPECT_EQ(red(2, 4), 0);

    // RLE4 packs two indices in each byte.
    rle.compression = 2;
    rle.bits = 4;
    rle.palette = color_palette(16);
    rle.rle = {5, 0x12, 0, 1};
    r = read_layout(dir, rle);
    ASSERT_FALSE(r.failed);
    const std::uint32_t nibbles[5] = {1, 2, 1, 2, 1};
    for (std::uint32_t x = 0; x < 5; ++x) EXPECT_EQ(red(0, x), rle.palette[nibbles[x]][0]) << x;
    EXPECT_EQ(red(0, 5), 0);
}

TEST(BmpRead, EmbeddedAndLinkedProfiles) {
    TempDir dir;
    std::vector<std::uint8_t> profile(200);
    for (std::size_t i = 0; i < profile.size(); ++i)
        profile[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    BmpLayout s;
    s.header = 124;
    s.bits = 24;
    s.color_space = 0x4D424544;  // embedded
    s.profile = profile;
    s.pixel = [](std::uint32_t x, std::uint32_t y) { return x + y; };
    Read r = read_layout(dir, s);
    ASSERT_FALSE(r.failed);
    ASSERT_EQ(r.picture.profile_size, profile.size());
    EXPECT_EQ(std::memcmp(r.picture.profile, profile.data(), profile.size()), 0);

    // A profile that runs past the end of the file fails the read.
    std::vector<std::uint8_t> bytes = build_bmp(s);
    bytes.resize(bytes.size() - 10);
    write_bytes(dir.file("cut.bmp"), bytes);
    EXPECT_TRUE(read_bmp(dir.file("cut.bmp")).failed);

    // A linked profile is looked up by name in the user's color folder.
    const char* old_home = std::getenv("HOME");
    const std::string saved_home = old_home ? old_home : "";
    setenv("HOME", dir.path().c_str(), 1);
    std::filesystem::create_directories(dir.file(".local/share/icc"));
    write_bytes(dir.file(".local/share/icc/linked test.icc"), profile);
    s.color_space = 0x4C494E4B;
    const std::string name = "C:\\Windows\\color\\linked test.icc";
    s.profile.assign(name.begin(), name.end());
    s.profile.push_back(0);
    r = read_layout(dir, s);
    s.profile.assign({'n', 'o', 'n', 'e', '.', 'i', 'c', 'c', 0});
    Read missing = read_layout(dir, s);
    if (old_home)
        setenv("HOME", saved_home.c_str(), 1);
    else
        unsetenv("HOME");
    ASSERT_FALSE(r.failed);
    ASSERT_EQ(r.picture.profile_size, profile.size());
    EXPECT_EQ(std::memcmp(r.picture.profile, profile.data(), profile.size()), 0);
    ASSERT_FALSE(missing.failed);
    EXPECT_EQ(missing.picture.profile_size, 0u);
}

TEST(BmpRead, UnsupportedAndHostileHeadersFailBeforeAllocating) {
    TempDir dir;
    auto expect_failure = [&](const std::vector<std::uint8_t>& bytes, const std::string& text) {
        write_bytes(dir.file("bad.bmp"), bytes);
        Read r = read_bmp(dir.file("bad.bmp"));
        EXPECT_TRUE(r.failed);
        EXPECT_TRUE(testing::is_empty_record(r.picture));
        ASSERT_EQ(r.errors.size(), 1u);
        EXPECT_EQ(r.errors[0].substr(0, text.size()), text);
    };
    BmpLayout s;
    s.bits = 24;
    s.pixel = [](std::uint32_t, std::uint32_t) { return 0u; };
    const std::vector<std::uint8_t> good = build_bmp(s);

    auto with = [&](std::size_t at, std::uint32_t v, bool wide = true) {
        std::vector<std::uint8_t> b = good;
        if (wide)
            put32(b, at, v);
        else
            put16(b, at, v);
        return b;
    };
    expect_failure(with(14, 56), "Unsupported image format");         // header size
    expect_failure(with(28, 16, false), "Unsupported image format");  // 16 bits
    expect_failure(with(30, 4), "Unsupported image format");          // embedded JPEG
    expect_failure(with(30, 1), "Unsupported image format");          // RLE8 on 24 bits
    expect_failure(with(18, 0), "Error reading BMP file");            // no width
    expect_failure(with(22, 0x7FFFFFFF), "Image is too large");       // huge height
    expect_failure(with(18, 400000), "Error reading BMP file");       // rows past the end
    expect_failure(with(10, 0xFFFFFFF0), "Error reading BMP file");   // data offset
    std::vector<std::uint8_t> cut = good;
    cut.resize(good.size() - 1);
    expect_failure(cut, "Error reading BMP file");
    cut.resize(30);
    expect_failure(cut, "Error reading BMP file");
    expect_failure({'B', 'M'}, "Error reading BMP file");
    expect_failure({'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0},
                   "Error reading BMP file");

    // A palette that would lie beyond the end of the file.
    BmpLayout p;
    p.palette = color_palette(256);
    p.pixel = [](std::uint32_t, std::uint32_t) { return 0u; };
    std::vector<std::uint8_t> b = build_bmp(p);
    b.resize(200);
    expect_failure(b, "Error reading BMP file");
}

std::vector<std::string> package_files(const std::string& package, const std::string& pattern) {
    std::vector<std::string> out;
    const std::string command = "dpkg -L " + package + " 2>/dev/null | grep -E '" + pattern + "'";
    if (FILE* f = popen(command.c_str(), "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, f)) {
            std::string s(line);
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
            if (std::filesystem::is_regular_file(s)) out.push_back(s);
        }
        pclose(f);
    }
    return out;
}

TEST(BmpRead, SampleFilesOpen) {
    const auto files = package_files("golang-golang-x-image-dev", "\\.bmp$");
    if (files.empty()) GTEST_SKIP() << "golang-golang-x-image-dev is not installed";
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        Read r = read_bmp(path);
        ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
        EXPECT_GT(r.picture.width, 0u);
        if (path.find("video-001") != std::string::npos) {
            EXPECT_EQ(r.picture.type, image_color24);
            EXPECT_EQ(r.picture.width, 150u);
            EXPECT_EQ(r.picture.height, 103u);
        }
    }
}

TEST(BmpRead, BrokenFilesOfOtherPeopleFailOrOpenWithoutCrashing) {
    const auto files = package_files("gdk-pixbuf-tests", "\\.bmp$");
    if (files.empty()) GTEST_SKIP() << "gdk-pixbuf-tests is not installed";
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        Read r = read_bmp(path);
        if (r.failed) {
            EXPECT_TRUE(testing::is_empty_record(r.picture));
            EXPECT_EQ(r.errors.size(), 1u);
        } else {
            EXPECT_GE(r.picture.type, image_binary);
            EXPECT_LE(r.picture.type, image_color24);
            EXPECT_GT(r.picture.height, 0u);
        }
        if (path.find("/fail/") != std::string::npos) {
            EXPECT_TRUE(r.failed);
        }
    }
}

}  // namespace
}  // namespace tessaly
