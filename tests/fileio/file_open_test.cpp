#include "fileio/file_open.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>

#include "support/module_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

const char* sample_png = "/usr/share/gocode/src/golang.org/x/image/testdata/go-turns-two-14x18.png";

TEST(FileOpen, CommandLines) {
    FileOpenSettings one;
    one.files.push_back({"/photos/a b.tif", "2026-01-02 03:04:05.000000006 UTC", true});
    EXPECT_EQ(file_open_module.format(one),
              "file_open 0 n_files 1 current 0 from_default 0 multiple 0 file1 \u2033/photos/a "
              "b.tif\u2033 time1 \u20332026-01-02 03:04:05.000000006 UTC\u2033");

    FileOpenSettings list = one;
    list.files.push_back({"/photos/c.jpg", "t2", false});
    list.current = 1;
    list.multiple = true;
    list.prompt = "Pick the trip";
    std::string line = file_open_module.format(list);
    EXPECT_EQ(line,
              "file_open 0 n_files 2 current 1 from_default 0 multiple 1 prompt \u2033Pick the "
              "trip\u2033 file1 \u2033/photos/a b.tif\u2033 time1 \u20332026-01-02 "
              "03:04:05.000000006 UTC\u2033 selected1 1 file2 \u2033/photos/c.jpg\u2033 time2 "
              "\u2033t2\u2033 selected2 0");
    FileOpenSettings back;
    ASSERT_FALSE(file_open_module.parse(split(line), back));
    EXPECT_EQ(file_open_module.format(back), line);
    EXPECT_FALSE(back.files[1].selected);

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
