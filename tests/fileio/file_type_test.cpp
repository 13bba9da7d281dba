#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>
#include <vector>

#include "core/image_orient.h"
#include "fileio/image_file.h"
#include "support/fileio_builders.h"
#include "support/temp_dir.h"
#include "test_files.h"

namespace tessaly {
namespace {

using namespace testing;

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(FileType, SignaturesDecideForOrdinaryExtensions) {
    RecordingScope rec;
    TempDir dir;
    const struct {
        const char* bytes;
        std::size_t size;
        std::int32_t code;
    } table[] = {{"II*\0", 4, file_tiff}, {"MM\0*", 4, file_tiff},  {"\xFF\xD8\xFF", 3, file_jpeg},
                 {"BM", 2, file_bmp},     {"\x89PNG", 4, file_png}, {"GIF89a", 6, file_gif}};
    for (const auto& row : table) {
        // The extension says nothing: a .jpg holding PNG bytes is a PNG, and so on.
        for (const char* name : {"a.bin", "b.jpg", "c.png", "d.tif", "noextension"}) {
            const std::string path = dir.file(name);
            write_bytes(path, std::string(row.bytes, row.size));
            EXPECT_EQ(detect_file_type(path), row.code) << name << " " << row.bytes;
        }
    }
    EXPECT_TRUE(rec.recorder.messages.empty());

    write_bytes(dir.file("x.jpg"), "\xFF\xD9 not a jpeg");
    EXPECT_EQ(detect_file_type(dir.file("x.jpg")), file_unknown);
    EXPECT_EQ(rec.recorder.errors(),
              std::vector<std::string>{"Unrecognized image file type: " + dir.file("x.jpg")});

    // Too short or missing: -1 without a message.
    rec.recorder.messages.clear();
    write_bytes(dir.file("one.tif"), "I");
    write_bytes(dir.file("empty.png"), "");
    EXPECT_EQ(detect_file_type(dir.file("one.tif")), file_unknown);
    EXPECT_EQ(detect_file_type(dir.file("empty.png")), file_unknown);
    EXPECT_EQ(detect_file_type(dir.file("missing.bmp")), file_unknown);
    EXPECT_TRUE(rec.recorder.messages.empty());
}

// The extension alone decides for WEBP, HEIF and raw files, in either case (the file need not
// even exist); only the end of the name counts, and the dot belongs to the extension.
TEST(FileType, ExtensionsDecideBeforeContent) {
    RecordingScope rec;
    TempDir dir;
    write_bytes(dir.file("tiff.webp"), "II*\0");
    write_bytes(dir.file("png.HEIC"), "\x89PNG");
    write_bytes(dir.file("jpeg.NEF"), "\xFF\xD8");
    EXPECT_EQ(detect_file_type(dir.file("tiff.webp")), file_webp);
    EXPECT_EQ(detect_file_type(dir.file("png.HEIC")), file_heif);
    EXPECT_EQ(detect_file_type(dir.file("jpeg.NEF")), file_raw);
    for (const char* name : {"a.heic", "a.HEIF", "a.Avif"})
        EXPECT_EQ(detect_file_type(name), file_heif);
    for (const char* name : {"a.webp", "a.WEBP", "/x/y.WebP"})
        EXPECT_EQ(detect_file_type(name), file_webp);
    for (const std::string ext :
         {".3fr", ".ARW", ".cr2", ".CR3", ".dng", ".NEF", ".orf", ".Raf", ".rw2", ".X3F"}) {
        EXPECT_TRUE(has_raw_extension("/d/IMG_1" + ext)) << ext;
        EXPECT_EQ(detect_file_type("photo" + ext), file_raw) << ext;
    }
    for (const char* name : {"a.nef.jpg", "a.cr2x", "metadata", "a.webp.png", "rawfile", "a.heic "})
        EXPECT_FALSE(has_raw_extension(name)) << name;
    EXPECT_EQ(detect_file_type("a.webp.missing"), file_unknown);
    EXPECT_TRUE(rec.recorder.messages.empty());
}

// Sees whether a file is being read while the reader reports its status.
class FlagWatcher : public RecordingInteraction {
  public:
    std::vector<bool> flags;
    void status(std::string_view text) override {
        flags.push_back(reading_in_progress());
        RecordingInteraction::status(text);
    }
};

TEST(FileType, ReadImageFileDispatchesAndCleansUp) {
    TempDir dir;
    FlagWatcher watcher;
    ScopedInteraction scope(watcher);
    Image picture, transparency;
    // Leftovers of an earlier read must not survive a failure.
    ASSERT_FALSE(image_alloc(picture, image_gray8, 4, 4, 300.0));
    ASSERT_FALSE(image_alloc(transparency, image_gray8, 4, 4, 300.0));
    write_bytes(dir.file("junk.jpg"), "JUNKJUNK");
    EXPECT_TRUE(read_image_file(dir.file("junk.jpg"), picture, transparency));
    EXPECT_TRUE(picture.empty());
    EXPECT_TRUE(transparency.empty());
    EXPECT_EQ(watcher.errors(),
              std::vector<std::string>{"Unrecognized image file type: " + dir.file("junk.jpg")});

    // A JPEG signature with nothing behind it reaches the JPEG reader.
    write_bytes(dir.file("stub.png"), "\xFF\xD8\xFF");
    EXPECT_TRUE(read_image_file(dir.file("stub.png"), picture, transparency));
    EXPECT_EQ(watcher.errors().back(), "Error reading JPEG file");
    ASSERT_FALSE(watcher.flags.empty());
    EXPECT_TRUE(std::all_of(watcher.flags.begin(), watcher.flags.end(), [](bool b) { return b; }));
    EXPECT_FALSE(reading_in_progress());
}

// Broken, hostile and unusual files of other image libraries' tests and PngSuite: every reader
// either fails cleanly with one message or gives a whole picture. One JPEG declares 64250 x
// 64250 pixels; a modest limit keeps the test quick on any machine.
TEST(FileType, FilesOfOtherPeopleFailCleanlyOrOpenWhole) {
    std::vector<std::string> files =
        package_files("gdk-pixbuf-tests", "\\.(png|gif|bmp|jpe?g|tiff?)$");
    for (const char* package : {"checkit-tiff", "libsixel-examples", "golang-golang-x-image-dev"}) {
        for (const std::string& path :
             package_files(package, "(\\.tiff?|pngsuite/.*\\.png|testdata/.*\\.bmp)$")) {
            files.push_back(path);
        }
    }
    if (files.size() < 100) GTEST_SKIP() << "the packages of other people's files are missing";
    MemoryLimit limit(std::uint64_t{1} << 30);
    const int failed = expect_whole_or_nothing(files, [](const std::string& path, Image& picture) {
        Image alpha;
        const bool f = read_image_file(path, picture, alpha);
        EXPECT_TRUE(!f || is_empty_record(alpha));
        return f;
    });
    EXPECT_GT(failed, 5);
    EXPECT_LT(failed, static_cast<int>(files.size()) - 5);
    // The BMPs of the "fail" folder and PngSuite's x files must fail; a valid TIFF keeps its
    // profile.
    for (const std::string& path : files) {
        const std::string name = std::filesystem::path(path).filename().string();
        const bool must_fail =
            (path.find("/fail/") != std::string::npos && path.ends_with(".bmp")) ||
            (path.find("/pngsuite/") != std::string::npos && name.starts_with("x"));
        const bool icc = path.find("should_pass/minimal_valid_with_icc") != std::string::npos;
        if (!must_fail && !icc) continue;
        RecordingScope rec;
        Image picture, alpha;
        EXPECT_EQ(read_image_file(path, picture, alpha), must_fail) << path;
        if (icc) {
            EXPECT_GT(picture.profile_size, 0u);
        }
    }
}

TEST(FileType, TooLargeImages) {
    RecordingScope rec;
    EXPECT_FALSE(image_too_large(1000000, 1, image_color48));
    EXPECT_FALSE(image_too_large(1, 1000000, image_binary));
    EXPECT_TRUE(image_too_large(1000001, 1, image_gray8));
    EXPECT_TRUE(image_too_large(1, 1000001, image_binary));
    EXPECT_TRUE(image_too_large(std::uint64_t{1} << 40, 1, image_gray8));

    const std::uint64_t limit = image_memory_limit();
    image_set_memory_limit(1000000);
    // 500 x 600 x 3 bytes = 900,000 plus one address per row fits; 48-bit color does not.
    const bool color24 = image_too_large(500, 600, image_color24);
    const bool color48 = image_too_large(500, 600, image_color48);
    image_set_memory_limit(limit);
    EXPECT_FALSE(color24);
    EXPECT_TRUE(color48);
    EXPECT_EQ(rec.recorder.errors(),
              (std::vector<std::string>{
                  "Image is too large: 1000001 x 1", "Image is too large: 1 x 1000001",
                  "Image is too large: 1099511627776 x 1", "Image is too large: 500 x 600"}));
}

// Orientation on a picture made by hand, every type: 6 turns clockwise, and every 274 tag
// (of whatever width) reads 1 afterwards; values without a turn leave the pixels alone but still
// mark the tag.
TEST(Orientation, TurnsUprightAndMarksTheTags) {
    RecordingScope rec;
    for (std::uint32_t type :
         {image_binary, image_gray8, image_color24, image_gray16, image_color48}) {
        for (int value : {6, 0, 1, 9, -3}) {
            SCOPED_TRACE(::testing::Message() << image_type_name(type) << " " << value);
            Image im;
            ASSERT_FALSE(image_alloc(im, type, 3, 2, 100.0));
            // Seen from the top: the top-left pixel is the only lit one.
            if (type == image_binary) {
                bit_set(im.rows[1], 0);
            } else {
                im.rows[1][0] = 0xFF;
            }
            const std::uint16_t six = 6;
            const std::uint32_t eight = 8;
            ASSERT_FALSE(image_add_tag(im, 274, 3, 1, &six));
            ASSERT_FALSE(image_add_tag(im, 305, 2, 2, "x"));
            ASSERT_FALSE(image_add_tag(im, 274, 4, 1, &eight));
            ASSERT_FALSE(apply_orientation(im, value));
            const bool turned = value == 6;
            ASSERT_EQ(im.width, turned ? 2u : 3u);
            ASSERT_EQ(im.height, turned ? 3u : 2u);
            // Clockwise: the top-left corner goes to the top-right.
            for (std::uint32_t y = 0; y < im.height; ++y) {
                for (std::uint32_t x = 0; x < im.width; ++x) {
                    EXPECT_EQ(pixel_at(im, x, y)[2] != 0, y == 0 && x == (turned ? 1u : 0u))
                        << x << "," << y;
                }
            }
            EXPECT_EQ(number_at(im.tags->data, 2), 1u);
            EXPECT_EQ(number_at(im.tags->next->next->data), 1u);
            EXPECT_EQ(im.dpi, 100.0);
        }
    }
}

}  // namespace
}  // namespace tessaly
