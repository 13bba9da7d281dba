// The desktop program's tests: Qt's offscreen platform, a fixed locale and resolution, and a
// settings root of their own, so that nothing of the person running them is read or written.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLocale>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "batch/engine.h"
#include "core/format.h"
#include "framework/settings_files.h"
#include "shell/application.h"
#include "support/recording_interaction.h"
#include "workspace/startup.h"

namespace {
tessaly::testing::RecordingInteraction quiet;

// Puts the picture on the clipboard, says so on stdout and keeps it there until stdin closes.
int hold_clipboard(const char* path) {
    const QImage picture(QString::fromLocal8Bit(path));
    if (picture.isNull()) return 2;
    QApplication::clipboard()->setImage(picture);
    std::puts("ready");
    std::fflush(stdout);
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, qApp, [] { QApplication::quit(); });
    QTimer::singleShot(30000, qApp, [] { QApplication::quit(); });
    return QApplication::exec();
}

// Saves what the clipboard holds as a picture; 1 when it holds none.
int read_clipboard(const char* path) {
    const QImage picture = QApplication::clipboard()->image();
    return !picture.isNull() && picture.save(QString::fromLocal8Bit(path)) ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The X11 tests run under xvfb-run with the xcb platform; everything else needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_FONT_DPI", "96");
    QLocale::setDefault(QLocale::c());
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    tessaly::shell::prepare_application();
    // A second process of the clipboard tests: another program holding or reading the clipboard.
    if (argc == 3) {
        if (std::strcmp(argv[1], "--hold-clipboard") == 0) return hold_clipboard(argv[2]);
        if (std::strcmp(argv[1], "--read-clipboard") == 0) return read_clipboard(argv[2]);
    }
    char folder[] = "/tmp/tessaly-shell-XXXXXX";
    if (!::mkdtemp(folder)) return 2;
    ::setenv("TESSALY_SETTINGS_ROOT", folder, 1);
    tessaly::reset_settings_folders();
    tessaly::set_interaction(&quiet);
    tessaly::install_engine();
    tessaly::create_program_folders();
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return result;
}
