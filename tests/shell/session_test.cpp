// Start-up as the frame runs it: a session that ended abnormally, a broken workspace on the
// command line, and the recovery file's life.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "shell/start_session.h"
#include "support/recording_interaction.h"
#include "tree/tree.h"
#include "workspace/startup.h"

namespace tessaly::shell {
namespace {

namespace fs = std::filesystem;
using tessaly::testing::RecordingInteraction;

const std::string photo = "/usr/share/wallpapers/Path/contents/images/2560x1600.jpg";

class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(photo)) GTEST_SKIP() << photo << " is missing";
    }
    void TearDown() override {
        close_all_images();
        std::error_code ec;
        fs::remove(crash_recovery_file(), ec);
    }
    std::size_t open_images(FrameWindow& frame) {
        return frame.browser()->canvas()->snapshot().top_level.size();
    }
    RecordingInteraction record;
};

// A session killed with an image open leaves the recovery file and its autosave behind.
void leave_a_killed_session() {
    ASSERT_FALSE(process_command_token(photo));
    autosave_workspace();
    close_all_images();
    ASSERT_TRUE(fs::exists(crash_recovery_file()));
}

TEST_F(Session, AnAbnormalEndIsOfferedForRecoveryAndNoForgetsIt) {
    leave_a_killed_session();
    {
        FrameWindow frame(&record);
        record.answers = {Answer::yes};
        start_session(frame, "");
        ASSERT_EQ(record.questions.size(), 1u);
        EXPECT_EQ(record.questions[0],
                  "Alert: Last session terminated abnormally -- restore last autosaved "
                  "workspace?");
        EXPECT_EQ(open_images(frame), 1u);
        EXPECT_FALSE(fs::exists(crash_recovery_file()));
        frame.run([] { close_all_images(); });
    }
    leave_a_killed_session();
    FrameWindow frame(&record);
    record.answers = {Answer::no};
    start_session(frame, "\"" + photo + "\"");
    // No: the command line is processed instead, and the old session is forgotten.
    EXPECT_EQ(record.questions.size(), 2u);
    EXPECT_EQ(open_images(frame), 1u);
    EXPECT_FALSE(fs::exists(crash_recovery_file()));
}

TEST_F(Session, ABrokenWorkspaceOnTheCommandLineOpensNothingAndSaysWhy) {
    const fs::path broken = fs::temp_directory_path() / "tessaly-broken.workspace";
    {
        std::ofstream out(broken, std::ios::binary);
        out << "this is not a workspace\r\nfile_open 0\r\n";
    }
    FrameWindow frame(&record);
    start_session(frame, broken.string());
    EXPECT_EQ(open_images(frame), 0u);
    EXPECT_EQ(record.texts(MessageKind::error),
              (std::vector<std::string>{"Illegal script file header",
                                        "Error processing script file: " + broken.string()}));
    EXPECT_TRUE(frame.isEnabled());
    fs::remove(broken);
}

}  // namespace
}  // namespace tessaly::shell
