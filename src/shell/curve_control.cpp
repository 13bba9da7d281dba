#include "shell/curve_control.h"

#include <QActionGroup>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "core/curve_files.h"
#include "core/format.h"
#include "core/interaction.h"

namespace tessaly::shell {

namespace {

constexpr double margin = 8.0;
constexpr double handle_reach = 6.0;    // pixels from a handle that still grab it
constexpr double drop_distance = 40.0;  // pixels outside the grid that drop a dragged point

int coordinate(double v) {
    return std::clamp(static_cast<int>(std::lround(v)), 0, 255);
}

FileChoice curve_file_choice(const char* title) {
    FileChoice choice;
    choice.title = title;
    choice.filter_name = "Curve Files";
    choice.patterns = {"*.curve", "*.crv"};
    return choice;
}

}  // namespace

CurveControl::CurveControl(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    menu_ = new QMenu(this);
    styles_ = new QActionGroup(this);
    const char* style_names[] = {"Stair Step", "Broken Line", "Smooth Curve", "Gamma Curve"};
    for (std::int32_t style = curve_step; style <= curve_gamma; ++style) {
        QAction* item =
            menu_->addAction(style_names[style], this, [this, style] { set_style(style); });
        item->setCheckable(true);
        item->setData(style);
        styles_->addAction(item);
    }
    menu_->addSeparator();
    menu_->addAction("Inverse", this, &CurveControl::invert);
    menu_->addAction("Exact Compose with...", this, [this] { compose(true); });
    menu_->addAction("Approximate Compose with...", this, [this] { compose(false); });
    menu_->addSeparator();
    menu_->addAction("Load Curve...", this, &CurveControl::load);
    menu_->addAction("Save Curve...", this, &CurveControl::save);

    button_ = new QToolButton(this);
    button_->setText("Curve");
    button_->setMenu(menu_);
    button_->setPopupMode(QToolButton::InstantPopup);
    button_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button_->adjustSize();
    refresh_table();
}

int CurveControl::strip_height() const {
    return button_ ? button_->sizeHint().height() + 4 : 0;
}

void CurveControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    button_->move(static_cast<int>(grid().left()), 1);
}

void CurveControl::take(const Curve& curve) {
    curve_ = curve;
    dragged_ = -1;
    refresh_table();
    emit changed(curve_);
}

void CurveControl::set_style(std::int32_t style) {
    if (style == curve_.style) return;
    Curve styled = curve_;
    styled.style = style;
    take(styled);
}

void CurveControl::invert() {
    Curve inverse = curve_;
    if (!curve_invert(inverse)) take(inverse);
}

std::optional<std::string> CurveControl::choose_curve_file(const char* title) const {
    return interaction().choose_open_file(curve_file_choice(title));
}

void CurveControl::compose(bool exact) {
    const auto path = choose_curve_file(exact ? "Exact Compose with" : "Approximate Compose with");
    if (!path) return;
    Curve loaded;
    if (load_curve_file(*path, loaded)) return;
    std::uint8_t first[256], composed[256];
    curve_table8(loaded, first);
    for (int v = 0; v < 256; ++v) composed[v] = table_[first[v]];
    take(curve_fit_table(composed, exact ? 0 : 2));
}

void CurveControl::load() {
    const auto path = choose_curve_file("Load Curve");
    if (!path) return;
    Curve loaded;
    if (load_curve_file(*path, loaded)) return;
    take(loaded);
}

void CurveControl::save() {
    FileChoice choice = curve_file_choice("Save Curve");
    choice.patterns = {"*.curve"};
    // A name without the extension is refused and offered again with it appended.
    for (;;) {
        const auto path = interaction().choose_save_file(choice);
        if (!path) return;
        if (!check_curve_extension(*path)) {
            (void)save_curve_file(*path, curve_);
            return;
        }
        choice.suggested_name = *path + ".curve";
    }
}

void CurveControl::set_curve(const Curve& curve) {
    curve_ = curve;
    if (!curve_is_valid(curve_)) curve_reset(curve_);
    dragged_ = -1;
    refresh_table();
}

void CurveControl::refresh_table() {
    curve_table8(curve_, table_);
    for (QAction* item : styles_->actions()) item->setChecked(item->data().toInt() == curve_.style);
    update();
}

QRectF CurveControl::grid() const {
    const double top = std::max(margin, double(strip_height()));
    const double side = std::max(1.0, std::min(width() - 2 * margin, height() - top - margin));
    return {(width() - side) / 2, top, side, side};
}

QPointF CurveControl::to_widget(double x, double y) const {
    const QRectF g = grid();
    return {g.left() + x / 255.0 * g.width(), g.bottom() - y / 255.0 * g.height()};
}

QPointF CurveControl::to_curve(const QPointF& at) const {
    const QRectF g = grid();
    return {(at.x() - g.left()) / g.width() * 255.0, (g.bottom() - at.y()) / g.height() * 255.0};
}

int CurveControl::handle_at(const QPointF& at) const {
    int best = -1;
    double nearest = handle_reach;
    for (int i = 0; i < curve_.npts; ++i) {
        const QPointF d = to_widget(curve_.x[i], curve_.y[i]) - at;
        const double distance = std::max(std::abs(d.x()), std::abs(d.y()));
        if (distance <= nearest) {
            nearest = distance;
            best = i;
        }
    }
    return best;
}

void CurveControl::insert_point(int index, int x, int y) {
    for (int i = curve_.npts; i > index; --i) {
        curve_.x[i] = curve_.x[i - 1];
        curve_.y[i] = curve_.y[i - 1];
    }
    curve_.x[index] = x;
    curve_.y[index] = y;
    ++curve_.npts;
    refresh_table();
}

void CurveControl::remove_point(int index) {
    for (int i = index; i + 1 < curve_.npts; ++i) {
        curve_.x[i] = curve_.x[i + 1];
        curve_.y[i] = curve_.y[i + 1];
    }
    --curve_.npts;
    refresh_table();
}

void CurveControl::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    const int hit = handle_at(at);
    if (event->button() == Qt::RightButton) {
        // The ends stay: the curve's domain is theirs.
        if (hit > 0 && hit < curve_.npts - 1) {
            remove_point(hit);
            emit changed(curve_);
        }
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    if (hit >= 0) {
        dragged_ = hit;
        update();
        return;
    }
    // Empty space: a new point on the curve at this input, dragged from there.
    const int x = coordinate(to_curve(at).x());
    const int last = curve_.npts - 1;
    if (x <= curve_.x[0] || x >= curve_.x[last] || curve_.npts >= curve_max_points) return;
    int index = 1;
    while (curve_.x[index] < x) ++index;
    if (curve_.x[index] == x) {
        dragged_ = index;
        update();
        return;
    }
    insert_point(index, x, table_[x]);
    dragged_ = index;
    emit changed(curve_);
}

void CurveControl::mouseMoveEvent(QMouseEvent* event) {
    if (dragged_ < 0) return;
    const QPointF at = event->position();
    const int i = dragged_;
    const bool end = i == 0 || i == curve_.npts - 1;
    const QRectF far =
        grid().adjusted(-drop_distance, -drop_distance, drop_distance, drop_distance);
    if (!end && !far.contains(at)) {
        dragged_ = -1;
        remove_point(i);
        emit changed(curve_);
        return;
    }
    const QPointF c = to_curve(at);
    int x = curve_.x[i];
    if (!end) x = std::clamp(coordinate(c.x()), curve_.x[i - 1] + 1, curve_.x[i + 1] - 1);
    const int y = coordinate(c.y());
    if (x == curve_.x[i] && y == curve_.y[i]) return;
    curve_.x[i] = x;
    curve_.y[i] = y;
    refresh_table();
    emit changed(curve_);
}

void CurveControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragged_ = -1;
    update();
}

void CurveControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF g = grid();
    const QPalette& colours = palette();
    painter.fillRect(g, colours.color(QPalette::Base));

    QPen line(colours.color(QPalette::Mid), 1.0);
    painter.setPen(line);
    for (int q = 1; q < 4; ++q) {
        const double f = q / 4.0;
        painter.drawLine(QPointF(g.left() + f * g.width(), g.top()),
                         QPointF(g.left() + f * g.width(), g.bottom()));
        painter.drawLine(QPointF(g.left(), g.top() + f * g.height()),
                         QPointF(g.right(), g.top() + f * g.height()));
    }
    line.setStyle(Qt::DotLine);
    painter.setPen(line);
    painter.drawLine(g.bottomLeft(), g.topRight());
    painter.setPen(QPen(colours.color(QPalette::Dark), 1.0));
    painter.drawRect(g);

    QPainterPath path(to_widget(0, table_[0]));
    for (int v = 1; v < 256; ++v) path.lineTo(to_widget(v, table_[v]));
    painter.setClipRect(g.adjusted(-1, -1, 1, 1));
    painter.setPen(QPen(colours.color(QPalette::Text), 1.5));
    painter.drawPath(path);
    painter.setClipping(false);

    painter.setPen(QPen(colours.color(QPalette::Text), 1.0));
    for (int i = 0; i < curve_.npts; ++i) {
        const QPointF at = to_widget(curve_.x[i], curve_.y[i]);
        const QRectF handle(at.x() - 3.5, at.y() - 3.5, 7.0, 7.0);
        painter.setBrush(i == dragged_ ? colours.color(QPalette::Highlight)
                                       : colours.color(QPalette::Base));
        painter.drawRect(handle);
    }
}

}  // namespace tessaly::shell
