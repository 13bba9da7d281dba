#include "shell/image_info.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>
#include <ctime>
#include <filesystem>

#include "batch/export_naming.h"
#include "color/lcms_support.h"
#include "core/format.h"
#include "core/metadata_values.h"
#include "fileio/save.h"
#include "framework/node.h"
#include "workspace/preferences.h"

namespace tessaly::shell {

namespace fs = std::filesystem;

namespace {

constexpr const char* absent = "N/A";

std::string or_absent(const std::optional<std::string>& value) {
    return value ? *value : std::string(absent);
}

// A coded EXIF value by its table; codes outside the table are shown as numbers.
std::string coded(const MetadataTag* tags, std::uint32_t number,
                  std::initializer_list<std::pair<int, const char*>> names) {
    const auto v = tag_number(tags, number);
    if (!v) return absent;
    const int code = static_cast<int>(*v);
    for (const auto& [value, name] : names) {
        if (value == code) return name;
    }
    return formatted("%d", code);
}

std::string flash_text(const MetadataTag* tags) {
    const auto v = tag_number(tags, 37385);
    if (!v) return absent;
    const int flash = static_cast<int>(*v);
    if (flash & 0x20) return "No flash function";
    const bool fired = flash & 1;
    static const char* const modes[] = {"", "On, ", "Off, ", "Auto, "};
    std::string text = modes[(flash >> 3) & 3];
    text += fired ? "Fired" : "Did not fire";
    if (flash & 0x40) text += ", red-eye reduction";
    return text;
}

std::string exposure_text(const MetadataTag* tags) {
    const auto t = tag_number(tags, 33434);
    if (!t || *t <= 0.0) return absent;
    if (*t < 1.0) return formatted("1/%d s", static_cast<int>(std::lround(1.0 / *t)));
    return formatted("%z1f s", *t);
}

// EXIF dates are "YYYY:MM:DD HH:MM:SS".
std::string taken_text(const MetadataTag* tags) {
    auto text = tag_text(tags, 36867);      // DateTimeOriginal
    if (!text) text = tag_text(tags, 306);  // DateTime
    if (!text) return absent;
    std::string s = *text;
    if (s.size() >= 10 && s[4] == ':' && s[7] == ':') s[4] = s[7] = '-';
    return s;
}

// Degrees, minutes and seconds of a GPS coordinate (three rationals), signed by its reference.
std::optional<double> coordinate(const MetadataTag* tags, std::uint32_t ref, std::uint32_t value,
                                 char negative) {
    const auto d = tag_number(tags, value, 0);
    if (!d) return std::nullopt;
    const double degrees = *d + tag_number(tags, value, 1).value_or(0.0) / 60.0 +
                           tag_number(tags, value, 2).value_or(0.0) / 3600.0;
    const auto r = tag_text(tags, ref);
    return r && !r->empty() && (*r)[0] == negative ? -degrees : degrees;
}

std::string coordinate_text(double degrees, char positive, char negative) {
    // Rounded to hundredths of a second first, so that 59.999" never shows as 60".
    const double hundredths = std::round(std::fabs(degrees) * 360000.0);
    const auto whole = static_cast<std::int64_t>(hundredths);
    const std::int64_t d = whole / 360000;
    const std::int64_t m = whole / 6000 % 60;
    const double s = static_cast<double>(whole % 6000) / 100.0;
    return formatted("%d° %d' %2f\" %c", d, m, s, degrees < 0 ? negative : positive);
}

std::string created_text(const std::string& path) {
    const auto seconds = file_created_time(path);
    if (!seconds) return absent;
    const std::time_t t = static_cast<std::time_t>(*seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return absent;
    return formatted("%z4d-%z2d-%z2d %z2d:%z2d:%z2d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::string file_size_text(const std::string& path) {
    std::error_code ec;
    const std::uintmax_t bytes = fs::file_size(path, ec);
    if (ec) return absent;
    const double size = static_cast<double>(bytes);
    if (size < 1024.0) return formatted("%0f bytes", size);
    if (size < 1024.0 * 1024.0) return formatted("%3zf KB", size / 1024.0);
    return formatted("%3zf MB", size / (1024.0 * 1024.0));
}

const char* type_name(std::uint32_t type) {
    switch (type) {
        case 1:
            return "Binary";
        case 2:
            return "8-bit Black and White";
        case 3:
            return "24-bit Color";
        case 4:
            return "16-bit Black and White";
        case 5:
            return "48-bit Color";
        case 6:
            return "Floating-Point Black and White";
        case 7:
            return "Floating-Point Color";
        default:
            return absent;
    }
}

// The physical size in the person's default units: 0 inches, 1 centimetres, 2 millimetres.
std::string physical_size_text(const Image& image, std::int32_t units) {
    if (image.dpi <= 0.0) return formatted("No physical size -- dpi = %3zf", image.dpi);
    const double w = image.width / image.dpi;
    const double h = image.height / image.dpi;
    if (units == 2) return formatted("%2zf x %2zf mm", w * 25.4, h * 25.4);
    if (units == 1) return formatted("%3zf x %3zf cm", w * 2.54, h * 2.54);
    return formatted("%3zf x %3zf in", w, h);
}

std::vector<InfoLine> image_lines(const Node* node, const Image& image, std::int32_t units) {
    std::vector<InfoLine> lines;
    lines.push_back({"Type:", type_name(image.type)});
    lines.push_back({"Caption:", node->caption});
    const std::string pixels =
        image.dpi > 0.0 ? formatted("%d x %d @ %2zf dpi", image.width, image.height, image.dpi)
                        : formatted("%d x %d", image.width, image.height);
    lines.push_back({"Size:", pixels + "\n" + physical_size_text(image, units)});
    const std::string profile =
        image.profile ? profile_description(image.profile, image.profile_size) : std::string();
    lines.push_back({"Profile:", image.profile ? (profile.empty() ? "(no description)" : profile)
                                               : std::string("None")});

    // A saved image is described by its own file, any other by the file it was made from.
    std::string file;
    if (!node->saved_as_pathname.empty()) {
        file = node->saved_as_pathname;
        std::string date = node->saved_on_date;
        if (const auto dot = date.find('.'); dot != std::string::npos) date.erase(dot, 10);
        lines.push_back({"", formatted("Last saved %s as...", date)});
    } else {
        file = original_file_of(node);
        if (!file.empty() && !is_top_level(node))
            lines.push_back({"", "Derived from original file..."});
    }
    if (file.empty()) {
        lines.push_back({"Filename:", absent});
        lines.push_back({"Folder:", absent});
        lines.push_back({"File Size:", absent});
        lines.push_back({"Created:", absent});
    } else {
        const fs::path path(file);
        lines.push_back({"Filename:", path.filename().string()});
        lines.push_back({"Folder:", path.parent_path().string()});
        lines.push_back({"File Size:", file_size_text(file)});
        lines.push_back({"Created:", created_text(file)});
    }
    lines.push_back({"Command:", node->command_line ? *node->command_line : std::string(absent)});
    return lines;
}

}  // namespace

std::vector<InfoLine> camera_lines(const MetadataTag* tags) {
    auto number = [&](std::uint32_t tag, const char* format) -> std::string {
        const auto v = tag_number(tags, tag);
        return v ? formatted(format, formatted("%z2f", *v)) : std::string(absent);
    };
    std::string bias = absent;
    if (const auto v = tag_number(tags, 37380)) {
        bias = formatted(*v > 0 ? "+%z2f EV" : "%z2f EV", *v);
    }
    std::string iso = absent;
    if (const auto v = tag_number(tags, 34855)) iso = formatted("%d", std::lround(*v));
    std::string distance = absent;
    if (const auto v = tag_number(tags, 37382)) {
        // 0xFFFFFFFF over 1 is the standard's "infinity".
        distance = *v >= 4294967295.0 ? std::string("Infinity") : formatted("%z2f m", *v);
    }
    return {
        {"Camera Make:", or_absent(tag_text(tags, 271))},
        {"Camera Model:", or_absent(tag_text(tags, 272))},
        {"Taken:", taken_text(tags)},
        {"Focal Length:", number(37386, "%s mm")},
        {"Aperture:", number(33437, "f/%s")},
        {"Exposure:", exposure_text(tags)},
        {"Exp ±:", bias},
        {"ISO:", iso},
        {"Subject Distance:", distance},
        {"White Balance:", coded(tags, 41987, {{0, "Auto"}, {1, "Manual"}})},
        {"Program:", coded(tags, 34850,
                           {{0, "Not defined"},
                            {1, "Manual"},
                            {2, "Normal program"},
                            {3, "Aperture priority"},
                            {4, "Shutter priority"},
                            {5, "Creative program"},
                            {6, "Action program"},
                            {7, "Portrait mode"},
                            {8, "Landscape mode"}})},
        {"Exposure Mode:",
         coded(tags, 41986, {{0, "Auto exposure"}, {1, "Manual exposure"}, {2, "Auto bracket"}})},
        {"Color Space:",
         coded(tags, 40961, {{1, "sRGB"}, {2, "Adobe RGB"}, {65535, "Uncalibrated"}})},
        {"Metering Mode:", coded(tags, 37383,
                                 {{0, "Unknown"},
                                  {1, "Average"},
                                  {2, "Center-weighted average"},
                                  {3, "Spot"},
                                  {4, "Multi-spot"},
                                  {5, "Multi-segment"},
                                  {6, "Partial"},
                                  {255, "Other"}})},
        {"Flash:", flash_text(tags)},
        {"Info:", or_absent(tag_text(tags, 42036))},  // the lens model
    };
}

std::vector<InfoLine> notes_lines(const MetadataTag* tags) {
    return {
        {"Make:", or_absent(tag_text(tags, 271))},
        {"Model:", or_absent(tag_text(tags, 272))},
        {"Description:", or_absent(tag_text(tags, 270))},
        {"Author:", or_absent(tag_text(tags, 315))},
        {"Copyright:", or_absent(tag_text(tags, 33432))},
    };
}

std::vector<InfoLine> gps_lines(const MetadataTag* tags, bool feet,
                                std::optional<GeoLocation>& location) {
    location.reset();
    const auto latitude = coordinate(tags, 1, 2, 'S');
    const auto longitude = coordinate(tags, 3, 4, 'W');
    std::string altitude = absent;
    if (auto a = tag_number(tags, 6)) {
        if (tag_number(tags, 5).value_or(0.0) == 1.0) *a = -*a;  // below sea level
        altitude =
            feet ? formatted("%1f ft", *a / 0.3048) : formatted("%s m", formatted("%z1f", *a));
    }
    std::string direction = absent;
    if (const auto d = tag_number(tags, 17)) {
        const auto ref = tag_text(tags, 16);
        const bool magnetic = ref && !ref->empty() && (*ref)[0] == 'M';
        direction = formatted(magnetic ? "%s° magnetic" : "%s° true", formatted("%z2f", *d));
    }
    if (latitude && longitude) location = GeoLocation{*latitude, *longitude};
    return {
        {"Latitude:", latitude ? coordinate_text(*latitude, 'N', 'S') : std::string(absent)},
        {"Longitude:", longitude ? coordinate_text(*longitude, 'E', 'W') : std::string(absent)},
        {"Altitude:", altitude},
        {"Direction:", direction},
    };
}

ImageInfo gather_image_info(const Node* node) {
    ImageInfo info;
    const Node* shown = node ? effective_image_node(node) : nullptr;
    if (!shown) return info;
    const Image& image = shown->image;
    const std::int32_t units = preferences().default_units;
    info.image = image_lines(node, image, units);
    // Transformations carry the tags of their input; an image that lost them (or a file
    // reader that keeps none) is described by its original file's EXIF.
    const MetadataTag* tags = image.tags;
    Image holder;
    if (!tags) {
        const std::string original = original_file_of(node);
        if (!original.empty() && read_exif_tags(original, holder)) tags = holder.tags;
    }
    info.camera = camera_lines(tags);
    info.notes = notes_lines(tags);
    info.gps = gps_lines(tags, units == 0, info.location);
    return info;
}

QUrl map_url(const GeoLocation& where) {
    PlainSeparators plain;
    const std::string lat = formatted("%z6f", where.latitude);
    const std::string lon = formatted("%z6f", where.longitude);
    return QUrl(QString::fromStdString(formatted(
        "https://www.openstreetmap.org/?mlat=%s&mlon=%s#map=16/%s/%s", lat, lon, lat, lon)));
}

ImageInfoWindow::ImageInfoWindow(QWidget* parent)
    : QDialog(parent), tabs_(new QTabWidget(this)), locate_(nullptr) {
    setObjectName("image info");
    setWindowTitle(tr("Image Info"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
    resize(560, 480);
}

void ImageInfoWindow::set_info(ImageInfo info) {
    info_ = std::move(info);
    const int shown = tabs_->currentIndex();
    while (tabs_->count() > 0) {
        QWidget* page = tabs_->widget(0);
        tabs_->removeTab(0);
        page->deleteLater();
    }
    auto page = [&](const std::vector<InfoLine>& lines, const char* title) {
        auto* widget = new QWidget;
        auto* form = new QFormLayout(widget);
        form->setRowWrapPolicy(QFormLayout::DontWrapRows);
        for (const InfoLine& line : lines) {
            auto* value = new QLabel(QString::fromStdString(line.value), widget);
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
            value->setWordWrap(true);
            if (line.label.empty()) {
                value->setStyleSheet("font-style: italic");
                form->addRow(value);
            } else {
                form->addRow(QString::fromStdString(line.label), value);
            }
        }
        tabs_->addTab(widget, tr(title));
        return form;
    };
    page(info_.image, "Image");
    page(info_.camera, "Camera");
    page(info_.notes, "Notes");
    QFormLayout* gps = page(info_.gps, "GPS");
    locate_ = new QPushButton(tr("Locate on Google Maps"), tabs_->widget(3));
    locate_->setEnabled(info_.location.has_value());
    gps->addRow(locate_);
    connect(locate_, &QPushButton::clicked, this, [this] {
        if (info_.location) QDesktopServices::openUrl(map_url(*info_.location));
    });
    if (shown >= 0) tabs_->setCurrentIndex(shown);
}

}  // namespace tessaly::shell
