// What the Image Browser's selection tool bar does to the tree. Called on the engine's thread.
#pragma once

#include "shell/image_browser.h"

namespace tessaly::shell {

// The nodes a selection button names, relative to the current node: itself; the branch below
// it (itself and the chain of current children under it); everything below it; the chain from
// its top level image down to it; every node. The button selects them all, or when they all are
// selected already, deselects them.
void toggle_selection(BrowserAction what);

// Sets or clears the bypass of every selected transformation (top level images, splitters and
// branches have none) and re-runs what lies below the changed ones.
void set_selected_bypass(bool on);

}  // namespace tessaly::shell
