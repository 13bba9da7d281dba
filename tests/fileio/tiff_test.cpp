#include <gtest/gtest.h>
#include <tiffio.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

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

Outcome read_tiff(const std::string& path, Image* alpha = nullptr) {
    return read_recorded(
        path, [&](const std::string& p, Image& im) { return read_tiff_file(p, im, alpha); });
}

// Checks every pixel of a gray or RGB picture (and its alpha) against the layout's samples.
void expect_pixels(const TiffLayout& s, const Image& picture, const Image* alpha) {
    ASSERT_TRUE(picture.width == s.width && picture.height == s.height);
    const bool white = s.photometric == PHOTOMETRIC_MINISWHITE;
    const bool color = !white && s.photometric != PHOTOMETRIC_MINISBLACK;
    const std::uint32_t max = (1u << s.bits) - 1;
    for (std::uint32_t y = 0; y < s.height; ++y) {
        for (std::uint32_t x = 0; x < s.width; ++x) {
            const auto got = pixel_at(picture, x, y);
            for (std::uint32_t c = 0; c < 3; ++c) {
                std::uint32_t want = s.sample(x, y, color ? c : 0);
                if (white) want = max - want;
                if (s.bits < 8) want = (want * 255 + max / 2) / max;  // 1-bit: set bits are white
                ASSERT_EQ(got[c], want) << "x " << x << " y " << y << " c " << c;
            }
            if (alpha) {
                const std::uint32_t a = s.sample(x, y, color ? 3 : 1);
                ASSERT_EQ(top_row(*alpha, y)[x], s.bits == 16 ? to8[a] : a) << x << "," << y;
            }
        }
    }
}

TEST(TiffRead, GrayBinaryAndRgbDepthsPhotometricsAndCompressionsMatchEveryPixel) {
    TempDir dir;
    struct Case {
        std::uint16_t bits, samples, photometric, compression;
        std::uint32_t type;
    };
    const std::uint16_t black = PHOTOMETRIC_MINISBLACK, white = PHOTOMETRIC_MINISWHITE,
                        none = COMPRESSION_NONE;
    std::vector<Case> all = {
        {1, 1, black, none, image_binary},  {1, 1, white, none, image_binary},
        {8, 1, black, none, image_gray8},   {8, 1, white, none, image_gray8},
        {4, 1, black, none, image_gray8},   {2, 1, white, none, image_gray8},
        {16, 1, black, none, image_gray16}, {16, 1, white, none, image_gray16}};
    for (std::uint16_t bits : {8, 16})
        for (std::uint16_t compression :
             {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS})
            all.push_back(
                {bits, 3, PHOTOMETRIC_RGB, compression, bits == 8 ? image_color24 : image_color48});
    for (const Case& c : all) {
        SCOPED_TRACE(::testing::Message() << c.bits << " bits " << c.samples << " samples "
                                          << c.photometric << " " << c.compression);
        const TiffLayout s{.width = 11,
                           .height = 6,
                           .bits = c.bits,
                           .samples = c.samples,
                           .photometric = c.photometric,
                           .compression = c.compression};
        ASSERT_TRUE(write_tiff(dir.file("t.tif"), s));
        Image alpha;
        const Outcome r = read_tiff(dir.file("t.tif"), &alpha);
        ASSERT_TRUE(read_cleanly(r));
        EXPECT_EQ(r.picture.type, c.type);
        EXPECT_TRUE(alpha.empty());
        expect_pixels(s, r.picture, nullptr);
        // Bits past the width of a 1-bit picture stay clear, like a freshly allocated row.
        for (std::uint32_t y = 0; y < s.height && c.bits == 1; ++y) {
            EXPECT_EQ(top_row(r.picture, y)[1] & 0x1F, 0);
        }
    }
}

TEST(TiffRead, PaletteGivesGrayOnlyWhenEveryEntryIsGray) {
    TempDir dir;
    for (bool gray : {true, false}) {
        std::array<std::uint16_t, 16> red{}, green{}, blue{};
        for (std::uint32_t i = 0; i < 16; ++i) {
            red[i] = static_cast<std::uint16_t>(i * 4369);  // 16-bit map: i * 17 in 8 bits
            green[i] = gray ? red[i] : static_cast<std::uint16_t>((15 - i) * 4369);
            blue[i] = gray ? red[i] : static_cast<std::uint16_t>(i * 257);
        }
        TiffLayout s{.bits = 4, .photometric = PHOTOMETRIC_PALETTE};
        s.more = [&](TIFF* tif) {
            TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
        };
        ASSERT_TRUE(write_tiff(dir.file("palette.tif"), s));
        const Outcome r = read_tiff(dir.file("palette.tif"));
        ASSERT_TRUE(read_cleanly(r));
        ASSERT_EQ(r.picture.type, gray ? image_gray8 : image_color24);
        for (std::uint32_t y = 0; y < s.height; ++y) {
            for (std::uint32_t x = 0; x < s.width; ++x) {
                const std::uint32_t i = s.sample(x, y, 0);
                const std::uint8_t* row = top_row(r.picture, y);
                if (gray) {
                    EXPECT_EQ(row[x], i * 17);
                } else {
                    EXPECT_EQ(row[3 * x], to8[blue[i]]);
                    EXPECT_EQ(row[3 * x + 1], to8[green[i]]);
                    EXPECT_EQ(row[3 * x + 2], to8[red[i]]);
                }
            }
        }
    }
}

// Alpha (associated or not, with gray or color, contiguous or in planes of its own, in strips or
// in tiles with partial ones on the right and at the bottom) goes to the transparency image, or
// is dropped without a place for it; an unspecified fourth sample is padding, not alpha.
TEST(TiffRead, AlphaTilesAndSeparatePlanes) {
    TempDir dir;
    struct Case {
        std::uint16_t bits, samples, photometric, extra, planar;
        std::uint32_t tile;
    };
    const std::uint16_t rgb = PHOTOMETRIC_RGB, separate = PLANARCONFIG_SEPARATE,
                        contig = PLANARCONFIG_CONTIG, alpha = EXTRASAMPLE_UNASSALPHA;
    for (const Case& c :
         {Case{8, 4, rgb, alpha, contig, 0}, Case{16, 4, rgb, EXTRASAMPLE_ASSOCALPHA, contig, 0},
          Case{8, 2, PHOTOMETRIC_MINISBLACK, alpha, contig, 0},
          Case{8, 4, rgb, EXTRASAMPLE_UNSPECIFIED, contig, 0}, Case{8, 4, rgb, alpha, contig, 16},
          Case{16, 4, rgb, alpha, contig, 16}, Case{8, 4, rgb, alpha, separate, 0},
          Case{16, 4, rgb, alpha, separate, 16}}) {
        SCOPED_TRACE(::testing::Message() << c.bits << " " << c.samples << " " << c.extra << " "
                                          << c.planar << " " << c.tile);
        const TiffLayout s{
            .width = 37,
            .height = 21,
            .bits = c.bits,
            .samples = c.samples,
            .photometric = c.photometric,
            .compression = std::uint16_t(c.tile ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_LZW),
            .planar = c.planar,
            .extra = c.extra,
            .tile = c.tile,
            .rows_per_strip = 5};
        const std::string path = dir.file("alpha.tif");
        ASSERT_TRUE(write_tiff(path, s));
        Image transparency;
        const Outcome r = read_tiff(path, &transparency);
        ASSERT_TRUE(read_cleanly(r));
        const bool padding = c.extra == EXTRASAMPLE_UNSPECIFIED;
        EXPECT_EQ(transparency.type, padding ? image_empty : image_gray8);
        expect_pixels(s, r.picture, padding ? nullptr : &transparency);
        EXPECT_TRUE(image_equal(read_tiff(path).picture, r.picture));
    }
}

double rational(const MetadataTag* t) {
    return t && t->field_type == 5 ? double(number_at(t->data)) / double(number_at(t->data + 4))
                                   : -1.0;
}

// Resolution, profile and tags of the main directory and of the EXIF one; storage tags and the
// profile are not metadata.
TEST(TiffRead, ResolutionProfileAndTagsAreCarriedOver) {
    TempDir dir;
    const std::string path = dir.file("meta.tif");
    std::vector<std::uint8_t> profile(300);
    for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<std::uint8_t>(i * 7);
    {
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tif, nullptr);
        ASSERT_TRUE(TIFFCreateEXIFDirectory(tif) == 0);
        TIFFSetField(tif, EXIFTAG_ISOSPEEDRATINGS, 1, std::array<std::uint16_t, 1>{400}.data());
        TIFFSetField(tif, EXIFTAG_DATETIMEORIGINAL, "2024:05:01 10:20:30");
        TIFFSetField(tif, EXIFTAG_FNUMBER, 2.8);
        std::uint64_t exif_offset = 0;
        ASSERT_TRUE(TIFFWriteCustomDirectory(tif, &exif_offset));
        TIFFFreeDirectory(tif);
        TIFFCreateDirectory(tif);
        const TiffLayout s;
        for (auto [tag, value] : {std::pair{TIFFTAG_IMAGEWIDTH, s.width},
                                  {TIFFTAG_IMAGELENGTH, s.height},
                                  {TIFFTAG_BITSPERSAMPLE, 8u},
                                  {TIFFTAG_ROWSPERSTRIP, s.height},
                                  {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK},
                                  {TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER}})
            TIFFSetField(tif, tag, value);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 118.0f);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 59.5f);
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(profile.size()), profile.data());
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "a harbour at dusk");
        TIFFSetField(tif, TIFFTAG_EXIFIFD, exif_offset);
        for (std::uint32_t y = 0; y < s.height; ++y)
            ASSERT_GE(TIFFWriteScanline(tif, tiff_line(s, y, 0, 1, s.width).data(), y, 0), 0);
        TIFFClose(tif);
    }
    const Outcome r = read_tiff(path);
    ASSERT_TRUE(read_cleanly(r));
    EXPECT_DOUBLE_EQ(r.picture.dpi, 118.0 * 2.54);
    EXPECT_EQ(Bytes(r.picture.profile, r.picture.profile + r.picture.profile_size), profile);
    EXPECT_EQ(tag_text(r.picture, 270), "a harbour at dusk");
    EXPECT_TRUE(find_tag(r.picture, 270)->field_type == 2 &&
                find_tag(r.picture, 270)->count == 18u);
    EXPECT_DOUBLE_EQ(rational(find_tag(r.picture, 283)), 59.5);
    EXPECT_EQ(tag_short(r.picture, 296), RESUNIT_CENTIMETER);
    EXPECT_EQ(tag_short(r.picture, 34855), 400);
    EXPECT_EQ(find_tag(r.picture, 34855)->field_type, 3);
    EXPECT_EQ(tag_text(r.picture, 36867), "2024:05:01 10:20:30");
    EXPECT_NEAR(rational(find_tag(r.picture, 33437)), 2.8, 1e-6);
    for (std::uint32_t structural : {256u, 257u, 258u, 273u, 279u, 34665u, 34675u})
        EXPECT_EQ(find_tag(r.picture, structural), nullptr) << structural;

    // Without a unit the resolution has no physical meaning; inches are taken as they are.
    for (auto [unit, dpi] : {std::pair{RESUNIT_NONE, 0.0}, std::pair{RESUNIT_INCH, 300.0}}) {
        TiffLayout s{.more = [u = unit](TIFF* tif) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, u);
        }};
        ASSERT_TRUE(write_tiff(dir.file("unit.tif"), s));
        EXPECT_EQ(read_tiff(dir.file("unit.tif")).picture.dpi, dpi) << unit;
    }
}

TEST(TiffRead, OrientationSixTurnsClockwiseAndReadsOne) {
    TempDir dir;
    TiffLayout s{
        .width = 4,
        .height = 3,
        .samples = 4,
        .photometric = PHOTOMETRIC_RGB,
        .extra = EXTRASAMPLE_UNASSALPHA,
        .more = [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_RIGHTTOP); }};
    ASSERT_TRUE(write_tiff(dir.file("o6.tif"), s));
    Image alpha;
    const Outcome r = read_tiff(dir.file("o6.tif"), &alpha);
    ASSERT_TRUE(read_cleanly(r));
    ASSERT_TRUE(r.picture.width == 3u && r.picture.height == 4u && alpha.width == 3u);
    // Turned clockwise: the stored first column, read bottom to top, is the upright top line.
    for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(top_row(r.picture, y)[3 * x + 2], s.sample(y, 2 - x, 0));
            EXPECT_EQ(top_row(alpha, y)[x], s.sample(y, 2 - x, 3));
        }
    EXPECT_EQ(tag_short(r.picture, 274), 1);
}

// A little-endian TIFF with one 8-bit gray strip, assembled by hand so that it can lie.
Bytes hand_tiff(std::int64_t width, std::int64_t height, std::int64_t strip_bytes) {
    Block b(false);
    auto n = [&](std::int64_t v) { return b.numbers(4, {v}); };
    b.ifd({{256, 4, 1, n(width)},
           {257, 4, 1, n(height)},
           {258, 3, 1, n(8)},
           {262, 3, 1, n(1)},
           {273, 4, 1, n(8 + 2 + 7 * 12 + 4)},
           {278, 4, 1, n(height)},
           {279, 4, 1, n(strip_bytes)}});
    for (std::uint8_t i = 0; i < 64; ++i) b.bytes.push_back(i);
    return b.bytes;
}

TEST(TiffRead, UnsupportedHostileAndBrokenFilesFailWithTheirMessage) {
    TempDir dir;
    // CMYK, 12 bits, 4-bit RGB, signed samples.
    TiffLayout signed16{.bits = 16};
    signed16.more = [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_INT); };
    for (const TiffLayout& s :
         {TiffLayout{.samples = 4, .photometric = PHOTOMETRIC_SEPARATED}, TiffLayout{.bits = 12},
          TiffLayout{.bits = 4, .samples = 3, .photometric = PHOTOMETRIC_RGB}, signed16}) {
        ASSERT_TRUE(write_tiff(dir.file("u.tif"), s));
        EXPECT_TRUE(failed_with(read_tiff(dir.file("u.tif")), "Unsupported image format"));
    }

    // Sound as a control.
    put_bytes(dir.file("ok.tif"), hand_tiff(8, 8, 64));
    const Outcome ok = read_tiff(dir.file("ok.tif"));
    ASSERT_FALSE(ok.failed);
    EXPECT_EQ(top_row(ok.picture, 1)[2], 10);
    // A declared size far beyond memory is refused before any pixel is decoded.
    put_bytes(dir.file("huge.tif"), hand_tiff(900000, 900000, 64));
    EXPECT_TRUE(failed_with(read_tiff(dir.file("huge.tif")), "Image is too large:", true));
    // The strip is shorter than the picture needs.
    put_bytes(dir.file("short.tif"), hand_tiff(8, 8, 64));
    std::filesystem::resize_file(dir.file("short.tif"), 8 + 2 + 7 * 12 + 4 + 20);
    EXPECT_TRUE(failed_with(read_tiff(dir.file("short.tif")), "Error reading TIFF file"));
    // Not a TIFF at all, and no file.
    put_bytes(dir.file("junk.tif"), {'I', 'I', 7, 7, 1, 2, 3});
    EXPECT_TRUE(failed_with(read_tiff(dir.file("junk.tif")), "Error reading TIFF file"));
    EXPECT_TRUE(read_tiff(dir.file("missing.tif")).failed);
}

TEST(TiffWriter, ProfileLeftOutAndResolutionRepaired) {
    RecordingScope scope;
    TempDir dir;
    Image im;
    ASSERT_FALSE(image_alloc(im, image_gray8, 4, 4, 0.0));
    const std::uint8_t profile[] = {1, 2, 3, 4};
    ASSERT_FALSE(image_set_profile(im, profile, sizeof profile));
    std::string path = dir.file("m3.tif");
    ASSERT_FALSE(write_tiff_file(path, im, 1, 3));
    Image back;
    ASSERT_FALSE(read_tiff_file(path, back, nullptr));
    EXPECT_EQ(back.profile_size, 0u);
    EXPECT_NEAR(back.dpi, 72.0, 0.01);
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"Illegal image dpi -- will be set to 72.0"});
    // A folder that does not exist: nothing is left behind.
    EXPECT_TRUE(write_tiff_file(dir.file("no/such/x.tif"), im, 0, 0));
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Error writing TIFF file"});
}

}  // namespace
}  // namespace tessaly
