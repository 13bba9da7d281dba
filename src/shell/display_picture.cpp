#include "shell/display_picture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "color/display.h"
#include "color/monitor_curves.h"
#include "color/profiles.h"
#include "core/image.h"
#include "core/runner.h"
#include "core/tables.h"
#include "workspace/preferences.h"
#include "workspace/session_state.h"

namespace tessaly::shell {

namespace {

std::atomic<bool> proofing_on{false};

// Pictures above this many pixels reach the window first as a preview of about this long side.
constexpr std::uint64_t preview_pixels = 8u << 20;
constexpr std::uint32_t preview_side = 2048;
const QString full_size_key = QStringLiteral("Tessaly full size");

std::uint32_t rgb(const ShellColor& c) {
    return std::uint32_t(c.red & 255) << 16 | std::uint32_t(c.green & 255) << 8 |
           std::uint32_t(c.blue & 255);
}

// Maps the pages of rows first..last of a fresh picture in one request: on a virtual machine
// faulting 96 MB in page by page costs more than filling it.
void populate(QImage& picture, int first, int last) {
#ifdef MADV_POPULATE_WRITE
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(picture.scanLine(first));
    const std::uintptr_t stop = begin + std::uintptr_t(last - first + 1) * picture.bytesPerLine();
    const std::uintptr_t from = (begin + page - 1) / page * page;
    const std::uintptr_t to = stop / page * page;
    if (from < to) (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)picture, (void)first, (void)last;
#endif
}

// One row of the 8-bit display copy (gray or blue-green-red) of every step-th pixel, as the
// image core makes it: 16-bit samples rounded to the nearest 8-bit level, binary as 0 or 255.
// Rows already 8 bits at step 1 are used in place.
const std::uint8_t* display_row(const Image& image, const std::uint8_t* src, std::uint32_t count,
                                std::uint32_t step, std::uint8_t* scratch) {
    switch (image.type) {
        case image_binary:
            for (std::uint32_t x = 0; x < count; ++x) scratch[x] = bit_get(src, x * step);
            return scratch;
        case image_gray8:
            if (step == 1) return src;
            for (std::uint32_t x = 0; x < count; ++x) scratch[x] = src[x * step];
            return scratch;
        case image_color24:
            if (step == 1) return src;
            for (std::uint32_t x = 0; x < count; ++x) {
                std::memcpy(scratch + 3 * x, src + 3 * std::size_t{x} * step, 3);
            }
            return scratch;
        case image_gray16: {
            const auto* s = reinterpret_cast<const std::uint16_t*>(src);
            for (std::uint32_t x = 0; x < count; ++x) scratch[x] = to8_fast(s[x * step]);
            return scratch;
        }
        case image_color48: {
            const auto* s = reinterpret_cast<const std::uint16_t*>(src);
            for (std::uint32_t x = 0; x < count; ++x) {
                const std::size_t i = 3 * std::size_t{x} * step;
                scratch[3 * x] = to8_fast(s[i]);
                scratch[3 * x + 1] = to8_fast(s[i + 1]);
                scratch[3 * x + 2] = to8_fast(s[i + 2]);
            }
            return scratch;
        }
        default:
            return nullptr;
    }
}

// Whether pixel x of a source row has a channel at the bottom (shadow) or top (highlight) of its
// range: bit 0 for a shadow, bit 1 for a highlight.
int clipping(const Image& image, const std::uint8_t* src, std::uint32_t x) {
    auto test = [](auto a, auto b, auto c, auto top) {
        return (a == 0 || b == 0 || c == 0 ? 1 : 0) | (a == top || b == top || c == top ? 2 : 0);
    };
    switch (image.type) {
        case image_binary: {
            const int v = bit_get(src, x);
            return v ? 2 : 1;
        }
        case image_gray8:
            return test(src[x], src[x], src[x], 255);
        case image_color24:
            return test(src[3 * x], src[3 * x + 1], src[3 * x + 2], 255);
        case image_gray16: {
            const auto* s = reinterpret_cast<const std::uint16_t*>(src);
            return test(s[x], s[x], s[x], 65535);
        }
        case image_color48: {
            const auto* s = reinterpret_cast<const std::uint16_t*>(src) + 3 * std::size_t{x};
            return test(s[0], s[1], s[2], 65535);
        }
        default:
            return 0;
    }
}

// Every step-th pixel of every step-th row of an image through the display path into a new
// picture. transform may be empty (no conversion), curves null, marks all off.
QImage make_picture(const Image& image, std::uint32_t step, const DisplayTransform& transform,
                    const MonitorCurveTables* curves, const ClipMarks& marks) {
    const std::uint32_t width = (image.width + step - 1) / step;
    const std::uint32_t height = (image.height + step - 1) / step;
    QImage picture(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (picture.isNull()) return {};
    const cmsHTRANSFORM t = transform.empty() ? nullptr : transform.transform.get();
    const bool gray = display_copy_type(image.type) == image_gray8;
    const bool calibrate = curves && curves->red && curves->green && curves->blue;
    const bool marking = marks.shadows || marks.highlights;
    const std::uint8_t failed = run_range(
        0,
        [&](int first, int last, Progress&) -> std::uint8_t {
            populate(picture, first, last);
            std::vector<std::uint8_t> copy(3 * std::size_t{width});
            std::vector<std::uint8_t> shown(3 * std::size_t{width});
            for (int y = first; y <= last; ++y) {
                const std::uint8_t* src = image.rows[image.height - 1 - std::uint32_t(y) * step];
                const std::uint8_t* in = display_row(image, src, width, step, copy.data());
                if (!in) return 1;
                const std::uint8_t* bgr = in;
                if (t) {
                    cmsDoTransform(t, in, shown.data(), width);
                    bgr = shown.data();
                } else if (gray) {
                    for (std::uint32_t x = 0; x < width; ++x) {
                        std::memset(shown.data() + 3 * x, in[x], 3);
                    }
                    bgr = shown.data();
                }
                auto* out = reinterpret_cast<QRgb*>(picture.scanLine(y));
                if (calibrate) {
                    for (std::uint32_t x = 0; x < width; ++x) {
                        out[x] = qRgb(curves->red[bgr[3 * x + 2]], curves->green[bgr[3 * x + 1]],
                                      curves->blue[bgr[3 * x]]);
                    }
                } else {
                    for (std::uint32_t x = 0; x < width; ++x) {
                        out[x] = qRgb(bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x]);
                    }
                }
                if (!marking) continue;
                for (std::uint32_t x = 0; x < width; ++x) {
                    const int c = clipping(image, src, x * step);
                    // A pixel clipped at both ends is a highlight: it is the brighter message.
                    if (c & 2 && marks.highlights) {
                        out[x] = 0xff000000u | marks.highlight_color;
                    } else if (c & 1 && marks.shadows) {
                        out[x] = 0xff000000u | marks.shadow_color;
                    }
                }
            }
            return 0;
        },
        {}, static_cast<int>(width), static_cast<int>(height), height, false, false, false);
    if (failed) return {};
    return picture;
}

// The display path's transform for an image as the settings stand, then the picture of every
// step-th pixel.
QImage picture_of(const Image& image, bool proofing, const ClipMarks& marks, std::uint32_t step) {
    if (!image.has_pixels() || image.width == 0 || image.height == 0) return {};
    if (!display_copy_type(image.type)) return {};
    const DisplaySettings settings = current_display_settings(proofing);
    DisplayTransform transform;
    // Without colour management or a monitor profile the display copy is shown unconverted; a
    // transform that cannot be built has said so and the picture still shows.
    if (settings.color_management && settings.monitor_profile_size > 0 &&
        build_display_transform(image, settings, transform)) {
        transform = DisplayTransform();
    }
    return make_picture(image, step, transform, active_monitor_curve_tables(), marks);
}

}  // namespace

bool display_proofing() {
    return proofing_on.load();
}

void set_display_proofing(bool on) {
    proofing_on.store(on);
}

ClipMarks current_clip_marks() {
    const SessionState& s = session_state();
    const Preferences& p = preferences();
    ClipMarks marks;
    marks.shadows = s.show_clipped_shadows != 0;
    marks.highlights = s.show_clipped_highlights != 0;
    marks.shadow_color = rgb(p.clipped_shadows_color);
    marks.highlight_color = rgb(p.clipped_highlights_color);
    return marks;
}

QImage display_picture(const Image& image) {
    return display_picture(image, display_proofing(), current_clip_marks());
}

QImage display_picture(const Image& image, bool proofing, const ClipMarks& marks) {
    return picture_of(image, proofing, marks, 1);
}

QImage window_picture(const Image& image) {
    const std::uint32_t longest = std::max(image.width, image.height);
    if (std::uint64_t{image.width} * image.height <= preview_pixels) return display_picture(image);
    const std::uint32_t step = (longest + preview_side - 1) / preview_side;
    QImage preview = picture_of(image, display_proofing(), current_clip_marks(), step);
    if (!preview.isNull()) {
        mark_full_size(preview, image.width, image.height);
    }
    return preview;
}

void mark_full_size(QImage& picture, std::uint32_t width, std::uint32_t height) {
    picture.setText(full_size_key, QString("%1x%2").arg(width).arg(height));
}

QSize full_size(const QImage& picture) {
    const QStringList sides = picture.text(full_size_key).split('x');
    if (sides.size() == 2) return {sides[0].toInt(), sides[1].toInt()};
    return picture.size();
}

QImage display_thumbnail(const Image& image, int side) {
    if (!image.has_pixels() || image.width == 0 || image.height == 0 || side <= 0) return {};
    if (!display_copy_type(image.type)) return {};
    DisplaySettings settings = current_display_settings(false);
    DisplayTransform transform;
    if (settings.color_management && settings.monitor_profile_size > 0 &&
        color_settings().cm_thumbnails && build_display_transform(image, settings, transform)) {
        transform = DisplayTransform();
    }
    // Samples about four times the side apart; the smooth scaling below averages them.
    const std::uint32_t longest = std::max(image.width, image.height);
    const std::uint32_t step = std::max<std::uint32_t>(1, longest / (4 * std::uint32_t(side)));
    const QImage sample =
        make_picture(image, step, transform, active_monitor_curve_tables(), ClipMarks());
    if (sample.isNull()) return {};
    return sample.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage halved_picture(const QImage& picture) {
    const int width = std::max(1, picture.width() / 2);
    const int height = std::max(1, picture.height() / 2);
    if (picture.width() < 2 || picture.height() < 2) return picture;
    QImage half(width, height, QImage::Format_RGB32);
    if (half.isNull()) return {};
    (void)run_range(
        0,
        [&](int first, int last, Progress&) -> std::uint8_t {
            for (int y = first; y <= last; ++y) {
                const auto* a = reinterpret_cast<const QRgb*>(picture.constScanLine(2 * y));
                const auto* b = reinterpret_cast<const QRgb*>(picture.constScanLine(2 * y + 1));
                auto* out = reinterpret_cast<QRgb*>(half.scanLine(y));
                for (int x = 0; x < width; ++x) {
                    const QRgb p = a[2 * x], q = a[2 * x + 1], r = b[2 * x], s = b[2 * x + 1];
                    // Each channel of the four summed in its own lane, rounded.
                    const std::uint32_t rb = (p & 0xff00ff) + (q & 0xff00ff) + (r & 0xff00ff) +
                                             (s & 0xff00ff) + 0x020002;
                    const std::uint32_t g =
                        (p & 0xff00) + (q & 0xff00) + (r & 0xff00) + (s & 0xff00) + 0x200;
                    out[x] = 0xff000000u | ((rb >> 2) & 0xff00ff) | ((g >> 2) & 0xff00);
                }
            }
            return 0;
        },
        {}, width, height, height, false, false, false);
    return half;
}

}  // namespace tessaly::shell
