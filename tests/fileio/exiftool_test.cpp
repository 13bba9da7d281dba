#include "fileio/exiftool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/text_file.h"
#include "framework/settings_files.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

const char* panasonic_jpeg = "/usr/libexec/installed-tests/gdk-pixbuf/bug143608-comment.jpg";
const char* plain_jpeg = "/usr/share/doc/libsixel-examples/examples/images/snake.jpg";
const char* canon_raw = "/usr/share/doc/rawtran/IMG_5952.CR2";

// One tag value as ExifTool itself reads it back ("" when absent).
std::string tag_value(const std::string& file, const std::string& tag,
                      const testing::TempDir& dir) {
    std::string out = dir.file("tag.txt");
    fs::remove(out);
    EXPECT_FALSE(run_program(exiftool_path(), {"-s", "-s", "-s", "-n", "-" + tag, file}, out));
    std::string text;
    (void)read_file_bytes(out, text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

TEST(ExifTool, ArgumentVectors) {
    using V = std::vector<std::string>;
    const V common = {"-tagsFromFile",      "a b.jpg",
                      "--JFIF:XResolution", "--JFIF:YResolution",
                      "--EXIF:XResolution", "--EXIF:YResolution",
                      "--EXIF:Orientation", "--preview:all"};
    V all = common;
    all.insert(all.end(), {"-m", "-q", "-overwrite_original", "out.jpg"});
    EXPECT_EQ(copy_metadata_arguments("a b.jpg", "out.jpg", metadata_all, ""), all);
    V no_gps = common;
    no_gps.insert(no_gps.end(), {"-GPS:all=", "-m", "-q", "-overwrite_original",
                                 "-ThumbnailImage<=/tmp/Thumbnail.jpg", "out.jpg"});
    EXPECT_EQ(
        copy_metadata_arguments("a b.jpg", "out.jpg", metadata_all_but_gps, "/tmp/Thumbnail.jpg"),
        no_gps);
    EXPECT_EQ(add_thumbnail_arguments("out.jpg", "/tmp/t.jpg"),
              (V{"-ThumbnailImage<=/tmp/t.jpg", "out.jpg"}));
    EXPECT_EQ(lens_id_arguments("x.cr2", "/s/LensID.tmp"),
              (V{"-s", "-LensID", "-LensInfo", "x.cr2", "-W+!", "/s/LensID.tmp"}));
    EXPECT_EQ(geotag_arguments("trip.gpx", '+', 5, 30, "/photos"),
              (V{"-geotag", "trip.gpx", "-Geotime<${DateTimeOriginal}+05:30", "/photos"}));
    EXPECT_EQ(geotag_arguments("trip.gpx", '-', 11, 0, "/p")[2],
              "-Geotime<${DateTimeOriginal}-11:00");

    std::string lens;
    EXPECT_FALSE(
        parse_lens_id("LensID                          : EF-S18-55mm f/3.5-5.6\r\n"
                      "LensInfo                        : 18-55mm\r\n",
                      lens));
    EXPECT_EQ(lens, "EF-S18-55mm f/3.5-5.6");
    EXPECT_TRUE(parse_lens_id("no colon here\r\n", lens));
}

TEST(ExifTool, MessagesWithoutTheToolOrTheOriginal) {
    testing::RecordingScope scope;
    testing::TempDir dir;
    set_exiftool_path(dir.file("missing/exiftool"));
    std::string target = dir.file("t.jpg");
    ASSERT_FALSE(write_file_atomic(target, "x"));
    // Modes 2 and 3 never start ExifTool, present or not.
    EXPECT_FALSE(copy_metadata(target, target, metadata_profile_only, nullptr));
    EXPECT_FALSE(copy_metadata(target, target, metadata_none, nullptr));
    EXPECT_TRUE(scope.recorder.messages.empty());
    EXPECT_TRUE(copy_metadata(dir.file("gone.jpg"), target, metadata_all, nullptr));
    EXPECT_TRUE(copy_metadata(target, target, metadata_all, nullptr));
    Image image;
    EXPECT_TRUE(add_thumbnail(target, image));
    std::string lens;
    EXPECT_TRUE(read_lens_id(target, lens));
    EXPECT_TRUE(geotag_folder("log.gpx", '+', 1, 0, dir.path()));
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{
                  "Cannot find original file: " + dir.file("gone.jpg") +
                      ".\nIt may have been deleted or renamed.\nMetadata cannot be saved.",
                  "ExifTool is not installed - please re-install Tessaly",
                  "ExifTool not found - please re-install Tessaly",
                  "ExifTool not found - please re-install Tessaly",
                  "ExifTool not found - please re-install Tessaly"}));
    set_exiftool_path("");
}

TEST(ExifTool, CopiesTheOriginalsTagsWithOrWithoutGps) {
    if (exiftool_path().empty())
        GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
    if (!fs::exists(panasonic_jpeg) || !fs::exists(plain_jpeg)) {
        GTEST_SKIP() << "test JPEGs missing (gdk-pixbuf-tests, libsixel-examples)";
    }
    testing::RecordingScope scope;
    testing::TempDir dir;
    std::string original = dir.file("original.jpg");
    fs::copy_file(panasonic_jpeg, original);
    ASSERT_FALSE(run_program(exiftool_path(), {"-q", "-overwrite_original", "-GPSLatitude=48.5",
                                               "-GPSLatitudeRef=N", original}));
    ASSERT_EQ(tag_value(original, "GPSLatitude", dir), "48.5");

    std::string with_gps = dir.file("with gps.jpg");
    std::string without_gps = dir.file("without gps.jpg");
    fs::copy_file(plain_jpeg, with_gps);
    fs::copy_file(plain_jpeg, without_gps);
    ASSERT_EQ(tag_value(with_gps, "Make", dir), "");
    EXPECT_FALSE(copy_metadata(original, with_gps, metadata_all, nullptr));
    EXPECT_FALSE(copy_metadata(original, without_gps, metadata_all_but_gps, nullptr));
    EXPECT_EQ(tag_value(with_gps, "Make", dir), "Panasonic");
    EXPECT_EQ(tag_value(with_gps, "Model", dir), "DMC-GF1");
    EXPECT_EQ(tag_value(with_gps, "GPSLatitude", dir), "48.5");
    EXPECT_EQ(tag_value(without_gps, "Make", dir), "Panasonic");
    EXPECT_EQ(tag_value(without_gps, "GPSLatitude", dir), "");
    EXPECT_FALSE(fs::exists(with_gps + "_original"));  // rewritten in place

    // Commands go to one kept ExifTool process a line per argument; a name that cannot travel
    // that way (a line break in it) is handed to a process of its own, with the same result.
    std::string odd = dir.file("two\nlines.jpg");
    fs::copy_file(plain_jpeg, odd);
    EXPECT_FALSE(copy_metadata(original, odd, metadata_all_but_gps, nullptr));
    EXPECT_EQ(tag_value(odd, "Model", dir), "DMC-GF1");
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST(ExifTool, ReadsTheLensOfARawFile) {
    if (exiftool_path().empty())
        GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
    if (!fs::exists(canon_raw)) GTEST_SKIP() << "the Canon CR2 of rawtran-doc is missing";
    testing::TempDir dir;
    setenv("TESSALY_SETTINGS_ROOT", dir.path().c_str(), 1);
    reset_settings_folders();
    std::string lens;
    EXPECT_FALSE(read_lens_id(canon_raw, lens));
    EXPECT_EQ(lens, "Canon EF-S18-55mm f/3.5-5.6");
    unsetenv("TESSALY_SETTINGS_ROOT");
    reset_settings_folders();
}

}  // namespace
}  // namespace tessaly
