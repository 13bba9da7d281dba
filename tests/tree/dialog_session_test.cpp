#include "tree/dialog_session.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "framework/module.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly {
namespace {

// The window-independent dialog logic, driven with the real Rotate/Mirror transformation on a
// 3 x 1 gray picture "10 20 30".
class DialogSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TESSALY_SETTINGS_ROOT", dir_.path().c_str(), 1);
        reset_settings_folders();
        source_ = create_top_level_image(true, false, 0, 0, bypass_none, "source.tif", true);
        ASSERT_NE(source_, nullptr);
        ASSERT_FALSE(image_alloc(source_->image, image_gray8, 3, 1, 72.0));
        std::uint8_t* row = source_->image.rows[0];
        row[0] = 10;
        row[1] = 20;
        row[2] = 30;
        set_current_node(source_, -1);
        // The module's own view, its re-parse recorded.
        info_ = dialog_module_info(*find_module("rotref"));
        ASSERT_TRUE(info_.replaces_image);
        ASSERT_EQ(info_.settings.name, "Rotate-Mirror");
        info_.reparse = [this](const ArgumentList& args) {
            reparsed_.push_back(args.count() > 3 ? std::string(args[3]) : "");
            return args.count() > 3 && args[3] == "9";
        };
    }
    void TearDown() override {
        close_all_images();
        unsetenv("TESSALY_SETTINGS_ROOT");
        reset_settings_folders();
    }
    // The node's picture read left to right.
    static std::string pixels(const Node* node) {
        std::string s;
        const Image& im = node->image;
        for (int r = static_cast<int>(im.height) - 1; r >= 0; --r) {
            for (std::uint32_t x = 0; x < im.width; ++x) s += std::to_string(im.rows[r][x]) + " ";
        }
        return s;
    }

    testing::TempDir dir_;
    testing::RecordingScope scope_;
    Node* source_ = nullptr;
    DialogModuleInfo info_;
    std::vector<std::string> reparsed_;
};

TEST_F(DialogSessionTest, MenuCaseCreatesRunsAndAccepts) {
    auto session = DialogSession::open_new(info_, "rotref 0 orientation 4 display 1", true);
    ASSERT_NE(session, nullptr);
    Node* node = session->node();
    EXPECT_EQ(node->parent, source_);
    EXPECT_EQ(node->caption, "Rotate/Mirror");
    EXPECT_EQ(current_node(), node);
    EXPECT_EQ(pixels(node), "30 20 10 ");  // auto preview ran the mirror at once

    session->settings_changed("rotref 0 orientation 1 display 1");
    EXPECT_EQ(node->image.width, 1u);
    EXPECT_EQ(node->image.height, 3u);
    session->set_auto_preview(false);
    session->settings_changed("rotref 0 orientation 0 display 1");
    EXPECT_TRUE(node->needs_run);
    EXPECT_EQ(node->image.width, 1u);  // not run yet

    EXPECT_FALSE(session->ok());
    EXPECT_TRUE(session->closed());
    EXPECT_FALSE(node->needs_run);
    EXPECT_EQ(pixels(node), "10 20 30 ");
    EXPECT_TRUE(settings_exist(info_.settings, "Previous"));
    EXPECT_TRUE(scope_.recorder.questions.empty());
}

TEST_F(DialogSessionTest, CancellingANewNodeRemovesIt) {
    auto session = DialogSession::open_new(info_, "rotref 0 orientation 2 display 1", true);
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->cancel());
    EXPECT_TRUE(source_->children.empty());
    EXPECT_EQ(current_node(), source_);
    EXPECT_FALSE(settings_exist(info_.settings, "Previous"));
}

TEST_F(DialogSessionTest, CancellingAnEditAsksOnlyAfterAChange) {
    Node* node =
        add_transformation_after(source_, false, false, 0, 0, bypass_none, "Rotate/Mirror");
    node->command_line = "rotref 0 orientation 4 display 1";
    ASSERT_FALSE(run_node(source_, node));
    Node* below = add_transformation_after(node, false, false, 0, 0, bypass_none, "Rotate/Mirror");
    below->command_line = "rotref 0 orientation 0 display 1";
    ASSERT_FALSE(run_node(node, below));

    auto session = DialogSession::open_existing(info_, node, true);
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->unchanged());
    EXPECT_TRUE(session->cancel());  // nothing changed: no question
    EXPECT_TRUE(scope_.recorder.questions.empty());

    session = DialogSession::open_existing(info_, node, true);
    session->settings_changed("rotref 0 orientation 0 display 1");
    EXPECT_EQ(pixels(node), "10 20 30 ");
    scope_.recorder.answers = {Answer::cancel};
    EXPECT_FALSE(session->cancel());  // the person keeps the dialog open
    EXPECT_FALSE(session->closed());
    scope_.recorder.answers = {Answer::ok};
    EXPECT_TRUE(session->cancel());
    EXPECT_EQ(scope_.recorder.questions,
              (std::vector<std::string>{"Confirm: Abandon changes to settings?",
                                        "Confirm: Abandon changes to settings?"}));
    EXPECT_EQ(*node->command_line, "rotref 0 orientation 4 display 1");
    EXPECT_EQ(pixels(node), "30 20 10 ");  // restored and re-run
    EXPECT_EQ(reparsed_.back(), "4");

    // After Apply, abandoning re-runs what lies below as well.
    session = DialogSession::open_existing(info_, node, true);
    session->settings_changed("rotref 0 orientation 0 display 1");
    EXPECT_FALSE(session->apply());
    EXPECT_EQ(pixels(below), "10 20 30 ");
    session->settings_changed("rotref 0 orientation 9 display 1");  // a bad code fails the run
    EXPECT_TRUE(node->error);
    scope_.recorder.answers = {Answer::ok};
    EXPECT_TRUE(session->cancel());
    EXPECT_EQ(*node->command_line, "rotref 0 orientation 0 display 1");
    EXPECT_EQ(pixels(below), "10 20 30 ");
}

TEST_F(DialogSessionTest, ReplacingAnImageAboveSizeDependentNodesAsksFirst) {
    Node* retouch = add_transformation_after(source_, true, true, 0, 0, bypass_none, "Clone");
    retouch->command_line = "clone 1";
    scope_.recorder.answers = {Answer::cancel};
    EXPECT_EQ(DialogSession::open_new(info_, "rotref 0 orientation 1 display 1", true), nullptr);
    EXPECT_EQ(source_->children.size(), 1u);
    EXPECT_EQ(source_->children[0], retouch);
    ASSERT_EQ(scope_.recorder.questions.size(), 1u);
    EXPECT_EQ(scope_.recorder.questions[0].rfind("Alert: One or more downstream images depend on "
                                                 "the size of the current image.\n\nAfter",
                                                 0),
              0u);
    scope_.recorder.answers = {Answer::ok};
    auto session = DialogSession::open_new(info_, "rotref 0 orientation 1 display 1", true);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->node()->children.size(), 1u);
    EXPECT_EQ(session->node()->children[0], retouch);
}

}  // namespace
}  // namespace tessaly
