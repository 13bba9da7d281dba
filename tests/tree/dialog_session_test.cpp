#include "tree/dialog_session.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "framework/module.h"
#include "support/temp_dir.h"
#include "tree_fixture.h"

namespace tessaly::testing {
namespace {

// The window-independent dialog logic, driven with the real Rotate/Mirror transformation on a
// 3 x 1 gray picture "10 20 30".
class DialogSessionTest : public TreeTest {
  protected:
    void SetUp() override {
        TreeTest::SetUp();
        setenv("TESSALY_SETTINGS_ROOT", dir_.path().c_str(), 1);
        reset_settings_folders();
        source_ = create_top_level_image(true, false, 0, 0, bypass_none, "source.tif", true);
        ASSERT_FALSE(image_alloc(source_->image, image_gray8, 3, 1, 72.0));
        for (int x = 0; x < 3; ++x)
            source_->image.rows[0][x] = static_cast<std::uint8_t>(10 + 10 * x);
        set_current_node(source_, -1);
        // The module's own view, its re-parse recorded.
        info_ = dialog_module_info(*find_module("rotref"));
        ASSERT_TRUE(info_.replaces_image && info_.settings.name == "Rotate-Mirror");
        info_.reparse = [this](const ArgumentList& args) {
            reparsed_.push_back(args.count() > 3 ? std::string(args[3]) : "");
            return args.count() > 3 && args[3] == "9";
        };
    }
    void TearDown() override {
        TreeTest::TearDown();
        unsetenv("TESSALY_SETTINGS_ROOT");
        reset_settings_folders();
    }
    // The node's picture read left to right, top to bottom.
    static std::string pixels(const Node* node) {
        std::string s;
        const Image& im = node->image;
        for (std::uint32_t r = im.height; r-- > 0;) {
            for (std::uint32_t x = 0; x < im.width; ++x) s += std::to_string(im.rows[r][x]) + " ";
        }
        return s;
    }
    Node* add_run(Node* parent, const char* line) {
        Node* n = add_transformation_after(parent, false, false, 0, 0, bypass_none, "R/M");
        n->command_line = line;
        EXPECT_FALSE(run_node(parent, n));
        return n;
    }

    TempDir dir_;
    Node* source_ = nullptr;
    DialogModuleInfo info_;
    Strings reparsed_;
};

TEST_F(DialogSessionTest, MenuCaseCreatesRunsAndAccepts) {
    auto session = DialogSession::open_new(info_, "rotref 0 orientation 4 display 1", true);
    ASSERT_NE(session, nullptr);
    Node* node = session->node();
    EXPECT_TRUE(node->parent == source_ && node->caption == "Rotate/Mirror" &&
                current_node() == node);
    EXPECT_EQ(pixels(node), "30 20 10 ");  // auto preview ran the mirror at once
    session->settings_changed("rotref 0 orientation 1 display 1");
    EXPECT_TRUE(node->image.width == 1u && node->image.height == 3u);
    session->set_auto_preview(false);
    session->settings_changed("rotref 0 orientation 0 display 1");
    EXPECT_TRUE(node->needs_run && node->image.width == 1u);  // not run yet
    EXPECT_FALSE(session->ok());
    EXPECT_TRUE(session->closed() && !node->needs_run && questions().empty());
    EXPECT_EQ(pixels(node), "10 20 30 ");
    EXPECT_TRUE(settings_exist(info_.settings, "Previous"));
}

TEST_F(DialogSessionTest, CancellingANewNodeRemovesIt) {
    auto session = DialogSession::open_new(info_, "rotref 0 orientation 2 display 1", true);
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->cancel() && source_->children.empty() && current_node() == source_);
    EXPECT_FALSE(settings_exist(info_.settings, "Previous"));
}

TEST_F(DialogSessionTest, CancellingAnEditAsksOnlyAfterAChange) {
    Node* node = add_run(source_, "rotref 0 orientation 4 display 1");
    Node* below = add_run(node, "rotref 0 orientation 0 display 1");
    auto session = DialogSession::open_existing(info_, node, true);
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->unchanged() && session->cancel());  // nothing changed: no question
    EXPECT_TRUE(questions().empty());
    session = DialogSession::open_existing(info_, node, true);
    session->settings_changed("rotref 0 orientation 0 display 1");
    EXPECT_EQ(pixels(node), "10 20 30 ");
    scope.recorder.answers = {Answer::cancel, Answer::ok};
    EXPECT_FALSE(session->cancel() || session->closed());  // the person keeps the dialog open
    EXPECT_TRUE(session->cancel());
    EXPECT_EQ(questions(), Strings(2, "Confirm: Abandon changes to settings?"));
    EXPECT_EQ(*node->command_line, "rotref 0 orientation 4 display 1");
    EXPECT_EQ(pixels(node), "30 20 10 ");  // restored and re-run
    EXPECT_EQ(reparsed_.back(), "4");
    // After Apply, abandoning re-runs what lies below as well.
    session = DialogSession::open_existing(info_, node, true);
    session->settings_changed("rotref 0 orientation 0 display 1");
    EXPECT_FALSE(session->apply());
    EXPECT_EQ(pixels(below), "10 20 30 ");
    session->settings_changed("rotref 0 orientation 9 display 1");  // a bad code fails the run
    scope.recorder.answers = {Answer::ok};
    EXPECT_TRUE(node->error && session->cancel());
    EXPECT_EQ(*node->command_line, "rotref 0 orientation 0 display 1");
    EXPECT_EQ(pixels(below), "10 20 30 ");
}

TEST_F(DialogSessionTest, ReplacingAnImageAboveSizeDependentNodesAsksFirst) {
    Node* retouch = add_transformation_after(source_, true, true, 0, 0, bypass_none, "Clone");
    retouch->command_line = "clone 1";
    scope.recorder.answers = {Answer::cancel};
    EXPECT_EQ(DialogSession::open_new(info_, "rotref 0 orientation 1 display 1", true), nullptr);
    ASSERT_TRUE(source_->children == Nodes{retouch} && questions().size() == 1u);
    EXPECT_TRUE(questions()[0].starts_with(
        "Alert: One or more downstream images depend on the size of the current image.\n\nAfter"));
    scope.recorder.answers = {Answer::ok};
    auto session = DialogSession::open_new(info_, "rotref 0 orientation 1 display 1", true);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->node()->children, Nodes{retouch});
}

}  // namespace
}  // namespace tessaly::testing
