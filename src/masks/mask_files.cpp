#include "mask_files.h"

#include "core/format.h"
#include "mask_command_line.h"

namespace tessaly {

const SettingsName& mask_settings_name() {
    static const SettingsName name{"Mask", ".mask"};
    return name;
}

bool save_mask_settings(const MaskState& state, std::optional<std::string> file_name) {
    const bool as_default = file_name && *file_name == "Default";
    if (!as_default && state.initial_image) {
        show_error(
            "Mask settings for the current mask cannot be saved since it was built from another "
            "image.\\nYou can save the current image as a script file instead.");
        return true;
    }
    return save_settings(mask_command_line(state, !as_default), std::move(file_name),
                         mask_settings_name());
}

bool load_mask_settings(MaskState& state, std::optional<std::string> file_name) {
    std::optional<ArgumentList> args =
        load_settings("mask", std::move(file_name), mask_settings_name());
    if (!args) return true;
    return read_mask_command_line(*args, state);
}

bool load_default_mask_settings(MaskState& state) {
    if (!settings_exist(mask_settings_name(), "Default")) return true;
    std::optional<ArgumentList> args = load_settings("mask", "Default", mask_settings_name());
    if (!args) return true;
    MaskReadOptions options;
    options.with_commands = false;
    (void)read_mask_command_line(*args, state, options);
    return false;
}

}  // namespace tessaly
