#include <gtest/gtest.h>

#include <string>

#include "core/format.h"
#include "tree/tree.h"
#include "tree_fixture.h"

namespace tessaly {
namespace {

using testing::kids;
using testing::TreeTest;
using Model = TreeTest;

// Takes a node, or a whole subtree, out of the forest and frees it.
void drop(Node* n) {
    ASSERT_FALSE(remove_node(n));
    destroy_node(n);
}
void drop_subtree(Node* n) {
    ASSERT_FALSE(remove_subtree(n));
    destroy_subtree(n);
}

TEST_F(Model, CreateInsertAndRemoveInAChain) {
    std::int32_t first = next_serial();
    std::string long_caption;
    for (int i = 0; i < 300; ++i) long_caption += "\u00e9";  // two bytes each
    Node* n = create_node(true, true, 2, 3, bypass_user, long_caption);
    EXPECT_EQ(n->serial, first);
    EXPECT_EQ(next_serial(), first + 1);
    ASSERT_EQ(n->mask_count(), 2);
    EXPECT_NE(n->masks[1], nullptr);
    EXPECT_EQ(character_count(n->caption), 255u);
    destroy_node(n);

    // A new transformation goes between a node and its child.
    Node* t = top("t");
    Node* c = add_transformation_after(t, true, false, 0, 0, bypass_none, "C");
    Node* a = add_transformation_after(t, true, false, 0, 0, bypass_none, "A");
    Node* b = add_transformation_after(a, true, false, 0, 0, bypass_none, "B");
    EXPECT_EQ(testing::path(t), (std::vector<Node*>{t, a, b, c}));
    EXPECT_EQ(c->parent, b);

    // Removing the middle node links the last to the first; removing the last empties it.
    drop(b);
    EXPECT_EQ(kids(a), std::vector<Node*>{c});
    EXPECT_EQ(c->parent, a);
    drop(c);
    EXPECT_EQ(a->current_child, -1);
    EXPECT_TRUE(errors().empty());

    // Broken trees are reported and left alone.
    std::int32_t serial = next_serial();
    t->current_child = -1;
    EXPECT_EQ(add_transformation_after(t, true, false, 0, 0, bypass_none, "X"), nullptr);
    EXPECT_EQ(current_child(t), nullptr);
    EXPECT_EQ(next_serial(), serial);
    t->current_child = 0;
    Node* orphan = create_node(false, false, 0, 0, bypass_none, "orphan");
    orphan->parent = a;
    EXPECT_TRUE(remove_node(orphan));
    orphan->parent = &tree_root();
    EXPECT_TRUE(remove_node(orphan));
    EXPECT_EQ(errors(), (std::vector<std::string>{"internal error - illegal current branch",
                                                  "internal error - illegal current branch",
                                                  "Missing branch back link",
                                                  "Cannot locate top level image to remove"}));
    EXPECT_EQ(kids(t), std::vector<Node*>{a});
    orphan->parent = nullptr;
    destroy_node(orphan);
}

TEST_F(Model, TopLevelImagesAndTheRootsCurrentIndex) {
    Node& root = tree_root();
    Node* a = top("a");
    EXPECT_EQ(root.current_child, 0);
    Node* b = top("b");
    Node* c = top("c");
    EXPECT_EQ(root.current_child, 2);  // incremented once per added image
    Node* d = create_node(false, false, 0, 0, bypass_none, "d");
    ASSERT_FALSE(add_top_level_image(d, true));
    EXPECT_EQ(root.current_child, 0);
    EXPECT_TRUE(is_top_level(d));

    // Removing: the index becomes the removed position, clamped to the last image.
    root.current_child = 3;
    drop(d);
    EXPECT_EQ(root.current_child, 2);
    drop(a);
    EXPECT_EQ(kids(&root), (std::vector<Node*>{b, c}));
    EXPECT_EQ(root.current_child, 0);
    drop(c);
    drop(b);
    EXPECT_EQ(root.current_child, -1);

    for (int i = 0; i < max_children; ++i) {
        ASSERT_NE(create_top_level_image(false, false, 0, 0, 0, "x", false), nullptr);
    }
    EXPECT_EQ(create_top_level_image(false, false, 0, 0, 0, "x", false), nullptr);
    EXPECT_EQ(errors(), std::vector<std::string>{"Too many top level images"});
    EXPECT_EQ(root.children.size(), 500u);
}

TEST_F(Model, SplittersBranchesAndRenumbering) {
    Node* t = top("t");
    Node* a = step(t, "A");
    Node* s = add_splitter(t, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->bypass, bypass_structural);
    ASSERT_EQ(s->children.size(), 3u);
    Node* b1 = s->children[0];
    Node* b2 = s->children[1];
    Node* b3 = s->children[2];
    EXPECT_EQ(b3->caption, "Branch 3");
    EXPECT_TRUE(is_side_branch(b1));
    // The former chain continues in the first branch; its effective input is unchanged.
    EXPECT_EQ(kids(b1), std::vector<Node*>{a});
    EXPECT_EQ(effective_image_node(a->parent), t);

    Node* b4 = add_branch(s);
    b4->caption = "Sky";
    Node* b5 = add_branch(s);
    b5->caption = "Branch 05";
    drop(b2);
    EXPECT_EQ(b3->caption, "Branch 2");
    EXPECT_EQ(b4->caption, "Sky");
    EXPECT_EQ(b5->caption, "Branch 05");
    EXPECT_EQ(b1->caption, "Branch 1");

    // A splitter left with one branch dissolves into that branch's chain.
    for (Node* b : {b3, b4, b5}) drop_subtree(b);
    dissolve_splitters();
    EXPECT_EQ(kids(t), std::vector<Node*>{a});
    EXPECT_EQ(a->parent, t);

    // With no branch left the splitter simply goes.
    Node* s2 = add_splitter(a, 2);
    for (Node* b : std::vector<Node*>(s2->children)) drop_subtree(b);
    dissolve_splitters();
    EXPECT_TRUE(a->children.empty());
    EXPECT_EQ(a->current_child, -1);
}

TEST_F(Model, EffectiveImagesAndInputs) {
    Node* t = top("t");
    auto c = chain(t, {"A", "B", "C", "D"});
    c[1]->bypass = bypass_user;
    EXPECT_EQ(effective_image_node(c[1]), c[0]);
    c[2]->bypass = bypass_user;
    EXPECT_EQ(effective_image_node(c[2]), c[0]);
    t->bypass = bypass_user;
    EXPECT_EQ(effective_image_node(t), t);
    EXPECT_EQ(effective_image_node(c[2]), c[0]);
    c[0]->bypass = bypass_user;
    EXPECT_EQ(effective_image_node(c[2]), t);

    c[3]->inputs[0] = c[2];
    EXPECT_EQ(effective_input(c[3], 0), t);
    EXPECT_TRUE(errors().empty());
    Node* plain = add_transformation_after(c[3], true, false, 0, 0, bypass_none, "Plain");
    EXPECT_EQ(effective_input(plain, 0), nullptr);
    EXPECT_EQ(errors(),
              std::vector<std::string>{"Internal error: illegal input for \"Plain\": index: 0"});
}

TEST_F(Model, WalkFindAndSubtreeQueries) {
    Node* a = top("Alpha.TIF");
    auto ca = chain(a, {"A1", "A2"});
    Node* s = add_splitter(ca[1], 2);
    Node* x = step(s->children[1], "X");
    Node* b = top("beta.jpg");
    Node* b1 = step(b, "B1");

    std::vector<Node*> order = all_nodes();
    EXPECT_EQ(order,
              (std::vector<Node*>{a, ca[0], ca[1], s, s->children[0], s->children[1], x, b, b1}));
    int visited = 0;
    EXPECT_TRUE(walk([&](Node* n) {
        ++visited;
        return n == s;
    }));
    EXPECT_EQ(visited, 4);
    EXPECT_FALSE(walk([](Node*) { return false; }));

    EXPECT_EQ(find_top_level_image("alpha.tif"), a);
    EXPECT_EQ(find_top_level_image("BETA.JPG"), b);
    EXPECT_EQ(find_top_level_image("beta"), nullptr);

    EXPECT_TRUE(is_in_subtree(x, ca[0]));
    EXPECT_TRUE(is_in_subtree(x, x));
    EXPECT_FALSE(is_in_subtree(ca[0], x));
    EXPECT_FALSE(is_in_subtree(a, a));  // never for a top level image
    EXPECT_FALSE(is_in_subtree(b1, a));
    EXPECT_EQ(child_position(s->children[1]), 1);
}

TEST_F(Model, RelationMarksFollowInputsAndMasksAcrossTrees) {
    // a: A -> a1 -> a2 -> a3;  b: B -> b1 (input a2);  c: C -> c1 (mask on b1) -> c2
    // a1 takes B as its mask source, so B is upstream of a2 while b1 is downstream.
    Node* a = top("a");
    auto ca = chain(a, {"a1", "a2", "a3"});
    Node* b = top("b");
    Node* b1 = step(b, "b1");
    Node* c = top("c");
    auto cc = chain(c, {"c1", "c2"});
    Node* d = top("d");
    b1->inputs[0] = ca[1];
    cc[0]->masks[0]->source = b1;
    ca[0]->masks[0]->source = b;

    select_node(ca[1]);
    EXPECT_EQ(ca[1]->relation, relation_none);
    for (Node* n : {a, ca[0], b}) EXPECT_EQ(n->relation, relation_upstream) << n->caption;
    for (Node* n : {ca[2], b1, cc[0], cc[1]}) {
        EXPECT_EQ(n->relation, relation_downstream) << n->caption;
    }
    for (Node* n : {c, d}) EXPECT_EQ(n->relation, relation_none) << n->caption;

    // A side branch: its chain is downstream, the splitter upstream.
    Node* s = add_splitter(cc[1], 2);
    Node* x = step(s->children[1], "x");
    select_node(s->children[1]);
    EXPECT_EQ(x->relation, relation_downstream);
    EXPECT_EQ(s->relation, relation_upstream);
    EXPECT_EQ(s->children[0]->relation, relation_none);
    clear_relation_marks();
    EXPECT_EQ(x->relation, relation_none);
}

TEST_F(Model, CycleThroughAMaskStopsEveryRerun) {
    Node* a = top("a");
    auto ca = chain(a, {"a1", "a2"});
    Node* b = top("b");
    Node* b1 = step(b, "b1");
    Node* e = top("e");
    Node* e1 = step(e, "e1");
    EXPECT_FALSE(check_cycles());
    // a1's mask is drawn on b1, and b1 takes a2 (below a1) as its input.
    b1->inputs[0] = ca[1];
    ca[0]->masks[0]->source = b1;
    testing::run_log().clear();
    EXPECT_TRUE(check_cycles());
    for (Node* n : {ca[0], ca[1], b1}) EXPECT_TRUE(n->in_cycle) << n->caption;
    for (Node* n : {a, b, e, e1}) EXPECT_FALSE(n->in_cycle) << n->caption;
    EXPECT_TRUE(rerun_downstream(a, false));
    EXPECT_TRUE(rerun_downstream(e, false));  // anywhere in the forest
    EXPECT_TRUE(testing::run_log().empty());
    EXPECT_FALSE(rerun_in_progress());
    ca[0]->masks[0]->source = nullptr;
    EXPECT_FALSE(check_cycles());
    EXPECT_FALSE(ca[0]->in_cycle);
}

struct Watcher : TreeObserver {
    std::vector<Node*> changed, destroyed;
    int refreshes = 0;
    void node_changed(Node* n, bool) override { changed.push_back(n); }
    void node_destroyed(Node* n) override { destroyed.push_back(n); }
    void refresh() override { ++refreshes; }
};

struct FakeDialog : DialogHandle {
    int closed = 0;
    void raise() override {}
    void close_without_running() override { ++closed; }
};

TEST_F(Model, FreeingNodesLeavesNoDanglingLinks) {
    Watcher watcher;
    add_tree_observer(&watcher);
    FakeDialog dialog;
    Node* a = top("a");
    Node* a1 = step(a, "a1");
    Node* b = top("b");
    Node* b1 = step(b, "b1");
    b1->inputs[0] = a1;
    b1->masks[0]->source = a;
    a1->dialog = &dialog;
    set_current_node(a1, 0);
    EXPECT_EQ(current_input_slot(), 0);

    drop_subtree(a);
    EXPECT_EQ(b1->inputs[0], nullptr);
    EXPECT_EQ(b1->masks[0]->source, nullptr);
    EXPECT_EQ(current_node(), nullptr);
    EXPECT_EQ(current_input_slot(), -1);
    EXPECT_EQ(dialog.closed, 1);
    EXPECT_EQ(watcher.destroyed, (std::vector<Node*>{a, a1}));

    // A failed node shows a cleared picture.
    watcher.changed.clear();
    b1->error = true;
    node_changed(b1, true);
    EXPECT_EQ(b1->image.width, 2u);
    EXPECT_EQ(testing::pixel(b1), 0);
    EXPECT_EQ(watcher.changed, std::vector<Node*>{b1});
    remove_tree_observer(&watcher);
}

}  // namespace
}  // namespace tessaly
