#include "tree/tree.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "core/format.h"
#include "tree/run_node.h"

namespace tessaly {

namespace {

std::int32_t serial_counter = 0;
bool rerunning = false;
std::vector<TreeObserver*> observers;

bool (*mask_size_rule)(const MaskSettings&) = [](const MaskSettings& m) {
    return !m.initial_image.empty();
};

constexpr const char* illegal_branch = "internal error - illegal current branch";

std::string cut_caption(std::string_view text) {
    std::size_t chars = 0;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80) {
            if (chars == caption_capacity) break;
            ++chars;
        }
    }
    return std::string(text.substr(0, i));
}

int position_in(const Node* parent, const Node* node) {
    if (!parent) return -1;
    auto it = std::find(parent->children.begin(), parent->children.end(), node);
    return it == parent->children.end() ? -1 : static_cast<int>(it - parent->children.begin());
}

bool valid_current(const Node* node) {
    return node->current_child >= 0 &&
           node->current_child < static_cast<std::int32_t>(node->children.size());
}

// "Branch " followed by one to three digits not starting with 0.
bool is_numbered_branch_caption(std::string_view caption) {
    constexpr std::string_view prefix = "Branch ";
    if (caption.substr(0, prefix.size()) != prefix) return false;
    std::string_view digits = caption.substr(prefix.size());
    if (digits.empty() || digits.size() > 3 || digits[0] == '0') return false;
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// Takes node out of its parent's list; the parent's current index becomes 0, or -1 when none
// are left.
void drop_from_parent(Node* parent, int index) {
    parent->children.erase(parent->children.begin() + index);
    parent->current_child = parent->children.empty() ? -1 : 0;
}

bool remove_top_level(Node* node) {
    Node& root = tree_root();
    int index = position_in(&root, node);
    if (index < 0) {
        show_error("Cannot locate top level image to remove");
        return true;
    }
    root.children.erase(root.children.begin() + index);
    int count = static_cast<int>(root.children.size());
    root.current_child = count == 0 ? -1 : std::max(0, std::min(index, count - 1));
    node->parent = nullptr;
    return false;
}

bool unlink(Node* node, bool with_subtree) {
    if (!node || !node->parent) return true;
    if (is_top_level(node)) return remove_top_level(node);
    Node* parent = node->parent;
    int index = position_in(parent, node);
    if (index < 0) {
        show_error("Missing branch back link");
        return true;
    }
    Node* heir = nullptr;
    if (!with_subtree && !node->children.empty()) {
        heir = current_child(node);
        if (!heir) return true;
    }
    if (heir) {
        parent->children[static_cast<std::size_t>(index)] = heir;
        heir->parent = parent;
        int heir_index = position_in(node, heir);
        node->children.erase(node->children.begin() + heir_index);
        node->current_child = node->children.empty() ? -1 : 0;
    } else {
        drop_from_parent(parent, index);
    }
    node->parent = nullptr;
    if (is_side_branch(node) && is_splitter(parent) && parent->children.size() >= 2) {
        renumber_branches(parent);
    }
    return false;
}

void collect_subtree(Node* node, std::vector<Node*>& out) {
    out.push_back(node);
    for (Node* c : node->children) collect_subtree(c, out);
}

// Every input slot and mask source that points at a freed node is emptied, so nothing dangles.
void forget_references(const std::unordered_set<const Node*>& gone) {
    walk([&](Node* n) {
        if (gone.count(n)) return false;
        for (Node*& in : n->inputs) {
            if (gone.count(in)) in = nullptr;
        }
        for (auto& m : n->masks) {
            if (m && gone.count(m->source)) m->source = nullptr;
        }
        return false;
    });
    if (gone.count(current_node())) store_current_node(nullptr, -1);
}

void free_nodes(const std::vector<Node*>& nodes) {
    std::unordered_set<const Node*> gone(nodes.begin(), nodes.end());
    for (Node* n : nodes) {
        if (n->dialog) {
            DialogHandle* d = n->dialog;
            n->dialog = nullptr;
            d->close_without_running();
        }
        for (TreeObserver* o : observers) o->node_destroyed(n);
    }
    forget_references(gone);
    for (Node* n : nodes) delete n;
}

bool walk_from(Node* node, const std::function<bool(Node*)>& visitor) {
    if (visitor(node)) return true;
    // A copy, so that the visitor may relink the node's children.
    std::vector<Node*> children = node->children;
    for (Node* c : children) {
        if (walk_from(c, visitor)) return true;
    }
    return false;
}

void mark_upstream_from(Node* node, const Node* selected) {
    for (Node* s : node_sources(node)) {
        if (s == selected || s->relation == relation_upstream) continue;
        s->relation = relation_upstream;
        mark_upstream_from(s, selected);
    }
}

}  // namespace

// --- creating and linking ---

Node* create_node(bool same_size, bool size_specific, int mask_count, int input_count,
                  std::int32_t bypass, std::string_view caption) {
    Node* node = new Node;
    node->same_size = same_size;
    node->size_specific = size_specific;
    node->bypass = bypass;
    node->bypass_at_creation = bypass;
    node->serial = serial_counter++;
    for (int i = 0; i < mask_count; ++i) node->masks.push_back(std::make_unique<MaskSettings>());
    node->inputs.assign(static_cast<std::size_t>(std::max(0, input_count)), nullptr);
    node->input_captions.assign(node->inputs.size(), std::string());
    node->caption = cut_caption(caption);
    return node;
}

Node* add_transformation_after(Node* parent, bool same_size, bool size_specific, int mask_count,
                               int input_count, std::int32_t bypass, std::string_view caption) {
    if (!parent) return nullptr;
    if (!parent->children.empty() && !valid_current(parent)) {
        show_error(illegal_branch);
        return nullptr;
    }
    Node* node = create_node(same_size, size_specific, mask_count, input_count, bypass, caption);
    node->parent = parent;
    if (parent->children.empty()) {
        parent->children.push_back(node);
        parent->current_child = 0;
    } else {
        Node*& slot = parent->children[static_cast<std::size_t>(parent->current_child)];
        Node* former = slot;
        node->children.push_back(former);
        node->current_child = 0;
        former->parent = node;
        slot = node;
    }
    if (parent->dialog) parent->dialog->children_changed();
    return node;
}

bool add_top_level_image(Node* node, bool reset_current) {
    Node& root = tree_root();
    if (static_cast<int>(root.children.size()) >= max_children) {
        show_error("Too many top level images");
        return true;
    }
    root.children.push_back(node);
    node->parent = &root;
    if (reset_current || root.children.size() == 1) {
        root.current_child = 0;
    } else {
        ++root.current_child;
    }
    return false;
}

Node* create_top_level_image(bool same_size, bool size_specific, int mask_count, int input_count,
                             std::int32_t bypass, std::string_view caption, bool reset_current) {
    Node* node = create_node(same_size, size_specific, mask_count, input_count, bypass, caption);
    if (add_top_level_image(node, reset_current)) {
        delete node;
        return nullptr;
    }
    return node;
}

Node* add_branch(Node* splitter) {
    if (!is_splitter(splitter)) return nullptr;
    if (static_cast<int>(splitter->children.size()) >= max_children) return nullptr;
    Node* branch =
        create_node(true, false, 0, 0, bypass_structural,
                    formatted("Branch %d", static_cast<int>(splitter->children.size()) + 1));
    branch->kind = node_side_branch;
    branch->parent = splitter;
    splitter->children.push_back(branch);
    if (splitter->current_child < 0) splitter->current_child = 0;
    return branch;
}

Node* add_splitter(Node* node, int n_branches) {
    if (!node || is_splitter(node) || n_branches < 1 || n_branches > max_children) return nullptr;
    Node* splitter =
        add_transformation_after(node, true, false, 0, 0, bypass_structural, "Splitter");
    if (!splitter) return nullptr;
    splitter->kind = node_splitter;
    // The former chain continues as the first branch.
    std::vector<Node*> former = std::move(splitter->children);
    splitter->children.clear();
    splitter->current_child = -1;
    for (int i = 0; i < n_branches; ++i) (void)add_branch(splitter);
    if (!former.empty()) {
        Node* first = splitter->children[0];
        first->children = std::move(former);
        first->current_child = 0;
        for (Node* c : first->children) c->parent = first;
    }
    splitter->current_child = 0;
    return splitter;
}

bool remove_node(Node* node) {
    return unlink(node, false);
}

bool remove_subtree(Node* node) {
    return unlink(node, true);
}

void destroy_node(Node* node) {
    if (!node) return;
    free_nodes({node});
}

void destroy_subtree(Node* node) {
    if (!node) return;
    std::vector<Node*> nodes;
    collect_subtree(node, nodes);
    free_nodes(nodes);
}

void close_all_images() {
    Node& root = tree_root();
    std::vector<Node*> nodes;
    for (Node* top : root.children) collect_subtree(top, nodes);
    root.children.clear();
    root.current_child = -1;
    store_current_node(nullptr, -1);
    free_nodes(nodes);
    refresh_display();
}

void renumber_branches(Node* splitter) {
    if (!is_splitter(splitter)) return;
    for (std::size_t i = 0; i < splitter->children.size(); ++i) {
        Node* b = splitter->children[i];
        if (is_side_branch(b) && is_numbered_branch_caption(b->caption)) {
            b->caption = formatted("Branch %d", static_cast<int>(i) + 1);
        }
    }
}

void renumber_all_branches() {
    walk([](Node* n) {
        if (is_splitter(n)) renumber_branches(n);
        return false;
    });
}

void dissolve_splitters() {
    std::vector<Node*> splitters;
    walk([&](Node* n) {
        if (is_splitter(n) && n->children.size() < 2) splitters.push_back(n);
        return false;
    });
    // A splitter may go down with one dissolved before it (hanging from its only branch).
    std::unordered_set<const Node*> freed;
    for (Node* s : splitters) {
        if (freed.count(s)) continue;
        Node* parent = s->parent;
        int index = position_in(parent, s);
        if (index < 0) continue;
        std::vector<Node*> doomed{s};
        Node* first = nullptr;
        if (s->children.size() == 1) {
            Node* branch = s->children[0];
            doomed.push_back(branch);
            if (!branch->children.empty()) {
                first = valid_current(branch)
                            ? branch->children[static_cast<std::size_t>(branch->current_child)]
                            : branch->children[0];
                // Anything else hanging from the branch goes with it.
                for (Node* c : branch->children) {
                    if (c != first) collect_subtree(c, doomed);
                }
            }
            branch->children.clear();
        }
        s->children.clear();
        if (first) {
            parent->children[static_cast<std::size_t>(index)] = first;
            first->parent = parent;
        } else {
            drop_from_parent(parent, index);
        }
        s->parent = nullptr;
        freed.insert(doomed.begin(), doomed.end());
        free_nodes(doomed);
    }
}

// --- queries ---

Node* current_child(Node* node) {
    if (!node || node->children.empty()) return nullptr;
    if (!valid_current(node)) {
        show_error(illegal_branch);
        return nullptr;
    }
    return node->children[static_cast<std::size_t>(node->current_child)];
}

int child_position(const Node* node) {
    return node ? position_in(node->parent, node) : -1;
}

bool is_in_subtree(const Node* a, const Node* b) {
    if (!a || !b || is_top_level(a)) return false;
    for (const Node* n = a; n; n = n->parent) {
        if (n == b) return true;
    }
    return false;
}

Node* top_level_of(Node* node) {
    while (node && node->parent && !is_top_level(node)) node = node->parent;
    return is_top_level(node) ? node : nullptr;
}

Node* find_top_level_image(std::string_view name) {
    for (Node* n : tree_root().children) {
        if (n->name.size() != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i) {
            same = std::tolower(static_cast<unsigned char>(n->name[i])) ==
                   std::tolower(static_cast<unsigned char>(name[i]));
        }
        if (same) return n;
    }
    return nullptr;
}

Node* find_node_by_serial(std::int32_t serial) {
    Node* found = nullptr;
    walk([&](Node* n) {
        if (n->serial == serial) found = n;
        return found != nullptr;
    });
    return found;
}

std::int32_t next_serial() {
    return serial_counter;
}

Node* effective_input(Node* node, int slot) {
    if (!node) return nullptr;
    if (slot < 0 || slot >= node->input_count()) {
        show_error("Internal error: illegal input for \"%s\": index: %d", node->caption, slot);
        return nullptr;
    }
    return effective_image_node(node->inputs[static_cast<std::size_t>(slot)]);
}

void set_current_node(Node* node, int input_slot) {
    Node* previous = current_node();
    if (previous != node && previous && previous->dialog) previous->dialog->deactivate();
    store_current_node(node, input_slot);
    if (node && node->dialog) {
        if (previous == node) node->dialog->raise();
        node->dialog->activate();
    }
}

bool walk(const std::function<bool(Node*)>& visitor) {
    std::vector<Node*> tops = tree_root().children;
    for (Node* top : tops) {
        if (walk_from(top, visitor)) return true;
    }
    return false;
}

std::vector<Node*> all_nodes() {
    std::vector<Node*> out;
    walk([&](Node* n) {
        out.push_back(n);
        return false;
    });
    return out;
}

// --- dependencies ---

std::vector<Node*> node_sources(const Node* node) {
    std::vector<Node*> out;
    if (!node) return out;
    if (node->parent && !is_top_level(node)) out.push_back(node->parent);
    for (Node* in : node->inputs) {
        if (in) out.push_back(in);
    }
    for (const auto& m : node->masks) {
        if (m && m->source) out.push_back(m->source);
    }
    return out;
}

bool uses(const Node* user, const Node* source) {
    if (!user || !source) return false;
    for (Node* s : node_sources(user)) {
        if (s == source) return true;
    }
    return false;
}

bool depends_on(const Node* user, const Node* source) {
    if (!user || !source) return false;
    std::unordered_set<const Node*> seen;
    std::vector<const Node*> stack{user};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        for (Node* s : node_sources(n)) {
            if (s == source) return true;
            if (seen.insert(s).second) stack.push_back(s);
        }
    }
    return false;
}

bool uses_other_than_parent(const Node* user, const Node* source) {
    if (!user) return false;
    std::vector<Node*> sources = node_sources(user);
    for (Node* s : sources) {
        if (s == user->parent && !is_top_level(user)) {
            // The parent link itself is allowed; other sources are checked below.
            continue;
        }
        if (s == source || depends_on(s, source)) return true;
    }
    return false;
}

bool is_size_dependent(const Node* node) {
    if (!node) return false;
    if (node->size_specific) return true;
    return std::any_of(node->masks.begin(), node->masks.end(),
                       [](const auto& m) { return m && mask_size_rule(*m); });
}

void set_mask_size_rule(bool (*rule)(const MaskSettings&)) {
    if (rule) mask_size_rule = rule;
}

bool check_cycles() {
    std::vector<Node*> nodes = all_nodes();
    std::unordered_set<const Node*> listed(nodes.begin(), nodes.end());
    std::unordered_set<const Node*> resolved;
    for (Node* n : nodes) n->in_cycle = false;
    bool progress = true;
    while (progress) {
        progress = false;
        for (Node* n : nodes) {
            if (resolved.count(n)) continue;
            bool ready = true;
            for (Node* s : node_sources(n)) {
                if (listed.count(s) && !resolved.count(s)) {
                    ready = false;
                    break;
                }
            }
            if (ready) {
                resolved.insert(n);
                progress = true;
            }
        }
    }
    bool cycle = false;
    for (Node* n : nodes) {
        if (!resolved.count(n)) {
            n->in_cycle = true;
            cycle = true;
        }
    }
    return cycle;
}

bool rerun_downstream(Node* start, bool redisplay) {
    if (!start) return false;
    start->modified = true;
    rerunning = true;
    if (check_cycles()) {
        rerunning = false;
        return true;
    }
    std::vector<Node*> nodes = all_nodes();
    for (Node* n : nodes) {
        n->queued = false;
        n->done = false;
    }
    // Users go to the front: the list then holds the latest found first.
    std::vector<Node*> list{start};
    start->queued = true;
    start->done = true;
    bool added = true;
    while (added) {
        added = false;
        for (Node* n : nodes) {
            if (n->queued) continue;
            for (Node* s : node_sources(n)) {
                if (s->queued) {
                    list.insert(list.begin(), n);
                    n->queued = true;
                    added = true;
                    break;
                }
            }
        }
    }
    bool ran = true;
    while (ran) {
        ran = false;
        for (Node* n : list) {
            if (n->done) continue;
            bool ready = true;
            for (Node* s : node_sources(n)) {
                if (s->queued && !s->done) {
                    ready = false;
                    break;
                }
            }
            if (!ready) continue;
            (void)run_node(n->parent, n);
            n->done = true;
            ran = true;
        }
    }
    for (Node* n : list) n->queued = false;
    if (redisplay) refresh_display();
    rerunning = false;
    return false;
}

bool rerun_in_progress() {
    return rerunning;
}

void clear_relation_marks() {
    walk([](Node* n) {
        n->relation = relation_none;
        return false;
    });
}

void mark_downstream(Node* node) {
    if (!node) return;
    // Who takes each node as an extra input or mask source.
    std::unordered_map<const Node*, std::vector<Node*>> takers;
    walk([&](Node* m) {
        for (Node* in : m->inputs) {
            if (in) takers[in].push_back(m);
        }
        for (const auto& mask : m->masks) {
            if (mask && mask->source) takers[mask->source].push_back(m);
        }
        return false;
    });
    std::vector<Node*> stack{node};
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        auto mark = [&](Node* user) {
            if (user == node || user->relation == relation_downstream) return;
            user->relation = relation_downstream;
            stack.push_back(user);
        };
        for (Node* c : n->children) mark(c);
        if (auto it = takers.find(n); it != takers.end()) {
            for (Node* m : it->second) mark(m);
        }
    }
}

void select_node(Node* node) {
    clear_relation_marks();
    if (!node) return;
    mark_upstream_from(node, node);
    mark_downstream(node);
}

// --- notifications ---

void node_changed(Node* node, bool full) {
    if (!node) return;
    if (node->error && node->image.has_pixels()) {
        for (std::uint32_t r = 0; r < node->image.height; ++r) {
            std::memset(node->image.rows[r], 0, node->image.row_bytes);
        }
    }
    for (TreeObserver* o : observers) o->node_changed(node, full);
}

void refresh_display() {
    for (TreeObserver* o : observers) o->refresh();
}

void add_tree_observer(TreeObserver* observer) {
    if (observer && std::find(observers.begin(), observers.end(), observer) == observers.end()) {
        observers.push_back(observer);
    }
}

void remove_tree_observer(TreeObserver* observer) {
    observers.erase(std::remove(observers.begin(), observers.end(), observer), observers.end());
}

void notify_running(Node* node, bool running) {
    if (!node) return;
    node->running = running;
    for (TreeObserver* o : observers) o->node_running(node, running);
}

}  // namespace tessaly
