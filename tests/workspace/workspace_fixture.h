// Real image trees for the workspace tests: PNG files in a fresh folder that is also the
// settings root, every written transformation installed, the workspace writers hooked in.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/text_file.h"
#include "fileio/file_open.h"
#include "fileio/image_write.h"
#include "framework/settings_files.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "tree/run_node.h"
#include "tree/tree.h"
#include "workspace/script_files.h"
#include "workspace/startup.h"

namespace tessaly::testing {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class WorkspaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_settings_root(dir.path());
        close_all_images();
        clear_script_state();
        script_load_policy() = {};
    }
    void TearDown() override {
        close_all_images();
        reset_settings_folders();
    }

    // A gray picture of w x h with a pattern picked by seed, written as PNG.
    std::string make_png(const std::string& name, std::uint32_t w, std::uint32_t h,
                         std::uint32_t seed = 1) {
        Image image;
        EXPECT_FALSE(image_alloc(image, image_gray8, w, h, 72.0));
        fill_pattern(image, w, seed);
        std::string path = dir.file(name);
        EXPECT_FALSE(write_png_file(path, image, nullptr, 0));
        return path;
    }

    // A File Open node for path, run.
    Node* open(const std::string& path) {
        Node* node = open_top_level_image(path);
        EXPECT_TRUE(node && !node->error) << path;
        return node;
    }

    // A transformation after parent, not run yet.
    Node* add(Node* parent, const char* caption, const std::string& command, int inputs = 0) {
        Node* n = add_transformation_after(parent, false, false, 0, inputs, bypass_none, caption);
        n->command_line = command;
        return n;
    }

    static std::string read(const std::string& path) {
        std::string bytes;
        EXPECT_FALSE(read_file_bytes(path, bytes)) << path;
        return bytes;
    }

    // Lines as the program writes them: a BOM, then CR LF after each.
    static std::string crlf(const Strings& lines) {
        std::string out = "\xEF\xBB\xBF";
        for (const auto& l : lines) out += l + "\r\n";
        return out;
    }

    // Writes the lines as a file in the folder; its path.
    std::string put(const std::string& name, const Strings& lines) {
        EXPECT_FALSE(write_file_atomic(dir.file(name), crlf(lines)));
        return dir.file(name);
    }

    Strings errors() const { return scope.recorder.errors(); }

    // The only top level image as "width name"; "none" unless there is exactly one.
    static std::string single_top() {
        const auto& tops = tree_root().children;
        if (tops.size() != 1) return "none";
        return std::to_string(tops[0]->image.width) + " " + tops[0]->name;
    }

    TempDir dir;
    RecordingScope scope;
};

}  // namespace tessaly::testing
