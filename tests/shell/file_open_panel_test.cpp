// The File Open dialog's file list, driven through Edit Transformation on a photograph's File
// Open node: choosing, sorting, selecting and removing files, the refusals, and the batch that
// its run buttons start.
#include "shell/file_open_panel.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <filesystem>

#include "core/format.h"
#include "fileio/file_open.h"
#include "shell/batch_window.h"
#include "shell/dialog_fixture.h"
#include "tree/tree.h"

namespace tessaly::shell {
namespace {

const std::string photo_a = "/usr/share/wallpapers/BytheWater/contents/images/640x480.jpg";
const std::string photo_b = "/usr/share/wallpapers/ColdRipple/contents/images/640x480.jpg";
const std::string photo_c = "/usr/share/wallpapers/Kite/contents/images/640x480.jpg";

class FileOpenPanelTest : public DialogOnAPhoto {
  protected:
    void SetUp() override {
        DialogOnAPhoto::SetUp();
        if (IsSkipped()) return;
        for (const std::string& p : {photo_a, photo_b, photo_c}) {
            if (!std::filesystem::exists(p)) GTEST_SKIP() << p << " is missing";
        }
    }

    // Edit Transformation on the File Open node (the current node after opening).
    TransformationDialog* edit() {
        frame->command(1108);
        return wait_for_dialog();
    }

    std::string node_line() {
        std::string line;
        frame->run([&] {
            if (const Node* node = current_node()) line = node->command_line.value_or("");
        });
        frame->engine().wait_idle();
        return line;
    }

    void close_with(TransformationDialog* dialog, bool ok) {
        QPointer<TransformationDialog> alive(dialog);
        if (ok) {
            dialog->accept();
        } else {
            dialog->reject();
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return !alive; }, 10000));
        frame->engine().wait_idle();
    }

    static std::vector<std::string> listed(const FileOpenPanel* panel) {
        std::vector<std::string> out;
        for (int i = 0; i < panel->list()->count(); ++i)
            out.push_back(panel->list()->item(i)->text().toStdString());
        return out;
    }

    static std::string entry(int n, const std::string& path, bool selected) {
        return formatted(" file%d ″%s″ time%d ″%s″ selected%d %d", n, path, n, file_time_text(path),
                         n, selected ? 1 : 0);
    }
};

TEST_F(FileOpenPanelTest, ChosenFilesAreSortedSelectedAndWrittenOnOkAndCancelKeepsThem) {
    TransformationDialog* dialog = edit();
    ASSERT_NE(dialog, nullptr);
    auto* panel = dynamic_cast<FileOpenPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(listed(panel), std::vector<std::string>{dialog_photo});

    // "Select files" replaces the list with the three chosen files.
    record.files.push_back(photo_b + "\n" + photo_c + "\n" + photo_a);
    QTest::mouseClick(panel->button("Select files"), Qt::LeftButton);
    EXPECT_EQ(record.file_dialogs.back(), "Open Image Files");
    EXPECT_EQ(listed(panel), (std::vector<std::string>{photo_b, photo_c, photo_a}));
    EXPECT_EQ(panel->list()->selectedItems().size(), 3);

    // Sorted by name, the list follows the paths; the current file stays the one shown.
    QMenu* sort = panel->button("Sort the file list")->menu();
    ASSERT_EQ(sort->actions().size(), 4);
    EXPECT_EQ(sort->actions()[1]->text(), "By name - descending");
    sort->actions()[0]->trigger();
    EXPECT_EQ(listed(panel), (std::vector<std::string>{photo_a, photo_b, photo_c}));
    EXPECT_EQ(panel->values().current, 1);
    sort->actions()[1]->trigger();
    EXPECT_EQ(listed(panel), (std::vector<std::string>{photo_c, photo_b, photo_a}));

    // Deselect all, then pick two by hand; the batch kind and the caption.
    QTest::mouseClick(panel->button("Deselect all files"), Qt::LeftButton);
    EXPECT_TRUE(panel->list()->selectedItems().isEmpty());
    panel->list()->item(0)->setSelected(true);
    panel->list()->item(2)->setSelected(true);
    panel->multiple_button()->click();
    panel->caption()->setText("Pick the photos");
    emit panel->caption()->editingFinished();
    settle(dialog);
    dialog->grab().save("/work/main/docs/screenshots/file_open-dialog.png");
    close_with(dialog, true);

    const std::string three =
        "file_open 0 n_files 3 current 1 from_default 0 multiple 1 prompt ″Pick the photos″" +
        entry(1, photo_c, true) + entry(2, photo_b, false) + entry(3, photo_a, true);
    EXPECT_EQ(node_line(), three);
    EXPECT_TRUE(record.errors().empty());

    // Removing the selected files keeps the current one, which was not among them; Cancel puts
    // the node's list back.
    dialog = edit();
    ASSERT_NE(dialog, nullptr);
    panel = dynamic_cast<FileOpenPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(listed(panel), (std::vector<std::string>{photo_c, photo_b, photo_a}));
    EXPECT_TRUE(panel->multiple_button()->isChecked());
    EXPECT_EQ(panel->caption()->text(), "Pick the photos");
    QTest::mouseClick(panel->button("Remove all selected files from the file list"),
                      Qt::LeftButton);
    EXPECT_EQ(listed(panel), std::vector<std::string>{photo_b});
    EXPECT_EQ(panel->values().current, 0);
    settle(dialog);
    close_with(dialog, false);
    EXPECT_EQ(node_line(), three);

    // Removed and confirmed: the remaining file, now current.
    dialog = edit();
    ASSERT_NE(dialog, nullptr);
    panel = dynamic_cast<FileOpenPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    QTest::mouseClick(panel->button("Remove all selected files from the file list"),
                      Qt::LeftButton);
    settle(dialog);
    close_with(dialog, true);
    EXPECT_EQ(node_line(),
              "file_open 0 n_files 1 current 0 from_default 0 multiple 1 prompt ″Pick the photos″" +
                  entry(1, photo_b, false));
}

TEST_F(FileOpenPanelTest, ScriptsAndOverlongListsAreRefused) {
    TransformationDialog* dialog = edit();
    ASSERT_NE(dialog, nullptr);
    auto* panel = dynamic_cast<FileOpenPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);

    // A script among the chosen files is left out with its message; the photo is appended.
    record.files.push_back("/tmp/tree.Script\n" + photo_a);
    QTest::mouseClick(panel->button("Append selected files to the file list"), Qt::LeftButton);
    EXPECT_EQ(record.errors(),
              std::vector<std::string>{"Cannot open script files as part of a file list"});
    EXPECT_EQ(listed(panel), (std::vector<std::string>{dialog_photo, photo_a}));

    // 9999 more would make 10001 files: refused whole.
    std::string many;
    for (int i = 0; i < 9999; ++i) many += photo_b + "\n";
    record.files.push_back(many);
    QTest::mouseClick(panel->button("Append selected files to the file list"), Qt::LeftButton);
    EXPECT_EQ(record.errors().back(), "Too many files");
    EXPECT_EQ(listed(panel), (std::vector<std::string>{dialog_photo, photo_a}));
    close_with(dialog, false);
}

TEST_F(FileOpenPanelTest, TestModeButtonClosesTheDialogAndVisitsTheSelectedFiles) {
    TransformationDialog* dialog = edit();
    ASSERT_NE(dialog, nullptr);
    auto* panel = dynamic_cast<FileOpenPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    record.files.push_back(photo_a + "\n" + photo_b + "\n" + photo_c);
    QTest::mouseClick(panel->button("Select files"), Qt::LeftButton);
    panel->list()->item(1)->setSelected(false);

    BatchProgressWindow* window = batch_window(*frame);
    ASSERT_NE(window, nullptr);
    std::vector<std::string> lines;
    QObject::connect(window, &BatchProgressWindow::current_file_shown, window,
                     [&](const QString& line) { lines.push_back(line.toStdString()); });

    QPointer<TransformationDialog> alive(dialog);
    QTest::mouseClick(panel->button("Run all selected files in the file List in test mode"),
                      Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alive; }, 10000));
    frame->engine().wait_idle();
    QTest::qWait(50);  // the window's lines arrive through the interface thread's queue

    // Each selected file is read and shown with the pause question, in list order.
    EXPECT_EQ(record.questions,
              std::vector<std::string>(2, "File Open: Press OK to continue, Cancel to stop"));
    const std::vector<std::string> visited = {"Current file: " + photo_a,
                                              "Current file: " + photo_c};
    std::vector<std::string> files_shown;
    for (const std::string& l : lines) {
        if (l.rfind("Current file: /", 0) == 0) files_shown.push_back(l);
    }
    EXPECT_EQ(files_shown, visited);
    EXPECT_EQ(record.texts(MessageKind::information), std::vector<std::string>{"Batch Completed"});
    EXPECT_TRUE(record.errors().empty());
    // The list the batch walked is the node's, with the unselected file kept.
    const std::string line = node_line();
    EXPECT_NE(line.find("n_files 3"), std::string::npos);
    EXPECT_NE(line.find(entry(2, photo_b, false)), std::string::npos);
}

}  // namespace
}  // namespace tessaly::shell
