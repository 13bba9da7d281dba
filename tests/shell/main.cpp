// The desktop program's tests: Qt's offscreen platform, a fixed locale and resolution, and a
// settings root of their own, so that nothing of the person running them is read or written.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <QStandardPaths>
#include <cstdlib>
#include <filesystem>

#include "batch/engine.h"
#include "core/format.h"
#include "framework/settings_files.h"
#include "shell/application.h"
#include "support/recording_interaction.h"
#include "workspace/startup.h"

namespace {
tessaly::testing::RecordingInteraction quiet;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_FONT_DPI", "96");
    QLocale::setDefault(QLocale::c());
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    tessaly::shell::prepare_application();
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
