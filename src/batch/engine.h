// Start-up of the engine: the lower layers reach the higher ones only through hooks, and this is
// the one call that installs them all (mask preparation before silent runs, the workspace's
// autosave and companion files, colour-managed conversions). Transformation modules register
// themselves; nothing here lists them. Called once by every program and test program before
// anything runs a node.
#pragma once

namespace tessaly {

void install_engine();

}  // namespace tessaly
