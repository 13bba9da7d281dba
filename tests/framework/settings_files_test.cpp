#include "framework/settings_files.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "core/text_file.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

const SettingsName add_border{"Add Border", ".add border"};

// Every test gets its own settings root through the environment, as the programs would.
class SettingsFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TESSALY_SETTINGS_ROOT", dir_.path().c_str(), 1);
        reset_settings_folders();
    }
    void TearDown() override {
        unsetenv("TESSALY_SETTINGS_ROOT");
        reset_settings_folders();
    }
    std::optional<ArgumentList> load(std::optional<std::string> name) {
        return load_settings("add_border", std::move(name), add_border);
    }
    testing::TempDir dir_;
    testing::RecordingScope scope_;
};

TEST_F(SettingsFilesTest, RootsPathsAndTheDefaultFile) {
    EXPECT_EQ(settings_root(), dir_.path());
    EXPECT_EQ(local_data_folder(), dir_.path());
    const std::string path = settings_path(add_border, "Default");
    EXPECT_EQ(path, dir_.path() + "/Add Border/Default.add border");
    EXPECT_TRUE(std::filesystem::is_directory(dir_.path() + "/Add Border"));
    EXPECT_FALSE(settings_exist(add_border, "Default"));

    const std::string line = "add_border 0 left 20 caption \u2033a b\u2033";
    ASSERT_FALSE(save_settings(line, std::string("Default"), add_border));
    std::string raw;
    ASSERT_FALSE(read_file_bytes(path, raw));
    EXPECT_EQ(raw, "\xEF\xBB\xBF" + line);
    auto args = load("Default");
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(args->count(), 6);
    EXPECT_EQ((*args)[5], "a b");
    clear_default(add_border);
    EXPECT_FALSE(settings_exist(add_border, "Default"));
    EXPECT_FALSE(load("Default").has_value());
    EXPECT_TRUE(scope_.recorder.messages.empty());  // a missing file fails silently

    unsetenv("TESSALY_SETTINGS_ROOT");
    setenv("XDG_DOCUMENTS_DIR", "/somewhere/Docs", 1);
    setenv("XDG_DATA_HOME", "/somewhere/data", 1);
    reset_settings_folders();
    EXPECT_EQ(settings_root(), "/somewhere/Docs/Tessaly");
    EXPECT_EQ(local_data_folder(), "/somewhere/data/Tessaly");
    // Without HOME the account's home folder, never a shared one such as /tmp.
    unsetenv("XDG_DOCUMENTS_DIR");
    unsetenv("XDG_DATA_HOME");
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    unsetenv("HOME");
    reset_settings_folders();
    EXPECT_EQ(local_data_folder(),
              std::string(getpwuid(getuid())->pw_dir) + "/.local/share/Tessaly");
    if (!home.empty()) setenv("HOME", home.c_str(), 1);
    reset_settings_folders();
}

TEST_F(SettingsFilesTest, EveryEncodingAndTheWrongKeyword) {
    auto utf16 = [](const std::string& ascii, bool big, bool mark) {
        std::string out = mark ? (big ? "\xFE\xFF" : "\xFF\xFE") : "";
        for (char c : ascii) out += big ? std::string{'\0', c} : std::string{c, '\0'};
        return out;
    };
    const std::string path = settings_path(add_border, "Mine"), line = "add_border 0 left 5";
    for (const std::string& bytes :
         {utf16(line, false, true), utf16(line, true, true), utf16(line, false, false),
          utf16(line, true, false), line + "\r\n"}) {
        ASSERT_FALSE(write_file_atomic(path, bytes));
        auto args = load("Mine");
        ASSERT_TRUE(args.has_value());
        EXPECT_EQ(args->tokens(), (std::vector<std::string>{"add_border", "0", "left", "5"}));
    }
    ASSERT_FALSE(write_file_atomic(path, std::string("\xFF\xFE\0\0a\0\0\0", 8)));  // UTF-32
    EXPECT_FALSE(load("Mine").has_value());
    EXPECT_TRUE(scope_.recorder.messages.empty());

    ASSERT_FALSE(write_settings_file(path, "crop 0 left 5"));
    EXPECT_FALSE(load("Mine").has_value());
    EXPECT_EQ(scope_.recorder.errors(),
              std::vector<std::string>{"Settings file " + path +
                                       " - command line starts with wrong command: crop"});
}

TEST_F(SettingsFilesTest, DialogsAskForNamesAndInsistOnTheExtension) {
    const std::string wrong = dir_.file("look.txt"), right = dir_.file("look.add border");
    scope_.recorder.files = {wrong, right};
    ASSERT_FALSE(save_settings("add_border 0 left 7", std::nullopt, add_border));
    EXPECT_EQ(scope_.recorder.file_dialogs,
              (std::vector<std::string>{"Save Add Border Settings", "Save Add Border Settings"}));
    EXPECT_EQ(scope_.recorder.errors(),
              std::vector<std::string>{
                  "Add Border files must have the extension .add border\nFile: " + wrong});
    EXPECT_FALSE(std::filesystem::exists(wrong));

    scope_.recorder.files = {right};
    auto args = load(std::nullopt);
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ((*args)[3], "7");
    EXPECT_EQ(scope_.recorder.file_dialogs.back(), "Load Add Border Settings");
    // Cancelled dialogs change nothing.
    EXPECT_TRUE(save_settings("add_border 0", std::nullopt, add_border));
    EXPECT_FALSE(load(std::nullopt).has_value());
}

}  // namespace
}  // namespace tessaly
