#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/fileio_builders.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "test_files.h"

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

// Kept opaque to the optimizer: GCC 12 otherwise warns about header fields that only larger
// headers have.
[[gnu::noipa]] Bytes build_bmp(const BmpLayout& s) {
    const auto w = static_cast<std::uint32_t>(s.width);
    const auto h = static_cast<std::uint32_t>(std::abs(s.height));
    const bool core = s.header == 12;
    Bytes b(14 + s.header, 0);
    put_number(b, 0, 'B' | 'M' << 8, 2);
    put_number(b, 14, s.header);
    if (core) {
        const std::uint32_t fields[4] = {w, h, 1, s.bits};
        for (int i = 0; i < 4; ++i) put_number(b, 18 + 2 * i, fields[i], 2);
    } else {
        put_number(b, 18, w);
        put_number(b, 22, static_cast<std::uint32_t>(s.height));
        put_number(b, 26, 1, 2);
        put_number(b, 28, s.bits, 2);
        put_number(b, 30, s.compression);
        put_number(b, 38, 3780);  // pixels per metre
        put_number(b, 42, 3780);
        put_number(b, 46, s.palette.size());
    }
    if (s.header >= 108) put_number(b, 14 + 56, s.color_space);
    for (const Color& c : s.palette) {
        b.insert(b.end(), {c[2], c[1], c[0]});
        if (!core) b.push_back(0);
    }
    put_number(b, 10, b.size());
    b.insert(b.end(), s.rle.begin(), s.rle.end());
    const std::size_t stride = (std::size_t{w} * s.bits + 31) / 32 * 4;
    for (std::uint32_t i = 0; i < h && s.rle.empty(); ++i) {
        // File line i is the bottom line first unless the height is negative.
        const std::uint32_t y = s.height < 0 ? i : h - 1 - i;
        Bytes line(stride, 0);
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t v = s.pixel(x, y);
            if (s.bits >= 24) {
                put_number(line, x * (s.bits / 8), v, 3);
                if (s.bits == 32) line[x * 4 + 3] = 0x5A;
            } else {
                const std::size_t bit = std::size_t{x} * s.bits;
                line[bit / 8] |= static_cast<std::uint8_t>(v << (8 - s.bits - bit % 8));
            }
        }
        b.insert(b.end(), line.begin(), line.end());
    }
    if (s.header >= 124 && !s.profile.empty()) {
        put_number(b, 14 + 112, b.size() - 14);
        put_number(b, 14 + 116, s.profile.size());
        b.insert(b.end(), s.profile.begin(), s.profile.end());
    }
    put_number(b, 2, b.size());
    return b;
}

Outcome read_bytes(const TempDir& dir, const Bytes& bytes) {
    put_bytes(dir.file("t.bmp"), bytes);
    return read_recorded(dir.file("t.bmp"), read_bmp_file);
}

std::vector<Color> color_palette(std::size_t n) {
    std::vector<Color> p(n);
    for (std::size_t i = 0; i < n; ++i)
        p[i] = {static_cast<std::uint8_t>(i * 3 + 1), static_cast<std::uint8_t>(255 - i),
                static_cast<std::uint8_t>(i * 7)};
    return p;
}

// Checks every pixel against the colors the layout's pixels stand for; gray and binary pictures
// give their level to all three.
void expect_colors(const BmpLayout& s, const Outcome& r) {
    ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
    const Image& picture = r.picture;
    ASSERT_EQ(picture.width, static_cast<std::uint32_t>(s.width));
    ASSERT_EQ(picture.height, static_cast<std::uint32_t>(std::abs(s.height)));
    for (std::uint32_t y = 0; y < picture.height; ++y)
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const std::uint32_t v = s.pixel(x, y);
            const Color c =
                s.bits <= 8 ? s.palette[v]
                            : Color{std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
            ASSERT_EQ(pixel_at(picture, x, y), (Samples{c[0], c[1], c[2]})) << x << "," << y;
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
            const Outcome r = read_bytes(dir, build_bmp(s));
            EXPECT_EQ(r.picture.type, image_color24);
            expect_colors(s, r);
            // The old core header has no resolution.
            EXPECT_DOUBLE_EQ(r.picture.dpi, header == 12 ? 100.0 : 3780 * 25.4 / 1000);
        }
    }
}

TEST(BmpRead, PaletteDecidesBinaryGrayOrColor) {
    TempDir dir;
    std::vector<Color> grays;  // 256 levels, reversed
    for (int i = 255; i >= 0; --i) grays.push_back(Color{}), grays.back().fill(std::uint8_t(i));
    const std::pair<std::vector<Color>, std::uint32_t> cases[] = {
        {{{0, 0, 0}, {255, 255, 255}}, image_binary},
        {{{255, 255, 255}, {0, 0, 0}}, image_binary},  // reversed: index 0 is white
        {{{40, 40, 40}, {200, 200, 200}}, image_gray8},
        {{{0, 0, 0}, {255, 0, 0}}, image_color24},
        {grays, image_gray8}};
    for (const auto& [palette, type] : cases) {
        SCOPED_TRACE(palette.size());
        BmpLayout s{.bits = std::uint16_t(palette.size() == 2 ? 1 : 8), .width = 10};
        s.palette = palette;
        s.pixel = [n = std::uint32_t(palette.size())](std::uint32_t x, std::uint32_t y) {
            return (x * 51 + y) % n;
        };
        const Outcome r = read_bytes(dir, build_bmp(s));
        EXPECT_EQ(r.picture.type, type);
        expect_colors(s, r);
    }
}

TEST(BmpRead, TopDownRowsAndBitFieldsAndRle) {
    TempDir dir;
    BmpLayout top{.bits = 24, .height = -4};
    top.pixel = [](std::uint32_t x, std::uint32_t y) { return x << 16 | y << 8 | 9; };
    expect_colors(top, read_bytes(dir, build_bmp(top)));

    // 32-bit pixels whose masks put red in the low byte and blue in the third: the masks follow
    // the 40-byte header and the pixel data moves 12 bytes on.
    BmpLayout fields{.bits = 32, .compression = 3};
    fields.pixel = [](std::uint32_t x, std::uint32_t y) { return x * 40 << 16 | y * 60 << 8 | 7; };
    Bytes bytes = build_bmp(fields), masks(12, 0);
    for (int i = 0; i < 3; ++i) put_number(masks, 4 * i, 0xFFu << 8 * i);
    bytes.insert(bytes.begin() + 54, masks.begin(), masks.end());
    put_number(bytes, 10, 54 + 12);
    fields.pixel = [](std::uint32_t x, std::uint32_t y) { return 7u << 16 | y * 60 << 8 | x * 40; };
    expect_colors(fields, read_bytes(dir, bytes));

    // RLE8: a run, an absolute run, an end of line, a delta, then the end; RLE4 packs two
    // indices in each byte. What the codes skip stays black, index 0 here.
    BmpLayout rle8{.width = 6, .compression = 1, .palette = color_palette(8)};
    rle8.rle = {3, 5, 0, 3, 1, 2, 4, 0, 0, 0, 0, 2, 2, 1, 2, 6, 0, 1};
    BmpLayout rle4{.bits = 4, .width = 6, .compression = 2, .palette = color_palette(16)};
    rle4.rle = {5, 0x12, 0, 1};
    static const std::uint32_t rle8_rows[3][6] = {{0, 0, 6, 6, 0, 0}, {}, {5, 5, 5, 1, 2, 4}};
    static const std::uint32_t rle4_rows[3][6] = {{}, {}, {1, 2, 1, 2, 1, 0}};
    for (auto [s, rows] : {std::pair{rle8, rle8_rows}, std::pair{rle4, rle4_rows}}) {
        s.palette[0] = {0, 0, 0};
        s.pixel = [rows](std::uint32_t x, std::uint32_t y) { return rows[y][x]; };
        expect_colors(s, read_bytes(dir, build_bmp(s)));
    }
}

TEST(BmpRead, EmbeddedAndLinkedProfiles) {
    TempDir dir;
    Bytes profile(200);
    for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = std::uint8_t(i ^ 0x5A);
    BmpLayout s{.header = 124, .bits = 24, .color_space = 0x4D424544 /* MBED */};
    s.profile = profile;
    auto expect_profile = [&](const Outcome& r, const Bytes& want) {
        ASSERT_FALSE(r.failed);
        EXPECT_EQ(Bytes(r.picture.profile, r.picture.profile + r.picture.profile_size), want);
    };
    expect_profile(read_bytes(dir, build_bmp(s)), profile);
    // A profile that runs past the end of the file fails the read.
    Bytes bytes = build_bmp(s);
    bytes.resize(bytes.size() - 10);
    EXPECT_TRUE(failed_with(read_bytes(dir, bytes), "Error reading BMP file"));

    // A linked profile is looked up by name in the user's color folder; an unknown one is none.
    ScopedEnv home("HOME", dir.path().c_str());
    std::filesystem::create_directories(dir.file(".local/share/icc"));
    put_bytes(dir.file(".local/share/icc/linked test.icc"), profile);
    s.color_space = 0x4C494E4B;  // LINK
    for (const std::string name : {"C:\\Windows\\color\\linked test.icc", "none.icc"}) {
        s.profile.assign(name.begin(), name.end());
        s.profile.push_back(0);
        expect_profile(read_bytes(dir, build_bmp(s)), name == "none.icc" ? Bytes{} : profile);
    }
}

TEST(BmpRead, UnsupportedAndHostileHeadersFailBeforeAllocating) {
    TempDir dir;
    const Bytes good = build_bmp(BmpLayout{.bits = 24});
    const std::string unsupported = "Unsupported image format", broken = "Error reading BMP file";
    const struct {
        std::size_t at;
        std::uint32_t value;
        int width;
        std::string message;
    } changes[] = {{14, 56, 4, unsupported},     // header size
                   {28, 16, 2, unsupported},     // 16 bits
                   {30, 4, 4, unsupported},      // embedded JPEG
                   {30, 1, 4, unsupported},      // RLE8 on 24 bits
                   {18, 0, 4, broken},           // no width
                   {18, 400000, 4, broken},      // rows past the end
                   {10, 0xFFFFFFF0, 4, broken},  // data offset
                   {22, 0x7FFFFFFF, 4, "Image is too large: 5 x 2147483647"}};
    for (const auto& c : changes) {
        Bytes b = good;
        put_number(b, c.at, c.value, c.width);
        EXPECT_TRUE(failed_with(read_bytes(dir, b), c.message)) << c.at << " " << c.value;
    }
    for (std::size_t size : {good.size() - 1, std::size_t{30}, std::size_t{2}}) {
        EXPECT_TRUE(
            failed_with(read_bytes(dir, Bytes(good.begin(), good.begin() + long(size))), broken))
            << size;
    }
    EXPECT_TRUE(failed_with(
        read_bytes(dir, {'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0}), broken));
    // A palette that would lie beyond the end of the file.
    Bytes b = build_bmp(BmpLayout{.palette = color_palette(256)});
    b.resize(200);
    EXPECT_TRUE(failed_with(read_bytes(dir, b), broken));
}

// Compressed data ending at once cannot stand for 60000 x 60000 pixels, and a height of -2^31
// turned top-down is 2^31 rows: both fail with their message, and the child reading them stays
// small. The same end marker under a picture the data may cover opens black.
TEST(BmpRead, ClaimedSizesCostOnlyWhatTheFileHolds) {
    TempDir dir;
    const std::string path = dir.file("claim.bmp");
    BmpLayout rle{.width = 60000, .height = 60000, .compression = 1, .palette = color_palette(8)};
    rle.rle = {0, 1};
    Bytes tall = build_bmp(BmpLayout{.bits = 24});
    put_number(tall, 22, 0x80000000u);
    for (const auto& [bytes, message] : {std::pair{build_bmp(rle), "Error reading BMP file"},
                                         {tall, "Image is too large: 5 x 2147483648"}}) {
        put_bytes(path, bytes);
        EXPECT_LT(peak_growth_mib([&] { (void)read_recorded(path, read_bmp_file); }), 50);
        EXPECT_TRUE(failed_with(read_recorded(path, read_bmp_file), message));
    }
    rle.width = rle.height = 200;
    const Outcome r = read_bytes(dir, build_bmp(rle));
    ASSERT_FALSE(r.failed);
    EXPECT_TRUE(r.picture.width == 200 && pixel_at(r.picture, 199, 199) == (Samples{0, 0, 0}));
}

TEST(BmpWriter, HeaderBytesAndRoundTrips) {
    TempDir dir;
    const std::string path = dir.file("c.bmp");
    Bytes b;
    auto u32 = [&](std::size_t at) { return number_at(&b.at(at)); };
    Image color = patterned(image_color24, 3, 2, 72.0), back;
    ASSERT_FALSE(write_bmp_file(path, color, 0));  // no profile: the 40-byte header
    b = file_bytes(path);
    EXPECT_TRUE(b[0] == 'B' && b[1] == 'M');
    EXPECT_TRUE(u32(2) == b.size() && u32(10) == 54u && u32(14) == 40u);
    EXPECT_EQ(u32(38), 2835u);  // rnd(72 x 1000 / 25.4)
    EXPECT_EQ(b.size(), 54u + 2 * 12);
    ASSERT_FALSE(read_bmp_file(path, back));
    EXPECT_TRUE(same_pixels(color, back));
    EXPECT_NEAR(back.dpi, 72.0, 0.02);

    // With a profile and version 0: a V5 header and the profile after the pixels; version 1
    // leaves it out.
    const std::string profile = "profile!";
    ASSERT_FALSE(image_set_profile(color, reinterpret_cast<const std::uint8_t*>(profile.data()),
                                   profile.size()));
    ASSERT_FALSE(write_bmp_file(path, color, 0));
    b = file_bytes(path);
    EXPECT_TRUE(u32(14) == 124u && u32(14 + 56) == 0x4D424544u);
    EXPECT_EQ(std::string(&b[14 + u32(14 + 112)], &b[14 + u32(14 + 112)] + u32(14 + 116)), profile);
    ASSERT_FALSE(read_bmp_file(path, back));
    EXPECT_EQ(std::string(back.profile, back.profile + back.profile_size), profile);
    ASSERT_FALSE(write_bmp_file(path, color, 1));
    ASSERT_FALSE(read_bmp_file(path, back));
    EXPECT_EQ(back.profile_size, 0u);

    // Binary and 8-bit gray keep their types; 16-bit gray is reduced to 8 bits; floats fail.
    for (std::uint32_t type : {image_binary, image_gray8}) {
        const Image im = patterned(type, 11, 3, 300.0);
        ASSERT_FALSE(write_bmp_file(path, im, 0));
        ASSERT_FALSE(read_bmp_file(path, back));
        EXPECT_TRUE(same_pixels(im, back));
        EXPECT_NEAR(back.dpi, 300.0, 0.02);
    }
    Image gray16, floats;
    ASSERT_FALSE(image_alloc(gray16, image_gray16, 2, 1, 72.0));
    set_sample16(gray16.rows[0], 0, 32896);
    set_sample16(gray16.rows[0], 1, 65535);
    ASSERT_FALSE(write_bmp_file(path, gray16, 0));
    ASSERT_FALSE(read_bmp_file(path, back));
    EXPECT_EQ(back.type, image_gray8);
    EXPECT_TRUE(back.rows[0][0] == 128 && back.rows[0][1] == 255);
    ASSERT_FALSE(image_alloc(floats, image_float_gray, 2, 2, 72.0));
    EXPECT_TRUE(write_bmp_file(dir.file("f.bmp"), floats, 0));
}

}  // namespace
}  // namespace tessaly
