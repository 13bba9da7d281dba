#include "shell/batch_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <map>
#include <memory>

#include "batch/batch.h"
#include "shell/display_picture.h"
#include "shell/frame_window.h"
#include "shell/image_browser.h"

namespace tessaly::shell {

namespace {

struct Installed {
    std::unique_ptr<QtBatchDisplay> display;
    BatchDisplay* previous = nullptr;
};

// By frame; tests make several frames one after another.
std::map<const FrameWindow*, Installed>& installed() {
    static std::map<const FrameWindow*, Installed> frames;
    return frames;
}

QString text_of(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

BatchProgressWindow::BatchProgressWindow(QWidget* frame)
    : QWidget(frame, Qt::Tool),
      terminate_(new QPushButton(tr("Terminate Batch Process"), this)),
      current_file_(new QLabel(tr("Current file: "), this)),
      status_(new QLabel(this)),
      thumbnail_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      side_(8 * fontMetrics().lineSpacing()) {
    setObjectName("batch progress");
    setWindowTitle(tr("Batch Progress"));
    current_file_->setTextFormat(Qt::PlainText);
    status_->setTextFormat(Qt::PlainText);
    thumbnail_->setFixedSize(side_, side_);
    thumbnail_->setAlignment(Qt::AlignCenter);
    thumbnail_->setFrameShape(QFrame::Panel);
    thumbnail_->setFrameShadow(QFrame::Sunken);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(terminate_, 0, Qt::AlignLeft);
    layout->addWidget(current_file_);
    layout->addWidget(status_);
    layout->addWidget(thumbnail_, 0, Qt::AlignHCenter);
    layout->addWidget(bar_);
    bar_->setFormat(tr("%v of %m"));
    // Wide enough for a current file line of 80 characters.
    setMinimumWidth(500);
    resize(500, 100);
    adjustSize();
}

void BatchProgressWindow::start(int steps) {
    set_current_file(tr("Current file: "));
    status_->clear();
    thumbnail_->clear();
    bar_->setRange(0, std::max(steps, 1));
    bar_->setValue(0);
    terminate_->setEnabled(true);
    show();
    raise();
}

void BatchProgressWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (terminate_->isEnabled()) terminate_->click();
}

void BatchProgressWindow::set_current_file(const QString& line) {
    current_file_->setText(line);
    emit current_file_shown(line);
}

void BatchProgressWindow::set_status(const QString& text) {
    status_->setText(text);
}

void BatchProgressWindow::set_thumbnail(const QImage& picture) {
    thumbnail_->setPixmap(QPixmap::fromImage(picture));
}

void BatchProgressWindow::set_progress(int done) {
    bar_->setValue(std::min(done, bar_->maximum()));
}

QtBatchDisplay::QtBatchDisplay(FrameWindow& frame)
    : frame_(frame), window_(new BatchProgressWindow(&frame)), side_(window_->thumbnail_side()) {
    QObject::connect(window_->terminate_button(), &QPushButton::clicked, window_, [this] {
        terminate_ = true;
        // Pressed once is enough; the batch stops at its next check.
        window_->terminate_button()->setEnabled(false);
    });
}

QtBatchDisplay::~QtBatchDisplay() = default;

void QtBatchDisplay::open(int steps) {
    terminate_ = false;
    QMetaObject::invokeMethod(
        window_, [w = window_, steps] { w->start(steps); }, Qt::QueuedConnection);
}

void QtBatchDisplay::close() {
    QMetaObject::invokeMethod(
        window_, [w = window_] { w->hide(); }, Qt::QueuedConnection);
}

void QtBatchDisplay::current_file(std::string_view line) {
    QMetaObject::invokeMethod(
        window_, [w = window_, text = text_of(line)] { w->set_current_file(text); },
        Qt::QueuedConnection);
}

void QtBatchDisplay::status(std::string_view text) {
    QMetaObject::invokeMethod(
        window_, [w = window_, t = text_of(text)] { w->set_status(t); }, Qt::QueuedConnection);
}

void QtBatchDisplay::thumbnail(const Image& image) {
    // Made here, where the image may be read; the window only draws the copy.
    QImage picture = display_thumbnail(image, side_ - 4);
    if (picture.isNull()) return;
    QMetaObject::invokeMethod(
        window_, [w = window_, p = std::move(picture)] { w->set_thumbnail(p); },
        Qt::QueuedConnection);
}

void QtBatchDisplay::progress(int done) {
    QMetaObject::invokeMethod(
        window_, [w = window_, done] { w->set_progress(done); }, Qt::QueuedConnection);
}

bool QtBatchDisplay::pump() {
    // The window answers on its own thread; nothing to dispatch here.
    return terminate_.load();
}

void QtBatchDisplay::enable_browser(bool enabled) {
    QMetaObject::invokeMethod(
        &frame_, [b = frame_.browser(), enabled] { b->setEnabled(enabled); }, Qt::QueuedConnection);
}

void QtBatchDisplay::file_list_changed(Node*) {
    // The desktop program shows no file list of its own yet; the browser's snapshot is taken
    // again when the batch's job ends.
}

void install_batch_window(FrameWindow& frame) {
    Installed& entry = installed()[&frame];
    entry.display = std::make_unique<QtBatchDisplay>(frame);
    entry.previous = set_batch_display(entry.display.get());
}

void uninstall_batch_window(FrameWindow& frame) {
    const auto it = installed().find(&frame);
    if (it == installed().end()) return;
    if (&batch_display() == it->second.display.get()) set_batch_display(it->second.previous);
    installed().erase(it);
}

BatchProgressWindow* batch_window(const FrameWindow& frame) {
    const auto it = installed().find(&frame);
    return it == installed().end() ? nullptr : it->second.display->window();
}

void FrameWindow::run_batch(bool test_mode) {
    run([test_mode] { (void)run_batch_over_loaded(test_mode ? batch_test : batch_run); });
}

}  // namespace tessaly::shell
