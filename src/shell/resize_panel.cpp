#include "shell/resize_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/arguments.h"
#include "core/format.h"
#include "core/image.h"
#include "core/numeric.h"

namespace tessaly::shell {

namespace {

constexpr int sharpen_steps = 10008;

// Sizes are held in inches; the units lists show them in pixels (at the resolution beside
// them), inches, centimetres or millimetres.
double inches_shown(double inches, std::int32_t units, double dpi) {
    switch (units) {
        case 0:
            return inches * dpi;
        case 2:
            return inches * 2.54;
        case 3:
            return inches * 25.4;
        default:
            return inches;
    }
}
double inches_typed(double value, std::int32_t units, double dpi) {
    switch (units) {
        case 0:
            return dpi > 0.0 ? value / dpi : 0.0;
        case 2:
            return value / 2.54;
        case 3:
            return value / 25.4;
        default:
            return value;
    }
}
// Pixels per inch in one unit of the resolution list (dpi, dpcm, dpmm).
double per_unit(std::int32_t runits) {
    return runits == 1 ? 2.54 : runits == 2 ? 25.4 : 1.0;
}

QString text_of(std::string_view format, double value) {
    return QString::fromStdString(formatted(format, value));
}

QString proportions(double width, double height) {
    if (width <= 0.0 || height <= 0.0) return {};
    if (width >= height) return text_of("%2zf : 1", width / height);
    return text_of("1 : %2zf", height / width);
}

// The fields a way of giving the size reads; the others follow from the size it makes.
unsigned input_fields(std::int32_t set, std::int32_t resample) {
    using F = ResizePanel;
    constexpr unsigned pw = 1u << F::pixel_width, ph = 1u << F::pixel_height;
    constexpr unsigned iw = 1u << F::physical_width, ih = 1u << F::physical_height;
    constexpr unsigned res = 1u << F::resolution, mp = 1u << F::megapixels;
    constexpr unsigned mem = 1u << F::memory, pc = 1u << F::percent;
    if (resample == 1) {
        switch (set) {
            case resize_physical_width:
                return iw;
            case resize_physical_height:
                return ih;
            case resize_resolution:
                return res;
            case resize_physical_short_side:
            case resize_physical_long_side:
            case resize_physical_bounding_rectangle:
                return iw | ih;
            case resize_physical_percent:
                return pc;
            default:
                return 0;
        }
    }
    switch (set) {
        case resize_pixel_width:
            return pw;
        case resize_pixel_height:
            return ph;
        case resize_physical_width:
            return iw | res;
        case resize_physical_height:
            return ih | res;
        case resize_resolution:
            return res;
        case resize_memory:
            return mem;
        case resize_pixel_percent:
        case resize_physical_percent:
            return pc;
        case resize_megapixels:
            return mp;
        case resize_physical_width_height:
        case resize_physical_short_side:
        case resize_physical_long_side:
        case resize_physical_bounding_rectangle:
            return iw | ih | res;
        default:  // the pixel sides, both or either
            return pw | ph;
    }
}

QComboBox* list_of(std::initializer_list<const char*> names) {
    auto* combo = new QComboBox;
    for (const char* name : names) combo->addItem(QString::fromUtf8(name));
    return combo;
}

}  // namespace

ResizePanel::ResizePanel(const PanelInput& input, QWidget* parent)
    : DialogPanel(parent),
      input_(input),
      source_{static_cast<double>(input.width), static_cast<double>(input.height), input.dpi,
              static_cast<double>(input.bytes) / 1e6} {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* grid = new QGridLayout;
    outer->addLayout(grid);
    grid->addWidget(new QLabel("Current"), 0, 1);
    grid->addWidget(new QLabel("New"), 0, 2);
    iunits_ = list_of({"pixels", "inches", "cm", "mm"});
    wunits_ = list_of({"pixels", "inches", "cm", "mm"});
    runits_ = list_of({"dpi", "dpcm", "dpmm"});
    iunits_->setObjectName("iunits");
    wunits_->setObjectName("wunits");
    runits_->setObjectName("runits");
    // The units lists stand above the sizes they show, below the pixel counts.
    grid->addWidget(new QLabel("Units"), 3, 0);
    grid->addWidget(iunits_, 3, 1);
    grid->addWidget(wunits_, 3, 2);
    auto row_of = [](int f) { return f < physical_width ? f + 1 : f + 2; };

    static constexpr std::array<const char*, field_count> names = {
        "Width (pixels)", "Height (pixels)", "Width",  "Height",
        "Resolution",     "Megapixels",      "Memory", "Percent"};
    static constexpr std::array<const char*, field_count> keys = {
        "pixel_w",    "pixel_h",    "physical_w", "physical_h",
        "resolution", "pixel_area", "memory",     "percent"};
    for (int f = 0; f < field_count; ++f) {
        const int row = row_of(f);
        grid->addWidget(new QLabel(names[static_cast<std::size_t>(f)]), row, 0);
        if (f != percent) {
            current_[static_cast<std::size_t>(f)] = new QLabel;
            grid->addWidget(current_[static_cast<std::size_t>(f)], row, 1);
        }
        auto* edit = new QLineEdit;
        edit->setObjectName(keys[static_cast<std::size_t>(f)]);
        fields_[static_cast<std::size_t>(f)] = edit;
        grid->addWidget(edit, row, 2);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::editingFinished, this, [this, f] { (void)typed(Field(f)); });
    }
    grid->addWidget(runits_, row_of(resolution), 3);
    grid->addWidget(new QLabel("MB"), row_of(memory), 3);
    grid->addWidget(new QLabel("%"), row_of(percent), 3);
    const int last = row_of(field_count);
    grid->addWidget(new QLabel("Proportions"), last, 0);
    current_[7] = new QLabel;
    grid->addWidget(current_[7], last, 1);
    new_proportions_ = new QLabel;
    grid->addWidget(new_proportions_, last, 2);

    auto* form = new QFormLayout;
    outer->addLayout(form);
    set_ = list_of({"Pixel Width", "Pixel Height", "Pixel Width & Height", "Physical Width",
                    "Physical Height", "Physical Width & Height", "Resolution", "Memory",
                    "Pixel Short Side", "Pixel Long Side", "Physical Short Side",
                    "Physical Long Side", "Pixel Bounding Rectangle", "Physical Bounding Rectangle",
                    "Pixel Percent", "Physical Percent", "Megapixels"});
    set_->setObjectName("set");
    form->addRow("Set", set_);
    lock_ = new QCheckBox("Keep proportions");
    lock_->setChecked(true);
    form->addRow(lock_);
    resample_ = list_of({"Resample", "Don't Resample"});
    resample_->setObjectName("resample");
    form->addRow("Resampling", resample_);
    method_ = list_of(
        {"Nearest Neighbor", "Bilinear", "Bicubic", "Lanczos 4x4", "Lanczos 6x6", "Lanczos 8x8"});
    method_->setObjectName("method");
    form->addRow("Resampling:", method_);
    sharpen_ = new QSlider(Qt::Horizontal);
    sharpen_->setObjectName("sharpen");
    sharpen_->setRange(0, sharpen_steps);
    sharpen_label_ = new QLabel;
    form->addRow(sharpen_label_, sharpen_);

    auto choice = [this](QComboBox* combo, std::int32_t ResizeSettings::*member) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this, member](int index) {
            if (quiet_) return;
            s_.*member = index;
            person_changed();
        });
    };
    choice(set_, &ResizeSettings::set);
    choice(resample_, &ResizeSettings::resample);
    choice(method_, &ResizeSettings::method);
    choice(iunits_, &ResizeSettings::iunits);
    choice(wunits_, &ResizeSettings::wunits);
    choice(runits_, &ResizeSettings::runits);
    connect(sharpen_, &QSlider::valueChanged, this, &ResizePanel::sharpening_moved);
    connect(lock_, &QCheckBox::toggled, this, [this](bool on) {
        if (quiet_ || !on) return;
        // Both sides given stop being both once the proportions are locked.
        if (s_.set == resize_pixel_width_height)
            s_.set = resize_pixel_width;
        else if (s_.set == resize_physical_width_height)
            s_.set = resize_physical_width;
        else
            return;
        person_changed();
    });

    // Until a line comes: the source's own values.
    s_.set = resize_pixel_width;
    s_.method = resample_bicubic;
    s_.sharpen = -0.75;
    s_.percent = 100.0;
    s_.pixel_w = static_cast<std::int32_t>(input.width);
    s_.pixel_h = static_cast<std::int32_t>(input.height);
    s_.resolution = input.dpi;
    recompute();
}

std::vector<std::string> ResizePanel::keys() const {
    return {"pixel_w", "pixel_h",  "physical_w", "physical_h", "resolution",
            "memory",  "percent",  "pixel_area", "iunits",     "wunits",
            "runits",  "resample", "set",        "method",     "sharpen"};
}

void ResizePanel::show_line(const std::string& line) {
    const ArgumentList args = split(line);
    for (auto [key, member] : {std::pair{"pixel_w", &ResizeSettings::pixel_w},
                               {"pixel_h", &ResizeSettings::pixel_h},
                               {"iunits", &ResizeSettings::iunits},
                               {"wunits", &ResizeSettings::wunits},
                               {"runits", &ResizeSettings::runits},
                               {"resample", &ResizeSettings::resample},
                               {"set", &ResizeSettings::set},
                               {"method", &ResizeSettings::method}}) {
        (void)read_integer(args, key, s_.*member);
    }
    for (auto [key, member] : {std::pair{"physical_w", &ResizeSettings::physical_w},
                               {"physical_h", &ResizeSettings::physical_h},
                               {"resolution", &ResizeSettings::resolution},
                               {"memory", &ResizeSettings::memory},
                               {"percent", &ResizeSettings::percent},
                               {"sharpen", &ResizeSettings::sharpen}}) {
        (void)read_real(args, key, s_.*member);
    }
    double area = 0.0;
    if (!read_real(args, "pixel_area", area)) s_.pixel_area = area * 1e6;
    // A line written without a picture at hand holds 0 where the source's values belong.
    const double dpi = source_.dpi;
    if (s_.pixel_w <= 0) s_.pixel_w = static_cast<std::int32_t>(input_.width);
    if (s_.pixel_h <= 0) s_.pixel_h = static_cast<std::int32_t>(input_.height);
    if (s_.physical_w <= 0.0) s_.physical_w = dpi > 0.0 ? source_.width / dpi : 0.0;
    if (s_.physical_h <= 0.0) s_.physical_h = dpi > 0.0 ? source_.height / dpi : 0.0;
    if (s_.resolution <= 0.0) s_.resolution = dpi;
    if (s_.memory <= 0.0) s_.memory = source_.megabytes;
    if (s_.pixel_area <= 0.0) s_.pixel_area = source_.width * source_.height;
    {
        const QSignalBlocker quiet(lock_);
        lock_->setChecked(true);
    }
    recompute();
}

std::string ResizePanel::settings() const {
    return formatted(
        " pixel_w %d pixel_h %d physical_w %5zf physical_h %5zf resolution %5zf memory %4zf "
        "percent %4zf pixel_area %4zf iunits %d wunits %d runits %d resample %d set %d method %d "
        "sharpen %4zf",
        s_.pixel_w, s_.pixel_h, s_.physical_w, s_.physical_h, s_.resolution, s_.memory, s_.percent,
        s_.pixel_area / 1e6, s_.iunits, s_.wunits, s_.runits, s_.resample, s_.set, s_.method,
        s_.sharpen);
}

bool ResizePanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    for (int f = 0; f < field_count; ++f) {
        // Enter takes the value and is the dialog's OK, unless the value is refused.
        if (watched == fields_[static_cast<std::size_t>(f)]) return !typed(Field(f));
    }
    return false;
}

bool ResizePanel::typed(Field f) {
    if (quiet_) return true;
    QLineEdit* edit = fields_[f];
    const QString text = edit->text().trimmed();
    if (text == shown_[f]) return true;
    double v = 0.0;
    if (parse_real(text.toStdString(), v) || !std::isfinite(v) || v <= 0.0) {
        // Put the value back first: the message takes the focus, which finishes the edit again.
        edit->setText(shown_[f]);
        const char* message =
            f == pixel_width || f == physical_width     ? "Illegal first input value: %s"
            : f == pixel_height || f == physical_height ? "Illegal second input value: %s"
                                                        : "Illegal third input value: %s";
        show_error(message, text.toStdString());
        return false;
    }
    const bool locked = lock_->isChecked();
    const bool pixels_stay = s_.resample == 1;
    switch (f) {
        case pixel_width:
            s_.pixel_w = round_to_int(v);
            s_.set = locked ? resize_pixel_width : resize_pixel_width_height;
            s_.resample = 0;
            break;
        case pixel_height:
            s_.pixel_h = round_to_int(v);
            s_.set = locked ? resize_pixel_height : resize_pixel_width_height;
            s_.resample = 0;
            break;
        case physical_width:
            s_.physical_w = inches_typed(v, s_.wunits, s_.resolution);
            s_.set = locked || pixels_stay ? resize_physical_width : resize_physical_width_height;
            break;
        case physical_height:
            s_.physical_h = inches_typed(v, s_.wunits, s_.resolution);
            s_.set = locked || pixels_stay ? resize_physical_height : resize_physical_width_height;
            break;
        case resolution:
            s_.resolution = v * per_unit(s_.runits);
            if (pixels_stay) s_.set = resize_resolution;
            break;
        case megapixels:
            s_.pixel_area = v * 1e6;
            s_.set = resize_megapixels;
            s_.resample = 0;
            break;
        case memory:
            s_.memory = v;
            s_.set = resize_memory;
            s_.resample = 0;
            break;
        default:
            s_.percent = v;
            s_.set = pixels_stay ? resize_physical_percent : resize_pixel_percent;
            break;
    }
    person_changed();
    return true;
}

void ResizePanel::person_changed() {
    recompute();
    emit edited();
}

void ResizePanel::recompute() {
    if (input_.width > 0 && input_.height > 0) {
        const ResizeTarget t = resize_target(s_, source_);
        const unsigned given = input_fields(s_.set, s_.resample);
        auto follows = [given](Field f) { return (given & (1u << f)) == 0; };
        if (std::isfinite(t.resolution)) {
            const double dpi = t.resolution;
            if (follows(pixel_width)) s_.pixel_w = t.width;
            if (follows(pixel_height)) s_.pixel_h = t.height;
            if (follows(resolution)) s_.resolution = dpi;
            if (follows(physical_width)) s_.physical_w = dpi > 0.0 ? t.width / dpi : 0.0;
            if (follows(physical_height)) s_.physical_h = dpi > 0.0 ? t.height / dpi : 0.0;
            if (follows(megapixels)) s_.pixel_area = double(t.width) * t.height;
            if (follows(memory)) {
                s_.memory =
                    double(image_row_bytes(input_.type, static_cast<std::uint32_t>(t.width))) *
                    t.height / 1e6;
            }
            if (follows(percent)) s_.percent = 100.0 * t.width / source_.width;
        }
        new_proportions_->setText(proportions(t.width, t.height));
    }
    show_current();
    show_new();
}

void ResizePanel::show_current() {
    const double w = source_.width, h = source_.height, dpi = source_.dpi;
    auto inches = [&](double pixels) { return dpi > 0.0 ? pixels / dpi : 0.0; };
    current_[0]->setText(QString::number(input_.width));
    current_[1]->setText(QString::number(input_.height));
    current_[2]->setText(text_of("%4zf", inches_shown(inches(w), s_.iunits, dpi)));
    current_[3]->setText(text_of("%4zf", inches_shown(inches(h), s_.iunits, dpi)));
    current_[4]->setText(text_of("%4zf", dpi / per_unit(s_.runits)));
    current_[5]->setText(text_of("%3zf", w * h / 1e6));
    current_[6]->setText(text_of("%3zf MB", source_.megabytes));
    current_[7]->setText(proportions(w, h));
}

void ResizePanel::show_new() {
    quiet_ = true;
    const double dpi = s_.resolution;
    const std::array<QString, field_count> texts = {
        QString::number(s_.pixel_w),
        QString::number(s_.pixel_h),
        text_of("%4zf", inches_shown(s_.physical_w, s_.wunits, dpi)),
        text_of("%4zf", inches_shown(s_.physical_h, s_.wunits, dpi)),
        text_of("%4zf", dpi / per_unit(s_.runits)),
        text_of("%3zf", s_.pixel_area / 1e6),
        text_of("%3zf", s_.memory),
        text_of("%4zf", s_.percent)};
    for (std::size_t f = 0; f < texts.size(); ++f) {
        shown_[f] = texts[f];
        fields_[f]->setText(texts[f]);
    }
    for (auto [combo, value] : {std::pair{set_, s_.set},
                                {resample_, s_.resample},
                                {method_, s_.method},
                                {iunits_, s_.iunits},
                                {wunits_, s_.wunits},
                                {runits_, s_.runits}}) {
        combo->setCurrentIndex(std::clamp<int>(value, 0, combo->count() - 1));
    }
    const bool both = s_.set == resize_pixel_width_height || s_.set == resize_physical_width_height;
    if (both) lock_->setChecked(false);
    const bool bicubic = s_.method == resample_bicubic;
    sharpen_->setVisible(bicubic);
    sharpen_label_->setVisible(bicubic);
    sharpen_->setValue(
        std::clamp(static_cast<int>(std::lround((-0.5 - s_.sharpen) * sharpen_steps / 1.5)), 0,
                   sharpen_steps));
    sharpen_label_->setText(
        QString::fromStdString(formatted("Sharpening: %1f%%", (s_.sharpen + 0.5) * (-100 / 1.5))));
    quiet_ = false;
}

void ResizePanel::sharpening_moved(int position) {
    if (quiet_) return;
    s_.sharpen = -0.5 - 1.5 * position / sharpen_steps;
    person_changed();
}

DialogPanel* make_resize_panel(FrameWindow&, const PanelInput& input) {
    return new ResizePanel(input);
}

}  // namespace tessaly::shell
