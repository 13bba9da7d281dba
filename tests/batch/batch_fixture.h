// Batches and exports over real files: File Open nodes listing pictures written in a fresh
// folder, real transformations after them, the results read back with our readers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "batch/batch.h"
#include "core/arguments.h"
#include "fileio/file_open.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "framework/transformation.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "tree/tree.h"

namespace tessaly::testing {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// A w x h picture of one value, or of a gradient when the value is negative.
inline Image picture(std::uint32_t type, std::uint32_t w, std::uint32_t h, int value = -1) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 72.0));
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < im.row_bytes; ++x) {
            im.rows[y][x] = static_cast<std::uint8_t>(value < 0 ? x * 7 + y * 13 : value);
        }
    }
    return im;
}

// The names in a folder, sorted.
inline Strings listing(const std::string& folder) {
    Strings names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class BatchFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        set_batch_mode(0);
        set_batch_abort(false);
    }
    void TearDown() override {
        close_all_images();
        set_batch_mode(0);
        set_script_running(false);
    }

    // A File Open node listing the files, the given indexes selected (all when none are given),
    // its picture read from the first.
    Node* file_open(const Strings& paths, const std::vector<int>& selected = {},
                    bool multiple = false, const char* caption = "Open") {
        FileOpenSettings s;
        s.multiple = multiple;
        for (int i = 0; i < static_cast<int>(paths.size()); ++i) {
            const bool on = selected.empty() ||
                            std::find(selected.begin(), selected.end(), i) != selected.end();
            s.files.push_back({paths[i], file_time_text(paths[i]), on});
        }
        Node* n = create_top_level_image(false, false, 0, 0, bypass_none, caption, false);
        n->command_line = file_open_module.format(s);
        EXPECT_FALSE(read_image_file(paths[0], n->image, n->transparency));
        return n;
    }

    Node* step(Node* parent, const char* caption, const std::string& line, int inputs = 0) {
        Node* n = add_transformation_after(parent, false, false, 0, inputs, bypass_none, caption);
        n->command_line = line;
        return n;
    }

    FileOpenSettings settings_of(const Node* n) {
        FileOpenSettings s;
        EXPECT_FALSE(file_open_module.parse(split(*n->command_line), s));
        return s;
    }

    Strings errors() const { return scope.recorder.errors(); }

    TempDir dir;
    RecordingScope scope;
};

}  // namespace tessaly::testing
