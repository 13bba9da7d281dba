#include "shell/start_session.h"

#include <filesystem>
#include <memory>

#include "core/arguments.h"
#include "core/interaction.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "tree/tree.h"
#include "workspace/preferences.h"
#include "workspace/startup.h"

namespace tessaly::shell {

void start_session(FrameWindow& frame, const std::string& command_line) {
    auto restored = std::make_shared<bool>(false);
    const bool no_tokens = split(command_line).empty();
    frame.run([restored, no_tokens] {
        *restored = offer_crash_recovery();
        if (*restored || !no_tokens || !preferences().restore_workspace_file) return;
        FileChoice choice;
        choice.title = "Recover Workspace";
        choice.filter_name = "Workspace Scripts";
        choice.patterns = {"*.workspace", "*.script"};
        choice.folder = workspace_scripts_folder();
        if (const auto path = interaction().choose_open_file(choice)) {
            (void)load_recovery_choice(*path);
        }
    });
    frame.engine().wait_idle();
    if (!*restored && !no_tokens) {
        frame.process_command_line(command_line);
        frame.engine().wait_idle();
    }
    frame.run([] {
        std::error_code ec;
        std::filesystem::remove(crash_recovery_file(), ec);
    });
    frame.engine().wait_idle();
}

}  // namespace tessaly::shell
