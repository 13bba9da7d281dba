#include "tree/dialog_session.h"

#include "core/format.h"
#include "core/interaction.h"
#include "framework/registry.h"
#include "framework/transformation.h"
#include "tree/edit.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly {

namespace {

constexpr const char* size_warning =
    "One or more downstream images depend on the size of the current image.\n\nAfter replacing the "
    "current image with a new image, check for any downstream transformations such as retouching "
    "tools or masks that may not work as intended with the new image.";

// true when something downstream of node depends on the size of its image.
bool downstream_size_dependent(Node* node) {
    select_node(node);
    bool found = false;
    walk([&](Node* n) {
        if (n != node && n->relation == relation_downstream && is_size_dependent(n)) found = true;
        return found;
    });
    clear_relation_marks();
    return found;
}

// Asks before a transformation that replaces the image is put above size-dependent nodes.
bool declined_size_warning(const DialogModuleInfo& info, Node* node) {
    if (!info.replaces_image || !downstream_size_dependent(node)) return false;
    return interaction().ask("Alert", size_warning, Buttons::ok_cancel, Answer::ok) != Answer::ok;
}

}  // namespace

DialogModuleInfo dialog_module_info(const TransformationModule& module) {
    DialogModuleInfo info;
    info.keyword = module.keyword();
    info.settings = module.settings_name();
    const DialogTraits traits = module.dialog_traits();
    info.same_size = traits.same_size;
    info.size_specific = traits.size_specific;
    info.replaces_image = traits.replaces_image;
    info.top_level = traits.top_level;
    const TransformationModule* m = &module;
    info.reparse = [m](const ArgumentList& args) {
        std::string written;
        return m->normalise(args, nullptr, nullptr, written);
    };
    info.defaults = [m] { return m->default_command_line(); };
    info.input_switched = [m](std::string& line, std::uint32_t previous, std::uint32_t current) {
        return m->input_switched(line, previous, current);
    };
    return info;
}

// The tree's side of an open dialog: each notification becomes what the session does with it.
class DialogSession::Handle : public DialogHandle {
  public:
    explicit Handle(DialogSession& session) : s_(session) {}
    void raise() override {
        if (s_.window_) s_.window_->raise();
    }
    void input_changed(Node*) override {
        s_.take_input();
        refreshed();
    }
    void press_ok() override {
        if (s_.closed_) return;
        (void)s_.ok();
        ended();
    }
    void cancel() override {
        if (!s_.closed_ && s_.cancel()) ended();
    }
    void close_without_running() override {
        // The tree has already let go of this handle and is about to free the node.
        s_.closed_ = true;
        s_.node_ = nullptr;
        ended();
    }
    void deactivate() override {
        if (s_.window_) s_.window_->set_active(false);
    }
    void activate() override {
        if (s_.window_) s_.window_->set_active(true);
        refreshed();
    }

  private:
    void refreshed() {
        s_.refresh();
        if (!s_.window_ || s_.closed_ || !s_.node_) return;
        s_.window_->refreshed(batch_mode() == 0 && !passes_through(s_.node_),
                              s_.node_->command_line.value_or(std::string()));
    }
    void ended() {
        if (s_.window_) s_.window_->session_ended();
    }
    DialogSession& s_;
};

DialogSession::DialogSession(const DialogModuleInfo& info, Node* node, bool existing,
                             bool auto_preview)
    : info_(info), node_(node), existing_(existing), auto_preview_(auto_preview) {}

DialogSession::~DialogSession() {
    detach();
}

void DialogSession::attach(std::shared_ptr<DialogWindow> window) {
    if (closed_ || !node_) return;
    window_ = std::move(window);
    input_type_ = input_type();
    if (!handle_) handle_ = std::make_unique<Handle>(*this);
    node_->dialog = handle_.get();
}

void DialogSession::detach() {
    if (node_ && handle_ && node_->dialog == handle_.get()) node_->dialog = nullptr;
}

std::uint32_t DialogSession::input_type() const {
    const Node* input = node_ && node_->parent ? effective_image_node(node_->parent) : nullptr;
    return input && input->image.has_pixels() ? input->image.type : 0;
}

void DialogSession::take_input() {
    if (closed_ || !node_) return;
    const std::uint32_t now = input_type();
    if (now == input_type_) return;
    const std::uint32_t before = input_type_;
    input_type_ = now;
    std::string line = node_->command_line.value_or(std::string());
    if (before != 0 && now != 0 && info_.input_switched &&
        info_.input_switched(line, before, now)) {
        node_->command_line = line;
        node_->needs_run = true;
    }
}

void DialogSession::refresh() {
    if (closed_ || !node_ || !node_->needs_run) return;
    (void)run();
}

std::unique_ptr<DialogSession> DialogSession::open_new(const DialogModuleInfo& info,
                                                       const std::string& initial_command_line,
                                                       bool auto_preview) {
    Node* parent = current_node();
    const TransformationEntry* entry = find_transformation(info.keyword);
    if (!entry) return nullptr;
    if (info.top_level) return open_top_level(info, *entry, initial_command_line, auto_preview);
    if (!parent) return nullptr;
    Node* node = add_transformation_after(
        parent, info.same_size, info.size_specific, entry->max_masks < 0 ? 0 : entry->max_masks,
        entry->max_inputs < 0 ? 0 : entry->max_inputs, bypass_none, entry->display_name);
    if (!node) return nullptr;
    node->editing = false;
    if (declined_size_warning(info, node)) {
        if (!remove_node(node)) destroy_node(node);
        set_current_node(parent, -1);
        return nullptr;
    }
    std::unique_ptr<DialogSession> session(new DialogSession(info, node, false, auto_preview));
    session->bypass_at_open_ = passes_through(node);
    session->take_snapshot();
    node->command_line = initial_command_line;
    set_current_node(node, -1);
    if (auto_preview && !passes_through(node)) {
        session->run();
    } else {
        node->needs_run = true;
    }
    return session;
}

std::unique_ptr<DialogSession> DialogSession::open_top_level(const DialogModuleInfo& info,
                                                             const TransformationEntry& entry,
                                                             const std::string& initial_line,
                                                             bool auto_preview) {
    Node* previous = current_node();
    Node* node = create_top_level_image(false, false, entry.max_masks < 0 ? 0 : entry.max_masks,
                                        entry.max_inputs < 0 ? 0 : entry.max_inputs, bypass_none,
                                        entry.display_name, false);
    if (!node) return nullptr;
    node->editing = false;
    std::unique_ptr<DialogSession> session(new DialogSession(info, node, false, auto_preview));
    session->previous_serial_ = previous ? previous->serial : -1;
    session->take_snapshot();
    node->command_line = initial_line;
    set_current_node(node, -1);
    if (auto_preview) {
        session->run();
    } else {
        node->needs_run = true;
    }
    return session;
}

std::unique_ptr<DialogSession> DialogSession::open_existing(const DialogModuleInfo& info,
                                                            Node* node, bool auto_preview) {
    if (!node || !node->command_line) return nullptr;
    if (declined_size_warning(info, node)) return nullptr;
    std::unique_ptr<DialogSession> session(new DialogSession(info, node, true, auto_preview));
    node->editing = true;
    session->bypass_at_open_ = passes_through(node);
    session->take_snapshot();
    session->unchanged_ = true;
    if (batch_mode() == 0) {
        node->needs_run = false;  // the result is the one the settings made
    } else if (auto_preview && !passes_through(node)) {
        session->run();
    } else {
        node->needs_run = true;
    }
    return session;
}

void DialogSession::take_snapshot() {
    snapshot_command_line_ = node_->command_line.value_or(std::string());
    snapshot_inputs_.clear();
    for (const Node* input : node_->inputs) snapshot_inputs_.push_back(input ? input->serial : -1);
    snapshot_masks_.clear();
    for (const auto& mask : node_->masks) {
        MaskSnapshot m;
        m.present = mask->source != nullptr;
        m.source_serial = mask->source ? mask->source->serial : -1;
        m.command_line = mask->command_line;
        m.initial_level = mask->initial_level;
        snapshot_masks_.push_back(m);
    }
}

bool DialogSession::differs_from_snapshot() const {
    if (node_->command_line.value_or(std::string()) != snapshot_command_line_) return true;
    for (std::size_t i = 0; i < node_->inputs.size() && i < snapshot_inputs_.size(); ++i) {
        const Node* input = node_->inputs[i];
        if ((input ? input->serial : -1) != snapshot_inputs_[i]) return true;
    }
    for (std::size_t i = 0; i < node_->masks.size() && i < snapshot_masks_.size(); ++i) {
        const MaskSettings& mask = *node_->masks[i];
        const MaskSnapshot& m = snapshot_masks_[i];
        if ((mask.source != nullptr) != m.present) return true;
        if (mask.source && mask.source->serial != m.source_serial) return true;
        if (mask.command_line != m.command_line) return true;
    }
    return false;
}

void DialogSession::restore_snapshot() {
    node_->command_line = snapshot_command_line_;
    for (std::size_t i = 0; i < node_->inputs.size() && i < snapshot_inputs_.size(); ++i) {
        std::int32_t serial = snapshot_inputs_[i];
        if (serial < 0) {
            node_->inputs[i] = nullptr;
        } else if (Node* input = find_node_by_serial(serial)) {
            node_->inputs[i] = input;
        } else {
            show_error("Cannot restore input image");
        }
    }
    for (std::size_t i = 0; i < node_->masks.size() && i < snapshot_masks_.size(); ++i) {
        MaskSettings& mask = *node_->masks[i];
        const MaskSnapshot& m = snapshot_masks_[i];
        if (!m.present) {
            mask.source = nullptr;
        } else if (Node* source = find_node_by_serial(m.source_serial)) {
            mask.source = source;
        } else {
            show_error("Cannot restore mask image");
        }
        mask.initial_level = m.initial_level;
        mask.command_line = m.command_line;
    }
    if (info_.reparse && info_.reparse(split(snapshot_command_line_))) {
        show_error("Error in command line");
        if (info_.defaults) {
            std::string defaults = info_.defaults();
            (void)info_.reparse(split(defaults));
        }
    }
}

void DialogSession::settings_changed(const std::string& command_line) {
    if (closed_) return;
    node_->command_line = command_line;
    if (auto_preview_ && !passes_through(node_)) {
        run();
    } else {
        node_->needs_run = true;
    }
}

bool DialogSession::run() {
    if (closed_ || !node_) return true;
    unchanged_ = false;
    ran_since_apply_ = true;
    // The node runs here, not through the notification its open dialog would get.
    DialogHandle* attached = node_->dialog;
    node_->dialog = nullptr;
    const bool failed = run_node(node_->parent, node_);
    if (!closed_ && node_) node_->dialog = attached;
    return failed;
}

// OK and Apply share everything but closing.
bool DialogSession::accept() {
    if (closed_) return true;
    std::string command_line = node_->command_line.value_or(std::string());
    (void)save_settings(command_line, std::string("Previous"), info_.settings);
    bool was_bypassed = bypass_at_open_;
    node_->bypass = bypass_none;
    bool failed = false;
    if (node_->needs_run || was_bypassed) failed = run();
    node_changed(node_, true);
    bool breakpoint_in_batch = batch_mode() != 0 && node_->breakpoint;
    if ((ran_since_apply_ || was_bypassed) && !breakpoint_in_batch) {
        (void)rerun_downstream(node_, true);
    }
    autosave();
    ran_since_apply_ = false;
    bypass_at_open_ = false;
    return failed;
}

bool DialogSession::ok() {
    bool failed = accept();
    finish();
    return failed;
}

bool DialogSession::apply() {
    bool failed = accept();
    applied_ = true;
    unchanged_ = true;
    take_snapshot();
    return failed;
}

bool DialogSession::cancel() {
    if (closed_) return true;
    // While the answer is awaited and the node runs again, the tree must not notify us.
    DialogHandle* attached = node_->dialog;
    detach();
    if (batch_mode() != 0) set_batch_abort(true);
    if (existing_) {
        if (differs_from_snapshot()) {
            if (interaction().ask("Confirm", "Abandon changes to settings?", Buttons::ok_cancel,
                                  Answer::ok) != Answer::ok) {
                if (batch_mode() != 0) set_batch_abort(false);
                if (node_) node_->dialog = attached;
                return false;
            }
            restore_snapshot();
            (void)run_node(node_->parent, node_);
            if (applied_) (void)rerun_downstream(node_, true);
        }
        if (batch_mode() != 0) set_batch_abort(false);
        if (passes_through(node_) != bypass_at_open_) refresh_display();
        finish();
        return true;
    }
    // A new node goes again; the image it was added after becomes current.
    if (batch_mode() != 0) set_batch_abort(false);
    Node* parent = node_->parent;
    closed_ = true;
    if (!remove_node(node_)) destroy_node(node_);
    node_ = nullptr;
    // A new top level image gives the current place back to the image that had it.
    if (parent == &tree_root())
        parent = info_.top_level ? find_node_by_serial(previous_serial_) : nullptr;
    set_current_node(parent, -1);
    refresh_display();
    return true;
}

void DialogSession::finish() {
    detach();
    closed_ = true;
    if (node_) node_->editing = false;
    refresh_display();
}

}  // namespace tessaly
