#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fileio/image_file.h"
#include "support/fileio_builders.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using namespace testing;

using Color = std::array<std::uint8_t, 3>;  // red, green, blue

// A BMP assembled byte by byte; pixel values are palette indices or packed 0xRRGGBB colors,
// given top line first.
struct BmpLayout {
    std::uint32_t header = 40;
    std::uint16_t bits = 8;
    std::int32_t width = 5, height = 3;  // a negative height stores the top line first
    std::uint32_t compression = 0;
    std::vector<Color> palette;
    std::uint32_t color_space = 0;
    Bytes profile;  // embedded or linked bytes
    Bytes rle;      // compressed data instead of rows
    std::function<std::uint32_t(std::uint32_t, std::uint32_t)> pixel =
        [](std::uint32_t, std::uint32_t) { return 0u; };
};

void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

// Kept opaque to the optimizer: GCC 12 otherwise warns about header fields that only larger
// headers have.
[[gnu::noipa]] Bytes build_bmp(const BmpLayout& s) {
    const auto w = static_cast<std::uint32_t>(s.width);
    const auto h = static_cast<std::uint32_t>(std::abs(s.height));
    const bool core = s.header == 12;
    Bytes b(14 + s.header, 0);
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
        put32(b, 38, 3780);  // pixels per metre
        put32(b, 42, 3780);
        put32(b, 46, static_cast<std::uint32_t>(s.palette.size()));
    }
    if (s.header >= 108) put32(b, 14 + 56, s.color_space);
    for (const Color& c : s.palette) {
        b.insert(b.end(), {c[2], c[1], c[0]});
        if (!core) b.push_back(0);
    }
    put32(b, 10, static_cast<std::uint32_t>(b.size()));
    if (!s.rle.empty()) {
        b.insert(b.end(), s.rle.begin(), s.rle.end());
    } else {
        const std::size_t stride = (std::size_t{w} * s.bits + 31) / 32 * 4;
        for (std::uint32_t i = 0; i < h; ++i) {
            // File line i is the bottom line first unless the height is negative.
            const std::uint32_t y = s.height < 0 ? i : h - 1 - i;
            Bytes line(stride, 0);
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::uint32_t v = s.pixel(x, y);
                if (s.bits >= 24) {
                    const std::size_t at = x * (s.bits / 8);
                    put16(line, at, v & 0xFFFF);
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

Outcome read_bytes(const TempDir& dir, const Bytes& bytes) {
    put_bytes(dir.file("t.bmp"), bytes);
    return read_recorded(dir.file("t.bmp"), read_bmp_file);
}

Outcome read_layout(const TempDir& dir, const BmpLayout& s) {
    return read_bytes(dir, build_bmp(s));
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
            const Color want = s.bits <= 8 ? s.palette[v]
                                           : Color{static_cast<std::uint8_t>(v >> 16),
                                                   static_cast<std::uint8_t>(v >> 8),
                                                   static_cast<std::uint8_t>(v)};
            const std::uint8_t* p = top_row(picture, y) + 3 * x;
            ASSERT_EQ((Color{p[2], p[1], p[0]}), want) << x << "," << y;
        }
}

TEST(BmpRead, EveryHeaderSizeAndDepthReadsEveryPixel) {
    TempDir dir;
    for (std::uint32_t header : {12u, 40u, 108u, 124u}) {
        for (std::uint16_t bits : {1, 2, 4, 8, 24, 32}) {
            if (header == 12 && bits == 32) continue;
            SCOPED_TRACE(::testing::Message() << "header " << header << " bits " << bits);
            // Rows need padding at every depth.
            BmpLayout s{.header = header, .bits = bits, .width = 13, .height = 4};
            if (bits <= 8) s.palette = color_palette(std::size_t{1} << bits);
            s.pixel = [bits](std::uint32_t x, std::uint32_t y) -> std::uint32_t {
                if (bits <= 8) return (x * 3 + y * 5) % (1u << bits);
                return (x * 19 + 1) << 16 | (y * 41 + 2) << 8 | (x * y + 3);
            };
            const Outcome r = read_layout(dir, s);
            ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
            expect_colors(s, r.picture);
            // The old core header has no resolution.
            EXPECT_DOUBLE_EQ(r.picture.dpi, header == 12 ? 100.0 : 3780 * 25.4 / 1000);
        }
    }
}

TEST(BmpRead, PaletteDecidesBinaryGrayOrColor) {
    TempDir dir;
    struct Case {
        std::vector<Color> palette;
        std::uint32_t type;
    };
    std::vector<Color> grays;  // 256 levels, reversed
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(255 - i);
        grays.push_back({v, v, v});
    }
    const Case cases[] = {
        {{{0, 0, 0}, {255, 255, 255}}, image_binary},
        {{{255, 255, 255}, {0, 0, 0}}, image_binary},  // reversed: index 0 is white
        {{{40, 40, 40}, {200, 200, 200}}, image_gray8},
        {{{0, 0, 0}, {255, 0, 0}}, image_color24},
        {grays, image_gray8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.palette.size());
        BmpLayout s{.bits = std::uint16_t(c.palette.size() == 2 ? 1 : 8),
                    .width = 10,
                    .palette = c.palette};
        s.pixel = [&](std::uint32_t x, std::uint32_t y) {
            return (x * 51 + y) % static_cast<std::uint32_t>(c.palette.size());
        };
        const Outcome r = read_layout(dir, s);
        ASSERT_FALSE(r.failed);
        ASSERT_EQ(r.picture.type, c.type);
        for (std::uint32_t y = 0; y < 3; ++y)
            for (std::uint32_t x = 0; x < 10; ++x) {
                const Color want = c.palette[s.pixel(x, y)];
                const std::uint8_t* row = top_row(r.picture, y);
                const std::uint8_t got = c.type == image_binary  ? bit_get(row, x)
                                         : c.type == image_gray8 ? row[x]
                                                                 : row[3 * x + 2];
                EXPECT_EQ(got, want[0]) << x << "," << y;
            }
    }
}

TEST(BmpRead, TopDownRowsAndBitFieldsAndRle) {
    TempDir dir;
    BmpLayout top{.bits = 24, .height = -4};
    top.pixel = [](std::uint32_t x, std::uint32_t y) { return x << 16 | y << 8 | 9; };
    Outcome r = read_layout(dir, top);
    ASSERT_FALSE(r.failed);
    expect_colors(top, r.picture);

    // 32-bit pixels whose masks put red in the low byte and blue in the third.
    BmpLayout fields{.bits = 32, .compression = 3};
    fields.pixel = [](std::uint32_t x, std::uint32_t y) { return x * 40 << 16 | y * 60 << 8 | 7; };
    Bytes bytes = build_bmp(fields);
    // The masks follow the 40-byte header; the pixel data moves 12 bytes on.
    Bytes masks(12, 0);
    put32(masks, 0, 0x000000FF);
    put32(masks, 4, 0x0000FF00);
    put32(masks, 8, 0x00FF0000);
    bytes.insert(bytes.begin() + 54, masks.begin(), masks.end());
    put32(bytes, 10, 54 + 12);
    r = read_bytes(dir, bytes);
    ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
    fields.pixel = [](std::uint32_t x, std::uint32_t y) { return 7u << 16 | y * 60 << 8 | x * 40; };
    expect_colors(fields, r.picture);

    // RLE8: a run, an absolute run, an end of line, a delta, then the end.
    BmpLayout rle{.width = 6,
                  .height = 3,
                  .compression = 1,
                  .palette = color_palette(8),
                  .rle = {3, 5, 0, 3, 1, 2, 4, 0, 0, 0, 0, 2, 2, 1, 2, 6, 0, 1}};
    r = read_layout(dir, rle);
    ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
    ASSERT_EQ(r.picture.type, image_color24);
    auto red = [&](std::uint32_t row, std::uint32_t x) { return r.picture.rows[row][3 * x + 2]; };
    const std::uint32_t bottom[6] = {5, 5, 5, 1, 2, 4};
    for (std::uint32_t x = 0; x < 6; ++x) {
        EXPECT_EQ(red(0, x), rle.palette[bottom[x]][0]) << x;
    }
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
    for (std::uint32_t x = 0; x < 5; ++x) {
        EXPECT_EQ(red(0, x), rle.palette[nibbles[x]][0]) << x;
    }
    EXPECT_EQ(red(0, 5), 0);
}

TEST(BmpRead, EmbeddedAndLinkedProfiles) {
    TempDir dir;
    Bytes profile(200);
    for (std::size_t i = 0; i < profile.size(); ++i)
        profile[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    BmpLayout s{
        .header = 124, .bits = 24, .color_space = 0x4D424544 /* embedded */, .profile = profile};
    Outcome r = read_layout(dir, s);
    ASSERT_FALSE(r.failed);
    ASSERT_EQ(r.picture.profile_size, profile.size());
    EXPECT_EQ(std::memcmp(r.picture.profile, profile.data(), profile.size()), 0);

    // A profile that runs past the end of the file fails the read.
    Bytes bytes = build_bmp(s);
    bytes.resize(bytes.size() - 10);
    EXPECT_TRUE(read_bytes(dir, bytes).failed);

    // A linked profile is looked up by name in the user's color folder.
    const char* old_home = std::getenv("HOME");
    const std::string saved_home = old_home ? old_home : "";
    setenv("HOME", dir.path().c_str(), 1);
    std::filesystem::create_directories(dir.file(".local/share/icc"));
    put_bytes(dir.file(".local/share/icc/linked test.icc"), profile);
    s.color_space = 0x4C494E4B;
    const std::string name = "C:\\Windows\\color\\linked test.icc";
    s.profile.assign(name.begin(), name.end());
    s.profile.push_back(0);
    r = read_layout(dir, s);
    s.profile.assign({'n', 'o', 'n', 'e', '.', 'i', 'c', 'c', 0});
    const Outcome missing = read_layout(dir, s);
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
    const Bytes good = build_bmp(BmpLayout{.bits = 24});
    auto with = [&](std::size_t at, std::uint32_t v, bool wide = true) {
        Bytes b = good;
        (wide ? put32 : put16)(b, at, v);
        return b;
    };
    const std::string unsupported = "Unsupported image format", broken = "Error reading BMP file";
    EXPECT_TRUE(failed_with(read_bytes(dir, with(14, 56)), unsupported));         // header size
    EXPECT_TRUE(failed_with(read_bytes(dir, with(28, 16, false)), unsupported));  // 16 bits
    EXPECT_TRUE(failed_with(read_bytes(dir, with(30, 4)), unsupported));          // embedded JPEG
    EXPECT_TRUE(failed_with(read_bytes(dir, with(30, 1)), unsupported));          // RLE8 on 24 bits
    EXPECT_TRUE(failed_with(read_bytes(dir, with(18, 0)), broken));               // no width
    EXPECT_TRUE(failed_with(read_bytes(dir, with(22, 0x7FFFFFFF)), "Image is too large", true));
    EXPECT_TRUE(failed_with(read_bytes(dir, with(18, 400000)), broken));      // rows past the end
    EXPECT_TRUE(failed_with(read_bytes(dir, with(10, 0xFFFFFFF0)), broken));  // data offset
    for (std::size_t size : {good.size() - 1, std::size_t{30}, std::size_t{2}}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(failed_with(
            read_bytes(dir, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size))),
            broken));
    }
    EXPECT_TRUE(failed_with(
        read_bytes(dir, {'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0}), broken));

    // A palette that would lie beyond the end of the file.
    Bytes b = build_bmp(BmpLayout{.palette = color_palette(256)});
    b.resize(200);
    EXPECT_TRUE(failed_with(read_bytes(dir, b), broken));
}

}  // namespace
}  // namespace tessaly
