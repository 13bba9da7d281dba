// Preferences, session state and theme files: what is written, what older or damaged files give.
#include "workspace/preferences.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/format.h"
#include "framework/registry.h"
#include "workspace/session_state.h"
#include "workspace/theme.h"
#include "workspace_fixture.h"

namespace tessaly::testing {
namespace {

// "a|b|c" as its parts: long lists of short lines, written compactly.
Strings split_lines(std::string_view text) {
    Strings out;
    for (std::size_t at = 0;;) {
        const std::size_t bar = text.find('|', at);
        out.emplace_back(text.substr(at, bar - at));
        if (bar == text.npos) return out;
        at = bar + 1;
    }
}

class Settings : public WorkspaceTest {
  protected:
    void SetUp() override {
        WorkspaceTest::SetUp();
        reset_use_counts();
    }
    void TearDown() override {
        preferences() = Preferences();
        save_options() = SaveOptions();
        session_state() = SessionState();
        current_theme() = Theme();
        reset_use_counts();
        WorkspaceTest::TearDown();
    }
    // A file as another program or an older version might have left it (no BOM, LF ends).
    static void put_text(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    // The lines of a written file, without the BOM and the CR LF ends.
    static Strings lines_of(const std::string& path) {
        const std::string text = read(path);
        EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
        Strings lines;
        for (std::size_t at = 3, end; (end = text.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            lines.push_back(text.substr(at, end - at));
        }
        return lines;
    }
};

TEST_F(Settings, APreferencesFileWithNoKeysGivesTheDefaultsWrittenAsTheTableSays) {
    put_text(preferences_path(), "Preferences 1.0\nend\n");
    preferences().text_delay = 5;  // left over from before: must not survive the load
    save_options().jpeg.quality = 50;
    ASSERT_FALSE(load_preferences());
    ASSERT_FALSE(save_preferences());
    // 64/255 = 0.25098 and 128/255 = 0.50196, at four decimals.
    EXPECT_EQ(
        lines_of(preferences_path()),
        split_lines("Preferences 1.0|border_color 16 0.2510 0.2510 0.2510|workspace_background "
                    "0.5020 0.5020 0.5020|defaultunits 0|displayfullpathname 0|silent 0|"
                    "use_tablet 1|text_delay 2000|clippedshadows 0 255 255 255|clippedhighlights "
                    "255 0 0 0|smooth_zoom 0|hide_progress_bars 0|on_separator_move 1|"
                    "on_zoom_to_fit 0|restore_workspace_file 0|save_workspace_file 1|"
                    "save_workspace_file_on_close_all 1|ask_on_workspace_script_load 1|"
                    "ask_on_script_load 0|ignore_cm_changes 0|script_images 1|"
                    "initial_dialog_position 0|recent_files 10 0|jpeg_save_options 0 95 0 0 1 0|"
                    "tiff_save_options 0 0 1 0|png_save_options 0 0 0|bmp_save_options 0 0 0|"
                    "gif_save_options 0 0|curve_options 0 0 10 1 3|end"));
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST_F(Settings, PreferencesSurviveAWriteAndReadUnderAnyLocale) {
    // Every value away from its default.
    Preferences p;
    p.border_width = 3, p.border_color = {10, 20, 30}, p.workspace_background = {0, 255, 1};
    p.default_units = 2, p.display_full_path_name = 1, p.silent = 1, p.use_tablet = 0;
    p.text_delay = 750, p.clipped_shadows_show = 1, p.clipped_shadows_color = {1, 2, 3};
    p.clipped_highlights_show = 0, p.clipped_highlights_color = {250, 251, 252};
    p.smooth_zoom = 1, p.hide_progress_bars = 1, p.on_separator_move = 0, p.on_zoom_to_fit = 1;
    p.restore_workspace_file = 1, p.save_workspace_file = 0;
    p.save_workspace_file_on_close_all = 0, p.ask_on_workspace_script_load = 0;
    p.ask_on_script_load = 1, p.ignore_cm_changes = 1, p.script_images = 0;
    p.initial_dialog_position = 2, p.recent_files = 4, p.recent_files_in_menu = 1;
    p.curve_options = {1, 2, 3, 4, 5};
    SaveOptions o;
    o.jpeg = {1, 87.5, 2, 1, 0, 1}, o.tiff = {1, 1, 0, 2}, o.png = {1, 1, 1}, o.bmp = {1, 1, 1};
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
    const std::string text = read(path);
    EXPECT_TRUE(text.find("\r\nborder_color 3 0.0392 0.0784 0.1176\r\n") != text.npos &&
                text.find("\r\njpeg_save_options 1 87.5 2 1 0 1\r\n") != text.npos);
    EXPECT_EQ(q, p);
    EXPECT_EQ(save_options_lines(r), save_options_lines(o));
}

TEST_F(Settings, OlderPreferenceKeysAreReadAndUnknownOrLateLinesIgnored) {
    put_text(preferences_path(),
             "Preferences 1.0\nwarn_if_larger_than 5000\nrestore_workspace 1\nsave_workspace 0\n"
             "jpeg_options 1 80 3\ntiff_options 1 1 0 2\npng_options 0 1\nbmp_options 1 1 1\n"
             "gif_options 1 1\nfrobnicate 3 4\n"
             "recent_files 6\n"  // the second value is missing: kept
             "text_delay 12x\n"  // not a number: kept
             "\n"
             "workspace_background 2 -1 0.5\n"  // fractions outside 0..1 are clamped
             "end\nsilent 1\n");
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

TEST_F(Settings, HeadersDecideWhetherThePreferencesAreRead) {
    // No file: defaults, not an error.
    preferences().silent = 1;
    EXPECT_FALSE(load_preferences() || preferences().silent != 0);
    for (const char* header : {"Preferences 1.0 extra", "Settings 1.0", "Preferences", ""}) {
        put_text(preferences_path(), std::string(header) + "\nsilent 1\nend\n");
        EXPECT_TRUE(load_preferences()) << header;
        EXPECT_EQ(preferences().silent, 0) << header;
    }
    EXPECT_TRUE(scope.recorder.messages.empty());
    // Another version only warns.
    put_text(preferences_path(), "Preferences 2.0\nsilent 1\nend\n");
    EXPECT_FALSE(load_preferences() || preferences().silent != 1);
    EXPECT_EQ(scope.recorder.warnings(), Strings{"Preferences file was created for a newer "
                                                 "version of Tessaly -- some settings may be "
                                                 "ignored"});
}

TEST_F(Settings, TheTemporaryPreferencesAreReadOverTheSavedOnesAndDeleted) {
    put_text(preferences_path(), "Preferences 1.0\ntext_delay 100\nsilent 1\nend\n");
    put_text(preferences_temp_path(),
             "\xEF\xBB\xBFPreferences 1.0\r\nsilent 0\r\nsmooth_zoom 1\r\n");
    ASSERT_FALSE(load_preferences());
    const Preferences& p = preferences();
    EXPECT_TRUE(p.text_delay == 100 && p.silent == 0 && p.smooth_zoom == 1);
    EXPECT_TRUE(!fs::exists(preferences_temp_path()) && fs::exists(preferences_path()));
    // A damaged temporary file is deleted without spoiling the saved preferences.
    put_text(preferences_temp_path(), "garbage\n");
    EXPECT_FALSE(load_preferences() || fs::exists(preferences_temp_path()));
    EXPECT_EQ(preferences().text_delay, 100);
    // Saving makes the folder, or fails quietly where none can be made.
    fs::remove_all(dir.file("Preferences"));
    ASSERT_FALSE(save_preferences());
    EXPECT_TRUE(fs::is_regular_file(preferences_path()));
    put_text(dir.file("blocker"), "a file where a folder should be");
    set_settings_root(dir.file("blocker"));
    EXPECT_TRUE(save_preferences());
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST_F(Settings, SessionFileListsOpenImagesFirstAndKeepsEveryValue) {
    // Every value away from its default, the optional preview placement present.
    SessionState& s = session_state();
    s.open_files = {"/pictures/a.tif", "/pictures/with blank.jpg", "/pictures/c.png"};
    s.font_scale = 1.25, s.font_face_index = 4, s.border_color = 2, s.current_view = 1;
    s.mask_overlay_color = 3, s.mask_transparency = 1, s.mask_initial_display = 0;
    s.color_picker_colorspace = 1, s.color_picker_numberspace = 2, s.show_clipped_highlights = 1;
    s.show_clipped_shadows = 1, s.hide_images = 1, s.show_select = 1, s.measure_operation = 2;
    s.measure_units = 1, s.horizontal_split = 1, s.separator = 0.375;
    s.thumbnail_zoom_factor = 1.5, s.last_file_open_folder = "/open here";
    s.last_file_save_folder = "/save", s.default_folder = "/default";
    s.prev_workspace = "/w/prev.workspace", s.last_workspace = "/w/last.workspace";
    s.current_snippet = "/w/a.snip", s.falloff_folder = "/fall\noff";  // a line break too
    s.distortion_folder = "/distortion", s.what_workspace_to_recover = 1;
    s.clipping_color_space = 2,
    s.window_placement = {2, 3, -32000, -32000, -1, -1, 10, 20, 1010, 720};
    s.preview_window_placement = WindowPlacement{0, 1, 1, 2, 3, 4, 5, 6, 7, 8};
    s.palette = {1, 2, 3, 4}, s.readout = {1, 2, 3, 4, 5, 6, 7}, s.magnifier = 4;
    s.histogram = {1, 2, 2.5, 3, 4}, s.no_file = {640, 480, "Untitled"};
    s.nik_folder = "/nik", s.topaz_folder = "/topaz", s.dxo_folder = "";
    set_use_count("resize", 7);
    ASSERT_FALSE(save_session_state());
    Strings lines = lines_of(session_state_path());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(Strings(lines.begin(), lines.begin() + 5),
              (Strings{"Session 1.0", "openfile 1 ″/pictures/a.tif″",
                       "openfile 2 ″/pictures/with blank.jpg″", "openfile 3 ″/pictures/c.png″",
                       "font_scale 1.2500"}));
    EXPECT_EQ(Strings(lines.end() - 2, lines.end()), (Strings{"use_count ″resize″ 7", "end"}));
    // The preview placement directly after the frame's; %4zf drops the trailing zeros.
    auto at = std::find(lines.begin(), lines.end(),
                        "window_placement 2 3 -32000 -32000 -1 -1 10 20 1010 720");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(*(at + 1), "preview_window_placement 0 1 1 2 3 4 5 6 7 8");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "histogram 1 2 2.5 3 4"), lines.end());
    // The browser window did not exist.
    for (const std::string& l : lines) EXPECT_EQ(l.find("browser_window_placement"), l.npos);
    // A file's counts replace the registry's.
    set_use_count("blur", 9);
    SessionState back;
    EXPECT_EQ(read_session_state(session_state_path(), back), KeyedFileRead::read);
    EXPECT_EQ(back, s);
    EXPECT_TRUE(find_transformation("blur")->use_count == 0 &&
                find_transformation("resize")->use_count == 7);
}

TEST_F(Settings, DamagedSessionFileResetsToDefaultsAndKeepsUseCounts) {
    set_use_count("crop", 2);
    put_text(session_state_path(),
             "Preferences 1.0\nfont_scale 2\nuse_count \u2033crop\u2033 9\nend\n");
    session_state().font_scale = 3;
    EXPECT_TRUE(load_session_state());
    EXPECT_TRUE(session_state().font_scale == 1.0 && find_transformation("crop")->use_count == 2);
    fs::remove(session_state_path());
    EXPECT_FALSE(load_session_state());
}

TEST_F(Settings, ThemeFilesNeedTheirExtensionKeepTheirOrderAndClamp) {
    std::string name = themes_folder() + "/Dark", upper = "/x/Light.THEME";
    EXPECT_TRUE(complete_theme_file_name(name));
    EXPECT_FALSE(complete_theme_file_name(upper));
    EXPECT_TRUE(name == themes_folder() + "/Dark.theme" && upper == "/x/Light.THEME");
    EXPECT_EQ(errors(), Strings{"Theme files must have an extension of .theme"});
    EXPECT_EQ(scope.recorder.messages.size(), 1u);
    Theme t;
    t.thumbnail_border_same_as_image = 0, t.menu_text = {1, 2, 3}, t.depressed_button = {255, 0, 7};
    ASSERT_FALSE(write_theme(name, t));  // the Themes folder is made
    const Strings lines = lines_of(dir.file("Themes/Dark.theme"));
    ASSERT_EQ(lines.size(), 28u);
    EXPECT_TRUE(lines.front() == "Theme 1.0" && lines.back() == "end");
    EXPECT_TRUE(lines[3] == "thumbnail_border_same_as_image 0" && lines[16] == "menu_text 1 2 3");
    Theme back;
    EXPECT_EQ(read_theme(name, back), KeyedFileRead::read);
    EXPECT_EQ(back, t);
    put_text(default_theme_path(), "Theme 1.0\nmenu_text 300 -4 9\nend\n");
    ASSERT_FALSE(load_default_theme());
    EXPECT_EQ(current_theme().menu_text, (ShellColor{255, 0, 9}));
    put_text(default_theme_path(), "Theme\nmenu_text 1 1 1\n");
    EXPECT_TRUE(load_default_theme());
    EXPECT_EQ(current_theme(), Theme());
}

}  // namespace
}  // namespace tessaly::testing
