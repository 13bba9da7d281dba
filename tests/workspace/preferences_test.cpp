#include "workspace/preferences.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/format.h"
#include "core/text_file.h"
#include "framework/settings_files.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class PreferencesTest : public ::testing::Test {
  protected:
    void SetUp() override { set_settings_root(dir.path()); }
    void TearDown() override {
        preferences() = Preferences();
        save_options() = SaveOptions();
        reset_settings_folders();
    }
    // A file as another program or an older version might have left it (no BOM, LF ends).
    static void put(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string bytes(const std::string& path) {
        std::string b;
        EXPECT_FALSE(read_file_bytes(path, b));
        return b;
    }
    testing::TempDir dir;
    testing::RecordingScope scope;
};

TEST_F(PreferencesTest, AFileWithNoKeysGivesTheDefaultsWrittenAsTheTableSays) {
    put(preferences_path(), "Preferences 1.0\nend\n");
    preferences().text_delay = 5;  // left over from before: must not survive the load
    save_options().jpeg.quality = 50;
    ASSERT_FALSE(load_preferences());
    ASSERT_FALSE(save_preferences());
    // 64/255 = 0.25098 and 128/255 = 0.50196, at four decimals.
    const char* lines[] = {"Preferences 1.0",
                           "border_color 16 0.2510 0.2510 0.2510",
                           "workspace_background 0.5020 0.5020 0.5020",
                           "defaultunits 0",
                           "displayfullpathname 0",
                           "silent 0",
                           "use_tablet 1",
                           "text_delay 2000",
                           "clippedshadows 0 255 255 255",
                           "clippedhighlights 255 0 0 0",
                           "smooth_zoom 0",
                           "hide_progress_bars 0",
                           "on_separator_move 1",
                           "on_zoom_to_fit 0",
                           "restore_workspace_file 0",
                           "save_workspace_file 1",
                           "save_workspace_file_on_close_all 1",
                           "ask_on_workspace_script_load 1",
                           "ask_on_script_load 0",
                           "ignore_cm_changes 0",
                           "script_images 1",
                           "initial_dialog_position 0",
                           "recent_files 10 0",
                           "jpeg_save_options 0 95 0 0 1 0",
                           "tiff_save_options 0 0 1 0",
                           "png_save_options 0 0 0",
                           "bmp_save_options 0 0 0",
                           "gif_save_options 0 0",
                           "curve_options 0 0 10 1 3",
                           "end"};
    std::string expected = "\xEF\xBB\xBF";
    for (const char* l : lines) expected += std::string(l) + "\r\n";
    EXPECT_EQ(bytes(preferences_path()), expected);
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST_F(PreferencesTest, ValuesSurviveAWriteAndReadUnderAnyLocale) {
    // Every value away from its default.
    const Preferences p{.border_width = 3,
                        .border_color = {10, 20, 30},
                        .workspace_background = {0, 255, 1},
                        .default_units = 2,
                        .display_full_path_name = 1,
                        .silent = 1,
                        .use_tablet = 0,
                        .text_delay = 750,
                        .clipped_shadows_show = 1,
                        .clipped_shadows_color = {1, 2, 3},
                        .clipped_highlights_show = 0,
                        .clipped_highlights_color = {250, 251, 252},
                        .smooth_zoom = 1,
                        .hide_progress_bars = 1,
                        .on_separator_move = 0,
                        .on_zoom_to_fit = 1,
                        .restore_workspace_file = 1,
                        .save_workspace_file = 0,
                        .save_workspace_file_on_close_all = 0,
                        .ask_on_workspace_script_load = 0,
                        .ask_on_script_load = 1,
                        .ignore_cm_changes = 1,
                        .script_images = 0,
                        .initial_dialog_position = 2,
                        .recent_files = 4,
                        .recent_files_in_menu = 1,
                        .curve_options = {1, 2, 3, 4, 5}};
    SaveOptions o;
    o.jpeg = {1, 87.5, 2, 1, 0, 1};
    o.tiff = {1, 1, 0, 2};
    o.png = {1, 1, 1};
    o.bmp = {1, 1, 1};
    o.gif = {1, 1};

    bool was_plain = separators_are_plain();
    set_locale_characters(U',', U'.');
    set_locale_separators();
    std::string path = dir.file("Other.Preferences");
    ASSERT_FALSE(write_preferences(path, p, o));
    Preferences q;
    SaveOptions r;
    EXPECT_EQ(read_preferences(path, q, r), KeyedFileRead::read);
    set_locale_characters(U'.', U',');
    if (was_plain) set_plain_separators();

    std::string text = bytes(path);
    EXPECT_NE(text.find("\r\nborder_color 3 0.0392 0.0784 0.1176\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\njpeg_save_options 1 87.5 2 1 0 1\r\n"), std::string::npos);
    EXPECT_EQ(q, p);
    EXPECT_EQ(save_options_lines(r), save_options_lines(o));
}

TEST_F(PreferencesTest, OlderKeysAreReadAndUnknownOrLateLinesIgnored) {
    put(preferences_path(),
        "Preferences 1.0\n"
        "warn_if_larger_than 5000\n"
        "restore_workspace 1\n"
        "save_workspace 0\n"
        "jpeg_options 1 80 3\n"
        "tiff_options 1 1 0 2\n"
        "png_options 0 1\n"
        "bmp_options 1 1 1\n"
        "gif_options 1 1\n"
        "frobnicate 3 4\n"
        "recent_files 6\n"  // the second value is missing: kept
        "text_delay 12x\n"  // not a number: kept
        "\n"
        "workspace_background 2 -1 0.5\n"  // fractions outside 0..1 are clamped
        "end\n"
        "silent 1\n");
    ASSERT_FALSE(load_preferences());
    Preferences expected{.workspace_background = {255, 0, 128},
                         .restore_workspace_file = 1,
                         .save_workspace_file = 0,
                         .recent_files = 6,
                         .warn_if_larger_than = 5000};
    EXPECT_EQ(preferences(), expected);
    const SaveOptions& o = save_options();
    EXPECT_TRUE(o.jpeg.ask == 1 && o.jpeg.quality == 80.0 && o.jpeg.subsampling == 3 &&
                o.jpeg.script == 1);
    EXPECT_TRUE(o.tiff.compression == 2 && o.png.metadata == 1 && o.bmp.version == 1 &&
                o.gif.script == 1);
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST_F(PreferencesTest, HeadersDecideWhetherTheFileIsRead) {
    // No file: defaults, not an error.
    preferences().silent = 1;
    EXPECT_FALSE(load_preferences());
    EXPECT_EQ(preferences().silent, 0);

    for (const char* header : {"Preferences 1.0 extra", "Settings 1.0", "Preferences", ""}) {
        put(preferences_path(), std::string(header) + "\nsilent 1\nend\n");
        EXPECT_TRUE(load_preferences()) << header;
        EXPECT_EQ(preferences().silent, 0) << header;
    }
    EXPECT_TRUE(scope.recorder.messages.empty());

    // Another version only warns.
    put(preferences_path(), "Preferences 2.0\nsilent 1\nend\n");
    EXPECT_FALSE(load_preferences());
    EXPECT_EQ(preferences().silent, 1);
    EXPECT_EQ(scope.recorder.warnings(),
              std::vector<std::string>{"Preferences file was created for a newer version of "
                                       "Tessaly -- some settings may be ignored"});
}

TEST_F(PreferencesTest, TheTemporaryFileIsReadOverTheSavedOneAndDeleted) {
    put(preferences_path(), "Preferences 1.0\ntext_delay 100\nsilent 1\nend\n");
    put(preferences_temp_path(), "\xEF\xBB\xBFPreferences 1.0\r\nsilent 0\r\nsmooth_zoom 1\r\n");
    ASSERT_FALSE(load_preferences());
    EXPECT_EQ(preferences().text_delay, 100);
    EXPECT_EQ(preferences().silent, 0);
    EXPECT_EQ(preferences().smooth_zoom, 1);
    EXPECT_FALSE(fs::exists(preferences_temp_path()));
    EXPECT_TRUE(fs::exists(preferences_path()));

    // A damaged temporary file is deleted without spoiling the saved preferences.
    put(preferences_temp_path(), "garbage\n");
    EXPECT_FALSE(load_preferences());
    EXPECT_EQ(preferences().text_delay, 100);
    EXPECT_FALSE(fs::exists(preferences_temp_path()));
}

TEST_F(PreferencesTest, SavingCreatesTheFolderOrFailsQuietly) {
    fs::remove_all(dir.file("Preferences"));
    ASSERT_FALSE(save_preferences());
    EXPECT_TRUE(fs::is_regular_file(preferences_path()));

    put(dir.file("blocker"), "a file where a folder should be");
    set_settings_root(dir.file("blocker"));
    EXPECT_TRUE(save_preferences());
    EXPECT_TRUE(scope.recorder.messages.empty());
}

}  // namespace
}  // namespace tessaly
