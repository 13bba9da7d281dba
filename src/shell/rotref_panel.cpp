#include "shell/rotref_panel.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QToolButton>
#include <QTransform>
#include <QVBoxLayout>
#include <array>

#include "core/arguments.h"
#include "core/image_orient.h"
#include "transformations/rotref.h"

namespace tessaly::shell {

namespace {

// The thumbnail as it looks under an orientation code, as the picture is seen.
QImage oriented(const QImage& image, std::int32_t code) {
    const QImage turned = image.transformed(QTransform().rotate(90));
    switch (code) {
        case 1:
            return turned;
        case 2:
            return image.transformed(QTransform().rotate(180));
        case 3:
            return image.transformed(QTransform().rotate(270));
        case 4:
            return image.mirrored(true, false);
        case 5:  // a clockwise turn, then left to right
            return turned.mirrored(true, false);
        case 6:
            return image.mirrored(false, true);
        case 7:  // a clockwise turn, then top to bottom
            return turned.mirrored(false, true);
        default:
            return image;
    }
}

struct TurnButton {
    const char* text;
    const char* tip;
};
// Drawn as text: the buttons' pictures are not part of the program.
constexpr std::array<TurnButton, 4> turn_buttons = {{
    {"\u21bb", "Rotate Clockwise"},
    {"\u21ba", "Rotate Counterclockwise"},
    {"\u2194", "Reflect left to right"},
    {"\u2195", "Reflect top to bottom"},
}};

}  // namespace

RotrefPanel::RotrefPanel(const PanelInput& input, QWidget* parent) : DialogPanel(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* grid = new QGridLayout;
    outer->addLayout(grid);
    thumbnails_ = new QButtonGroup(this);
    thumbnails_->setExclusive(true);
    // Six character units on the longer side, as large as the dialog's text allows.
    const int side = 6 * fontMetrics().height();
    QImage small;
    if (!input.thumbnail.isNull())
        small = input.thumbnail.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    for (int code = 0; code < orientation_count; ++code) {
        auto* b = new QToolButton;
        b->setCheckable(true);
        b->setAutoRaise(true);
        if (!small.isNull()) {
            b->setIcon(QPixmap::fromImage(oriented(small, code)));
            b->setIconSize(QSize(side, side));
        } else {
            b->setText(QString::number(code));
        }
        b->setObjectName(QString("orientation_%1").arg(code));
        thumbnails_->addButton(b, code);
        grid->addWidget(b, code / 4, code % 4);
    }
    connect(thumbnails_, &QButtonGroup::idClicked, this, [this](int code) { choose(code, true); });

    auto* row = new QHBoxLayout;
    outer->addLayout(row);
    row->addStretch(1);
    buttons_ = new QButtonGroup(this);
    for (int i = 0; i < static_cast<int>(turn_buttons.size()); ++i) {
        auto* b = new QToolButton;
        b->setText(QString::fromUtf8(turn_buttons[static_cast<std::size_t>(i)].text));
        b->setToolTip(QString::fromUtf8(turn_buttons[static_cast<std::size_t>(i)].tip));
        QFont font = b->font();
        font.setPointSizeF(font.pointSizeF() * 1.6);
        b->setFont(font);
        buttons_->addButton(b, i);
        row->addWidget(b);
    }
    row->addStretch(1);
    connect(buttons_, &QButtonGroup::idClicked, this,
            [this](int which) { choose(rotref_apply_button(which, code_), true); });
    choose(0, false);
}

std::vector<std::string> RotrefPanel::keys() const {
    return {"orientation"};
}

void RotrefPanel::show_line(const std::string& line) {
    std::int32_t code = 0;
    (void)read_integer(split(line), "orientation", code);
    choose(code, false);
}

std::string RotrefPanel::settings() const {
    return " orientation " + std::to_string(code_);
}

QAbstractButton* RotrefPanel::thumbnail(int code) const {
    return thumbnails_->button(code);
}
QAbstractButton* RotrefPanel::button(int which) const {
    return buttons_->button(which);
}

void RotrefPanel::choose(std::int32_t code, bool by_person) {
    if (code < 0 || code >= orientation_count) code = 0;
    const bool changed = code != code_;
    code_ = code;
    if (QAbstractButton* b = thumbnails_->button(code)) b->setChecked(true);
    if (by_person && changed) emit edited();
}

DialogPanel* make_rotref_panel(FrameWindow&, const PanelInput& input) {
    return new RotrefPanel(input);
}

}  // namespace tessaly::shell
