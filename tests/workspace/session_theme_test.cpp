#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/text_file.h"
#include "framework/registry.h"
#include "framework/settings_files.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "workspace/session_state.h"
#include "workspace/theme.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class SessionThemeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_settings_root(dir.path());
        reset_use_counts();
    }
    void TearDown() override {
        session_state() = SessionState();
        current_theme() = Theme();
        reset_use_counts();
        reset_settings_folders();
    }
    static void put(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    // The lines of a written file, without the BOM and the CR LF ends.
    static std::vector<std::string> lines_of(const std::string& path) {
        LineReader reader;
        EXPECT_FALSE(reader.open(path));
        std::vector<std::string> lines;
        ArgumentList tokens;
        while (reader.next(tokens)) lines.emplace_back(reader.line_text());
        return lines;
    }
    testing::TempDir dir;
    testing::RecordingScope scope;
};

TEST_F(SessionThemeTest, SessionFileListsOpenImagesFirstAndUseCountsLast) {
    SessionState& s = session_state();
    s.open_files = {"/pictures/a.tif", "/pictures/with blank.jpg", "/pictures/c.png"};
    set_use_count("blur", 3);
    ASSERT_FALSE(save_session_state());
    std::vector<std::string> lines = lines_of(session_state_path());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Session 1.0");
    EXPECT_EQ(lines[1], "openfile 1 \u2033/pictures/a.tif\u2033");
    EXPECT_EQ(lines[2], "openfile 2 \u2033/pictures/with blank.jpg\u2033");
    EXPECT_EQ(lines[3], "openfile 3 \u2033/pictures/c.png\u2033");
    EXPECT_EQ(lines[4], "font_scale 1.0000");
    EXPECT_EQ(lines[lines.size() - 2], "use_count \u2033blur\u2033 3");
    EXPECT_EQ(lines.back(), "end");
    // The browser and preview windows did not exist.
    for (const std::string& l : lines) EXPECT_EQ(l.find("_window_placement"), std::string::npos);
}

TEST_F(SessionThemeTest, SessionValuesAndUseCountsSurviveAWriteAndRead) {
    // Every value away from its default, the optional preview placement present.
    SessionState s;
    s.open_files = {"/a.tif"};
    s.font_scale = 1.25;
    s.font_face_index = 4;
    s.border_color = 2;
    s.current_view = 1;
    s.mask_overlay_color = 3;
    s.mask_transparency = 1;
    s.mask_initial_display = 0;
    s.color_picker_colorspace = 1;
    s.color_picker_numberspace = 2;
    s.show_clipped_highlights = 1;
    s.show_clipped_shadows = 1;
    s.hide_images = 1;
    s.show_select = 1;
    s.measure_operation = 2;
    s.measure_units = 1;
    s.horizontal_split = 1;
    s.separator = 0.375;
    s.thumbnail_zoom_factor = 1.5;
    s.last_file_open_folder = "/open here";
    s.last_file_save_folder = "/save";
    s.default_folder = "/default";
    s.prev_workspace = "/w/prev.workspace";
    s.last_workspace = "/w/last.workspace";
    s.current_snippet = "/w/a.snip";
    s.falloff_folder = "/falloff";
    s.distortion_folder = "/distortion";
    s.what_workspace_to_recover = 1;
    s.clipping_color_space = 2;
    s.window_placement = {2, 3, -32000, -32000, -1, -1, 10, 20, 1010, 720};
    s.preview_window_placement = WindowPlacement{0, 1, 1, 2, 3, 4, 5, 6, 7, 8};
    s.palette = {1, 2, 3, 4};
    s.readout = {1, 2, 3, 4, 5, 6, 7};
    s.magnifier = 4;
    s.histogram = {1, 2, 2.5, 3, 4};
    s.no_file = {640, 480, "Untitled"};
    s.nik_folder = "/nik";
    s.topaz_folder = "/topaz";
    s.dxo_folder = "";
    set_use_count("resize", 7);

    std::string path = dir.file("a.state");
    ASSERT_FALSE(write_session_state(path, s));
    std::vector<std::string> lines = lines_of(path);
    // The preview placement directly after the frame's; %4zf drops the trailing zeros.
    auto at = std::find(lines.begin(), lines.end(),
                        "window_placement 2 3 -32000 -32000 -1 -1 10 20 1010 720");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(*(at + 1), "preview_window_placement 0 1 1 2 3 4 5 6 7 8");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "histogram 1 2 2.5 3 4"), lines.end());

    // A file's counts replace the registry's.
    set_use_count("blur", 9);
    SessionState back;
    EXPECT_EQ(read_session_state(path, back), KeyedFileRead::read);
    EXPECT_EQ(back, s);
    EXPECT_EQ(find_transformation("blur")->use_count, 0);
    EXPECT_EQ(find_transformation("resize")->use_count, 7);
}

TEST_F(SessionThemeTest, DamagedSessionFileResetsToDefaultsAndKeepsUseCounts) {
    set_use_count("crop", 2);
    put(session_state_path(), "Preferences 1.0\nfont_scale 2\nuse_count \u2033crop\u2033 9\nend\n");
    session_state().font_scale = 3;
    EXPECT_TRUE(load_session_state());
    EXPECT_EQ(session_state().font_scale, 1.0);
    EXPECT_EQ(find_transformation("crop")->use_count, 2);
    fs::remove(session_state_path());
    EXPECT_FALSE(load_session_state());
}

TEST_F(SessionThemeTest, ThemeNameWithoutExtensionIsCompletedAfterTheMessage) {
    std::string name = themes_folder() + "/Dark";
    EXPECT_TRUE(complete_theme_file_name(name));
    EXPECT_EQ(name, themes_folder() + "/Dark.theme");
    EXPECT_EQ(scope.recorder.errors(),
              std::vector<std::string>{"Theme files must have an extension of .theme"});
    Theme dark;
    dark.workspace_background = {20, 20, 20};
    ASSERT_FALSE(write_theme(name, dark));
    EXPECT_TRUE(fs::is_regular_file(dir.file("Themes/Dark.theme")));

    std::string upper = "/x/Light.THEME";
    EXPECT_FALSE(complete_theme_file_name(upper));
    EXPECT_EQ(upper, "/x/Light.THEME");
    EXPECT_EQ(scope.recorder.messages.size(), 1u);
}

TEST_F(SessionThemeTest, ThemeEntriesInOrderRoundTripAndClamp) {
    Theme t;
    t.thumbnail_border_same_as_image = 0;
    t.menu_text = {1, 2, 3};
    t.depressed_button = {255, 0, 7};
    std::string path = dir.file("t.theme");
    ASSERT_FALSE(write_theme(path, t));
    std::vector<std::string> lines = lines_of(path);
    const char* keys[] = {"Theme",
                          "workspace_background",
                          "image_browser_background",
                          "thumbnail_border_same_as_image",
                          "thumbnail_border",
                          "thumbnail_caption_background",
                          "thumbnail_caption_text",
                          "thumbnail_current_caption_background",
                          "thumbnail_current_caption_text",
                          "thumbnail_upstream_caption_background",
                          "thumbnail_upstream_caption_text",
                          "thumbnail_downstream_caption_background",
                          "thumbnail_downstream_caption_text",
                          "thumbnail_outline",
                          "thumbnail_connector",
                          "menu_background",
                          "menu_text",
                          "highlighted_menu_background",
                          "highlighted_menu_text",
                          "quick_pick_background",
                          "quick_pick_button_background",
                          "quick_pick_button_text",
                          "quick_pick_grayed_button_background",
                          "quick_pick_grayed_button_text",
                          "quick_pick_unused_button_background",
                          "quick_pick_unused_button_text",
                          "depressed_button",
                          "end"};
    ASSERT_EQ(lines.size(), std::size(keys));
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(split(lines[i])[0], keys[i]);
    EXPECT_EQ(lines[3], "thumbnail_border_same_as_image 0");
    EXPECT_EQ(lines[16], "menu_text 1 2 3");
    Theme back;
    EXPECT_EQ(read_theme(path, back), KeyedFileRead::read);
    EXPECT_EQ(back, t);

    put(default_theme_path(), "Theme 1.0\nmenu_text 300 -4 9\nend\n");
    ASSERT_FALSE(load_default_theme());
    EXPECT_EQ(current_theme().menu_text, (ShellColor{255, 0, 9}));
    put(default_theme_path(), "Theme\nmenu_text 1 1 1\n");
    EXPECT_TRUE(load_default_theme());
    EXPECT_EQ(current_theme(), Theme());
}

}  // namespace
}  // namespace tessaly
