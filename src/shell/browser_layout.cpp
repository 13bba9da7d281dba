#include "shell/browser_layout.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <unordered_map>

#include "framework/node.h"
#include "tree/tree.h"

namespace tessaly::shell {

namespace {
constexpr double zoom_step = 1.189207115002721;  // 2^(1/4)
}

int BrowserMetrics::thumbnail_side() const {
    return static_cast<int>(std::lround(base_thumbnail * zoom));
}

double zoom_in(double factor) {
    const double next = factor * zoom_step;
    return next >= 10.0 ? factor : next;
}

double zoom_out(double factor) {
    const double next = factor / zoom_step;
    return next <= 0.1 ? factor : next;
}

QSize layout_browser(BrowserSnapshot& snapshot, const BrowserMetrics& metrics) {
    const int side = metrics.hide_images ? 0 : metrics.thumbnail_side();
    const int own_width = std::max(side, 4 * metrics.caption_height) + metrics.gap;
    const int own_height = side + metrics.caption_height + metrics.gap;
    auto& nodes = snapshot.nodes;

    // Width of each subtree: the node's own width or the sum of its children's, the larger.
    std::vector<int> subtree(nodes.size(), -1);
    std::function<int(int)> width_of = [&](int i) {
        if (subtree[i] >= 0) return subtree[i];
        int children = 0;
        for (int c : nodes[i].children) children += width_of(c);
        return subtree[i] = std::max(own_width, children);
    };
    int right = 0;
    int bottom = 0;
    std::function<void(int, int, int)> place = [&](int i, int x, int y) {
        BrowserNode& node = nodes[i];
        node.box = QRect(x, y, own_width - metrics.gap, own_height - metrics.gap);
        right = std::max(right, x + own_width);
        bottom = std::max(bottom, y + own_height);
        // Every thumbnail box has the same height, so an extra input's thumbnail is never
        // taller than the node's own and the children start one row down.
        int cx = x;
        for (int c : node.children) {
            place(c, cx, y + own_height);
            cx += width_of(c);
        }
    };
    // The root is a point at (m, m): its children, the top level images, stand side by side.
    int x = BrowserMetrics::margin;
    for (int t : snapshot.top_level) {
        place(t, x, BrowserMetrics::margin);
        x += width_of(t);
    }
    return {right + BrowserMetrics::margin, bottom + BrowserMetrics::margin};
}

BrowserSnapshot snapshot_tree(const std::vector<std::pair<std::int32_t, QImage>>& thumbnails) {
    BrowserSnapshot snapshot;
    std::unordered_map<const Node*, int> index;
    std::unordered_map<std::int32_t, const QImage*> by_serial;
    for (const auto& [serial, image] : thumbnails) by_serial[serial] = &image;
    const Node* current = current_node();
    walk([&](Node* node) {
        index[node] = static_cast<int>(snapshot.nodes.size());
        BrowserNode b;
        b.serial = node->serial;
        b.caption = node->caption;
        b.splitter = is_splitter(node);
        b.current = node == current;
        b.relation = node->relation;
        b.selected = node->selected;
        b.modified = node->modified;
        b.saved = !node->saved_as_pathname.empty();
        b.editing = node->editing;
        b.bypassed = node->bypass == bypass_user;
        b.breakpoint = node->breakpoint;
        b.error = node->error;
        b.error_text = node->error_text;
        if (auto it = by_serial.find(node->serial); it != by_serial.end())
            b.thumbnail = *it->second;
        snapshot.nodes.push_back(std::move(b));
        if (node == current) snapshot.current = index[node];
        if (is_top_level(node)) {
            snapshot.top_level.push_back(index[node]);
        } else if (auto parent = index.find(node->parent); parent != index.end()) {
            snapshot.nodes[parent->second].children.push_back(index[node]);
        }
        return false;
    });
    // Extra inputs refer to nodes anywhere in the forest, so they are linked after the walk.
    for (const auto& [node, i] : index) {
        for (const Node* input : node->inputs) {
            if (auto it = index.find(input); it != index.end()) {
                snapshot.nodes[i].aux_inputs.push_back(it->second);
            }
        }
    }
    return snapshot;
}

}  // namespace tessaly::shell
