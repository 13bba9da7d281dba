#include "shell/mask_panels.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/color_models.h"
#include "core/format.h"

namespace tessaly::shell {

namespace {

constexpr std::int32_t limit_scale = 1024;
// Half-widths, on the 0..1024 scale, of the fully selected band around a picked value and of the
// fade beyond it: hue tighter than the other channels, which vary more across one surface.
constexpr std::int32_t hue_band = 24;
constexpr std::int32_t channel_band = 96;

QString colour_style(std::uint32_t colour) {
    return QString("background-color: rgb(%1, %2, %3);")
        .arg(colour & 0xff)
        .arg((colour >> 8) & 0xff)
        .arg((colour >> 16) & 0xff);
}

}  // namespace

QSlider* horizontal(int low, int high, int value) {
    auto* s = new QSlider(Qt::Horizontal);
    s->setRange(low, high);
    s->setValue(value);
    s->setMinimumWidth(160);
    return s;
}

ColorRangeSettings picked_color_range(const ColorRangeSettings& current, const PickedPixel& p) {
    ColorRangeSettings s = current;
    const auto [r, g, b] = p.rgb;
    s.sample = static_cast<std::uint32_t>(r) | static_cast<std::uint32_t>(g) << 8 |
               static_cast<std::uint32_t>(b) << 16;
    std::array<std::int32_t, 3> c{};
    if (s.colorspace == 2 || p.gray) {
        for (std::size_t i = 0; i < 3; ++i) c[i] = p.rgb[i] * limit_scale / 255;
    } else {
        // The 12-bit components (0..4096) brought to the limits' scale.
        if (s.colorspace == 0) {
            rgb_to_hsv8(r, g, b, c[0], c[1], c[2]);
        } else {
            rgb_to_hsl8(r, g, b, c[0], c[1], c[2]);
        }
        for (std::int32_t& v : c) v /= 4;
    }
    auto& l = s.limits;  // minb1, maxb1, .., minw1, maxw1, ..
    for (std::size_t i = 0; i < 3; ++i) {
        const bool hue = i == 0 && s.colorspace != 2 && !p.gray;
        const std::int32_t w = hue ? hue_band : channel_band;
        std::int32_t& minb = l[2 * i];
        std::int32_t& maxb = l[2 * i + 1];
        std::int32_t& minw = l[6 + 2 * i];
        std::int32_t& maxw = l[6 + 2 * i + 1];
        if (hue && (c[i] - 2 * w < 0 || c[i] + 2 * w > limit_scale)) {
            // A band across red: written as the complement (minw above maxw), nothing selected
            // between maxw and minw and full selection outside maxb..minb.
            const std::int32_t h = c[i] < limit_scale / 2 ? c[i] + limit_scale : c[i];
            maxb = (h + w) % limit_scale;
            maxw = (h + 2 * w) % limit_scale;
            minw = h - 2 * w;
            minb = h - w;
            continue;
        }
        minw = std::clamp(c[i] - w, 0, limit_scale);
        maxw = std::clamp(c[i] + w, 0, limit_scale);
        minb = std::clamp(c[i] - 2 * w, 0, limit_scale);
        maxb = std::clamp(c[i] + 2 * w, 0, limit_scale);
    }
    return s;
}

// --- Color Range ---

ColorRangePanel::ColorRangePanel(ColorRangeSettings& settings) : settings_(settings) {
    auto* form = new QFormLayout(this);
    space_ = new QComboBox;
    space_->addItems({"HSV", "HSL", "RGB"});
    space_->setCurrentIndex(std::clamp(settings_.colorspace, 0, 2));
    connect(space_, &QComboBox::currentIndexChanged, this, [this](int i) {
        settings_.colorspace = i;
        name_channels();
    });
    form->addRow(tr("Color Space:"), space_);
    // Per channel from its black start through the white band to its black end: minb, minw,
    // maxw, maxb.
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t k : {2 * c, 6 + 2 * c, 6 + 2 * c + 1, 2 * c + 1}) {
            labels_[k] = new QLabel;
            sliders_[k] = horizontal(0, limit_scale, settings_.limits[k]);
            connect(sliders_[k], &QSlider::valueChanged, this, [this, k](int v) {
                settings_.limits[k] = v;
                name_channels();
            });
            form->addRow(labels_[k], sliders_[k]);
        }
    }
    name_channels();
}

void ColorRangePanel::name_channels() {
    static const std::array<std::array<const char*, 3>, 3> names{{
        {"Hue", "Saturation", "Value"},
        {"Hue", "Saturation", "Lightness"},
        {"Red", "Green", "Blue"},
    }};
    static constexpr std::array<const char*, 4> parts{"%s black below: %d", "%s white from: %d",
                                                      "%s white to: %d", "%s black above: %d"};
    const auto& channel = names[static_cast<std::size_t>(std::clamp(settings_.colorspace, 0, 2))];
    for (std::size_t c = 0; c < 3; ++c) {
        const std::array<std::size_t, 4> keys{2 * c, 6 + 2 * c, 6 + 2 * c + 1, 2 * c + 1};
        for (std::size_t j = 0; j < 4; ++j) {
            labels_[keys[j]]->setText(
                QString::fromStdString(formatted(parts[j], channel[c], settings_.limits[keys[j]])));
        }
    }
}

void ColorRangePanel::refresh() {
    const QSignalBlocker quiet(space_);
    space_->setCurrentIndex(std::clamp(settings_.colorspace, 0, 2));
    for (std::size_t k = 0; k < sliders_.size(); ++k) {
        const QSignalBlocker hold(sliders_[k]);
        sliders_[k]->setValue(settings_.limits[k]);
    }
    name_channels();
}

// --- Separate Based on 2 Colors ---

SeparatePanel::SeparatePanel(SeparateEntries& entries) : entries_(entries) {
    auto* column = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    auto* rows = new QButtonGroup(this);
    for (int row = 0; row < 2; ++row) {
        auto* name = new QToolButton;
        name->setText(row == 0 ? tr("Black:") : tr("White:"));
        name->setToolTip(tr("Clicks in the image add to this row"));
        name->setCheckable(true);
        rows->addButton(name, row);
        row_buttons_[static_cast<std::size_t>(row)] = name;
        grid->addWidget(name, row, 0);
        for (int i = 0; i < 8; ++i) {
            auto* patch = new QToolButton;
            patch->setFixedSize(22, 22);
            patch->setEnabled(false);
            patches_[static_cast<std::size_t>(8 * row + i)] = patch;
            grid->addWidget(patch, row, i + 1);
        }
    }
    connect(rows, &QButtonGroup::idClicked, this, [this](int row) { set_target_row(row); });
    column->addLayout(grid);
    auto* commands = new QHBoxLayout;
    auto* reset = new QPushButton(tr("Reset all colors"));
    auto* swap = new QPushButton(tr("Swap white and black colors"));
    connect(reset, &QPushButton::clicked, this, [this] { reset_colors(); });
    connect(swap, &QPushButton::clicked, this, [this] { swap_colors(); });
    commands->addWidget(reset);
    commands->addWidget(swap);
    column->addLayout(commands);
    set_target_row(row_);
    refresh();
}

void SeparatePanel::set_target_row(int row) {
    row_ = std::clamp(row, 0, 1);
    row_buttons_[static_cast<std::size_t>(row_)]->setChecked(true);
}

bool SeparatePanel::add(const PickedPixel& pixel) {
    const std::size_t first = row_ == 0 ? 0 : 8;
    std::size_t at = first + 8;
    // A row still holding only its typed starting colour takes the first pick in its place.
    const bool untouched = entries_[first].x < 0 &&
                           std::none_of(entries_.begin() + static_cast<std::ptrdiff_t>(first + 1),
                                        entries_.begin() + static_cast<std::ptrdiff_t>(first + 8),
                                        [](const SeparateEntry& e) { return e.in_use; });
    if (untouched) {
        at = first;
    } else {
        for (std::size_t i = first + 1; i < first + 8; ++i) {
            if (!entries_[i].in_use) {
                at = i;
                break;
            }
        }
    }
    if (at == first + 8) {
        show_warning("Color patch row is full, cannot add any new colors");
        return false;
    }
    SeparateEntry& e = entries_[at];
    e.in_use = true;
    e.colour = static_cast<std::uint32_t>(pixel.rgb[0]) |
               static_cast<std::uint32_t>(pixel.rgb[1]) << 8 |
               static_cast<std::uint32_t>(pixel.rgb[2]) << 16;
    e.x = pixel.fx;
    e.y = pixel.fy;
    refresh();
    return true;
}

void SeparatePanel::reset_colors() {
    entries_ = default_separate_entries();
    refresh();
}

void SeparatePanel::swap_colors() {
    std::swap_ranges(entries_.begin(), entries_.begin() + 8, entries_.begin() + 8);
    refresh();
}

void SeparatePanel::refresh() {
    for (std::size_t i = 0; i < patches_.size(); ++i) {
        const SeparateEntry& e = entries_[i];
        patches_[i]->setStyleSheet(e.in_use ? colour_style(e.colour) : QString());
        patches_[i]->setToolTip(e.in_use ? QString("%1").arg(e.colour, 6, 16, QChar('0'))
                                         : QString());
    }
}

// --- Texture and Median Filter ---

QWidget* texture_panel(TextureSettings& s) {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    auto* method = new QComboBox;
    method->addItems({"Max Difference", "Average Difference", "Difference from Average"});
    method->setCurrentIndex(std::clamp(s.method, 0, 2));
    QObject::connect(method, &QComboBox::currentIndexChanged, page, [&s](int i) { s.method = i; });
    form->addRow(QObject::tr("Method:"), method);
    auto* size = new QComboBox;
    size->addItems({"3x3", "5x5", "7x7"});
    size->setCurrentIndex(std::clamp(s.size, 0, 2));
    QObject::connect(size, &QComboBox::currentIndexChanged, page, [&s](int i) { s.size = i; });
    form->addRow(QObject::tr("Neighborhood Size:"), size);
    for (std::int32_t* threshold : {&s.threshold0, &s.threshold1}) {
        const char* format =
            threshold == &s.threshold0 ? "Low Threshold: %d" : "High Threshold: %d";
        auto* label = new QLabel(QString::fromStdString(formatted(format, *threshold)));
        auto* slider = horizontal(0, 255, *threshold);
        QObject::connect(slider, &QSlider::valueChanged, page, [threshold, label, format](int v) {
            *threshold = v;
            label->setText(QString::fromStdString(formatted(format, v)));
        });
        form->addRow(label, slider);
    }
    return page;
}

QWidget* median_panel(MedianSettings& s) {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    // The radius in half pixels, the level in hundredths.
    auto* radius_label = new QLabel(QString::fromStdString(formatted("Radius: %2zf", s.radius)));
    auto* radius = horizontal(2, 100, static_cast<int>(std::lround(s.radius * 2)));
    QObject::connect(radius, &QSlider::valueChanged, page, [&s, radius_label](int v) {
        s.radius = v / 2.0;
        radius_label->setText(QString::fromStdString(formatted("Radius: %2zf", s.radius)));
    });
    form->addRow(radius_label, radius);
    auto* level_label = new QLabel(QString::fromStdString(formatted("Level: %2zf", s.level)));
    auto* level = horizontal(0, 100, static_cast<int>(std::lround(s.level * 100)));
    QObject::connect(level, &QSlider::valueChanged, page, [&s, level_label](int v) {
        s.level = v / 100.0;
        level_label->setText(QString::fromStdString(formatted("Level: %2zf", s.level)));
    });
    form->addRow(level_label, level);
    return page;
}

}  // namespace tessaly::shell
