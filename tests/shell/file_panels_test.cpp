// The File New and Export panels driven through their own fields over a small real photograph:
// File New's sizes in each unit and its refusals, Export's folder, template with a macro from the
// menu and its Settings menu items, what OK writes into the node, and a run that writes the file.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "core/arguments.h"
#include "framework/module.h"
#include "framework/node.h"
#include "framework/transformation.h"
#include "shell/dialog_fixture.h"
#include "shell/export_panel.h"
#include "shell/file_new_panel.h"
#include "shell/modal_script.h"
#include "shell/save_options_dialog.h"
#include "tree/run_node.h"
#include "tree/tree.h"
#include "workspace/preferences.h"

namespace tessaly::shell {
namespace {

namespace fs = std::filesystem;

std::string current_line(FrameWindow& frame) {
    std::string line;
    frame.engine().submit([&line] {
        if (const Node* node = current_node()) line = node->command_line.value_or("");
    });
    frame.engine().wait_idle();
    return line;
}

// The module's own text for a command line.
std::string written(const char* keyword, const std::string& line) {
    std::string out;
    if (find_module(keyword)->normalise(split(line), nullptr, nullptr, out))
        return "(does not parse: " + line + ")";
    return out;
}

// Types into a field as the person does and leaves it.
void type_into(QLineEdit* field, const QString& text) {
    field->selectAll();
    field->del();
    QTest::keyClicks(field, text);
    emit field->editingFinished();
}

std::string last_message(const tessaly::testing::RecordingInteraction& record) {
    return record.messages.empty() ? std::string() : record.messages.back().text;
}

using FilePanels = DialogOnAPhoto;

TEST_F(FilePanels, FileNewReadsSizesInEachUnitAndKeepsTheLastValidOnes) {
    frame->command(1000);  // File > New
    TransformationDialog* dialog = wait_for_dialog();
    ASSERT_NE(dialog, nullptr);
    auto* panel = dynamic_cast<FileNewPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);

    // Inches: typed values times the resolution.
    type_into(panel->dpi_field(), "300");
    panel->units_box()->setCurrentIndex(1);
    type_into(panel->width_field(), "2.5");
    type_into(panel->height_field(), "1.2");
    EXPECT_NE(panel->settings().find(" nx 750 ny 360 units 1 "), std::string::npos)
        << panel->settings();
    // Shown again in millimetres: pixels x 25.4 / dpi.
    panel->units_box()->setCurrentIndex(2);
    EXPECT_EQ(panel->width_field()->text().toStdString(), "63.5");
    // Millimetres times dpi / 25.4 and centimetres times dpi / 2.54, rounded.
    type_into(panel->height_field(), "10");
    EXPECT_NE(panel->settings().find(" nx 750 ny 118 units 2 "), std::string::npos)
        << panel->settings();
    panel->units_box()->setCurrentIndex(3);
    type_into(panel->width_field(), "2.54");
    EXPECT_NE(panel->settings().find(" nx 300 ny 118 units 3 "), std::string::npos)
        << panel->settings();

    // Refusals: the message, the field back to the valid value, the settings unchanged.
    const std::string valid = panel->settings();
    const QString shown = panel->width_field()->text();
    type_into(panel->width_field(), "wide");
    EXPECT_EQ(last_message(record), "Illegal image width: wide");
    EXPECT_EQ(panel->width_field()->text(), shown);
    EXPECT_EQ(panel->settings(), valid);
    type_into(panel->height_field(), "0.01");
    EXPECT_EQ(last_message(record), "Illegal image height: 0.01");
    type_into(panel->dpi_field(), "-5");
    EXPECT_EQ(last_message(record), "Illegal image resolution: -5");
    EXPECT_EQ(panel->settings(), valid);
    // OK right after a refusal keeps the dialog open.
    dialog->accept();
    settle(dialog);
    EXPECT_TRUE(dialog->isVisible());

    // Above the size limit the person is asked; No keeps the old size, Yes takes the new one.
    panel->units_box()->setCurrentIndex(0);
    const std::int32_t limit = preferences().warn_if_larger_than;
    const QString larger = QString::number(limit + 1);
    record.answers.push_back(Answer::no);
    type_into(panel->width_field(), larger);
    ASSERT_FALSE(record.questions.empty());
    EXPECT_EQ(record.questions.back(),
              "Warning: Image width exceeds " + std::to_string(limit) + "\nContinue anyway?");
    EXPECT_EQ(panel->settings().find(" nx " + larger.toStdString()), std::string::npos);
    record.answers.push_back(Answer::yes);
    type_into(panel->width_field(), larger);
    EXPECT_NE(panel->settings().find(" nx " + larger.toStdString()), std::string::npos);
    type_into(panel->width_field(), "300");

    panel->type_box()->setCurrentIndex(1);  // 8-bit gray
    settle(dialog);
    std::filesystem::create_directories("docs/screenshots");
    dialog->grab().save("docs/screenshots/file_new-dialog.png");
    dialog->accept();
    settle(dialog);
    EXPECT_EQ(current_line(*frame),
              written("file_new", "file_new 0 type 2 nx 300 ny 118 units 0 dpi 300 color ffffff"));
}

TEST_F(FilePanels, FileNewMakesATopLevelImageWithOrWithoutOneOpenAndCancelTakesItAway) {
    struct Tree {
        std::vector<std::string> top;  // the top level images' command lines
        std::string current;
        std::uint32_t width = 0, height = 0;
    };
    auto tree = [&] {
        Tree t;
        frame->engine().submit([&t] {
            for (const Node* node : tree_root().children)
                t.top.push_back(node->command_line.value_or(""));
            if (const Node* node = current_node()) {
                t.current = node->command_line.value_or("");
                t.width = node->image.width;
                t.height = node->image.height;
            }
        });
        frame->engine().wait_idle();
        return t;
    };
    const Tree before = tree();
    ASSERT_EQ(before.top.size(), 1u);

    // Cancel: the new image goes, and the photograph is current again (not a child of it).
    frame->command(1000);
    TransformationDialog* dialog = wait_for_dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(tree().top.size(), 2u);
    dialog->reject();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->findChild<TransformationDialog*>(); }, 5000));
    const Tree cancelled = tree();
    EXPECT_EQ(cancelled.top, before.top);
    EXPECT_EQ(cancelled.current, before.current);

    // With nothing open, File > New still opens, and OK leaves one new top level image.
    frame->engine().submit([] { close_all_images(); });
    frame->engine().wait_idle();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tree().top.empty(); }, 5000));
    frame->command(1000);
    dialog = wait_for_dialog();
    ASSERT_NE(dialog, nullptr);
    auto* panel = dynamic_cast<FileNewPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    type_into(panel->width_field(), "320");
    type_into(panel->height_field(), "200");
    settle(dialog);
    dialog->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->findChild<TransformationDialog*>(); }, 5000));
    const Tree made = tree();
    ASSERT_EQ(made.top.size(), 1u);
    EXPECT_EQ(made.current, made.top[0]);
    EXPECT_NE(made.current.find("file_new 0 "), std::string::npos) << made.current;
    EXPECT_EQ(made.width, 320u);
    EXPECT_EQ(made.height, 200u);
}

TEST_F(FilePanels, ExportTakesFolderTemplateAndScriptModeAndWritesTheNamedFile) {
    const fs::path folder = fs::temp_directory_path() / "tessaly-export-panel";
    fs::remove_all(folder);
    fs::create_directories(folder);
    TransformationDialog* dialog = open("export");
    ASSERT_NE(dialog, nullptr);
    auto* panel = dynamic_cast<ExportPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);

    panel->choice("file_type")->setCurrentIndex(4);  // PNG
    panel->choice("if_exists")->setCurrentIndex(0);  // Overwrite
    panel->choice("which_folder")->setCurrentIndex(1);
    EXPECT_TRUE(panel->folder_field()->isEnabled());
    EXPECT_FALSE(panel->name_field()->isEnabled());  // Original names need no text
    panel->choice("file_name")->setCurrentIndex(3);  // Template
    ASSERT_TRUE(panel->name_field()->isEnabled());
    type_into(panel->folder_field(), QString::fromStdString(folder.string()));

    // The macro goes in where the caret is.
    type_into(panel->name_field(), "shot-end");
    panel->name_field()->setCursorPosition(5);
    QAction* width_macro = nullptr;
    for (QAction* a : panel->macro_menu()->actions()) {
        if (a->text() == "width (pixels}") width_macro = a;
    }
    ASSERT_NE(width_macro, nullptr);
    EXPECT_EQ(panel->macro_menu()->actions().size(), 42);
    width_macro->trigger();
    const std::string name = "shot-\u27EAwidth (pixels}\u27EBend";
    EXPECT_EQ(panel->name_field()->text().toStdString(), name);

    // The Settings menu carries the two radio items after the dialog's own.
    QMetaObject::invokeMethod(dialog->settings_menu(), "aboutToShow");
    QAction* scripts = nullptr;
    QAction* batch = nullptr;
    for (QAction* a : dialog->settings_menu()->actions()) {
        if (a->text() == "Export during scripts") scripts = a;
        if (a->text() == "Export during batch processing") batch = a;
    }
    ASSERT_NE(scripts, nullptr);
    ASSERT_NE(batch, nullptr);
    EXPECT_TRUE(batch->isChecked());
    scripts->trigger();
    EXPECT_TRUE(scripts->isChecked());
    EXPECT_FALSE(batch->isChecked());

    // The declared controls around the panel: no resize; no PNG options dialog, switched off
    // behind the panel's Options button.
    auto* resize = qobject_cast<QCheckBox*>(dialog->control("resize"));
    ASSERT_NE(resize, nullptr);
    resize->setChecked(false);
    ModalScript no_ask({[](QWidget* modal) {
        auto* options = qobject_cast<FormatOptionsDialog*>(modal);
        ASSERT_NE(options, nullptr);
        options->ask_box()->setChecked(false);
        options->accept();
    }});
    panel->options_button()->click();
    ASSERT_TRUE(no_ask.done());
    settle(dialog);
    dialog->grab().save("docs/screenshots/export-dialog.png");
    dialog->accept();
    settle(dialog);

    const std::string line = current_line(*frame);
    EXPECT_EQ(line, written("export",
                            "export 0 file_type 4 file_name 3 if_exists 0 resize 0 "
                            "png_ask 0 which_folder 1 folder \u2033" +
                                folder.string() + "\u2033 first_file_name \u2033" + name +
                                "\u2033 execute 1"));
    // Run interactively, the node writes nothing.
    EXPECT_TRUE(fs::is_empty(folder));

    // Run as part of a script, it writes the file its template names.
    bool failed = true;
    std::uint32_t width = 0, height = 0;
    frame->engine().submit([&] {
        Node* node = current_node();
        width = node->parent->image.width;
        height = node->parent->image.height;
        set_script_running(true);
        failed = run_node(node->parent, node);
        set_script_running(false);
    });
    frame->engine().wait_idle();
    EXPECT_FALSE(failed) << last_message(record);
    const fs::path file = folder / ("shot-" + std::to_string(width) + "end.png");
    ASSERT_TRUE(fs::exists(file)) << last_message(record);
    const QImage back(QString::fromStdString(file.string()));
    EXPECT_EQ(back.width(), static_cast<int>(width));
    EXPECT_EQ(back.height(), static_cast<int>(height));
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tessaly::shell
