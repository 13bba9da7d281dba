#include "tree/edit.h"

#include <algorithm>
#include <unordered_set>

#include "core/format.h"
#include "core/interaction.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly {

namespace {

void autosave_nothing() {}

bool save_workspace_not_built() {
    show_error("Workspace files are not built yet");
    return true;
}

void (*autosave_hook)() = autosave_nothing;
bool (*save_workspace_hook)() = save_workspace_not_built;

constexpr const char* move_cycle = "Moving image up would generate a circular reference";
constexpr const char* move_rerun_cycle = "Circular reference would be created by move";
constexpr const char* size_note =
    "\n\nCheck for transformations such as retouching tools or masks that may not work as "
    "intended.";

bool refuse(const char* text) {
    show_error(text);
    return true;
}

bool confirm(const char* caption, std::string_view text) {
    return interaction().ask(caption, text, Buttons::ok_cancel, Answer::ok) == Answer::ok;
}

// A warning question: without anyone to answer it, the tree is left alone.
bool accept_warning(std::string_view text) {
    return interaction().ask("Warning", text, Buttons::ok_cancel, Answer::cancel) == Answer::ok;
}

int position_in(const Node* parent, const Node* node) {
    auto it = std::find(parent->children.begin(), parent->children.end(), node);
    return it == parent->children.end() ? -1 : static_cast<int>(it - parent->children.begin());
}

void set_child_at(Node* parent, int index, Node* child) {
    parent->children[static_cast<std::size_t>(index)] = child;
    child->parent = parent;
}

// Puts child in slot index, or drops the slot when there is no child.
void replace_or_drop(Node* parent, int index, Node* child) {
    if (child) {
        set_child_at(parent, index, child);
    } else {
        parent->children.erase(parent->children.begin() + index);
        parent->current_child = parent->children.empty() ? -1 : 0;
    }
}

// Puts child into parent's current slot, or makes it the only child of a childless parent.
void put_below(Node* parent, Node* child) {
    if (parent->children.empty()) {
        parent->children.push_back(child);
        parent->current_child = 0;
        child->parent = parent;
    } else {
        set_child_at(parent, parent->current_child, child);
    }
}

// The links of the nodes a move touches, so that a move the re-run refuses can be put back.
class LinkSnapshot {
  public:
    void keep(Node* n) {
        if (!n) return;
        for (const Saved& s : saved_) {
            if (s.node == n) return;
        }
        saved_.push_back({n, n->parent, n->children, n->current_child});
    }
    void restore() const {
        for (const Saved& s : saved_) {
            s.node->parent = s.parent;
            s.node->children = s.children;
            s.node->current_child = s.current_child;
        }
    }

  private:
    struct Saved {
        Node* node;
        Node* parent;
        std::vector<Node*> children;
        std::int32_t current_child;
    };
    std::vector<Saved> saved_;
};

// The current child, or null; false when the node's current index is broken (reported).
bool current_or_none(Node* node, Node*& child) {
    child = nullptr;
    if (node->children.empty()) return true;
    child = current_child(node);
    return child != nullptr;
}

bool move_sideways(Node* node, int step) {
    if (!node || !node->parent) return refuse("Cannot move root node of image tree");
    Node* parent = node->parent;
    // Moving right is refused with the same text.
    if (parent != &tree_root() && !is_splitter(parent)) return refuse("Image cannot be moved left");
    int index = position_in(parent, node);
    if (index < 0) return refuse("Backlink not found");
    int other = index + step;
    if (other < 0) return refuse("Image is already at far left");
    if (other >= static_cast<int>(parent->children.size())) {
        return refuse("Image is already at far right");
    }
    std::swap(parent->children[static_cast<std::size_t>(index)],
              parent->children[static_cast<std::size_t>(other)]);
    // The current index keeps pointing at the same node.
    if (parent->current_child == index) {
        parent->current_child = other;
    } else if (parent->current_child == other) {
        parent->current_child = index;
    }
    refresh_display();
    autosave();
    return false;
}

// The selected nodes lie on one path down the tree, with no splitter or branch between two of
// them. nodes are in walk order, so each must lie below the one before.
bool on_one_branch(const std::vector<Node*>& nodes) {
    for (std::size_t i = 1; i < nodes.size(); ++i) {
        const Node* upper = nodes[i - 1];
        const Node* n = nodes[i]->parent;
        while (n && n != upper) {
            if (is_splitter(n) || is_side_branch(n) || n == &tree_root()) return false;
            n = n->parent;
        }
        if (n != upper) return false;
    }
    return true;
}

enum class Impact { none, change, invalidate };

// Marks node's relations and looks at the other downstream nodes' extra inputs and mask sources.
Impact closing_impact(Node* node) {
    select_node(node);
    Impact impact = Impact::none;
    walk([&](Node* n) {
        if (n == node || n->relation != relation_downstream) return false;
        std::vector<const Node*> extra(n->inputs.begin(), n->inputs.end());
        for (const auto& m : n->masks) extra.push_back(m ? m->source : nullptr);
        for (const Node* s : extra) {
            if (!s) continue;
            if (s == node) {
                impact = Impact::invalidate;
                return true;
            }
            if (s->relation == relation_downstream) impact = Impact::change;
        }
        return false;
    });
    return impact;
}

bool closes_subtree(const Node* node) {
    return is_top_level(node) || is_splitter(node) || is_side_branch(node);
}

bool taken_as_source(const Node* node) {
    return walk([&](Node* n) {
        if (std::find(n->inputs.begin(), n->inputs.end(), node) != n->inputs.end()) return true;
        return std::any_of(n->masks.begin(), n->masks.end(),
                           [&](const auto& m) { return m && m->source == node; });
    });
}

// Closes one node (or its subtree); gone collects every freed node. true on a broken tree.
bool close_one(Node* node, std::unordered_set<const Node*>& gone) {
    if (closes_subtree(node) ? remove_subtree(node) : remove_node(node)) return true;
    std::vector<Node*> stack{node};
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        gone.insert(n);
        for (Node* c : n->children) stack.push_back(c);
    }
    destroy_subtree(node);
    return false;
}

void finish_close() {
    dissolve_splitters();
    renumber_all_branches();
    clear_selection();
    refresh_display();
}

bool close_all_selected_images() {
    Answer a = interaction().ask("Confirm", "Save current workspace before closing all images?",
                                 Buttons::yes_no_cancel, Answer::no);
    if (a == Answer::cancel) return true;
    if (a == Answer::yes && save_workspace_hook()) return true;
    close_all_images();
    finish_close();
    return false;
}

bool close_several(const std::vector<Node*>& selected) {
    if (!confirm("Confirm", formatted("Close %d selected transformations?",
                                      static_cast<int>(selected.size())))) {
        return true;
    }
    autosave();
    for (Node* n : selected) {
        if (closing_impact(n) != Impact::none) {
            if (!accept_warning("Closing the selected transformations will invalidate or change "
                                "one or more inputs or masks in other transformations.")) {
                clear_relation_marks();
                return true;
            }
            break;
        }
    }
    clear_relation_marks();
    for (Node* n : selected) mark_downstream(n);
    bool all_pass_through = true;
    std::unordered_set<const Node*> gone;
    for (Node* n : selected) {
        if (gone.count(n)) continue;
        all_pass_through = all_pass_through && passes_through(n);
        if (close_one(n, gone)) break;
    }
    renumber_all_branches();
    if (all_pass_through) {
        clear_relation_marks();
    } else {
        (void)rerun_marked();
    }
    finish_close();
    return false;
}

bool close_single(Node* node) {
    Impact impact = closing_impact(node);
    if (impact == Impact::invalidate) {
        if (!accept_warning("Closing this transformation will invalidate one or more inputs or "
                            "masks in other transformations.")) {
            clear_relation_marks();
            return true;
        }
    } else if (impact == Impact::change) {
        if (!accept_warning("Closing this transformation will change one or more inputs or masks "
                            "in other transformations.")) {
            clear_relation_marks();
            return true;
        }
    }
    bool accepted;
    if (is_top_level(node)) {
        accepted = node->children.empty()
                       ? confirm("Confirm", "Close selected transformations?")
                       : accept_warning(
                             "Closing a top level transformations closes all the "
                             "transformations below it.");
    } else if (is_splitter(node)) {
        accepted = accept_warning("Closing a splitter closes all the transformations below it.");
    } else if (is_side_branch(node)) {
        accepted = accept_warning("Closing a side branch closes all the transformations below it.");
    } else {
        accepted = confirm("Confirm", "Close selected transformation?");
    }
    if (!accepted) {
        clear_relation_marks();
        return true;
    }
    autosave();
    bool skip_rerun = passes_through(node) && !taken_as_source(node);
    bool was_current = current_node() == node;
    Node* anchor = is_top_level(node) ? nullptr : node->parent;
    std::unordered_set<const Node*> gone;
    if (close_one(node, gone)) {
        clear_relation_marks();
        return true;
    }
    if (was_current && anchor && !gone.count(anchor)) set_current_node(anchor, -1);
    renumber_all_branches();
    if (skip_rerun) {
        clear_relation_marks();
    } else {
        (void)rerun_marked();
    }
    finish_close();
    return false;
}

}  // namespace

// --- moves ---

bool move_down(Node* node) {
    if (!node || !node->parent) return true;
    if (is_splitter(node) || is_side_branch(node)) {
        return refuse("Cannot move a side branch or splitter down");
    }
    if (is_top_level(node)) return refuse("Cannot move a top level image down");
    if (node->children.empty()) return refuse("Cannot move last image in a branch down");
    Node* child = current_child(node);
    if (!child) return true;
    if (node->dialog) node->dialog->press_ok();

    Node* parent = node->parent;
    int index = position_in(parent, node);
    if (index < 0) return refuse("Missing branch back link");
    int slot = node->current_child;
    LinkSnapshot snapshot;
    Node* new_parent = nullptr;

    if (!is_splitter(child)) {
        if (uses_other_than_parent(child, node)) return refuse(move_cycle);
        Node* grandchild = nullptr;
        if (!current_or_none(child, grandchild)) return true;
        for (Node* n : {parent, node, child, grandchild}) snapshot.keep(n);
        set_child_at(parent, index, child);
        replace_or_drop(node, slot, grandchild);
        put_below(child, node);
        new_parent = child;
    } else {
        std::vector<std::string> branches;
        for (const Node* b : child->children) branches.push_back(b->caption);
        int choice = interaction().choose("Move to:", "Move to:", branches);
        if (choice < 0 || choice >= static_cast<int>(branches.size())) return true;
        Node* branch = child->children[static_cast<std::size_t>(choice)];
        Node* first = nullptr;
        if (!current_or_none(branch, first)) return true;
        for (Node* n : {parent, node, child, branch, first}) snapshot.keep(n);
        set_child_at(parent, index, child);
        replace_or_drop(node, slot, first);
        put_below(branch, node);
        child->current_child = choice;
        new_parent = branch;
    }

    if (rerun_downstream(parent, true)) {
        show_error(move_rerun_cycle);
        snapshot.restore();
        refresh_display();
        return true;
    }
    refresh_display();
    if (!new_parent->same_size && is_size_dependent(node)) {
        show_warning(std::string("The current image depends on the size of the previous image.") +
                     size_note);
    }
    autosave();
    return false;
}

bool move_up(Node* node) {
    if (!node || !node->parent) return true;
    if (is_splitter(node) || is_side_branch(node)) {
        return refuse("Cannot move a side branch or splitter up");
    }
    if (is_top_level(node)) return refuse("Cannot move a top level image up");
    Node* parent = node->parent;
    if (is_top_level(parent)) return refuse("Cannot move an image up to top level");
    if (node->dialog) node->dialog->press_ok();

    // From the first node of a branch the move goes above the whole splitter.
    Node* displaced = is_side_branch(parent) ? parent->parent : parent;
    if (!displaced || !displaced->parent) return true;
    Node* above = displaced->parent;
    int displaced_index = position_in(above, displaced);
    int index = position_in(parent, node);
    if (displaced_index < 0 || index < 0) return refuse("Missing branch back link");
    if (uses_other_than_parent(node, displaced)) return refuse(move_cycle);
    Node* child = nullptr;
    if (!current_or_none(node, child)) return true;

    LinkSnapshot snapshot;
    for (Node* n : {above, displaced, parent, node, child}) snapshot.keep(n);
    set_child_at(above, displaced_index, node);
    replace_or_drop(parent, index, child);
    put_below(node, displaced);

    if (rerun_downstream(above, true)) {
        show_error(move_rerun_cycle);
        snapshot.restore();
        refresh_display();
        return true;
    }
    refresh_display();
    if (!node->same_size && is_size_dependent(displaced)) {
        show_warning(std::string("The next image depends on the size of the current image.") +
                     size_note);
    }
    autosave();
    return false;
}

bool move_left(Node* node) {
    return move_sideways(node, -1);
}

bool move_right(Node* node) {
    return move_sideways(node, 1);
}

// --- close ---

bool close_selected() {
    std::vector<Node*> selected = selected_nodes();
    if (selected.empty()) return false;
    if (selected.size() >= 2 && std::all_of(selected.begin(), selected.end(), is_top_level)) {
        return close_all_selected_images();
    }
    if (selected.size() >= 2) return close_several(selected);
    return close_single(selected[0]);
}

// --- copy ---

bool copy_node(Node* source, Node* destination, bool run, Node** out_copy) {
    if (out_copy) *out_copy = nullptr;
    if (!source) return true;
    if (is_splitter(source) || is_side_branch(source)) {
        return refuse("Cannot copy splitters or branches");
    }
    Node* copy = nullptr;
    if (destination) {
        copy = add_transformation_after(destination, source->same_size, source->size_specific,
                                        source->mask_count(), source->input_count(),
                                        source->bypass_at_creation, source->caption);
    } else if (is_top_level(source)) {
        copy = create_top_level_image(source->same_size, source->size_specific,
                                      source->mask_count(), source->input_count(),
                                      source->bypass_at_creation, source->caption, false);
    }
    if (!copy) return refuse("Error copying image");
    copy->kind = source->kind;
    copy->command_line = source->command_line;
    copy->inputs = source->inputs;
    copy->input_captions = source->input_captions;
    bool failed = false;
    for (std::size_t i = 0; i < source->masks.size(); ++i) {
        const MaskSettings* from = source->masks[i].get();
        MaskSettings* to = copy->masks[i].get();
        if (!from || !to) continue;
        to->source = from->source;
        to->command_line = from->command_line;
        to->initial_level = from->initial_level;
        to->base_input_index = from->base_input_index;
        to->caption = from->caption;
        failed = failed || image_copy(from->image, to->image) ||
                 image_copy(from->initial_image, to->initial_image);
    }
    if (failed) {
        if (!remove_node(copy)) destroy_node(copy);
        return refuse("Error copying image");
    }
    if (check_cycles()) {
        if (!remove_node(copy)) destroy_node(copy);
        show_error("Circular reference created");
        if (destination) (void)rerun_downstream(destination, true);
        return true;
    }
    if (run) {
        (void)run_node(copy->parent, copy);
        (void)rerun_downstream(copy, true);
    }
    if (out_copy) *out_copy = copy;
    return false;
}

bool copy_selected(bool ask) {
    std::vector<Node*> chain = selected_nodes();
    if (chain.empty()) return refuse("No selected transformations");
    if (!on_one_branch(chain)) {
        show_error("All selected transformations must be on the same branch.");
        clear_selection();
        refresh_display();
        return true;
    }
    Node* first = chain.front();
    Node* destination = current_node();
    if (is_splitter(destination)) {
        return refuse(is_side_branch(first)
                          ? "Copying a side branch to a splitter not implemented yet."
                          : "Only a side branch can be copied to a splitter.");
    }
    if (is_side_branch(first)) return refuse("A side branch can only be copied to a splitter.");
    bool top = is_top_level(first);
    if (!destination && !top) return refuse("No destination selected for copy.");
    if (!top) {
        select_node(destination);
        for (const Node* n : chain) {
            if (n->relation == relation_upstream) {
                return refuse("Copy would create circular references.");
            }
        }
    }
    if (ask) {
        if (top) {
            if (!confirm("Confirm",
                         "Top level transformations must be copied to a new branch.\n\nCopy to "
                         "new branch?")) {
                return true;
            }
        } else if (!confirm("Confirm", chain.size() == 1
                                           ? std::string("Copy selected transformation?")
                                           : formatted("Copy %d selected transformations?",
                                                       static_cast<int>(chain.size())))) {
            return true;
        }
    }
    autosave();
    std::vector<Node*> copies;
    Node* after = top ? nullptr : destination;
    for (Node* source : chain) {
        Node* copy = nullptr;
        if (copy_node(source, after, false, &copy)) {
            // A copy refused half way is undone as a whole.
            for (auto it = copies.rbegin(); it != copies.rend(); ++it) {
                if (!remove_node(*it)) destroy_node(*it);
            }
            dissolve_splitters();
            refresh_display();
            return true;
        }
        copies.push_back(copy);
        after = copy;
    }
    dissolve_splitters();
    Node* first_copy = copies.front();
    (void)run_node(first_copy->parent, first_copy);
    (void)rerun_downstream(first_copy, true);
    return false;
}

// --- snip ---

namespace {
bool (*snippet_writer)(Node* first) = nullptr;
}

bool snip_selected() {
    std::vector<Node*> chain = selected_nodes();
    if (chain.empty()) return refuse("No images selected");
    if (std::any_of(chain.begin(), chain.end(), is_top_level)) {
        return refuse("Cannot snip top level images");
    }
    if (!on_one_branch(chain)) return refuse("All selected images must be on the same branch");
    if (std::any_of(chain.begin(), chain.end(),
                    [](const Node* n) { return is_splitter(n) || is_side_branch(n); })) {
        return refuse("Snippets may not include splitters or branches");
    }
    for (const Node* n : chain) {
        if (n->input_count() > 0) {
            show_warning("%s transformation has one or more auxiliary inputs that will ignored",
                         n->caption);
        }
    }
    if (!snippet_writer) return refuse("Snippet files are not built yet");
    return snippet_writer(chain.front());
}

// --- selection and workspace hooks ---

std::vector<Node*> selected_nodes() {
    std::vector<Node*> out;
    walk([&](Node* n) {
        if (n->selected) out.push_back(n);
        return false;
    });
    return out;
}

void clear_selection() {
    walk([](Node* n) {
        n->selected = false;
        return false;
    });
}

void set_snippet_writer(bool (*write_snippet)(Node* first)) {
    snippet_writer = write_snippet;
}

void set_workspace_hooks(void (*autosave_function)(), bool (*save_workspace_as)()) {
    autosave_hook = autosave_function ? autosave_function : autosave_nothing;
    save_workspace_hook = save_workspace_as ? save_workspace_as : save_workspace_not_built;
}

void autosave() {
    // Only when at least one image is open.
    if (!tree_root().children.empty()) autosave_hook();
}

}  // namespace tessaly
