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
#include "support/fileio_builders.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using namespace testing;

class ThreadCount {
  public:
    explicit ThreadCount(int count) : before_(processor_count()) { set_processor_count(count); }
    ~ThreadCount() { set_processor_count(before_); }
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;

  private:
    int before_;
};

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
    const Case cases[] = {{image_color24, 1501, 1000}, {image_color24, 2000, 1600},  // two chunks
                          {image_color48, 1001, 700},  {image_gray8, 2501, 1800},
                          {image_binary, 3001, 200},   {image_color24, 1, 3},
                          {image_color24, 2, 3}};
    for (const Case& c : cases) {
        const Image picture = patterned(c.type, c.width, c.height);
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
    TiffLayout s;
    s.width = 1203;
    s.height = 1001;
    s.samples = 4;
    s.photometric = PHOTOMETRIC_RGB;
    s.compression = COMPRESSION_LZW;
    s.extra = EXTRASAMPLE_UNASSALPHA;
    s.rows_per_strip = 50;
    s.value = [](std::uint32_t x, std::uint32_t y, std::uint32_t c) {
        return (x * 7 + y * 13 + c * 71 + ((x * y) >> 5)) & 0xFF;
    };
    for (const bool tiled : {false, true}) {
        SCOPED_TRACE(tiled ? "tiled, contiguous" : "strips, separate planes");
        s.tile = tiled ? 64 : 0;
        s.planar = tiled ? PLANARCONFIG_CONTIG : PLANARCONFIG_SEPARATE;
        const std::string path = dir.file("rgba.tif");
        ASSERT_TRUE(write_tiff(path, s));
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
        for (std::uint32_t y : {0u, 517u, s.height - 1}) {
            for (std::uint32_t x : {0u, 700u, s.width - 1}) {
                EXPECT_EQ(top_row(two, y)[3 * x], s.sample(x, y, 2));
                EXPECT_EQ(top_row(two, y)[3 * x + 2], s.sample(x, y, 0));
                EXPECT_EQ(top_row(two_alpha, y)[x], s.sample(x, y, 3));
            }
        }
    }
}

// A strip that cannot be decoded fails the read whichever worker meets it.
TEST(LargePictures, ABrokenStripInTheSecondHalfFailsTheRead) {
    TempDir dir;
    const Image picture = patterned(image_color24, 1500, 1000);
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
    const Image picture = patterned(image_color24, 300, 200);
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
