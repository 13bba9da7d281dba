// The image tree: the forest of nodes under the root, its shape operations, walking, the current
// node, relation marks, the cycle check and re-running in dependency order.
//
// Nodes are plain records made with new and freed with destroy_node or destroy_subtree; the root
// owns nothing automatically, so close_all_images is the way to leave an empty forest.
// Operations that report a broken tree show the error and return failure (true or null).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "framework/node.h"

namespace tessaly {

// --- creating and linking ---

// A new unlinked node: current child -1, bypass and its creation copy as given, the next serial
// number, empty mask records, null input slots, the caption cut to 255 characters.
Node* create_node(bool same_size, bool size_specific, int mask_count, int input_count,
                  std::int32_t bypass, std::string_view caption);
// Inserts a new node between parent and its current child. null on failure.
Node* add_transformation_after(Node* parent, bool same_size, bool size_specific, int mask_count,
                               int input_count, std::int32_t bypass, std::string_view caption);
// Appends an unlinked node to the root. true on failure ("Too many top level images").
bool add_top_level_image(Node* node, bool reset_current);
Node* create_top_level_image(bool same_size, bool size_specific, int mask_count, int input_count,
                             std::int32_t bypass, std::string_view caption, bool reset_current);

// A splitter after node with n_branches side branches "Branch 1" ..; node's former current child
// becomes the first node of branch 1. null on failure.
Node* add_splitter(Node* node, int n_branches);
// Appends a side branch "Branch %d" to a splitter. null on failure.
Node* add_branch(Node* splitter);

// Unlinks a node; its current child takes its place (see remove_subtree for the whole subtree).
// The node keeps its other children, if any. true on failure.
bool remove_node(Node* node);
// Unlinks a node together with everything below it. true on failure.
bool remove_subtree(Node* node);
// Frees an unlinked node whose children were moved away: closes its dialog, clears every input
// slot and mask source that refers to it, forgets it as current node.
void destroy_node(Node* node);
// Frees an unlinked node and everything below it, the same way.
void destroy_subtree(Node* node);
// Closes every image: the forest is empty and no node is current.
void close_all_images();

// Renames a splitter's branches captioned "Branch N" after their positions.
void renumber_branches(Node* splitter);
void renumber_all_branches();
// Every splitter with fewer than two branches is dissolved: the one branch's first node takes
// the splitter's place, or the splitter goes.
void dissolve_splitters();

// --- queries ---

// null when there is none; reports a broken current index.
Node* current_child(Node* node);
int child_position(const Node* node);
// a is b or lies below it; never for a top level image a.
bool is_in_subtree(const Node* a, const Node* b);
// The top level image a node belongs to (null for an unlinked node).
Node* top_level_of(Node* node);
Node* find_top_level_image(std::string_view name);
Node* find_node_by_serial(std::int32_t serial);
// The next serial number create_node hands out.
std::int32_t next_serial();
// The effective image node of an input slot (null for an empty slot or a broken index).
Node* effective_input(Node* node, int slot);

// Makes the node current (null: none) and lets the open dialogs follow.
void set_current_node(Node* node, int input_slot);

// Depth first over every top level image, parent before children, children in order; stops and
// returns true as soon as the visitor does.
bool walk(const std::function<bool(Node*)>& visitor);
// Every node of the forest in walk order.
std::vector<Node*> all_nodes();

// --- dependencies ---

// What a node uses: its parent (unless it is a top level image), its inputs, its mask sources.
std::vector<Node*> node_sources(const Node* node);
bool uses(const Node* user, const Node* source);
// source is reachable from user through any chain of uses.
bool depends_on(const Node* user, const Node* source);
// user depends on source through something other than its parent link.
bool uses_other_than_parent(const Node* user, const Node* source);
// size_specific, or a mask that depends on the image size.
bool is_size_dependent(const Node* node);
// Until the mask module supplies its rule, a mask depends on the image size when it started
// from a stored mask image (which has one fixed size).
void set_mask_size_rule(bool (*rule)(const MaskSettings&));

// Marks the nodes that take part in a cycle; true when there is one.
bool check_cycles();
// Re-runs everything that depends on start in dependency order. true when a cycle stopped it.
bool rerun_downstream(Node* start, bool redisplay);
bool rerun_in_progress();

// Relation marks of the selected node: its sources upstream (1), its users downstream (2).
void select_node(Node* node);
// Adds the downstream marks of node to the marks already set.
void mark_downstream(Node* node);
void clear_relation_marks();

// --- notifications ---

// Called after a node's result image changed; clears the image of a failed node.
void node_changed(Node* node, bool full);
// Asks the display to refresh (the current node, the tree pane).
void refresh_display();

// The display side (Image Browser, auxiliary windows) registers here.
class TreeObserver {
  public:
    virtual ~TreeObserver() = default;
    virtual void node_changed(Node* /*node*/, bool /*full*/) {}
    virtual void node_running(Node* /*node*/, bool /*running*/) {}
    // The node is about to be freed.
    virtual void node_destroyed(Node* /*node*/) {}
    virtual void refresh() {}
};
void add_tree_observer(TreeObserver* observer);
void remove_tree_observer(TreeObserver* observer);
void notify_running(Node* node, bool running);

}  // namespace tessaly
