#include "shell/sharpen_panels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>

#include "core/arguments.h"
#include "core/format.h"
#include "core/image.h"
#include "core/numeric.h"
#include "shell/range_slider.h"

namespace tessaly::shell {

namespace {

// How the modules write their real settings.
std::string written_real(double value) {
    return formatted("%4zf", value);
}

int position(double value, double full) {
    return std::clamp(round_to_int(value * SharpenPanelBase::positions / full), 0,
                      SharpenPanelBase::positions);
}

}  // namespace

struct SharpenPanelBase::Single {
    std::string key;
    const char* format;
    double full, shown;
    bool whole;
    double value;
    QLabel* label;
    QSlider* slider;

    void show_value() const {
        label->setText(QString::fromStdString(whole ? formatted(format, round_to_int(value))
                                                    : formatted(format, value * shown)));
    }
    void show() const {
        const QSignalBlocker quiet(slider);
        slider->setValue(position(value, full));
        show_value();
    }
};

struct SharpenPanelBase::Pair {
    std::string first, second;
    const char* format;
    double a, b;
    QLabel* label;
    RangeSlider* slider;

    void show_value() const {
        label->setText(QString::fromStdString(formatted(format, a * 100.0, b * 100.0)));
    }
    void show() const {
        slider->set_values(position(a, 1.0), position(b, 1.0));
        show_value();
    }
};

SharpenPanelBase::SharpenPanelBase(QWidget* parent) : DialogPanel(parent) {
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setColumnStretch(1, 1);
}

SharpenPanelBase::~SharpenPanelBase() = default;

void SharpenPanelBase::add_single(const char* key, const char* format, double full, double shown,
                                  bool whole, double value) {
    auto s = std::make_unique<Single>(
        Single{key, format, full, shown, whole, value, new QLabel, new QSlider(Qt::Horizontal)});
    s->slider->setRange(0, positions);
    s->slider->setSingleStep(positions / 100);
    s->slider->setPageStep(positions / 10);
    s->slider->setObjectName(QString::fromUtf8(key));
    const int row = grid_->rowCount();
    grid_->addWidget(s->label, row, 0, 1, 2);
    grid_->addWidget(s->slider, row + 1, 0, 1, 2);
    Single* raw = s.get();
    connect(s->slider, &QSlider::valueChanged, this, [this, raw](int p) {
        const double v = p * raw->full / positions;
        raw->value = raw->whole ? round_to_int(v) : v;
        raw->show_value();
        emit edited();
    });
    s->show();
    singles_.push_back(std::move(s));
}

void SharpenPanelBase::add_pair(const char* first, const char* second, const char* format, double a,
                                double b) {
    auto s = std::make_unique<Pair>(
        Pair{first, second, format, a, b, new QLabel, new RangeSlider(positions)});
    s->slider->setObjectName(QString::fromUtf8(first));
    const int row = grid_->rowCount();
    grid_->addWidget(s->label, row, 0, 1, 2);
    grid_->addWidget(s->slider, row + 1, 0, 1, 2);
    Pair* raw = s.get();
    connect(s->slider, &RangeSlider::moved, this, [this, raw](int low, int high) {
        raw->a = static_cast<double>(low) / positions;
        raw->b = static_cast<double>(high) / positions;
        raw->show_value();
        emit edited();
    });
    s->show();
    pairs_.push_back(std::move(s));
}

std::vector<std::string> SharpenPanelBase::keys() const {
    std::vector<std::string> all;
    for (const auto& s : singles_) all.push_back(s->key);
    for (const auto& p : pairs_) {
        all.push_back(p->first);
        all.push_back(p->second);
    }
    return all;
}

void SharpenPanelBase::show_line(const std::string& line) {
    const ArgumentList args = split(line);
    for (const auto& s : singles_) {
        if (s->whole) {
            std::int32_t v = 0;
            if (!read_integer(args, s->key, v)) s->value = v;
        } else {
            (void)read_real(args, s->key, s->value);
        }
        s->show();
    }
    for (const auto& p : pairs_) {
        // Older lines give both thresholds as one level of 255.
        std::int32_t level = 0;
        if (p->first == "thresholdb" && !read_integer(args, "threshold", level))
            p->a = p->b = level / 255.0;
        (void)read_real(args, p->first, p->a);
        (void)read_real(args, p->second, p->b);
        p->show();
    }
    show_more(line);
}

std::string SharpenPanelBase::settings() const {
    std::string out;
    for (const auto& s : singles_) {
        out += " " + s->key + " " +
               (s->whole ? std::to_string(round_to_int(s->value)) : written_real(s->value));
    }
    for (const auto& p : pairs_) {
        out += " " + p->first + " " + written_real(p->a);
        out += " " + p->second + " " + written_real(p->b);
    }
    return out;
}

QSlider* SharpenPanelBase::slider(std::string_view key) const {
    for (const auto& s : singles_) {
        if (s->key == key) return s->slider;
    }
    return nullptr;
}

RangeSlider* SharpenPanelBase::range(std::string_view key) const {
    for (const auto& p : pairs_) {
        if (p->first == key || p->second == key) return p->slider;
    }
    return nullptr;
}

QLabel* SharpenPanelBase::label(std::string_view key) const {
    for (const auto& s : singles_) {
        if (s->key == key) return s->label;
    }
    for (const auto& p : pairs_) {
        if (p->first == key || p->second == key) return p->label;
    }
    return nullptr;
}

UnsharpMaskPanel::UnsharpMaskPanel(const PanelInput& input, QWidget* parent)
    : SharpenPanelBase(parent) {
    add_single("radius", "Radius: %d", 40.0, 1.0, true, 2.0);
    add_pair("thresholdb", "thresholdw", "Threshold: %2f%% .. %2f%%", 0.04, 0.04);
    add_single("strength", "Sharpen Factor: %2f", 5.0, 1.0, false, 1.0);
    add_pair("maxundershoot", "maxovershoot", "Halo Limit: %1f%% .. %1f%%", 0.1, 0.1);
    // Only the brightness of colour pictures can be sharpened on its own.
    if (input.type == image_color24 || input.type == image_color48) {
        luminance_ = new QCheckBox("Sharpen Luminance only");
        grid_->addWidget(luminance_, grid_->rowCount(), 0, 1, 2);
        connect(luminance_, &QCheckBox::toggled, this, [this](bool on) {
            what_ = on ? 1 : 0;
            emit edited();
        });
    }
}

std::vector<std::string> UnsharpMaskPanel::keys() const {
    std::vector<std::string> all = SharpenPanelBase::keys();
    all.push_back("what");
    return all;
}

void UnsharpMaskPanel::show_more(const std::string& line) {
    (void)read_integer(split(line), "what", what_);
    if (!luminance_) return;
    const QSignalBlocker quiet(luminance_);
    luminance_->setChecked(what_ == 1);
}

std::string UnsharpMaskPanel::settings() const {
    return SharpenPanelBase::settings() + " what " + std::to_string(what_);
}

SharpenPanel::SharpenPanel(QWidget* parent) : SharpenPanelBase(parent) {
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Method:"));
    method_ = new QComboBox;
    method_->addItems({"Sharpen", "Sharpen More"});
    row->addWidget(method_, 1);
    grid_->addLayout(row, 0, 0, 1, 2);
    connect(method_, &QComboBox::currentIndexChanged, this, [this] { emit edited(); });
    add_pair("maxundershoot", "maxovershoot", "Halo Limit: %1f%% .. %1f%%", 0.1, 0.1);
    add_pair("thresholdb", "thresholdw", "Threshold: %2f%% .. %2f%%", 0.04, 0.04);
    add_single("strength", "Sharpen Factor: %1f%%", 2.0, 100.0, false, 1.0);
}

std::vector<std::string> SharpenPanel::keys() const {
    std::vector<std::string> all = SharpenPanelBase::keys();
    all.push_back("kernel");
    return all;
}

void SharpenPanel::show_more(const std::string& line) {
    std::int32_t kernel = method_->currentIndex();
    (void)read_integer(split(line), "kernel", kernel);
    const QSignalBlocker quiet(method_);
    method_->setCurrentIndex(std::clamp(kernel, 0, 1));
}

std::string SharpenPanel::settings() const {
    return SharpenPanelBase::settings() + " kernel " + std::to_string(method_->currentIndex());
}

DialogPanel* make_unsharp_mask_panel(FrameWindow&, const PanelInput& input) {
    return new UnsharpMaskPanel(input);
}

DialogPanel* make_sharpen_panel(FrameWindow&, const PanelInput&) {
    return new SharpenPanel;
}

}  // namespace tessaly::shell
