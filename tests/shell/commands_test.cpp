// The menu strip and keys against the frame's published table of commands.
#include "shell/commands.h"

#include <gtest/gtest.h>

#include <QKeySequence>
#include <map>
#include <set>

#include "framework/registry.h"

namespace tessaly::shell {
namespace {

void collect(const std::vector<MenuEntry>& entries, std::map<std::uint32_t, std::string>& out,
             int& duplicates) {
    for (const MenuEntry& e : entries) {
        if (e.is_submenu()) {
            collect(e.items, out, duplicates);
        } else if (!e.is_separator() && e.id != 0) {
            if (!out.emplace(e.id, e.text).second) ++duplicates;
        }
    }
}

TEST(Commands, EveryMenuItemHasItsIdAndTextOnce) {
    const auto strip = menu_strip();
    std::vector<std::string> words;
    for (const MenuEntry& word : strip) words.push_back(word.text);
    EXPECT_EQ(words,
              (std::vector<std::string>{"File", "Edit", "Transformation", "Script", "Help"}));

    std::map<std::uint32_t, std::string> items;
    int duplicates = 0;
    collect(strip, items, duplicates);
    EXPECT_EQ(duplicates, 0);
    // A sample from each table, the accelerator notes and the odd ones included.
    const std::map<std::uint32_t, std::string> expected = {
        {1000, "New...  (Ctrl-N)"},
        {1003, "Save As...  (Ctrl-S)"},
        {1025, "Re-Save..."},
        {1012, "Close All Images"},
        {1014, "Print...  (Ctrl-P)"},
        {1020, "21-Step Gray Calibration..."},
        {1023, "Quit  (Ctrl-Q)"},
        {1024, "Clear History"},
        {1700, "Setup"},
        {1721, "Nik 6 Viveza..."},
        {1751, "ReMask 5..."},
        {1752, "DeNoise AI..."},
        {1771, "FilmPack 6..."},
        {1109, "Image Info..."},
        {1119, "Full Screen  (Ctrl-F)"},
        {1112, "Add Splitter After  (Ins)"},
        {1139, "Show Dependencies..."},
        {1118, "Delete All Breakpoints"},
        {1405, "Save Script with Image Copies..."},
        {1410, "Save Workspace Script with Image Copies..."},
        {1606, "Create Portable Installation..."},
        {1600, "About Tessaly..."},
        {1222, "Add Border..."},
        {1285, "Masks..."},
    };
    for (const auto& [id, text] : expected) EXPECT_EQ(items[id], text) << id;
    // Every File command (1000-1025 but for 1013) and every Help command.
    int file_and_help = 0;
    for (const auto& [id, text] : items) {
        if ((id >= 1000 && id <= 1025) || (id >= 1600 && id <= 1606)) ++file_and_help;
    }
    EXPECT_EQ(file_and_help, 25 + 7);
}

TEST(Commands, TransformationMenuFilesEveryRegistryRowOnceInAlphabeticalOrder) {
    const auto menu = transformation_menu();
    ASSERT_GE(menu.size(), 11u);
    const std::vector<std::string> submenus = {
        "Blur",    "Color",           "File",          "Geometry", "Gradient", "Gray",
        "Sharpen", "Special Effects", "Test Patterns", "Tool"};
    for (std::size_t i = 0; i < submenus.size(); ++i) EXPECT_EQ(menu[i].text, submenus[i]);
    EXPECT_TRUE(menu[10].is_separator());

    std::vector<std::string> singles;
    for (std::size_t i = 11; i < menu.size(); ++i) singles.push_back(menu[i].text);
    EXPECT_EQ(singles,
              (std::vector<std::string>{"Blend...", "Bypass...", "Change Profile...", "Compare...",
                                        "Composite...", "Convert...", "Copy...", "Filter...",
                                        "Frame...", "Masks...", "Raw Develop...", "Stack Images...",
                                        "Text...", "Transparent PNG...", "Watermark..."}));
    std::map<std::uint32_t, std::string> items;
    int duplicates = 0;
    collect(menu, items, duplicates);
    EXPECT_EQ(duplicates, 0);
    for (const TransformationEntry& row : registry_rows()) {
        if (!row.keyword || row.command_id < 1200 || row.command_id > 1359) continue;
        EXPECT_EQ(items[row.command_id], std::string(row.display_name) + "...") << row.keyword;
    }
    for (std::size_t i = 0; i < 10; ++i) {
        const auto& sub = menu[i].items;
        EXPECT_FALSE(sub.empty()) << menu[i].text;
        for (std::size_t k = 1; k < sub.size(); ++k) EXPECT_LT(sub[k - 1].text, sub[k].text);
        for (const MenuEntry& e : sub) {
            EXPECT_EQ(menu[i].text == "Tool", e.id >= 1350 && e.id <= 1359) << e.text;
        }
    }
}

TEST(Commands, AcceleratorsAreUniqueAndSendTheirIds) {
    std::set<int> keys;
    std::map<QString, std::uint32_t> by_text;
    for (const Accelerator& a : accelerators()) {
        EXPECT_TRUE(keys.insert(a.key.toCombined()).second) << a.id;
        by_text[QKeySequence(a.key).toString(QKeySequence::PortableText)] = a.id;
    }
    EXPECT_EQ(by_text["Ins"], 1112u);
    EXPECT_EQ(by_text["Ctrl+N"], 1000u);
    EXPECT_EQ(by_text["Ctrl+W"], 1411u);
    EXPECT_EQ(by_text["Alt+Left"], 1121u);
    EXPECT_EQ(by_text["F4"], 1137u);
    // Keypad keys are told from the main keyboard's.
    EXPECT_EQ(by_text.count("+"), 0u);
    EXPECT_EQ(by_text["Num++"], 1125u);
    EXPECT_EQ(by_text["Shift+Num+*"], 1130u);
}

}  // namespace
}  // namespace tessaly::shell
