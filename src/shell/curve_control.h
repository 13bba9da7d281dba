// The curve control of the transformation dialogs: the curve on a square grid (input 0..255
// across, output 0..255 up) with its points as handles. Dragging a point moves it (its x kept
// between its neighbours, the ends keeping theirs); a click on empty space puts a new point on
// the curve there and drags it; a right click, or dragging an inner point far outside, removes it.
// The curve is drawn from the engine's own 8-bit table, so what is seen is what runs.
// A "Curve" button above the grid holds the commands on the whole curve: its style, Inverse,
// composing with a curve file, and loading and saving curve files.
#pragma once

#include <QWidget>
#include <optional>
#include <string>

#include "core/curve.h"

class QMenu;
class QToolButton;
class QActionGroup;

namespace tessaly::shell {

class CurveControl : public QWidget {
    Q_OBJECT
  public:
    explicit CurveControl(QWidget* parent = nullptr);

    const Curve& curve() const { return curve_; }
    // Shows a curve without emitting changed; an invalid one shows the identity.
    void set_curve(const Curve& curve);

    // Where a curve coordinate (0..255 each way) lies in the widget.
    QPointF to_widget(double x, double y) const;

    // The "Curve" menu (also reached through the button above the grid).
    QMenu* menu() const { return menu_; }

    // The menu's commands; each change emits changed as a drag does.
    void set_style(std::int32_t style);
    void invert();
    // Composes with a curve file chosen in a file dialog: the file's curve first, then this one.
    void compose(bool exact);
    void load();
    void save();

    QSize sizeHint() const override { return {260, 260 + strip_height()}; }
    QSize minimumSizeHint() const override { return {200, 200 + strip_height()}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width + strip_height(); }

  signals:
    // The person changed the points.
    void changed(const tessaly::Curve& curve);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QRectF grid() const;
    // Curve coordinates of a widget position, not clamped.
    QPointF to_curve(const QPointF& at) const;
    // The point whose handle is under a widget position, or -1.
    int handle_at(const QPointF& at) const;
    void insert_point(int index, int x, int y);
    void remove_point(int index);
    void refresh_table();
    // The height above the grid that the menu button takes.
    int strip_height() const;
    // A curve file chosen in an open dialog, or nothing when cancelled.
    std::optional<std::string> choose_curve_file(const char* title) const;
    // Shows a curve that a command made and tells the dialog.
    void take(const Curve& curve);

    Curve curve_;
    std::uint8_t table_[256];
    int dragged_ = -1;
    QToolButton* button_ = nullptr;
    QMenu* menu_ = nullptr;
    QActionGroup* styles_ = nullptr;
};

}  // namespace tessaly::shell
