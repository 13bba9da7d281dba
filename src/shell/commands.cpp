#include "shell/commands.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "framework/registry.h"

namespace tessaly::shell {

namespace {

MenuEntry item(std::uint32_t id, const char* text) {
    return {id, text, {}};
}
MenuEntry separator() {
    return {};
}
MenuEntry submenu(const char* text, std::vector<MenuEntry> items) {
    return {0, text, std::move(items)};
}

std::vector<MenuEntry> numbered(std::uint32_t first, std::initializer_list<const char*> texts) {
    std::vector<MenuEntry> items;
    for (const char* text : texts) items.push_back(item(first++, text));
    return items;
}

MenuEntry plug_ins() {
    return submenu("Plug-ins",
                   {item(1700, "Setup"),
                    submenu("Nik", numbered(1701, {"Analog Efex Pro 2...",
                                                   "Analog Efex Pro 3...",
                                                   "Color Efex Pro 4...",
                                                   "Color Efex Pro 5...",
                                                   "Dfine 2...",
                                                   "Dfine 3...",
                                                   "HDR Efex Pro 2...",
                                                   "Perspective Efex...",
                                                   "Sharpener Pro 3 (Output)...",
                                                   "Sharpener Pro 3 (Raw)...",
                                                   "Silver Efex Pro 2...",
                                                   "Silver Efex Pro 3...",
                                                   "Viveza 2...",
                                                   "Viveza 3...",
                                                   "Nik 6 Analog Efex...",
                                                   "Nik 6 Color Efex...",
                                                   "Nik 6 Dfine...",
                                                   "Nik 6 Perspective Efex...",
                                                   "Nik 6 Pre-sharpener...",
                                                   "Nik 6 Silver Efex...",
                                                   "Nik 6 Viveza..."})),
                    submenu("Topaz", {item(1750, "DeNoise 6..."), item(1752, "DeNoise AI..."),
                                      item(1751, "ReMask 5..."), item(1753, "Sharpen AI..."),
                                      item(1754, "Photo AI..."), item(1755, "Gigapixel AI...")}),
                    submenu("DxO", {item(1770, "FilmPack 5..."), item(1771, "FilmPack 6...")})});
}

MenuEntry file_menu() {
    std::vector<MenuEntry> recent;
    for (std::uint32_t id = first_recent_file; id <= last_recent_file; ++id) {
        recent.push_back(item(id, ""));  // named when the menu opens
        recent.back().text = "-";
    }
    return submenu("File", {item(1000, "New...  (Ctrl-N)"),
                            item(1001, "Open...  (Ctrl-O)"),
                            item(1004, "Open from Default..."),
                            item(1010, "Open List..."),
                            submenu("Open Recent...", std::move(recent)),
                            separator(),
                            item(1002, "Save Back..."),
                            item(1025, "Re-Save..."),
                            item(1003, "Save As...  (Ctrl-S)"),
                            item(1005, "Save to Default..."),
                            item(1006, "Collapse"),
                            item(1007, "Export..."),
                            separator(),
                            item(1011, "Close"),
                            item(1012, "Close All Images"),
                            separator(),
                            item(1009, "Save Profile As..."),
                            item(1014, "Print...  (Ctrl-P)"),
                            item(1015, "Geotag Folder..."),
                            plug_ins(),
                            separator(),
                            item(1016, "Preferences..."),
                            item(1008, "Set Default Folder..."),
                            item(1017, "Color Management..."),
                            item(1018, "Create Lens Profile..."),
                            item(1019, "Monitor/Printer Curves..."),
                            item(1020, "21-Step Gray Calibration..."),
                            item(1021, "Card to Folder..."),
                            item(1022, "White Screen"),
                            separator(),
                            item(1023, "Quit  (Ctrl-Q)"),
                            item(1024, "Clear History")});
}

MenuEntry edit_menu() {
    return submenu("Edit", {item(1109, "Image Info..."),
                            item(1108, "Edit Transformation..."),
                            item(1119, "Full Screen  (Ctrl-F)"),
                            separator(),
                            item(1100, "Copy Image to Clipboard"),
                            item(1101, "Paste Image from Clipboard"),
                            item(1120, "Drop Files from Clipboard"),
                            separator(),
                            item(1102, "Select Previous"),
                            item(1103, "Select Next"),
                            item(1139, "Show Dependencies..."),
                            separator(),
                            item(1104, "Move Up"),
                            item(1105, "Move Down"),
                            item(1106, "Move Left"),
                            item(1107, "Move Right"),
                            separator(),
                            item(1112, "Add Splitter After  (Ins)"),
                            item(1113, "Add Branch to Splitter"),
                            item(1116, "Clone Branch"),
                            item(1134, "Convert to Copy"),
                            separator(),
                            item(1110, "Count Colors..."),
                            item(1117, "Toggle Breakpoint"),
                            item(1118, "Delete All Breakpoints")});
}

MenuEntry script_menu() {
    return submenu("Script",
                   {item(1401, "Open Script..."), item(1402, "Insert Snippet..."),
                    item(1403, "Save Script with Image Names..."),
                    item(1404, "Save Script without Image Names..."),
                    item(1405, "Save Script with Image Copies..."), separator(),
                    item(1406, "Open Workspace Script..."), item(1407, "Recover Workspace..."),
                    item(1408, "Save Workspace Script with Image Names..."),
                    item(1409, "Save Workspace Script without Image Names..."),
                    item(1410, "Save Workspace Script with Image Copies...")});
}

MenuEntry help_menu() {
    return submenu(
        "Help", {item(1601, "Index"), item(1602, "Glossary"), item(1603, "Getting Started"),
                 item(1604, "Keyboard Shortcuts"), separator(), item(1605, "Check for Update..."),
                 item(1606, "Create Portable Installation..."), separator(),
                 item(1600, "About Tessaly...")});
}

constexpr std::array<const char*, 10> submenu_names = {
    "Blur",    "Color",           "File",          "Geometry", "Gradient", "Gray",
    "Sharpen", "Special Effects", "Test Patterns", "Tool"};

// Where each transformation is filed. The single items stand at the menu's end; the "Tool"
// items are the ids 1350-1359; what no list names is a special effect.
struct Filing {
    const char* submenu;
    std::initializer_list<std::string_view> keywords;
};
const Filing filings[] = {
    {"",
     {"blend", "bypass", "change_profile", "compare", "composite", "convert", "copy", "filter",
      "frame", "masks", "raw_develop", "stack_images", "text", "transparent_png", "watermark"}},
    {"Blur",
     {"blur", "gaussian_blur", "precise_gaussian_blur", "linear_blur", "median_blur", "motion_blur",
      "spin_blur", "zoom_blur", "denoise", "orton"}},
    {"Color",
     {"adjust",
      "autorange",
      "brightness",
      "brightness_curve",
      "color_balance",
      "color_curves",
      "color_lookup",
      "color_negative",
      "color_remap",
      "color_zones",
      "conditional_curve",
      "create_profile",
      "dehaze",
      "defringe",
      "equalize",
      "expand",
      "gamma_adjust",
      "hue_saturation",
      "invert",
      "level",
      "levels_and_color",
      "match_reference",
      "multi_color_balance",
      "primaries",
      "saturation",
      "selective_correction",
      "swap_channels",
      "three_zone",
      "tint",
      "two_zone"}},
    {"File", {"export", "print", "slide_show", "layout", "calendar"}},
    {"Geometry",
     {"add_border",
      "crop",
      "crop_marks",
      "resize",
      "rotref",
      "size_to_fit",
      "lens_distortion",
      "distort",
      "warp",
      "stretch",
      "magnify",
      "tile",
      "repeat",
      "fan",
      "spiral",
      "kaleidoscope",
      "mobius",
      "conformal_mapping",
      "wave",
      "chromatic_aberration",
      "stereo",
      "displace"}},
    {"Gradient",
     {"linear_gradient", "oval_gradient", "sweep_gradient", "multipoint_gradient", "cosine_falloff",
      "light_falloff", "hotspot"}},
    {"Gray",
     {"monochrome", "monocolor", "high_contrast", "posterize", "extract_channel",
      "combine_channels", "replace_channel", "isolate"}},
    {"Sharpen",
     {"advanced_sharpen", "multipass_sharpen", "sharpen", "unsharp_mask", "high_pass", "dehalo"}},
    {"Test Patterns",
     {"checkerboard", "color_chart", "color_wheel", "gamma_test", "gray_discrimination",
      "hue_saturation_chart", "resolution_chart", "rgb_cube", "sharpen_test", "step_wedge",
      "lens_profile_target", "starfield"}},
};

}  // namespace

std::string transformation_submenu(std::string_view keyword) {
    const TransformationEntry* entry = find_transformation(keyword);
    if (entry && entry->command_id >= 1350 && entry->command_id <= 1359) return "Tool";
    for (const Filing& filing : filings) {
        if (std::find(filing.keywords.begin(), filing.keywords.end(), keyword) !=
            filing.keywords.end()) {
            return filing.submenu;
        }
    }
    return "Special Effects";
}

std::vector<MenuEntry> transformation_menu() {
    std::vector<MenuEntry> menu;
    for (const char* name : submenu_names) menu.push_back(submenu(name, {}));
    std::vector<MenuEntry> singles;
    for (const TransformationEntry& row : registry_rows()) {
        if (!row.keyword || row.command_id < 1200 || row.command_id > 1359) continue;
        MenuEntry entry = item(row.command_id, row.display_name);
        entry.text += "...";
        const std::string where = transformation_submenu(row.keyword);
        if (where.empty()) {
            singles.push_back(std::move(entry));
            continue;
        }
        for (MenuEntry& sub : menu) {
            if (sub.text == where) sub.items.push_back(std::move(entry));
        }
    }
    const auto by_text = [](const MenuEntry& a, const MenuEntry& b) { return a.text < b.text; };
    for (MenuEntry& sub : menu) std::sort(sub.items.begin(), sub.items.end(), by_text);
    std::sort(singles.begin(), singles.end(), by_text);
    menu.push_back(separator());
    for (MenuEntry& single : singles) menu.push_back(std::move(single));
    return menu;
}

std::vector<MenuEntry> menu_strip() {
    return {file_menu(), edit_menu(), submenu("Transformation", transformation_menu()),
            script_menu(), help_menu()};
}

std::span<const Accelerator> accelerators() {
    using Qt::Key;
    static const Accelerator table[] = {
        {QKeyCombination(Qt::Key_Insert), 1112},
        {QKeyCombination(Qt::KeypadModifier, Qt::Key_Plus), command_zoom_in},
        {QKeyCombination(Qt::KeypadModifier, Qt::Key_Minus), command_zoom_out},
        {QKeyCombination(Qt::KeypadModifier | Qt::ShiftModifier, Qt::Key_Plus), 1128},
        {QKeyCombination(Qt::KeypadModifier | Qt::ShiftModifier, Qt::Key_Minus), 1129},
        {QKeyCombination(Qt::KeypadModifier, Qt::Key_Asterisk), command_zoom_toggle},
        {QKeyCombination(Qt::KeypadModifier | Qt::ShiftModifier, Qt::Key_Asterisk), 1130},
        {QKeyCombination(Qt::AltModifier, Qt::Key_Left), command_scroll_left},
        {QKeyCombination(Qt::AltModifier, Qt::Key_Right), command_scroll_right},
        {QKeyCombination(Qt::AltModifier, Qt::Key_Up), command_scroll_up},
        {QKeyCombination(Qt::AltModifier, Qt::Key_Down), command_scroll_down},
        {QKeyCombination(Qt::Key_F1), 1801},
        {QKeyCombination(Qt::Key_F2), 1802},
        {QKeyCombination(Qt::Key_F3), 1136},
        {QKeyCombination(Qt::Key_F4), 1137},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_B), 1800},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_D), 1080},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_E), 1138},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_F), 1119},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_N), 1000},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_O), 1001},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_P), 1014},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_Q), 1023},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_S), 1003},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_R), 1133},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_W), 1411},
    };
    return table;
}

bool needs_current_image(std::uint32_t id) {
    switch (id) {
        case 1002:
        case 1005:
        case 1006:
        case 1007:
        case 1009:
        case 1011:
        case 1109:
        case 1108:
        case 1100:
            return true;
        default:
            return false;
    }
}

}  // namespace tessaly::shell
