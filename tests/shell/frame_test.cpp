// The frame window on a real photograph: opening, drawing, the queue of files asked for while
// the engine is busy, the commands that are not there yet, and the exit questions.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <future>

#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "shell/image_view.h"
#include "support/recording_interaction.h"
#include "tree/run_node.h"
#include "tree/tree.h"
#include "workspace/preferences.h"
#include "workspace/startup.h"

namespace tessaly::shell {
namespace {

using tessaly::testing::RecordingInteraction;

const std::string photo = "/usr/share/wallpapers/Path/contents/images/2560x1600.jpg";

bool contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The share of pixels that differ by more than a small amount in any channel.
double differing_share(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 1.0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    std::int64_t differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int d = std::max({std::abs(qRed(p[col]) - qRed(q[col])),
                                    std::abs(qGreen(p[col]) - qGreen(q[col])),
                                    std::abs(qBlue(p[col]) - qBlue(q[col]))});
            if (d > 24) ++differing;
        }
    }
    return double(differing) / (double(x.width()) * x.height());
}

class Frame : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(photo)) GTEST_SKIP() << photo << " is missing";
        preferences().save_workspace_file = 0;
    }
    // The frame is gone by now and its engine thread with it.
    void TearDown() override {
        close_all_images();
        preferences() = Preferences{};
    }
    RecordingInteraction record;
};

TEST_F(Frame, OpensAPhotographAndDrawsItAsTheStoredScreenshot) {
    FrameWindow frame(&record);
    frame.resize(1000, 640);
    frame.show();
    frame.open_file(photo);
    frame.engine().wait_idle();
    const BrowserSnapshot& s = frame.browser()->canvas()->snapshot();
    ASSERT_EQ(s.nodes.size(), 1u);
    ASSERT_EQ(s.current, 0);
    EXPECT_FALSE(s.nodes[0].thumbnail.isNull());
    EXPECT_EQ(frame.view()->picture().size(), QSize(2560, 1600));
    EXPECT_LT(frame.view()->zoom(), 1.0);  // fitted into the window
    EXPECT_EQ(frame.view()->zoom(), frame.view()->fitted_zoom());
    // The keypad's * shows 1:1, and again the fitted size.
    frame.command(1127);
    EXPECT_EQ(frame.view()->zoom(), 1.0);
    frame.command(1127);
    EXPECT_EQ(frame.view()->zoom(), frame.view()->fitted_zoom());

    const QImage shot = frame.grab().toImage();
    const std::string reference = std::string(TESSALY_TEST_DATA) + "/shell/frame.png";
    if (!std::filesystem::exists(reference)) {
        shot.save(QString::fromStdString(reference));
        FAIL() << "no reference screenshot: written to " << reference << ", look at it";
    }
    QImage expected(QString::fromStdString(reference));
    EXPECT_LT(differing_share(shot, expected), 0.01)
        << "the frame no longer looks like " << reference;
    // A fitted picture stays fitted when the window changes; one zoomed by hand keeps its zoom.
    frame.resize(700, 500);
    QApplication::processEvents();
    EXPECT_EQ(frame.view()->zoom(), frame.view()->fitted_zoom());
    frame.command(1125);
    const double zoomed = frame.view()->zoom();
    frame.resize(900, 600);
    QApplication::processEvents();
    EXPECT_EQ(frame.view()->zoom(), zoomed);
    EXPECT_TRUE(record.messages.empty());
}

TEST_F(Frame, FilesAskedForWhileBusyAreOpenedOneBySecondAfterwards) {
    FrameWindow frame(&record);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    frame.engine().submit([released] { released.wait(); });
    frame.open_file(photo);
    frame.open_file("/nonexistent/missing.jpg");
    EXPECT_EQ(frame.queued_files().size(), 2u);
    release.set_value();
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame.queued_files().empty(); }, 5000));
    frame.engine().wait_idle();
    const auto errors = record.texts(MessageKind::error);
    EXPECT_TRUE(contains(errors, "Error opening file: /nonexistent/missing.jpg"));
    // The file that failed stays as a node that carries its error.
    const BrowserSnapshot& s = frame.browser()->canvas()->snapshot();
    ASSERT_EQ(s.top_level.size(), 2u);
    EXPECT_FALSE(s.nodes[s.top_level[0]].error);
    EXPECT_TRUE(s.nodes[s.top_level[1]].error);
}

// The File menu's action of a command id, after the menu brought its items up to date.
QAction* file_menu_action(FrameWindow& frame, std::uint32_t id) {
    QMenu* file = frame.menuBar()->actions().front()->menu();
    emit file->aboutToShow();
    for (QAction* a : file->actions()) {
        if (a->data().toUInt() == id) return a;
    }
    return nullptr;
}

TEST_F(Frame, CommandsNotBuiltSaySoAndNeedNoImage) {
    FrameWindow frame(&record);
    ASSERT_NE(file_menu_action(frame, 1002), nullptr);
    EXPECT_FALSE(file_menu_action(frame, 1002)->isEnabled());  // Save Back needs an image
    EXPECT_FALSE(file_menu_action(frame, 1012)->isEnabled());  // Close All Images too
    EXPECT_TRUE(file_menu_action(frame, 1001)->isEnabled());
    frame.command(1222);  // Add Border has no module yet
    frame.command(1014);  // Print
    frame.command(1002);  // Save Back without an image: nothing
    frame.engine().wait_idle();
    EXPECT_EQ(record.texts(MessageKind::error),
              std::vector<std::string>{"Transformation not available: Add Border"});
    EXPECT_EQ(record.texts(MessageKind::warning),
              std::vector<std::string>{"Print... is not available yet in this version of Tessaly"});
    frame.open_file(photo);
    frame.engine().wait_idle();
    EXPECT_TRUE(file_menu_action(frame, 1002)->isEnabled());
    EXPECT_TRUE(file_menu_action(frame, 1012)->isEnabled());
}

TEST_F(Frame, ExitAsksAboutTheWorkspaceAndTheClipboardAndEndsTheSession) {
    preferences().save_workspace_file = 1;
    auto frame = std::make_unique<FrameWindow>(&record);
    frame->show();
    frame->open_file(photo);
    frame->engine().wait_idle();
    ASSERT_TRUE(std::filesystem::exists(crash_recovery_file()));
    frame->command(1100);  // Copy Image to Clipboard
    frame->engine().wait_idle();
    EXPECT_TRUE(frame->owns_clipboard());
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(2560, 1600));

    record.answers = {Answer::cancel};
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(frame->isVisible());
    ASSERT_EQ(record.questions.size(), 1u);
    EXPECT_EQ(record.questions[0], "Tessaly: Save current workspace before exiting?");

    record.answers = {Answer::no, Answer::no};
    EXPECT_TRUE(frame->close());
    EXPECT_EQ(record.questions.back(), "Tessaly: Leave image on clipboard?");
    EXPECT_TRUE(QApplication::clipboard()->image().isNull());
    // The session ended normally: no recovery next time, the open file remembered.
    EXPECT_FALSE(std::filesystem::exists(crash_recovery_file()));
    frame.reset();
}

}  // namespace
}  // namespace tessaly::shell

namespace tessaly::shell {
namespace {

TEST(FrameDrop, DroppedFilesAreOpenedInTheirOrder) {
    if (!std::filesystem::exists(photo)) GTEST_SKIP() << photo << " is missing";
    RecordingInteraction record;
    FrameWindow frame(&record);
    frame.show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(photo)),
                  QUrl::fromLocalFile("/nonexistent/second.jpg")});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &drop);
    // The second file arrives while the first is being opened: it waits for the queue.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !frame.engine().busy() && frame.queued_files().empty(); }, 5000));
    frame.engine().wait_idle();
    const BrowserSnapshot& s = frame.browser()->canvas()->snapshot();
    ASSERT_EQ(s.top_level.size(), 2u);
    EXPECT_EQ(s.nodes[s.top_level[0]].caption, "2560x1600.jpg");
    EXPECT_TRUE(s.nodes[s.top_level[1]].error);
    frame.run([] { close_all_images(); });
    frame.engine().wait_idle();
}

}  // namespace
}  // namespace tessaly::shell

namespace tessaly::shell {
namespace {

TEST(FrameCommands, CloseBranchesAndBreakpointsActOnTheCurrentNode) {
    RecordingInteraction record;
    FrameWindow frame(&record);
    frame.run([] {
        Node* top = create_top_level_image(true, false, 0, 0, bypass_none, "picture", true);
        ASSERT_FALSE(image_alloc(top->image, image_gray8, 4, 4, 100.0));
        Node* a = add_transformation_after(top, true, false, 0, 0, bypass_none, "a");
        Node* b = add_transformation_after(a, true, false, 0, 0, bypass_none, "b");
        for (Node* n : {a, b}) {
            n->command_line = "invert 0";
            (void)run_node(n->parent, n);
        }
        set_current_node(a, -1);
    });
    const auto captions = [&] {
        std::vector<std::string> out;
        for (const BrowserNode& n : frame.browser()->canvas()->snapshot().nodes) {
            out.push_back(n.caption + (n.breakpoint ? "*" : ""));
        }
        return out;
    };
    frame.command(1117);  // a breakpoint on a
    frame.engine().wait_idle();
    EXPECT_EQ(captions(), (std::vector<std::string>{"picture", "a*", "b"}));
    frame.command(1112);  // a splitter after a: b moves into its first branch
    frame.command(1113);  // and a third branch
    frame.engine().wait_idle();
    EXPECT_EQ(captions(), (std::vector<std::string>{"picture", "a*", "Splitter", "Branch 1", "b",
                                                    "Branch 2", "Branch 3"}));
    // Show Dependencies: what a uses is upstream, what uses it downstream.
    frame.run([] { set_current_node(tree_root().children[0]->children[0], -1); });
    frame.command(1139);
    frame.engine().wait_idle();
    std::vector<int> relations;
    for (const BrowserNode& n : frame.browser()->canvas()->snapshot().nodes) {
        relations.push_back(n.relation);
    }
    EXPECT_EQ(relations, (std::vector<int>{1, 0, 2, 2, 2, 2, 2}));
    frame.command(1604);
    frame.engine().wait_idle();
    ASSERT_EQ(record.messages.size(), 1u);
    EXPECT_NE(record.messages[0].text.find("Ctrl+N\tNew..."), std::string::npos);
    record.messages.clear();
    frame.command(1118);
    frame.run([] { set_current_node(tree_root().children[0]->children[0], -1); });
    record.answers = {Answer::ok};
    frame.command(1011);  // Close a: its child takes its place
    frame.engine().wait_idle();
    EXPECT_EQ(record.questions,
              std::vector<std::string>{"Confirm: Close selected transformation?"});
    const std::vector<std::string> left = captions();
    EXPECT_EQ(left.front(), "picture");
    EXPECT_EQ(std::count(left.begin(), left.end(), "a"), 0);
    frame.run([] { close_all_images(); });
    frame.engine().wait_idle();
}

}  // namespace
}  // namespace tessaly::shell
