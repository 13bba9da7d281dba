#include "shell/image_view.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <memory>

#include "color/color_settings.h"
#include "color/profiles.h"
#include "core/format.h"
#include "core/interaction.h"
#include "framework/node.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "tree/tree.h"
#include "workspace/preferences.h"
#include "workspace/session_state.h"
#include "workspace/theme.h"

namespace tessaly::shell {

namespace {
constexpr double view_zoom_step = 1.4142135623730951;  // two steps double the size
constexpr double fine_zoom_step = 1.0905077326652577;  // eight steps double the size
constexpr double view_zoom_min = 1.0 / 64;
constexpr double view_zoom_max = 64.0;
// Pictures below this many pixels are drawn from themselves at any zoom.
constexpr qint64 level_threshold = 4 << 20;
// Halving stops at this side.
constexpr int level_min_side = 256;

// Turning proofing on when it cannot show anything says why; true when it can.
bool proofing_possible() {
    if (!role_profile_set(ProfileRole::proofing)) {
        show_warning("No proofing device profile is set: choose one under File, Color Management");
        return false;
    }
    if (!color_settings().enabled || !role_profile_set(ProfileRole::monitor)) {
        show_warning(
            "Proofing needs color management enabled and a monitor profile: set them under File, "
            "Color Management");
        return false;
    }
    return true;
}

// The current picture is made again with the display state as it now stands.
void redisplay() {
    if (Node* node = current_node()) node_changed(node, false);
}

}  // namespace

ImageView::ImageView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    proofing_ = display_proofing();
    gamut_alarm_ = color_settings().gamut_alarm != 0;
}

void ImageView::set_picture(QImage picture, bool fit) {
    picture_ = std::move(picture);
    size_ = full_size(picture_);
    levels_.clear();
    latest_->store(++generation_);
    if (fit) {
        zoom_ = fitted_zoom();
        fitted_ = true;
    }
    update_ranges();
    // The whole picture is asked for once the preview is on the screen, so that making it does
    // not hold up the preview's first paint.
    whole_pending_ = picture_.size() != size_;
    if (!whole_pending_) make_levels();
    viewport()->update();
}

// The engine makes the whole picture of the image a preview stands for: the current node's, as
// the preview was, unless another picture came meanwhile.
void ImageView::make_whole_picture() {
    auto* frame = qobject_cast<FrameWindow*>(window());
    if (!frame) return;
    auto whole = std::make_shared<QImage>();
    frame->engine().submit(
        [whole, latest = latest_, generation = generation_] {
            // A picture that came meanwhile (the next change in a dialog) makes this one moot.
            if (latest->load() != generation) return;
            const Node* node = current_node();
            const Node* shown = node ? effective_image_node(node) : nullptr;
            if (shown && shown->image.has_pixels()) *whole = display_picture(shown->image);
        },
        [view = QPointer<ImageView>(this), generation = generation_, whole] {
            if (!view || view->generation_ != generation || whole->size() != view->size_) return;
            view->picture_ = std::move(*whole);
            view->make_levels();
            view->viewport()->update();
        });
}

// The halved copies are made on the engine's thread from the picture (which is shared, not
// copied), and taken only if the picture is still the one shown.
void ImageView::make_levels() {
    if (qint64(picture_.width()) * picture_.height() < level_threshold) return;
    const int generation = generation_;
    auto levels = std::make_shared<std::vector<QImage>>();
    auto work = [source = picture_, levels] {
        const QImage* from = &source;
        while (std::min(from->width(), from->height()) >= 2 * level_min_side) {
            QImage half = halved_picture(*from);
            if (half.isNull()) break;
            levels->push_back(std::move(half));
            from = &levels->back();
        }
    };
    auto* frame = qobject_cast<FrameWindow*>(window());
    if (!frame) {
        work();
        levels_ = std::move(*levels);
        return;
    }
    frame->engine().submit(std::move(work), [view = QPointer<ImageView>(this), generation, levels] {
        if (!view || view->generation_ != generation) return;
        view->levels_ = std::move(*levels);
        view->viewport()->update();
    });
}

double ImageView::fitted_zoom() const {
    if (size_.isEmpty()) return 1.0;
    // The border stays visible around a fitted picture.
    const int border = 2 * std::max(0, preferences().border_width);
    const QSize view = viewport()->size();
    const double zx = double(std::max(1, view.width() - border)) / size_.width();
    const double zy = double(std::max(1, view.height() - border)) / size_.height();
    return std::min({1.0, zx, zy});
}

void ImageView::set_zoom(double zoom) {
    zoom = std::clamp(zoom, view_zoom_min, view_zoom_max);
    fitted_ = zoom == fitted_zoom();
    // Keep the point in the middle of the window where it is.
    const QPointF middle((horizontalScrollBar()->value() + viewport()->width() / 2.0) / zoom_,
                         (verticalScrollBar()->value() + viewport()->height() / 2.0) / zoom_);
    zoom_ = zoom;
    update_ranges();
    horizontalScrollBar()->setValue(int(middle.x() * zoom_ - viewport()->width() / 2.0));
    verticalScrollBar()->setValue(int(middle.y() * zoom_ - viewport()->height() / 2.0));
    viewport()->update();
}

void ImageView::zoom_in() {
    set_zoom(zoom_ * view_zoom_step);
}
void ImageView::zoom_out() {
    set_zoom(zoom_ / view_zoom_step);
}

void ImageView::toggle_zoom() {
    set_zoom(zoom_ == 1.0 ? fitted_zoom() : 1.0);
}

void ImageView::scroll_step(int dx, int dy) {
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + dx * viewport()->width() / 10);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + dy * viewport()->height() / 10);
    viewport()->update();
}

bool ImageView::full_screen() const {
    return window()->isFullScreen();
}

bool ImageView::command(std::uint32_t id) {
    switch (id) {
        case command_fine_zoom_in:
        case command_fine_zoom_out:
            if (full_screen()) {
                set_zoom(id == command_fine_zoom_in ? zoom_ * fine_zoom_step
                                                    : zoom_ / fine_zoom_step);
            }
            return true;
        case command_fill_toggle:
            if (full_screen() && !size_.isEmpty()) {
                // Filling: the picture covers the whole screen, its longer side cut.
                const QSize view = viewport()->size();
                const double fill = std::max(double(view.width()) / size_.width(),
                                             double(view.height()) / size_.height());
                set_zoom(zoom_ == 1.0 ? fill : 1.0);
            }
            return true;
        case command_display_button:
            // Off, proofing, proofing with the gamut alarm, then off again.
            if (!proofing_) {
                set_proofing(true);
            } else if (!gamut_alarm_) {
                set_gamut_alarm(true);
            } else {
                set_gamut_alarm(false);
                set_proofing(false);
            }
            return true;
        case command_display_mode:
            // None, shadows, highlights, both; without an image the state steps all the same.
            display_job([] {
                SessionState& s = session_state();
                const int mode =
                    (s.show_clipped_shadows ? 1 : 0) + (s.show_clipped_highlights ? 2 : 0);
                const int next = (mode + 1) % 4;
                s.show_clipped_shadows = next & 1;
                s.show_clipped_highlights = (next & 2) != 0;
                redisplay();
            });
            return true;
        default:
            return false;
    }
}

void ImageView::display_job(std::function<void()> work) {
    auto* frame = qobject_cast<FrameWindow*>(window());
    auto done = [view = QPointer<ImageView>(this)] {
        if (!view) return;
        view->proofing_ = display_proofing();
        view->gamut_alarm_ = color_settings().gamut_alarm != 0;
        view->viewport()->update();
    };
    if (!frame) {
        work();
        done();
        return;
    }
    frame->run(std::move(work), std::move(done));
}

void ImageView::set_proofing(bool on) {
    display_job([on] {
        if (on == display_proofing() || (on && !proofing_possible())) return;
        set_display_proofing(on);
        redisplay();
    });
}

void ImageView::set_gamut_alarm(bool on) {
    display_job([on] {
        ColorManagementSettings& settings = color_settings();
        if (on && !display_proofing()) {
            if (interaction().ask("Alert", "Proofing is currently disabled. Enable it now?",
                                  Buttons::yes_no, Answer::yes) != Answer::yes ||
                !proofing_possible()) {
                return;
            }
            set_display_proofing(true);
        }
        if ((settings.gamut_alarm != 0) != on) {
            settings.gamut_alarm = on;
            (void)save_color_settings();
        }
        redisplay();
    });
}

void ImageView::set_clip_marks(bool shadows, bool highlights) {
    display_job([shadows, highlights] {
        SessionState& s = session_state();
        s.show_clipped_shadows = shadows;
        s.show_clipped_highlights = highlights;
        redisplay();
    });
}

void ImageView::contextMenuEvent(QContextMenuEvent* event) {
    auto* frame = qobject_cast<FrameWindow*>(window());
    if (frame && frame->engine().busy()) return;  // the state is the engine's while it works
    const SessionState& s = session_state();
    QMenu menu(this);
    auto toggle = [&](const QString& text, bool checked, std::function<void(bool)> act) {
        QAction* a = menu.addAction(text);
        a->setCheckable(true);
        a->setChecked(checked);
        connect(a, &QAction::toggled, this, std::move(act));
    };
    toggle(tr("Enable Proofing"), proofing_, [this](bool on) { set_proofing(on); });
    toggle(tr("Enable Gamut Alarm"), proofing_ && gamut_alarm_,
           [this](bool on) { set_gamut_alarm(on); });
    menu.addSeparator();
    const bool shadows = s.show_clipped_shadows != 0, highlights = s.show_clipped_highlights != 0;
    toggle(tr("Show Clipped Shadows"), shadows,
           [this, highlights](bool on) { set_clip_marks(on, highlights); });
    toggle(tr("Show Clipped Highlights"), highlights,
           [this, shadows](bool on) { set_clip_marks(shadows, on); });
    menu.exec(event->globalPos());
}

void ImageView::update_ranges() {
    const QSize shown(int(std::lround(size_.width() * zoom_)),
                      int(std::lround(size_.height() * zoom_)));
    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, shown.width() - view.width()));
    verticalScrollBar()->setRange(0, std::max(0, shown.height() - view.height()));
    horizontalScrollBar()->setPageStep(view.width());
    verticalScrollBar()->setPageStep(view.height());
}

void ImageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    // A fitted picture stays fitted when the window or the separator moves, as the preference
    // asks by default.
    if (fitted_ && preferences().on_separator_move) zoom_ = fitted_zoom();
    update_ranges();
}

QPointF ImageView::origin() const {
    const QRect view = viewport()->rect();
    const QSizeF shown(size_.width() * zoom_, size_.height() * zoom_);
    // A picture smaller than the window stands in its middle.
    return QPointF(shown.width() < view.width() ? (view.width() - shown.width()) / 2
                                                : -horizontalScrollBar()->value(),
                   shown.height() < view.height() ? (view.height() - shown.height()) / 2
                                                  : -verticalScrollBar()->value());
}

// Pixel centres sit half a pixel in from the pixel's top left corner.
QTransform ImageView::to_view() const {
    const QPointF at = origin();
    return QTransform(zoom_, 0, 0, zoom_, at.x() + 0.5 * zoom_, at.y() + 0.5 * zoom_);
}

QPointF ImageView::to_image(QPointF viewport_point) const {
    const QPointF at = origin();
    return QPointF((viewport_point.x() - at.x()) / zoom_ - 0.5,
                   (viewport_point.y() - at.y()) / zoom_ - 0.5);
}

void ImageView::set_overlay(ImageOverlay* overlay) {
    overlay_ = overlay;
    viewport()->update();
}

void ImageView::mousePressEvent(QMouseEvent* event) {
    if (overlay_ && overlay_->mouse_press(to_image(event->position()), event->button())) {
        viewport()->update();
        return;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void ImageView::mouseMoveEvent(QMouseEvent* event) {
    if (overlay_ && overlay_->mouse_move(to_image(event->position()), event->buttons())) {
        viewport()->update();
        return;
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void ImageView::mouseReleaseEvent(QMouseEvent* event) {
    if (overlay_ && overlay_->mouse_release(to_image(event->position()), event->button())) {
        viewport()->update();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void ImageView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (overlay_ && overlay_->mouse_double_click(to_image(event->position()))) {
        viewport()->update();
        return;
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void ImageView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QRect view = viewport()->rect();
    const ShellColor& background = current_theme().workspace_background;
    painter.fillRect(view, QColor(background.red, background.green, background.blue));
    if (picture_.isNull() || size_.isEmpty()) return;
    const QSizeF shown(size_.width() * zoom_, size_.height() * zoom_);
    const QPointF origin = this->origin();
    // The image border of the preferences, outside the picture.
    const Preferences& p = preferences();
    if (p.border_width > 0) {
        const QRectF whole(origin, shown);
        const double w = p.border_width;
        const QColor border(p.border_color.red, p.border_color.green, p.border_color.blue);
        painter.fillRect(whole.adjusted(-w, -w, w, w).intersected(QRectF(view)), border);
    }
    // Far zoomed out, the halved copy closest above the zoom: a quarter of the pixels or fewer
    // to scale, and no aliasing when scaled smoothly.
    const QImage* source_picture = &picture_;
    for (const QImage& level : levels_) {
        if (double(level.width()) / size_.width() < zoom_) break;
        source_picture = &level;
    }
    const double scale = double(source_picture->width()) / size_.width();
    // Only the visible part of the picture is scaled.
    const QRectF target = QRectF(origin, shown).intersected(QRectF(view));
    const double z = zoom_ / scale;
    const QRectF source((target.left() - origin.x()) / z, (target.top() - origin.y()) / z,
                        target.width() / z, target.height() / z);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth_ || p.smooth_zoom != 0);
    painter.drawImage(target, *source_picture, source);
    if (overlay_) {
        painter.save();
        painter.setClipRect(target);
        overlay_->paint(painter, to_view());
        painter.restore();
    }
    if (whole_pending_) {
        whole_pending_ = false;
        QTimer::singleShot(0, this, [this] { make_whole_picture(); });
    }
    if (proofing_) {
        // Proofing changes every colour: say so where it cannot be missed.
        const QString text = gamut_alarm_ ? tr("Proofing, Gamut Alarm") : tr("Proofing");
        const QRect box = painter.fontMetrics().boundingRect(text).adjusted(-6, -3, 6, 3);
        const QRect at = box.translated(8 - box.left(), 8 - box.top());
        painter.fillRect(at, QColor(0, 0, 0, 160));
        painter.setPen(Qt::white);
        painter.drawText(at, Qt::AlignCenter, text);
    }
}

}  // namespace tessaly::shell
