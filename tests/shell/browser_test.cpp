// The Image Browser's layout rule and zoom steps, on snapshots taken from real trees.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <cmath>
#include <stdexcept>

#include "shell/browser_actions.h"
#include "shell/browser_layout.h"
#include "shell/image_browser.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly::shell {
namespace {

struct Forest {
    ~Forest() { close_all_images(); }
};

Node* chain_after(Node* parent, const char* caption) {
    return add_transformation_after(parent, true, false, 0, 0, bypass_none, caption);
}

const BrowserNode& by_caption(const BrowserSnapshot& s, const std::string& caption) {
    for (const BrowserNode& n : s.nodes) {
        if (n.caption == caption) return n;
    }
    throw std::runtime_error("no node " + caption);
}

TEST(Browser, ZoomStepsAndTheirLimits) {
    double f = 1.0;
    for (int i = 0; i < 4; ++i) f = zoom_in(f);
    EXPECT_NEAR(f, 2.0, 1e-12);
    EXPECT_EQ(zoom_out(0.11), 0.11);  // 0.0925 would pass the limit
    EXPECT_NEAR(zoom_out(0.2), 0.2 / 1.189207115002721, 1e-12);
    EXPECT_EQ(zoom_in(9.0), 9.0);  // 10.7 would pass the limit
    f = 1.0;
    for (int i = 0; i < 100; ++i) f = zoom_in(f);
    EXPECT_LT(f, 10.0);
    EXPECT_GT(f * 1.189207115002721, 10.0);
}

TEST(Browser, ChainsRunDownAndBranchesStandSideBySide) {
    Forest forest;
    Node* image = create_top_level_image(true, false, 0, 0, bypass_none, "photo", true);
    Node* a = chain_after(image, "a");
    Node* b = chain_after(a, "b");
    chain_after(b, "c");
    BrowserMetrics metrics;
    BrowserSnapshot s = snapshot_tree({});
    layout_browser(s, metrics);
    const QRect top = by_caption(s, "photo").box;
    EXPECT_EQ(top.topLeft(), QPoint(BrowserMetrics::margin, BrowserMetrics::margin));
    // One column, one row apart.
    const int row = by_caption(s, "a").box.top() - top.top();
    EXPECT_GT(row, top.height());
    for (const char* c : {"a", "b", "c"}) EXPECT_EQ(by_caption(s, c).box.left(), top.left());
    EXPECT_EQ(by_caption(s, "c").box.top(), top.top() + 3 * row);

    // A splitter with two branches after b: the branches side by side, the second starting at
    // the first's subtree width; the first holds c and a chain beside it of two columns.
    Node* splitter = add_splitter(b, 2);
    ASSERT_NE(splitter, nullptr);
    Node* branch1 = splitter->children[0];
    Node* branch2 = splitter->children[1];
    Node* inner = add_splitter(current_child(branch1), 2);  // after c: two more columns
    ASSERT_NE(inner, nullptr);
    chain_after(branch2, "d");
    s = snapshot_tree({});
    const QSize extent = layout_browser(s, metrics);
    const auto box_of = [&](Node* n) {
        for (const BrowserNode& bn : s.nodes) {
            if (bn.serial == n->serial) return bn.box;
        }
        return QRect();
    };
    const int column = box_of(branch1).width() + BrowserMetrics::gap;
    EXPECT_EQ(box_of(branch1).left(), top.left());
    EXPECT_EQ(box_of(branch1).top(), box_of(branch2).top());
    // Branch 1's subtree is two columns wide (the inner splitter's two branches).
    EXPECT_EQ(box_of(branch2).left(), top.left() + 2 * column);
    EXPECT_EQ(by_caption(s, "d").box.left(), box_of(branch2).left());
    EXPECT_EQ(extent.width(), top.left() + 3 * column + BrowserMetrics::margin);

    // Hidden thumbnails: every node shrinks to its caption line, the layout stays a tree.
    metrics.hide_images = true;
    layout_browser(s, metrics);
    EXPECT_EQ(by_caption(s, "a").box.height(), metrics.caption_height);
    EXPECT_EQ(by_caption(s, "a").box.top() - by_caption(s, "photo").box.top(),
              metrics.caption_height + BrowserMetrics::gap);
    EXPECT_EQ(box_of(branch2).left() - box_of(branch1).left(),
              2 * (box_of(branch1).width() + BrowserMetrics::gap));
}

TEST(Browser, TopLevelImagesStandSideBySideAndTheCurrentOneIsScrolledIntoView) {
    Forest forest;
    for (int i = 0; i < 12; ++i) {
        create_top_level_image(true, false, 0, 0, bypass_none, "image " + std::to_string(i), true);
    }
    Node* last = tree_root().children.back();
    set_current_node(last, -1);
    BrowserCanvas canvas;
    canvas.resize(400, 300);
    canvas.set_snapshot(snapshot_tree({}));
    const BrowserSnapshot& s = canvas.snapshot();
    ASSERT_EQ(s.top_level.size(), 12u);
    EXPECT_TRUE(s.nodes[s.current].current);
    for (std::size_t i = 1; i < s.top_level.size(); ++i) {
        EXPECT_GT(s.nodes[s.top_level[i]].box.left(), s.nodes[s.top_level[i - 1]].box.right());
        EXPECT_EQ(s.nodes[s.top_level[i]].box.top(), BrowserMetrics::margin);
    }
    // The current node, far to the right, is under the pointer at its place in the viewport.
    const QRect box = s.nodes[s.current].box;
    const QPoint in_view = box.center() - QPoint(canvas.horizontalScrollBar()->value(),
                                                 canvas.verticalScrollBar()->value());
    EXPECT_TRUE(canvas.viewport()->rect().contains(in_view));
    EXPECT_EQ(canvas.node_at(in_view), s.current);
    EXPECT_EQ(canvas.node_at(QPoint(1, 1)), -1);
}

}  // namespace
}  // namespace tessaly::shell

namespace tessaly::shell {
namespace {

std::vector<std::string> selected_captions() {
    std::vector<std::string> out;
    for (Node* n : all_nodes()) {
        if (n->selected) out.push_back(n->caption);
    }
    return out;
}

// A gray picture and two Inverts below it, each run: the second shows the picture again.
struct InvertChain {
    InvertChain() {
        top = create_top_level_image(true, false, 0, 0, bypass_none, "picture", true);
        EXPECT_FALSE(image_alloc(top->image, image_gray8, 5, 3, 100.0));
        for (std::uint32_t y = 0; y < 3; ++y) {
            for (std::uint32_t x = 0; x < 5; ++x) top->image.row(y)[x] = std::uint8_t(x * 40 + y);
        }
        first = add_transformation_after(top, true, false, 1, 0, bypass_none, "first");
        second = add_transformation_after(first, true, false, 1, 0, bypass_none, "second");
        for (Node* n : {first, second}) {
            n->command_line = "invert 0";
            EXPECT_FALSE(run_node(n->parent, n));
        }
    }
    ~InvertChain() { close_all_images(); }
    std::uint8_t shown(int x, int y) const {
        return effective_image_node(second)->image.row(std::uint32_t(y))[x];
    }
    Node* top;
    Node* first;
    Node* second;
};

TEST(BrowserSelection, ButtonsSelectTheirNodesAndDeselectThemWhenAllAre) {
    InvertChain chain;
    set_current_node(chain.first, -1);
    toggle_selection(BrowserAction::select_branch);
    EXPECT_EQ(selected_captions(), (std::vector<std::string>{"first", "second"}));
    toggle_selection(BrowserAction::select_upstream);
    EXPECT_EQ(selected_captions(), (std::vector<std::string>{"picture", "first", "second"}));
    toggle_selection(BrowserAction::select_downstream);  // all selected already: off
    EXPECT_EQ(selected_captions(), (std::vector<std::string>{"picture", "first"}));
    toggle_selection(BrowserAction::select_all);
    EXPECT_EQ(selected_captions().size(), 3u);
    toggle_selection(BrowserAction::select_all);
    EXPECT_TRUE(selected_captions().empty());
}

TEST(BrowserSelection, BypassOfTheSelectionReRunsWhatFollows) {
    InvertChain chain;
    EXPECT_EQ(chain.shown(3, 1), 121);
    chain.first->selected = true;
    chain.top->selected = true;  // a top level image has no bypass: left alone
    set_selected_bypass(true);
    EXPECT_EQ(chain.first->bypass, bypass_user);
    EXPECT_EQ(chain.top->bypass, bypass_none);
    EXPECT_EQ(chain.shown(3, 1), 255 - 121);  // the second Invert now works on the picture
    set_selected_bypass(false);
    EXPECT_EQ(chain.first->bypass, bypass_none);
    EXPECT_EQ(chain.shown(3, 1), 121);
}

}  // namespace
}  // namespace tessaly::shell
