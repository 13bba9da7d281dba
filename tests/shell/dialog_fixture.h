// A frame with a small real photograph open, for the tests that drive transformation dialogs:
// choosing a transformation in the menu waits for its dialog, and settle waits until what the
// controls changed has run.
#pragma once

#include <gtest/gtest.h>

#include <QPointer>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>

#include "framework/registry.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "shell/transformation_dialog.h"
#include "support/recording_interaction.h"
#include "tree/tree.h"

namespace tessaly::shell {

inline const std::string dialog_photo = "/usr/share/wallpapers/Autumn/contents/images/640x480.jpg";

class DialogOnAPhoto : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(dialog_photo)) GTEST_SKIP() << dialog_photo << " is missing";
        frame = std::make_unique<FrameWindow>(&record);
        frame->resize(1000, 700);
        frame->show();
        frame->open_file(dialog_photo);
        frame->engine().wait_idle();
    }
    void TearDown() override {
        frame.reset();
        close_all_images();
    }

    // Chooses the transformation in the menu and waits for its dialog.
    TransformationDialog* open(const char* keyword) {
        const TransformationEntry* entry = find_transformation(keyword);
        if (!entry) return nullptr;
        frame->command(entry->command_id);
        return wait_for_dialog();
    }
    // Waits for a dialog to show (null after five seconds without one).
    TransformationDialog* wait_for_dialog() {
        TransformationDialog* dialog = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                dialog = frame->findChild<TransformationDialog*>();
                return dialog && dialog->isVisible();
            },
            5000);
        frame->engine().wait_idle();
        return dialog;
    }
    // Waits until the changes made through the controls have run.
    void settle(TransformationDialog* dialog) {
        QPointer<TransformationDialog> alive(dialog);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !alive || !alive->waiting(); }, 10000));
        frame->engine().wait_idle();
    }

    // Waits for the dialog to go (false after five seconds with one still there).
    bool closed() {
        const bool gone =
            QTest::qWaitFor([&] { return !frame->findChild<TransformationDialog*>(); }, 5000);
        frame->engine().wait_idle();
        return gone;
    }

    // With TESSALY_SCREENSHOT_DIR set: the dialog as <module>-dialog.png there.
    static void screenshot(QWidget* dialog, const char* module) {
        const QByteArray folder = qgetenv("TESSALY_SCREENSHOT_DIR");
        if (folder.isEmpty()) return;
        dialog->grab().save(QString::fromUtf8(folder) + "/" + module + "-dialog.png");
    }

    tessaly::testing::RecordingInteraction record;
    std::unique_ptr<FrameWindow> frame;
};

}  // namespace tessaly::shell
