#include "tree/edit.h"

#include <gtest/gtest.h>

#include "tree_fixture.h"

namespace tessaly::testing {
namespace {

int autosaves = 0;

class Edit : public TreeTest {
  protected:
    // Messages and runs so far forgotten, autosaves counted from here.
    void start() {
        forget_messages();
        autosaves = 0;
        set_workspace_hooks([] { ++autosaves; }, nullptr);
    }
};

const std::string check_note =
    "\n\nCheck for transformations such as retouching tools or masks that may not work as "
    "intended.";

TEST_F(Edit, MovesUpAndDownTheChainAndThroughSplitters) {
    Node* t = top("t", 10);
    auto c = chain(t, {"A", "B", "C"});
    start();
    ASSERT_FALSE(move_down(c[0]));
    EXPECT_EQ(path(t), (Nodes{t, c[1], c[0], c[2]}));
    EXPECT_EQ(run_log(), (Nodes{c[1], c[0], c[2]}));
    ASSERT_FALSE(move_down(c[0]));  // to the end of the chain
    ASSERT_FALSE(move_up(c[2]));
    EXPECT_EQ(path(t), (Nodes{t, c[2], c[1], c[0]}));
    EXPECT_EQ(autosaves, 3);
    // The first node of a branch moves above the whole splitter; moving it down again asks
    // which branch to enter, and Cancel changes nothing.
    Node* s = add_splitter(c[0], 2);
    Node *x = step(s->children[0], "X"), *y = step(s->children[1], "Y");
    ASSERT_FALSE(move_up(y));
    EXPECT_EQ(path(c[0]), (Nodes{c[0], y, s, s->children[0], x}));
    EXPECT_TRUE(s->children[1]->children.empty() && pixel(x) == 15);  // t, C, B, A, Y, X
    forget_messages();
    EXPECT_TRUE(move_down(y));
    EXPECT_TRUE(scope.recorder.choices == Strings{"Move to:: Move to:"} && y->children == Nodes{s});
    scope.recorder.choice_answers = {0, 1};
    ASSERT_FALSE(move_down(y));
    EXPECT_EQ(path(s), (Nodes{s, s->children[0], y, x}));
    ASSERT_FALSE(move_up(y));
    ASSERT_FALSE(move_down(y));  // into the empty branch, which becomes current
    EXPECT_EQ(path(s), (Nodes{s, s->children[1], y}));
    EXPECT_TRUE(pixel(x) == 14 && errors().empty());
}

TEST_F(Edit, MoveRefusalsAndUndo) {
    Node* t = top("t");
    auto c = chain(t, {"A", "B"});
    Node* s = add_splitter(c[1], 2);
    Node* x = step(s->children[0], "X");
    // o1 takes A as input, and B's mask is drawn on o1: B uses A other than as its parent.
    Node* o1 = step(top("o"), "o1");
    o1->inputs[0] = c[0];
    c[1]->masks[0]->source = o1;
    forget_messages();
    Nodes before = all_nodes();
    for (Node* n : {t, s, s->children[0], x, c[0]}) EXPECT_TRUE(move_down(n));
    for (Node* n : {s, t, c[0], c[1]}) EXPECT_TRUE(move_up(n));
    EXPECT_EQ(
        errors(),
        (Strings{"Cannot move a top level image down", "Cannot move a side branch or splitter down",
                 "Cannot move a side branch or splitter down",
                 "Cannot move last image in a branch down",
                 "Moving image up would generate a circular reference",
                 "Cannot move a side branch or splitter up", "Cannot move a top level image up",
                 "Cannot move an image up to top level",
                 "Moving image up would generate a circular reference"}));
    EXPECT_EQ(all_nodes(), before);
    // A cycle elsewhere (o1's mask drawn on o2, below it) stops every re-run: the move is put
    // back.
    c[1]->masks[0]->source = nullptr;
    o1->masks[0]->source = step(o1, "o2");
    EXPECT_TRUE(check_cycles());
    EXPECT_TRUE(o1->in_cycle && !t->in_cycle);
    forget_messages();
    before = all_nodes();
    EXPECT_TRUE(move_down(c[0]) && move_up(c[1]));
    EXPECT_EQ(errors(), Strings(2, "Circular reference would be created by move"));
    EXPECT_TRUE(all_nodes() == before && run_log().empty() &&
                path(t) == (Nodes{t, c[0], c[1], s, s->children[0], x}));
    o1->masks[0]->source = nullptr;
    EXPECT_FALSE(check_cycles());
}

TEST_F(Edit, SizeDependentMovesWarn) {
    auto c = chain(top("t"), {"A", "Retouch", "Resize"});
    Node* retouch = c[1];
    retouch->size_specific = true, c[2]->same_size = false;
    forget_messages();
    ASSERT_FALSE(move_down(retouch));  // now below Resize
    ASSERT_FALSE(move_up(retouch));    // Retouch itself keeps the size: no warning
    ASSERT_FALSE(move_up(c[2]));       // Resize now changes what Retouch was made for
    // A mask started from a stored mask image depends on the size as well.
    retouch->size_specific = false;
    ASSERT_FALSE(move_up(retouch) || move_down(retouch));
    ASSERT_FALSE(image_alloc(retouch->masks[0]->initial_image, image_gray8, 2, 2, 72.0));
    ASSERT_FALSE(move_up(retouch) || move_down(retouch));
    const std::string current =
        "The current image depends on the size of the previous image." + check_note;
    EXPECT_EQ(
        warnings(),
        (Strings{current, "The next image depends on the size of the current image." + check_note,
                 current}));
}

TEST_F(Edit, MoveLeftAndRight) {
    Node *a = top("a"), *b = top("b"), *c = top("c"), *a1 = step(a, "a1");
    Node* s = add_splitter(a1, 3);
    Node* b3 = s->children[2];
    forget_messages();
    tree_root().current_child = 0;
    ASSERT_FALSE(move_right(a) || move_left(c));
    // The current child is still a.
    EXPECT_TRUE(tree_root().children == (Nodes{b, c, a}) && tree_root().current_child == 2);
    ASSERT_FALSE(move_left(b3));
    EXPECT_EQ(s->children[1], b3);
    for (Node* n : {b, s->children[0], a1}) EXPECT_TRUE(move_left(n));
    EXPECT_TRUE(move_right(a) && move_right(a1) && move_left(nullptr));
    EXPECT_EQ(errors(),
              (Strings{"Image is already at far left", "Image is already at far left",
                       "Image cannot be moved left", "Image is already at far right",
                       "Image cannot be moved left", "Cannot move root node of image tree"}));
    EXPECT_TRUE(run_log().empty());
}

TEST_F(Edit, ClosingOneNode) {
    Node* t = top("t", 10);
    auto c = chain(t, {"A", "B", "C", "D"});
    Node* o = top("o", 50);
    auto oc = chain(o, {"o1", "o2"});
    oc[0]->masks[0]->source = c[0];
    oc[1]->inputs[0] = c[1];
    start();
    // A is a mask source elsewhere: Cancel on the warning keeps everything.
    const std::string invalidate =
        "Warning: Closing this transformation will invalidate one or more inputs or masks in "
        "other transformations.";
    select_only({c[0]});
    scope.recorder.answers = {Answer::cancel, Answer::ok, Answer::ok};
    EXPECT_TRUE(close_selected());
    EXPECT_EQ(path(t).size(), 5u);
    set_current_node(c[0], -1);
    ASSERT_FALSE(close_selected());
    EXPECT_EQ(questions(),
              (Strings{invalidate, invalidate, "Confirm: Close selected transformation?"}));
    EXPECT_EQ(path(t), (Nodes{t, c[1], c[2], c[3]}));
    EXPECT_TRUE(current_node() == t && oc[0]->masks[0]->source == nullptr && autosaves == 1);
    // B and C re-ran on t; o2 after B, with B as its input.
    EXPECT_TRUE(pixel(c[2]) == 12 && pixel(oc[1]) == pixel(oc[0]) + 1 + 11 &&
                run_position(c[1]) < run_position(oc[1]));
    for (Node* n : all_nodes()) EXPECT_FALSE(n->selected || n->relation != relation_none);
    // C is used by nobody but its child; bypassed, closing it re-runs nothing.
    forget_messages();
    c[2]->bypass = bypass_user;
    select_only({c[2]});
    ASSERT_FALSE(close_selected());
    EXPECT_EQ(path(t), (Nodes{t, c[1], c[3]}));
    EXPECT_FALSE(close_selected());  // nothing selected, nothing asked
    EXPECT_TRUE(questions() == Strings{"Confirm: Close selected transformation?"} &&
                run_log().empty());
    // Closing the top level image only changes o2's input (B lies below it).
    forget_messages();
    select_only({t});
    scope.recorder.answers = {Answer::ok, Answer::ok};
    ASSERT_FALSE(close_selected());
    EXPECT_EQ(questions(), (Strings{"Warning: Closing this transformation will change one or more "
                                    "inputs or masks in other transformations.",
                                    "Warning: Closing a top level transformations closes all the "
                                    "transformations below it."}));
    EXPECT_TRUE(tree_root().children == Nodes{o} && pixel(oc[1]) == pixel(oc[0]) + 1);
    select_only({top("lone")});
    ASSERT_FALSE(close_selected());
    EXPECT_EQ(questions().back(), "Confirm: Close selected transformations?");
}

TEST_F(Edit, ClosingSeveral) {
    Node* t = top("t", 10);
    auto c = chain(t, {"A", "B", "C", "D"});
    Node* o = top("o");
    Node* o1 = step(o, "o1");
    o1->inputs[0] = c[3];
    forget_messages();
    const std::string confirm = "Confirm: Close 2 selected transformations?",
                      warning =
                          "Warning: Closing the selected transformations will invalidate or "
                          "change one or more inputs or masks in other transformations.";
    scope.recorder.answers = {Answer::ok, Answer::cancel, Answer::ok, Answer::ok};
    select_only({c[0], c[2]});
    EXPECT_TRUE(close_selected());
    EXPECT_EQ(all_nodes().size(), 7u);
    select_only({c[0], c[2]});
    ASSERT_FALSE(close_selected());
    EXPECT_EQ(questions(), (Strings{confirm, warning, confirm, warning}));
    // o1 after D re-ran.
    EXPECT_TRUE(path(t) == (Nodes{t, c[1], c[3]}) && pixel(o1) == pixel(o) + 1 + 12);
    // Only top level images: everything closes after the question about saving; saving is not
    // possible yet, so Yes keeps the images.
    forget_messages();
    select_only({t, o});
    scope.recorder.answers = {Answer::cancel, Answer::yes, Answer::no};
    EXPECT_TRUE(close_selected() && close_selected());
    EXPECT_TRUE(errors() == Strings{"Workspace files are not built yet"} &&
                tree_root().children.size() == 2u);
    ASSERT_FALSE(close_selected());
    EXPECT_EQ(questions(),
              Strings(3, "Confirm: Save current workspace before closing all images?"));
    EXPECT_TRUE(tree_root().children.empty());
}

TEST_F(Edit, CopyNode) {
    Node* t = top("t", 10);
    auto c = chain(t, {"A", "B"});
    Node *o = top("o", 40), *p = top("p", 5), *src = step(o, "Src");
    src->inputs[0] = p;
    src->input_captions[0] = "Border";
    MaskSettings& mask = *src->masks[0];
    mask.source = o, mask.command_line = "mask 1", mask.initial_level = 7;
    ASSERT_FALSE(image_alloc(mask.image, image_gray8, 3, 3, 72.0));
    src->bypass = bypass_user, src->size_specific = true;  // bypass: creation's value is copied
    forget_messages();
    Node* copy = nullptr;
    ASSERT_FALSE(copy_node(src, c[0], true, &copy));
    EXPECT_EQ(path(t), (Nodes{t, c[0], copy, c[1]}));
    EXPECT_TRUE(copy->serial != src->serial && copy->caption == "Src" &&
                copy->command_line == src->command_line && copy->bypass == bypass_none &&
                copy->size_specific);
    EXPECT_TRUE(copy->inputs == Nodes{p} && copy->input_captions == Strings{"Border"});
    const MaskSettings& copied = *copy->masks[0];
    EXPECT_TRUE(copied.source == o && copied.command_line == "mask 1" && copied.initial_level == 7);
    EXPECT_TRUE(image_equal(copied.image, mask.image) && copied.image.rows != mask.image.rows);
    EXPECT_TRUE(run_log() == (Nodes{copy, c[1]}) && pixel(copy) == 11 + 1 + 5 + 40 &&
                pixel(c[1]) == 58);
    // A copy that would take an image below itself as input is removed again.
    src->inputs[0] = c[1];
    EXPECT_TRUE(copy_node(src, c[0], true, &copy));
    EXPECT_TRUE(copy == nullptr && path(t).size() == 4u && !check_cycles());
    Node* s = add_splitter(c[1], 2);
    EXPECT_TRUE(copy_node(s, t, false) && copy_node(s->children[0], t, false));
    EXPECT_TRUE(copy_node(c[0], nullptr, false));
    EXPECT_EQ(errors(), (Strings{"Circular reference created", "Cannot copy splitters or branches",
                                 "Cannot copy splitters or branches", "Error copying image"}));
}

TEST_F(Edit, CopySelected) {
    Node* t = top("t", 10);
    auto c = chain(t, {"A", "B", "C"});
    Node* o = top("o", 100);
    Node* o1 = step(o, "o1");
    start();
    select_only(c);
    set_current_node(o, -1);
    scope.recorder.answers = {Answer::cancel};
    EXPECT_TRUE(copy_selected(true) && path(o) == (Nodes{o, o1}));
    ASSERT_FALSE(copy_selected(true));
    Nodes copies = path(o);
    ASSERT_EQ(copies.size(), 5u);
    EXPECT_TRUE(copies[1]->caption + copies[3]->caption == "AC" &&
                run_log() == (Nodes{copies[1], copies[2], copies[3], o1}) && pixel(o1) == 104 &&
                autosaves == 1);
    select_only({c[1]});
    set_current_node(o1, -1);
    ASSERT_FALSE(copy_selected(true));
    EXPECT_EQ(path(o1)[1]->caption, "B");
    // A chain from a top level image becomes a new top level tree.
    select_only({t, c[0]});
    ASSERT_FALSE(copy_selected(true));
    ASSERT_EQ(tree_root().children.size(), 3u);
    Nodes new_tree = path(tree_root().children[2]);
    ASSERT_EQ(new_tree.size(), 2u);
    EXPECT_EQ(new_tree[0]->caption + new_tree[1]->caption, "tA");
    EXPECT_EQ(questions(), (Strings{"Confirm: Copy 3 selected transformations?",
                                    "Confirm: Copy 3 selected transformations?",
                                    "Confirm: Copy selected transformation?",
                                    "Confirm: Top level transformations must be copied to a new "
                                    "branch.\n\nCopy to new branch?"}));
}

TEST_F(Edit, CopySelectedRefusals) {
    auto c = chain(top("t"), {"A", "B", "C"});
    Node* s = add_splitter(c[2], 2);
    Node *x = step(s->children[0], "X"), *y = step(s->children[1], "Y");
    forget_messages();
    EXPECT_TRUE(copy_selected(true));
    select_only({x, y});
    EXPECT_TRUE(copy_selected(true));
    EXPECT_FALSE(x->selected);  // the selection is cleared
    select_only({c[0], x});     // a splitter lies between them
    EXPECT_TRUE(copy_selected(true));
    // Selection, then destination.
    for (auto [chosen, destination] : std::vector<std::pair<Node*, Node*>>{{c[1], s},
                                                                           {s->children[1], s},
                                                                           {s->children[1], c[0]},
                                                                           {c[0], nullptr},
                                                                           {c[0], c[2]}}) {
        select_only({chosen});
        set_current_node(destination, -1);
        EXPECT_TRUE(copy_selected(true));
    }
    EXPECT_EQ(errors(), (Strings{"No selected transformations",
                                 "All selected transformations must be on the same branch.",
                                 "All selected transformations must be on the same branch.",
                                 "Only a side branch can be copied to a splitter.",
                                 "Copying a side branch to a splitter not implemented yet.",
                                 "A side branch can only be copied to a splitter.",
                                 "No destination selected for copy.",
                                 "Copy would create circular references."}));  // A lies above C
    EXPECT_TRUE(questions().empty() && run_log().empty());
}

TEST_F(Edit, SnipChecksTheSelection) {
    Node* t = top("t");
    auto c = chain(t, {"A", "B"});
    Node* s = add_splitter(c[1], 2);
    Node *x = step(s->children[0], "X"), *y = step(s->children[1], "Y");
    Node* plain = add_transformation_after(x, true, false, 0, 0, bypass_none, "Plain");
    plain->command_line = "posterize";
    forget_messages();
    EXPECT_TRUE(snip_selected());
    for (Nodes chosen : {Nodes{t}, Nodes{x, y}, Nodes{c[1], s}, Nodes{x, plain}}) {
        select_only(chosen);
        EXPECT_TRUE(snip_selected());
    }
    EXPECT_EQ(errors(), (Strings{"No images selected", "Cannot snip top level images",
                                 "All selected images must be on the same branch",
                                 "Snippets may not include splitters or branches",
                                 "Snippet files are not built yet"}));
    EXPECT_EQ(warnings(),
              Strings{"X transformation has one or more auxiliary inputs that will ignored"});
}

}  // namespace
}  // namespace tessaly::testing
