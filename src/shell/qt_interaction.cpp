#include "shell/qt_interaction.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <type_traits>

namespace tessaly::shell {

namespace {

QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::Icon icon_of(MessageKind kind) {
    switch (kind) {
        case MessageKind::error:
            return QMessageBox::Critical;
        case MessageKind::warning:
            return QMessageBox::Warning;
        default:
            return QMessageBox::Information;
    }
}

QMessageBox::StandardButtons buttons_of(Buttons buttons) {
    switch (buttons) {
        case Buttons::ok:
            return QMessageBox::Ok;
        case Buttons::ok_cancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case Buttons::yes_no:
            return QMessageBox::Yes | QMessageBox::No;
        default:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
}

QMessageBox::StandardButton button_of(Answer answer) {
    switch (answer) {
        case Answer::ok:
            return QMessageBox::Ok;
        case Answer::yes:
            return QMessageBox::Yes;
        case Answer::no:
            return QMessageBox::No;
        default:
            return QMessageBox::Cancel;
    }
}

Answer answer_of(int button) {
    switch (button) {
        case QMessageBox::Ok:
            return Answer::ok;
        case QMessageBox::Yes:
            return Answer::yes;
        case QMessageBox::No:
            return Answer::no;
        default:
            return Answer::cancel;
    }
}

}  // namespace

QtInteraction::QtInteraction(QWidget* parent, QStatusBar* status_bar)
    : QObject(parent),
      parent_(parent),
      status_bar_(status_bar),
      progress_title_(new QLabel(status_bar)),
      progress_bar_(new QProgressBar(status_bar)),
      cancel_button_(new QPushButton(QObject::tr("Cancel"), status_bar)) {
    progress_bar_->setMaximumWidth(240);
    status_bar_->addPermanentWidget(progress_title_);
    status_bar_->addPermanentWidget(progress_bar_);
    status_bar_->addPermanentWidget(cancel_button_);
    progress_title_->hide();
    progress_bar_->hide();
    cancel_button_->hide();
    connect(cancel_button_, &QPushButton::clicked, this, [this] { cancel_progress(); });
}

template <typename F>
auto QtInteraction::on_interface_thread(F&& f) -> decltype(f()) {
    using Result = decltype(f());
    if (QThread::currentThread() == thread()) return f();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            this, [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

Answer QtInteraction::message(MessageKind kind, std::string_view caption, std::string_view text) {
    return on_interface_thread([&] {
        QMessageBox box(icon_of(kind), q(caption), q(text), QMessageBox::Ok, parent_);
        box.exec();
        return Answer::ok;
    });
}

Answer QtInteraction::ask(std::string_view caption, std::string_view text, Buttons buttons,
                          Answer default_answer) {
    return on_interface_thread([&] {
        QMessageBox box(QMessageBox::Question, q(caption), q(text), buttons_of(buttons), parent_);
        box.setDefaultButton(button_of(default_answer));
        return answer_of(box.exec());
    });
}

int QtInteraction::choose(std::string_view caption, std::string_view text,
                          const std::vector<std::string>& options) {
    return on_interface_thread([&] {
        QStringList items;
        for (const std::string& option : options) items << QString::fromStdString(option);
        bool ok = false;
        const QString picked =
            QInputDialog::getItem(parent_, q(caption), q(text), items, 0, false, &ok);
        return ok ? static_cast<int>(items.indexOf(picked)) : -1;
    });
}

std::optional<std::string> QtInteraction::choose_file(const FileChoice& choice, bool save) {
    return on_interface_thread([&]() -> std::optional<std::string> {
        QString patterns;
        for (const std::string& p : choice.patterns) {
            patterns += (patterns.isEmpty() ? "" : " ") + QString::fromStdString(p);
        }
        const QString filter =
            choice.patterns.empty()
                ? QString()
                : QString::fromStdString(choice.filter_name) + " (" + patterns + ")";
        QString start = QString::fromStdString(choice.folder);
        if (!choice.suggested_name.empty()) {
            start += (start.isEmpty() ? "" : "/") + QString::fromStdString(choice.suggested_name);
        }
        const QString title = QString::fromStdString(choice.title);
        if (!save && choice.allow_multiple) {
            const QStringList paths = QFileDialog::getOpenFileNames(parent_, title, start, filter);
            if (paths.isEmpty()) return std::nullopt;
            return paths.join('\n').toStdString();
        }
        const QString path = save ? QFileDialog::getSaveFileName(parent_, title, start, filter)
                                  : QFileDialog::getOpenFileName(parent_, title, start, filter);
        if (path.isEmpty()) return std::nullopt;
        return path.toStdString();
    });
}

std::optional<std::string> QtInteraction::choose_open_file(const FileChoice& choice) {
    return choose_file(choice, false);
}

std::optional<std::string> QtInteraction::choose_save_file(const FileChoice& choice) {
    return choose_file(choice, true);
}

void QtInteraction::status(std::string_view text) {
    const QString shown = q(text);
    QMetaObject::invokeMethod(this, [this, shown] { status_bar_->showMessage(shown); });
}

void QtInteraction::progress_begin(std::string_view title, std::int64_t total) {
    cancelled_ = false;
    last_shown_ = -1;
    total_ = total;
    const QString shown = q(title);
    QMetaObject::invokeMethod(this, [this, shown, total] {
        progress_title_->setText(shown);
        // QProgressBar counts in int: large totals are shown in thousandths.
        progress_bar_->setRange(0, 1000);
        progress_bar_->setValue(0);
        progress_title_->setVisible(!shown.isEmpty());
        progress_bar_->show();
        cancel_button_->show();
        (void)total;
    });
}

void QtInteraction::progress_update(std::int64_t done) {
    if (total_ <= 0) return;
    const std::int64_t permille = std::min<std::int64_t>(1000, done * 1000 / total_);
    // Only changes are posted: a run ticks once per row, the bar moves once per thousandth.
    if (last_shown_.exchange(permille) == permille) return;
    QMetaObject::invokeMethod(this, [this, permille] { progress_bar_->setValue(int(permille)); });
}

bool QtInteraction::progress_cancelled() {
    return cancelled_;
}

void QtInteraction::progress_end() {
    QMetaObject::invokeMethod(this, [this] {
        progress_title_->hide();
        progress_bar_->hide();
        cancel_button_->hide();
    });
}

void QtInteraction::busy(bool on) {
    QMetaObject::invokeMethod(this, [on] {
        if (on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    });
}

}  // namespace tessaly::shell
