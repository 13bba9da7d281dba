// The file dialogs the engine asks for through the desktop program's Interaction.
#include "shell/qt_interaction.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QStatusBar>
#include <QWidget>

#include "core/text_file.h"
#include "shell/modal_script.h"
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
    // One script for both dialogs, so that the first, closed, is never taken for the second.
    ModalScript answers({[](QWidget* modal) {
                             auto* dialog = qobject_cast<QFileDialog*>(modal);
                             ASSERT_NE(dialog, nullptr);
                             // The names typed, as a person types several.
                             auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                             ASSERT_NE(name, nullptr);
                             name->setText("\"a.jpg\" \"c.jpg\"");
                             static_cast<QDialog*>(dialog)->accept();
                         },
                         [](QWidget* modal) {
                             auto* dialog = qobject_cast<QFileDialog*>(modal);
                             ASSERT_NE(dialog, nullptr);
                             dialog->selectFile("b.jpg");
                             static_cast<QDialog*>(dialog)->accept();
                         }});
    const std::optional<std::string> several = qt.choose_open_file(choice);
    ASSERT_TRUE(several.has_value());
    EXPECT_EQ(*several, dir.file("a.jpg") + "\n" + dir.file("c.jpg"));
    choice.allow_multiple = false;
    EXPECT_EQ(qt.choose_open_file(choice).value_or(""), dir.file("b.jpg"));
    EXPECT_TRUE(answers.done());
}

}  // namespace
}  // namespace tessaly::shell
