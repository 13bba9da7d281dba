// The file dialogs the engine asks for through the desktop program's Interaction.
#include "shell/qt_interaction.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

#include "core/text_file.h"
#include "support/temp_dir.h"

namespace tessaly::shell {
namespace {

// A choice that allows several files answers with all of them, one a line; one that does not
// answers with the one.
TEST(QtInteractionFiles, SeveralFilesChosenComeBackOneALine) {
    testing::TempDir dir;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        ASSERT_FALSE(write_file_atomic(dir.file(name), "x"));
    }
    QWidget window;
    QStatusBar status(&window);
    QtInteraction qt(&window, &status);
    FileChoice choice;
    choice.title = "Open Image Files";
    choice.folder = dir.file(".");
    choice.allow_multiple = true;
    // Each file dialog that shows is answered by the next step; other windows left by earlier
    // tests are passed over.
    std::deque<std::function<void(QFileDialog*)>> steps = {
        [](QFileDialog* dialog) {
            // The names typed, as a person types several.
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText("\"a.jpg\" \"c.jpg\"");
            static_cast<QDialog*>(dialog)->accept();
        },
        [](QFileDialog* dialog) {
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText("b.jpg");
            static_cast<QDialog*>(dialog)->accept();
        }};
    QPointer<QFileDialog> answered;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog || !dialog->isVisible() || dialog == answered || steps.empty()) continue;
            answered = dialog;
            auto step = std::move(steps.front());
            steps.pop_front();
            step(dialog);
            return;
        }
    });
    poll.start(20);
    const std::optional<std::string> several = qt.choose_open_file(choice);
    ASSERT_TRUE(several.has_value());
    EXPECT_EQ(*several, dir.file("a.jpg") + "\n" + dir.file("c.jpg"));
    choice.allow_multiple = false;
    EXPECT_EQ(qt.choose_open_file(choice).value_or(""), dir.file("b.jpg"));
    EXPECT_TRUE(steps.empty());
}

}  // namespace
}  // namespace tessaly::shell
