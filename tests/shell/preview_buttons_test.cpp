// The preview buttons of the blur and sharpening dialogs over a real photograph: which modules
// have them, the difference view that follows each result and goes when it is turned off or the
// dialog closes, and the 2:1 zoom that a new result keeps.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <cstdlib>

#include "core/image.h"
#include "framework/node.h"
#include "shell/dialog_fixture.h"
#include "shell/difference_picture.h"
#include "shell/display_picture.h"
#include "shell/image_view.h"
#include "shell/sharpen_panels.h"
#include "tree/tree.h"

namespace tessaly::shell {
namespace {

// What the engine holds of the current node: the picture the window should show of its
// difference to its input, worked out here sample by sample, and its result's own picture.
struct Expected {
    QImage difference;
    QImage result;
    int unchanged = 0;  // pixels the transformation left alone
};

class PreviewButtons : public DialogOnAPhoto {
  protected:
    Expected expected() {
        Expected e;
        frame->engine().submit([&e] {
            const Node* node = current_node();
            const Node* input = node && node->parent ? effective_image_node(node->parent) : nullptr;
            if (!input || node->image.type != image_color24 || input->image.type != image_color24) {
                return;
            }
            const Image& out = node->image;
            const Image& in = input->image;
            e.result = window_picture(out);
            e.difference = QImage(int(out.width), int(out.height), QImage::Format_RGB32);
            for (std::uint32_t y = 0; y < out.height; ++y) {
                const std::uint8_t* o = out.rows[out.height - 1 - y];
                const std::uint8_t* i = in.rows[out.height - 1 - y];
                for (std::uint32_t x = 0; x < out.width; ++x) {
                    int level[3];
                    bool same = true;
                    for (int c = 0; c < 3; ++c) {
                        const int d = std::abs(o[3 * x + c] - i[3 * x + c]);
                        same = same && d == 0;
                        level[c] = std::min(255, d * difference_gain);
                    }
                    e.unchanged += same;
                    e.difference.setPixel(int(x), int(y), qRgb(level[2], level[1], level[0]));
                }
            }
        });
        frame->engine().wait_idle();
        return e;
    }
};

TEST_F(PreviewButtons, EachModuleOffersTheButtonsItDeclares) {
    TransformationDialog* sharpen = open("unsharp_mask");
    ASSERT_NE(sharpen, nullptr);
    ASSERT_NE(sharpen->run_button(), nullptr);
    ASSERT_NE(sharpen->delta_button(), nullptr);
    ASSERT_NE(sharpen->double_button(), nullptr);
    EXPECT_EQ(sharpen->run_button()->toolTip(), "Compute entire output image");
    EXPECT_EQ(sharpen->delta_button()->toolTip(), "Show Difference");
    EXPECT_EQ(sharpen->double_button()->toolTip(), "Display preview at 2:1");
    EXPECT_TRUE(sharpen->delta_button()->isCheckable());
    screenshot(sharpen, "unsharp_mask-preview-buttons");
    sharpen->reject();
    ASSERT_TRUE(closed());

    TransformationDialog* blur = open("gaussian_blur");
    ASSERT_NE(blur, nullptr);
    EXPECT_NE(blur->run_button(), nullptr);
    EXPECT_EQ(blur->delta_button(), nullptr) << "the blur has no difference view";
    EXPECT_NE(blur->double_button(), nullptr);
    blur->reject();
    ASSERT_TRUE(closed());

    TransformationDialog* invert = open("invert");
    ASSERT_NE(invert, nullptr);
    EXPECT_EQ(invert->run_button(), nullptr);
    EXPECT_EQ(invert->delta_button(), nullptr);
    EXPECT_EQ(invert->double_button(), nullptr);
    EXPECT_TRUE(invert->findChildren<QToolButton*>("Run.bmp").isEmpty());
}

TEST_F(PreviewButtons, DifferenceViewFollowsEachResultAndGoesWithTheToggleAndOk) {
    TransformationDialog* dialog = open("unsharp_mask");
    ASSERT_NE(dialog, nullptr);
    auto* panel = qobject_cast<UnsharpMaskPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    settle(dialog);
    Expected first = expected();
    ASSERT_FALSE(first.difference.isNull()) << "the photograph is 24-bit colour";
    ASSERT_GT(first.unchanged, 0) << "below the threshold pixels stay as they were";
    EXPECT_EQ(frame->view()->picture(), first.result);

    dialog->delta_button()->click();
    settle(dialog);
    EXPECT_EQ(frame->view()->picture(), first.difference);
    int black = 0;
    const QImage shown = frame->view()->picture();
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) black += shown.pixel(x, y) == qRgb(0, 0, 0);
    }
    EXPECT_GE(black, first.unchanged) << "what the sharpening left alone is black";
    if (const QByteArray folder = qgetenv("TESSALY_SCREENSHOT_DIR"); !folder.isEmpty())
        frame->view()->grab().save(QString::fromUtf8(folder) + "/unsharp_mask-difference.png");

    // A stronger sharpening: the view shows the new difference, not the result.
    panel->slider("strength")->setValue(8000);
    settle(dialog);
    const Expected second = expected();
    ASSERT_NE(second.difference, first.difference);
    EXPECT_EQ(frame->view()->picture(), second.difference);

    dialog->delta_button()->click();
    settle(dialog);
    EXPECT_EQ(frame->view()->picture(), second.result);

    // OK with the difference showing leaves the node's result in the window.
    dialog->delta_button()->click();
    settle(dialog);
    EXPECT_EQ(frame->view()->picture(), second.difference);
    dialog->accept();
    ASSERT_TRUE(closed());
    EXPECT_EQ(frame->view()->picture(), second.result);
}

TEST_F(PreviewButtons, DoubleZoomsTheWindowToTwoAndANewResultKeepsIt) {
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    settle(dialog);
    ImageView* view = frame->view();
    ASSERT_LT(view->zoom(), 2.0);
    dialog->double_button()->click();
    EXPECT_EQ(view->zoom(), 2.0);
    qobject_cast<QSpinBox*>(dialog->control("radius"))->setValue(9);
    settle(dialog);
    EXPECT_EQ(view->zoom(), 2.0) << "the same node's new result keeps the zoom";

    // Run computes the result now, whatever the node was waiting for.
    frame->engine().submit([] { current_node()->needs_run = true; });
    frame->engine().wait_idle();
    dialog->run_button()->click();
    settle(dialog);
    bool needs_run = true;
    frame->engine().submit([&needs_run] { needs_run = current_node()->needs_run; });
    frame->engine().wait_idle();
    EXPECT_FALSE(needs_run);
    EXPECT_EQ(view->zoom(), 2.0);
}

}  // namespace
}  // namespace tessaly::shell
