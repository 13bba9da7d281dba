// Edits of the image tree the user makes from the Image Browser and the menus: moving nodes,
// closing and copying the selection, cutting a snippet. Every refusal is an error box that
// leaves the tree unchanged; every operation returns true when it failed or was refused.
#pragma once

#include <vector>

#include "framework/node.h"

namespace tessaly {

bool move_down(Node* node);
bool move_up(Node* node);
bool move_left(Node* node);
bool move_right(Node* node);

// Closes the nodes whose selection flag is set (after the questions). true when cancelled or
// refused; false when something was closed or nothing was selected.
bool close_selected();

// Copies source after destination (null: a top level source becomes a new top level image).
// The copy is run, and everything after it re-run, when run is set.
bool copy_node(Node* source, Node* destination, bool run, Node** out_copy = nullptr);
// Copies the selected chain after the current node; ask = show the confirmation questions.
bool copy_selected(bool ask);

// Checks the selection for a snippet and saves it with the snippet writer the workspace module
// installs (set_snippet_writer).
bool snip_selected();

// The selected nodes in walk order; clear_selection clears every node's flag.
std::vector<Node*> selected_nodes();
void clear_selection();

// Autosave after accepted tree edits, and saving the workspace under a name before closing all
// images. Workspace files are not written yet: autosave does nothing and saving fails with a
// message, until the workspace module installs its own functions here.
void set_workspace_hooks(void (*autosave)(), bool (*save_workspace_as)());
// Writes the selected chain starting at its first node (a file dialog asks where).
void set_snippet_writer(bool (*write_snippet)(Node* first));
void autosave();

}  // namespace tessaly
