#include "transformations/bypass.h"

#include <string>
#include <utility>
#include <vector>

#include "core/format.h"
#include "core/interaction.h"
#include "framework/module.h"
#include "framework/registry.h"
#include "tree/tree.h"

namespace tessaly {

Node* insert_bypass(Node* current) {
    if (!current) return nullptr;
    Node* followed = effective_image_node(current);
    Node* bypass =
        add_transformation_after(current, true, false, 0, 0, bypass_structural, bypass_caption);
    if (!bypass) return nullptr;
    if (image_copy(followed->image, bypass->image)) {
        if (!remove_node(bypass)) destroy_node(bypass);
        return nullptr;
    }
    bypass->command_line = bypass_command_line;

    // Users moved onto the Bypass node see whatever is inserted above it later.
    std::vector<std::pair<Node*, std::size_t>> slots;
    for (Node* n : all_nodes()) {
        if (n->kind != node_image) continue;
        for (std::size_t i = 0; i < n->inputs.size(); ++i) {
            if (n->inputs[i] == followed) slots.emplace_back(n, i);
        }
    }
    if (!slots.empty()) {
        const std::string question =
            slots.size() == 1
                ? formatted("Update auxiliary input in [%s] that refers to bypassed image",
                            describe_node(slots.front().first).display_name)
                : formatted("Update all %d auxiliary inputs that refer to bypassed image",
                            static_cast<int>(slots.size()));
        if (interaction().ask("Confirm", question, Buttons::yes_no, Answer::yes) == Answer::yes) {
            for (auto& [user, slot] : slots) user->inputs[slot] = bypass;
            refresh_display();
        }
    }
    set_current_node(bypass, -1);
    node_changed(bypass, true);
    (void)rerun_downstream(bypass, true);
    return bypass;
}

namespace {

struct Settings {};

// The node's image is its input's, given by whoever runs a pass-through node.
std::uint8_t run(TransformationContext<Settings>& ctx) {
    ctx.node->error = false;
    return 0;
}

// The menu case only: the row's no-edit flag keeps the edit case away.
std::uint8_t menu_command(Node* node, const ArgumentList* args) {
    if (!args) (void)insert_bypass(node);
    return 0;
}

const Registered<Settings> bypass{{
    .keyword = "bypass",
    .version = nullptr,
    .types = types_any,
    .reads_binary = true,
    .run = run,
    .dialog_entry = menu_command,
}};

}  // namespace

}  // namespace tessaly
