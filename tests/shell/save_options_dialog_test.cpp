// The save options dialogs: each edits a copy of a record; a format that asks shows its dialog
// before a real save, and JPEG's summary can save again; Export edits its node's own options
// through them; File > New opens File New's dialog.
#include "shell/save_options_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <filesystem>

#include "core/arguments.h"
#include "core/format.h"
#include "framework/module.h"
#include "shell/dialog_fixture.h"
#include "shell/export_panel.h"
#include "shell/file_new_panel.h"
#include "shell/modal_script.h"

namespace tessaly::shell {
namespace {

namespace fs = std::filesystem;

QPushButton* button_named(QWidget* window, const QString& text) {
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
        if (b->text() == text) return b;
    }
    return nullptr;
}

TEST(SaveOptionsDialog, EditsACopyOfTheRecordWithEachFormatsControls) {
    SaveOptions stored;
    stored.jpeg = {0, 80.0, 1, 2, 0, 0};
    SaveOptions edited = stored;

    // Cancel leaves the record, whatever was changed.
    ModalScript cancel({[](QWidget* modal) {
        auto* d = qobject_cast<FormatOptionsDialog*>(modal);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), "JPEG Save Options");
        EXPECT_EQ(d->quality_box()->value(), 80);
        EXPECT_EQ(d->subsampling_box()->currentText(), "4:2:2");
        EXPECT_EQ(d->metadata_box()->currentText(), "ICC Profile Only");
        EXPECT_TRUE(d->ask_box()->isChecked());
        d->quality_box()->setValue(40);
        d->reject();
    }});
    EXPECT_TRUE(edit_save_options(nullptr, save_jpeg, edited));
    EXPECT_EQ(edited.jpeg.quality, 80.0);

    // OK hands the values back, the ask flag the other way round from the check box.
    ModalScript ok({[](QWidget* modal) {
        auto* d = qobject_cast<FormatOptionsDialog*>(modal);
        ASSERT_NE(d, nullptr);
        d->quality_box()->setValue(40);
        d->subsampling_box()->setCurrentIndex(2);
        d->summary_box()->setChecked(true);
        d->ask_box()->setChecked(false);
        std::vector<QString> labels;
        for (QLabel* l : d->findChildren<QLabel*>()) labels.push_back(l->text());
        const QString shown = QString::fromStdString(formatted("JPEG Quality: %1zf%%", 40.0));
        EXPECT_NE(std::find(labels.begin(), labels.end(), shown), labels.end())
            << shown.toStdString();
        fs::create_directories("docs/screenshots");
        d->grab().save("docs/screenshots/jpeg-save-options.png");
        d->accept();
    }});
    EXPECT_FALSE(edit_save_options(nullptr, save_jpeg, edited));
    EXPECT_EQ(edited.jpeg.quality, 40.0);
    EXPECT_EQ(edited.jpeg.subsampling, 2);
    EXPECT_EQ(edited.jpeg.show_summary, 1);
    EXPECT_EQ(edited.jpeg.ask, 1);
    EXPECT_EQ(edited.jpeg.metadata, 2);
    EXPECT_EQ(edited.tiff.compression, stored.tiff.compression);

    // BMP has no metadata; TIFF has no quality; GIF only its script.
    FormatOptionsDialog bmp(save_bmp, stored, nullptr);
    EXPECT_EQ(bmp.metadata_box(), nullptr);
    bmp.version_box()->setCurrentIndex(1);
    bmp.script_box()->setCurrentIndex(4);
    EXPECT_EQ(bmp.options().bmp.version, 1);
    EXPECT_EQ(bmp.options().bmp.script, 4);
    FormatOptionsDialog tiff(save_tiff, stored, nullptr);
    EXPECT_EQ(tiff.quality_box(), nullptr);
    tiff.compression_box()->setCurrentIndex(2);
    EXPECT_EQ(tiff.options().tiff.compression, 2);
    FormatOptionsDialog gif(save_gif, stored, nullptr);
    EXPECT_EQ(gif.metadata_box(), nullptr);
    EXPECT_EQ(gif.compression_box(), nullptr);
    EXPECT_NE(gif.script_box(), nullptr);
}

TEST_F(DialogOnAPhoto, SaveAsksForOptionsWhenFlaggedAndTheSummarySavesAgain) {
    const fs::path folder = fs::temp_directory_path() / "tessaly-save-options";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string path = (folder / "saved.jpg").string();
    const SaveOptions keep = save_options();
    save_options().jpeg = {0, 95.0, 0, 3, 0, 1};

    // Cancelled in the dialog: nothing written, no temporary file left.
    record.files.push_back(path);
    ModalScript cancel({[](QWidget* modal) {
        auto* d = qobject_cast<FormatOptionsDialog*>(modal);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), "JPEG Save Options");
        d->reject();
    }});
    frame->command(1003);
    ASSERT_TRUE(QTest::qWaitFor([&] { return cancel.done(); }, 10000));
    frame->engine().wait_idle();
    EXPECT_TRUE(fs::is_empty(folder));

    // Saved at quality 30, then again at 100 from the summary.
    std::uintmax_t first_size = 0, second_size = 0;
    std::vector<std::string> summary;
    record.files.push_back(path);
    auto set_quality = [](int quality) {
        return [quality](QWidget* modal) {
            auto* d = qobject_cast<FormatOptionsDialog*>(modal);
            ASSERT_NE(d, nullptr);
            d->quality_box()->setValue(quality);
            d->accept();
        };
    };
    ModalScript save({set_quality(30),
                      [&](QWidget* modal) {
                          first_size = fs::file_size(path);
                          for (QLabel* l : modal->findChildren<QLabel*>())
                              summary.push_back(l->text().toStdString());
                          fs::create_directories("docs/screenshots");
                          modal->grab().save("docs/screenshots/jpeg-save-summary.png");
                          QPushButton* again = button_named(modal, "Save Again...");
                          ASSERT_NE(again, nullptr);
                          again->click();
                      },
                      [&](QWidget* modal) {
                          auto* d = qobject_cast<FormatOptionsDialog*>(modal);
                          ASSERT_NE(d, nullptr);
                          EXPECT_EQ(d->quality_box()->value(), 30);  // the copy of this save
                          d->quality_box()->setValue(100);
                          d->accept();
                      },
                      [&](QWidget* modal) {
                          second_size = fs::file_size(path);
                          QPushButton* ok = button_named(modal, "OK");
                          ASSERT_NE(ok, nullptr);
                          ok->click();
                      }});
    frame->command(1003);
    ASSERT_TRUE(QTest::qWaitFor([&] { return save.done(); }, 20000));
    frame->engine().wait_idle();

    double image_bytes = 0.0;
    frame->engine().submit([&] {
        const Image& image = effective_image_node(current_node())->image;
        image_bytes = static_cast<double>(image.height) * image.row_bytes;
    });
    frame->engine().wait_idle();
    ASSERT_EQ(summary.size(), 3u);
    EXPECT_EQ(summary[0], formatted("Image Size: %3zf MB", image_bytes / 1e6));
    EXPECT_EQ(summary[1], formatted("File Size: %3zf MB", first_size / 1e6));
    EXPECT_EQ(summary[2], formatted("Compression Ratio: %3zf : 1", image_bytes / first_size));
    EXPECT_GT(first_size, 0u);
    EXPECT_GT(second_size, first_size * 2);
    EXPECT_EQ(fs::file_size(path), second_size);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    // The stored record is the same as before the saves.
    EXPECT_EQ(save_options().jpeg.quality, 95.0);
    EXPECT_EQ(save_options().jpeg.ask, 0);
    save_options() = keep;
    fs::remove_all(folder);
}

std::string node_line(FrameWindow& frame) {
    std::string line;
    frame.engine().submit([&line] {
        if (const Node* node = current_node()) line = node->command_line.value_or("");
    });
    frame.engine().wait_idle();
    return line;
}

TEST_F(DialogOnAPhoto, ExportOptionsButtonEditsTheNodesSaveKeys) {
    TransformationDialog* dialog = open("export");
    ASSERT_NE(dialog, nullptr);
    auto* panel = dynamic_cast<ExportPanel*>(dialog->panel());
    ASSERT_NE(panel, nullptr);
    // The save keys have no controls of their own any more.
    EXPECT_EQ(dialog->control("jpeg_quality"), nullptr);
    EXPECT_EQ(dialog->control("tiff_compression"), nullptr);

    // "Original" edits the default type's options; Cancel changes nothing.
    panel->choice("file_type")->setCurrentIndex(0);
    panel->choice("default_file_type")->setCurrentIndex(0);  // TIFF
    settle(dialog);
    const std::string before = dialog->command_line();
    ModalScript cancel({[](QWidget* modal) {
        auto* d = qobject_cast<FormatOptionsDialog*>(modal);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), "TIFF Save Options");
        d->compression_box()->setCurrentIndex(1);
        d->reject();
    }});
    panel->options_button()->click();
    ASSERT_TRUE(cancel.done());
    settle(dialog);
    EXPECT_EQ(dialog->command_line(), before);

    panel->choice("file_type")->setCurrentIndex(4);  // PNG
    ModalScript ok({[](QWidget* modal) {
        auto* d = qobject_cast<FormatOptionsDialog*>(modal);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), "PNG Save Options");
        EXPECT_TRUE(d->ask_box()->isChecked());  // Export asks by default
        d->ask_box()->setChecked(false);
        d->metadata_box()->setCurrentIndex(3);
        d->script_box()->setCurrentIndex(2);
        d->accept();
    }});
    panel->options_button()->click();
    ASSERT_TRUE(ok.done());
    settle(dialog);
    fs::create_directories("docs/screenshots");
    dialog->grab().save("docs/screenshots/export-dialog-options.png");
    dialog->accept();
    settle(dialog);
    std::string expected;
    ASSERT_FALSE(find_module("export")->normalise(
        split("export 0 file_type 4 default_file_type 0 png_ask 0 png_metadata 3 "
              "png_save_script 2"),
        nullptr, nullptr, expected));
    EXPECT_EQ(node_line(*frame), expected);
}

TEST_F(DialogOnAPhoto, FileNewOpensItsDialog) {
    frame->command(1000);
    TransformationDialog* dialog = wait_for_dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_NE(dynamic_cast<FileNewPanel*>(dialog->panel()), nullptr);
    dialog->reject();
    settle(dialog);
}

}  // namespace
}  // namespace tessaly::shell
