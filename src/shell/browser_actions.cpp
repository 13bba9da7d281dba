#include "shell/browser_actions.h"

#include <algorithm>
#include <vector>

#include "tree/edit.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly::shell {

namespace {

std::vector<Node*> named_by(BrowserAction what) {
    if (what == BrowserAction::select_all) return all_nodes();
    Node* current = current_node();
    if (!current) return {};
    std::vector<Node*> nodes;
    switch (what) {
        case BrowserAction::select_single:
            nodes.push_back(current);
            break;
        case BrowserAction::select_branch:
            for (Node* n = current; n; n = current_child(n)) nodes.push_back(n);
            break;
        case BrowserAction::select_downstream:
            for (Node* n : all_nodes()) {
                if (n != current && is_in_subtree(n, current)) nodes.push_back(n);
            }
            break;
        case BrowserAction::select_upstream:
            for (Node* n = current; n && n != &tree_root(); n = n->parent) nodes.push_back(n);
            break;
        default:
            break;
    }
    return nodes;
}

}  // namespace

void toggle_selection(BrowserAction what) {
    const std::vector<Node*> nodes = named_by(what);
    const bool all = std::all_of(nodes.begin(), nodes.end(), [](Node* n) { return n->selected; });
    for (Node* n : nodes) n->selected = !all;
}

void set_selected_bypass(bool on) {
    const std::int32_t value = on ? bypass_user : bypass_none;
    bool changed = false;
    clear_relation_marks();
    for (Node* n : selected_nodes()) {
        if (is_top_level(n) || is_splitter(n) || is_side_branch(n)) continue;
        if (n->bypass == bypass_structural || n->bypass == value) continue;
        n->bypass = value;
        mark_downstream(n);
        node_changed(n, true);
        changed = true;
    }
    if (changed) {
        (void)rerun_marked();
        autosave();
    }
}

}  // namespace tessaly::shell
