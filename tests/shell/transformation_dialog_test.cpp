// The transformation dialogs made from the modules' declarations, driven through their controls
// over a small real photograph: what OK writes into the node, that changes re-run it, that
// Cancel or closing the window leaves the tree as it was, editing an existing node, and the
// Settings menu with the settings files.
#include "shell/transformation_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <filesystem>

#include "core/arguments.h"
#include "core/curve.h"
#include "core/curve_files.h"
#include "framework/amount.h"
#include "framework/module.h"
#include "framework/node.h"
#include "framework/registry.h"
#include "framework/settings_files.h"
#include "shell/dialog_fixture.h"
#include "shell/image_view.h"
#include "shell/mask_dialog.h"
#include "shell/rotref_panel.h"
#include "support/suite_helpers.h"
#include "tree/dialog_session.h"
#include "tree/run_node.h"
#include "tree/tree.h"
#include "workspace/preferences.h"

namespace tessaly::shell {
namespace {

// What the engine holds of the current node, read on its own thread.
struct Current {
    std::int32_t serial = -1;
    std::size_t children = 0;
    std::string command_line;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint64_t checksum = 0;
    bool needs_run = false;
};

Current current(FrameWindow& frame) {
    Current c;
    frame.engine().submit([&c] {
        const Node* node = current_node();
        if (!node) return;
        c.serial = node->serial;
        c.children = node->children.size();
        c.command_line = node->command_line.value_or("");
        c.width = node->image.width;
        c.height = node->image.height;
        c.needs_run = node->needs_run;
        if (!node->image.has_pixels()) return;
        for (std::uint32_t y = 0; y < node->image.height; ++y) {
            const std::uint8_t* row = node->image.row(y);
            for (std::uint32_t x = 0; x < node->image.row_bytes; ++x)
                c.checksum += row[x] * (x + 1);
        }
    });
    frame.engine().wait_idle();
    return c;
}

// The module's own text for a command line.
std::string written(const char* keyword, const std::string& line) {
    const TransformationModule* module = find_module(keyword);
    if (!module) return "(no module " + std::string(keyword) + ")";
    std::string out;
    if (module->normalise(split(line), nullptr, nullptr, out))
        return "(does not parse: " + line + ")";
    return out;
}

class TransformationDialogs : public DialogOnAPhoto {
  protected:
    void SetUp() override {
        DialogOnAPhoto::SetUp();
        if (IsSkipped()) return;
        before = current(*frame);
        ASSERT_GT(before.serial, -1);
    }

    // With TESSALY_SCREENSHOT_DIR set: the dialog drawn over the frame, as a person sees them.
    void keep_screenshot(TransformationDialog* dialog, const char* name) {
        const QByteArray folder = qgetenv("TESSALY_SCREENSHOT_DIR");
        if (folder.isEmpty()) return;
        QPixmap shot = frame->grab();
        QPainter painter(&shot);
        const QPixmap window = dialog->grab();
        painter.fillRect(
            QRect(shot.width() - window.width() - 36, 76, window.width() + 8, window.height() + 8),
            QColor(0, 0, 0, 60));
        painter.drawPixmap(shot.width() - window.width() - 40, 72, window);
        painter.end();
        shot.save(QString::fromUtf8(folder) + "/" + name);
    }
    // Chooses an entry of the dialog's Settings menu by its text and waits for what it does.
    bool choose_setting(TransformationDialog* dialog, const QString& text) {
        dialog->fill_settings_menu();
        for (QAction* action : dialog->settings_menu()->actions()) {
            if (action->text() != text || !action->isEnabled()) continue;
            action->trigger();
            settle(dialog);
            return true;
        }
        return false;
    }
    // Edit Transformation on the current node and waits for its dialog.
    TransformationDialog* edit() {
        frame->command(1108);
        TransformationDialog* dialog = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                frame->engine().wait_idle();
                dialog = frame->findChild<TransformationDialog*>();
                return dialog && dialog->isVisible();
            },
            5000);
        frame->engine().wait_idle();
        return dialog;
    }
    // The command line of the node the current node was added after.
    std::string parent_line() {
        std::string line;
        frame->engine().submit([&] {
            const Node* node = current_node();
            if (node && node->parent) line = node->parent->command_line.value_or("");
        });
        frame->engine().wait_idle();
        return line;
    }
    bool closed() {
        return QTest::qWaitFor([&] { return !frame->findChild<TransformationDialog*>(); }, 5000);
    }

    Current before;
};

TEST_F(TransformationDialogs, GaussianBlurControlsWriteTheModulesCommandLineOnOk) {
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Gaussian Blur");
    auto* radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    auto* what = qobject_cast<QComboBox*>(dialog->control("what"));
    ASSERT_NE(radius, nullptr);
    ASSERT_NE(what, nullptr);
    EXPECT_EQ(radius->minimum(), 0);
    EXPECT_EQ(radius->maximum(), 256);
    EXPECT_EQ(radius->value(), 3);
    ASSERT_EQ(what->count(), 2);
    EXPECT_EQ(what->itemText(1), "Chrominance Only");
    // Amounts and the preview keys keep their values from the command line.
    EXPECT_EQ(dialog->control("amount"), nullptr);
    EXPECT_EQ(dialog->control("display"), nullptr);

    // Opening ran the new node with the defaults at once.
    const Current opened = current(*frame);
    EXPECT_NE(opened.serial, before.serial);
    EXPECT_EQ(opened.command_line, find_module("gaussian_blur")->default_command_line());
    EXPECT_NE(opened.checksum, before.checksum);

    // The slider and the spin box are one value; a burst of changes ends on the last one.
    auto* slider = radius->parentWidget()->findChild<QSlider*>();
    ASSERT_NE(slider, nullptr);
    for (int r = 1; r <= 9; ++r) slider->setValue(r);
    EXPECT_EQ(radius->value(), 9);
    what->setCurrentIndex(1);
    settle(dialog);
    const Current changed = current(*frame);
    EXPECT_EQ(changed.serial, opened.serial);
    EXPECT_EQ(changed.command_line, written("gaussian_blur", "gaussian_blur 0 radius 9 what 1"));
    EXPECT_NE(changed.checksum, opened.checksum);

    // Values changed while a preview is on its way reach the node on OK all the same.
    radius->setValue(5);
    what->setCurrentIndex(0);
    EXPECT_TRUE(dialog->waiting());
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    keep_screenshot(dialog, "gaussian-blur-dialog.png");
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(closed());
    frame->engine().wait_idle();
    const Current done = current(*frame);
    EXPECT_EQ(done.serial, opened.serial);
    EXPECT_EQ(done.command_line, written("gaussian_blur", "gaussian_blur 0 radius 5 what 0"));
    EXPECT_NE(done.checksum, changed.checksum);
    EXPECT_TRUE(record.messages.empty());
}

TEST_F(TransformationDialogs, InvertUnchangedOkWritesTheDefaultsAndCancelOrCloseLeaveTheTree) {
    // OK with nothing changed: the defaults as the module writes them.
    TransformationDialog* dialog = open("invert");
    ASSERT_NE(dialog, nullptr);
    frame->command(1801);  // F1
    ASSERT_TRUE(closed());
    const Current inverted = current(*frame);
    EXPECT_NE(inverted.serial, before.serial);
    EXPECT_EQ(inverted.command_line, find_module("invert")->default_command_line());

    // On the inverted image: a change re-runs the new node, then Cancel (F2) removes it.
    dialog = open("invert");
    ASSERT_NE(dialog, nullptr);
    auto* colorspace = qobject_cast<QComboBox*>(dialog->control("colorspace"));
    ASSERT_NE(colorspace, nullptr);
    EXPECT_EQ(colorspace->itemText(2), "HSL");
    const Current opened = current(*frame);
    colorspace->setCurrentIndex(2);
    settle(dialog);
    const Current changed = current(*frame);
    EXPECT_EQ(changed.command_line, written("invert", "invert 0 colorspace 2"));
    EXPECT_NE(changed.checksum, opened.checksum);
    frame->command(1802);  // F2
    ASSERT_TRUE(closed());
    Current after = current(*frame);
    EXPECT_EQ(after.serial, inverted.serial);
    EXPECT_EQ(after.children, 0u);
    EXPECT_EQ(after.checksum, inverted.checksum);

    // Closing the window is Cancel as well.
    dialog = open("invert");
    ASSERT_NE(dialog, nullptr);
    dialog->close();
    ASSERT_TRUE(closed());
    after = current(*frame);
    EXPECT_EQ(after.serial, inverted.serial);
    EXPECT_EQ(after.children, 0u);
    EXPECT_TRUE(record.messages.empty());
}

TEST_F(TransformationDialogs, RotateMirrorChoiceTurnsThePreviewAndOpeningAnotherPressesOk) {
    TransformationDialog* dialog = open("rotref");
    ASSERT_NE(dialog, nullptr);
    auto* panel = qobject_cast<RotrefPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    QTest::mouseClick(panel->thumbnail(1), Qt::LeftButton);  // Rotated 90 CW
    settle(dialog);
    const Current turned = current(*frame);
    EXPECT_EQ(turned.width, before.height);
    EXPECT_EQ(turned.height, before.width);

    // Choosing another transformation closes this dialog with OK first.
    TransformationDialog* blur = nullptr;
    const TransformationEntry* entry = find_transformation("gaussian_blur");
    ASSERT_NE(entry, nullptr);
    frame->command(entry->command_id);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto open = frame->findChildren<TransformationDialog*>();
            blur = open.size() == 1 ? open.front() : nullptr;
            return blur && blur->windowTitle() == "Gaussian Blur" && blur->isVisible();
        },
        5000));
    frame->engine().wait_idle();
    std::string rotated_line;
    frame->engine().submit([&] {
        const Node* node = current_node();
        if (node && node->parent) rotated_line = node->parent->command_line.value_or("");
    });
    frame->engine().wait_idle();
    EXPECT_EQ(rotated_line, written("rotref", "rotref 0 orientation 1"));
    blur->reject();
    ASSERT_TRUE(closed());
    EXPECT_EQ(current(*frame).command_line, rotated_line);
}

TEST_F(TransformationDialogs, EditingAnExistingBlurReRunsWhatIsBelowAndCancelPutsItBack) {
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    dialog->accept();
    ASSERT_TRUE(closed());
    const Current blurred = current(*frame);
    dialog = open("invert");
    ASSERT_NE(dialog, nullptr);
    dialog->accept();
    ASSERT_TRUE(closed());
    const Current inverted = current(*frame);
    frame->engine().submit([&] {
        Node* node = current_node();
        set_current_node(node->parent, -1);
    });
    frame->engine().wait_idle();
    ASSERT_EQ(current(*frame).serial, blurred.serial);

    // The node's own line fills the controls; opening does not run it.
    dialog = edit();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Gaussian Blur");
    auto* radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    ASSERT_NE(radius, nullptr);
    EXPECT_EQ(radius->value(), 3);
    EXPECT_FALSE(dialog->waiting());
    keep_screenshot(dialog, "gaussian-blur-edit-dialog.png");
    // Edit again while it is open: the same dialog, not a second one.
    EXPECT_EQ(edit(), dialog);
    EXPECT_EQ(frame->findChildren<TransformationDialog*>().size(), 1);

    radius->setValue(8);
    settle(dialog);
    EXPECT_NE(current(*frame).checksum, blurred.checksum);
    dialog->accept();
    ASSERT_TRUE(closed());
    frame->engine().wait_idle();
    const Current edited = current(*frame);
    EXPECT_EQ(edited.serial, blurred.serial);
    EXPECT_EQ(edited.children, 1u);
    EXPECT_EQ(edited.command_line, written("gaussian_blur", "gaussian_blur 0 radius 8"));
    frame->engine().submit([&] { set_current_node(current_node()->children.front(), -1); });
    const Current below = current(*frame);
    EXPECT_EQ(below.serial, inverted.serial);
    EXPECT_EQ(below.command_line, inverted.command_line);
    EXPECT_NE(below.checksum, inverted.checksum);  // re-run from the new blur
    frame->engine().submit([&] { set_current_node(current_node()->parent, -1); });
    frame->engine().wait_idle();

    // A change then Cancel: the person is asked, and the node gets its line and picture back.
    dialog = edit();
    ASSERT_NE(dialog, nullptr);
    radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    EXPECT_EQ(radius->value(), 8);
    radius->setValue(1);
    settle(dialog);
    record.answers.push_back(Answer::ok);
    dialog->reject();
    ASSERT_TRUE(closed());
    frame->engine().wait_idle();
    Current after = current(*frame);
    EXPECT_EQ(after.command_line, edited.command_line);
    EXPECT_EQ(after.checksum, edited.checksum);
    ASSERT_EQ(record.questions.size(), 1u);
    EXPECT_EQ(record.questions[0], "Confirm: Abandon changes to settings?");

    // Cancel with nothing changed closes without a question.
    dialog = edit();
    ASSERT_NE(dialog, nullptr);
    dialog->reject();
    ASSERT_TRUE(closed());
    EXPECT_EQ(record.questions.size(), 1u);
    EXPECT_EQ(current(*frame).command_line, edited.command_line);

    // A node whose transformation is not built says so.
    frame->engine().submit([&] { current_node()->command_line = "checkerboard 0"; });
    frame->engine().wait_idle();
    frame->command(1108);
    frame->engine().wait_idle();
    QTest::qWait(50);
    frame->engine().wait_idle();
    EXPECT_EQ(frame->findChild<TransformationDialog*>(), nullptr);
    ASSERT_EQ(record.messages.size(), 1u);
    EXPECT_EQ(record.messages[0].text, "Transformation not available: Checkerboard");
}

TEST_F(TransformationDialogs, SettingsMenuSavesAndLoadsNamedDefaultAndPreviousSettings) {
    const SettingsName& which = find_module("gaussian_blur")->settings_name();
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    auto* radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    auto* what = qobject_cast<QComboBox*>(dialog->control("what"));
    ASSERT_NE(radius, nullptr);
    ASSERT_NE(what, nullptr);
    const std::string mine = written("gaussian_blur", "gaussian_blur 0 radius 7 what 1");

    // Save As... through the file dialog, then change, then the named file from the menu.
    radius->setValue(7);
    what->setCurrentIndex(1);
    record.files.push_back(settings_path(which, "Mine"));
    ASSERT_TRUE(choose_setting(dialog, "Save Settings As..."));
    ASSERT_EQ(record.file_dialogs.size(), 1u);
    EXPECT_EQ(record.file_dialogs[0], "Save Gaussian Blur Settings");
    radius->setValue(2);
    what->setCurrentIndex(0);
    settle(dialog);
    EXPECT_EQ(current(*frame).command_line,
              written("gaussian_blur", "gaussian_blur 0 radius 2 what 0"));
    ASSERT_TRUE(choose_setting(dialog, "Mine"));
    EXPECT_EQ(radius->value(), 7);
    EXPECT_EQ(what->currentIndex(), 1);
    EXPECT_EQ(current(*frame).command_line, mine);

    // Save As Default, then Reset reads it; cleared, Reset gives the built-in defaults.
    ASSERT_TRUE(choose_setting(dialog, "Save As Default Settings"));
    radius->setValue(4);
    settle(dialog);
    ASSERT_TRUE(choose_setting(dialog, "Reset"));
    EXPECT_EQ(radius->value(), 7);
    ASSERT_TRUE(choose_setting(dialog, "Clear Default Settings"));
    EXPECT_FALSE(settings_exist(which, "Default"));
    ASSERT_TRUE(choose_setting(dialog, "Reset"));
    EXPECT_EQ(radius->value(), 3);
    EXPECT_EQ(what->currentIndex(), 0);
    EXPECT_EQ(current(*frame).command_line, find_module("gaussian_blur")->default_command_line());

    // OK makes "Previous"; the next dialog reloads it.
    radius->setValue(5);
    dialog->accept();
    ASSERT_TRUE(closed());
    dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    EXPECT_EQ(radius->value(), 3);
    ASSERT_TRUE(choose_setting(dialog, "Reload Last Settings"));
    EXPECT_EQ(radius->value(), 5);
    EXPECT_EQ(current(*frame).command_line,
              written("gaussian_blur", "gaussian_blur 0 radius 5 what 0"));

    // Load... answered with Cancel changes nothing.
    ASSERT_TRUE(choose_setting(dialog, "Load Settings..."));
    EXPECT_EQ(record.file_dialogs.back(), "Load Gaussian Blur Settings");
    EXPECT_EQ(radius->value(), 5);
    dialog->reject();
    ASSERT_TRUE(closed());
    EXPECT_TRUE(record.messages.empty());
    std::filesystem::remove(settings_path(which, "Mine"));
}

TEST_F(TransformationDialogs, ASettingsFileThatDoesNotParseLeavesTheDialogAsItWas) {
    const SettingsName& which = find_module("gaussian_blur")->settings_name();
    const std::string wrong = settings_path(which, "Wrong");
    ASSERT_FALSE(write_settings_file(wrong, "invert 0 colorspace 2"));
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    auto* radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    ASSERT_NE(radius, nullptr);
    radius->setValue(6);
    settle(dialog);
    const Current changed = current(*frame);

    // Chosen from the menu and through Load...: the engine's message, nothing else moves.
    ASSERT_TRUE(choose_setting(dialog, "Wrong"));
    record.files.push_back(wrong);
    ASSERT_TRUE(choose_setting(dialog, "Load Settings..."));
    ASSERT_EQ(record.messages.size(), 2u);
    for (const auto& message : record.messages) {
        EXPECT_EQ(message.text,
                  "Settings file " + wrong + " - command line starts with wrong command: invert");
    }
    EXPECT_EQ(radius->value(), 6);
    const Current after = current(*frame);
    EXPECT_EQ(after.command_line, changed.command_line);
    EXPECT_EQ(after.checksum, changed.checksum);

    // The dialog still works afterwards.
    radius->setValue(1);
    dialog->accept();
    ASSERT_TRUE(closed());
    EXPECT_EQ(current(*frame).command_line,
              written("gaussian_blur", "gaussian_blur 0 radius 1 what 0"));
    std::filesystem::remove(wrong);
}

}  // namespace
}  // namespace tessaly::shell

namespace tessaly::shell {
namespace {

double real_of(const std::string& line, const char* key) {
    double value = -99.0;
    (void)read_real(split(line), key, value);
    return value;
}

TEST_F(TransformationDialogs, ApplyKeepsTheDialogOpenAndTheNodeFollows) {
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(dialog->apply_button(), nullptr);
    auto* radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    ASSERT_NE(radius, nullptr);
    const Current opened = current(*frame);
    radius->setValue(9);
    QTest::mouseClick(dialog->apply_button(), Qt::LeftButton);
    settle(dialog);
    EXPECT_TRUE(dialog->isVisible());
    const Current applied = current(*frame);
    EXPECT_EQ(applied.serial, opened.serial);
    EXPECT_EQ(applied.command_line, written("gaussian_blur", "gaussian_blur 0 radius 9"));
    EXPECT_NE(applied.checksum, opened.checksum);
    EXPECT_FALSE(applied.needs_run);
    // Apply saved the settings as "Previous", as OK does.
    const TransformationModule* blur = find_module("gaussian_blur");
    auto previous = load_settings("gaussian_blur", std::string("Previous"), blur->settings_name());
    ASSERT_TRUE(previous.has_value());
    std::string previous_line;
    ASSERT_FALSE(blur->normalise(*previous, nullptr, nullptr, previous_line));
    EXPECT_EQ(previous_line, applied.command_line);

    // A second change after Apply still reaches the node, and OK keeps it.
    radius->setValue(2);
    settle(dialog);
    frame->command(1801);
    ASSERT_TRUE(closed());
    EXPECT_EQ(current(*frame).command_line, written("gaussian_blur", "gaussian_blur 0 radius 2"));
}

TEST_F(TransformationDialogs, AutoPreviewOffOnlyMarksTheNodeUntilPreview) {
    TransformationDialog* dialog = open("brightness_curve");
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(dialog->auto_preview_box(), nullptr);
    ASSERT_NE(dialog->preview_button(), nullptr);
    EXPECT_TRUE(dialog->auto_preview_box()->isChecked());
    auto* saturation = qobject_cast<QDoubleSpinBox*>(dialog->control("saturation"));
    ASSERT_NE(saturation, nullptr);
    const Current opened = current(*frame);

    dialog->auto_preview_box()->setChecked(false);
    saturation->setValue(-0.8);
    settle(dialog);
    const Current marked = current(*frame);
    EXPECT_TRUE(marked.needs_run);
    EXPECT_EQ(marked.checksum, opened.checksum);
    EXPECT_DOUBLE_EQ(real_of(marked.command_line, "saturation"), -0.8);

    QTest::mouseClick(dialog->preview_button(), Qt::LeftButton);
    settle(dialog);
    const Current previewed = current(*frame);
    EXPECT_FALSE(previewed.needs_run);
    EXPECT_NE(previewed.checksum, opened.checksum);

    // Turning auto preview on again runs at once what is still marked; OK writes the key.
    saturation->setValue(0.5);
    settle(dialog);
    EXPECT_TRUE(current(*frame).needs_run);
    dialog->auto_preview_box()->setChecked(true);
    settle(dialog);
    const Current resumed = current(*frame);
    EXPECT_FALSE(resumed.needs_run);
    EXPECT_NE(resumed.checksum, previewed.checksum);
    dialog->auto_preview_box()->setChecked(false);
    frame->command(1801);
    ASSERT_TRUE(closed());
    std::int32_t auto_preview = -1;
    EXPECT_FALSE(read_integer(split(current(*frame).command_line), "auto_preview", auto_preview));
    EXPECT_EQ(auto_preview, 0);
}

TEST_F(TransformationDialogs, DisplayToggleShowsTheInputThenTheResult) {
    const QImage input_picture = frame->view()->picture();
    ASSERT_FALSE(input_picture.isNull());
    TransformationDialog* dialog = open("brightness_curve");
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(dialog->display_box(), nullptr);
    EXPECT_TRUE(dialog->display_box()->isChecked());
    qobject_cast<QDoubleSpinBox*>(dialog->control("saturation"))->setValue(-1.0);
    settle(dialog);
    const QImage result_picture = frame->view()->picture();
    ASSERT_NE(result_picture, input_picture);

    dialog->display_box()->setChecked(false);
    settle(dialog);
    EXPECT_EQ(frame->view()->picture(), input_picture);
    // While the input shows, a change still runs the node but the window keeps the input.
    qobject_cast<QDoubleSpinBox*>(dialog->control("saturation"))->setValue(-0.9);
    settle(dialog);
    EXPECT_EQ(frame->view()->picture(), input_picture);

    dialog->display_box()->setChecked(true);
    settle(dialog);
    const QImage back = frame->view()->picture();
    EXPECT_NE(back, input_picture);
    EXPECT_NE(back, result_picture);  // the -0.9 result

    // Closing with the input shown leaves the window on the node's result.
    dialog->display_box()->setChecked(false);
    settle(dialog);
    frame->command(1801);
    ASSERT_TRUE(closed());
    frame->engine().wait_idle();
    EXPECT_EQ(frame->view()->picture(), back);
    std::int32_t display = -1;
    EXPECT_FALSE(read_integer(split(current(*frame).command_line), "display", display));
    EXPECT_EQ(display, 0);
}

TEST_F(TransformationDialogs, AmountSliderWritesTheModulesAmountAndMaskButtonIsThere) {
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    QSlider* amount = dialog->amount_slider("amount");
    ASSERT_NE(amount, nullptr);
    ASSERT_NE(dialog->mask_button("amount"), nullptr);
    EXPECT_EQ(amount->value(), amount->maximum());
    EXPECT_FALSE(dialog->amount_slider("amount", 1)->isVisible());
    auto* radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    radius->setValue(12);
    settle(dialog);
    const Current full = current(*frame);

    amount->setValue(500);
    settle(dialog);
    const Current half = current(*frame);
    AmountSettings expected = amount_init(0, true, amount_mode_percent);
    expected.amount = 5004;
    EXPECT_EQ(half.command_line, written("gaussian_blur", "gaussian_blur 0 radius 12 amount " +
                                                              amount_to_text(expected)));
    EXPECT_NE(half.checksum, full.checksum);
    keep_screenshot(dialog, "gaussian-blur-amount.png");

    // No amount at all gives back the input.
    amount->setValue(0);
    settle(dialog);
    EXPECT_EQ(current(*frame).checksum, before.checksum);

    // The slider follows a settings file's amount.
    AmountSettings quarter = expected;
    quarter.amount = 2502;
    ASSERT_FALSE(save_settings("gaussian_blur 0 radius 4 amount " + amount_to_text(quarter),
                               std::string("Quarter"),
                               find_module("gaussian_blur")->settings_name()));
    ASSERT_TRUE(choose_setting(dialog, "Quarter"));
    EXPECT_EQ(amount->value(), 250);
    EXPECT_EQ(radius->value(), 4);
    frame->command(1802);
    ASSERT_TRUE(closed());
}

TEST_F(TransformationDialogs, TwoSetSwitchShowsAndEditsTheSecondSet) {
    TransformationDialog* dialog = open("brightness_curve");
    ASSERT_NE(dialog, nullptr);
    auto* which = qobject_cast<QComboBox*>(dialog->control("which_curve"));
    auto* saturation = qobject_cast<QDoubleSpinBox*>(dialog->control("saturation"));
    auto* saturation1 = qobject_cast<QDoubleSpinBox*>(dialog->control("saturation1"));
    ASSERT_TRUE(which && saturation && saturation1);
    EXPECT_TRUE(dialog->control("curve")->isVisibleTo(dialog));
    EXPECT_FALSE(dialog->control("curve1")->isVisibleTo(dialog));
    EXPECT_FALSE(saturation1->isVisibleTo(dialog));
    // Settings outside the sets always show.
    EXPECT_TRUE(dialog->control("advanced")->isVisibleTo(dialog));

    which->setCurrentIndex(1);
    EXPECT_EQ(dialog->shown_set(), 1);
    EXPECT_FALSE(dialog->control("curve")->isVisibleTo(dialog));
    EXPECT_TRUE(dialog->control("curve1")->isVisibleTo(dialog));
    EXPECT_TRUE(saturation1->isVisibleTo(dialog));
    EXPECT_TRUE(dialog->control("colorspace1")->isVisibleTo(dialog));
    EXPECT_FALSE(dialog->control("colorspace")->isVisibleTo(dialog));
    saturation1->setValue(0.4);
    settle(dialog);
    keep_screenshot(dialog, "brightness-curve-second-set.png");
    frame->command(1801);
    ASSERT_TRUE(closed());
    const std::string line = current(*frame).command_line;
    EXPECT_DOUBLE_EQ(real_of(line, "saturation1"), 0.4);
    EXPECT_DOUBLE_EQ(real_of(line, "saturation"), 0.0);
    std::int32_t which_curve = -1;
    EXPECT_FALSE(read_integer(split(line), "which_curve", which_curve));
    EXPECT_EQ(which_curve, 1);

    // Editing the node shows the set it was left on.
    TransformationDialog* again = edit();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->shown_set(), 1);
    EXPECT_DOUBLE_EQ(qobject_cast<QDoubleSpinBox*>(again->control("saturation1"))->value(), 0.4);
    frame->command(1802);
    ASSERT_TRUE(closed());
}

TEST_F(TransformationDialogs, TypingIsReadAfterThePauseAndABadFieldKeepsOkOpen) {
    frame->engine().submit([] { preferences().text_delay = 700; });  // rounds to 500
    frame->engine().wait_idle();
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->typing_timer().interval(), 500);
    auto* radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    QLineEdit* field = radius->findChild<QLineEdit*>();
    ASSERT_NE(field, nullptr);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "6");
    EXPECT_TRUE(dialog->typing_timer().isActive());
    EXPECT_EQ(current(*frame).command_line, find_module("gaussian_blur")->default_command_line());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->typing_timer().isActive(); }, 3000));
    settle(dialog);
    EXPECT_EQ(current(*frame).command_line, written("gaussian_blur", "gaussian_blur 0 radius 6"));

    // An empty field does not read: OK says so and the dialog stays.
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    dialog->accept();
    settle(dialog);
    EXPECT_TRUE(dialog->isVisible());
    ASSERT_EQ(record.texts(MessageKind::error).size(), 1u);
    EXPECT_EQ(record.texts(MessageKind::error)[0].rfind("Illegal number", 0), 0u);
    QTest::keyClicks(field, "8");
    dialog->accept();
    ASSERT_TRUE(closed());
    EXPECT_EQ(current(*frame).command_line, written("gaussian_blur", "gaussian_blur 0 radius 8"));
    frame->engine().submit([] { preferences().text_delay = 2000; });
    frame->engine().wait_idle();
}

TEST_F(TransformationDialogs, MaskMenuStartsAMaskFromAnotherImageOfTheTree) {
    // A gray version of the photograph after it; the dialog then opens after that node.
    std::string gray_name;
    frame->run([&gray_name] {
        auto session = DialogSession::open_new(dialog_module_info(*find_module("convert")),
                                               "convert 0 otype 2", false);
        ASSERT_TRUE(session);
        ASSERT_FALSE(session->ok());
        const Node* gray = current_node();
        gray_name = gray->name.empty() ? gray->caption : gray->name;
    });
    frame->engine().wait_idle();
    ASSERT_FALSE(gray_name.empty());
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    settle(dialog);
    auto entries = [&] {
        QStringList texts;
        for (QAction* action : dialog->mask_menu("amount")->actions()) texts << action->text();
        return texts;
    };
    QStringList texts = entries();
    EXPECT_TRUE(texts.contains("New mask...")) << texts.join("|").toStdString();
    EXPECT_TRUE(texts.contains("Re-open Mask Dialog Box"));
    EXPECT_TRUE(texts.contains(QString::fromStdString(gray_name)));
    // The dialog's own node is no starting point for its mask.
    EXPECT_EQ(texts.count(QString::fromStdString(gray_name)), 1);
    auto choose = [&](const QString& text) {
        for (QAction* action : dialog->mask_menu("amount")->actions()) {
            if (action->text() != text) continue;
            action->trigger();
            settle(dialog);
            return true;
        }
        return false;
    };

    // The colour photograph cannot start a mask: said so, and no mask dialog opens.
    const QString photo = QString::fromStdString(std::filesystem::path(dialog_photo).filename());
    const QString colour = texts.filter(photo).value(0);
    ASSERT_FALSE(colour.isEmpty()) << texts.join("|").toStdString();
    ASSERT_TRUE(choose(colour));
    ASSERT_FALSE(record.messages.empty());
    EXPECT_EQ(record.messages.back().text,
              "Initial mask image is not an 8- or 16-bit black and white image");
    EXPECT_EQ(frame->findChild<MaskDialog*>(), nullptr);

    // The gray picture does: the mask starts as that picture, and the title names it.
    ASSERT_TRUE(choose(QString::fromStdString(gray_name)));
    MaskDialog* mask = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (mask = frame->findChild<MaskDialog*>()) && !mask->waiting(); }, 5000));
    EXPECT_EQ(mask->windowTitle().toStdString(), "Mask from: " + gray_name);
    std::vector<std::uint8_t> gray_row;
    frame->run([&gray_row, dialog] {
        const Node* node = find_node_by_serial(dialog->node_serial());
        const Image& image = node->parent->image;
        // The window's top row is the picture's last stored row.
        const std::uint8_t* row = image.row(image.height - 1);
        gray_row.assign(row, row + image.width);
    });
    frame->engine().wait_idle();
    const QImage& shown = mask->mask_picture();
    ASSERT_EQ(static_cast<std::size_t>(shown.width()), gray_row.size());
    EXPECT_TRUE(std::equal(gray_row.begin(), gray_row.end(), shown.constScanLine(0)));
    // With the mask dialog open the menu offers to close it.
    EXPECT_TRUE(entries().contains("Close Mask Dialog Box"));
    ASSERT_TRUE(choose("Close Mask Dialog Box"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame->findChild<MaskDialog*>(); }, 5000));
    frame->command(1802);
    ASSERT_TRUE(closed());
}

TEST_F(TransformationDialogs, TreeNotificationsReachTheOpenDialog) {
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    const std::int32_t serial = dialog->node_serial();
    QPointer<TransformationDialog> alive(dialog);
    auto on_engine = [&](std::function<void(Node*)> work) {
        frame->run([serial, work] { work(find_node_by_serial(serial)); });
        frame->engine().wait_idle();
        QTest::qWait(50);  // what the engine posted back
    };

    // Another image current hides the dialog; its own node current again shows it.
    on_engine([](Node* node) { set_current_node(node->parent, -1); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->isVisible(); }, 2000));
    on_engine([](Node* node) { set_current_node(node, -1); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->isVisible(); }, 2000));

    // A run from the tree (its input changed) goes through the dialog: the node runs with the
    // dialog's settings and the window shows the result again.
    auto* radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    radius->setValue(9);
    settle(dialog);
    dialog->display_box()->setChecked(false);
    settle(dialog);
    bool ran = false;
    on_engine([&ran](Node* node) {
        (void)run_node(node->parent, node);
        ran = !node->needs_run;
    });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->display_box()->isChecked(); }, 2000));
    settle(dialog);
    EXPECT_EQ(current(*frame).command_line, written("gaussian_blur", dialog->command_line()));

    // The node removed under the dialog: the dialog closes and nothing runs on the gone node.
    on_engine([](Node* node) {
        Node* parent = node->parent;
        ASSERT_FALSE(remove_subtree(node));
        destroy_subtree(node);
        set_current_node(parent, -1);
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !alive; }, 5000));
    EXPECT_EQ(current(*frame).serial, before.serial);
    EXPECT_EQ(current(*frame).checksum, before.checksum);
}

TEST_F(TransformationDialogs, ABurstOfChangesOnALargePictureEndsWithTheLastOnesResult) {
    const std::string large = "/usr/share/wallpapers/Path/contents/images/2560x1600.jpg";
    if (!std::filesystem::exists(large)) GTEST_SKIP() << large << " is missing";
    frame->open_file(large);
    frame->engine().wait_idle();
    TransformationDialog* dialog = open("gaussian_blur");
    ASSERT_NE(dialog, nullptr);
    auto* radius = qobject_cast<QSpinBox*>(dialog->control("radius"));
    // Each change overtakes the run of the one before: those runs stop early.
    for (int r = 10; r <= 40; r += 5) {
        radius->setValue(r);
        QTest::qWait(15);
    }
    settle(dialog);
    EXPECT_TRUE(record.messages.empty()) << record.messages.front().text;
    const Current shown = current(*frame);
    EXPECT_EQ(shown.command_line, written("gaussian_blur", dialog->command_line()));
    // The node's picture is the one its line makes, run afresh.
    std::uint64_t fresh = 0;
    frame->run([&fresh, serial = shown.serial] {
        Node* node = find_node_by_serial(serial);
        ASSERT_FALSE(node->error);
        ASSERT_FALSE(node->needs_run);
        Node* scratch = create_node(true, false, node->mask_count(), 0, bypass_none, "scratch");
        const ArgumentList args = split(*node->command_line);
        ASSERT_EQ(find_transformation("gaussian_blur")->run(node->parent, scratch, args), 0);
        const Image& image = scratch->image;
        for (std::uint32_t y = 0; y < image.height; ++y) {
            const std::uint8_t* row = image.row(y);
            for (std::uint32_t x = 0; x < image.row_bytes; ++x) fresh += row[x] * (x + 1);
        }
        destroy_node(scratch);
    });
    frame->engine().wait_idle();
    EXPECT_EQ(shown.checksum, fresh);
    frame->command(1802);
    ASSERT_TRUE(closed());
}

TEST_F(TransformationDialogs, EveryDeclaredControlOfTheOtherModulesReachesTheLineOnOk) {
    // The modules without tests of their own here: each control moved off its default through
    // its widget, and OK gives the line the module writes for those values.
    for (const char* keyword :
         {"brightness", "saturation", "gamma_adjust", "color_curves", "masks"}) {
        SCOPED_TRACE(keyword);
        TransformationDialog* dialog = open(keyword);
        ASSERT_NE(dialog, nullptr);
        std::string pairs;
        int moved = 0;
        for (const SettingInfo& info : find_module(keyword)->describe()) {
            QWidget* widget = dialog->control(info.key);
            if (!widget || !widget->isEnabled()) continue;
            std::string value;
            if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
                spin->setValue(spin->minimum() + (spin->maximum() - spin->minimum()) / 3);
                value = std::to_string(spin->value());
            } else if (auto* real = qobject_cast<QDoubleSpinBox*>(widget)) {
                real->setValue(real->minimum() + (real->maximum() - real->minimum()) / 3);
                value = QString::number(real->value(), 'g', 15).toStdString();
            } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
                if (combo->count() < 2) continue;
                combo->setCurrentIndex(1);
                value = std::to_string(combo->currentIndex());
            } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
                box->setChecked(!box->isChecked());
                value = box->isChecked() ? "1" : "0";
            } else {
                continue;  // curves have their own tests
            }
            pairs += " " + info.key + " " + value;
            ++moved;
        }
        EXPECT_GT(moved, 0);
        settle(dialog);
        frame->command(1801);
        ASSERT_TRUE(closed());
        const Current after = current(*frame);
        const std::string expected = written(keyword, std::string(keyword) + " 0" + pairs);
        EXPECT_EQ(after.command_line, expected);
        EXPECT_NE(after.command_line, written(keyword, std::string(keyword) + " 0"));
        EXPECT_FALSE(after.needs_run);
    }
}

TEST_F(TransformationDialogs, ColorCurvesFilesCarryTheThreeCurvesInAndOut) {
    TransformationDialog* dialog = open("color_curves");
    ASSERT_NE(dialog, nullptr);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "tessaly-color-curves-file";
    std::filesystem::create_directories(folder);
    // A file written by the engine: an RGB set with a lifted red curve.
    ColorCurves written_curves;
    written_curves.colorspace = colorspace_rgb;
    written_curves.curve[0].npts = 3;
    written_curves.curve[0].x[1] = 100;
    written_curves.curve[0].y[1] = 160;
    written_curves.curve[0].x[2] = 255;
    written_curves.curve[0].y[2] = 255;
    const std::string in = (folder / "lift.cc").string();
    ASSERT_FALSE(save_color_curves_file(in, written_curves));

    record.files.push_back(in);
    ASSERT_TRUE(choose_setting(dialog, "Load Color Curves File..."));
    EXPECT_EQ(qobject_cast<QComboBox*>(dialog->control("colorspace"))->currentIndex(),
              colorspace_rgb);
    frame->command(1801);
    ASSERT_TRUE(closed());
    const std::string line = current(*frame).command_line;
    EXPECT_NE(line.find("curve1 " + curve_to_text(written_curves.curve[0])), std::string::npos)
        << line;
    EXPECT_NE(line.find("colorspace 2"), std::string::npos) << line;

    // Back out of the node's dialog: the file holds what the controls show.
    TransformationDialog* again = edit();
    ASSERT_NE(again, nullptr);
    const std::string out = (folder / "again.cc").string();
    record.files.push_back(out);
    ASSERT_TRUE(choose_setting(again, "Save Color Curves File..."));
    ColorCurves read;
    ASSERT_FALSE(load_color_curves_file(out, read));
    EXPECT_EQ(read.colorspace, colorspace_rgb);
    EXPECT_EQ(curve_to_text(read.curve[0]), curve_to_text(written_curves.curve[0]));
    // A file that does not read leaves the dialog as it was.
    const std::string broken = (folder / "broken.cc").string();
    tessaly::testing::put_file(broken, "not curves\n");
    record.files.push_back(broken);
    ASSERT_TRUE(choose_setting(again, "Load Color Curves File..."));
    EXPECT_FALSE(record.messages.empty());
    EXPECT_EQ(qobject_cast<QComboBox*>(again->control("colorspace"))->currentIndex(),
              colorspace_rgb);
    frame->command(1802);
    ASSERT_TRUE(closed());
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tessaly::shell
