// The Unsharp Mask and Sharpen panels over a real photograph: what the sliders and the two-thumb
// sliders (by mouse and by keys) give the node's command line, the luminance choice that only
// colour pictures offer, and Cancel.
#include "shell/sharpen_panels.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <filesystem>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"
#include "shell/dialog_fixture.h"
#include "shell/range_slider.h"
#include "tree/tree.h"

namespace tessaly::shell {
namespace {

constexpr double positions = SharpenPanelBase::positions;
// Reals are written with four decimals, cut.
constexpr double written = 1e-4;

struct Current {
    std::string line;
    std::uint32_t type = 0;
    std::size_t children = 0;
    std::int32_t serial = -1;
};

class SharpenPanels : public DialogOnAPhoto {
  protected:
    Current current() {
        Current c;
        frame->engine().submit([&c] {
            const Node* node = current_node();
            if (!node) return;
            c.line = node->command_line.value_or("");
            c.type = node->image.type;
            c.children = node->children.size();
            c.serial = node->serial;
        });
        frame->engine().wait_idle();
        return c;
    }
    bool closed() {
        const bool gone =
            QTest::qWaitFor([&] { return !frame->findChild<TransformationDialog*>(); }, 5000);
        frame->engine().wait_idle();
        return gone;
    }
    static double real(const std::string& line, const char* key) {
        double value = -1.0;
        (void)read_real(split(line), key, value);
        return value;
    }
    static std::int32_t integer(const std::string& line, const char* key) {
        std::int32_t value = -1;
        (void)read_integer(split(line), key, value);
        return value;
    }
    // Presses at one place of a two-thumb slider, drags to another and lets go.
    static void drag(RangeSlider* slider, int from, int to) {
        const int y = slider->height() / 2;
        QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(from, y));
        QTest::mouseMove(slider, QPoint((from + to) / 2, y));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(to, y));
    }
};

TEST_F(SharpenPanels, UnsharpMaskSlidersAndDraggedThumbsGiveTheLineAndComeBackOnEdit) {
    TransformationDialog* dialog = open("unsharp_mask");
    ASSERT_NE(dialog, nullptr);
    auto* panel = qobject_cast<UnsharpMaskPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    for (const char* key : {"radius", "thresholdb", "thresholdw", "strength", "maxovershoot",
                            "maxundershoot", "what"})
        EXPECT_EQ(dialog->control(key), nullptr) << key << " belongs to the panel";
    EXPECT_EQ(panel->label("thresholdb")->text(), "Threshold: 4.00% .. 4.00%");
    EXPECT_EQ(panel->label("maxovershoot")->text(), "Halo Limit: 10.0% .. 10.0%");
    ASSERT_NE(panel->luminance(), nullptr) << "a colour photograph offers luminance only";
    EXPECT_EQ(panel->luminance()->text(), "Sharpen Luminance only");

    panel->slider("radius")->setValue(3000);  // 11.99 pixels
    EXPECT_EQ(panel->label("radius")->text(), "Radius: 12");
    panel->slider("strength")->setValue(5000);
    EXPECT_EQ(panel->label("strength")->text(), "Sharpen Factor: 2.50");

    // The upper threshold goes to 70 %; the lower one dragged past it stops there.
    RangeSlider* threshold = panel->range("thresholdb");
    const int width = threshold->width();
    ASSERT_GT(width, 100);
    const int at = threshold->position_of(threshold->values().second);
    drag(threshold, at + 3, threshold->position_of(7006));
    EXPECT_NEAR(threshold->values().second, 7006, 40);
    drag(threshold, threshold->position_of(threshold->values().first) - 3, width - 1);
    EXPECT_EQ(threshold->values().first, threshold->values().second) << "the thumbs never cross";
    // Pressed left of the two thumbs on one place, the lower one comes back down.
    drag(threshold, threshold->position_of(threshold->values().first) - 3,
         threshold->position_of(2002));
    const auto [low, high] = threshold->values();
    EXPECT_NEAR(low, 2002, 40);
    EXPECT_NEAR(high, 7006, 40);

    // Halo limits: undershoot on the first thumb, overshoot on the second.
    RangeSlider* halo = panel->range("maxovershoot");
    drag(halo, halo->position_of(halo->values().second) + 3, halo->position_of(5004));
    drag(halo, halo->position_of(halo->values().first) - 3, 0);
    const auto [under, over] = halo->values();
    EXPECT_EQ(under, 0);
    EXPECT_NEAR(over, 5004, 40);
    // On the box itself: the check box's row is wider than its text.
    QTest::mouseClick(panel->luminance(), Qt::LeftButton, {},
                      QPoint(8, panel->luminance()->height() / 2));
    EXPECT_TRUE(panel->luminance()->isChecked());
    DialogOnAPhoto::settle(dialog);
    screenshot(dialog, "unsharp_mask");

    dialog->accept();
    ASSERT_TRUE(closed());
    const std::string line = current().line;
    EXPECT_EQ(line.rfind("unsharp_mask ", 0), 0u) << line;
    EXPECT_EQ(integer(line, "radius"), 12) << line;
    EXPECT_NEAR(real(line, "strength"), 5000 * 5 / positions, written) << line;
    EXPECT_NEAR(real(line, "thresholdb"), low / positions, written) << line;
    EXPECT_NEAR(real(line, "thresholdw"), high / positions, written) << line;
    EXPECT_NEAR(real(line, "maxundershoot"), 0.0, written) << line;
    EXPECT_NEAR(real(line, "maxovershoot"), over / positions, written) << line;
    EXPECT_EQ(integer(line, "what"), 1) << line;

    // Editing the node shows its values again, and OK unchanged writes the same line.
    frame->command(1108);
    dialog = wait_for_dialog();
    ASSERT_NE(dialog, nullptr);
    panel = qobject_cast<UnsharpMaskPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->label("radius")->text(), "Radius: 12");
    EXPECT_EQ(panel->slider("radius")->value(), 3002);  // where 12 pixels stand
    EXPECT_TRUE(panel->luminance()->isChecked());
    EXPECT_EQ(panel->range("maxovershoot")->values().first, 0);
    dialog->accept();
    ASSERT_TRUE(closed());
    EXPECT_EQ(current().line, line);
}

TEST_F(SharpenPanels, GrayPictureHasNoLuminanceChoiceAndCancelLeavesTheTree) {
    const std::filesystem::path gray_file =
        std::filesystem::temp_directory_path() / "tessaly-sharpen-gray.png";
    QImage gray(160, 120, QImage::Format_Grayscale8);
    for (int y = 0; y < gray.height(); ++y) {
        for (int x = 0; x < gray.width(); ++x)
            gray.scanLine(y)[x] = static_cast<uchar>((x * 7 + y * 3) % 256);
    }
    ASSERT_TRUE(gray.save(QString::fromStdString(gray_file.string())));
    frame->open_file(gray_file.string());
    frame->engine().wait_idle();
    const Current before = current();
    ASSERT_EQ(before.type, image_gray8);

    TransformationDialog* dialog = open("unsharp_mask");
    ASSERT_NE(dialog, nullptr);
    auto* panel = qobject_cast<UnsharpMaskPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->luminance(), nullptr);
    EXPECT_EQ(dialog->control("what"), nullptr);
    panel->slider("radius")->setValue(10008);
    EXPECT_EQ(panel->label("radius")->text(), "Radius: 40");
    EXPECT_NE(dialog->command_line().find(" radius 40"), std::string::npos);
    EXPECT_NE(dialog->command_line().find(" what 0"), std::string::npos);
    DialogOnAPhoto::settle(dialog);
    dialog->reject();
    ASSERT_TRUE(closed());
    const Current after = current();
    EXPECT_EQ(after.serial, before.serial);
    EXPECT_EQ(after.line, before.line);
    EXPECT_EQ(after.children, before.children);
    std::filesystem::remove(gray_file);
}

TEST_F(SharpenPanels, SharpenMethodKeysOnTheHaloThumbsAndFactorGiveTheLine) {
    TransformationDialog* dialog = open("sharpen");
    ASSERT_NE(dialog, nullptr);
    auto* panel = qobject_cast<SharpenPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(dialog->control("kernel"), nullptr);
    ASSERT_EQ(panel->method()->count(), 2);
    EXPECT_EQ(panel->method()->itemText(1), "Sharpen More");
    panel->method()->setCurrentIndex(1);
    EXPECT_EQ(panel->label("strength")->text(), "Sharpen Factor: 100.0%");
    panel->slider("strength")->setValue(7506);
    EXPECT_EQ(panel->label("strength")->text(), "Sharpen Factor: 150.0%");

    // The keys move the lower thumb (undershoot) up to the upper one and no further; Space hands
    // them to the upper thumb (overshoot).
    RangeSlider* halo = panel->range("maxundershoot");
    halo->setFocus();
    const int start_high = halo->values().second;
    QTest::keyClick(halo, Qt::Key_End);
    EXPECT_EQ(halo->values().first, start_high);
    QTest::keyClick(halo, Qt::Key_Space);
    QTest::keyClick(halo, Qt::Key_End);
    EXPECT_EQ(halo->values().second, 10008);
    QTest::keyClick(halo, Qt::Key_Space);
    QTest::keyClick(halo, Qt::Key_PageDown);
    const int under = halo->values().first;
    EXPECT_EQ(under, start_high - 1000);
    EXPECT_EQ(panel->label("maxundershoot")->text(),
              QString::asprintf("Halo Limit: %.1f%% .. 100.0%%", under * 100 / positions));
    DialogOnAPhoto::settle(dialog);
    screenshot(dialog, "sharpen");

    dialog->accept();
    ASSERT_TRUE(closed());
    const std::string line = current().line;
    EXPECT_EQ(line.rfind("sharpen ", 0), 0u) << line;
    EXPECT_EQ(integer(line, "kernel"), 1) << line;
    EXPECT_NEAR(real(line, "strength"), 1.5, written) << line;
    EXPECT_NEAR(real(line, "maxundershoot"), under / positions, written) << line;
    EXPECT_NEAR(real(line, "maxovershoot"), 1.0, written) << line;
    // Thresholds nobody touched keep their values exactly.
    EXPECT_EQ(real(line, "thresholdb"), 0.04) << line;
    EXPECT_EQ(real(line, "thresholdw"), 0.04) << line;
}

}  // namespace
}  // namespace tessaly::shell
