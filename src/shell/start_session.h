// What the desktop program does once its frame is on the screen: offers to restore a session
// that ended abnormally, else follows the start-up preference or processes the command line,
// and then lets the recovery file go (autosaves make it again as the person works).
#pragma once

#include <string>

namespace tessaly::shell {

class FrameWindow;

// Returns when the engine has done all of it (the window stays responsive meanwhile).
void start_session(FrameWindow& frame, const std::string& command_line);

}  // namespace tessaly::shell
