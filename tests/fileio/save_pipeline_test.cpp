#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/tables.h"
#include "core/text_file.h"
#include "fileio/exiftool.h"
#include "fileio/file_open.h"
#include "fileio/image_file.h"
#include "fileio/save.h"
#include "support/module_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "tree/tree.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

const char* panasonic_jpeg = "/usr/libexec/installed-tests/gdk-pixbuf/bug143608-comment.jpg";

class SavePipeline : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = save_options();
        save_options().jpeg.script = 0;
        save_options().tiff.script = 0;
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
    std::string tag(const std::string& file, const std::string& name) {
        std::string out = dir_.file("tag.txt");
        fs::remove(out);
        EXPECT_FALSE(run_program(exiftool_path(), {"-s", "-s", "-s", "-" + name, file}, out));
        std::string text;
        (void)read_file_bytes(out, text);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
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
    EXPECT_EQ(tag(target, "Make"), "Panasonic");
    EXPECT_FALSE(fs::exists(dir_.file("out.tmp")));
    EXPECT_FALSE(fs::exists(dir_.file("out.tmp_original")));
    EXPECT_EQ(node->saved_as_pathname, target);
    EXPECT_FALSE(node->saved_on_date.empty());
    Image back, alpha;
    ASSERT_FALSE(read_image_file(target, back, alpha));
    EXPECT_EQ(back.width, node->image.width);
    EXPECT_TRUE(scope_.recorder.messages.empty());

    // The original gone: asked first; No leaves the target as it was.
    fs::remove(dir_.file("original.jpg"));
    std::string second = dir_.file("second.jpg");
    scope_.recorder.answers = {Answer::no};
    EXPECT_TRUE(save_image_file(second, node, save_jpeg, false));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_FALSE(fs::exists(dir_.file("second.tmp")));
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
    EXPECT_FALSE(save_image_file(dir_.file("bits.jpg"), binary, save_jpeg, false));
    EXPECT_FALSE(fs::exists(dir_.file("bits.jpg")));
    EXPECT_FALSE(fs::exists(dir_.file("bits.tmp")));
}

// The options dialog edits a copy for one save; cancelling it writes nothing.
bool raise_quality_or_cancel_gif(std::int32_t format, SaveOptions& options) {
    if (format == save_gif) return true;
    options.jpeg.quality = 40.0;
    return false;
}

TEST(SaveOptionsDialog, EditsACopyAndItsCancelWritesNothing) {
    testing::TempDir dir;
    testing::RecordingScope scope;
    const SaveOptions kept = save_options();
    save_options().jpeg.script = 0;
    save_options().gif.script = 0;
    Node* node = create_top_level_image(true, false, 0, 0, bypass_none, "deep", true);
    ASSERT_FALSE(image_alloc(node->image, image_color48, 64, 48, 72.0));
    for (std::uint32_t r = 0; r < 48; ++r) {
        auto* row = reinterpret_cast<std::uint16_t*>(node->image.rows[r]);
        for (std::uint32_t i = 0; i < 64 * 3; ++i)
            row[i] = static_cast<std::uint16_t>(r * 1300 + i * 97);
    }
    // Without a dialog the stored options are used; a deep picture is reduced for GIF.
    ASSERT_FALSE(save_image_file(dir.file("a.gif"), node, save_gif, false));
    Image back, alpha;
    ASSERT_FALSE(read_image_file(dir.file("a.gif"), back, alpha));
    EXPECT_EQ(back.width, 64u);

    set_save_options_dialog(raise_quality_or_cancel_gif);
    EXPECT_FALSE(save_image_file(dir.file("b.gif"), node, save_gif, false));  // cancelled
    EXPECT_FALSE(fs::exists(dir.file("b.gif")));
    EXPECT_FALSE(fs::exists(dir.file("b.tmp")));
    ASSERT_FALSE(save_image_file(dir.file("q40.jpg"), node, save_jpeg, false));
    save_options().jpeg.ask = 1;  // saves with the stored 95 without asking
    ASSERT_FALSE(save_image_file(dir.file("q95.jpg"), node, save_jpeg, false));
    set_save_options_dialog(nullptr);
    // The lower quality shows in the decoded pixels (file sizes also carry the thumbnail).
    auto error_of = [&](const std::string& name) {
        Image decoded, none;
        EXPECT_FALSE(read_image_file(dir.file(name), decoded, none));
        double sum = 0.0;
        for (std::uint32_t r = 0; r < 48; ++r) {
            const auto* deep = reinterpret_cast<const std::uint16_t*>(node->image.rows[r]);
            for (std::uint32_t i = 0; i < 64 * 3; ++i) {
                sum += std::abs(int(decoded.rows[r][i]) - int(to8[deep[i]]));
            }
        }
        return sum / (48.0 * 64 * 3);
    };
    EXPECT_GT(error_of("q40.jpg"), error_of("q95.jpg") + 0.2);
    EXPECT_EQ(save_options().jpeg.quality, 95.0);
    EXPECT_TRUE(scope.recorder.errors().empty());
    save_options() = kept;
    close_all_images();
}

}  // namespace
}  // namespace tessaly
