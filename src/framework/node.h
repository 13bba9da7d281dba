// The Image Tree Node record and the mask settings it holds. The record lives in the framework
// because the run contract of every transformation is written in terms of nodes; the forest and
// every operation on it (adding, removing, walking, re-running, editing) live in src/tree.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/image.h"

namespace tessaly {

struct Node;
// An open transformation dialog; the desktop program implements it.
class DialogHandle {
  public:
    virtual ~DialogHandle() = default;
    // Restores the window if minimised and brings it to the top.
    virtual void raise() = 0;

    // What the image tree tells an open dialog; a dialog overrides those it needs.
    virtual void input_changed(Node* /*input*/) {}
    virtual void children_changed() {}
    virtual void press_ok() {}
    virtual void cancel() {}
    // The node is being removed: close and forget it, without running anything.
    virtual void close_without_running() {}
    // Another node became current (deactivate) or this one did again (activate).
    virtual void deactivate() {}
    virtual void activate() {}
    // At a batch breakpoint: process window messages until the dialog closes; on a batch
    // abort the dialog cancels itself.
    virtual void wait_until_closed() {}
};

// One mask slot of a transformation node: the recipe (mask command line), the mask it built,
// the image it started from and its level, the source image it was drawn on.
struct MaskSettings {
    std::string command_line;
    Image image;
    Image initial_image;
    std::int32_t initial_level = 0;
    Node* source = nullptr;  // the node whose image the mask was built on (a mask source)
    // Which picture of the source it starts from: -1 its image, -99 its transparency, 0 and up
    // its mask of that number.
    std::int32_t initial_mask_index = -1;
    std::string source_name;
    std::int32_t base_input_index = -1;
    std::string caption;
    Image derived;                   // made from the built mask; discarded on every rebuild
    DialogHandle* dialog = nullptr;  // the open mask dialog, while the mask is edited
};

enum : std::uint32_t { node_image = 0, node_splitter = 1, node_side_branch = 2 };

// Bypass values: 0 normal, 1 bypassed by the user, 2 structural pass-through.
enum : std::int32_t { bypass_none = 0, bypass_user = 1, bypass_structural = 2 };

constexpr int max_children = 500;
constexpr std::size_t caption_capacity = 255;

struct Node {
    std::uint32_t kind = node_image;
    Node* parent = nullptr;
    std::int32_t current_child = -1;
    std::vector<Node*> children;  // at most max_children, in order
    std::vector<std::unique_ptr<MaskSettings>> masks;
    bool error = false;
    std::string error_text;
    std::optional<std::string> comment;
    Image image;
    Image transparency;
    std::vector<Node*> inputs;  // extra inputs; the main input is always the parent
    std::vector<std::string> input_captions;
    std::int32_t bypass = bypass_none;
    std::int32_t bypass_at_creation = bypass_none;
    bool same_size = false;
    bool size_specific = false;
    bool breakpoint = false;
    bool needs_run = false;
    // Scheduling marks of re-running and the relation mark of the selected node.
    bool queued = false;
    bool done = false;
    bool in_cycle = false;
    bool running = false;
    std::int32_t relation = 0;  // 0 none, 1 upstream, 2 downstream
    std::int32_t serial = 0;
    std::string name;
    std::string saved_as_pathname;
    std::string saved_on_date;
    bool modified = false;
    std::string associated_image_pathname;
    std::string associated_original_pathname;
    std::int32_t associated_number = -1;
    std::string caption;
    std::optional<std::string> command_line;
    DialogHandle* dialog = nullptr;
    bool editing = false;
    bool selected = false;  // the Image Browser's selection

    int mask_count() const { return static_cast<int>(masks.size()); }
    int input_count() const { return static_cast<int>(inputs.size()); }
};

// Relation marks.
enum : std::int32_t { relation_none = 0, relation_upstream = 1, relation_downstream = 2 };

// --- small queries on one node, needed by every layer that reads a node's image ---

bool is_splitter(const Node* node);
bool is_side_branch(const Node* node);
// Bypass 1 or 2.
bool passes_through(const Node* node);
// A direct child of the root.
bool is_top_level(const Node* node);
// The node itself, or while it passes through (and is not a top level image) its nearest
// ancestor that does not.
Node* effective_image_node(Node* node);
const Node* effective_image_node(const Node* node);

// The process-wide root: its children are the top level images.
Node& tree_root();

// The current node (may be null) and its current input slot (-1 none). The tree's
// set_current_node changes them (and lets open dialogs follow); everyone else only reads.
Node* current_node();
int current_input_slot();
void store_current_node(Node* node, int input_slot);

}  // namespace tessaly
