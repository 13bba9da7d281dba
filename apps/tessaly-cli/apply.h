// --apply: one transformation inserted after the current image from its command line and run.
#pragma once

#include <string>

namespace tessaly::cli {

// Inserts a node of the command line's transformation after the current image and leaves it the
// way its dialog's OK would: captioned with the display name, with the registry's mask and input
// slots, the command line stored and saved as "Previous", run, made current, what lies below it
// re-run and the workspace autosaved. A command line that cannot run (unknown keyword, module not
// built, does not parse) still gets its node, which then carries the run's error: what follows
// in the chain fails instead of quietly working on the image before it. true on failure.
bool apply_command_line(const std::string& text);

}  // namespace tessaly::cli
