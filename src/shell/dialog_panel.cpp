#include "shell/dialog_panel.h"

#include <utility>

namespace tessaly::shell {

// Each panel's maker, declared in its own file.
// (One line per module with a panel of its own.)

namespace {

struct PanelEntry {
    std::string_view keyword;
    PanelFactory make;
};

const std::vector<PanelEntry>& panels() {
    static const std::vector<PanelEntry> all = {};
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
