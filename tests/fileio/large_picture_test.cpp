// The paths that only large pictures take: TIFF strips decoded by several workers (each with its
// own handle of the file), the TIFF writer's strips of many rows, and the readers mapping the
// pages of the next rows before writing them (pictures of more than one 8 MiB chunk included).
// Whatever the number of threads, the pixels must be the same.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/runner.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using testing::RecordingScope;
using testing::TempDir;

class ThreadCount {
  public:
    explicit ThreadCount(int count) : before_(processor_count()) { set_processor_count(count); }
    ~ThreadCount() { set_processor_count(before_); }
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;

  private:
    int before_;
};

std::uint32_t pixel_row_bytes(const Image& image) {
    switch (image.type) {
        case image_binary:
            return (image.width + 7) / 8;
        case image_gray8:
            return image.width;
        case image_color24:
            return 3 * image.width;
        case image_gray16:
            return 2 * image.width;
        default:
            return 6 * image.width;
    }
}

Image make(std::uint32_t type, std::uint32_t width, std::uint32_t height) {
    Image image;
    EXPECT_FALSE(image_alloc(image, type, width, height, 300.0));
    testing::fill_pattern(image, pixel_row_bytes(image), width + type);
    if (type == image_binary && width % 8) {
        for (std::uint32_t r = 0; r < height; ++r)
            image.rows[r][width / 8] &= static_cast<std::uint8_t>(0xFF00u >> (width % 8));
    }
    return image;
}

struct Strips {
    std::uint32_t rows_per_strip = 0, count = 0;
};

Strips strips_of(const std::string& path) {
    Strips s;
    // "c": the strips as written (libtiff would chop one large uncompressed strip for reading).
    TIFF* tif = TIFFOpen(path.c_str(), "rc");
    if (!tif) return s;
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &s.rows_per_strip);
    s.count = TIFFNumberOfStrips(tif);
    TIFFClose(tif);
    return s;
}

// Written in strips of about a megabyte, read back exactly by one worker and by two.
TEST(LargePictures, TiffStripsRoundTripWithOneAndTwoWorkers) {
    TempDir dir;
    struct Case {
        std::uint32_t type, width, height;
    };
    const Case cases[] = {{image_color24, 1501, 1000},
                          {image_color24, 2000, 1600},  // two chunks
                          {image_color48, 1001, 700},
                          {image_gray8, 2501, 1800},
                          {image_binary, 3001, 200},
                          {image_color24, 1, 3},
                          {image_color24, 2, 3}};
    for (const Case& c : cases) {
        const Image picture = make(c.type, c.width, c.height);
        for (std::int32_t compression : {0, 1, 2}) {
            SCOPED_TRACE(::testing::Message() << "type " << c.type << " width " << c.width
                                              << " compression " << compression);
            RecordingScope rec;
            const std::string path = dir.file("large.tif");
            ASSERT_FALSE(write_tiff_file(path, picture, compression, 0));
            const Strips s = strips_of(path);
            const std::uint64_t line = pixel_row_bytes(picture);
            EXPECT_EQ(s.rows_per_strip,
                      std::clamp<std::uint64_t>((1u << 20) / line, 1, picture.height));
            EXPECT_EQ(s.count, (picture.height + s.rows_per_strip - 1) / s.rows_per_strip);
            for (int threads : {1, 2}) {
                ThreadCount count(threads);
                Image back, alpha;
                ASSERT_FALSE(read_tiff_file(path, back, &alpha)) << threads << " threads";
                EXPECT_TRUE(image_equal(back, picture)) << threads << " threads";
                EXPECT_TRUE(alpha.empty());
            }
            EXPECT_TRUE(rec.recorder.errors().empty());
        }
    }
}

// Tiled and separate-plane files with alpha, large enough for two workers.
TEST(LargePictures, TiledAndPlanarFilesWithAlphaReadTheSameWithTwoWorkers) {
    TempDir dir;
    const std::uint32_t width = 1203, height = 1001;
    for (const bool tiled : {false, true}) {
        SCOPED_TRACE(tiled ? "tiled, contiguous" : "strips, separate planes");
        const std::string path = dir.file("rgba.tif");
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tif, nullptr);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        std::uint16_t kinds[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, kinds);
        const auto sample = [](std::uint32_t x, std::uint32_t y, std::uint32_t c) {
            return static_cast<std::uint8_t>(x * 7 + y * 13 + c * 71 + ((x * y) >> 5));
        };
        bool ok = true;
        if (tiled) {
            const std::uint32_t side = 64;
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
            std::vector<std::uint8_t> tile(std::size_t{side} * side * 4);
            for (std::uint32_t ty = 0; ty < height; ty += side)
                for (std::uint32_t tx = 0; tx < width; tx += side) {
                    for (std::uint32_t y = 0; y < side; ++y)
                        for (std::uint32_t x = 0; x < side; ++x)
                            for (std::uint32_t c = 0; c < 4; ++c)
                                tile[(std::size_t{y} * side + x) * 4 + c] =
                                    sample(tx + x, ty + y, c);
                    ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) >= 0;
                }
        } else {
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 50);
            std::vector<std::uint8_t> line(width);
            for (std::uint16_t c = 0; c < 4; ++c)
                for (std::uint32_t y = 0; y < height; ++y) {
                    for (std::uint32_t x = 0; x < width; ++x) line[x] = sample(x, y, c);
                    ok = ok && TIFFWriteScanline(tif, line.data(), y, c) >= 0;
                }
        }
        TIFFClose(tif);
        ASSERT_TRUE(ok);

        Image one, one_alpha, two, two_alpha;
        {
            ThreadCount count(1);
            ASSERT_FALSE(read_tiff_file(path, one, &one_alpha));
        }
        {
            ThreadCount count(2);
            ASSERT_FALSE(read_tiff_file(path, two, &two_alpha));
        }
        EXPECT_TRUE(image_equal(one, two));
        EXPECT_TRUE(image_equal(one_alpha, two_alpha));
        ASSERT_EQ(two.type, image_color24);
        for (std::uint32_t y : {0u, 517u, height - 1}) {
            for (std::uint32_t x : {0u, 700u, width - 1}) {
                const std::uint8_t* row = two.rows[height - 1 - y];
                EXPECT_EQ(row[3 * x], sample(x, y, 2));
                EXPECT_EQ(row[3 * x + 2], sample(x, y, 0));
                EXPECT_EQ(two_alpha.rows[height - 1 - y][x], sample(x, y, 3));
            }
        }
    }
}

// A strip that cannot be decoded fails the read whichever worker meets it.
TEST(LargePictures, ABrokenStripInTheSecondHalfFailsTheRead) {
    TempDir dir;
    const Image picture = make(image_color24, 1500, 1000);
    const std::string path = dir.file("broken.tif");
    ASSERT_FALSE(write_tiff_file(path, picture, 2, 0));  // Deflate: a damaged stream fails
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    const std::uint32_t strips = TIFFNumberOfStrips(tif);
    ASSERT_GE(strips, 2u);
    const std::uint64_t offset = TIFFGetStrileOffset(tif, strips - 1);
    TIFFClose(tif);
    {
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(static_cast<std::streamoff>(offset));
        const std::string garbage(16, '\xFF');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    for (int threads : {1, 2}) {
        ThreadCount count(threads);
        RecordingScope rec;
        Image back, alpha;
        EXPECT_TRUE(read_tiff_file(path, back, &alpha)) << threads << " threads";
        EXPECT_TRUE(testing::is_empty_record(back));
        EXPECT_EQ(rec.recorder.errors(), std::vector<std::string>{"Error reading TIFF file"});
    }
}

// A smooth picture of two chunks comes back close to what was written, row for row, whatever
// the thread count.
TEST(LargePictures, JpegOfTwoChunksReadsBackRowForRow) {
    TempDir dir;
    Image picture;
    ASSERT_FALSE(image_alloc(picture, image_color24, 2400, 1700, 300.0));
    for (std::uint32_t r = 0; r < picture.height; ++r) {
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            picture.rows[r][3 * x] = static_cast<std::uint8_t>(x / 10);
            picture.rows[r][3 * x + 1] = static_cast<std::uint8_t>(r / 7);
            picture.rows[r][3 * x + 2] = static_cast<std::uint8_t>((x + r) / 20);
        }
    }
    ASSERT_GT(picture.chunk_count, 1);
    const std::string path = dir.file("large.jpg");
    ASSERT_EQ(write_jpeg_file(path, picture, 95.0, 2, 0), write_done);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    for (int threads : {1, 2}) {
        ThreadCount count(threads);
        Image back;
        ASSERT_FALSE(read_jpeg_file(path, back));
        ASSERT_EQ(back.width, 2400u);
        ASSERT_EQ(back.height, 1700u);
        int worst = 0;
        for (std::uint32_t r = 0; r < back.height; ++r) {
            for (std::uint32_t i = 0; i < 3 * back.width; ++i)
                worst = std::max(worst, std::abs(back.rows[r][i] - picture.rows[r][i]));
        }
        EXPECT_LE(worst, 4) << threads << " threads";
    }
}

// The JPEG writer streams into <target>.tmp: a folder that does not exist leaves nothing and
// reports no libjpeg error; the target is replaced only by a complete file.
TEST(LargePictures, JpegWriterLeavesNothingBehindOnFailure) {
    TempDir dir;
    RecordingScope rec;
    const Image picture = make(image_color24, 300, 200);
    EXPECT_EQ(write_jpeg_file(dir.file("no/such/x.jpg"), picture, 90.0, 0, 0), write_failed);
    EXPECT_TRUE(rec.recorder.errors().empty());
    const std::string path = dir.file("x.jpg");
    ASSERT_EQ(write_jpeg_file(path, picture, 90.0, 0, 0), write_done);
    ASSERT_EQ(write_jpeg_file(path, picture, 50.0, 0, 0), write_done);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    Image back;
    ASSERT_FALSE(read_jpeg_file(path, back));
    EXPECT_EQ(back.width, 300u);
}

}  // namespace
}  // namespace tessaly
