#include "shell/start_session.h"

#include <filesystem>

#include "core/arguments.h"
#include "core/interaction.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "tree/tree.h"
#include "workspace/preferences.h"
#include "workspace/startup.h"

namespace tessaly::shell {

void start_session(FrameWindow& frame, const std::string& command_line) {
    // One job, so that the files are read while the window draws itself for the first time.
    frame.process_then_maybe_end([command_line] {
        if (!offer_crash_recovery()) {
            if (!split(command_line).empty()) {
                (void)process_command_line(command_line);
            } else if (preferences().restore_workspace_file) {
                FileChoice choice;
                choice.title = "Recover Workspace";
                choice.filter_name = "Workspace Scripts";
                choice.patterns = {"*.workspace", "*.script"};
                choice.folder = workspace_scripts_folder();
                if (const auto path = interaction().choose_open_file(choice)) {
                    (void)load_recovery_choice(*path);
                }
            }
        }
        std::error_code ec;
        std::filesystem::remove(crash_recovery_file(), ec);
    });
    frame.engine().wait_idle();
}

}  // namespace tessaly::shell
