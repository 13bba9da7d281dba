#include <gtest/gtest.h>

#include "core/format.h"
#include "tree_fixture.h"

namespace tessaly::testing {
namespace {

using Model = TreeTest;

// Takes a node, or a whole subtree, out of the forest and frees it.
void drop(Node* n, bool subtree = false) {
    ASSERT_FALSE(subtree ? remove_subtree(n) : remove_node(n));
    subtree ? destroy_subtree(n) : destroy_node(n);
}

TEST_F(Model, CreateInsertAndRemoveInAChain) {
    std::int32_t first = next_serial();
    std::string long_caption;
    for (int i = 0; i < 300; ++i) long_caption += "\u00e9";  // two bytes each
    Node* n = create_node(true, true, 2, 3, bypass_user, long_caption);
    EXPECT_TRUE(n->serial == first && next_serial() == first + 1 && n->mask_count() == 2 &&
                n->masks[1] && n->input_count() == 3 && character_count(n->caption) == 255u);
    destroy_node(n);
    // A new transformation goes between a node and its child; a node removed leaves its child
    // to its parent.
    Node* t = top("t");
    Node* c = add_transformation_after(t, true, false, 0, 0, bypass_none, "C");
    Node* a = add_transformation_after(t, true, false, 0, 0, bypass_none, "A");
    Node* b = add_transformation_after(a, true, false, 0, 0, bypass_none, "B");
    EXPECT_EQ(path(t), (Nodes{t, a, b, c}));
    drop(b);
    EXPECT_EQ(path(t), (Nodes{t, a, c}));
    drop(c);
    EXPECT_EQ(a->current_child, -1);
    // Broken trees are reported and left alone.
    std::int32_t serial = next_serial();
    t->current_child = -1;
    EXPECT_EQ(add_transformation_after(t, true, false, 0, 0, bypass_none, "X"), nullptr);
    EXPECT_TRUE(current_child(t) == nullptr && next_serial() == serial);
    t->current_child = 0;
    Node* orphan = create_node(false, false, 0, 0, bypass_none, "orphan");
    orphan->parent = a;
    EXPECT_TRUE(remove_node(orphan));
    orphan->parent = &tree_root();
    EXPECT_TRUE(remove_node(orphan) && t->children == Nodes{a});
    EXPECT_EQ(errors(),
              (Strings{"internal error - illegal current branch",
                       "internal error - illegal current branch", "Missing branch back link",
                       "Cannot locate top level image to remove"}));
    orphan->parent = nullptr;
    destroy_node(orphan);
}

TEST_F(Model, TopLevelImagesAndTheRootsCurrentIndex) {
    Node& root = tree_root();
    Node* a = top("a");
    EXPECT_EQ(root.current_child, 0);
    Node *b = top("b"), *c = top("c");
    EXPECT_EQ(root.current_child, 2);  // incremented once per added image
    Node* d = create_node(false, false, 0, 0, bypass_none, "d");
    ASSERT_FALSE(add_top_level_image(d, true));
    EXPECT_TRUE(root.current_child == 0 && is_top_level(d));
    // Removing: the index becomes the removed position, clamped to the last image.
    root.current_child = 3;
    drop(d);
    EXPECT_EQ(root.current_child, 2);
    drop(a);
    EXPECT_TRUE(root.children == (Nodes{b, c}) && root.current_child == 0);
    drop(c), drop(b);
    EXPECT_EQ(root.current_child, -1);
    for (int i = 0; i < max_children; ++i) {
        ASSERT_NE(create_top_level_image(false, false, 0, 0, 0, "x", false), nullptr);
    }
    EXPECT_TRUE(create_top_level_image(false, false, 0, 0, 0, "x", false) == nullptr &&
                root.children.size() == 500u);
    EXPECT_EQ(errors(), Strings{"Too many top level images"});
}

TEST_F(Model, SplittersBranchesAndRenumbering) {
    Node* t = top("t");
    Node* a = step(t, "A");
    Node* s = add_splitter(t, 3);
    ASSERT_EQ(s->children.size(), 3u);
    Node *b1 = s->children[0], *b2 = s->children[1], *b3 = s->children[2];
    EXPECT_TRUE(s->bypass == bypass_structural && is_side_branch(b1) && b3->caption == "Branch 3");
    // The former chain continues in the first branch; its effective input is unchanged.
    EXPECT_TRUE(b1->children == Nodes{a} && effective_image_node(a->parent) == t);
    Node *b4 = add_branch(s), *b5 = add_branch(s);
    b4->caption = "Sky", b5->caption = "Branch 05";
    drop(b2);
    EXPECT_EQ(b1->caption + b3->caption + b4->caption + b5->caption,
              "Branch 1Branch 2SkyBranch 05");
    // Closed, branches leave a splitter with one branch, which dissolves into that branch's
    // chain, or with none, which simply goes.
    select_only({b3, b4, b5});
    ASSERT_FALSE(close_selected());
    EXPECT_EQ(t->children, Nodes{a});
    select_only(add_splitter(a, 2)->children);
    ASSERT_FALSE(close_selected() || !a->children.empty());
    select_only({add_splitter(a, 2)});
    scope.recorder.answers = {Answer::ok};
    ASSERT_FALSE(close_selected() || !a->children.empty());
    EXPECT_EQ(questions(),
              (Strings{"Confirm: Close 3 selected transformations?",
                       "Confirm: Close 2 selected transformations?",
                       "Warning: Closing a splitter closes all the transformations below it."}));
}

TEST_F(Model, EffectiveImages) {
    Node* t = top("t");
    auto c = chain(t, {"A", "B", "C", "D"});
    c[1]->bypass = c[2]->bypass = t->bypass = bypass_user;
    EXPECT_TRUE(effective_image_node(c[1]) == c[0] && effective_image_node(c[2]) == c[0] &&
                effective_image_node(t) == t);
    c[0]->bypass = bypass_user;
    EXPECT_EQ(effective_image_node(c[2]), t);
}

TEST_F(Model, WalkOrderAndChildPosition) {
    Node* a = top("a");
    auto ca = chain(a, {"A1", "A2"});
    Node* s = add_splitter(ca[1], 2);
    Node* x = step(s->children[1], "X");
    Node* b = top("b");
    Node* b1 = step(b, "B1");
    EXPECT_EQ(all_nodes(), (Nodes{a, ca[0], ca[1], s, s->children[0], s->children[1], x, b, b1}));
    int visited = 0;
    EXPECT_TRUE(walk([&](Node* n) { return ++visited, n == s; }));
    EXPECT_EQ(visited, 4);
    EXPECT_FALSE(walk([](Node*) { return false; }));
    EXPECT_EQ(child_position(s->children[1]), 1);
}

struct Watcher : TreeObserver, DialogHandle {
    Nodes changed, destroyed;
    int closed = 0;
    void node_changed(Node* n, bool) override { changed.push_back(n); }
    void node_destroyed(Node* n) override { destroyed.push_back(n); }
    void raise() override {}
    void close_without_running() override { ++closed; }
};

TEST_F(Model, FreeingNodesLeavesNoDanglingLinks) {
    Watcher watcher;
    add_tree_observer(&watcher);
    Node *a = top("a"), *a1 = step(a, "a1"), *b1 = step(top("b"), "b1");
    b1->inputs[0] = a1;
    b1->masks[0]->source = a;
    a1->dialog = &watcher;
    set_current_node(a1, 0);
    EXPECT_EQ(current_input_slot(), 0);
    drop(a, true);
    EXPECT_TRUE(b1->inputs[0] == nullptr && b1->masks[0]->source == nullptr);
    EXPECT_TRUE(current_node() == nullptr && current_input_slot() == -1 && watcher.closed == 1 &&
                watcher.destroyed == (Nodes{a, a1}));
    // A failed node shows a cleared picture.
    watcher.changed.clear();
    b1->error = true;
    node_changed(b1, true);
    EXPECT_TRUE(b1->image.width == 2u && pixel(b1) == 0 && watcher.changed == Nodes{b1});
    remove_tree_observer(&watcher);
}

}  // namespace
}  // namespace tessaly::testing
