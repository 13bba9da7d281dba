// The image window: the current image as the display path makes it (the image's profile to the
// monitor's, proofing and the gamut alarm when they are on, clipped pixels marked when asked),
// zoomed and scrolled. Far zoomed out it draws from halved copies, so that a large picture costs
// no more to draw than the window holds and smooth zooming does not alias.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QTransform>
#include <atomic>
#include <memory>
#include <vector>

#include "shell/display_picture.h"

namespace tessaly::shell {

// Commands the image window carries out itself (keys, its context menu).
enum : std::uint32_t {
    command_display_mode = 1080,  // Ctrl+D: the clipped-pixel marks, off/shadows/highlights/both
    command_fine_zoom_in = 1128,  // the second zoom mode, full screen only
    command_fine_zoom_out = 1129,
    command_fill_toggle = 1130,     // 1:1 or filling the screen, full screen only
    command_display_button = 1800,  // Ctrl+B: off, proofing, proofing with the gamut alarm
};

// Something drawn over the picture that also takes the mouse there (the mask dialog's mask and
// the shape being drawn). Points are in picture pixels: x to the right, y down, pixel centres at
// integers.
class ImageOverlay {
  public:
    virtual ~ImageOverlay() = default;
    // to_view maps picture pixels to the window's viewport.
    virtual void paint(QPainter& painter, const QTransform& to_view) = 0;
    // true when the overlay used the event.
    virtual bool mouse_press(QPointF /*at*/, Qt::MouseButton /*button*/) { return false; }
    virtual bool mouse_move(QPointF /*at*/, Qt::MouseButtons /*buttons*/) { return false; }
    virtual bool mouse_release(QPointF /*at*/, Qt::MouseButton /*button*/) { return false; }
    virtual bool mouse_double_click(QPointF /*at*/) { return false; }
};

class ImageView : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit ImageView(QWidget* parent = nullptr);

    // A new picture; fitted to the window when `fit`, else the zoom stays. A preview
    // (window_picture) is shown at once and replaced by the whole picture when the engine has
    // made it.
    void set_picture(QImage picture, bool fit);
    const QImage& picture() const { return picture_; }
    // The size of the image shown, which zoom and scrolling refer to.
    QSize image_size() const { return size_; }
    // The halved copies made so far (each half the one before).
    const std::vector<QImage>& reduced() const { return levels_; }
    double zoom() const { return zoom_; }
    void set_zoom(double zoom);
    // The zoom that shows the whole picture in the window (never above 1).
    double fitted_zoom() const;
    void zoom_in();
    void zoom_out();
    // 1:1 when the zoom is anything else, fitted when it is exactly 1.
    void toggle_zoom();
    // One scroll step (a tenth of the window) in a direction.
    void scroll_step(int dx, int dy);
    // Kept for callers that set it once; the preference is read at every paint.
    void set_smooth(bool smooth) { smooth_ = smooth; }

    // The display commands above; false for any other id.
    bool command(std::uint32_t id);
    // The "Enable Proofing" and "Enable Gamut Alarm" buttons and the clipped-pixel toggles. Each
    // runs on the engine and redraws the current picture; turning the alarm on while proofing is
    // off first asks whether to enable proofing.
    void set_proofing(bool on);
    void set_gamut_alarm(bool on);
    void set_clip_marks(bool shadows, bool highlights);
    // The state as last shown (updated after each of the jobs above).
    bool proofing() const { return proofing_; }
    bool gamut_alarm() const { return gamut_alarm_; }

    // The overlay drawn over the picture (not owned; null for none).
    void set_overlay(ImageOverlay* overlay);
    ImageOverlay* overlay() const { return overlay_; }
    // Picture pixels to viewport points and back, at the present zoom and scroll.
    QTransform to_view() const;
    QPointF to_image(QPointF viewport_point) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void update_ranges();
    void make_levels();
    void make_whole_picture();
    // Runs a display job on the engine (redrawing the current picture after it), or at once
    // when the window stands alone.
    void display_job(std::function<void()> work);
    bool full_screen() const;
    // Where the picture's top left corner stands in the viewport.
    QPointF origin() const;

    QImage picture_;
    QSize size_;
    std::vector<QImage> levels_;
    int generation_ = 0;
    // The same, for jobs on the engine's thread to see that their picture is no longer wanted.
    std::shared_ptr<std::atomic<int>> latest_ = std::make_shared<std::atomic<int>>(0);
    double zoom_ = 1.0;
    bool fitted_ = false;  // the zoom shows the whole picture in the window
    bool smooth_ = false;
    bool whole_pending_ = false;
    bool proofing_ = false;
    bool gamut_alarm_ = false;
    ImageOverlay* overlay_ = nullptr;
};

}  // namespace tessaly::shell
