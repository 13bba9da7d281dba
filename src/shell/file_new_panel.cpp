#include "shell/file_new_panel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSignalBlocker>
#include <algorithm>

#include "core/arguments.h"
#include "core/format.h"
#include "shell/color_button.h"
#include "workspace/preferences.h"

namespace tessaly::shell {

namespace {

const char* const unit_names[] = {"pixels", "inches", "millimetres", "centimetres"};

}  // namespace

std::string file_new_size_text(std::int32_t pixels, std::int32_t unit, double dpi) {
    switch (unit) {
        case 1:
            return formatted("%3zf", pixels / dpi);
        case 2:
            return formatted("%2zf", pixels * 25.4 / dpi);
        case 3:
            return formatted("%3zf", pixels * 2.54 / dpi);
        default:
            return formatted("%d", pixels);
    }
}

FileNewPanel::FileNewPanel(FrameWindow&, const PanelInput&)
    // The dialog opens on an idle engine, so the preference may be read here.
    : warn_limit_(preferences().warn_if_larger_than) {
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    type_ = new QComboBox;
    for (const char* name : {"Binary", "8-bit Black and White", "24-bit Color",
                             "16-bit Black and White", "48-bit Color"}) {
        type_->addItem(name);
    }
    form->addRow("Type:", type_);
    units_ = new QComboBox;
    for (const char* name : unit_names) units_->addItem(name);
    form->addRow("Units:", units_);
    width_ = new QLineEdit;
    form->addRow("Width:", width_);
    height_ = new QLineEdit;
    form->addRow("Height:", height_);
    dpi_ = new QLineEdit;
    form->addRow("Resolution (dpi): ", dpi_);
    color_ = new ColorButton("Image Color", this);
    form->addRow("Image Color: ", color_);

    connect(type_, &QComboBox::currentIndexChanged, this, [this](int index) {
        settings_.type = index + 1;
        emit edited();
    });
    connect(units_, &QComboBox::currentIndexChanged, this, [this](int index) {
        // Typed sizes are taken in the unit they were typed in before the unit changes.
        const std::int32_t before = settings_.units;
        units_->blockSignals(true);
        units_->setCurrentIndex(before);
        (void)read_fields();
        units_->setCurrentIndex(index);
        units_->blockSignals(false);
        settings_.units = index;
        show_fields();
        emit edited();
    });
    for (QLineEdit* field : {width_, height_, dpi_})
        connect(field, &QLineEdit::editingFinished, this, &FileNewPanel::read_fields);
    // The button's own handler has picked the colour by the time this one runs.
    connect(color_, &QPushButton::clicked, this, [this] {
        const QColor c = color_->color();
        const Colour chosen{static_cast<std::uint8_t>(c.red()),
                            static_cast<std::uint8_t>(c.green()),
                            static_cast<std::uint8_t>(c.blue())};
        if (chosen == settings_.color) return;
        settings_.color = chosen;
        emit edited();
    });
}

std::vector<std::string> FileNewPanel::keys() const {
    return {"type", "nx", "ny", "units", "dpi", "color"};
}

void FileNewPanel::show_line(const std::string& line) {
    const ArgumentList args = split(line);
    (void)read_integer(args, "type", settings_.type);
    (void)read_integer(args, "nx", settings_.nx);
    (void)read_integer(args, "ny", settings_.ny);
    (void)read_integer(args, "units", settings_.units);
    (void)read_real(args, "dpi", settings_.dpi);
    (void)read_colour(args, "color", settings_.color.c1, settings_.color.c2, settings_.color.c3);
    if (settings_.units < 0 || settings_.units > 3) settings_.units = 0;
    if (!(settings_.dpi > 0.0)) settings_.dpi = 100.0;
    const QSignalBlocker quiet_type(type_), quiet_units(units_);
    type_->setCurrentIndex(std::clamp(settings_.type, 1, 5) - 1);
    units_->setCurrentIndex(settings_.units);
    color_->set_color(QColor(settings_.color.c1, settings_.color.c2, settings_.color.c3));
    show_fields();
}

std::string FileNewPanel::settings() const {
    return formatted(" type %d nx %d ny %d units %d dpi %5zf color %x", settings_.type,
                     settings_.nx, settings_.ny, settings_.units, settings_.dpi,
                     settings_.color.value());
}

void FileNewPanel::show_fields() {
    width_->setText(
        QString::fromStdString(file_new_size_text(settings_.nx, settings_.units, settings_.dpi)));
    height_->setText(
        QString::fromStdString(file_new_size_text(settings_.ny, settings_.units, settings_.dpi)));
    dpi_->setText(QString::fromStdString(formatted("%5zf", settings_.dpi)));
}

bool FileNewPanel::read_fields() {
    // A message box takes the focus away from the field, which would read it again.
    if (reading_) return false;
    const FileNewFields fields{width_->text().toStdString(), height_->text().toStdString(),
                               dpi_->text().toStdString(), units_->currentIndex()};
    const FileNewFields shown{file_new_size_text(settings_.nx, settings_.units, settings_.dpi),
                              file_new_size_text(settings_.ny, settings_.units, settings_.dpi),
                              formatted("%5zf", settings_.dpi), settings_.units};
    if (fields.width == shown.width && fields.height == shown.height && fields.dpi == shown.dpi) {
        return false;
    }
    reading_ = true;
    const FileNewSettings before = settings_;
    // On a refusal the settings stay as they were and the fields show them again.
    const bool refused = file_new_read_fields(fields, warn_limit_, settings_);
    show_fields();
    reading_ = false;
    if (!refused &&
        !(before.nx == settings_.nx && before.ny == settings_.ny && before.dpi == settings_.dpi)) {
        emit edited();
    }
    refused_ = refused;
    return refused;
}

bool FileNewPanel::accept_check() {
    const bool refused = read_fields() || refused_;
    refused_ = false;
    return !refused;
}

DialogPanel* make_file_new_panel(FrameWindow& frame, const PanelInput& input) {
    return new FileNewPanel(frame, input);
}

}  // namespace tessaly::shell
