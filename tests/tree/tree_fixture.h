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

using Nodes = std::vector<Node*>;
using Strings = std::vector<std::string>;

inline Nodes& run_log() {
    static Nodes log;
    return log;
}

inline std::uint8_t pixel(const Node* node) {
    return node && node->image.has_pixels() ? node->image.rows[0][0] : 0;
}

inline void fill(Image& image, int value) {
    for (int r : {0, 1}) image.rows[r][0] = image.rows[r][1] = static_cast<std::uint8_t>(value);
}

inline std::uint8_t recording_run(Node* input, Node* node, const ArgumentList& args) {
    run_log().push_back(node);
    for (int i = 0; i < args.count(); ++i) {
        if (args[i] == "fail") return fail_node(node, "Test failure");
    }
    if (input && !input->image.has_pixels()) return fail_node(node, "Test: input has no image");
    int value = (input ? pixel(input) : 99) + 1;
    for (const Node* in : node->inputs) value += pixel(effective_image_node(in));
    for (const auto& m : node->masks) value += pixel(effective_image_node(m->source));
    if (image_alloc(node->image, image_gray8, 2, 2, 72.0)) return fail_node(node, "no memory");
    fill(node->image, value);
    return 0;
}

inline int run_position(const Node* node) {
    auto it = std::find(run_log().begin(), run_log().end(), node);
    return it == run_log().end() ? -1 : static_cast<int>(it - run_log().begin());
}

inline int run_count(const Node* node) {
    return static_cast<int>(std::count(run_log().begin(), run_log().end(), node));
}

inline std::vector<int> values(const Nodes& nodes) {
    std::vector<int> out;
    for (const Node* n : nodes) out.push_back(pixel(n));
    return out;
}

// The nodes' relation marks: u upstream, d downstream, n none.
inline std::string relations(const Nodes& nodes) {
    std::string out;
    for (const Node* n : nodes)
        out += "und"[n->relation == relation_upstream     ? 0
                     : n->relation == relation_downstream ? 2
                                                          : 1];
    return out;
}

// A node and its current children down to the end of the chain.
inline Nodes path(Node* n) {
    Nodes out;
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
        set_batch_mode(0), set_batch_abort(false);
    }
    void TearDown() override {
        EXPECT_TRUE(links_consistent());
        close_all_images();
        set_batch_mode(0), set_batch_abort(false);
        install_engine();
        EXPECT_TRUE(tree_root().children.empty() && current_node() == nullptr);
    }

    // A top level image holding a 2 x 2 gray picture of one value.
    Node* top(const char* caption, std::uint8_t value = 10) {
        Node* n = create_top_level_image(false, false, 0, 0, bypass_none, caption, false);
        n->name = caption;
        n->command_line = "file_open";
        EXPECT_FALSE(image_alloc(n->image, image_gray8, 2, 2, 72.0));
        fill(n->image, value);
        return n;
    }

    // A transformation after a node, with one extra input slot and one mask slot, already run.
    Node* step(Node* after, const char* caption, const char* command = "posterize") {
        Node* n = add_transformation_after(after, true, false, 1, 1, bypass_none, caption);
        n->command_line = command;
        (void)run_node(n->parent, n);
        return n;
    }

    Nodes chain(Node* after, const std::vector<const char*>& captions) {
        Nodes out;
        for (const char* c : captions) out.push_back(after = step(after, c));
        return out;
    }

    // Selects the nodes (and nothing else), so that a close, copy or snip acts on them.
    static void select_only(const Nodes& nodes) {
        clear_selection();
        for (Node* n : nodes) n->selected = true;
    }

    Strings questions() const { return scope.recorder.questions; }
    Strings errors() const { return scope.recorder.errors(); }
    Strings warnings() const { return scope.recorder.warnings(); }
    void forget_messages() {
        scope.recorder.messages.clear(), scope.recorder.questions.clear();
        scope.recorder.choices.clear(), run_log().clear();
    }

    RecordingScope scope;
};

}  // namespace tessaly::testing
