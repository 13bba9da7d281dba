// The window-independent half of a transformation dialog: creating or taking over the node,
// the settings snapshot, running on changes, and what OK, Apply and Cancel do to the tree. The
// desktop program's dialog windows own one session each and only add the controls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/arguments.h"
#include "framework/module.h"
#include "framework/node.h"
#include "framework/settings_files.h"

namespace tessaly {

// What a session needs to know about its transformation.
struct TransformationEntry;

struct DialogModuleInfo {
    std::string keyword;
    SettingsName settings;
    bool same_size = true;
    bool size_specific = false;
    // The output may differ in size from the input or replaces the image (Resize, Crop, ...):
    // opening asks first when something downstream depends on the image size.
    bool replaces_image = false;
    // The dialog makes a new top level image, with or without a current image.
    bool top_level = false;
    // Parses a command line into the dialog's settings; true on failure. Used when Cancel
    // restores the command line of the snapshot.
    std::function<bool(const ArgumentList&)> reparse;
    // The built-in defaults as a command line (after a failed re-parse).
    std::function<std::string()> defaults;
    // The input changed type while the dialog was open: rewrites the line when settings no
    // longer fit (true then).
    std::function<bool(std::string& line, std::uint32_t previous_type, std::uint32_t current_type)>
        input_switched;
};

// The view of a registered module: keyword, settings files and traits from its declaration;
// re-parsing checks a command line with the module's own reader; the defaults are its default
// command line. A dialog that keeps settings of its own wraps reparse.
DialogModuleInfo dialog_module_info(const TransformationModule& module);

// What the tree's notifications mean for the window that shows a session. Called on the engine's
// thread: a window hands each over to its own.
class DialogWindow {
  public:
    virtual ~DialogWindow() = default;
    virtual void raise() = 0;
    // The session ended without the window asking (OK or Cancel from the tree, or the node was
    // removed): the window closes without sending anything more.
    virtual void session_ended() = 0;
    // The node ran again if it needed to (its input changed, or it is current again); outside a
    // batch and unless the node is bypassed the window shows the node's result again.
    // line is the node's command line, rewritten when the new input asked for it.
    virtual void refreshed(bool show_result, const std::string& line) = 0;
    // Another node became current (false), or this one again (true).
    virtual void set_active(bool active) = 0;
};

class DialogSession {
  public:
    // The menu case: a new node after the current node, starting from initial_command_line (the
    // "Default" settings or the built-in defaults). null when there is no current node, the node
    // could not be made, or the person declined the size warning.
    static std::unique_ptr<DialogSession> open_new(const DialogModuleInfo& info,
                                                   const std::string& initial_command_line,
                                                   bool auto_preview);
    // The edit case: an existing node with its own command line.
    static std::unique_ptr<DialogSession> open_existing(const DialogModuleInfo& info, Node* node,
                                                        bool auto_preview);

    ~DialogSession();

    // Registers the session as the node's open dialog: from then on the tree's notifications
    // (input changed, OK or Cancel from elsewhere, removal, another node current) reach it, and
    // through it the window.
    void attach(std::shared_ptr<DialogWindow> window);

    Node* node() const { return node_; }
    bool closed() const { return closed_; }
    bool applied() const { return applied_; }
    bool unchanged() const { return unchanged_; }
    bool editing_existing() const { return existing_; }

    // A control changed the settings: stores the new command line and runs at once with auto
    // preview (unless the node is bypassed), else marks the node as needing a run.
    void settings_changed(const std::string& command_line);
    void set_auto_preview(bool on) { auto_preview_ = on; }
    bool auto_preview() const { return auto_preview_; }
    // Preview: runs the node now. true when the run failed.
    bool run();
    // OK and Apply. true when the run failed (the dialog closes on OK all the same).
    bool ok();
    bool apply();
    // Cancel, Esc or closing the window: true when the dialog closed, false when the person
    // chose to keep it open.
    bool cancel();

  private:
    struct MaskSnapshot {
        bool present = false;
        std::int32_t source_serial = -1;
        std::string command_line;
        std::int32_t initial_level = 0;
    };

    DialogSession(const DialogModuleInfo& info, Node* node, bool existing, bool auto_preview);
    static std::unique_ptr<DialogSession> open_top_level(const DialogModuleInfo& info,
                                                         const TransformationEntry& entry,
                                                         const std::string& initial_line,
                                                         bool auto_preview);
    void take_snapshot();
    bool differs_from_snapshot() const;
    void restore_snapshot();
    bool accept();
    void finish();
    // The node forgets the session (it stays attached to nothing).
    void detach();
    // Runs the node if it needs it: after a change of its input, and when it is current again.
    void refresh();
    // The type of the node's input picture now (0 without one).
    std::uint32_t input_type() const;
    // The input changed: a change of type may change the settings.
    void take_input();
    class Handle;

    DialogModuleInfo info_;
    Node* node_;
    // A new top level image: the serial of the node that was current before it (-1 none), found
    // again on Cancel since it may have gone meanwhile.
    std::int32_t previous_serial_ = -1;
    bool existing_;
    bool auto_preview_;
    bool closed_ = false;
    bool applied_ = false;
    bool unchanged_ = false;
    bool bypass_at_open_ = false;
    bool ran_since_apply_ = false;
    std::string snapshot_command_line_;
    std::vector<std::int32_t> snapshot_inputs_;
    std::vector<MaskSnapshot> snapshot_masks_;
    std::uint32_t input_type_ = 0;  // the input's type when last seen
    std::unique_ptr<Handle> handle_;
    std::shared_ptr<DialogWindow> window_;
};

}  // namespace tessaly
