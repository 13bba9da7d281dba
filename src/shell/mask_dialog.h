// The mask dialog: the window in which the user builds one mask of one transformation. Its
// editing state (the operation list) lives on the engine's thread; the window shows the mask over
// the picture in the image window, takes the shapes drawn there with the mouse, and after every
// recorded operation rewrites the mask's command line and runs the transformation again.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPointF>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "masks/mask_operations.h"
#include "masks/shape_files.h"
#include "shell/image_view.h"

class QAbstractButton;
class QButtonGroup;
class QMenu;
class QStackedWidget;

namespace tessaly::shell {

class FrameWindow;
class ColorRangePanel;
class SeparatePanel;
class HistogramPanel;
struct PickedPixel;

// Opens (or raises) the mask dialog of mask `slot` (0-based) of node `node_serial`.
void open_mask_dialog(FrameWindow& frame, std::int32_t node_serial, int slot);

// F3 and F4 (Add and Subtract) for the open mask dialog of the current transformation: true when
// id is one of them (whether or not a dialog was open).
bool mask_dialog_command(FrameWindow& frame, std::uint32_t id);

class MaskDialog : public QDialog, public ImageOverlay {
    Q_OBJECT
  public:
    MaskDialog(FrameWindow& frame, std::int32_t node_serial, int slot);
    ~MaskDialog() override;

    std::int32_t node_serial() const { return serial_; }
    int slot() const { return slot_; }
    // A job of the dialog is still on the engine.
    bool waiting() const { return jobs_ > 0; }
    // A tool bar button by its bitmap name ("Mask Rectangle.bmp"); null when there is none.
    QAbstractButton* button(const QString& bitmap) const;
    // The mask as last shown (8-bit gray at the picture's size, top row first).
    const QImage& mask_picture() const { return mask_; }
    const std::optional<MaskOperation>& pending() const { return pending_; }
    std::int32_t tool() const { return tool_; }
    std::int32_t mode() const { return mode_; }

    // The buttons' commands.
    void choose_tool(std::int32_t code);
    // Selects the combine mode; a pending shape is then recorded with it.
    void set_mode(std::int32_t mode);
    // "Perform pending mask operation and update transformation", and the panel tools.
    void perform();
    // The whole-mask buttons.
    void record_command(std::int32_t code);
    void undo();
    void redo();
    void set_overlay_colour(std::int32_t colour);
    void set_overlay_transparency(std::int32_t transparency);

    // The "Settings" menu (the Settings button opens it) and its commands.
    QMenu* settings_menu() const { return menu_; }
    // Mask settings files: a chosen file, or "Default" (tool settings only).
    void load_settings(bool as_default);
    void save_settings(bool as_default);
    void save_mask_image();
    void compute_area();
    void update_transformation();
    void reset_mask();
    // The panels' settings as the dialog holds them (what the next operation takes).
    const MaskToolSettings& tool_settings() const { return settings_; }
    SeparatePanel* separate_panel() const { return separate_panel_; }
    // The settings panel a tool shows (null for a tool without one).
    QWidget* panel(std::int32_t tool) const;

    // The "Load..." and "Save..." of the shape and gradient tools: a loaded shape becomes the
    // pending shape; the pending shape of the kind is what is saved.
    void load_shape(ShapeFileKind kind);
    void save_shape(ShapeFileKind kind);

    // The transformation or the mask went away: closes without touching the mask.
    void abandon();
    void accept() override;
    void reject() override;

    // ImageOverlay
    void paint(QPainter& painter, const QTransform& to_view) override;
    bool mouse_press(QPointF at, Qt::MouseButton button) override;
    bool mouse_move(QPointF at, Qt::MouseButtons buttons) override;
    bool mouse_release(QPointF at, Qt::MouseButton button) override;
    bool mouse_double_click(QPointF at) override;

    struct Engine;

  private:
    void build_tool_bars();
    QWidget* build_panels();
    void build_settings_menu();
    // Settings read on the engine replace the panels' values: the panels are made again.
    void adopt_settings(const MaskToolSettings& settings);
    // The colour of the base picture under an image point, handed to done on this thread.
    void pick(QPointF at, std::function<void(const PickedPixel&)> done);
    // Runs work on the engine with the dialog's state, then shows the mask it left.
    void job(std::function<void(Engine&)> work, std::function<void()> done = {});
    void show_result();
    void record(MaskOperation operation);
    // Asks "Finalize pending mask operation?" when a shape is pending; Yes records it.
    void finalize_pending();
    void finish(bool keep);

    FrameWindow& frame_;
    std::int32_t serial_;
    int slot_;
    std::shared_ptr<Engine> engine_;
    int jobs_ = 0;
    bool closing_ = false;
    std::int32_t tool_ = mask_op_rectangle;
    std::int32_t mode_ = mask_add;
    std::int32_t colour_ = 0;
    std::int32_t transparency_ = 2;
    MaskToolSettings settings_;  // the panels' values, handed to the engine with each operation
    QImage mask_;
    QImage tinted_;
    std::optional<MaskOperation> pending_;
    bool drawing_ = false;
    std::map<QString, QAbstractButton*> buttons_;
    QButtonGroup* tools_group_ = nullptr;
    QButtonGroup* modes_group_ = nullptr;
    QStackedWidget* panels_ = nullptr;
    std::map<std::int32_t, int> panel_of_tool_;
    QMenu* menu_ = nullptr;
    ColorRangePanel* range_panel_ = nullptr;
    SeparatePanel* separate_panel_ = nullptr;
    HistogramPanel* histogram_panel_ = nullptr;
};

}  // namespace tessaly::shell
