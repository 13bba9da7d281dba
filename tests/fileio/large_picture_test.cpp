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
#include "support/small_exif.h"
#include "support/temp_dir.h"
#include "test_files.h"

namespace tessaly {
namespace {

using namespace testing;

struct ThreadCount {
    int before = processor_count();
    explicit ThreadCount(int count) { set_processor_count(count); }
    ~ThreadCount() { set_processor_count(before); }
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

// Every type and compression, written in strips of about a megabyte with the profile and tags,
// read back exactly by one worker and by two.
TEST(LargePictures, TiffStripsRoundTripWithOneAndTwoWorkers) {
    TempDir dir;
    const std::uint8_t profile[] = {0, 0, 0, 12, 'a', 'b', 'c', 'd', 1, 2, 3, 4};
    const char make[] = "Tessaly Camera Works";
    struct Case {
        std::uint32_t type, width, height;
    };
    const Case cases[] = {{image_color24, 1501, 1000}, {image_color24, 2000, 1600},  // two chunks
                          {image_color48, 1001, 700},  {image_gray8, 2501, 1800},
                          {image_binary, 3001, 200},   {image_gray16, 21, 7},
                          {image_color24, 1, 3},       {image_color24, 2, 3}};
    for (const Case& c : cases) {
        Image picture = patterned(c.type, c.width, c.height);
        ASSERT_FALSE(image_set_profile(picture, profile, sizeof profile));
        ASSERT_FALSE(image_add_tag(picture, 271, 2, sizeof make, make));
        for (std::int32_t compression : {0, 1, 2}) {
            SCOPED_TRACE(::testing::Message() << "type " << c.type << " width " << c.width
                                              << " compression " << compression);
            RecordingScope rec;
            const std::string path = dir.file("large.tif");
            ASSERT_FALSE(write_tiff_file(path, picture, compression, 0));
            EXPECT_EQ(dir.names(), std::vector<std::string>{"large.tif"});
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
                EXPECT_EQ(tag_text(back, 271), make);
            }
            EXPECT_TRUE(rec.recorder.messages.empty());
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

}  // namespace
}  // namespace tessaly
