#include <gtest/gtest.h>

#include <string>

#include "tree/run_node.h"
#include "tree/tree.h"
#include "tree_fixture.h"

namespace tessaly {
namespace {

using testing::pixel;
using testing::run_count;
using testing::run_log;
using testing::run_position;
using testing::TreeTest;
using Rerun = TreeTest;

// b: B(20) -> b1 (input a2) -> b2 (mask on a3)     (created first, so walked first)
// a: A(10) -> a1 -> a2 -> a3
// c: C(30) -> c1 (input b2) -> c2
// d: D(40) -> d1 (input A, which is upstream of a1)
struct Forest {
    Node *A, *a1, *a2, *a3, *B, *b1, *b2, *C, *c1, *c2, *D, *d1;
};

class RerunForest : public TreeTest {
  protected:
    Forest build() {
        Forest f{};
        f.B = top("B", 20);
        f.b1 = step(f.B, "b1");
        f.b2 = step(f.b1, "b2");
        f.A = top("A", 10);
        f.a1 = step(f.A, "a1");
        f.a2 = step(f.a1, "a2");
        f.a3 = step(f.a2, "a3");
        f.C = top("C", 30);
        f.c1 = step(f.C, "c1");
        f.c2 = step(f.c1, "c2");
        f.D = top("D", 40);
        f.d1 = step(f.D, "d1");
        f.b1->inputs[0] = f.a2;
        f.b2->masks[0]->source = f.a3;
        f.c1->inputs[0] = f.b2;
        f.d1->inputs[0] = f.A;
        forget_messages();
        return f;
    }
    // As if a dialog had just given a1 a new result.
    void edit_a1(Forest& f, std::uint8_t value) {
        for (std::uint32_t r = 0; r < 2; ++r) f.a1->image.rows[r][0] = value;
    }
};

TEST_F(RerunForest, DependantsRunOnceEachAfterAllTheirSources) {
    Forest f = build();
    edit_a1(f, 50);
    ASSERT_FALSE(rerun_downstream(f.a1, true));
    EXPECT_TRUE(f.a1->modified);
    EXPECT_FALSE(rerun_in_progress());

    for (Node* n : {f.a2, f.a3, f.b1, f.b2, f.c1, f.c2}) EXPECT_EQ(run_count(n), 1) << n->caption;
    EXPECT_EQ(run_log().size(), 6u);
    auto before = [](Node* x, Node* y) {
        EXPECT_LT(run_position(x), run_position(y)) << x->caption << " before " << y->caption;
    };
    before(f.a2, f.a3);
    before(f.a2, f.b1);
    before(f.b1, f.b2);
    before(f.a3, f.b2);
    before(f.b2, f.c1);
    before(f.c1, f.c2);

    // Every result was computed from current sources: main + 1 + extra inputs + mask sources.
    EXPECT_EQ(pixel(f.a2), 51);
    EXPECT_EQ(pixel(f.a3), 52);
    EXPECT_EQ(pixel(f.b1), 20 + 1 + 51);
    EXPECT_EQ(pixel(f.b2), 72 + 1 + 52);
    EXPECT_EQ(pixel(f.c1), 30 + 1 + 125);
    EXPECT_EQ(pixel(f.c2), 157);
    EXPECT_TRUE(errors().empty());

    // The same through relation marks.
    run_log().clear();
    select_node(f.a1);
    EXPECT_FALSE(rerun_marked());
    EXPECT_EQ(run_log().size(), 6u);
    before(f.a3, f.b2);
    before(f.b2, f.c1);
    for (Node* n : all_nodes()) EXPECT_EQ(n->relation, relation_none) << n->caption;
}

TEST_F(RerunForest, AFailureReachesTheChainAsBadInputImage) {
    Forest f = build();
    f.a1->command_line = "posterize fail";
    ASSERT_FALSE(rerun_downstream(f.A, false));
    EXPECT_TRUE(f.a1->error);
    EXPECT_EQ(f.a1->error_text, "Test failure");
    EXPECT_EQ(f.a1->image.width, 2u);  // shown cleared
    EXPECT_EQ(pixel(f.a1), 0);
    for (Node* n : {f.a2, f.a3}) {
        EXPECT_TRUE(n->error);
        EXPECT_EQ(n->error_text, "Bad input image");
        EXPECT_EQ(run_count(n), 0) << n->caption;
        EXPECT_EQ(pixel(n), 0);
    }
    // An extra input that failed is the transformation's business: b1 still runs.
    EXPECT_EQ(run_count(f.b1), 1);
    EXPECT_FALSE(f.b1->error);
    EXPECT_EQ(run_count(f.d1), 1);  // d1 takes A itself
    EXPECT_TRUE(errors().empty());

    // Fixed again: the errors clear.
    f.a1->command_line = "posterize";
    ASSERT_FALSE(rerun_downstream(f.A, false));
    for (Node* n : {f.a1, f.a2, f.a3}) {
        EXPECT_FALSE(n->error);
        EXPECT_TRUE(n->error_text.empty());
    }
    EXPECT_EQ(pixel(f.a3), 13);
}

TEST_F(RerunForest, BypassedNodesPassTheirInputOn) {
    Forest f = build();
    edit_a1(f, 50);
    f.a2->bypass = bypass_user;
    ASSERT_FALSE(rerun_downstream(f.a1, false));
    EXPECT_EQ(run_count(f.a2), 0);
    EXPECT_EQ(pixel(f.a2), 50);
    EXPECT_EQ(pixel(f.a3), 51);
    // b1 takes a2 as an input and sees a1's image through it.
    EXPECT_EQ(pixel(f.b1), 20 + 1 + 50);

    // A bypassed node after a failed one does not fail itself; its child does.
    f.a1->command_line = "posterize fail";
    ASSERT_FALSE(rerun_downstream(f.A, false));
    EXPECT_FALSE(f.a2->error);
    EXPECT_TRUE(f.a3->error);
    EXPECT_EQ(f.a3->error_text, "Bad input image");
}

TEST_F(Rerun, RunNodeReportsWhatCannotRun) {
    Node* t = top("t");
    Node* a = add_transformation_after(t, true, false, 0, 0, bypass_none, "A");
    EXPECT_TRUE(run_node(t, a));
    a->command_line = "nonesuch 1 2";
    EXPECT_TRUE(run_node(t, a));
    EXPECT_TRUE(a->error);
    EXPECT_FALSE(a->running);
    EXPECT_EQ(errors(), (std::vector<std::string>{"Internal error: no command line",
                                                  "No such command: nonesuch"}));

    a->command_line = "posterize";
    EXPECT_FALSE(run_node(t, a));
    EXPECT_FALSE(a->error || a->needs_run || a->running);
    EXPECT_EQ(pixel(a), 11);

    // A top level image runs without input; splitters and branches are never run.
    Node* n = create_top_level_image(false, false, 0, 0, bypass_none, "new", false);
    n->command_line = "posterize";
    EXPECT_FALSE(run_node(n->parent, n));
    EXPECT_EQ(pixel(n), 100);
    Node* s = add_splitter(a, 2);
    run_log().clear();
    EXPECT_FALSE(run_node(a, s));
    EXPECT_FALSE(run_node(s, s->children[0]));
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
    void input_changed(Node* in) override {
        ++inputs;
        input = in;
    }
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
    EXPECT_EQ(run_count(a), 1);
    set_batch_mode(1);
    EXPECT_TRUE(run_node(t, a));
    EXPECT_EQ(run_count(a), 1);
    set_batch_abort(false);

    // A breakpoint on a transformation without a dialog waits for an answer: OK goes on,
    // Cancel stops the batch before the node runs.
    a->breakpoint = true;
    a->caption = "Step A";
    EXPECT_FALSE(run_node(t, a));
    EXPECT_EQ(run_count(a), 2);
    ASSERT_EQ(scope.recorder.questions.size(), 1u);
    EXPECT_EQ(scope.recorder.questions[0],
              "Breakpoint: Breakpoint: Step A\n\nPress OK to continue, Cancel to stop");
    scope.recorder.answers = {Answer::cancel};
    EXPECT_TRUE(run_node(t, a));
    EXPECT_TRUE(batch_abort());
    EXPECT_EQ(run_count(a), 2);
    set_batch_abort(false);
    EXPECT_TRUE(errors().empty());

    // With a dialog the batch waits until it closes, then runs the node.
    BreakpointDialog dialog;
    breakpoint_dialog = &dialog;
    install_transformation("blur", testing::recording_run, open_breakpoint_dialog);
    a->command_line = "blur";
    EXPECT_FALSE(run_node(t, a));
    EXPECT_EQ(dialog.waits, 1);
    EXPECT_EQ(run_count(a), 3);
    EXPECT_EQ(a->dialog, nullptr);

    // Aborted while waiting: the dialog is cancelled and the node is not run.
    dialog.abort_batch = true;
    EXPECT_TRUE(run_node(t, a));
    EXPECT_EQ(dialog.cancels, 1);
    EXPECT_EQ(run_count(a), 3);
    EXPECT_FALSE(a->running);
    set_batch_abort(false);

    // No stop when bypassed, or in the batch mode that asks after each file.
    a->bypass = bypass_user;
    EXPECT_FALSE(run_node(t, a));
    a->bypass = bypass_none;
    set_batch_mode(2);
    EXPECT_FALSE(run_node(t, a));
    EXPECT_EQ(dialog.waits, 2);
    EXPECT_EQ(run_count(a), 4);

    // A node whose dialog is open is handed the new input and re-runs itself.
    set_batch_mode(0);
    dialog.node = a;
    a->dialog = &dialog;
    EXPECT_FALSE(run_node(t, a));
    EXPECT_EQ(dialog.inputs, 1);
    EXPECT_EQ(dialog.input, t);
    EXPECT_EQ(run_count(a), 4);
    EXPECT_TRUE(a->needs_run);
    EXPECT_FALSE(a->running);
    a->dialog = nullptr;
}

}  // namespace
}  // namespace tessaly
