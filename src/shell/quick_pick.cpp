#include "shell/quick_pick.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "shell/frame_window.h"
#include "workspace/theme.h"

namespace tessaly::shell {

namespace {

constexpr int search_capacity = 255;
constexpr int numbered_capacity = 9;
constexpr int counted_gap = 12;  // between the last counted row and the first uncounted one

bool same_letters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

QString css(const ShellColor& c) {
    return QColor(c.red, c.green, c.blue).name();
}

QString button_style(const QuickPickRow& row, int indent) {
    const Theme& t = current_theme();
    const ShellColor& back = row.disabled        ? t.quick_pick_grayed_button_background
                             : row.use_count > 0 ? t.quick_pick_button_background
                                                 : t.quick_pick_unused_button_background;
    const ShellColor& text = row.disabled        ? t.quick_pick_grayed_button_text
                             : row.use_count > 0 ? t.quick_pick_button_text
                                                 : t.quick_pick_unused_button_text;
    return QString(
               "QPushButton { text-align: left; padding: 3px 8px 3px %1px; background: %2;"
               " color: %3; border: 1px solid #888; }"
               " QPushButton:pressed { border: 2px inset #444; }")
        .arg(8 + indent)
        .arg(css(back), css(text));
}

}  // namespace

std::vector<QuickPickRow> quick_pick_rows() {
    std::vector<QuickPickRow> rows;
    for (const TransformationEntry& e : registry_rows()) {
        rows.push_back({e.display_name ? e.display_name : "",
                        static_cast<std::int32_t>(e.command_id), e.use_count,
                        is_command_disabled(e.command_id)});
    }
    return rows;
}

QuickPickResult quick_pick_among(const std::vector<QuickPickRow>& rows, std::string_view search) {
    QuickPickResult result;
    int matches = 0;
    int enabled = 0;
    std::int32_t first_enabled = -1;
    for (const QuickPickRow& row : rows) {
        if (same_letters(search, row.name)) {
            result.command = row.command;
            return result;
        }
        if (!quick_pick_match(search, row.name)) continue;
        ++matches;
        if (!row.disabled && enabled++ == 0) first_enabled = row.command;
    }
    if (matches == 0) return result;
    if (enabled == 1) {
        result.command = first_enabled;
    } else {
        result.open_dialog = true;
    }
    return result;
}

QuickPickDialog::QuickPickDialog(std::vector<QuickPickRow> rows, const QString& search,
                                 int max_height, QWidget* parent)
    : QDialog(parent), rows_(std::move(rows)), max_height_(max_height), accepted_(search) {
    setWindowTitle("Quick Pick");
    setModal(true);
    QPalette palette = this->palette();
    const ShellColor& back = current_theme().quick_pick_background;
    palette.setColor(QPalette::Window, QColor(back.red, back.green, back.blue));
    setPalette(palette);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    search_ = new QLineEdit(search);
    search_->setMaxLength(search_capacity);
    layout->addWidget(search_);
    area_ = new QWidget;
    layout->addWidget(area_);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    auto* ok = new QPushButton("OK");
    auto* cancel = new QPushButton("Cancel");
    ok->setAutoDefault(false);
    cancel->setAutoDefault(false);
    bottom->addWidget(ok);
    bottom->addWidget(cancel);
    layout->addLayout(bottom);
    connect(ok, &QPushButton::clicked, this, [this] { finish(-1); });
    connect(cancel, &QPushButton::clicked, this, [this] { finish(-1); });
    connect(search_, &QLineEdit::textEdited, this, &QuickPickDialog::edited);
    rebuild();
}

void QuickPickDialog::finish(std::int32_t command) {
    chosen_ = command;
    command >= 0 ? accept() : reject();
}

void QuickPickDialog::edited(const QString& text) {
    const QChar last = text.isEmpty() ? QChar() : text.back();
    if (last >= '1' && last <= '9') {
        const int number = last.digitValue();
        if (number <= numbered_) {
            finish(buttons_[static_cast<std::size_t>(number - 1)]->property("command").toInt());
            return;
        }
    } else {
        const std::string wanted = text.toStdString();
        const QuickPickResult r = quick_pick_among(rows_, wanted);
        if (r.command >= 0) {
            finish(r.command);
            return;
        }
        if (r.open_dialog) {
            accepted_ = text;
            rebuild();
            return;
        }
    }
    // A digit without its button, or a letter that leaves no match: taken back.
    QApplication::beep();
    search_->setText(accepted_);
}

void QuickPickDialog::rebuild() {
    qDeleteAll(area_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
    delete area_->layout();
    buttons_.clear();
    numbered_ = 0;

    auto* columns = new QHBoxLayout(area_);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QVBoxLayout* column = nullptr;
    int used = 0;
    const int limit = std::max(1, max_height_ * 9 / 10);
    const int indent = fontMetrics().horizontalAdvance("9 - ");
    const std::string search = accepted_.toStdString();
    bool counted_before = false;
    for (const QuickPickRow& row : rows_) {
        if (!quick_pick_match(search, row.name)) continue;
        QString label = QString::fromStdString(row.name);
        const bool numbered = row.use_count > 0 && numbered_ < numbered_capacity;
        if (numbered) label = QString("%1 - %2").arg(++numbered_).arg(label);
        auto* button = new QPushButton(label);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus);
        button->setEnabled(!row.disabled);
        button->setProperty("command", row.command);
        button->setStyleSheet(button_style(row, numbered ? 0 : indent));
        connect(button, &QPushButton::clicked, this, [this, c = row.command] { finish(c); });
        const int gap = counted_before && row.use_count == 0 ? counted_gap : 0;
        counted_before = row.use_count > 0;
        const int height = button->sizeHint().height();
        if (!column || used + gap + height > limit) {
            column = new QVBoxLayout;
            column->setAlignment(Qt::AlignTop);
            column->setSpacing(2);
            columns->addLayout(column);
            used = 0;
        } else if (gap > 0) {
            column->addSpacing(gap);
        }
        column->addWidget(button);
        used += gap + height + 2;
        buttons_.push_back(button);
    }
    adjustSize();
}

void quick_pick_typed(FrameWindow& frame, const QString& text) {
    // A blank searches for everything.
    const std::string search = text.trimmed().toStdString();
    struct Found {
        QuickPickResult result;
        std::vector<QuickPickRow> rows;
    };
    auto found = std::make_shared<Found>();
    frame.run(
        [found, search] {
            found->result = quick_pick(search);
            if (!found->result.open_dialog) return;
            sort_by_use_count();
            found->rows = quick_pick_rows();
        },
        [&frame, found, search] {
            std::int32_t command = found->result.command;
            if (found->result.open_dialog) {
                QuickPickDialog dialog(std::move(found->rows), QString::fromStdString(search),
                                       frame.centralWidget()->height(), &frame);
                dialog.exec();
                command = dialog.chosen();
            }
            if (command >= 0) frame.command(static_cast<std::uint32_t>(command));
        });
}

namespace {

class TypedCharacters : public QObject {
  public:
    TypedCharacters(FrameWindow& frame) : QObject(&frame), frame_(frame) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || watched != &frame_) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        const QString text = key->text();
        if (text.size() != 1 || !text[0].isPrint()) return false;
        quick_pick_typed(frame_, text);
        return true;
    }

  private:
    FrameWindow& frame_;
};

}  // namespace

void install_quick_pick(FrameWindow& frame) {
    frame.installEventFilter(new TypedCharacters(frame));
}

}  // namespace tessaly::shell
