// ".mask" settings files: mask command lines kept with the common settings-file machinery under
// the name "Mask" (folder "Mask", "Default" and the user's own names).
#pragma once

#include <optional>
#include <string>

#include "framework/settings_files.h"
#include "mask_operations.h"

namespace tessaly {

const SettingsName& mask_settings_name();

// Saves the state's text. "Default" keeps the tool settings only (n_op 0). A mask started from
// another image cannot be saved (its recipe is not enough to build it again). With no file name
// the person is asked for one. true on failure.
bool save_mask_settings(const MaskState& state, std::optional<std::string> file_name);
// Loads a file with all its operations, replacing the list, and replays it. A file that cannot be
// opened leaves the state unchanged. true on failure.
bool load_mask_settings(MaskState& state, std::optional<std::string> file_name);
// The "Default" file over the built-in defaults, tool settings only; false when it was read.
bool load_default_mask_settings(MaskState& state);

}  // namespace tessaly
