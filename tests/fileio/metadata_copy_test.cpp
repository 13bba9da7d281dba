// The metadata copy made inside the program against the one ExifTool makes, both read back by
// ExifTool: on real photographs and a camera raw file, into JPEG and TIFF.
#include "fileio/metadata_copy.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "core/text_file.h"
#include "fileio/exiftool.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "fileio/save.h"
#include "fileio/save_options.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

using Tags = std::map<std::string, std::string>;  // "Group:Name" -> value

// The tags of each file as ExifTool reads them, one ExifTool run for all ("-n": values as
// stored, so that no printing convention hides a difference).
std::vector<Tags> read_tags(const std::vector<std::string>& files, const testing::TempDir& dir) {
    const std::string out = dir.file("tags.txt");
    fs::remove(out);
    std::vector<std::string> arguments = {"-s", "-G1", "-a", "-n"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    EXPECT_FALSE(run_program(exiftool_path(), arguments, out));
    std::string text;
    (void)read_file_bytes(out, text);
    std::vector<Tags> result;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("========", 0) == 0) result.emplace_back();
        const std::size_t close = line.find(']'), colon = line.find(" : ");
        if (line.empty() || line[0] != '[' || close == std::string::npos ||
            colon == std::string::npos) {
            continue;
        }
        if (result.empty()) result.emplace_back();
        std::string name = line.substr(close + 1, colon - close - 1);
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        result.back()[line.substr(1, close - 1) + ":" + name] = line.substr(colon + 3);
    }
    result.resize(files.size());
    return result;
}

std::string group_of(const std::string& key) {
    return key.substr(0, key.find(':'));
}

// The EXIF directories and maker notes: what both paths copy tag by tag. Not the thumbnail
// directory (made anew), the file's own structure, the profile or the XMP packet.
bool exif_tag(const std::string& key) {
    const std::string g = group_of(key);
    return g != "ExifTool" && g != "System" && g != "File" && g != "JFIF" && g != "IFD1" &&
           g != "IPTC" && g != "Composite" && g.rfind("XMP", 0) != 0 && g.rfind("ICC", 0) != 0 &&
           g.rfind("PNG", 0) != 0 && g != "Photoshop";
}

bool resolution_tag(const std::string& key) {
    return key == "IFD0:XResolution" || key == "IFD0:YResolution" || key == "IFD0:ResolutionUnit";
}

// Equal, or numbers within 2 %.
bool close_enough(const std::string& a, const std::string& b) {
    if (a == b) return true;
    char *end_a = nullptr, *end_b = nullptr;
    const double x = std::strtod(a.c_str(), &end_a), y = std::strtod(b.c_str(), &end_b);
    return *end_a == 0 && *end_b == 0 &&
           std::abs(x - y) <= 0.02 * std::max(std::abs(x), std::abs(y));
}

bool same_pixels(const std::string& a, const std::string& b) {
    Image x, y, ax, ay;
    if (read_image_file(a, x, ax) || read_image_file(b, y, ay)) return false;
    if (x.type != y.type || x.width != y.width || x.height != y.height) return false;
    for (std::uint32_t r = 0; r < x.height; ++r) {
        if (std::memcmp(x.rows[r], y.rows[r], x.row_bytes) != 0) return false;
    }
    return true;
}

class MetadataCopy : public ::testing::Test {
  protected:
    void SetUp() override {
        if (exiftool_path().empty()) GTEST_SKIP() << "exiftool is not installed";
        for (const char* f : {path_jpeg, leaf_jpeg, canon_raw}) {
            if (!fs::exists(f)) GTEST_SKIP() << f << " is missing";
        }
    }
    void TearDown() override { set_metadata_in_process(true); }

    // The picture of the original written as format, twice, and given the original's metadata
    // once by each path; returns {library, exiftool, plain}.
    std::array<std::string, 3> both_ways(const std::string& original, const std::string& stem,
                                         std::int32_t format, int mode) {
        Image picture, alpha;
        EXPECT_FALSE(read_image_file(original, picture, alpha));
        const std::string ext = format == save_tiff ? ".tif" : ".jpg";
        std::array<std::string, 3> files = {dir_.file(stem + "-library" + ext),
                                            dir_.file(stem + "-exiftool" + ext),
                                            dir_.file(stem + "-plain" + ext)};
        for (const std::string& f : files) {
            const bool failed = format == save_tiff ? write_tiff_file(f, picture, 0, 0)
                                                    : write_jpeg_file(f, picture, 90, 0, 0) != 0;
            EXPECT_FALSE(failed) << f;
        }
        for (int k = 0; k < 2; ++k) {
            set_metadata_in_process(k == 0);
            EXPECT_FALSE(copy_metadata(original, files[k], mode, &picture)) << files[k];
        }
        set_metadata_in_process(true);
        return files;
    }

    static constexpr const char* path_jpeg =
        "/usr/share/wallpapers/Path/contents/images/640x480.jpg";
    static constexpr const char* leaf_jpeg =
        "/usr/share/wallpapers/FallenLeaf/contents/images/640x480.jpg";
    static constexpr const char* canon_raw = "/usr/share/doc/rawtran/IMG_5952.CR2";
    testing::TempDir dir_;
    testing::RecordingScope scope_;
};

// Every EXIF and maker-note tag that ExifTool carries over from the original comes out of the
// library with the same value; the library adds none that neither the original nor ExifTool has;
// the thumbnail, the writer's profile and the pixels are the same, and the original's XMP comes
// through whole. (ExifTool also files copies of some tags under other groups by name, such as
// maker-note values into the EXIF directory or EXIF values into XMP: those are its own and not
// asked of the library.)
TEST_F(MetadataCopy, LibraryAndExifToolAgreeOnTheOriginalsTags) {
    for (const char* original : {path_jpeg, leaf_jpeg, canon_raw}) {
        for (std::int32_t format : {save_jpeg, save_tiff}) {
            SCOPED_TRACE(std::string(original) + (format == save_tiff ? " to TIFF" : " to JPEG"));
            const auto files = both_ways(
                original, fs::path(original).stem().string() + (format == save_tiff ? "t" : "j"),
                format, metadata_all);
            const std::vector<Tags> tags =
                read_tags({original, files[0], files[1], files[2]}, dir_);
            const Tags &from = tags[0], &library = tags[1], &exiftool = tags[2];

            // The library keeps the original's values exactly where ExifTool copies them;
            // ExifTool re-encodes rationals from its printed form, so its values may differ in
            // the last digits (or by its rounding of APEX values: 2.8 for 2.83).
            std::size_t compared = 0;
            for (const auto& [key, value] : exiftool) {
                if (!exif_tag(key) || !from.count(key) || resolution_tag(key)) continue;
                ++compared;
                auto it = library.find(key);
                ASSERT_TRUE(it != library.end()) << key << " missing";
                // A value ExifTool did not take from the original is the file's own (its size,
                // its layout): the library must leave the same.
                EXPECT_EQ(it->second, close_enough(from.at(key), value) ? from.at(key) : value)
                    << key << ": ExifTool " << value << ", original " << from.at(key);
            }
            EXPECT_GT(compared, 25u);
            for (const auto& [key, value] : library) {
                if (exif_tag(key)) {
                    EXPECT_TRUE(exiftool.count(key) || from.count(key)) << key << " invented";
                }
            }
            // The resolution is the writer's.
            const Tags& plain = tags[3];
            const std::string written =
                format == save_jpeg ? plain.at("JFIF:XResolution") : plain.at("IFD0:XResolution");
            EXPECT_EQ(library.at("IFD0:XResolution"), written);
            EXPECT_EQ(library.at("IFD0:YResolution"), written);
            // The resolution is the writer's, in both files; orientation reset.
            EXPECT_EQ(library.count("IFD0:Orientation") ? library.at("IFD0:Orientation") : "1",
                      "1");
            // The thumbnail: the same in JPEG; in TIFF ExifTool leaves it out, the library not.
            ASSERT_EQ(library.count("IFD1:ThumbnailLength"), 1u);
            if (format == save_jpeg) {
                EXPECT_EQ(library.at("IFD1:ThumbnailLength"), exiftool.at("IFD1:ThumbnailLength"));
            }
            for (const auto& [key, value] : from) {
                if (group_of(key).rfind("XMP", 0) == 0 && key != "XMP-x:XMPToolkit") {
                    EXPECT_EQ(library.count(key) ? library.at(key) : "(none)", value) << key;
                }
            }
            for (const auto& [key, value] : plain) {
                if (group_of(key).rfind("ICC", 0) == 0) {
                    EXPECT_EQ(library.count(key) ? library.at(key) : "", value) << key;
                }
            }
            EXPECT_TRUE(same_pixels(files[0], files[2]));
        }
    }
    EXPECT_TRUE(scope_.recorder.messages.empty());
}

// The JPEG and PNG writers take the metadata in the same pass as the pixels, and TIFF files get
// it before they reach the disk: the file comes out with the same tags as when it is written and
// then rewritten.
TEST_F(MetadataCopy, WrittenInOnePassAsInTheRewrite) {
    for (const char* original : {path_jpeg, canon_raw}) {
        Image picture, alpha;
        ASSERT_FALSE(read_image_file(original, picture, alpha));
        for (std::int32_t format : {save_jpeg, save_png, save_tiff}) {
            const std::string ext = format == save_png    ? ".png"
                                    : format == save_tiff ? ".tif"
                                                          : ".jpg";
            SCOPED_TRACE(original + ext);
            const std::string rewritten = dir_.file("rewritten" + ext);
            const std::string one_pass = dir_.file("one-pass" + ext);
            MetadataPlan plan;
            plan.original = original;
            plan.mode = metadata_all;
            plan.thumbnail = format != save_png ? &picture : nullptr;
            if (format != save_tiff) {
                EmbeddedMetadata embed;
                ASSERT_EQ(embedded_metadata(one_pass, original, metadata_all, plan.thumbnail,
                                            format == save_png, 72, embed),
                          InProcess::done);
                EXPECT_FALSE(embed.exif.empty());
            }
            ASSERT_EQ(write_with_metadata(one_pass, picture, nullptr, format, SaveOptions{}, plan),
                      write_done);
            ASSERT_EQ(write_image_file(rewritten, picture, nullptr, format, SaveOptions{}),
                      write_done);
            ASSERT_EQ(copy_metadata_in_process(original, rewritten, metadata_all, plan.thumbnail),
                      InProcess::done);
            const std::vector<Tags> tags = read_tags({rewritten, one_pass}, dir_);
            std::size_t compared = 0;
            for (const Tags* t : {&tags[0], &tags[1]}) {
                const Tags& other = t == &tags[0] ? tags[1] : tags[0];
                for (const auto& [key, value] : *t) {
                    const std::string g = group_of(key);
                    if (g == "ExifTool" || g == "System" || g == "File" ||
                        key.find("Offset") != std::string::npos) {
                        continue;
                    }
                    ++compared;
                    EXPECT_EQ(other.count(key) ? other.at(key) : "(none)", value) << key;
                }
            }
            EXPECT_GT(compared, 60u);
            EXPECT_TRUE(same_pixels(rewritten, one_pass));
        }
    }
    EXPECT_TRUE(scope_.recorder.messages.empty());
}

// TIFF files get their metadata around stand-in strips and the picture's strips after it: every
// depth and compression reads back pixel for pixel, with the original's tags, the thumbnail and
// the profile, and ExifTool finds nothing amiss in the file's structure.
TEST_F(MetadataCopy, TiffStripsFollowTheMetadataInEveryDepthAndCompression) {
    for (std::uint32_t type : {image_gray8, image_gray16, image_color24, image_color48}) {
        Image picture;
        // Tall enough for several strips, odd-sized so that the last strip is short.
        ASSERT_FALSE(image_alloc(picture, type, 301, 1203, 240.0));
        std::uint32_t seed = type;
        for (std::uint32_t r = 0; r < picture.height; ++r) {
            for (std::uint32_t i = 0; i < picture.row_bytes; ++i) {
                seed = seed * 1664525u + 1013904223u;
                picture.rows[r][i] = static_cast<std::uint8_t>(i % 7 == 0 ? seed >> 24 : r + i);
            }
        }
        const bool color = type == image_color24 || type == image_color48;
        std::string profile;
        if (color) {
            ASSERT_FALSE(read_file_bytes("/usr/share/color/icc/sRGB.icc", profile));
            ASSERT_FALSE(image_set_profile(picture,
                                           reinterpret_cast<const std::uint8_t*>(profile.data()),
                                           static_cast<std::uint32_t>(profile.size())));
        }
        for (std::int32_t compression : {0, 1, 2}) {
            SCOPED_TRACE("type " + std::to_string(type) + ", compression " +
                         std::to_string(compression));
            const std::string file = dir_.file("strips.tif");
            MetadataPlan plan;
            plan.original = path_jpeg;
            plan.mode = metadata_all;
            plan.thumbnail = &picture;
            SaveOptions options;
            options.tiff.compression = compression;
            ASSERT_EQ(write_with_metadata(file, picture, nullptr, save_tiff, options, plan),
                      write_done);
            Image back, back_alpha;
            ASSERT_FALSE(read_image_file(file, back, back_alpha));
            ASSERT_EQ(back.type, picture.type);
            ASSERT_EQ(back.height, picture.height);
            // Row padding is not part of the picture.
            const std::size_t used = std::size_t{picture.width} *
                                     (type == image_gray8 ? 1 : type == image_gray16 ? 2
                                                            : type == image_color24  ? 3
                                                                                     : 6);
            for (std::uint32_t r = 0; r < back.height; ++r) {
                ASSERT_EQ(std::memcmp(back.rows[r], picture.rows[r], used), 0) << "row " << r;
            }
            const Tags tags = read_tags({file}, dir_)[0];
            EXPECT_EQ(tags.count("IFD0:Model") ? tags.at("IFD0:Model") : "", "E-M1");
            EXPECT_EQ(tags.count("IFD1:ThumbnailLength"), 1u);
            EXPECT_EQ(tags.count("ICC_Profile:ProfileDescription"), color ? 1u : 0u);
            EXPECT_EQ(tags.count("ExifTool:Warning"), 0u)
                << tags.at("ExifTool:Warning");
        }
    }
    EXPECT_TRUE(scope_.recorder.messages.empty());
}

// All but GPS: no position in EXIF or XMP, by either path, the rest as in mode 0. A picture
// turned by its orientation tag is written upright, and the tag does not come back.
TEST_F(MetadataCopy, AllButGpsAndTheOrientation) {
    const std::string original = dir_.file("placed.jpg");
    fs::copy_file(leaf_jpeg, original);
    ASSERT_FALSE(run_program(exiftool_path(),
                             {"-q", "-overwrite_original", "-GPSLatitude=48.5", "-GPSLatitudeRef=N",
                              "-XMP-exif:GPSLongitude=7.25", "-Orientation#=6", original}));
    for (int mode : {metadata_all, metadata_all_but_gps}) {
        const auto files = both_ways(original, "m" + std::to_string(mode), save_jpeg, mode);
        const std::vector<Tags> tags = read_tags({files[0], files[1]}, dir_);
        for (const Tags& t : tags) {
            EXPECT_EQ(t.count("GPS:GPSLatitude"), mode == metadata_all ? 1u : 0u);
            EXPECT_EQ(t.count("XMP-exif:GPSLongitude") + t.count("GPS:GPSLongitude") > 0,
                      mode == metadata_all);
            EXPECT_EQ(t.count("IFD0:Model"), 1u);
            EXPECT_NE(t.count("IFD0:Orientation") ? t.at("IFD0:Orientation") : "1", "6");
        }
    }
}

// What the library cannot do goes to ExifTool; a file that is not a picture leaves the saved
// picture as it was; a picture without an original still gets its thumbnail.
TEST_F(MetadataCopy, FallsBackAndNeverDamagesTheSavedPicture) {
    Image picture, alpha;
    ASSERT_FALSE(read_image_file(path_jpeg, picture, alpha));
    const std::string bmp = dir_.file("out.bmp");
    ASSERT_FALSE(write_bmp_file(bmp, picture, 1));
    EXPECT_EQ(copy_metadata_in_process(path_jpeg, bmp, metadata_all, nullptr),
              InProcess::not_handled);

    const std::string target = dir_.file("out.jpg"), copy = dir_.file("copy.jpg");
    ASSERT_EQ(write_jpeg_file(target, picture, 90, 0, 0), 0);
    fs::copy_file(target, copy);
    const std::string junk = dir_.file("junk.jpg");
    ASSERT_FALSE(write_file_atomic(junk, std::string(4000, '\xff')));
    EXPECT_EQ(copy_metadata_in_process(junk, target, metadata_all, nullptr),
              InProcess::not_handled);
    EXPECT_TRUE(same_pixels(target, copy));

    EXPECT_FALSE(add_thumbnail(target, picture));
    const Tags tags = read_tags({target}, dir_)[0];
    EXPECT_GT(std::stoi(tags.at("IFD1:ThumbnailLength")), 1000);
    EXPECT_EQ(tags.at("IFD1:ThumbnailLength"), std::to_string([&] {
                  std::string bytes;
                  EXPECT_FALSE(thumbnail_jpeg(picture, bytes));
                  return bytes.size();
              }()));
    EXPECT_TRUE(same_pixels(target, copy));
    // Nothing left beside the files.
    EXPECT_EQ(dir_.names(),
              (std::vector<std::string>{"copy.jpg", "junk.jpg", "out.bmp", "out.jpg", "tags.txt"}));
}

}  // namespace
}  // namespace tessaly
