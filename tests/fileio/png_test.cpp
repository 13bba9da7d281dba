#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/builtin_profiles.h"
#include "core/tables.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/fileio_builders.h"
#include "support/small_exif.h"
#include "support/temp_dir.h"
#include "test_files.h"

namespace tessaly {
namespace {

using namespace testing;

struct PngFile {
    std::uint32_t width = 0, height = 0;
    int color_type = PNG_COLOR_TYPE_GRAY;
    int bit_depth = 8;
    bool interlace = false;
    std::vector<Bytes> rows;  // file rows, top line first, as PNG packs them
    std::vector<png_color> palette;
    Bytes trans;                              // palette alpha
    std::optional<png_color_16> trans_color;  // gray or RGB transparent color
    bool srgb = false;
    std::optional<png_uint_32> phys_ppm;
    int phys_unit = PNG_RESOLUTION_METER;
    std::vector<std::tuple<std::string, std::string, int>> texts;  // key, text, compression
};

// The part libpng may leave by longjmp; it holds nothing that needs a destructor.
bool write_png_with(FILE* file, const PngFile& f, std::vector<png_text>& texts,
                    std::vector<png_bytep>& rows) {
    png_structp png = png_create_write_struct(
        PNG_LIBPNG_VER_STRING, nullptr, [](png_structp p, png_const_charp) { png_longjmp(p, 1); },
        [](png_structp, png_const_charp) {});
    png_infop info = png_create_info_struct(png);
    const bool ok = !setjmp(png_jmpbuf(png));
    if (ok) {
        png_init_io(png, file);
        png_set_IHDR(png, info, f.width, f.height, f.bit_depth, f.color_type, f.interlace,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (!f.palette.empty())
            png_set_PLTE(png, info, f.palette.data(), static_cast<int>(f.palette.size()));
        if (!f.trans.empty())
            png_set_tRNS(png, info, f.trans.data(), static_cast<int>(f.trans.size()), nullptr);
        if (f.trans_color) png_set_tRNS(png, info, nullptr, 0, &*f.trans_color);
        if (f.srgb) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
        if (f.phys_ppm) png_set_pHYs(png, info, *f.phys_ppm, *f.phys_ppm, f.phys_unit);
        png_set_text(png, info, texts.data(), static_cast<int>(texts.size()));
        png_write_info(png, info);
        png_write_image(png, rows.data());
        png_write_end(png, info);
    }
    png_destroy_write_struct(&png, &info);
    return ok;
}

bool write_png(const std::string& path, const PngFile& f) {
    std::vector<png_text> texts;
    for (const auto& [key, text, compression] : f.texts) {
        texts.push_back({.compression = compression,
                         .key = const_cast<char*>(key.c_str()),
                         .text = const_cast<char*>(text.c_str()),
                         .text_length = text.size()});
    }
    std::vector<png_bytep> rows;
    for (const auto& r : f.rows) rows.push_back(const_cast<png_bytep>(r.data()));
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = write_png_with(file, f, texts, rows);
    return std::fclose(file) == 0 && written;
}

int channels_of(int color_type) {  // a palette index is one channel
    if (color_type == PNG_COLOR_TYPE_PALETTE) return 1;
    return (color_type & PNG_COLOR_MASK_COLOR ? 3 : 1) +
           (color_type & PNG_COLOR_MASK_ALPHA ? 1 : 0);
}

// A repeatable sample for pixel x, y, channel c that uses the whole range of the depth.
std::uint32_t sample(std::uint32_t x, std::uint32_t y, int c, int depth) {
    const std::uint32_t v = x * 2654435761u + y * 40503u + static_cast<std::uint32_t>(c) * 977u;
    return (v >> 7) & ((1u << depth) - 1);
}

// A file of samples(x, y, c), packed as PNG stores them (bits from the most significant end,
// 16-bit samples big-endian); palettes get 2^depth distinct colors.
PngFile make_png(std::uint32_t w, std::uint32_t h, int color_type, int depth,
                 bool interlace = false) {
    PngFile f{.width = w,
              .height = h,
              .color_type = color_type,
              .bit_depth = depth,
              .interlace = interlace};
    if (color_type == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i < (1 << depth); ++i) {
            f.palette.push_back({static_cast<png_byte>(i * 7 + 3), static_cast<png_byte>(255 - i),
                                 static_cast<png_byte>(i * 13)});
        }
    }
    const int channels = channels_of(color_type);
    f.rows.assign(h, Bytes((std::size_t{w} * channels * depth + 7) / 8, 0));
    for (std::uint32_t y = 0; y < h; ++y) {
        std::size_t bit = 0;
        for (std::uint32_t x = 0; x < w; ++x) {
            for (int c = 0; c < channels; ++c, bit += static_cast<std::size_t>(depth)) {
                const std::uint32_t v = sample(x, y, c, depth);
                if (depth == 16) {
                    f.rows[y][bit / 8] = static_cast<std::uint8_t>(v >> 8);
                    f.rows[y][bit / 8 + 1] = static_cast<std::uint8_t>(v);
                } else {
                    f.rows[y][bit / 8] |= static_cast<std::uint8_t>(v << (8 - depth - bit % 8));
                }
            }
        }
    }
    return f;
}

// Checks every pixel of the picture (and alpha, when given and the file has it) against the
// samples the file was written with.
::testing::AssertionResult pixels_match(const PngFile& f, const Image& picture,
                                        const Image* alpha) {
    const int channels = channels_of(f.color_type), depth = f.bit_depth;
    for (std::uint32_t y = 0; y < f.height; ++y) {
        for (std::uint32_t x = 0; x < f.width; ++x) {
            Samples want{};
            for (int c = 0; c < 3; ++c) {
                want[c] = sample(x, y, channels >= 3 ? c : 0, depth);
                if (depth < 8) want[c] = want[c] * 255 / ((1u << depth) - 1);
            }
            if (f.color_type == PNG_COLOR_TYPE_PALETTE) {
                const png_color& p = f.palette[sample(x, y, 0, depth)];
                want = {p.red, p.green, p.blue};
            }
            if (pixel_at(picture, x, y) != want)
                return ::testing::AssertionFailure() << "pixel " << x << "," << y;
            if (channels % 2 == 0 && alpha) {
                const std::uint32_t a = sample(x, y, channels - 1, depth);
                if (top_row(*alpha, y)[x] != (depth == 16 ? to8_value(a) : a))
                    return ::testing::AssertionFailure() << "alpha " << x << "," << y;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(PngRead, EveryColorTypeAndDepthBecomesItsImageType) {
    struct Case {
        int color_type, depth;
        std::uint32_t type;
    };
    const int gray = PNG_COLOR_TYPE_GRAY, gray_alpha = PNG_COLOR_TYPE_GRAY_ALPHA,
              rgb = PNG_COLOR_TYPE_RGB, rgba = PNG_COLOR_TYPE_RGB_ALPHA,
              palette = PNG_COLOR_TYPE_PALETTE;
    const Case cases[] = {
        {gray, 1, image_binary},        {gray, 2, image_gray8},      {gray, 4, image_gray8},
        {gray, 8, image_gray8},         {gray, 16, image_gray16},    {gray_alpha, 8, image_gray8},
        {gray_alpha, 16, image_gray16}, {rgb, 8, image_color24},     {rgb, 16, image_color48},
        {palette, 2, image_color24},    {palette, 4, image_color24}, {palette, 8, image_color24},
        {rgba, 8, image_color24},       {rgba, 16, image_color48}};
    TempDir dir;
    for (const Case& c : cases) {
        for (bool interlace : {false, true}) {
            SCOPED_TRACE(::testing::Message()
                         << c.color_type << " " << c.depth << " " << interlace);
            // Odd sizes so that interlace passes and partial bytes are not all full.
            const PngFile f = make_png(19, 13, c.color_type, c.depth, interlace);
            const std::string path = dir.file("t.png");
            ASSERT_TRUE(write_png(path, f));
            RecordingScope rec;
            Image picture, alpha;
            ASSERT_FALSE(read_png_file(path, picture, &alpha));
            EXPECT_TRUE(rec.recorder.errors().empty());
            EXPECT_EQ(picture.type, c.type);
            ASSERT_TRUE(picture.width == 19u && picture.height == 13u);
            EXPECT_TRUE(picture.dpi == 100.0 && picture.profile == nullptr);
            const bool has_alpha = c.color_type & PNG_COLOR_MASK_ALPHA;
            EXPECT_EQ(alpha.type, has_alpha ? image_gray8 : image_empty);
            ASSERT_TRUE(!has_alpha || alpha.height == 13u);
            EXPECT_TRUE(pixels_match(f, picture, has_alpha ? &alpha : nullptr));
            EXPECT_EQ(rec.recorder.progress_titles, std::vector<std::string>{"Read PNG File"});
            EXPECT_EQ(rec.recorder.progress_ends, 1);
            // Without a transparency image the picture is the same.
            Image again;
            ASSERT_FALSE(read_png_file(path, again, nullptr));
            EXPECT_TRUE(image_equal(picture, again));
        }
    }
}

// Palette alpha for the first entries (entries beyond the list are opaque), one 16-bit gray
// level marked transparent, and 1-bit palettes: black and white in either order keep the bits
// (as white = set), any other pair is expanded to color.
TEST(PngRead, TransparencyChunkBecomesAlpha) {
    TempDir dir;
    const std::string path = dir.file("t.png");
    PngFile palette = make_png(9, 5, PNG_COLOR_TYPE_PALETTE, 4);
    palette.trans = {0, 128, 255, 7};
    PngFile gray = make_png(9, 5, PNG_COLOR_TYPE_GRAY, 16);
    png_color_16 clear{};
    clear.gray = static_cast<png_uint_16>(sample(3, 2, 0, 16));
    gray.trans_color = clear;
    std::vector<PngFile> files = {palette, gray};
    const png_color black{0, 0, 0}, white{255, 255, 255}, red{255, 0, 0}, blue{0, 0, 255};
    for (const auto& pair : {std::vector{black, white}, {white, black}, {red, blue}}) {
        files.push_back(make_png(21, 3, PNG_COLOR_TYPE_PALETTE, 1));
        files.back().palette = pair;
        files.back().trans = {255, 0};
    }
    for (const PngFile& f : files) {
        SCOPED_TRACE(::testing::Message() << f.width << " depth " << f.bit_depth);
        ASSERT_TRUE(write_png(path, f));
        Image picture, alpha;
        ASSERT_FALSE(read_png_file(path, picture, &alpha));
        ASSERT_EQ(alpha.type, image_gray8);
        const bool two_levels = f.bit_depth == 1 && f.palette[0].red == f.palette[0].blue &&
                                f.palette[1].red == f.palette[1].blue;
        EXPECT_EQ(picture.type, f.bit_depth == 16 ? image_gray16
                                : two_levels      ? image_binary
                                                  : image_color24);
        EXPECT_TRUE(pixels_match(f, picture, nullptr));
        for (std::uint32_t y = 0; y < f.height; ++y) {
            for (std::uint32_t x = 0; x < f.width; ++x) {
                const std::uint32_t v = sample(x, y, 0, f.bit_depth);
                const std::uint8_t want = f.trans_color        ? (v == clear.gray ? 0 : 255)
                                          : v < f.trans.size() ? f.trans[v]
                                                               : 255;
                EXPECT_EQ(top_row(alpha, y)[x], want) << x << "," << y;
            }
        }
    }
}

TEST(PngRead, ResolutionProfilesAndText) {
    TempDir dir;
    const std::string path = dir.file("t.png");
    PngFile f = make_png(4, 4, PNG_COLOR_TYPE_RGB, 8);
    f.phys_ppm = 3780;
    f.srgb = true;
    f.texts = {{"Title", "A title", PNG_TEXT_COMPRESSION_NONE},
               {"Unknown", "ignored", PNG_TEXT_COMPRESSION_NONE},
               {"Comment", std::string(3000, 'c'), PNG_TEXT_COMPRESSION_zTXt},
               {"Author", "Zo\xC3\xAB", PNG_ITXT_COMPRESSION_NONE},
               {"Creation Time", "", PNG_TEXT_COMPRESSION_NONE},
               {"Source", "scanner", PNG_ITXT_COMPRESSION_zTXt}};
    ASSERT_TRUE(write_png(path, f));
    Image picture;
    ASSERT_FALSE(read_png_file(path, picture, nullptr));
    EXPECT_DOUBLE_EQ(picture.dpi, 3780.5 / 39.3701);
    const ProfileBytes srgb = builtin_srgb_profile();
    ASSERT_EQ(picture.profile_size, srgb.size);
    EXPECT_EQ(std::memcmp(picture.profile, srgb.data, srgb.size), 0);
    std::vector<std::pair<std::uint32_t, std::string>> tags;
    for (const MetadataTag* t = picture.tags; t; t = t->next) {
        tags.emplace_back(t->tag, reinterpret_cast<const char*>(t->data));
        EXPECT_TRUE(t->field_type == 2 && t->count == tags.back().second.size() + 1);
    }
    EXPECT_EQ(tags, (decltype(tags){{800, "A title"},
                                    {12290, std::string(3000, 'c')},
                                    {315, "Zo\xC3\xAB"},
                                    {306, ""},
                                    {271, "scanner"}}));

    // The built-in profile is an RGB profile: a gray picture does not get it; a pHYs chunk
    // without a unit gives no resolution.
    f = make_png(4, 4, PNG_COLOR_TYPE_GRAY, 8);
    f.srgb = true;
    f.phys_ppm = 5000;
    f.phys_unit = PNG_RESOLUTION_UNKNOWN;
    ASSERT_TRUE(write_png(path, f));
    ASSERT_FALSE(read_png_file(path, picture, nullptr));
    EXPECT_EQ(picture.profile, nullptr);
    EXPECT_EQ(picture.dpi, 100.0);
}

// Reads with a transparency image, which must be left empty as well when the read fails.
Outcome read_png(const std::string& path) {
    Image alpha;
    Outcome o = read_recorded(
        path, [&](const std::string& p, Image& im) { return read_png_file(p, im, &alpha); });
    EXPECT_TRUE(!o.failed || is_empty_record(alpha));
    return o;
}

// A sound file whose header then declares another size (its checksum made to fit again).
Bytes resized_png(const std::string& path, const PngFile& f, std::uint32_t w, std::uint32_t h) {
    EXPECT_TRUE(write_png(path, f));
    Bytes b = file_bytes(path);
    put_number(b, 16, w, 4, true);
    put_number(b, 20, h, 4, true);
    put_number(b, 29, crc32(0, &b[12], 17), 4, true);  // over the chunk type and its 13 bytes
    return b;
}

TEST(PngRead, DamagedAndHugeFilesFailWithMessage) {
    TempDir dir;
    const std::string good = dir.file("good.png"), bad = dir.file("bad.png");
    ASSERT_TRUE(write_png(good, make_png(40, 40, PNG_COLOR_TYPE_RGB_ALPHA, 8)));
    const Bytes bytes = file_bytes(good);
    expect_damage_fails(bad, bytes, {4, 30, bytes.size() / 2, bytes.size() - 13}, 0, read_png,
                        "Error reading PNG file");
    Bytes flipped = bytes;
    flipped[bytes.size() / 2] ^= 0x55;  // inside the image data: its checksum no longer fits
    for (const Bytes& b : {flipped, Bytes{'G', 'I', 'F', '8', '9', 'a'}}) {
        put_bytes(bad, b);
        EXPECT_TRUE(failed_with(read_png(bad), "Error reading PNG file")) << b.size();
    }
    EXPECT_TRUE(failed_with(read_png(dir.file("missing.png")), "Error reading PNG file"));

    // 2^31 - 1 columns of 16-bit colour: refused before libpng makes its row buffers for them.
    put_bytes(bad, resized_png(good, make_png(2, 1, PNG_COLOR_TYPE_RGB, 16), 0x7fffffff, 1));
    EXPECT_LT(peak_growth_mib([&] { (void)read_png(bad); }), 100);

    // Any allocation would fail with another message, so the size message shows the check
    // came first.
    const Bytes huge =
        resized_png(good, make_png(2, 2, PNG_COLOR_TYPE_RGB_ALPHA, 16), 100000, 100000);
    const Bytes wide = resized_png(good, make_png(2, 1, PNG_COLOR_TYPE_GRAY, 1), 2000000, 1);
    AllocationFailureScope restore;
    image_fail_allocations_after(0);
    {
        MemoryLimit limit(std::uint64_t{1} << 30);
        put_bytes(bad, huge);
        EXPECT_TRUE(failed_with(read_png(bad), "Image is too large: 100000 x 100000"));
    }
    put_bytes(bad, wide);
    EXPECT_TRUE(failed_with(read_png(bad), "Image is too large: 2000000 x 1"));
}

// A chunk as a file holds it: length, type, data and the checksum over type and data.
Bytes png_chunk(const char* type, const Bytes& data) {
    Bytes c(8);
    put_number(c, 0, data.size(), 4, true);
    std::memcpy(&c[4], type, 4);
    c.insert(c.end(), data.begin(), data.end());
    c.resize(c.size() + 4);
    put_number(c, c.size() - 4, crc32(0, &c[4], static_cast<uInt>(data.size() + 4)), 4, true);
    return c;
}

// keyword, the bytes between keyword and text, then size bytes of 'a' compressed.
Bytes compressed_text(const std::string& keyword, const Bytes& between, std::size_t size) {
    const std::string text(size, 'a');
    uLongf packed = compressBound(static_cast<uLong>(size));
    Bytes out(keyword.begin(), keyword.end());
    out.push_back(0);
    out.insert(out.end(), between.begin(), between.end());
    const std::size_t at = out.size();
    out.resize(at + packed);
    EXPECT_EQ(compress2(&out[at], &packed, reinterpret_cast<const Bytef*>(text.data()), size, 9),
              Z_OK);
    out.resize(at + packed);
    return out;
}

// Text that expands beyond reason, alone or in hundreds of chunks: one budget covers all text of
// a file, kept or inflated, so the picture opens at once and only what fits is kept.
TEST(PngRead, CompressedTextBombsAreDropped) {
    TempDir dir;
    const std::string path = dir.file("bomb.png");
    PngFile f = make_png(4, 4, PNG_COLOR_TYPE_GRAY, 8);
    f.texts = {{"Title", "kept", PNG_TEXT_COMPRESSION_NONE},
               {"Comment", std::string(80u << 20, 'a'), PNG_TEXT_COMPRESSION_zTXt}};
    ASSERT_TRUE(write_png(path, f));
    EXPECT_LT(std::filesystem::file_size(path), 1u << 20);
    Outcome r = read_png(path);
    ASSERT_TRUE(read_cleanly(r));
    ASSERT_NE(r.picture.tags, nullptr);
    EXPECT_TRUE(r.picture.tags->tag == 800u && r.picture.tags->next == nullptr);

    // 12 MiB texts, 300 under a kept keyword and 300 under one that is not: the first fits, the
    // second is given up when the budget ends, and so is everything after it, however small.
    f.texts = {{"Title", "kept", PNG_TEXT_COMPRESSION_NONE}};
    ASSERT_TRUE(write_png(path, f));
    Bytes bytes = file_bytes(path);
    Bytes bombs;
    const Bytes comment = png_chunk("zTXt", compressed_text("Comment", {0}, 12u << 20));
    const Bytes xmp =
        png_chunk("iTXt", compressed_text("XML:com.adobe.xmp", {1, 0, 0, 0}, 12u << 20));
    for (int i = 0; i < 300; ++i) {
        bombs.insert(bombs.end(), comment.begin(), comment.end());
        bombs.insert(bombs.end(), xmp.begin(), xmp.end());
    }
    const Bytes author = png_chunk("tEXt", {'A', 'u', 't', 'h', 'o', 'r', 0, 'm', 'e'});
    bombs.insert(bombs.end(), author.begin(), author.end());
    const auto idat =
        std::search(bytes.begin(), bytes.end(), std::begin("IDAT"), std::end("IDAT") - 1);
    ASSERT_NE(idat, bytes.end());
    bytes.insert(idat - 4, bombs.begin(), bombs.end());  // after the title, before the pixels
    put_bytes(path, bytes);
    EXPECT_LT(bytes.size(), 16u << 20);
    r = read_png(path);
    ASSERT_TRUE(read_cleanly(r));
    EXPECT_TRUE(pixels_match(f, r.picture, nullptr));
    ASSERT_NE(r.picture.tags, nullptr);
    EXPECT_EQ(tag_text(r.picture, 800), "kept");
    EXPECT_EQ(tag_text(r.picture, 12290), std::string(12u << 20, 'a'));
    EXPECT_EQ(tag_text(r.picture, 315), "(none)");
    EXPECT_LT(peak_growth_mib([&] { (void)read_png(path); }), 50 + sanitizer_shadow_mib);
}

// Every type with its resolution, profile, text and transparency (binary pictures are written
// without alpha); metadata mode 3 leaves the profile out, and so does a profile of the wrong kind
// rather than making an invalid file.
TEST(PngWriter, EveryTypeRoundTripsWithResolutionProfileTextAndAlpha) {
    RecordingScope scope;
    TempDir dir;
    const std::string path = dir.file("t.png");
    const char title[] = "Harbour at dawn";
    for (std::uint32_t type = image_binary; type <= image_color48; ++type) {
        SCOPED_TRACE(type);
        const bool color = type == image_color24 || type == image_color48;
        ProfileBytes profile = color ? builtin_srgb_profile() : builtin_gray_profile();
        Image im = patterned(type, 13, 5, 150.0), back, alpha;
        const Image transparency = patterned(image_gray8, 13, 5);
        ASSERT_FALSE(image_set_profile(im, profile.data, profile.size));
        ASSERT_FALSE(image_add_tag(im, 800, 2, sizeof title, title));
        ASSERT_FALSE(write_png_file(path, im, &transparency, 0));
        ASSERT_FALSE(read_png_file(path, back, &alpha));
        EXPECT_TRUE(same_pixels(im, back));
        EXPECT_TRUE(type == image_binary ? alpha.empty() : same_pixels(transparency, alpha));
        EXPECT_NEAR(back.dpi, 150.0, 0.03);  // pixels per metre, rounded, plus a half on reading
        ASSERT_EQ(back.profile_size, profile.size);
        EXPECT_EQ(0, std::memcmp(back.profile, profile.data, profile.size));
        EXPECT_EQ(tag_text(back, 800), title);

        ASSERT_FALSE(write_png_file(path, im, nullptr, 3));
        ASSERT_FALSE(read_png_file(path, back, &alpha));
        EXPECT_EQ(back.profile_size, 0u);
        EXPECT_TRUE(alpha.empty());
    }
    Image gray = patterned(image_gray8, 4, 4), back;
    const ProfileBytes srgb = builtin_srgb_profile();
    ASSERT_FALSE(image_set_profile(gray, srgb.data, srgb.size));
    ASSERT_FALSE(write_png_file(path, gray, nullptr, 0));
    ASSERT_FALSE(read_png_file(path, back, nullptr));
    EXPECT_EQ(back.profile_size, 0u);
    EXPECT_TRUE(scope.recorder.messages.empty());

    // A transparency image of another size, and floats, are refused.
    const Image wrong = patterned(image_gray8, 3, 4);
    EXPECT_TRUE(write_png_file(dir.file("w.png"), gray, &wrong, 0));
    Image floats;
    ASSERT_FALSE(image_alloc(floats, image_float_color, 2, 2, 72.0));
    EXPECT_TRUE(write_png_file(dir.file("f.png"), floats, nullptr, 0));
}

}  // namespace
}  // namespace tessaly
