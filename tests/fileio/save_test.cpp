#include "fileio/save.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <tuple>

#include "core/tables.h"
#include "core/text_file.h"
#include "fileio/exiftool.h"
#include "fileio/file_open.h"
#include "fileio/image_file.h"
#include "fileio/metadata_copy.h"
#include "fileio/save_options.h"
#include "framework/settings_files.h"
#include "support/image_helpers.h"
#include "support/module_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "tree/tree.h"

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

TEST(SaveOptions, PreferencesLines) {
    SaveOptions o;
    // Values missing at the end are kept (the script flag here).
    EXPECT_TRUE(read_save_options_line(split("jpeg_save_options 1 87.5 2 1"), o));
    EXPECT_TRUE(read_save_options_line(split("tiff_save_options 1 3 0 2"), o));
    EXPECT_FALSE(read_save_options_line(split("use_count \u2033blur\u2033 2"), o));
    EXPECT_EQ(save_options_lines(o)[0], "tiff_save_options 1 3 0 2");
    EXPECT_EQ(save_options_lines(o)[1], "jpeg_save_options 1 87.5 2 1 1 0");
    EXPECT_EQ(save_metadata_mode(o, save_tiff), 3);
    EXPECT_EQ(save_metadata_mode(o, save_bmp), 3);  // BMP and GIF never carry metadata
}

// A missing extension is added, a foreign one kept with the right one added (with a warning);
// unknown formats fail.
TEST(SaveOptions, Extensions) {
    testing::RecordingScope scope;
    for (const auto& [path, format, result] :
         {std::tuple<const char*, std::int32_t, const char*>{"/x/a", save_tiff, "/x/a.tif"},
          {"/x/a.TIFF", save_tiff, "/x/a.TIFF"},
          {"/x/a.jpeg", save_jpeg, "/x/a.jpeg"},
          {"/x/a.png", save_jpeg, "/x/a.png.jpg"},
          {"/x/b.gif", save_bmp, "/x/b.gif.bmp"},
          {"/x/c", -1, ""},
          {"/x/c.heic", 5, ""},
          {"/x/c", 7, ""}}) {
        std::string p = path;
        EXPECT_EQ(check_save_extension(p, format), *result == 0) << path;
        if (*result) {
            EXPECT_EQ(p, result);
        }
    }
    EXPECT_EQ(scope.recorder.warnings(),
              (std::vector<std::string>{
                  "JPEG files must have a .jpg or .jpeg extension - .jpg will be added",
                  "BMP files must have a .bmp extension - .bmp will be added"}));
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"No file extension specified", "Unrecognized file type",
                                        "Unrecognized file type with no extension"}));
}

class SavePipeline : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = save_options();
        save_options().jpeg.script = save_options().tiff.script = save_options().gif.script = 0;
    }
    void TearDown() override {
        save_options() = saved_;
        close_all_images();
    }
    // A File Open node of a copy of the Panasonic JPEG.
    Node* opened(const std::string& copy) {
        fs::copy_file(panasonic_jpeg, copy);
        FileOpenSettings s;
        s.files.push_back({copy, "", true});
        Node* node = create_top_level_image(true, false, 0, 0, bypass_none, "File Open", true);
        node->command_line = file_open_module.format(s);
        EXPECT_EQ(find_module("file_open")->run(nullptr, node, split(*node->command_line)), 0)
            << node->error_text;
        return node;
    }
    SaveOptions saved_;
    testing::TempDir dir_;
    testing::RecordingScope scope_;
};

TEST_F(SavePipeline, CarriesTheOriginalsMetadataAndReplacesTheTargetLast) {
    if (!fs::exists(panasonic_jpeg) || exiftool_path().empty()) {
        GTEST_SKIP() << "needs gdk-pixbuf-tests and exiftool";
    }
    Node* node = opened(dir_.file("original.jpg"));
    EXPECT_EQ(original_file_of(node), dir_.file("original.jpg"));
    std::string target = dir_.file("out.tif");
    ASSERT_FALSE(write_file_atomic(target, "old contents"));
    ASSERT_FALSE(save_image_file(target, node, save_tiff, false));
    EXPECT_EQ(tag_value(target, "Make", dir_), "Panasonic");
    // Nothing beside the target: no file of the save's own, no backup of the metadata tool.
    EXPECT_EQ(dir_.names(), (std::vector<std::string>{"original.jpg", "out.tif", "tag.txt"}));
    EXPECT_EQ(node->saved_as_pathname, target);
    EXPECT_FALSE(node->saved_on_date.empty());
    Image back, alpha;
    ASSERT_FALSE(read_image_file(target, back, alpha));
    EXPECT_EQ(back.width, node->image.width);
    // A target whose name reads like an option reaches the metadata tool as a file.
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.path());
    const bool failed = save_image_file("-o.jpg", node, save_jpeg, false);
    fs::current_path(previous);
    ASSERT_FALSE(failed);
    EXPECT_EQ(tag_value(dir_.file("-o.jpg"), "Make", dir_), "Panasonic");
    EXPECT_TRUE(scope_.recorder.messages.empty());

    // The original gone: asked first; No leaves the target as it was.
    fs::remove(dir_.file("original.jpg"));
    std::string second = dir_.file("second.jpg");
    scope_.recorder.answers = {Answer::no};
    EXPECT_TRUE(save_image_file(second, node, save_jpeg, false));
    EXPECT_EQ(dir_.names(), (std::vector<std::string>{"-o.jpg", "out.tif", "tag.txt"}));
    ASSERT_EQ(scope_.recorder.questions.size(), 1u);
    EXPECT_EQ(scope_.recorder.questions[0],
              "Question: Missing original file (possibly renamed, moved or deleted?): " +
                  dir_.file("original.jpg") + "\n\nSave file without metadata?");
}

TEST_F(SavePipeline, WithoutAnOriginalAndTheRefusals) {
    Node* node = create_top_level_image(true, false, 0, 0, bypass_none, "New", true);
    ASSERT_FALSE(image_alloc(node->image, image_color24, 8, 8, 72.0));
    std::string target = dir_.file("new.png");
    ASSERT_FALSE(save_image_file(target, node, save_png, false));
    EXPECT_TRUE(fs::exists(target));
    EXPECT_EQ(scope_.recorder.warnings(),
              std::vector<std::string>{"No original file -- image will be saved without metadata"});

    // The script is written beside the image.
    save_options().png.script = 1;
    EXPECT_FALSE(save_image_file(dir_.file("scripted.png"), node, save_png, false));
    EXPECT_TRUE(fs::exists(dir_.file("scripted.png")));
    EXPECT_TRUE(fs::exists(dir_.file("scripted.script")));
    EXPECT_FALSE(save_image_file(dir_.file("noscript.png"), node, save_png, true));

    for (std::int32_t format : {file_heif, file_raw, file_webp}) {
        EXPECT_TRUE(save_image_file(dir_.file("x.webp"), node, format, false));
    }
    EXPECT_FALSE(fs::exists(dir_.file("x.webp")));

    Node* binary = create_top_level_image(true, false, 0, 0, bypass_none, "Bits", false);
    ASSERT_FALSE(image_alloc(binary->image, image_binary, 8, 8, 72.0));
    scope_.recorder.answers = {Answer::no};
    // A refused save removes only what it made: a file of the user's at the name of an older
    // fixed temporary stays.
    ASSERT_FALSE(write_file_atomic(dir_.file("bits.tmp"), "mine"));
    const std::vector<std::string> before = dir_.names();
    EXPECT_FALSE(save_image_file(dir_.file("bits.jpg"), binary, save_jpeg, false));
    EXPECT_EQ(dir_.names(), before);
}

// Two processes saving one target 20 times each: both succeed every time, one whole picture
// remains, and nothing beside it.
TEST_F(SavePipeline, TwoProcessesSavingOneTarget) {
    const std::string target = dir_.file("shared.tif");
    save_options().tiff.metadata = 3;
    Image pictures[2];
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
        Node* node = create_top_level_image(true, false, 0, 0, bypass_none, "p", true);
        ASSERT_FALSE(image_alloc(node->image, image_color24, 300, 200, 72.0));
        testing::fill_pattern(node->image, 900, 11 + k);
        ASSERT_FALSE(image_copy(node->image, pictures[k]));
        children[k] = ::fork();
        ASSERT_GE(children[k], 0);
        if (children[k] == 0) {
            int failures = 0;
            for (int i = 0; i < 20; ++i)
                failures += save_image_file(target, node, save_tiff, false);
            ::_exit(failures);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    Image back, alpha;
    ASSERT_FALSE(read_image_file(target, back, alpha));
    back.dpi = pictures[0].dpi;
    EXPECT_TRUE(image_equal(back, pictures[0]) || image_equal(back, pictures[1]));
    EXPECT_EQ(dir_.names(), std::vector<std::string>{"shared.tif"});
}

// A save with the original's metadata killed at random moments leaves the target as it was or
// new and whole, and nothing beside it.
TEST_F(SavePipeline, KilledSavesLeaveTheOldOrTheNewFileAndNothingElse) {
    if (!fs::exists(panasonic_jpeg)) GTEST_SKIP() << "needs gdk-pixbuf-tests";
    Node* node = opened(dir_.file("original.jpg"));
    Image big;
    ASSERT_FALSE(image_alloc(big, image_color24, 3000, 2000, 72.0));
    testing::fill_pattern(big, 900, 5);
    image_free(node->image);
    ASSERT_FALSE(image_copy(big, node->image));
    const std::string target = dir_.file("out.tif");
    ASSERT_FALSE(save_image_file(target, node, save_tiff, false));
    std::mt19937 random(11);
    for (int round = 0; round < 8; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) (void)save_image_file(target, node, save_tiff, false);
        }
        ::usleep(static_cast<useconds_t>(std::uniform_int_distribution<int>(0, 300000)(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        Image back, alpha;
        ASSERT_FALSE(read_image_file(target, back, alpha)) << round;
        back.dpi = big.dpi;
        EXPECT_TRUE(image_equal(back, big)) << round;
        EXPECT_EQ(tag_value(target, "Make", dir_), "Panasonic") << round;
        EXPECT_EQ(dir_.names(), (std::vector<std::string>{"original.jpg", "out.tif", "tag.txt"}))
            << round;
    }
}

// A full disk: the save fails with its message, the target keeps its old contents and nothing
// is left beside it. Needs a small file system of its own (mounting one needs the right to).
TEST_F(SavePipeline, AFullDiskLeavesTheTargetAsItWas) {
    const std::string small = dir_.file("small");
    fs::create_directory(small);
    if (std::system(("mount -t tmpfs -o size=1m tmpfs '" + small + "' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "cannot mount a 1 MB tmpfs here (needs root or CAP_SYS_ADMIN)";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { (void)std::system(("umount '" + path + "'").c_str()); }
    } unmount{small};
    const std::string target = small + "/full.tif";
    ASSERT_FALSE(write_file_atomic(target, "old contents"));
    Node* node = create_top_level_image(true, false, 0, 0, bypass_none, "big", true);
    ASSERT_FALSE(image_alloc(node->image, image_color24, 800, 600, 72.0));  // 1.4 MB
    // Written straight, and built in memory to be given its thumbnail first.
    for (std::int32_t mode : {3, 0}) {
        save_options().tiff.metadata = mode;
        EXPECT_TRUE(save_image_file(target, node, save_tiff, false));
        EXPECT_EQ(scope_.recorder.errors().back(), "Error saving file: " + target);
        std::string kept;
        ASSERT_FALSE(read_file_bytes(target, kept));
        EXPECT_EQ(kept, "old contents");
        EXPECT_EQ(dir_.names("small"), std::vector<std::string>{"full.tif"});
    }
}

// The options dialog edits a copy for one save; cancelling it writes nothing.
bool raise_quality_or_cancel_gif(std::int32_t format, SaveOptions& options) {
    if (format == save_gif) return true;
    options.jpeg.quality = 40.0;
    return false;
}

TEST_F(SavePipeline, OptionsDialogEditsACopyAndItsCancelWritesNothing) {
    Node* node = create_top_level_image(true, false, 0, 0, bypass_none, "deep", true);
    ASSERT_FALSE(image_alloc(node->image, image_color48, 64, 48, 72.0));
    for (std::uint32_t r = 0; r < 48; ++r) {
        for (std::uint32_t i = 0; i < 64 * 3; ++i)
            set_sample16(node->image.rows[r], i, std::uint16_t(r * 1300 + i * 97));
    }
    // Without a dialog the stored options are used; a deep picture is reduced for GIF.
    ASSERT_FALSE(save_image_file(dir_.file("a.gif"), node, save_gif, false));
    Image back, alpha;
    ASSERT_FALSE(read_image_file(dir_.file("a.gif"), back, alpha));
    EXPECT_EQ(back.width, 64u);

    set_save_options_dialog(raise_quality_or_cancel_gif);
    EXPECT_FALSE(save_image_file(dir_.file("b.gif"), node, save_gif, false));  // cancelled
    EXPECT_EQ(dir_.names(), std::vector<std::string>{"a.gif"});
    ASSERT_FALSE(save_image_file(dir_.file("q40.jpg"), node, save_jpeg, false));
    save_options().jpeg.ask = 1;  // saves with the stored 95 without asking
    ASSERT_FALSE(save_image_file(dir_.file("q95.jpg"), node, save_jpeg, false));
    set_save_options_dialog(nullptr);
    // The lower quality shows in the decoded pixels (file sizes also carry the thumbnail).
    auto error_of = [&](const std::string& name) {
        EXPECT_FALSE(read_image_file(dir_.file(name), back, alpha));
        double sum = 0.0;
        for (std::uint32_t r = 0; r < 48; ++r) {
            for (std::uint32_t i = 0; i < 64 * 3; ++i)
                sum += std::abs(back.rows[r][i] - to8[sample16(node->image.rows[r], i)]);
        }
        return sum / (48.0 * 64 * 3);
    };
    EXPECT_GT(error_of("q40.jpg"), error_of("q95.jpg") + 0.2);
    EXPECT_EQ(save_options().jpeg.quality, 95.0);
    EXPECT_TRUE(scope_.recorder.errors().empty());
}

TEST(ExifTool, GeotagTimeAndLensId) {
    const std::string here = fs::current_path().string() + "/";
    EXPECT_EQ(geotag_arguments("trip.gpx", '+', 5, 30, "/photos/../p"),
              (std::vector<std::string>{"-geotag", here + "trip.gpx",
                                        "-Geotime<${DateTimeOriginal}+05:30", "/p"}));
    EXPECT_EQ(geotag_arguments("trip.gpx", '-', 11, 0, "/p")[2],
              "-Geotime<${DateTimeOriginal}-11:00");
    std::string lens;
    EXPECT_FALSE(
        parse_lens_id("LensID       : EF-S18-55mm f/3.5-5.6\r\nLensInfo     : 18-55mm\r\n", lens));
    EXPECT_EQ(lens, "EF-S18-55mm f/3.5-5.6");
    EXPECT_TRUE(parse_lens_id("no colon here\r\n", lens));
}

TEST(ExifTool, MessagesWithoutTheToolOrTheOriginal) {
    testing::RecordingScope scope;
    testing::TempDir dir;
    set_metadata_in_process(false);
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
    set_metadata_in_process(true);
}

// What ExifTool says about a failure reaches the user as a warning (the call succeeds: the
// picture is saved either way), whether it runs as the kept process or once; a program that does
// not end is stopped at its allowance.
TEST(ExifTool, ErrorsAreReportedAndRunsBounded) {
    testing::RecordingScope scope;
    testing::TempDir dir;
    const std::string fake = dir.file("exiftool");
    ASSERT_FALSE(write_file_atomic(
        fake,
        "#!/bin/sh\necho '    0 image files updated'\necho 'Error: Disk full - x.jpg' >&2\n"
        "exit 1\n"));
    fs::permissions(fake, fs::perms::owner_all);
    set_metadata_in_process(false);
    set_exiftool_path(fake);
    const std::string target = dir.file("t.jpg");
    ASSERT_FALSE(write_file_atomic(target, "x"));
    EXPECT_FALSE(copy_metadata(target, target, metadata_all, nullptr));
    set_exiftool_path("");
    set_metadata_in_process(true);
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"ExifTool: Error: Disk full - x.jpg"});

    const ProgramRun silent = run_program_bounded("/bin/sh", {"-c", "exit 3"}, "", 10);
    EXPECT_TRUE(silent.started);
    EXPECT_EQ(silent.report, "exit status 3");
    const ProgramRun endless = run_program_bounded("/bin/sleep", {"30"}, "", 1);
    EXPECT_TRUE(endless.timed_out);
    EXPECT_EQ(endless.report, "stopped after 1 seconds");
    EXPECT_FALSE(run_program_bounded(dir.file("none"), {}, "", 1).started);
}

// Commands go to one kept ExifTool process a line per argument; a name that cannot travel that
// way (a line break in it) is handed to a process of its own, with the same result. (What each
// mode copies is compared with the in-process copy in metadata_copy_test.cpp.)
TEST(ExifTool, ANameWithALineBreakGetsAProcessOfItsOwn) {
    if (exiftool_path().empty())
        GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
    if (!fs::exists(panasonic_jpeg) || !fs::exists(plain_jpeg)) {
        GTEST_SKIP() << "test JPEGs missing (gdk-pixbuf-tests, libsixel-examples)";
    }
    testing::RecordingScope scope;
    testing::TempDir dir;
    const std::string odd = dir.file("two\nlines.jpg");
    fs::copy_file(plain_jpeg, odd);
    ASSERT_EQ(tag_value(odd, "Make", dir), "");
    set_metadata_in_process(false);
    EXPECT_FALSE(copy_metadata(panasonic_jpeg, odd, metadata_all_but_gps, nullptr));
    set_metadata_in_process(true);
    EXPECT_EQ(tag_value(odd, "Model", dir), "DMC-GF1");
    EXPECT_FALSE(fs::exists(odd + "_original"));  // rewritten in place
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
    EXPECT_TRUE(dir.names().empty());  // the tool's output file is the read's own, and gone
    unsetenv("TESSALY_SETTINGS_ROOT");
    reset_settings_folders();
}

}  // namespace
}  // namespace tessaly
