// A transformation's dialog made from its module's declaration: one control per setting (spin box
// and slider, check box or drop-down), OK and Cancel. The dialog owns a DialogSession that lives
// on the engine's thread; every change of a control becomes the module's own command line and
// re-runs the node there, a burst of changes running only the last one. Its Settings menu loads
// and saves the module's settings files.
#pragma once

#include <QDialog>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/declaration.h"
#include "shell/dialog_panel.h"

class QCloseEvent;
class QMenu;
class QWidget;

namespace tessaly {
class TransformationModule;
}

namespace tessaly::shell {

class FrameWindow;

class TransformationDialog : public QDialog {
    Q_OBJECT
  public:
    // The settings the dialog shows: the module's, less those it keeps from the command line
    // (texts, amounts, groups, the preview keys).
    static bool has_control(const SettingInfo& info);

    // The control of a setting by its key (tests set values through them); null when the
    // setting has none.
    QWidget* control(const std::string& key) const;
    // The module's own panel; null when it has none.
    DialogPanel* panel() const { return panel_; }
    // The command line the controls make (the last one the module wrote, with the controls'
    // values in front).
    std::string command_line() const;
    // A change, a settings file, OK or Cancel is still on its way to the engine.
    bool waiting() const { return in_flight_ || pending_ || menu_jobs_ > 0; }
    // The serial number of the node the dialog edits.
    std::int32_t node_serial() const { return serial_; }
    // The Settings menu, filled afresh each time it opens (tests call it to see the entries).
    QMenu* settings_menu() const { return menu_; }
    void fill_settings_menu();

    // OK and Cancel as the buttons, Enter, Esc, F1 and F2 do.
    void accept() override;
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    struct Engine;
    friend void open_transformation_dialog(FrameWindow& frame, const TransformationModule& module);
    friend void edit_transformation(FrameWindow& frame);

    // What a menu entry reads into the controls.
    enum class Source { reset, file, ask };

    TransformationDialog(FrameWindow& frame, const TransformationModule& module,
                         std::shared_ptr<Engine> engine, const std::string& line,
                         std::int32_t serial, const PanelInput& input);
    void build(const std::string& line, const PanelInput& input);
    void show_values(const std::string& line);
    void load(Source source, const std::string& name = {});
    void save(std::optional<std::string> name);
    void clear_default();
    void changed();
    void send_change();
    void finish(bool ok);

    struct Control {
        SettingInfo info;
        QWidget* widget;
        std::string value() const;
    };

    FrameWindow& frame_;
    const TransformationModule& module_;
    std::shared_ptr<Engine> engine_;
    std::vector<Control> controls_;
    DialogPanel* panel_ = nullptr;  // the module's own panel, if it has one
    std::string line_;              // the module's last line
    std::int32_t serial_;
    QMenu* menu_ = nullptr;
    int menu_jobs_ = 0;
    bool quiet_ = false;  // the controls are being set from a line, not by the person
    bool in_flight_ = false;
    bool pending_ = false;
    bool closing_ = false;
};

// Opens the dialog of module on the current image: a new node after the current one, starting
// from the "Default" settings or the built-in defaults. An open dialog is first closed with OK.
void open_transformation_dialog(FrameWindow& frame, const TransformationModule& module);

// Edit Transformation: the dialog of the current node with the node's own command line; OK
// re-runs what depends on it, Cancel puts it back. A dialog already open on the node comes to
// the front; another open dialog is first closed with OK.
void edit_transformation(FrameWindow& frame);

// F1 and F2 (OK and Cancel of the open dialog) and Edit Transformation; true when id is one of
// them.
bool transformation_dialog_command(FrameWindow& frame, std::uint32_t id);

}  // namespace tessaly::shell
