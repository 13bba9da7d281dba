#include "shell/clipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QColorSpace>
#include <QMimeData>
#include <QThread>
#include <QUrl>
#include <cstring>

#include "core/image_convert.h"

namespace tessaly::shell {

namespace {

// Runs f on the interface thread (the clipboard lives there) and waits for it.
template <typename F>
void on_interface_thread(F&& f) {
    if (QThread::currentThread() == qApp->thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(qApp, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }
}

int write_clipboard(const Image& image) {
    const QImage picture = image_to_qimage(image);
    if (picture.isNull()) return 1;
    on_interface_thread([&] { QApplication::clipboard()->setImage(picture); });
    return 0;
}

bool read_clipboard(ClipboardContent& content) {
    QImage picture;
    std::vector<std::string> files;
    on_interface_thread([&] {
        const QMimeData* data = QApplication::clipboard()->mimeData();
        if (!data) return;
        if (data->hasImage()) {
            picture = qvariant_cast<QImage>(data->imageData());
        } else if (data->hasUrls()) {
            for (const QUrl& url : data->urls()) {
                if (url.isLocalFile()) files.push_back(url.toLocalFile().toStdString());
            }
        }
    });
    if (!picture.isNull()) return qimage_to_image(picture, content.image);
    content.files = std::move(files);
    return content.files.empty();
}

}  // namespace

void install_clipboard() {
    set_clipboard_writer(write_clipboard);
    set_clipboard_reader(read_clipboard);
}

QImage image_to_qimage(const Image& source) {
    const Image* image = &source;
    Image gray;
    if (source.type == image_binary) {
        if (convert_1_to_2(source, gray)) return {};
        image = &gray;
    }
    QImage::Format format;
    std::size_t bytes = 0;
    switch (image->type) {
        case image_gray8:
            format = QImage::Format_Grayscale8;
            bytes = image->width;
            break;
        case image_color24:
            format = QImage::Format_BGR888;
            bytes = std::size_t(image->width) * 3;
            break;
        case image_gray16:
            format = QImage::Format_Grayscale16;
            bytes = std::size_t(image->width) * 2;
            break;
        case image_color48:
            format = QImage::Format_RGBX64;
            break;
        default:
            return {};
    }
    QImage picture(int(image->width), int(image->height), format);
    if (picture.isNull()) return {};
    for (std::uint32_t y = 0; y < image->height; ++y) {
        // Rows are stored bottom up.
        const std::uint8_t* row = image->row(image->height - 1 - y);
        std::uint8_t* line = picture.scanLine(int(y));
        if (image->type != image_color48) {
            std::memcpy(line, row, bytes);
            continue;
        }
        auto* out = reinterpret_cast<std::uint16_t*>(line);
        for (std::uint32_t x = 0; x < image->width; ++x) {
            std::uint16_t bgr[3];
            std::memcpy(bgr, row + 6 * std::size_t(x), 6);
            out[4 * x] = bgr[2];
            out[4 * x + 1] = bgr[1];
            out[4 * x + 2] = bgr[0];
            out[4 * x + 3] = 0xffff;
        }
    }
    if (image->profile_size > 0) {
        picture.setColorSpace(QColorSpace::fromIccProfile(
            QByteArray(reinterpret_cast<const char*>(image->profile), int(image->profile_size))));
    }
    if (image->dpi > 0) {
        const int per_metre = int(image->dpi / 0.0254 + 0.5);
        picture.setDotsPerMeterX(per_metre);
        picture.setDotsPerMeterY(per_metre);
    }
    return picture;
}

bool qimage_to_image(const QImage& given, Image& image) {
    QImage picture;
    std::uint32_t type = image_color24;
    switch (given.format()) {
        case QImage::Format_Grayscale8:
            type = image_gray8;
            picture = given;
            break;
        case QImage::Format_Grayscale16:
            type = image_gray16;
            picture = given;
            break;
        case QImage::Format_RGBX64:
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA64_Premultiplied:
            type = image_color48;
            picture = given.convertToFormat(QImage::Format_RGBX64);
            break;
        default:
            picture = given.convertToFormat(QImage::Format_BGR888);
            break;
    }
    if (picture.isNull()) return true;
    const double dpi = picture.dotsPerMeterX() > 0 ? picture.dotsPerMeterX() * 0.0254 : 0.0;
    if (image_alloc(image, type, std::uint32_t(picture.width()), std::uint32_t(picture.height()),
                    dpi > 0 ? std::round(dpi) : working_image_dpi)) {
        return true;
    }
    const std::size_t bytes = std::size_t(image.width) * image_pixel_bytes(type);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::uint8_t* row = image.row(image.height - 1 - y);
        const std::uint8_t* line = picture.constScanLine(int(y));
        if (type != image_color48) {
            std::memcpy(row, line, bytes);
            continue;
        }
        const auto* in = reinterpret_cast<const std::uint16_t*>(line);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const std::uint16_t bgr[3] = {in[4 * x + 2], in[4 * x + 1], in[4 * x]};
            std::memcpy(row + 6 * std::size_t(x), bgr, 6);
        }
    }
    const QByteArray icc = picture.colorSpace().iccProfile();
    if (!icc.isEmpty() &&
        image_set_profile(image, reinterpret_cast<const std::uint8_t*>(icc.constData()),
                          std::uint32_t(icc.size()))) {
        image_free(image);
        return true;
    }
    return false;
}

}  // namespace tessaly::shell
