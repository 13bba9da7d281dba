// The frame's commands: every menu item with its numeric id and text, and the accelerator keys.
// A menu, a key or a button all end in one numeric id that the frame dispatches from one table.
#pragma once

#include <QKeyCombination>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessaly::shell {

// One item of a menu: a command (id and text), a submenu (text and items, id 0) or a separator
// (no text).
struct MenuEntry {
    std::uint32_t id = 0;
    std::string text;
    std::vector<MenuEntry> items;

    bool is_separator() const { return text.empty(); }
    bool is_submenu() const { return id == 0 && !text.empty(); }
};

// The five words of the menu strip, each a submenu.
std::vector<MenuEntry> menu_strip();

// The Transformation menu built from the registry: the ten submenus, a separator, then the single
// items; each item is a transformation's command id and display name with "...".
std::vector<MenuEntry> transformation_menu();
// The submenu a transformation is filed under ("" for a single item at the menu's end).
std::string transformation_submenu(std::string_view keyword);

// Ids of the recent file entries (Open Recent) and of the commands that only keys send.
enum : std::uint32_t {
    first_recent_file = 1050,
    last_recent_file = 1059,
    command_zoom_in = 1125,
    command_zoom_out = 1126,
    command_zoom_toggle = 1127,
    command_scroll_left = 1121,
    command_scroll_right = 1122,
    command_scroll_up = 1123,
    command_scroll_down = 1124,
};

struct Accelerator {
    QKeyCombination key;
    std::uint32_t id;
};
std::span<const Accelerator> accelerators();

// Commands that need a current image (disabled without one).
bool needs_current_image(std::uint32_t id);

}  // namespace tessaly::shell
