#include "shell/mask_hue_panels.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QConicalGradient>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>

#include "core/color_models.h"
#include "core/format.h"
#include "core/runner.h"
#include "masks/mask_pixels.h"
#include "masks/mask_select.h"
#include "shell/mask_panels.h"

namespace tessaly::shell {

namespace {

constexpr double full_turn = 360.0;
constexpr std::int32_t scale12 = 4096;

// Hue (degrees) and saturation (percent) of a stored colour in a colour space.
void hue_sat_of(std::uint32_t colour, std::int32_t colorspace, double& hue, double& saturation) {
    const auto r = static_cast<std::int32_t>(colour & 255u);
    const auto g = static_cast<std::int32_t>((colour >> 8) & 255u);
    const auto b = static_cast<std::int32_t>((colour >> 16) & 255u);
    std::int32_t h = 0, s = 0, level = 0;
    (colorspace == colorspace_hsl ? rgb_to_hsl8 : rgb_to_hsv8)(r, g, b, h, s, level);
    hue = h * full_turn / scale12;
    saturation = s * 100.0 / scale12;
}

QColor qcolour(std::uint32_t colour) {
    return QColor(static_cast<int>(colour & 255u), static_cast<int>((colour >> 8) & 255u),
                  static_cast<int>((colour >> 16) & 255u));
}

}  // namespace

std::uint32_t hue_sat_colour(double hue, double saturation, std::int32_t colorspace) {
    const auto h = static_cast<std::int32_t>(
                       std::lround(std::fmod(hue + full_turn, full_turn) * scale12 / full_turn)) %
                   scale12;
    const auto s = static_cast<std::int32_t>(
        std::lround(std::clamp(saturation, 0.0, 100.0) * scale12 / 100.0));
    std::int32_t r = 0, g = 0, b = 0;
    if (colorspace == colorspace_hsl) {
        hsl12_to_rgb8(h, s, scale12 / 2, r, g, b);
    } else {
        hsv12_to_rgb8(h, s, scale12, r, g, b);
    }
    return static_cast<std::uint32_t>(r) | static_cast<std::uint32_t>(g) << 8 |
           static_cast<std::uint32_t>(b) << 16;
}

// --- the picker ---

HueSatPicker::HueSatPicker(HueSatSelection& selection) : selection_(selection) {
    setMinimumSize(120, 120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setCursor(Qt::CrossCursor);
}

QPointF HueSatPicker::centre() const {
    return QPointF(width() / 2.0, height() / 2.0);
}

double HueSatPicker::radius() const {
    return std::max(1.0, std::min(width(), height()) / 2.0 - 6.0);
}

QPointF HueSatPicker::to_widget(double hue, double saturation) const {
    const double a = hue * std::numbers::pi / 180.0;
    const double r = saturation / 100.0 * radius();
    return centre() + QPointF(r * std::cos(a), -r * std::sin(a));
}

void HueSatPicker::hue_sat_at(QPointF at, double& hue, double& saturation) const {
    const QPointF d = at - centre();
    hue = std::atan2(-d.y(), d.x()) * 180.0 / std::numbers::pi;
    if (hue < 0) hue += full_turn;
    saturation = std::min(100.0, std::hypot(d.x(), d.y()) / radius() * 100.0);
}

void HueSatPicker::set_widths(double hue_width, double saturation_width) {
    hue_width_ = hue_width;
    saturation_width_ = saturation_width;
    for (HueSatColour& c : selection_.colours) {
        c.hue_width = hue_width;
        c.saturation_width = saturation_width;
    }
    update();
}

void HueSatPicker::place(std::size_t index, QPointF at) {
    double hue = 0, saturation = 0;
    hue_sat_at(at, hue, saturation);
    HueSatColour& c = selection_.colours[index];
    c.colour = hue_sat_colour(hue, saturation, selection_.colorspace);
    c.hue_width = hue_width_;
    c.saturation_width = saturation_width_;
    update();
    emit changed();
}

void HueSatPicker::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    auto& colours = selection_.colours;
    if (event->button() == Qt::RightButton) {
        double best = 1e300;
        std::size_t nearest = colours.size();
        for (std::size_t i = 0; i < colours.size(); ++i) {
            double hue = 0, saturation = 0;
            hue_sat_of(colours[i].colour, selection_.colorspace, hue, saturation);
            const QPointF d = to_widget(hue, saturation) - at;
            if (const double dist = std::hypot(d.x(), d.y()); dist < best) {
                best = dist;
                nearest = i;
            }
        }
        if (nearest < colours.size()) {
            colours.erase(colours.begin() + static_cast<std::ptrdiff_t>(nearest));
            update();
            emit changed();
        }
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    if (!(event->modifiers() & Qt::ShiftModifier)) colours.clear();
    colours.emplace_back();
    dragged_ = static_cast<int>(colours.size()) - 1;
    place(static_cast<std::size_t>(dragged_), at);
}

void HueSatPicker::mouseMoveEvent(QMouseEvent* event) {
    if (dragged_ < 0 || static_cast<std::size_t>(dragged_) >= selection_.colours.size()) return;
    place(static_cast<std::size_t>(dragged_), event->position());
}

void HueSatPicker::mouseReleaseEvent(QMouseEvent*) {
    dragged_ = -1;
}

void HueSatPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF c = centre();
    const double r = radius();
    // Hues around the rim (the conical gradient turns counter-clockwise from the right, as the
    // hue does), washed to gray towards the centre.
    QConicalGradient hues(c, 0);
    for (int i = 0; i <= 12; ++i) {
        hues.setColorAt(i / 12.0, qcolour(hue_sat_colour(i * 30.0, 100, colorspace_hsv)));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(hues);
    painter.drawEllipse(c, r, r);
    QRadialGradient wash(c, r);
    const QColor centre_colour =
        selection_.colorspace == colorspace_hsl ? QColor(128, 128, 128) : QColor(255, 255, 255);
    wash.setColorAt(0, centre_colour);
    QColor clear = centre_colour;
    clear.setAlpha(0);
    wash.setColorAt(1, clear);
    painter.setBrush(wash);
    painter.drawEllipse(c, r, r);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(c, r, r);
    // The picks: a ring at each, and the band of hue and saturation it selects.
    for (const HueSatColour& pick : selection_.colours) {
        double hue = 0, saturation = 0;
        hue_sat_of(pick.colour, selection_.colorspace, hue, saturation);
        const double inner = std::max(0.0, saturation - pick.saturation_width) / 100.0 * r;
        const double outer = std::min(100.0, saturation + pick.saturation_width) / 100.0 * r;
        QPainterPath band;
        const QRectF outer_box(c.x() - outer, c.y() - outer, 2 * outer, 2 * outer);
        const QRectF inner_box(c.x() - inner, c.y() - inner, 2 * inner, 2 * inner);
        const double span = std::min(full_turn, 2 * pick.hue_width);
        band.arcMoveTo(outer_box, hue - span / 2);
        band.arcTo(outer_box, hue - span / 2, span);
        band.arcTo(inner_box, hue + span / 2, -span);
        band.closeSubpath();
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        painter.drawPath(band);
        const QPointF at = to_widget(hue, saturation);
        painter.setPen(QPen(Qt::black, 2));
        painter.drawEllipse(at, 5, 5);
        painter.setPen(QPen(Qt::white, 1));
        painter.drawEllipse(at, 5, 5);
    }
}

QWidget* hue_sat_panel(HueSatSelection& s) {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    auto* box = new QGroupBox(QObject::tr("Hue-Saturation"));
    auto* inside = new QVBoxLayout(box);
    auto* picker = new HueSatPicker(s);
    picker->setObjectName("Hue-Saturation");
    picker->setFixedSize(picker->sizeHint());
    inside->addWidget(picker, 0, Qt::AlignHCenter);
    column->addWidget(box);
    auto* form = new QFormLayout;
    auto* space = new QComboBox;
    space->addItems({"HSV", "HSL"});
    space->setCurrentIndex(std::clamp(s.colorspace, 0, 1));
    QObject::connect(space, &QComboBox::currentIndexChanged, picker, [&s, picker](int i) {
        s.colorspace = i;
        picker->update();
    });
    form->addRow(QObject::tr("Color Space:"), space);
    auto* picks = new QComboBox;
    picks->addItems({"Select picked colors", "Select all but picked colors"});
    picks->setCurrentIndex(s.add_remove != 0 ? 1 : 0);
    QObject::connect(picks, &QComboBox::currentIndexChanged, picker,
                     [&s](int i) { s.add_remove = i; });
    form->addRow(QObject::tr("Picks:"), picks);
    // The widths of the picks already made are the starting values.
    const double hue_width = s.colours.empty() ? 15.0 : s.colours.back().hue_width;
    const double sat_width = s.colours.empty() ? 15.0 : s.colours.back().saturation_width;
    auto* hue_label = new QLabel(QString::fromStdString(
        formatted("Hue Width: %d", static_cast<int>(std::lround(hue_width)))));
    auto* hue = horizontal(1, 180, static_cast<int>(std::lround(hue_width)));
    auto* sat_label = new QLabel(QString::fromStdString(
        formatted("Saturation Width: %d%%", static_cast<int>(std::lround(sat_width)))));
    auto* sat = horizontal(1, 100, static_cast<int>(std::lround(sat_width)));
    auto widths = [=] {
        hue_label->setText(QString::fromStdString(formatted("Hue Width: %d", hue->value())));
        sat_label->setText(
            QString::fromStdString(formatted("Saturation Width: %d%%", sat->value())));
        picker->set_widths(hue->value(), sat->value());
    };
    QObject::connect(hue, &QSlider::valueChanged, picker, widths);
    QObject::connect(sat, &QSlider::valueChanged, picker, widths);
    picker->set_widths(hue_width, sat_width);
    form->addRow(hue_label, hue);
    form->addRow(sat_label, sat);
    column->addLayout(form);
    return page;
}

// --- the histogram ---

HueSatCounts hue_sat_counts(const Image& base) {
    HueSatCounts counts;
    Image scratch;
    const Image* image = selectable_image(base, scratch);
    if (!image || image->width == 0) return counts;
    const int h = static_cast<int>(image->height);
    constexpr std::size_t cells = hs_hue_cells * hs_saturation_cells;
    // Each range of rows is counted on its own, then added in under the lock.
    std::array<std::uint64_t, 2 * cells> total{};
    std::mutex adding;
    (void)run_range(
        0,
        [&](int first, int last, Progress&) -> std::uint8_t {
            std::array<std::uint64_t, 2 * cells> part{};
            for (int r = first; r <= last; ++r) {
                const std::uint8_t* row = image->row(static_cast<std::uint32_t>(r));
                for (std::uint32_t x = 0; x < image->width; ++x) {
                    const auto [red, green, blue] = pixel_colour8(*image, row, x);
                    for (std::size_t space = 0; space < 2; ++space) {
                        std::int32_t hue = 0, sat = 0, level = 0;
                        (space == 1 ? rgb_to_hsl8 : rgb_to_hsv8)(red, green, blue, hue, sat, level);
                        int hc = 0, sc = 0;
                        hs_cell_of(hue, sat, scale12, scale12, hc, sc);
                        ++part[space * cells + static_cast<std::size_t>(hs_cell_bit(hc, sc))];
                    }
                }
            }
            const std::lock_guard<std::mutex> lock(adding);
            for (std::size_t i = 0; i < total.size(); ++i) total[i] += part[i];
            return 0;
        },
        std::string_view(), static_cast<int>(image->width), h, h, false, false, false);
    for (std::size_t space = 0; space < 2; ++space) {
        counts.cells[space].resize(cells);
        for (std::size_t i = 0; i < cells; ++i) {
            counts.cells[space][i] = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(total[space * cells + i], UINT32_MAX));
        }
    }
    return counts;
}

HueSatHistogram::HueSatHistogram(HistogramSelection& selection) : selection_(selection) {
    setMinimumSize(hs_hue_cells * 6, hs_saturation_cells * 6);
    setCursor(Qt::PointingHandCursor);
}

void HueSatHistogram::set_counts(const HueSatCounts& counts) {
    counts_ = counts;
    update();
}

QPointF HueSatHistogram::cell_centre(int hue_cell, int saturation_cell) const {
    const double w = width() / double(hs_hue_cells);
    const double h = height() / double(hs_saturation_cells);
    return QPointF((hue_cell + 0.5) * w, height() - (saturation_cell + 0.5) * h);
}

void HueSatHistogram::mark(QPointF at) {
    const int hc = static_cast<int>(at.x() * hs_hue_cells / std::max(1, width()));
    const int sc =
        static_cast<int>((height() - at.y()) * hs_saturation_cells / std::max(1, height()));
    if (hc < 0 || hc >= hs_hue_cells || sc < 0 || sc >= hs_saturation_cells) return;
    const bool on = selection_.add_remove == 0;
    if (hs_cell_selected(selection_, hc, sc) == on) return;
    hs_set_cell(selection_, hc, sc, on);
    update();
    emit changed();
}

void HueSatHistogram::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) mark(event->position());
}

void HueSatHistogram::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) mark(event->position());
}

void HueSatHistogram::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const double w = width() / double(hs_hue_cells);
    const double h = height() / double(hs_saturation_cells);
    const std::vector<std::uint32_t>& counts =
        counts_.cells[selection_.colorspace == colorspace_hsl ? 1 : 0];
    std::uint64_t total = 0;
    for (std::uint32_t n : counts) total += n;
    const bool histogram = selection_.transparency != 2 && total > 0;
    const bool selection = selection_.transparency != 0;
    // Expand brightens rare colours: a cell holding an even share of the picture shows at
    // 1 / expand of full.
    const double even = static_cast<double>(total) / (hs_hue_cells * hs_saturation_cells);
    for (int sc = 0; sc < hs_saturation_cells; ++sc) {
        for (int hc = 0; hc < hs_hue_cells; ++hc) {
            const QRectF cell(hc * w, height() - (sc + 1) * h, w, h);
            QColor c =
                qcolour(hue_sat_colour((hc + 0.5) * full_turn / hs_hue_cells,
                                       (sc + 0.5) * 100.0 / hs_saturation_cells, colorspace_hsv));
            if (histogram) {
                const std::size_t i = static_cast<std::size_t>(hs_cell_bit(hc, sc));
                const double share =
                    std::min(1.0, counts[i] * std::max(selection_.expand, 0.01) / even / 8.0);
                c = QColor::fromRgbF(c.redF() * share, c.greenF() * share, c.blueF() * share);
            } else if (!selection) {
                c = Qt::black;
            }
            painter.fillRect(cell, c);
            if (selection && hs_cell_selected(selection_, hc, sc)) {
                painter.fillRect(cell.adjusted(w / 4, h / 4, -w / 4, -h / 4),
                                 histogram ? QColor(255, 255, 255) : QColor(0, 0, 0));
            }
        }
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

HistogramPanel::HistogramPanel(HistogramSelection& s) : selection_(s) {
    auto* column = new QVBoxLayout(this);
    grid_ = new HueSatHistogram(s);
    column->addWidget(grid_);
    auto* form = new QFormLayout;
    auto* space = new QComboBox;
    space->addItems({"HSV", "HSL"});
    space->setCurrentIndex(std::clamp(s.colorspace, 0, 1));
    connect(space, &QComboBox::currentIndexChanged, this, [this](int i) {
        selection_.colorspace = i;
        grid_->update();
    });
    form->addRow(tr("Color Space:"), space);
    // Expand in quarters.
    auto* expand_label =
        new QLabel(QString::fromStdString(formatted("Expand Histogram: %2zf", s.expand)));
    auto* expand = horizontal(1, 400, static_cast<int>(std::lround(s.expand * 4)));
    connect(expand, &QSlider::valueChanged, this, [this, expand_label](int v) {
        selection_.expand = v / 4.0;
        expand_label->setText(
            QString::fromStdString(formatted("Expand Histogram: %2zf", selection_.expand)));
        grid_->update();
    });
    form->addRow(expand_label, expand);
    auto* blur_label = new QLabel(QString::fromStdString(formatted("Blur Radius: %d", s.blur)));
    auto* blur = horizontal(0, 10, std::clamp(s.blur, 0, 10));
    connect(blur, &QSlider::valueChanged, this, [this, blur_label](int v) {
        selection_.blur = v;
        blur_label->setText(QString::fromStdString(formatted("Blur Radius: %d", v)));
    });
    form->addRow(blur_label, blur);
    column->addLayout(form);

    auto* buttons = new QHBoxLayout;
    auto add_group = [&](std::initializer_list<std::array<const char*, 3>> infos, int current,
                         auto store) {
        auto* group = new QButtonGroup(this);
        int i = 0;
        for (const auto& [bitmap, tip, label] : infos) {
            auto* b = new QToolButton;
            b->setObjectName(bitmap);
            b->setToolTip(tip);
            b->setText(label);
            b->setCheckable(true);
            group->addButton(b, i);
            buttons->addWidget(b);
            ++i;
        }
        if (QAbstractButton* b = group->button(current)) b->setChecked(true);
        connect(group, &QButtonGroup::idClicked, this, store);
        buttons->addSpacing(8);
    };
    add_group(
        {{"Display Histogram Only.bmp", "Display Histogram Only", "Hist"},
         {"Display Histogram Plus Selection.bmp", "Display Histogram Plus Selection", "Hist+Sel"},
         {"Display Selection Only.bmp", "Display Selection Only", "Sel"}},
        std::clamp(s.transparency, 0, 2), [this](int i) {
            selection_.transparency = i;
            grid_->update();
        });
    add_group({{"HS Add.bmp", "Clicks add cells to the selection", "+"},
               {"HS Remove.bmp", "Clicks remove cells from the selection", "-"}},
              s.add_remove != 0 ? 1 : 0, [this](int i) { selection_.add_remove = i; });
    buttons->addStretch();
    column->addLayout(buttons);
    auto* commands = new QHBoxLayout;
    auto* clear = new QPushButton(tr("Clear Current Selection"));
    auto* invert = new QPushButton(tr("Invert Current Selection"));
    connect(clear, &QPushButton::clicked, this, [this] { clear_selection(); });
    connect(invert, &QPushButton::clicked, this, [this] { invert_selection(); });
    commands->addWidget(clear);
    commands->addWidget(invert);
    column->addLayout(commands);
}

void HistogramPanel::clear_selection() {
    selection_.selection.fill(0);
    grid_->update();
}

void HistogramPanel::invert_selection() {
    // Only the grid's cells: the bits beyond them stay clear.
    for (int sc = 0; sc < hs_saturation_cells; ++sc) {
        for (int hc = 0; hc < hs_hue_cells; ++hc)
            hs_set_cell(selection_, hc, sc, !hs_cell_selected(selection_, hc, sc));
    }
    grid_->update();
}

}  // namespace tessaly::shell
