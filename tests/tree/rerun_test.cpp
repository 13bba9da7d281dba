#include <gtest/gtest.h>

#include "tree_fixture.h"

namespace tessaly::testing {
namespace {

using Rerun = TreeTest;

// b: B(20) -> b1 (input a2) -> b2 (mask on a3)     (created first, so walked first)
// a: A(10) -> a1 -> a2 -> a3
// c: C(30) -> c1 (input b2) -> c2
// d: D(40) -> d1 (input A, which is upstream of a1)
class RerunForest : public TreeTest {
  protected:
    void SetUp() override {
        TreeTest::SetUp();
        B = top("B", 20), b1 = step(B, "b1"), b2 = step(b1, "b2");
        A = top("A", 10), a1 = step(A, "a1"), a2 = step(a1, "a2"), a3 = step(a2, "a3");
        C = top("C", 30), c1 = step(C, "c1"), c2 = step(c1, "c2");
        D = top("D", 40), d1 = step(D, "d1");
        b1->inputs[0] = a2, b2->masks[0]->source = a3, c1->inputs[0] = b2, d1->inputs[0] = A;
        forget_messages();
    }
    Node *A, *a1, *a2, *a3, *B, *b1, *b2, *C, *c1, *c2, *D, *d1;
};

// Each x ran before its y.
void expect_order(const std::vector<std::pair<Node*, Node*>>& pairs) {
    for (auto [x, y] : pairs) {
        EXPECT_LT(run_position(x), run_position(y)) << x->caption << " before " << y->caption;
    }
}

TEST_F(RerunForest, DependantsRunOnceEachAfterAllTheirSources) {
    fill(a1->image, 50);  // as if a dialog had just given a1 a new result
    ASSERT_FALSE(rerun_downstream(a1, true));
    EXPECT_TRUE(a1->modified && !rerun_in_progress());
    EXPECT_EQ(run_log().size(), 6u);  // each of a2, a3, b1, b2, c1, c2 once (the values show)
    expect_order({{a2, a3}, {a2, b1}, {b1, b2}, {a3, b2}, {b2, c1}, {c1, c2}});
    // Every result was computed from current sources: main + 1 + extra inputs + mask sources.
    EXPECT_EQ(values({a2, a3, b1, b2, c1, c2}),
              std::vector<int>({51, 52, 20 + 1 + 51, 72 + 1 + 52, 30 + 1 + 125, 157}));
    EXPECT_TRUE(errors().empty());
    // Relation marks follow inputs and mask sources both ways: a3 is upstream of b2 through its
    // mask, c1 downstream of it through its input.
    select_node(b2);
    EXPECT_EQ(relations({A, a1, a2, a3, B, b1, c1, c2, D, d1}), "uuuuuuddnn");
    select_node(a3);
    EXPECT_EQ(relations({a2, a3, b1, b2, c1}), "unndd");
    // The same re-run through relation marks.
    run_log().clear();
    select_node(a1);
    EXPECT_FALSE(rerun_marked());
    EXPECT_EQ(run_log().size(), 6u);
    expect_order({{a2, b1}, {a3, b2}, {b2, c1}, {c1, c2}});
    EXPECT_EQ(relations(all_nodes()), std::string(all_nodes().size(), 'n'));
}

TEST_F(RerunForest, AFailureReachesTheChainAsBadInputImage) {
    a1->command_line = "posterize fail";
    ASSERT_FALSE(rerun_downstream(A, false));
    EXPECT_TRUE(a1->error && a1->error_text == "Test failure" && a1->image.width == 2u);
    for (Node* n : {a2, a3})
        EXPECT_TRUE(n->error && n->error_text == "Bad input image" && !run_count(n)) << n->caption;
    EXPECT_EQ(values({a1, a2, a3}), std::vector<int>({0, 0, 0}));  // shown cleared
    // An extra input that failed is the transformation's business: b1 still runs; d1 takes A.
    EXPECT_TRUE(run_count(b1) == 1 && !b1->error && run_count(d1) == 1 && errors().empty());
    // Fixed again: the errors clear.
    a1->command_line = "posterize";
    ASSERT_FALSE(rerun_downstream(A, false));
    for (Node* n : {a1, a2, a3}) EXPECT_TRUE(!n->error && n->error_text.empty()) << n->caption;
    EXPECT_EQ(pixel(a3), 13);
    // A bypassed node passes its input on and does not fail after a failed one; its child does.
    fill(a1->image, 50);
    a2->bypass = bypass_user;
    run_log().clear();
    ASSERT_FALSE(rerun_downstream(a1, false));
    // b1 sees a1's image through a2.
    EXPECT_TRUE(run_count(a2) == 0 &&
                values({a2, a3, b1}) == std::vector<int>({50, 51, 20 + 1 + 50}));
    a1->command_line = "posterize fail";
    ASSERT_FALSE(rerun_downstream(A, false));
    EXPECT_TRUE(!a2->error && a3->error_text == "Bad input image");
}

TEST_F(Rerun, RunNodeReportsWhatCannotRun) {
    Node* t = top("t");
    Node* a = add_transformation_after(t, true, false, 0, 0, bypass_none, "A");
    EXPECT_TRUE(run_node(t, a));
    a->command_line = "nonesuch 1 2";
    EXPECT_TRUE(run_node(t, a) && a->error && !a->running);
    EXPECT_EQ(errors(), (Strings{"Internal error: no command line", "No such command: nonesuch"}));
    a->command_line = "posterize";
    EXPECT_FALSE(run_node(t, a) || a->error || a->needs_run || a->running);
    EXPECT_EQ(pixel(a), 11);
    // A top level image runs without input; splitters and branches are never run.
    Node* n = create_top_level_image(false, false, 0, 0, bypass_none, "new", false);
    n->command_line = "posterize";
    EXPECT_FALSE(run_node(n->parent, n));
    EXPECT_EQ(pixel(n), 100);
    Node* s = add_splitter(a, 2);
    run_log().clear();
    EXPECT_FALSE(run_node(a, s) || run_node(s, s->children[0]));
    EXPECT_TRUE(run_log().empty());
}

struct BreakpointDialog : DialogHandle {
    Node* node = nullptr;
    bool abort_batch = false;
    int waits = 0, cancels = 0, inputs = 0;
    Node* input = nullptr;
    void raise() override {}
    void wait_until_closed() override {
        ++waits;
        if (abort_batch) {
            set_batch_abort(true);
        } else {
            node->dialog = nullptr;  // the user pressed OK
        }
    }
    void cancel() override {
        ++cancels;
        node->dialog = nullptr;
    }
    void input_changed(Node* in) override { ++inputs, input = in; }
};

BreakpointDialog* breakpoint_dialog = nullptr;

std::uint8_t open_breakpoint_dialog(Node* node, const ArgumentList*) {
    breakpoint_dialog->node = node;
    node->dialog = breakpoint_dialog;
    return 0;
}

TEST_F(Rerun, BatchAbortAndBreakpoints) {
    Node* t = top("t");
    Node* a = step(t, "A");
    forget_messages();
    // The abort flag counts only during a batch.
    set_batch_abort(true);
    EXPECT_FALSE(run_node(t, a));
    set_batch_mode(1);
    EXPECT_TRUE(run_node(t, a) && run_count(a) == 1);
    set_batch_abort(false);
    // A breakpoint on a transformation without a dialog waits for an answer: OK goes on,
    // Cancel stops the batch before the node runs.
    a->breakpoint = true;
    a->caption = "Step A";
    EXPECT_FALSE(run_node(t, a));
    scope.recorder.answers = {Answer::cancel};
    EXPECT_TRUE(run_node(t, a) && batch_abort() && run_count(a) == 2);
    EXPECT_EQ(questions(),
              Strings(2, "Breakpoint: Breakpoint: Step A\n\nPress OK to continue, Cancel to stop"));
    set_batch_abort(false);
    // With a dialog the batch waits until it closes, then runs the node.
    BreakpointDialog dialog;
    breakpoint_dialog = &dialog;
    install_transformation("blur", recording_run, open_breakpoint_dialog);
    a->command_line = "blur";
    EXPECT_FALSE(run_node(t, a));
    EXPECT_TRUE(dialog.waits == 1 && run_count(a) == 3 && !a->dialog);
    // Aborted while waiting: the dialog is cancelled and the node is not run.
    dialog.abort_batch = true;
    EXPECT_TRUE(run_node(t, a));
    EXPECT_TRUE(dialog.cancels == 1 && run_count(a) == 3 && !a->running);
    set_batch_abort(false);
    // No stop when bypassed, or in the batch mode that asks after each file.
    a->bypass = bypass_user;
    EXPECT_FALSE(run_node(t, a));
    a->bypass = bypass_none;
    set_batch_mode(2);
    EXPECT_FALSE(run_node(t, a));
    EXPECT_TRUE(dialog.waits == 2 && run_count(a) == 4);
    // A node whose dialog is open is handed the new input and re-runs itself.
    set_batch_mode(0);
    dialog.node = a;
    a->dialog = &dialog;
    EXPECT_FALSE(run_node(t, a));
    EXPECT_TRUE(dialog.inputs == 1 && dialog.input == t && run_count(a) == 4);
    EXPECT_TRUE(a->needs_run && !a->running && errors().empty());
    a->dialog = nullptr;
}

}  // namespace
}  // namespace tessaly::testing
