#include "shell/dialog_panel.h"

#include <utility>

namespace tessaly::shell {

// Each panel's maker, defined in its own file; one line per module with a panel.
DialogPanel* make_file_new_panel(FrameWindow& frame, const PanelInput& input);
DialogPanel* make_export_panel(FrameWindow& frame, const PanelInput& input);
DialogPanel* make_file_open_panel(FrameWindow& frame, const PanelInput& input);
DialogPanel* make_resize_panel(FrameWindow& frame, const PanelInput& input);
DialogPanel* make_rotref_panel(FrameWindow& frame, const PanelInput& input);
DialogPanel* make_convert_panel(FrameWindow& frame, const PanelInput& input);
DialogPanel* make_change_profile_panel(FrameWindow& frame, const PanelInput& input);
DialogPanel* make_unsharp_mask_panel(FrameWindow& frame, const PanelInput& input);
DialogPanel* make_sharpen_panel(FrameWindow& frame, const PanelInput& input);

namespace {

struct PanelEntry {
    std::string_view keyword;
    PanelFactory make;
};

const std::vector<PanelEntry>& panels() {
    static const std::vector<PanelEntry> all = {
        {"file_new", make_file_new_panel},
        {"export", make_export_panel},
        {"file_open", make_file_open_panel},
        {"resize", make_resize_panel},
        {"rotref", make_rotref_panel},
        {"convert", make_convert_panel},
        {"change_profile", make_change_profile_panel},
        {"unsharp_mask", make_unsharp_mask_panel},
        {"sharpen", make_sharpen_panel},
    };
    return all;
}

}  // namespace

const PanelFactory* dialog_panel_factory(std::string_view keyword) {
    for (const PanelEntry& p : panels()) {
        if (p.keyword == keyword) return &p.make;
    }
    return nullptr;
}

}  // namespace tessaly::shell
