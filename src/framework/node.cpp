#include "framework/node.h"

namespace tessaly {

bool is_splitter(const Node* node) {
    return node && node->kind == node_splitter;
}
bool is_side_branch(const Node* node) {
    return node && node->kind == node_side_branch;
}

bool passes_through(const Node* node) {
    return node && (node->bypass == bypass_user || node->bypass == bypass_structural);
}

Node& tree_root() {
    static Node root;
    return root;
}

namespace {
Node* current = nullptr;
int current_slot = -1;
}  // namespace

Node* current_node() {
    return current;
}
int current_input_slot() {
    return current_slot;
}

void store_current_node(Node* node, int input_slot) {
    current = node;
    current_slot = node ? input_slot : -1;
}

bool is_top_level(const Node* node) {
    return node && node->parent == &tree_root();
}

Node* effective_image_node(Node* node) {
    while (node && passes_through(node) && !is_top_level(node) && node->parent) node = node->parent;
    return node;
}

const Node* effective_image_node(const Node* node) {
    return effective_image_node(const_cast<Node*>(node));
}

}  // namespace tessaly
