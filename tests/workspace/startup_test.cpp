// Start-up and exit: the command line's tokens, the autosave rotation and crash recovery.
#include <gtest/gtest.h>

#include "core/format.h"
#include "workspace/preferences.h"
#include "workspace/session_state.h"
#include "workspace_fixture.h"

namespace tessaly::testing {
namespace {

using Startup = WorkspaceTest;

TEST_F(Startup, CommandLineOpensImagesInOrderAndRunsScripts) {
    EXPECT_TRUE(process_command_line("\"" + make_png("one.png", 3, 2) + "\" \"" +
                                     make_png("two words.png", 5, 2) + "\" \"" +
                                     dir.file("missing.png") + "\""));
    auto& tops = tree_root().children;
    ASSERT_EQ(tops.size(), 3u);
    EXPECT_TRUE(tops[0]->image.width == 3u && tops[1]->image.width == 5u &&
                tops[1]->caption == "two words.png");
    EXPECT_TRUE(tops[2]->error);  // reported, and still opened as the loader goes on with it
    EXPECT_EQ(errors().front(), "Cannot open file: " + dir.file("missing.png"));
    EXPECT_TRUE(last_file_open_folder() == dir.path() && !exit_when_done());
    EXPECT_TRUE(fs::exists(workspace_scripts_folder() + "/Autosave.workspace"));
    // A script with exit_when_done: its nodes run and the switch is set.
    Node* resize = add(tops[0], "Resize", "resize 0 pixel_w 6 pixel_h 4 set 2 method 0");
    ASSERT_FALSE(save_script(resize, dir.file("r.script"), ImageNames::with_names));
    close_all_images();
    EXPECT_FALSE(process_command_line("\"" + dir.file("r.script") + "\" EXIT_WHEN_DONE"));
    ASSERT_TRUE(exit_when_done() && tops.size() == 1u);
    EXPECT_EQ(tops[0]->children.at(0)->image.width, 6u);
    EXPECT_EQ(recent_script_files().front(), dir.file("r.script"));
}

TEST_F(Startup, HandedOverCommandLinesAndRecoveryChoicesLoadWhatTheyName) {
    // A name with blanks and letters outside ASCII crosses the UTF-16 file intact.
    const std::string png = make_png("Été 2026.png", 3, 3);
    ASSERT_FALSE(hand_over_command_line("\"" + png + "\""));
    std::string bytes = read(settings_root() + "/cmdline");
    // Little-endian units, a zero unit at the end.
    EXPECT_TRUE(bytes[1] == '\0' && bytes.ends_with(std::string(2, '\0')));
    EXPECT_FALSE(process_handed_over_command_line());
    ASSERT_EQ(tree_root().children.size(), 1u);
    EXPECT_EQ(tree_root().children[0]->name, png);
    EXPECT_FALSE(fs::exists(settings_root() + "/cmdline"));
    EXPECT_TRUE(process_handed_over_command_line());  // nothing handed over
    ASSERT_FALSE(save_workspace(dir.file("w.workspace"), ImageNames::with_names, false, false));
    close_all_images();
    EXPECT_TRUE(load_recovery_choice(dir.file("w.txt")));
    EXPECT_EQ(errors().back(), "Illegal script pathname: " + dir.file("w.txt"));
    EXPECT_FALSE(load_recovery_choice(dir.file("w.workspace")) ||
                 tree_root().children.size() != 1u);
    EXPECT_TRUE(fs::exists(workspace_scripts_folder() + "/Autosave.workspace"));
}

TEST_F(Startup, TenEditsLeaveFiveAutosavesAndRecoveryUntilANormalEnd) {
    const std::string png = make_png("a.png", 2, 2);
    Node* top = open(png);
    for (int edit = 1; edit <= 10; ++edit) {
        top->comment = formatted("edit %d", edit);
        autosave_workspace();
    }
    const std::string folder = workspace_scripts_folder() + "/";
    Strings names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Strings{"Autosave.workspace", "Autosave1.workspace", "Autosave2.workspace",
                              "Autosave3.workspace", "Autosave4.workspace"}));
    EXPECT_NE(read(folder + "Autosave.workspace").find("″edit 10″"), std::string::npos);
    EXPECT_NE(read(folder + "Autosave4.workspace").find("″edit 6″"), std::string::npos);
    EXPECT_EQ(read(crash_recovery_file()), read(folder + "Autosave.workspace"));
    // The next start finds the recovery file and restores the autosave when asked to.
    close_all_images();
    scope.recorder.answers.push_back(Answer::yes);
    EXPECT_TRUE(offer_crash_recovery());
    ASSERT_EQ(tree_root().children.size(), 1u);
    EXPECT_EQ(tree_root().children[0]->comment, "edit 10");
    EXPECT_EQ(scope.recorder.questions.back(),
              "Alert: Last session terminated abnormally -- restore last autosaved workspace?");
    // A normal end keeps the workspace as Previous, records the open file and drops recovery.
    finish_session();
    EXPECT_TRUE(!fs::exists(crash_recovery_file()) && fs::exists(folder + "Previous.workspace"));
    SessionState session;
    ASSERT_EQ(read_session_state(session_state_path(), session), KeyedFileRead::read);
    EXPECT_EQ(session.open_files, Strings{png});
    EXPECT_FALSE(offer_crash_recovery());
}

TEST_F(Startup, SavedStateSetsTheLoaderQuestionsAndReportsDamagedFiles) {
    ASSERT_FALSE(write_preferences(
        preferences_path(), {.ask_on_workspace_script_load = 0, .ask_on_script_load = 1}, {}));
    fs::create_directories(settings_root() + "/Themes");
    ASSERT_FALSE(write_file_atomic(settings_root() + "/Themes/Default.theme", "Nonsense\r\n"));
    load_saved_state();
    EXPECT_EQ(errors(), Strings{"Error loading theme.\nTheme settings reset to defaults."});
    EXPECT_TRUE(script_load_policy().ask_on_script_load &&
                !script_load_policy().ask_on_workspace_load);
    // Asked before a script loads over open images: No keeps them.
    open(make_png("a.png", 2, 2));
    ASSERT_FALSE(
        save_script(tree_root().children[0], dir.file("a.script"), ImageNames::with_names));
    scope.recorder.answers.push_back(Answer::no);
    ASSERT_FALSE(load_script(dir.file("a.script")));
    EXPECT_EQ(tree_root().children.size(), 2u);
    EXPECT_EQ(scope.recorder.questions.back(), "Alert: Close all images before loading script?");
    // Yes closes them first, after the question about saving the workspace (answered No).
    scope.recorder.answers = {Answer::yes, Answer::no};
    ASSERT_FALSE(load_script(dir.file("a.script")));
    EXPECT_EQ(tree_root().children.size(), 1u);
    preferences() = Preferences{};
    apply_preferences();
}

}  // namespace
}  // namespace tessaly::testing
