#include "shell/range_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cstdlib>

namespace tessaly::shell {

namespace {

constexpr int thumb_width = 10;
constexpr int groove_height = 4;

}  // namespace

RangeSlider::RangeSlider(int maximum, QWidget* parent)
    : QWidget(parent), maximum_(std::max(maximum, 1)) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RangeSlider::set_values(int low, int high) {
    low_ = std::clamp(low, 0, maximum_);
    high_ = std::clamp(high, low_, maximum_);
    update();
}

int RangeSlider::position_of(int value) const {
    const int span = std::max(width() - 2 * thumb_width, 1);
    return thumb_width + static_cast<int>(static_cast<long long>(value) * span / maximum_);
}

int RangeSlider::value_at(int x) const {
    const int span = std::max(width() - 2 * thumb_width, 1);
    const long long v = (static_cast<long long>(x - thumb_width) * maximum_ + span / 2) / span;
    return static_cast<int>(std::clamp<long long>(v, 0, maximum_));
}

QSize RangeSlider::sizeHint() const {
    return {200, minimumSizeHint().height()};
}

QSize RangeSlider::minimumSizeHint() const {
    return {6 * thumb_width, std::max(fontMetrics().height(), 18)};
}

void RangeSlider::move_active(int value) {
    const int before_low = low_, before_high = high_;
    if (active_ == 0)
        low_ = std::clamp(value, 0, high_);
    else
        high_ = std::clamp(value, low_, maximum_);
    if (low_ == before_low && high_ == before_high) return;
    update();
    emit moved(low_, high_);
}

void RangeSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const int mid = height() / 2;
    const QRect groove(thumb_width, mid - groove_height / 2, width() - 2 * thumb_width,
                       groove_height);
    p.setPen(pal.color(QPalette::Mid));
    p.setBrush(pal.color(QPalette::Base));
    p.drawRoundedRect(groove, 2, 2);
    // The chosen range between the thumbs.
    const int a = position_of(low_), b = position_of(high_);
    p.setPen(Qt::NoPen);
    p.setBrush(pal.color(isEnabled() ? QPalette::Highlight : QPalette::Mid));
    p.drawRect(QRect(a, groove.top(), b - a, groove.height()));
    // Each thumb is a triangle whose flat side stands on its value and whose point faces away
    // from the range, so that thumbs on one place still tell which is which.
    const int top = 1, bottom = height() - 2;
    for (int which = 0; which < 2; ++which) {
        const int x = which == 0 ? a : b;
        const int tip = which == 0 ? x - thumb_width : x + thumb_width;
        QPainterPath path;
        path.moveTo(x, top);
        path.lineTo(x, bottom);
        path.lineTo(tip, mid);
        path.closeSubpath();
        const bool focused = hasFocus() && which == active_;
        p.setPen(pal.color(focused ? QPalette::Highlight : QPalette::Shadow));
        p.setBrush(pal.color(focused ? QPalette::Highlight : QPalette::Button));
        p.drawPath(path);
    }
}

void RangeSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int x = event->position().toPoint().x();
    const int da = std::abs(x - position_of(low_)), db = std::abs(x - position_of(high_));
    // Thumbs on one place: the side pressed tells which one is meant.
    if (da == db)
        active_ = x < position_of(low_) ? 0 : 1;
    else
        active_ = da < db ? 0 : 1;
    dragging_ = true;
    move_active(value_at(x));
    update();
}

void RangeSlider::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) move_active(value_at(event->position().toPoint().x()));
}

void RangeSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (dragging_ && event->button() == Qt::LeftButton) {
        move_active(value_at(event->position().toPoint().x()));
        dragging_ = false;
    }
}

void RangeSlider::keyPressEvent(QKeyEvent* event) {
    const int step = std::max(maximum_ / 100, 1), page = std::max(maximum_ / 10, 1);
    const int value = active_ == 0 ? low_ : high_;
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Down:
            move_active(value - step);
            break;
        case Qt::Key_Right:
        case Qt::Key_Up:
            move_active(value + step);
            break;
        case Qt::Key_PageDown:
            move_active(value - page);
            break;
        case Qt::Key_PageUp:
            move_active(value + page);
            break;
        case Qt::Key_Home:
            move_active(0);
            break;
        case Qt::Key_End:
            move_active(maximum_);
            break;
        case Qt::Key_Space:  // the other thumb takes the keys
            active_ = 1 - active_;
            update();
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}

}  // namespace tessaly::shell
