// A transformation's dialog made from its module's declaration: one control per setting (spin box
// and slider, check box or drop-down), OK and Cancel. The dialog owns a DialogSession that lives
// on the engine's thread; every change of a control becomes the module's own command line and
// re-runs the node there, a burst of changes running only the last one. Its Settings menu loads
// and saves the module's settings files.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/amount.h"
#include "framework/declaration.h"
#include "masks/amount_control.h"
#include "shell/dialog_panel.h"

class QCheckBox;
class QComboBox;
class QCloseEvent;
class QFormLayout;
class QLabel;
class QMenu;
class QPushButton;
class QSlider;
class QToolButton;
class QWidget;

namespace tessaly {
class DialogSession;
class TransformationModule;
}  // namespace tessaly

namespace tessaly::shell {

class CurveControl;
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
    // Apply: OK without closing. Preview: runs the node now (with auto preview off).
    void apply();
    void preview();
    // The display toggle (the image window shows the node's result, or its input when off) and
    // the auto preview check; null when the module has no such setting.
    QCheckBox* display_box() const { return display_box_; }
    QCheckBox* auto_preview_box() const { return auto_box_; }
    QPushButton* apply_button() const { return apply_button_; }
    QPushButton* preview_button() const { return preview_button_; }
    // The preview buttons the module declares (null for the others): compute the whole result
    // now, the difference view (a toggle: the image window shows how far the result moved from
    // the input, following each new result) and the image window at 2:1.
    QToolButton* run_button() const { return run_button_; }
    QToolButton* delta_button() const { return delta_button_; }
    QToolButton* double_button() const { return double_button_; }
    // The amount control of an amount setting, by key: its first slider (0.1 percent steps),
    // the second one (shown while the mask's amount is set) and the Mask button.
    QSlider* amount_slider(const std::string& key, int which = 0) const;
    QToolButton* mask_button(const std::string& key) const;
    // The mask menu of that control as it would show now (filled for the test's eyes).
    QMenu* mask_menu(const std::string& key);
    // The settings set the controls show (modules with two sets); 0 otherwise.
    int shown_set() const { return shown_set_; }
    // The typing timer: edit fields are re-read and previewed when it fires.
    const QTimer& typing_timer() const { return typing_; }
    bool closing() const { return closing_; }

    // What the tree tells the dialog through its session (on this thread): the session ended
    // elsewhere (the node went, or OK/Cancel came from the tree), and the node ran again with
    // its result to be shown.
    void session_ended();
    void refreshed(bool show_result, const std::string& line);

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
    // The three curves of the set shown and their colour space, as a curves file.
    struct CurvesControls {
        CurveControl* curve[3];
        QComboBox* colorspace;
    };
    std::optional<CurvesControls> curves_file_controls() const;
    void load_curves_file();
    void save_curves_file();
    void save(std::optional<std::string> name);
    void clear_default();
    void changed();
    void send_change();
    void finish(bool ok);
    bool fields_read();
    void run_now(bool apply);  // Apply, or Preview
    void typed();
    void set_display(bool on);
    void set_auto_preview(bool on);
    void build_preview_buttons(QLayout* outer);
    // Runs work on the engine with the session, when it is still open.
    void session_job(std::function<void(DialogSession&)> work);
    void set_difference(bool on);
    void build_amount(const SettingInfo& info, QFormLayout* form);
    void show_amounts(const std::string& line);
    // The amount control's mask menu: its commands, then the images a new mask can start from
    // (gathered from the tree on the engine's thread, so refreshed each time the menu opens).
    void fill_mask_menu(std::size_t index);
    void refresh_mask_sources(std::size_t index);
    // "New mask..." (reopen false), "Re-open Mask Dialog Box" (true), or a mask started from
    // one of the tree's images.
    void start_mask(std::size_t index, bool reopen, std::optional<MaskSourceEntry> from);
    void amount_edited(std::size_t index);
    void show_set(int set);
    void build_buttons(QLayout* outer);

    struct Control {
        SettingInfo info;
        QWidget* widget;
        QWidget* row;  // the form row it sits in
        std::string value() const;
    };

    // An amount setting's control: the settings as last read or edited, its caption, the
    // amount sliders and the Mask button with its menu.
    struct AmountControl {
        SettingInfo info;
        AmountSettings amount;
        QLabel* caption;
        QSlider* first;
        QSlider* second;
        QToolButton* mask;
        std::vector<MaskSourceEntry> sources;
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
    std::vector<AmountControl> amounts_;
    QFormLayout* form_ = nullptr;
    QCheckBox* display_box_ = nullptr;
    QCheckBox* auto_box_ = nullptr;
    QPushButton* apply_button_ = nullptr;
    QPushButton* preview_button_ = nullptr;
    QToolButton* run_button_ = nullptr;
    QToolButton* delta_button_ = nullptr;
    QToolButton* double_button_ = nullptr;
    std::int32_t display_on_ = 1;  // the display value that shows the result
    int shown_set_ = 0;
    QTimer typing_;
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
