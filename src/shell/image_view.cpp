#include "shell/image_view.h"

#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "color/display.h"
#include "color/profiles.h"
#include "core/image.h"
#include "workspace/preferences.h"
#include "workspace/theme.h"

namespace tessaly::shell {

namespace {
constexpr double view_zoom_step = 1.4142135623730951;  // two steps double the size
constexpr double view_zoom_min = 1.0 / 64;
constexpr double view_zoom_max = 64.0;
}  // namespace

QImage display_picture(const Image& image) {
    if (!image.has_pixels() || image.width == 0 || image.height == 0) return {};
    const DisplaySettings settings = current_display_settings(false);
    DisplayTransform transform;
    if (settings.color_management && build_display_transform(image, settings, transform)) {
        return {};
    }
    Image buffer;
    if (display_convert(image, 0, 0, image.width - 1, image.height - 1, &transform, nullptr,
                        buffer)) {
        return {};
    }
    QImage picture(static_cast<int>(buffer.width), static_cast<int>(buffer.height),
                   QImage::Format_BGR888);
    if (picture.isNull()) return {};
    const std::size_t bytes = std::size_t(buffer.width) * 3;
    for (std::uint32_t y = 0; y < buffer.height; ++y) {
        std::memcpy(picture.scanLine(static_cast<int>(y)), buffer.row(buffer.height - 1 - y),
                    bytes);
    }
    return picture;
}

QImage display_thumbnail(const Image& image, int side) {
    const QImage picture = display_picture(image);
    if (picture.isNull()) return {};
    return picture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

ImageView::ImageView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
}

void ImageView::set_picture(QImage picture, bool fit) {
    picture_ = std::move(picture);
    if (fit) zoom_ = fitted_zoom();
    update_ranges();
    viewport()->update();
}

double ImageView::fitted_zoom() const {
    if (picture_.isNull()) return 1.0;
    // The border stays visible around a fitted picture.
    const int border = 2 * std::max(0, preferences().border_width);
    const QSize view = viewport()->size();
    const double zx = double(std::max(1, view.width() - border)) / picture_.width();
    const double zy = double(std::max(1, view.height() - border)) / picture_.height();
    return std::min({1.0, zx, zy});
}

void ImageView::set_zoom(double zoom) {
    zoom = std::clamp(zoom, view_zoom_min, view_zoom_max);
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

void ImageView::update_ranges() {
    const QSize shown(int(std::lround(picture_.width() * zoom_)),
                      int(std::lround(picture_.height() * zoom_)));
    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, shown.width() - view.width()));
    verticalScrollBar()->setRange(0, std::max(0, shown.height() - view.height()));
    horizontalScrollBar()->setPageStep(view.width());
    verticalScrollBar()->setPageStep(view.height());
}

void ImageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    update_ranges();
}

void ImageView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QRect view = viewport()->rect();
    const ShellColor& background = current_theme().workspace_background;
    painter.fillRect(view, QColor(background.red, background.green, background.blue));
    if (picture_.isNull()) return;
    const QSizeF shown(picture_.width() * zoom_, picture_.height() * zoom_);
    // A picture smaller than the window stands in its middle.
    const QPointF origin(shown.width() < view.width() ? (view.width() - shown.width()) / 2
                                                      : -horizontalScrollBar()->value(),
                         shown.height() < view.height() ? (view.height() - shown.height()) / 2
                                                        : -verticalScrollBar()->value());
    // Only the visible part of the picture is scaled.
    const QRectF target = QRectF(origin, shown).intersected(QRectF(view));
    const QRectF source((target.left() - origin.x()) / zoom_, (target.top() - origin.y()) / zoom_,
                        target.width() / zoom_, target.height() / zoom_);
    // The image border of the preferences, outside the picture.
    const Preferences& p = preferences();
    if (p.border_width > 0) {
        const QRectF whole(origin, shown);
        const double w = p.border_width;
        const QColor border(p.border_color.red, p.border_color.green, p.border_color.blue);
        painter.fillRect(whole.adjusted(-w, -w, w, w).intersected(QRectF(view)), border);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth_);
    painter.drawImage(target, picture_, source);
}

}  // namespace tessaly::shell
