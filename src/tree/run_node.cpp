#include "tree/run_node.h"

#include <unordered_set>

#include "core/arguments.h"
#include "core/format.h"
#include "core/interaction.h"
#include "core/runner.h"
#include "framework/registry.h"
#include "framework/transformation.h"
#include "tree/tree.h"

namespace tessaly {

namespace {

bool (*batch_stop_check)() = nullptr;

void finish(Node* node) {
    notify_running(node, false);
    refresh_display();
}

}  // namespace

void set_batch_stop_check(bool (*check)()) {
    batch_stop_check = check;
}

bool run_node(Node* parent, Node* node) {
    if (!node) return true;
    if (batch_mode() != 0 && (batch_stop_check ? batch_stop_check() : batch_abort())) return true;
    if (is_splitter(node) || is_side_branch(node)) return false;

    notify_running(node, true);
    node->needs_run = true;
    if (node->dialog) {
        // The open dialog takes the new input and re-runs itself.
        node->dialog->input_changed(parent);
        notify_running(node, false);
        return false;
    }

    if (batch_mode() == 1 && node->breakpoint && !passes_through(node)) {
        refresh_display();
        ArgumentList line = split(node->command_line.value_or(std::string()));
        const TransformationEntry* entry =
            line.count() > 0 ? find_transformation(line[0]) : nullptr;
        if (entry && entry->dialog) {
            (void)open_node_for_editing(node);
            if (node->dialog) {
                node->dialog->wait_until_closed();
                if (batch_abort() && node->dialog) node->dialog->cancel();
            }
        } else if (interaction().ask(
                       "Breakpoint",
                       formatted("Breakpoint: %s\n\nPress OK to continue, Cancel to stop",
                                 node->caption),
                       Buttons::ok_cancel, Answer::ok) != Answer::ok) {
            // Without a dialog to open (no window, or a transformation without one) the
            // breakpoint waits for the person's answer instead.
            set_batch_abort(true);
        }
        if (batch_abort()) {
            notify_running(node, false);
            return true;
        }
    }

    node->error = false;
    node->error_text.clear();

    Node* input =
        is_top_level(node) || parent == &tree_root() ? nullptr : effective_image_node(parent);
    if (passes_through(node)) {
        if (input) {
            if (image_copy(input->image, node->image)) node->error = true;
        }
        node->needs_run = false;
        node_changed(node, true);
    } else if (input && input->error) {
        (void)fail_node(node, bad_input_image);
        node_changed(node, true);
        finish(node);
        return true;
    } else {
        ArgumentList args = split(node->command_line ? *node->command_line : std::string());
        if (args.count() == 0) {
            show_error("Internal error: no command line");
            notify_running(node, false);
            return true;
        }
        TransformationEntry* entry = find_transformation(args[0]);
        if (!entry || !entry->run) {
            show_error("No such command: %s", args[0]);
            node->error = true;
            notify_running(node, false);
            return true;
        }
        node->error = entry->run(input, node, args) != 0;
        if (node->error && run_superseded()) {
            // Stopped for a newer request that runs next: the window keeps what it shows.
            node->needs_run = true;
            notify_running(node, false);
            return true;
        }
        node->needs_run = false;
        node_changed(node, true);
        refresh_display();
    }
    finish(node);
    return node->error;
}

bool rerun_marked() {
    std::vector<Node*> nodes = all_nodes();
    std::vector<Node*> pending;
    std::unordered_set<const Node*> waiting;
    for (Node* n : nodes) {
        if (n->relation == relation_downstream) {
            pending.push_back(n);
            waiting.insert(n);
        }
    }
    bool ran = true;
    while (ran) {
        ran = false;
        for (Node* n : pending) {
            if (!waiting.count(n)) continue;
            bool ready = true;
            for (Node* s : node_sources(n)) {
                if (waiting.count(s)) {
                    ready = false;
                    break;
                }
            }
            if (!ready) continue;
            (void)run_node(n->parent, n);
            waiting.erase(n);
            ran = true;
        }
    }
    bool cycle = check_cycles();
    for (Node* n : nodes) {
        n->relation = relation_none;
        n->queued = false;
        n->done = false;
    }
    return cycle;
}

}  // namespace tessaly
