#include "shell/convert_panel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <array>

#include "core/arguments.h"
#include "core/image.h"

namespace tessaly::shell {

namespace {

// The five types by code 1..5; item k of the list is type k + 1.
constexpr std::array<const char*, 5> type_names = {"1-bit Binary", "8-bit Black and White",
                                                   "24-bit Color", "16-bit Black and White",
                                                   "48-bit Color"};

QString from_text(std::uint32_t type) {
    QString text = "Convert from: ";
    if (type >= image_binary && type <= image_color48) text += type_names[type - 1];
    return text;
}

}  // namespace

ConvertPanel::ConvertPanel(const PanelInput& input, QWidget* parent)
    : DialogPanel(parent), from_(new QLabel(from_text(input.type))), to_(new QComboBox) {
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(from_);
    for (const char* name : type_names) to_->addItem(name);
    form->addRow("Convert To:", to_);
    connect(to_, &QComboBox::currentIndexChanged, this, [this] { emit edited(); });
}

std::vector<std::string> ConvertPanel::keys() const {
    return {"otype"};
}

void ConvertPanel::show_line(const std::string& line) {
    std::int32_t otype = 0;
    if (read_integer(split(line), "otype", otype) || otype < 1 || otype > 5) return;
    const QSignalBlocker quiet(to_);
    to_->setCurrentIndex(otype - 1);
}

std::string ConvertPanel::settings() const {
    return " otype " + std::to_string(to_->currentIndex() + 1);
}

DialogPanel* make_convert_panel(FrameWindow&, const PanelInput& input) {
    return new ConvertPanel(input);
}

}  // namespace tessaly::shell
