// What needs a real X server: the clipboard shared with other programs. Run under xvfb-run
// (ctest's shell.x11); elsewhere these tests skip.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QProcess>
#include <QTest>
#include <filesystem>

#include "shell/clipboard.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "support/recording_interaction.h"
#include "tree/tree.h"

namespace tessaly::shell {
namespace {

namespace fs = std::filesystem;

QImage pattern() {
    QImage picture(41, 27, QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, qRgb(x * 6, y * 9, (x * y) & 255));
        }
    }
    return picture;
}

bool same_colours(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if ((a.pixel(x, y) & 0xffffff) != (b.pixel(x, y) & 0xffffff)) return false;
        }
    }
    return true;
}

class X11 : public ::testing::Test {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") {
            GTEST_SKIP() << "needs an X server (ctest runs it under xvfb-run as shell.x11)";
        }
    }
    void TearDown() override { close_all_images(); }
    tessaly::testing::RecordingInteraction record;
    const QString self = QCoreApplication::applicationFilePath();
};

TEST_F(X11, APictureCopiedInAnotherProgramIsPastedAndOneCopiedHereIsReadThere) {
    const fs::path folder =
        fs::temp_directory_path() / ("tessaly-x11-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const QString given = QString::fromStdString((folder / "given.png").string());
    ASSERT_TRUE(pattern().save(given));

    // Another program owns the clipboard; Paste takes its picture.
    QProcess holder;
    holder.start(self, {"--hold-clipboard", given});
    ASSERT_TRUE(holder.waitForReadyRead(20000));
    ASSERT_TRUE(holder.readAll().contains("ready"));
    FrameWindow frame(&record);
    frame.command(1101);
    frame.engine().wait_idle();
    holder.closeWriteChannel();
    holder.waitForFinished(10000);
    QImage pasted;
    frame.run([&pasted] {
        const Node* node = current_node();
        if (node) pasted = image_to_qimage(node->image);
    });
    frame.engine().wait_idle();
    EXPECT_TRUE(record.texts(MessageKind::error).empty());
    EXPECT_TRUE(same_colours(pasted, pattern()));

    // Copied here, read by another program while this one keeps serving it.
    frame.command(1100);
    frame.engine().wait_idle();
    const QString out = QString::fromStdString((folder / "read.png").string());
    QProcess reader;
    reader.start(self, {"--read-clipboard", out});
    ASSERT_TRUE(QTest::qWaitFor([&] { return reader.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(reader.exitCode(), 0);
    EXPECT_TRUE(same_colours(QImage(out), pattern()));
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tessaly::shell
