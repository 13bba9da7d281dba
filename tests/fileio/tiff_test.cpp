#include <gtest/gtest.h>
#include <tiffio.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/tables.h"
#include "fileio/image_file.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::RecordingScope;
using testing::TempDir;

// What a test TIFF holds: samples are given top line first, in file order.
struct TiffLayout {
    std::uint32_t width = 5, height = 3;
    std::uint16_t bits = 8, samples = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t extra = 0xFFFF;  // extra sample kind, none when 0xFFFF
    std::uint32_t tile = 0;        // tile side, stripped when 0
    std::uint32_t rows_per_strip = 2;
    std::function<void(TIFF*)> more;  // extra tags
};

// The sample of pixel (x, y), channel c, for a test layout: distinct values that fit the depth.
std::uint32_t sample_value(const TiffLayout& s, std::uint32_t x, std::uint32_t y, std::uint32_t c) {
    const std::uint32_t v = x * 37 + y * 101 + c * 53 + 7;
    if (s.bits == 16) return (v * 977) & 0xFFFF;
    return v & ((1u << s.bits) - 1);
}

// Packs one file line of the layout's samples (all samples, or one plane).
std::vector<std::uint8_t> pack_line(const TiffLayout& s, std::uint32_t y, std::uint32_t first,
                                    std::uint32_t count, std::uint32_t width) {
    std::vector<std::uint8_t> line((std::size_t{width} * count * s.bits + 7) / 8, 0);
    std::size_t bit = 0;
    for (std::uint32_t x = 0; x < width; ++x) {
        for (std::uint32_t c = first; c < first + count; ++c, bit += s.bits) {
            const std::uint32_t v = x < s.width ? sample_value(s, x, y, c) : 0;
            if (s.bits == 16) {
                const std::uint16_t h = static_cast<std::uint16_t>(v);
                std::memcpy(&line[bit / 8], &h, 2);
            } else if (s.bits == 8) {
                line[bit / 8] = static_cast<std::uint8_t>(v);
            } else {
                // Most significant bit first, whatever the depth (12-bit samples span bytes).
                for (std::uint32_t k = 0; k < s.bits; ++k) {
                    const std::size_t at = bit + k;
                    if ((v >> (s.bits - 1 - k)) & 1)
                        line[at / 8] |= static_cast<std::uint8_t>(0x80u >> (at % 8));
                }
            }
        }
    }
    return line;
}

bool write_tiff(const std::string& path, const TiffLayout& s) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.planar);
    if (s.extra != 0xFFFF) {
        std::uint16_t kinds[1] = {s.extra};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, kinds);
    }
    if (s.compression == COMPRESSION_JPEG) TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 100);
    if (s.more) s.more(tif);
    const std::uint32_t planes = s.planar == PLANARCONFIG_SEPARATE ? s.samples : 1;
    const std::uint32_t per_plane = planes == 1 ? s.samples : 1;
    bool ok = true;
    if (s.tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
        std::vector<std::uint8_t> tile(static_cast<std::size_t>(TIFFTileSize(tif)));
        const std::size_t tile_line = tile.size() / s.tile;
        for (std::uint32_t p = 0; p < planes; ++p)
            for (std::uint32_t ty = 0; ty < s.height; ty += s.tile)
                for (std::uint32_t tx = 0; tx < s.width; tx += s.tile) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (std::uint32_t r = 0; r < s.tile && ty + r < s.height; ++r) {
                        auto line = pack_line(s, ty + r, p * per_plane, per_plane, tx + s.tile);
                        const std::size_t from = std::size_t{tx} * per_plane * s.bits / 8;
                        std::memcpy(&tile[r * tile_line], &line[from], tile_line);
                    }
                    ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0,
                                             static_cast<std::uint16_t>(p)) >= 0;
                }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.rows_per_strip);
        for (std::uint32_t p = 0; p < planes; ++p)
            for (std::uint32_t y = 0; y < s.height; ++y) {
                auto line = pack_line(s, y, p * per_plane, per_plane, s.width);
                ok = ok &&
                     TIFFWriteScanline(tif, line.data(), y, static_cast<std::uint16_t>(p)) >= 0;
            }
    }
    TIFFClose(tif);
    return ok;
}

// The picture's pixel at column x of line y counted from the top.
const std::uint8_t* top_row(const Image& image, std::uint32_t y) {
    return image.rows[image.height - 1 - y];
}

std::uint8_t scale_to8(std::uint32_t v, std::uint32_t bits) {
    const std::uint32_t max = (1u << bits) - 1;
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
}

// Checks every pixel of a gray or RGB picture (and its alpha) against the layout's samples.
void expect_pixels(const TiffLayout& s, const Image& picture, const Image* alpha,
                   int tolerance = 0) {
    ASSERT_EQ(picture.width, s.width);
    ASSERT_EQ(picture.height, s.height);
    const bool color = s.photometric == PHOTOMETRIC_RGB;
    const bool invert = s.photometric == PHOTOMETRIC_MINISWHITE;
    const std::uint32_t max = (1u << s.bits) - 1;
    int worst = 0;
    for (std::uint32_t y = 0; y < s.height; ++y) {
        const std::uint8_t* row = top_row(picture, y);
        for (std::uint32_t x = 0; x < s.width; ++x) {
            for (std::uint32_t c = 0; c < (color ? 3u : 1u); ++c) {
                std::uint32_t want = sample_value(s, x, y, c);
                if (invert) want = max - want;
                const std::size_t i = color ? 3 * std::size_t{x} + (2 - c) : x;
                std::uint32_t got;
                if (s.bits == 16) {
                    got = sample16(row, i);
                } else {
                    got = row[i];
                    if (s.bits < 8) want = scale_to8(want, s.bits);
                }
                worst = std::max(worst, std::abs(static_cast<int>(got) - static_cast<int>(want)));
                if (tolerance == 0) {
                    ASSERT_EQ(got, want) << "x " << x << " y " << y << " c " << c;
                }
            }
            if (alpha) {
                const std::uint32_t a = sample_value(s, x, y, color ? 3 : 1);
                ASSERT_EQ(top_row(*alpha, y)[x], s.bits == 16 ? to8[a] : a) << x << "," << y;
            }
        }
    }
    EXPECT_LE(worst, tolerance);
}

struct Read {
    Image picture, alpha;
    bool failed = true;
    std::vector<std::string> errors;
};

Read read_tiff(const std::string& path) {
    RecordingScope scope;
    Read r;
    r.failed = read_tiff_file(path, r.picture, &r.alpha);
    r.errors = scope.recorder.errors();
    return r;
}

const MetadataTag* find_tag(const Image& image, std::uint32_t tag) {
    for (const MetadataTag* t = image.tags; t; t = t->next)
        if (t->tag == tag) return t;
    return nullptr;
}

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24;
}

TEST(TiffRead, GrayDepthsAndPhotometricsMatchEveryPixel) {
    TempDir dir;
    struct Case {
        std::uint16_t bits, photometric;
        std::uint32_t type;
    };
    const Case cases[] = {
        {8, PHOTOMETRIC_MINISBLACK, image_gray8},   {8, PHOTOMETRIC_MINISWHITE, image_gray8},
        {4, PHOTOMETRIC_MINISBLACK, image_gray8},   {2, PHOTOMETRIC_MINISWHITE, image_gray8},
        {16, PHOTOMETRIC_MINISBLACK, image_gray16}, {16, PHOTOMETRIC_MINISWHITE, image_gray16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "bits " << c.bits << " photometric " << c.photometric);
        TiffLayout s;
        s.width = 7;
        s.height = 5;
        s.bits = c.bits;
        s.photometric = c.photometric;
        const std::string path = dir.file("gray.tif");
        ASSERT_TRUE(write_tiff(path, s));
        Read r = read_tiff(path);
        ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
        EXPECT_EQ(r.picture.type, c.type);
        EXPECT_TRUE(r.alpha.empty());
        expect_pixels(s, r.picture, nullptr);
    }
}

TEST(TiffRead, OneBitBecomesBinaryWithSetBitsWhite) {
    TempDir dir;
    for (std::uint16_t photometric : {PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE}) {
        TiffLayout s;
        s.width = 11;  // a partial last byte
        s.height = 4;
        s.bits = 1;
        s.photometric = photometric;
        const std::string path = dir.file("bw.tif");
        ASSERT_TRUE(write_tiff(path, s));
        Read r = read_tiff(path);
        ASSERT_FALSE(r.failed);
        ASSERT_EQ(r.picture.type, image_binary);
        for (std::uint32_t y = 0; y < s.height; ++y) {
            for (std::uint32_t x = 0; x < s.width; ++x) {
                const bool one = sample_value(s, x, y, 0) != 0;
                const bool white = photometric == PHOTOMETRIC_MINISBLACK ? one : !one;
                EXPECT_EQ(bit_get(top_row(r.picture, y), x), white ? 255 : 0) << x << "," << y;
            }
            // Bits past the width stay clear, like a freshly allocated row.
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
        TiffLayout s;
        s.bits = 4;
        s.photometric = PHOTOMETRIC_PALETTE;
        s.more = [&](TIFF* tif) {
            TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
        };
        const std::string path = dir.file("palette.tif");
        ASSERT_TRUE(write_tiff(path, s));
        Read r = read_tiff(path);
        ASSERT_FALSE(r.failed);
        ASSERT_EQ(r.picture.type, gray ? image_gray8 : image_color24);
        for (std::uint32_t y = 0; y < s.height; ++y) {
            for (std::uint32_t x = 0; x < s.width; ++x) {
                const std::uint32_t i = sample_value(s, x, y, 0);
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

TEST(TiffRead, RgbInEveryCompressionAndDepthIsStoredBlueGreenRed) {
    TempDir dir;
    for (std::uint16_t bits : {8, 16}) {
        for (std::uint16_t compression :
             {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS}) {
            SCOPED_TRACE(::testing::Message() << "bits " << bits << " compression " << compression);
            TiffLayout s;
            s.width = 9;
            s.height = 6;
            s.bits = bits;
            s.samples = 3;
            s.photometric = PHOTOMETRIC_RGB;
            s.compression = compression;
            const std::string path = dir.file("rgb.tif");
            ASSERT_TRUE(write_tiff(path, s));
            Read r = read_tiff(path);
            ASSERT_FALSE(r.failed);
            EXPECT_EQ(r.picture.type, bits == 8 ? image_color24 : image_color48);
            expect_pixels(s, r.picture, nullptr);
        }
    }
}

TEST(TiffRead, JpegCompressedRgbIsClose) {
    TempDir dir;
    TiffLayout s;
    s.width = 16;
    s.height = 16;
    s.samples = 3;
    s.photometric = PHOTOMETRIC_RGB;
    s.compression = COMPRESSION_JPEG;
    s.rows_per_strip = 8;
    // A smooth picture, so that the lossy codec stays close to it.
    s.more = nullptr;
    const std::string path = dir.file("jpeg.tif");
    {
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tif, nullptr);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 100);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
        for (std::uint32_t y = 0; y < 16; ++y) {
            std::uint8_t line[48];
            for (std::uint32_t x = 0; x < 16; ++x) {
                line[3 * x] = static_cast<std::uint8_t>(40 + x * 8);
                line[3 * x + 1] = static_cast<std::uint8_t>(60 + y * 8);
                line[3 * x + 2] = 128;
            }
            ASSERT_GE(TIFFWriteScanline(tif, line, y, 0), 0);
        }
        TIFFClose(tif);
    }
    Read r = read_tiff(path);
    ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
    ASSERT_EQ(r.picture.type, image_color24);
    for (std::uint32_t y = 0; y < 16; ++y)
        for (std::uint32_t x = 0; x < 16; ++x) {
            const std::uint8_t* p = top_row(r.picture, y) + 3 * x;
            EXPECT_NEAR(p[2], 40 + x * 8, 6);
            EXPECT_NEAR(p[1], 60 + y * 8, 6);
            EXPECT_NEAR(p[0], 128, 6);
        }
}

TEST(TiffRead, AlphaGoesToTheTransparencyImage) {
    TempDir dir;
    struct Case {
        std::uint16_t bits, samples, photometric, extra;
    };
    const Case cases[] = {{8, 4, PHOTOMETRIC_RGB, EXTRASAMPLE_UNASSALPHA},
                          {16, 4, PHOTOMETRIC_RGB, EXTRASAMPLE_ASSOCALPHA},
                          {8, 2, PHOTOMETRIC_MINISBLACK, EXTRASAMPLE_UNASSALPHA}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "bits " << c.bits << " samples " << c.samples);
        TiffLayout s;
        s.bits = c.bits;
        s.samples = c.samples;
        s.photometric = c.photometric;
        s.extra = c.extra;
        s.compression = COMPRESSION_LZW;
        const std::string path = dir.file("alpha.tif");
        ASSERT_TRUE(write_tiff(path, s));
        Read r = read_tiff(path);
        ASSERT_FALSE(r.failed);
        ASSERT_EQ(r.alpha.type, image_gray8);
        expect_pixels(s, r.picture, &r.alpha);

        // Without a place for it the alpha is simply dropped.
        RecordingScope scope;
        Image picture;
        ASSERT_FALSE(read_tiff_file(path, picture, nullptr));
        EXPECT_TRUE(image_equal(picture, r.picture));
    }

    // An unspecified fourth sample is padding, not alpha.
    TiffLayout s;
    s.samples = 4;
    s.photometric = PHOTOMETRIC_RGB;
    s.extra = EXTRASAMPLE_UNSPECIFIED;
    ASSERT_TRUE(write_tiff(dir.file("pad.tif"), s));
    Read r = read_tiff(dir.file("pad.tif"));
    ASSERT_FALSE(r.failed);
    EXPECT_TRUE(r.alpha.empty());
    expect_pixels(s, r.picture, nullptr);
}

TEST(TiffRead, TiledAndSeparatePlanesReadLikeStrips) {
    TempDir dir;
    struct Case {
        std::uint16_t bits, planar;
        std::uint32_t tile;
    };
    const Case cases[] = {{8, PLANARCONFIG_CONTIG, 16},
                          {16, PLANARCONFIG_CONTIG, 16},
                          {8, PLANARCONFIG_SEPARATE, 0},
                          {16, PLANARCONFIG_SEPARATE, 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "bits " << c.bits << " planar " << c.planar << " tile " << c.tile);
        TiffLayout s;
        s.width = 37;  // partial tiles on the right and at the bottom
        s.height = 21;
        s.bits = c.bits;
        s.samples = 4;
        s.extra = EXTRASAMPLE_UNASSALPHA;
        s.photometric = PHOTOMETRIC_RGB;
        s.planar = c.planar;
        s.tile = c.tile;
        s.rows_per_strip = 5;
        s.compression = COMPRESSION_ADOBE_DEFLATE;
        ASSERT_TRUE(write_tiff(dir.file("t.tif"), s));
        Read r = read_tiff(dir.file("t.tif"));
        ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
        expect_pixels(s, r.picture, &r.alpha);
    }
}

TEST(TiffRead, ResolutionProfileAndTagsAreCarriedOver) {
    TempDir dir;
    std::vector<std::uint8_t> profile(300);
    for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<std::uint8_t>(i * 7);
    TiffLayout s;
    s.samples = 3;
    s.photometric = PHOTOMETRIC_RGB;
    s.more = [&](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 118.0f);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 59.5f);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(profile.size()),
                     profile.data());
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "a harbour at dusk");
        TIFFSetField(tif, TIFFTAG_ARTIST, "Ann");
    };
    ASSERT_TRUE(write_tiff(dir.file("meta.tif"), s));
    Read r = read_tiff(dir.file("meta.tif"));
    ASSERT_FALSE(r.failed);
    EXPECT_DOUBLE_EQ(r.picture.dpi, 118.0 * 2.54);
    ASSERT_EQ(r.picture.profile_size, profile.size());
    EXPECT_EQ(std::memcmp(r.picture.profile, profile.data(), profile.size()), 0);

    const MetadataTag* description = find_tag(r.picture, 270);
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(description->field_type, 2);
    EXPECT_EQ(description->count, 18u);
    EXPECT_STREQ(reinterpret_cast<const char*>(description->data), "a harbour at dusk");
    ASSERT_NE(find_tag(r.picture, 315), nullptr);
    const MetadataTag* y = find_tag(r.picture, 283);
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(y->field_type, 5);
    EXPECT_DOUBLE_EQ(double(le32(y->data)) / le32(y->data + 4), 59.5);
    const MetadataTag* unit = find_tag(r.picture, 296);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->data[0], RESUNIT_CENTIMETER);
    // Storage tags and the profile are not metadata.
    for (std::uint32_t structural : {256u, 257u, 258u, 273u, 279u, 34675u})
        EXPECT_EQ(find_tag(r.picture, structural), nullptr) << structural;

    // Without a unit the resolution has no physical meaning.
    s.more = [](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0f);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE);
    };
    ASSERT_TRUE(write_tiff(dir.file("nounit.tif"), s));
    EXPECT_EQ(read_tiff(dir.file("nounit.tif")).picture.dpi, 0.0);
    s.more = [](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    };
    ASSERT_TRUE(write_tiff(dir.file("inch.tif"), s));
    EXPECT_EQ(read_tiff(dir.file("inch.tif")).picture.dpi, 300.0);
}

TEST(TiffRead, ExifDirectoryTagsBecomeMetadata) {
    TempDir dir;
    const std::string path = dir.file("exif.tif");
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
        TiffLayout s;
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.height);
        TIFFSetField(tif, TIFFTAG_EXIFIFD, exif_offset);
        for (std::uint32_t y = 0; y < s.height; ++y) {
            auto line = pack_line(s, y, 0, 1, s.width);
            ASSERT_GE(TIFFWriteScanline(tif, line.data(), y, 0), 0);
        }
        TIFFClose(tif);
    }
    Read r = read_tiff(path);
    ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
    const MetadataTag* iso = find_tag(r.picture, 34855);
    ASSERT_NE(iso, nullptr);
    EXPECT_EQ(iso->field_type, 3);
    EXPECT_EQ(iso->data[0] | iso->data[1] << 8, 400);
    const MetadataTag* date = find_tag(r.picture, 36867);
    ASSERT_NE(date, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(date->data), "2024:05:01 10:20:30");
    const MetadataTag* f = find_tag(r.picture, 33437);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->field_type, 5);
    EXPECT_NEAR(double(le32(f->data)) / le32(f->data + 4), 2.8, 1e-6);
    EXPECT_EQ(find_tag(r.picture, 34665), nullptr);
}

TEST(TiffRead, OrientationSixTurnsClockwiseAndReadsOne) {
    TempDir dir;
    TiffLayout s;
    s.width = 4;
    s.height = 3;
    s.samples = 4;
    s.photometric = PHOTOMETRIC_RGB;
    s.extra = EXTRASAMPLE_UNASSALPHA;
    s.more = [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_RIGHTTOP); };
    ASSERT_TRUE(write_tiff(dir.file("o6.tif"), s));
    Read r = read_tiff(dir.file("o6.tif"));
    ASSERT_FALSE(r.failed);
    ASSERT_EQ(r.picture.width, 3u);
    ASSERT_EQ(r.picture.height, 4u);
    ASSERT_EQ(r.alpha.width, 3u);
    // Turned clockwise: the stored first column, read bottom to top, is the upright top line.
    for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 0; x < 3; ++x) {
            const std::uint32_t sx = y, sy = s.height - 1 - x;
            EXPECT_EQ(top_row(r.picture, y)[3 * x + 2], sample_value(s, sx, sy, 0));
            EXPECT_EQ(top_row(r.alpha, y)[x], sample_value(s, sx, sy, 3));
        }
    const MetadataTag* orientation = find_tag(r.picture, 274);
    ASSERT_NE(orientation, nullptr);
    EXPECT_EQ(orientation->data[0] | orientation->data[1] << 8, 1);
}

TEST(TiffRead, UnsupportedLayoutsFailWithTheirMessage) {
    TempDir dir;
    TiffLayout cmyk;
    cmyk.samples = 4;
    cmyk.photometric = PHOTOMETRIC_SEPARATED;
    TiffLayout twelve;
    twelve.bits = 12;
    TiffLayout rgb4;
    rgb4.bits = 4;
    rgb4.samples = 3;
    rgb4.photometric = PHOTOMETRIC_RGB;
    TiffLayout floats;
    floats.bits = 16;
    floats.more = [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_INT); };
    for (const TiffLayout* s : {&cmyk, &twelve, &rgb4, &floats}) {
        ASSERT_TRUE(write_tiff(dir.file("u.tif"), *s));
        Read r = read_tiff(dir.file("u.tif"));
        EXPECT_TRUE(r.failed);
        EXPECT_TRUE(testing::is_empty_record(r.picture));
        EXPECT_EQ(r.errors, std::vector<std::string>{"Unsupported image format"});
    }
}

// A little-endian TIFF with one 8-bit gray strip, assembled by hand so that it can lie.
std::vector<std::uint8_t> hand_tiff(std::uint32_t width, std::uint32_t height,
                                    std::uint32_t strip_bytes) {
    std::vector<std::uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](std::uint32_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    const std::uint32_t entries = 7;
    const std::uint32_t data = 8 + 2 + entries * 12 + 4;
    u16(entries);
    auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t value) {
        u16(tag);
        u16(type);
        u32(1);
        if (type == 3) {
            u16(value);
            u16(0);
        } else {
            u32(value);
        }
    };
    entry(256, 4, width);
    entry(257, 4, height);
    entry(258, 3, 8);
    entry(262, 3, 1);
    entry(273, 4, data);
    entry(278, 4, height);
    entry(279, 4, strip_bytes);
    u32(0);
    for (std::uint32_t i = 0; i < 64; ++i) b.push_back(static_cast<std::uint8_t>(i));
    return b;
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

TEST(TiffRead, HostileAndBrokenFilesFailCleanly) {
    TempDir dir;
    // Sound as a control.
    write_bytes(dir.file("ok.tif"), hand_tiff(8, 8, 64));
    Read ok = read_tiff(dir.file("ok.tif"));
    ASSERT_FALSE(ok.failed);
    EXPECT_EQ(top_row(ok.picture, 1)[2], 10);

    // A declared size far beyond memory is refused before any pixel is decoded.
    write_bytes(dir.file("huge.tif"), hand_tiff(900000, 900000, 64));
    Read huge = read_tiff(dir.file("huge.tif"));
    EXPECT_TRUE(huge.failed);
    ASSERT_EQ(huge.errors.size(), 1u);
    EXPECT_EQ(huge.errors[0].rfind("Image is too large:", 0), 0u) << huge.errors[0];

    // The strip is shorter than the picture needs.
    write_bytes(dir.file("short.tif"), hand_tiff(8, 8, 64));
    std::filesystem::resize_file(dir.file("short.tif"), 8 + 2 + 7 * 12 + 4 + 20);
    Read cut = read_tiff(dir.file("short.tif"));
    EXPECT_TRUE(cut.failed);
    EXPECT_TRUE(testing::is_empty_record(cut.picture));
    EXPECT_EQ(cut.errors, std::vector<std::string>{"Error reading TIFF file"});

    // Not a TIFF at all, and no file.
    write_bytes(dir.file("junk.tif"), {'I', 'I', 7, 7, 1, 2, 3});
    EXPECT_EQ(read_tiff(dir.file("junk.tif")).errors,
              std::vector<std::string>{"Error reading TIFF file"});
    EXPECT_TRUE(read_tiff(dir.file("missing.tif")).failed);
}

std::vector<std::string> package_files(const std::string& package, const std::string& pattern) {
    std::vector<std::string> out;
    const std::string command = "dpkg -L " + package + " 2>/dev/null | grep -E '" + pattern + "'";
    if (FILE* p = popen(command.c_str(), "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, p)) {
            std::string s(line);
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
            if (std::filesystem::is_regular_file(s)) out.push_back(s);
        }
        pclose(p);
    }
    return out;
}

TEST(TiffRead, SampleFilesOfOtherPeopleOpenAsExpected) {
    const auto files = package_files("golang-golang-x-image-dev", "\\.tiff$");
    if (files.empty()) GTEST_SKIP() << "golang-golang-x-image-dev is not installed";
    Image reference;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const std::string name = std::filesystem::path(path).filename();
        Read r = read_tiff(path);
        if (name.find("ccittGroup") != std::string::npos) {
            // Fax compressions decode to 1-bit pictures.
            if (!r.failed) {
                EXPECT_EQ(r.picture.type, image_binary);
            }
            continue;
        }
        ASSERT_FALSE(r.failed) << (r.errors.empty() ? "" : r.errors[0]);
        EXPECT_GT(r.picture.width, 0u);
        if (name.rfind("video-001", 0) == 0) {
            EXPECT_EQ(r.picture.width, 150u);
            EXPECT_EQ(r.picture.height, 103u);
            std::uint32_t type = image_color24;
            if (name.find("gray-16") != std::string::npos)
                type = image_gray16;
            else if (name.find("gray") != std::string::npos)
                type = image_gray8;
            else if (name.find("16bit") != std::string::npos)
                type = image_color48;
            EXPECT_EQ(r.picture.type, type);
        }
        if (name == "video-001.tiff") {
            ASSERT_FALSE(image_copy(r.picture, reference));
        }
    }
    // The same picture stored in strips of 64 rows, in tiles and uncompressed reads alike.
    ASSERT_FALSE(reference.empty());
    for (const char* name :
         {"video-001-strip-64.tiff", "video-001-tile-64x64.tiff", "video-001-uncompressed.tiff"}) {
        for (const std::string& path : files) {
            if (std::filesystem::path(path).filename() != name) continue;
            Read r = read_tiff(path);
            ASSERT_FALSE(r.failed);
            r.picture.dpi = reference.dpi;  // their resolution units differ; pixels must not
            EXPECT_TRUE(image_equal(r.picture, reference)) << name;
        }
    }
}

TEST(TiffRead, ValidAndMalformedConformanceFilesNeverCrash) {
    auto files = package_files("checkit-tiff", "\\.tiff?$");
    if (files.empty()) GTEST_SKIP() << "checkit-tiff is not installed";
    // Broken and hostile TIFFs of another image library's tests, when present.
    for (const std::string& path : package_files("gdk-pixbuf-tests", "\\.tiff?$"))
        files.push_back(path);
    int opened = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        Read r = read_tiff(path);
        if (r.failed) {
            EXPECT_TRUE(testing::is_empty_record(r.picture));
            EXPECT_EQ(r.errors.size(), 1u);
        } else {
            ++opened;
            EXPECT_GE(r.picture.type, image_binary);
            EXPECT_LE(r.picture.type, image_color48);
            EXPECT_GT(r.picture.width, 0u);
            EXPECT_GT(r.picture.height, 0u);
        }
        if (path.find("should_pass/minimal_valid_with_icc") != std::string::npos) {
            EXPECT_GT(r.picture.profile_size, 0u);
        }
    }
    EXPECT_GT(opened, 5);
}

}  // namespace
}  // namespace tessaly
