// The panels of Rotate/Mirror and Resize, driven through their widgets over a real photograph:
// what the buttons and typed sizes make of the settings, and that OK's command line gives the
// node the size the panel showed.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <cmath>

#include "core/arguments.h"
#include "framework/node.h"
#include "shell/dialog_fixture.h"
#include "shell/resize_panel.h"
#include "shell/rotref_panel.h"
#include "transformations/rotref.h"
#include "tree/tree.h"

namespace tessaly::shell {
namespace {

struct NodeState {
    std::string line;
    std::uint32_t width = 0, height = 0;
};

class ModulePanels : public DialogOnAPhoto {
  protected:
    // The current node, or the node it was added after (the picture the dialog works on).
    NodeState node(bool parent = false) {
        NodeState n;
        frame->engine().submit([&n, parent] {
            const Node* current = current_node();
            if (current && parent) current = current->parent;
            if (!current) return;
            n.line = current->command_line.value_or("");
            n.width = current->image.width;
            n.height = current->image.height;
        });
        frame->engine().wait_idle();
        return n;
    }
    static std::int32_t integer(const std::string& line, const char* key) {
        std::int32_t value = -1;
        (void)read_integer(split(line), key, value);
        return value;
    }
    // With TESSALY_SCREENSHOT_DIR set: the dialog as a person sees it.
    // Types a value into a field and presses Enter, which is also the dialog's OK.
    static void enter(QLineEdit* field, const QString& text) {
        field->setText(text);
        QTest::keyClick(field, Qt::Key_Return);
    }
    // Types a value into a field and leaves it.
    static void type(QLineEdit* field, const QString& text) {
        field->setText(text);
        emit field->editingFinished();
    }
};

TEST_F(ModulePanels, RotateMirrorButtonsComposeTheOrientationAndOkWritesIt) {
    TransformationDialog* dialog = open("rotref");
    ASSERT_NE(dialog, nullptr);
    auto* panel = qobject_cast<RotrefPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(dialog->control("orientation"), nullptr) << "the panel takes the setting over";
    EXPECT_EQ(panel->orientation(), 0);
    ASSERT_NE(panel->button(rotref_button_rotate_cw), nullptr);
    EXPECT_EQ(panel->button(rotref_button_rotate_cw)->toolTip(), "Rotate Clockwise");

    // Four clockwise turns come back to the start, passing through every turn on the way.
    const std::int32_t turns[] = {1, 2, 3, 0};
    for (std::int32_t expected : turns) {
        QTest::mouseClick(panel->button(rotref_button_rotate_cw), Qt::LeftButton);
        EXPECT_EQ(panel->orientation(), expected);
        EXPECT_TRUE(panel->thumbnail(expected)->isChecked());
    }
    // Two left-right reflections cancel out; after a counterclockwise turn a top-bottom one
    // gives the transverse.
    QTest::mouseClick(panel->button(rotref_button_reflect_horizontal), Qt::LeftButton);
    EXPECT_EQ(panel->orientation(), 4);
    QTest::mouseClick(panel->button(rotref_button_reflect_horizontal), Qt::LeftButton);
    EXPECT_EQ(panel->orientation(), 0);
    QTest::mouseClick(panel->button(rotref_button_rotate_ccw), Qt::LeftButton);
    QTest::mouseClick(panel->button(rotref_button_reflect_vertical), Qt::LeftButton);
    EXPECT_EQ(panel->orientation(), 5);

    // A thumbnail chooses its code; a clockwise turn mirrored left to right is the transpose.
    QTest::mouseClick(panel->thumbnail(1), Qt::LeftButton);
    EXPECT_EQ(panel->orientation(), 1);
    QTest::mouseClick(panel->button(rotref_button_reflect_horizontal), Qt::LeftButton);
    EXPECT_EQ(panel->orientation(), 5);
    const NodeState source = node(true);
    settle(dialog);
    screenshot(dialog, "rotref");

    dialog->accept();
    settle(dialog);
    const NodeState n = node();
    EXPECT_EQ(n.line.rfind("rotref ", 0), 0u) << n.line;
    EXPECT_EQ(integer(n.line, "orientation"), 5) << n.line;
    // The transpose exchanges the photograph's sides.
    EXPECT_EQ(n.width, source.height);
    EXPECT_EQ(n.height, source.width);
}

TEST_F(ModulePanels, ResizeLockedWidthGivesTheProportionalHeightAndBadValuesChangeNothing) {
    TransformationDialog* dialog = open("resize");
    ASSERT_NE(dialog, nullptr);
    auto* panel = qobject_cast<ResizePanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    QLineEdit* width = panel->field(ResizePanel::pixel_width);
    QLineEdit* height = panel->field(ResizePanel::pixel_height);
    const NodeState source = node(true);
    ASSERT_GT(source.width, 0u);
    EXPECT_EQ(width->text(), QString::number(source.width));

    // Values that are not sizes are refused with the field's own message and leave all as it was.
    const std::string settings_before = panel->settings();
    // Enter on a refused value is not the dialog's OK.
    enter(panel->field(ResizePanel::physical_width), "abc");
    enter(height, "-3");
    enter(panel->field(ResizePanel::memory), "1.2.3");
    EXPECT_TRUE(dialog->isVisible());
    ASSERT_EQ(record.errors().size(), 3u);
    EXPECT_EQ(record.errors()[0], "Illegal first input value: abc");
    EXPECT_EQ(record.errors()[1], "Illegal second input value: -3");
    EXPECT_EQ(record.errors()[2], "Illegal third input value: 1.2.3");
    EXPECT_EQ(panel->settings(), settings_before);
    EXPECT_FALSE(dialog->waiting());

    // Locked: the height follows the width with the source's proportions, rounded.
    ASSERT_TRUE(panel->lock()->isChecked());
    type(width, "800");
    const long expected_h = std::lround(800.0 * source.height / source.width);
    EXPECT_EQ(height->text(), QString::number(expected_h));
    EXPECT_EQ(panel->set_list()->currentIndex(), resize_pixel_width);
    settle(dialog);

    // The percent follows the new width.
    EXPECT_NEAR(panel->field(ResizePanel::percent)->text().toDouble(), 80000.0 / source.width,
                1e-4);
    screenshot(dialog, "resize");

    QPointer<TransformationDialog> alive(dialog);
    QTest::keyClick(width, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !alive; }, 5000)) << "Enter is the dialog's OK";
    frame->engine().wait_idle();
    const NodeState n = node();
    EXPECT_EQ(n.line.rfind("resize ", 0), 0u) << n.line;
    EXPECT_EQ(integer(n.line, "pixel_w"), 800) << n.line;
    EXPECT_EQ(integer(n.line, "pixel_h"), expected_h) << n.line;
    EXPECT_EQ(integer(n.line, "set"), resize_pixel_width) << n.line;
    EXPECT_EQ(n.width, 800u);
    EXPECT_EQ(n.height, static_cast<std::uint32_t>(expected_h));
}

TEST_F(ModulePanels, ResizeUnlockedSidesAreGivenBothAndPercentScalesBoth) {
    TransformationDialog* dialog = open("resize");
    ASSERT_NE(dialog, nullptr);
    auto* panel = qobject_cast<ResizePanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    const NodeState source = node(true);
    panel->lock()->setChecked(false);
    type(panel->field(ResizePanel::pixel_height), "300");
    EXPECT_EQ(panel->set_list()->currentIndex(), resize_pixel_width_height);
    EXPECT_EQ(panel->field(ResizePanel::pixel_width)->text(), QString::number(source.width));
    settle(dialog);
    NodeState n = node();
    EXPECT_EQ(n.width, source.width);
    EXPECT_EQ(n.height, 300u);

    // Percent: both sides scale, rounded; the size shown is the size made.
    type(panel->field(ResizePanel::percent), "33");
    EXPECT_EQ(panel->set_list()->currentIndex(), resize_pixel_percent);
    const long w = std::lround(source.width * 0.33), h = std::lround(source.height * 0.33);
    EXPECT_EQ(panel->field(ResizePanel::pixel_width)->text(), QString::number(w));
    EXPECT_EQ(panel->field(ResizePanel::pixel_height)->text(), QString::number(h));
    settle(dialog);
    n = node();
    EXPECT_EQ(integer(n.line, "set"), resize_pixel_percent) << n.line;
    EXPECT_EQ(n.width, static_cast<std::uint32_t>(w));
    EXPECT_EQ(n.height, static_cast<std::uint32_t>(h));

    // Cancel: the picture is as it was before the dialog.
    dialog->reject();
    settle(dialog);
    n = node();
    EXPECT_EQ(n.line, source.line);
    EXPECT_EQ(n.width, source.width);
}

}  // namespace
}  // namespace tessaly::shell
