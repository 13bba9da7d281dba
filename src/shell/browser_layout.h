// The Image Browser's picture of the forest: one record per node (taken from the tree while the
// engine is idle, so drawing never reads the tree), and the layout rule that places them: a
// chain runs straight down, a splitter's branches stand side by side to its right.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {
struct Node;
}

namespace tessaly::shell {

struct BrowserNode {
    std::int32_t serial = 0;
    std::string caption;  // drawn as "%d - %s"
    bool splitter = false;
    bool current = false;
    std::int32_t relation = 0;  // 1 upstream of the current node, 2 downstream
    bool selected = false;
    bool modified = false;
    bool saved = false;
    bool editing = false;
    bool bypassed = false;
    bool closing = false;
    bool breakpoint = false;
    bool error = false;
    std::string error_text;
    QImage thumbnail;             // null when there is none (yet)
    std::vector<int> children;    // indices into the snapshot
    std::vector<int> aux_inputs;  // indices of the nodes its extra inputs show
    QRect box;                    // set by the layout: thumbnail and caption line
};

struct BrowserSnapshot {
    std::vector<BrowserNode> nodes;
    std::vector<int> top_level;  // the root's children
    int current = -1;
};

// Sizes of the layout; the thumbnail side is base_thumbnail x the zoom factor, rounded.
struct BrowserMetrics {
    double zoom = 1.0;
    bool hide_images = false;
    int caption_height = 18;
    static constexpr int base_thumbnail = 120;
    static constexpr int margin = 10;
    static constexpr int gap = 14;  // between neighbouring columns and rows

    int thumbnail_side() const;
};

// The zoom steps of the tool bar: times or divided by 2^(1/4), refused at 10 and at 0.1.
double zoom_in(double factor);
double zoom_out(double factor);

// Places every node (box) and returns the bounding extent, margins included.
QSize layout_browser(BrowserSnapshot& snapshot, const BrowserMetrics& metrics);

// The forest as it stands (called on the engine's side of the program, or while it is idle).
// Thumbnails are taken from `thumbnails` by serial number when given.
BrowserSnapshot snapshot_tree(const std::vector<std::pair<std::int32_t, QImage>>& thumbnails);

}  // namespace tessaly::shell
