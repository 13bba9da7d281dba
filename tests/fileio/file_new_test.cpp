#include "fileio/file_new.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>

#include "core/image_convert.h"
#include "core/tables.h"
#include "fileio/file_open.h"
#include "support/module_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

// Runs File New on a fresh node; its reference slot holds a 640 x 480 picture at 72 dpi of
// reference_type when one is given.
struct Canvas {
    Node node;
    Node reference;
    std::uint8_t error = 0;
    explicit Canvas(const std::string& command_line, std::uint32_t reference_type = 0) {
        node.inputs.assign(1, nullptr);
        if (reference_type) {
            EXPECT_FALSE(image_alloc(reference.image, reference_type, 640, 480, 72.0));
            node.inputs[0] = &reference;
        }
        error = find_module("file_new")->run(nullptr, &node, split(command_line));
    }
};

// The default picture's pixels are checked by the conformance suite; its resolution and profile
// are not.
TEST(FileNew, DefaultResolutionAndProfile) {
    const std::uint8_t profile[] = {1, 2, 3, 4};
    set_rgb_working_profile(profile, sizeof profile);
    Canvas c(testing::default_line("file_new"));
    ASSERT_EQ(c.error, 0);
    const Image& im = c.node.image;
    EXPECT_EQ(im.dpi, 100.0);
    ASSERT_EQ(im.profile_size, sizeof profile);
    EXPECT_EQ(im.profile[3], 4);
    set_rgb_working_profile(nullptr, 0);
}

TEST(FileNew, EveryTypeIsFilledWithTheColour) {
    // luminance(100, 100, 100) = 100 is below the binary threshold, 200 above it.
    Canvas dark("file_new 0 type 1 nx 13 ny 3 color 646464");
    Canvas light("file_new 0 type 1 nx 13 ny 3 color c8c8c8");
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 13; ++x) {
            EXPECT_EQ(bit_get(dark.node.image.rows[y], x), 0);
            EXPECT_EQ(bit_get(light.node.image.rows[y], x), 255);
        }
    }
    EXPECT_EQ(dark.node.image.profile_size, 0u);  // binary images carry no profile

    Canvas gray16("file_new 0 type 4 nx 5 ny 4 color ff");  // pure red
    for (std::uint32_t y = 0; y < 4; ++y) {
        for (std::uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(sample16(gray16.node.image.rows[y], x), to16[76]);
    }
    Canvas gray8("file_new 0 type 2 nx 3 ny 2 color ff");
    EXPECT_EQ(gray8.node.image.rows[1][2], 76);
    Canvas color48("file_new 0 type 5 nx 2 ny 2 color 30201");  // red 1, green 2, blue 3
    const std::uint8_t* row = color48.node.image.rows[1];
    EXPECT_EQ(sample16(row, 3), to16[3]);  // blue first
    EXPECT_EQ(sample16(row, 4), to16[2]);
    EXPECT_EQ(sample16(row, 5), to16[1]);
}

TEST(FileNew, AReferenceImageDecidesTypeSizeAndResolution) {
    const Canvas c("file_new 0 type 2 nx 10 ny 10 dpi 300", image_color48);
    ASSERT_EQ(c.error, 0);
    const Image& im = c.node.image;
    EXPECT_TRUE(im.type == image_color48 && im.width == 640u && im.height == 480u);
    EXPECT_EQ(im.dpi, 72.0);
}

TEST(FileNew, DialogFieldsAreCheckedInOrder) {
    testing::RecordingScope scope;
    FileNewSettings s = file_new_module.defaults();
    // Inches and centimetres at the given resolution.
    ASSERT_FALSE(file_new_read_fields({"2.5", "1", "300", 1}, 20000, s));
    EXPECT_TRUE(s.nx == 750 && s.ny == 300 && s.units == 1 && s.dpi == 300.0);
    ASSERT_FALSE(file_new_read_fields({"25.4", "2.54", "100", 2}, 20000, s));
    EXPECT_TRUE(s.nx == 100 && s.ny == 10);
    ASSERT_FALSE(file_new_read_fields({"100000", "2", "72", 0}, 200000, s));
    EXPECT_EQ(s.nx, 100000);

    const FileNewSettings unchanged = s;
    for (const FileNewFields& bad : {FileNewFields{"1", "50", "72"},
                                     {"100001", "50", "72"},
                                     {"wide", "50", "72"},
                                     {"50", "x", "72"},
                                     {"50", "50", "0"}})
        EXPECT_TRUE(file_new_read_fields(bad, 200000, s)) << bad.width;
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"Illegal image width: 1", "Illegal image width: 100001",
                                        "Illegal image width: wide", "Illegal image height: x",
                                        "Illegal image resolution: 0"}));
    EXPECT_EQ(s.nx, unchanged.nx);

    scope.recorder.answers = {Answer::no};
    EXPECT_TRUE(file_new_read_fields({"30000", "50", "72", 0}, 20000, s));
    scope.recorder.answers = {Answer::yes, Answer::yes};
    EXPECT_FALSE(file_new_read_fields({"30000", "25000", "72", 0}, 20000, s));
    EXPECT_EQ(scope.recorder.questions,
              (std::vector<std::string>{"Warning: Image width exceeds 20000\nContinue anyway?",
                                        "Warning: Image width exceeds 20000\nContinue anyway?",
                                        "Warning: Image height exceeds 20000\nContinue anyway?"}));
    EXPECT_FALSE(declined_area(20000.0 * 20000.0, 20000));  // not above the limit: no question
    scope.recorder.answers = {Answer::no};
    EXPECT_TRUE(declined_area(1000.0 * 1001.0, 1000));
    EXPECT_EQ(scope.recorder.questions.back(),
              "Warning: Image area exceeds 1000000\nContinue anyway?");
    // "%0zf" has room for at most 10^6: larger areas show the overflow mark.
    scope.recorder.answers = {Answer::yes};
    EXPECT_FALSE(declined_area(20000.0 * 20001.0, 20000));
    EXPECT_EQ(scope.recorder.questions.back(), "Warning: Image area exceeds *\nContinue anyway?");
}

// --- File Open ---

namespace fs = std::filesystem;

const char* sample_png = "/usr/share/gocode/src/golang.org/x/image/testdata/go-turns-two-14x18.png";

TEST(FileOpen, CommandLines) {
    FileOpenSettings list;
    list.files = {{"/photos/a b.tif", "2026-01-02 03:04:05.000000006 UTC", true},
                  {"/photos/c.jpg", "t2", false}};
    list.current = 1;
    list.multiple = true;
    list.prompt = "Pick the trip";
    // Paths and times with spaces survive the round trip.
    const std::string line = file_open_module.format(list);
    FileOpenSettings back;
    ASSERT_FALSE(file_open_module.parse(split(line), back));
    EXPECT_EQ(file_open_module.format(back), line);
    EXPECT_TRUE(back.files[0].path == "/photos/a b.tif" && !back.files[1].selected);
    EXPECT_EQ(back.files[0].time, "2026-01-02 03:04:05.000000006 UTC");

    // The older single-file keys.
    ASSERT_FALSE(file_open_module.parse(split("file_open 0 pathname \u2033/x/y.png\u2033 filetime "
                                              "\u2033old\u2033"),
                                        back));
    ASSERT_EQ(back.files.size(), 1u);
    EXPECT_EQ(back.files[0].path, "/x/y.png");
    EXPECT_EQ(back.files[0].time, "old");

    testing::RecordingScope scope;
    EXPECT_TRUE(file_open_module.parse(split("file_open 0 n_files 10001 current 0"), back));
    EXPECT_EQ(scope.recorder.errors(), std::vector<std::string>{"Too many files"});
    EXPECT_TRUE(
        file_open_module.parse(split("file_open 0 n_files 1 current 3 file1 \u2033a\u2033"), back));
    EXPECT_TRUE(
        file_open_module.parse(split("file_open 0 n_files 2 current 0 file1 \u2033a\u2033"), back));
}

TEST(FileOpen, ReadsAndRereadsOnlyWhenTheFileChanged) {
    if (!fs::exists(sample_png)) GTEST_SKIP() << "golang-golang-x-image-dev test images missing";
    testing::RecordingScope scope;
    testing::TempDir dir;
    std::string path = dir.file("go.png");
    fs::copy_file(sample_png, path);
    FileOpenSettings s;
    s.files.push_back({path, "", true});

    Node node;
    node.parent = &tree_root();
    ASSERT_EQ(find_module("file_open")->run(nullptr, &node, split(file_open_module.format(s))), 0)
        << node.error_text;
    EXPECT_EQ(node.image.width, 14u);
    EXPECT_EQ(node.image.height, 18u);
    EXPECT_EQ(node.name, path);
    ASSERT_TRUE(node.command_line.has_value());
    FileOpenSettings stored;
    ASSERT_FALSE(file_open_module.parse(split(*node.command_line), stored));
    EXPECT_EQ(stored.files[0].time, file_time_text(path));

    // Unchanged on disk: the image is kept as it is (a marked pixel survives).
    node.image.rows[0][0] ^= 0xff;
    std::uint8_t marked = node.image.rows[0][0];
    ASSERT_EQ(find_module("file_open")->run(nullptr, &node, split(*node.command_line)), 0);
    EXPECT_EQ(node.image.rows[0][0], marked);
    EXPECT_TRUE(scope.recorder.messages.empty());

    // Touched: read again with a warning and the new time stored.
    struct timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimes(path.c_str(), times), 0);
    ASSERT_EQ(find_module("file_open")->run(nullptr, &node, split(*node.command_line)), 0);
    EXPECT_NE(node.image.rows[0][0], marked);
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"File has been modified since it was last opened: " + path});
    ASSERT_FALSE(file_open_module.parse(split(*node.command_line), stored));
    EXPECT_EQ(stored.files[0].time, "2001-09-09 01:46:40.000000000 UTC");

    fs::remove(path);
    EXPECT_EQ(find_module("file_open")->run(nullptr, &node, split(*node.command_line)), 1);
    EXPECT_EQ(node.error_text, "File does not exist: " + path);
    EXPECT_EQ(scope.recorder.errors().back(), "File does not exist: " + path);

    std::string junk = dir.file("junk.png");
    ASSERT_TRUE(fs::copy_file("/etc/hostname", junk) || fs::exists(junk));
    s.files[0] = {junk, "", true};
    EXPECT_EQ(find_module("file_open")->run(nullptr, &node, split(file_open_module.format(s))), 1);
    EXPECT_EQ(node.error_text, "Error reading file: " + junk);
}

}  // namespace
}  // namespace tessaly
