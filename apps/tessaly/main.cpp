// tessaly: the desktop program. Start-up checks for a running instance (which then gets this
// command line), loads the saved state, shows the frame, offers the recovery of a session that
// ended abnormally and processes the command line's files, scripts and workspaces.
#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <string>

#include "batch/engine.h"
#include "core/format.h"
#include "core/process_memory.h"
#include "framework/settings_files.h"
#include "shell/application.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "shell/monitor_profile.h"
#include "shell/single_instance.h"
#include "shell/start_session.h"
#include "workspace/startup.h"

namespace {

// Names with blanks are quoted, as the command-line tokenizer expects.
std::string command_line_text(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!text.empty()) text += ' ';
        text += arg.find_first_of(" \t") == std::string::npos ? arg : "\"" + arg + "\"";
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tessaly;
    tune_process_memory(argv);
    QApplication app(argc, argv);
    shell::prepare_application();
    shell::install_monitor_profile_query();
    init_locale_separators();
    const std::string text = command_line_text(argc, argv);

    install_engine();
    create_program_folders();
    shell::SingleInstance instance;
    if (!instance.acquire()) {
        if (!instance.hand_over(text)) {
            std::fprintf(stderr, "Tessaly is running but did not answer\n");
        }
        return 1;
    }
    load_saved_state();

    shell::FrameWindow frame;
    QObject::connect(&instance, &shell::SingleInstance::handed_over, &frame,
                     [&frame] { frame.process_handed_over_command_line(); });
    frame.show();
    shell::start_session(frame, text);
    // exit_when_done: the command line's work is done and the frame already closed.
    if (!frame.isVisible()) return 0;
    return app.exec();
}
