// Quick Pick: typing into the frame sends a command or opens the dialog of buttons; the dialog
// numbers the most used rows, disables what the current image cannot take and takes back what
// leaves no match.
#include "shell/quick_pick.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "shell/dialog_fixture.h"
#include "shell/modal_script.h"

namespace tessaly::shell {
namespace {

std::int32_t use_count_of(const char* keyword) {
    return find_transformation(keyword)->use_count;
}

bool transformation_menu(std::int32_t command) {
    return command >= 1200 && command <= 1399;
}

// The first letter whose search gives the wanted kind of result among the registry's rows (a
// command of the Transformation menu, which counts its uses).
QChar letter_where(bool wants_dialog) {
    for (char c = 'a'; c <= 'z'; ++c) {
        const QuickPickResult r = quick_pick(std::string(1, c));
        if (wants_dialog ? r.open_dialog : transformation_menu(r.command)) return QChar(c);
    }
    return {};
}

TEST(QuickPick, DialogNumbersCountedRowsAndTakesBackWhatDoesNotMatch) {
    std::vector<QuickPickRow> rows = {{"Gaussian Blur", 1212, 7, false},
                                      {"Gamma Adjust", 1300, 2, true},
                                      {"Gray Balance", 1301, 0, false},
                                      {"Green Tint", 1302, 0, false}};
    // An exact name wins even over several matches; one enabled match among disabled ones sends.
    EXPECT_EQ(quick_pick_among(rows, "green tint").command, 1302);
    EXPECT_TRUE(quick_pick_among(rows, "g").open_dialog);
    EXPECT_EQ(quick_pick_among(rows, "gam").command, -1);  // "Gamma Adjust" only, disabled
    EXPECT_TRUE(quick_pick_among(rows, "gam").open_dialog);
    EXPECT_EQ(quick_pick_among(rows, "tin").command, 1302);  // word start t, then "in"
    EXPECT_FALSE(quick_pick_among(rows, "x").open_dialog);
    EXPECT_EQ(quick_pick_among(rows, "x").command, -1);

    QuickPickDialog dialog(rows, "g", 600, nullptr);
    ASSERT_EQ(dialog.buttons().size(), 4u);
    EXPECT_EQ(dialog.buttons()[0]->text(), "1 - Gaussian Blur");
    EXPECT_EQ(dialog.buttons()[1]->text(), "2 - Gamma Adjust");
    EXPECT_EQ(dialog.buttons()[2]->text(), "Gray Balance");
    EXPECT_FALSE(dialog.buttons()[1]->isEnabled());
    EXPECT_TRUE(dialog.buttons()[3]->isEnabled());

    // A digit beyond the numbered buttons and a letter that leaves nothing are taken back.
    QTest::keyClick(dialog.search_field(), Qt::Key_End);
    QTest::keyClicks(dialog.search_field(), "3");
    EXPECT_EQ(dialog.search_field()->text(), "g");
    QTest::keyClicks(dialog.search_field(), "z");
    EXPECT_EQ(dialog.search_field()->text(), "g");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.chosen(), -1);
    // "gr" still matches three rows ("Blur" ends in r): the buttons follow.
    QTest::keyClicks(dialog.search_field(), "r");
    EXPECT_EQ(dialog.buttons().size(), 3u);
    // A numbered button's digit ends the dialog with its command.
    QTest::keyClicks(dialog.search_field(), "1");
    EXPECT_EQ(dialog.chosen(), 1212);
}

TEST_F(DialogOnAPhoto, TypedCharactersSendOrOpenQuickPickInUseCountOrder) {
    reset_use_counts();
    const QChar single = letter_where(false);
    const QChar several = letter_where(true);
    ASSERT_FALSE(single.isNull());
    ASSERT_FALSE(several.isNull());

    // One enabled match: its command goes out at once (the menu's use count shows it).
    const QuickPickResult one = quick_pick(QString(single).toStdString());
    const TransformationEntry* sent = find_transformation_by_command(one.command);
    ASSERT_NE(sent, nullptr);
    const QString sent_name = sent->display_name;  // rows move when they are sorted
    QTest::keyClicks(frame.get(), QString(single));
    frame->engine().wait_idle();
    EXPECT_EQ(sent->use_count, 1) << "typing " << single.toLatin1();
    for (TransformationDialog* d : frame->findChildren<TransformationDialog*>()) d->reject();
    frame->engine().wait_idle();

    // Several: the dialog, with the rows counted above first and disabled rows disabled.
    set_use_count("gaussian_blur", 5);
    set_use_count("crop", 5);
    std::vector<QString> labels;
    std::vector<bool> enabled_as_registry;
    ModalScript script({[&](QWidget* modal) {
        auto* pick = qobject_cast<QuickPickDialog*>(modal);
        ASSERT_NE(pick, nullptr);
        EXPECT_EQ(pick->windowTitle(), "Quick Pick");
        for (QPushButton* b : pick->buttons()) {
            labels.push_back(b->text());
            enabled_as_registry.push_back(b->isEnabled() ==
                                          !is_command_disabled(b->property("command").toUInt()));
        }
        std::filesystem::create_directories("docs/screenshots");
        pick->grab().save("docs/screenshots/quick_pick-dialog.png");
        pick->reject();
    }});
    QTest::keyClick(frame.get(), ' ');  // a blank searches for everything
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.done(); }, 5000));
    frame->engine().wait_idle();
    ASSERT_EQ(labels.size(), static_cast<std::size_t>(registry_size));
    EXPECT_TRUE(labels[0] == "1 - Gaussian Blur" || labels[0] == "1 - Crop")
        << labels[0].toStdString();
    EXPECT_TRUE(labels[1] == "2 - Gaussian Blur" || labels[1] == "2 - Crop")
        << labels[1].toStdString();
    EXPECT_TRUE(labels[2] == "3 - " + sent_name) << labels[2].toStdString();
    EXPECT_FALSE(labels[3].contains(" - "));
    EXPECT_EQ(std::count(enabled_as_registry.begin(), enabled_as_registry.end(), false), 0);
    EXPECT_EQ(registry_rows()[0].use_count, 5);

    // A letter with several matches opens it too; its button sends the command and counts it.
    std::int32_t before = -1;
    std::string chosen;
    ModalScript choose({[&](QWidget* modal) {
        auto* pick = qobject_cast<QuickPickDialog*>(modal);
        ASSERT_NE(pick, nullptr);
        for (QPushButton* b : pick->buttons()) {
            if (!b->isEnabled() || !transformation_menu(b->property("command").toInt())) continue;
            const TransformationEntry* e =
                find_transformation_by_command(b->property("command").toUInt());
            chosen = e->keyword;
            before = e->use_count;
            b->click();
            return;
        }
        pick->reject();
    }});
    QTest::keyClick(frame.get(), several.toLatin1());
    ASSERT_TRUE(QTest::qWaitFor([&] { return choose.done(); }, 5000));
    frame->engine().wait_idle();
    ASSERT_FALSE(chosen.empty());
    EXPECT_EQ(use_count_of(chosen.c_str()), before + 1);
    for (TransformationDialog* d : frame->findChildren<TransformationDialog*>()) d->reject();
    frame->engine().wait_idle();
    reset_use_counts();
}

}  // namespace
}  // namespace tessaly::shell
