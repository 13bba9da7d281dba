// Builds real forests for the tree tests. Every transformation node runs the keyword "posterize",
// whose run entry is replaced by a recorder: it logs the node and fills its 2 x 2 picture with
// main input + 1 + every extra input + every mask source (a node without input starts at 100),
// or fails when its command line says "fail". The values show what each node ran on.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "batch/engine.h"
#include "core/image.h"
#include "framework/registry.h"
#include "framework/transformation.h"
#include "support/recording_interaction.h"
#include "tree/edit.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly::testing {

inline std::vector<Node*>& run_log() {
    static std::vector<Node*> log;
    return log;
}

inline std::uint8_t pixel(const Node* node) {
    return node && node->image.has_pixels() ? node->image.rows[0][0] : 0;
}

inline std::uint8_t recording_run(Node* input, Node* node, const ArgumentList& args) {
    run_log().push_back(node);
    for (int i = 0; i < args.count(); ++i) {
        if (args[i] == "fail") return fail_node(node, "Test failure");
    }
    int value = 99;
    if (input) {
        if (!input->image.has_pixels()) return fail_node(node, "Test: input has no image");
        value = pixel(input);
    }
    value += 1;
    for (const Node* in : node->inputs) value += pixel(effective_image_node(in));
    for (const auto& m : node->masks) value += pixel(effective_image_node(m->source));
    if (image_alloc(node->image, image_gray8, 2, 2, 72.0)) return fail_node(node, "no memory");
    for (std::uint32_t r = 0; r < 2; ++r) {
        node->image.rows[r][0] = node->image.rows[r][1] = static_cast<std::uint8_t>(value);
    }
    return 0;
}

inline int run_position(const Node* node) {
    auto& log = run_log();
    auto it = std::find(log.begin(), log.end(), node);
    return it == log.end() ? -1 : static_cast<int>(it - log.begin());
}

inline int run_count(const Node* node) {
    return static_cast<int>(std::count(run_log().begin(), run_log().end(), node));
}

// The children of a node, for comparing the shape of a tree in one expectation.
inline std::vector<Node*> kids(const Node* n) {
    return n->children;
}

// A node and its current children down to the end of the chain.
inline std::vector<Node*> path(Node* n) {
    std::vector<Node*> out;
    for (; n; n = n->children.empty() ? nullptr : n->children[n->current_child]) out.push_back(n);
    return out;
}

// Every child points back at its parent and every current index is valid.
inline ::testing::AssertionResult links_consistent() {
    std::string broken;
    walk([&](Node* n) {
        for (const Node* c : n->children) {
            if (c->parent != n) broken += c->caption + " does not point back at its parent; ";
        }
        int count = static_cast<int>(n->children.size());
        if (count > 0 ? n->current_child < 0 || n->current_child >= count
                      : n->current_child != -1) {
            broken += n->caption + " has current child " + std::to_string(n->current_child);
        }
        return false;
    });
    if (broken.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << broken;
}

class TreeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        install_transformation("posterize", recording_run, nullptr);
        // The tree on its own: saving workspaces and snippets belongs to the layer above.
        set_workspace_hooks(nullptr, nullptr);
        set_snippet_writer(nullptr);
        run_log().clear();
        set_batch_mode(0);
        set_batch_abort(false);
    }
    void TearDown() override {
        EXPECT_TRUE(links_consistent());
        close_all_images();
        set_batch_mode(0);
        set_batch_abort(false);
        install_engine();
        EXPECT_TRUE(tree_root().children.empty());
        EXPECT_EQ(current_node(), nullptr);
    }

    // A top level image holding a 2 x 2 gray picture of one value.
    Node* top(const char* caption, std::uint8_t value = 10) {
        Node* n = create_top_level_image(false, false, 0, 0, bypass_none, caption, false);
        EXPECT_NE(n, nullptr);
        n->name = caption;
        n->command_line = "file_open";
        EXPECT_FALSE(image_alloc(n->image, image_gray8, 2, 2, 72.0));
        for (std::uint32_t r = 0; r < 2; ++r) n->image.rows[r][0] = n->image.rows[r][1] = value;
        return n;
    }

    // A transformation after a node, with one extra input slot and one mask slot, already run.
    Node* step(Node* after, const char* caption, const char* command = "posterize") {
        Node* n = add_transformation_after(after, true, false, 1, 1, bypass_none, caption);
        EXPECT_NE(n, nullptr);
        n->command_line = command;
        (void)run_node(n->parent, n);
        return n;
    }

    // A chain of transformations after a node.
    std::vector<Node*> chain(Node* after, const std::vector<const char*>& captions) {
        std::vector<Node*> out;
        for (const char* c : captions) {
            after = step(after, c);
            out.push_back(after);
        }
        return out;
    }

    std::vector<std::string> questions() const { return scope.recorder.questions; }
    std::vector<std::string> errors() const { return scope.recorder.errors(); }
    std::vector<std::string> warnings() const { return scope.recorder.warnings(); }
    void answer(std::initializer_list<Answer> answers) {
        for (Answer a : answers) scope.recorder.answers.push_back(a);
    }
    void forget_messages() {
        scope.recorder.messages.clear();
        scope.recorder.questions.clear();
        scope.recorder.choices.clear();
        run_log().clear();
    }

    RecordingScope scope;
};

}  // namespace tessaly::testing
