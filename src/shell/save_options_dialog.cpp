#include "shell/save_options_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>
#include <initializer_list>

#include "core/format.h"
#include "fileio/save.h"
#include "shell/frame_window.h"

namespace tessaly::shell {

namespace {

const char* const format_names[] = {"TIFF", "JPEG", "BMP", "PNG", "GIF"};

QComboBox* combo(std::initializer_list<const char*> items, std::int32_t value) {
    auto* box = new QComboBox;
    for (const char* item : items) box->addItem(item);
    box->setCurrentIndex(std::clamp<int>(value, 0, box->count() - 1));
    return box;
}

QComboBox* metadata_combo(std::int32_t value) {
    return combo({"All", "All but GPS", "ICC Profile Only", "None"}, value);
}

QComboBox* script_combo(std::int32_t value) {
    return combo({"Don't Include Script", "Include Script with Image Names",
                  "Include Script with Image Copies", "Include Workspace Script with Image Names",
                  "Include Workspace Script with Image Copies"},
                 value);
}

// The ask flag of a format's record: 0 shows the options before every save.
std::int32_t* ask_flag(SaveOptions& o, std::int32_t format) {
    switch (format) {
        case save_tiff:
            return &o.tiff.ask;
        case save_jpeg:
            return &o.jpeg.ask;
        case save_bmp:
            return &o.bmp.ask;
        case save_png:
            return &o.png.ask;
        case save_gif:
            return &o.gif.ask;
        default:
            return nullptr;
    }
}

QPointer<FrameWindow> dialog_parent;

// Runs f on the interface thread; the engine's thread waits for it.
template <typename F>
void on_interface_thread(F f) {
    QObject* host = dialog_parent ? static_cast<QObject*>(dialog_parent.data()) : qApp;
    if (QThread::currentThread() == host->thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(host, f, Qt::BlockingQueuedConnection);
    }
}

bool ask_from_engine(std::int32_t format, SaveOptions& options) {
    if (!dialog_parent) return false;  // the frame is gone: the options as they are
    bool cancelled = true;
    on_interface_thread([&] { cancelled = edit_save_options(dialog_parent, format, options); });
    return cancelled;
}

}  // namespace

FormatOptionsDialog::FormatOptionsDialog(std::int32_t format, const SaveOptions& options,
                                         QWidget* parent)
    : QDialog(parent), format_(format), options_(options) {
    setWindowTitle(QString("%1 Save Options").arg(format_names[std::clamp(format, 0, 4)]));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    const SaveOptions& o = options_;
    std::int32_t ask = 1;
    switch (format) {
        case save_tiff:
            ask = o.tiff.ask;
            form->addRow("Compression:",
                         compression_ = combo({"None", "LZW", "ZIP"}, o.tiff.compression));
            form->addRow("Metadata:", metadata_ = metadata_combo(o.tiff.metadata));
            form->addRow("Script:", script_ = script_combo(o.tiff.script));
            break;
        case save_jpeg: {
            ask = o.jpeg.ask;
            quality_value_ = o.jpeg.quality;
            quality_ = new QSlider(Qt::Horizontal);
            quality_->setRange(1, 100);
            quality_->setValue(static_cast<int>(std::lround(o.jpeg.quality)));
            quality_label_ = new QLabel;
            auto show_quality = [this] {
                quality_label_->setText(
                    QString::fromStdString(formatted("JPEG Quality: %1zf%%", quality_value_)));
            };
            show_quality();
            connect(quality_, &QSlider::valueChanged, this, [this, show_quality](int v) {
                quality_value_ = v;
                show_quality();
            });
            form->addRow(quality_label_, quality_);
            form->addRow(
                "Chroma Subsampling:",
                subsampling_ = combo({"4:2:0", "4:2:2", "4:4:4", "4:4:0"}, o.jpeg.subsampling));
            form->addRow("Metadata:", metadata_ = metadata_combo(o.jpeg.metadata));
            form->addRow("Script:", script_ = script_combo(o.jpeg.script));
            summary_ = new QCheckBox("Show summary info after save");
            summary_->setChecked(o.jpeg.show_summary != 0);
            form->addRow(summary_);
            break;
        }
        case save_bmp:
            ask = o.bmp.ask;
            form->addRow("Version:",
                         version_ = combo({"BMP V5 (includes profile)", "BMP V1 (no profile)"},
                                          o.bmp.version));
            form->addRow("Script:", script_ = script_combo(o.bmp.script));
            break;
        case save_png:
            ask = o.png.ask;
            form->addRow("Metadata:", metadata_ = metadata_combo(o.png.metadata));
            form->addRow("Script:", script_ = script_combo(o.png.script));
            break;
        default:
            ask = o.gif.ask;
            form->addRow("Script:", script_ = script_combo(o.gif.script));
            break;
    }
    ask_ = new QCheckBox("Ask for options on save");
    ask_->setChecked(ask == 0);
    form->addRow(ask_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

SaveOptions FormatOptionsDialog::options() const {
    SaveOptions o = options_;
    const std::int32_t ask = ask_->isChecked() ? 0 : 1;
    const std::int32_t metadata = metadata_ ? metadata_->currentIndex() : 3;
    const std::int32_t script = script_->currentIndex();
    switch (format_) {
        case save_tiff:
            o.tiff = {ask, metadata, script, compression_->currentIndex()};
            break;
        case save_jpeg:
            o.jpeg = {ask,      quality_value_, subsampling_->currentIndex(),
                      metadata, script,         summary_->isChecked() ? 1 : 0};
            break;
        case save_bmp:
            o.bmp = {ask, version_->currentIndex(), script};
            break;
        case save_png:
            o.png = {ask, metadata, script};
            break;
        default:
            o.gif = {ask, script};
            break;
    }
    return o;
}

bool edit_save_options(QWidget* parent, std::int32_t format, SaveOptions& options) {
    FormatOptionsDialog dialog(format, options, parent);
    if (dialog.exec() != QDialog::Accepted) return true;
    options = dialog.options();
    return false;
}

bool show_save_summary(QWidget* parent, double image_bytes, double file_bytes) {
    QDialog dialog(parent);
    dialog.setWindowTitle("Save Summary");
    auto* layout = new QVBoxLayout(&dialog);
    const double ratio = file_bytes > 0.0 ? image_bytes / file_bytes : 0.0;
    for (const std::string& line : {formatted("Image Size: %3zf MB", image_bytes / 1e6),
                                    formatted("File Size: %3zf MB", file_bytes / 1e6),
                                    formatted("Compression Ratio: %3zf : 1", ratio)}) {
        layout->addWidget(new QLabel(QString::fromStdString(line)));
    }
    auto* buttons = new QDialogButtonBox;
    QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    QPushButton* again = buttons->addButton("Save Again...", QDialogButtonBox::ActionRole);
    ok->setDefault(true);
    layout->addWidget(buttons);
    bool save_again = false;
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(again, &QPushButton::clicked, &dialog, [&] {
        save_again = true;
        dialog.accept();
    });
    dialog.exec();
    return save_again;
}

void install_save_options_dialog(FrameWindow& frame) {
    dialog_parent = &frame;
    set_save_options_dialog(ask_from_engine);
}

bool save_with_options(const std::string& path, Node* node, std::int32_t format) {
    SaveOptions& stored = save_options();
    SaveOptions used = stored;
    std::int32_t* ask = ask_flag(used, format);
    if (ask && *ask == 0 && ask_from_engine(format, used)) return false;  // cancelled
    for (;;) {
        // The whole save (writer, metadata, script) follows the copy the dialog edited; the
        // stored record is back as it was afterwards.
        const SaveOptions keep = stored;
        stored = used;
        if (std::int32_t* a = ask_flag(stored, format)) *a = 1;
        const bool failed = save_image_file(path, node, format, false);
        stored = keep;
        if (failed || format != save_jpeg || used.jpeg.show_summary == 0) return failed;

        const Image& image = effective_image_node(node)->image;
        const double image_bytes = static_cast<double>(image.height) * image.row_bytes;
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        const double file_bytes = ec ? 0.0 : static_cast<double>(size);
        bool again = false;
        on_interface_thread(
            [&] { again = show_save_summary(dialog_parent, image_bytes, file_bytes); });
        if (!again || ask_from_engine(save_jpeg, used)) return false;
    }
}

}  // namespace tessaly::shell
