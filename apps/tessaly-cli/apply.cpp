#include "apply.h"

#include <algorithm>

#include "core/arguments.h"
#include "core/format.h"
#include "core/interaction.h"
#include "framework/module.h"
#include "framework/registry.h"
#include "tree/dialog_session.h"
#include "tree/edit.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly::cli {

namespace {

// Takes the messages of a first look at the line, which the run shows again when it reads it.
class FirstLook : public StderrInteraction {
  public:
    Answer message(MessageKind, std::string_view, std::string_view) override {
        troubled = true;
        return Answer::ok;
    }
    bool troubled = false;
};

// A command line that cannot run, or that is malformed, keeps a node all the same: the run
// machinery reports it, and nothing is saved as "Previous", which a dialog would never write
// from such a line.
bool add_failing_node(Node* parent, const TransformationEntry* entry, const std::string& keyword,
                      const std::string& text) {
    const DialogTraits traits =
        entry && entry->module ? entry->module->dialog_traits() : DialogTraits{};
    Node* node = add_transformation_after(parent, traits.same_size, traits.size_specific,
                                          entry ? std::max(entry->max_masks, 0) : 0,
                                          entry ? std::max(entry->max_inputs, 0) : 0, bypass_none,
                                          entry ? std::string(entry->display_name) : keyword);
    if (!node) return true;
    node->command_line = text;
    set_current_node(node, -1);
    const bool failed = run_node(parent, node);
    autosave();
    return failed;
}

}  // namespace

bool apply_command_line(const std::string& text) {
    FirstLook look;
    ArgumentList args;
    {
        ScopedInteraction quiet(look);
        args = split(text);
    }
    if (args.empty()) {
        show_error("Empty command line after --apply");
        return true;
    }
    const std::string keyword(args[0]);
    Node* parent = current_node();
    if (!parent) {
        show_error("No image to apply %s to", keyword);
        return true;
    }
    const TransformationEntry* entry = find_transformation(keyword);
    const TransformationModule* module = entry ? entry->module : nullptr;
    bool readable = module && !look.troubled;
    if (readable) {
        ScopedInteraction quiet(look);  // the run shows its warnings itself
        std::string written;
        readable = !module->normalise(args, parent, nullptr, written);
    }
    if (!readable) return add_failing_node(parent, entry, keyword, text);
    auto session = DialogSession::open_new(dialog_module_info(*module), text, false);
    // No session: the person declined to put it above images that depend on the size.
    if (!session) return false;
    return session->ok();
}

}  // namespace tessaly::cli
