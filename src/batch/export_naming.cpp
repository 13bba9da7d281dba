#include "batch/export_naming.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/format.h"
#include "core/interaction.h"
#include "core/metadata_values.h"
#include "fileio/exif.h"
#include "fileio/save_options.h"

namespace tessaly {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view open_bracket = "\u27EA";
constexpr std::string_view close_bracket = "\u27EB";

const char* const month_abbr[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const month_full[] = {"January",   "February", "March",    "April",
                                  "May",       "June",     "July",     "August",
                                  "September", "October",  "November", "December"};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Calendar fields of one time stamp.
struct Stamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

std::optional<Stamp> local_stamp(std::optional<std::int64_t> seconds) {
    if (!seconds) return std::nullopt;
    const std::time_t t = static_cast<std::time_t>(*seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return std::nullopt;
    return Stamp{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// EXIF "YYYY:MM:DD HH:MM:SS".
std::optional<Stamp> taken_stamp(const MetadataTag* tags) {
    auto text = tag_text(tags, 36867);      // DateTimeOriginal
    if (!text) text = tag_text(tags, 306);  // DateTime
    if (!text) return std::nullopt;
    Stamp s;
    if (std::sscanf(text->c_str(), "%d:%d:%d %d:%d:%d", &s.year, &s.month, &s.day, &s.hour,
                    &s.minute, &s.second) != 6 ||
        s.month < 1 || s.month > 12) {
        return std::nullopt;
    }
    return s;
}

std::string date_text(const Stamp& s) {
    return formatted("%z4d-%z2d-%z2d", s.year, s.month, s.day);
}
std::string time_text(const Stamp& s) {
    return formatted("%z2d:%z2d:%z2d", s.hour, s.minute, s.second);
}

// The value of a date macro ("year", "month number", ...) of a stamp; "N/A" without one.
std::string stamp_part(const std::optional<Stamp>& s, std::string_view part) {
    if (!s) return "N/A";
    if (part == "year") return formatted("%z4d", s->year);
    if (part == "month number") return formatted("%z2d", s->month);
    if (part == "month abbr") return month_abbr[s->month - 1];
    if (part == "month full") return month_full[s->month - 1];
    if (part == "day") return formatted("%z2d", s->day);
    if (part == "date") return date_text(*s);
    if (part == "time") return time_text(*s);
    return formatted("%z4d-%z2d-%z2d %s", s->year, s->month, s->day, time_text(*s));
}

// The values end up in a file name, where a slash would start a folder and a line break would
// have no place.
std::string file_safe(std::string s) {
    std::replace(s.begin(), s.end(), '/', '-');
    std::replace(s.begin(), s.end(), '\n', ' ');
    std::replace(s.begin(), s.end(), '\r', ' ');
    return s;
}

std::string or_absent(const std::optional<std::string>& s) {
    return s ? file_safe(*s) : std::string("N/A");
}

std::string size_text(std::uint32_t pixels, double dpi, double per_inch, bool physical) {
    if (!physical) return formatted("%d", pixels);
    if (dpi <= 0.0) return "N/A";
    return formatted("%z2f", pixels / dpi * per_inch);
}

bool read_all(const std::string& path, std::vector<std::uint8_t>& bytes, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.resize(limit);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(limit));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

}  // namespace

const char* export_extension(std::int32_t format) {
    switch (format) {
        case save_tiff:
            return ".tif";
        case save_jpeg:
            return ".jpg";
        case save_bmp:
            return ".bmp";
        case save_png:
            return ".png";
        case save_gif:
            return ".gif";
        default:
            return "";
    }
}

const char* export_format_name(std::int32_t format) {
    switch (format) {
        case save_tiff:
            return "TIFF";
        case save_jpeg:
            return "JPEG";
        case save_bmp:
            return "BMP";
        case save_png:
            return "PNG";
        case save_gif:
            return "GIF";
        default:
            return "";
    }
}

std::string with_export_extension(const std::string& name, std::int32_t format) {
    static const char* const image_extensions[] = {
        ".tif",  ".tiff", ".jpg", ".jpeg", ".jpe", ".bmp", ".png", ".gif", ".webp", ".heic",
        ".heif", ".avif", ".nef", ".cr2",  ".cr3", ".arw", ".dng", ".orf", ".rw2",  ".raf"};
    std::string base = name;
    const std::size_t dot = base.rfind('.');
    const std::size_t slash = base.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string ext = lower(base.substr(dot));
        if (std::find(std::begin(image_extensions), std::end(image_extensions), ext) !=
            std::end(image_extensions)) {
            base.erase(dot);
        }
    }
    return base + export_extension(format);
}

std::string sequence_name(const std::string& base, std::int32_t export_count) {
    return formatted("%s %d", base, export_count + 1);
}

std::string next_version_name(const std::string& path) {
    const fs::path p(path);
    std::string stem = p.stem().string();
    const std::string ext = p.extension().string();
    // " v" and one to three digits at the end: that number goes up by one.
    std::size_t digits = 0;
    while (digits < stem.size() &&
           std::isdigit(static_cast<unsigned char>(stem[stem.size() - 1 - digits]))) {
        ++digits;
    }
    std::string next;
    if (digits >= 1 && digits <= 3 && stem.size() >= digits + 2 &&
        stem[stem.size() - digits - 1] == 'v' && stem[stem.size() - digits - 2] == ' ') {
        const int n = std::stoi(stem.substr(stem.size() - digits));
        next = formatted("%s v%d%s", stem.substr(0, stem.size() - digits - 2), n + 1, ext);
    } else {
        next = formatted("%s v%d%s", stem, 1, ext);
    }
    return (p.parent_path() / next).string();
}

const std::vector<std::string_view>& template_macro_names() {
    static const std::vector<std::string_view> names = {"created year",
                                                        "created month number",
                                                        "created month abbr",
                                                        "created month full",
                                                        "created day",
                                                        "created date",
                                                        "created time",
                                                        "modified year",
                                                        "modified month_number",
                                                        "modified month_abbr",
                                                        "modified month_full",
                                                        "modified day",
                                                        "modified date",
                                                        "modified time",
                                                        "pathname",
                                                        "filename",
                                                        "extension",
                                                        "camera make",
                                                        "camera model",
                                                        "f stop",
                                                        "shutter speed",
                                                        "focal length",
                                                        "iso",
                                                        "description",
                                                        "author",
                                                        "copyright",
                                                        "taken date and time",
                                                        "taken year",
                                                        "taken month number",
                                                        "taken month abbr",
                                                        "taken month full",
                                                        "taken day",
                                                        "taken date",
                                                        "taken time",
                                                        "width (pixels}",
                                                        "width (in}",
                                                        "width (cm}",
                                                        "width (mm}",
                                                        "height (pixels}",
                                                        "height (in}",
                                                        "height (cm}",
                                                        "height (mm}"};
    return names;
}

std::optional<std::string> macro_value(std::string_view name, const MacroSource& src) {
    const auto& names = template_macro_names();
    if (std::find(names.begin(), names.end(), name) == names.end()) return std::nullopt;
    const bool has_original = !src.original.empty();
    const fs::path original(src.original);

    auto starts = [&](std::string_view prefix) { return name.substr(0, prefix.size()) == prefix; };
    if (starts("created ") || starts("modified ")) {
        const bool created = starts("created ");
        std::string part(name.substr(created ? 8 : 9));
        std::replace(part.begin(), part.end(), '_', ' ');  // "modified month_number"
        std::optional<std::int64_t> t;
        if (has_original)
            t = created ? file_created_time(src.original) : file_modified_time(src.original);
        return stamp_part(local_stamp(t), part);
    }
    if (starts("taken ")) {
        const std::string_view part = name.substr(6);
        return stamp_part(taken_stamp(src.tags), part);
    }
    // Its slashes too stay out of a name: no macro makes a folder.
    if (name == "pathname") return has_original ? file_safe(src.original) : std::string("N/A");
    if (name == "filename") return has_original ? original.stem().string() : std::string("N/A");
    if (name == "extension") {
        const std::string e = original.extension().string();
        return e.size() > 1 ? e.substr(1) : std::string("N/A");
    }
    if (name == "camera make") return or_absent(tag_text(src.tags, 271));
    if (name == "camera model") return or_absent(tag_text(src.tags, 272));
    if (name == "description") return or_absent(tag_text(src.tags, 270));
    if (name == "author") return or_absent(tag_text(src.tags, 315));
    if (name == "copyright") return or_absent(tag_text(src.tags, 33432));
    if (name == "f stop") {
        const auto f = tag_number(src.tags, 33437);
        return f ? formatted("f%z1f", *f) : std::string("N/A");
    }
    if (name == "shutter speed") {
        const auto t = tag_number(src.tags, 33434);
        if (!t || *t <= 0.0) return std::string("N/A");
        // "1-250s" rather than "1/250 s": the text goes into a file name.
        if (*t < 1.0) return formatted("1-%ds", static_cast<int>(std::lround(1.0 / *t)));
        return formatted("%z1fs", *t);
    }
    if (name == "focal length") {
        const auto f = tag_number(src.tags, 37386);
        return f ? formatted("%z1fmm", *f) : std::string("N/A");
    }
    if (name == "iso") {
        const auto i = tag_number(src.tags, 34855);
        return i ? formatted("%d", static_cast<int>(std::lround(*i))) : std::string("N/A");
    }
    const bool width = starts("width ");
    const std::uint32_t pixels = width ? src.width : src.height;
    const std::string_view unit = name.substr(width ? 7 : 8);
    if (unit == "pixels}") return size_text(pixels, src.dpi, 1.0, false);
    if (unit == "in}") return size_text(pixels, src.dpi, 1.0, true);
    if (unit == "cm}") return size_text(pixels, src.dpi, 2.54, true);
    return size_text(pixels, src.dpi, 25.4, true);
}

std::optional<std::string> expand_template(std::string_view text, const MacroSource& source) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find(open_bracket, at);
        if (open == std::string_view::npos) break;
        const std::size_t name_start = open + open_bracket.size();
        const std::size_t close = text.find(close_bracket, name_start);
        if (close == std::string_view::npos) break;
        out.append(text.substr(at, open - at));
        const std::string_view name = text.substr(name_start, close - name_start);
        auto value = macro_value(name, source);
        if (!value) {
            show_error("Unrecognized macro: %s", name);
            return std::nullopt;
        }
        out += *value;
        at = close + close_bracket.size();
    }
    out.append(text.substr(at));
    return out;
}

bool read_exif_tags(const std::string& path, Image& holder) {
    std::vector<std::uint8_t> bytes;
    // Enough for the tags of any camera file; IFD entries beyond it are skipped by the parser.
    if (!read_all(path, bytes, std::size_t{64} << 20) || bytes.size() < 8) return false;
    int orientation = 0;
    if (bytes[0] == 0xFF && bytes[1] == 0xD8) {
        std::size_t i = 2;
        while (i + 4 <= bytes.size() && bytes[i] == 0xFF) {
            const std::uint8_t marker = bytes[i + 1];
            if (marker == 0xDA || marker == 0xD9) break;  // image data: no more headers
            const std::size_t length = (bytes[i + 2] << 8) | bytes[i + 3];
            if (length < 2 || i + 2 + length > bytes.size()) break;
            const std::uint8_t* body = bytes.data() + i + 4;
            if (marker == 0xE1 && length >= 8 && std::equal(body, body + 6, "Exif\0\0")) {
                return !exif_read_block(body + 6, length - 8, holder, orientation) && holder.tags;
            }
            i += 2 + length;
        }
        return false;
    }
    if ((bytes[0] == 'I' && bytes[1] == 'I') || (bytes[0] == 'M' && bytes[1] == 'M')) {
        return !exif_read_block(bytes.data(), bytes.size(), holder, orientation) && holder.tags;
    }
    return false;
}

std::optional<std::int64_t> file_created_time(const std::string& path) {
#if defined(STATX_BTIME)
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0) {
        if (sx.stx_mask & STATX_BTIME) return static_cast<std::int64_t>(sx.stx_btime.tv_sec);
        if (sx.stx_mask & STATX_MTIME) return static_cast<std::int64_t>(sx.stx_mtime.tv_sec);
    }
#endif
    return file_modified_time(path);
}

std::optional<std::int64_t> file_modified_time(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::int64_t>(st.st_mtime);
}

std::optional<std::string> ask_export_name(std::int32_t format, const std::string& folder,
                                           const std::string& suggested) {
    FileChoice choice;
    choice.title = formatted("Export %s File", export_format_name(format));
    choice.filter_name = formatted("%s Files", export_format_name(format));
    choice.patterns = {std::string("*") + export_extension(format)};
    choice.folder = folder;
    choice.suggested_name = suggested;
    return interaction().choose_save_file(choice);
}

NameDecision settle_existing(std::string& path, std::int32_t if_exists, std::int32_t format,
                             bool* claimed) {
    for (;;) {
        if (if_exists == exists_add_version) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                if (claimed) *claimed = true;
                return NameDecision::write;
            }
            if (errno != EEXIST) return NameDecision::write;  // the writer reports the folder
            path = next_version_name(path);
            continue;
        }
        std::error_code ec;
        if (!fs::exists(path, ec)) return NameDecision::write;
        switch (if_exists) {
            case exists_overwrite:
                // The old file is replaced only when the new one is complete (the writer renames
                // over it), so a failed export leaves it intact.
                return NameDecision::write;
            case exists_ask: {
                const Answer a =
                    interaction().ask("Warning", formatted("Overwrite existing file?\\n %s", path),
                                      Buttons::yes_no_cancel, Answer::cancel);
                if (a == Answer::yes) return NameDecision::write;
                if (a != Answer::no) return NameDecision::skip;
                const fs::path p(path);
                auto other =
                    ask_export_name(format, p.parent_path().string(), p.filename().string());
                if (!other || other->empty()) return NameDecision::skip;
                path = with_export_extension(*other, format);
                break;
            }
            default:
                return NameDecision::skip;
        }
    }
}

}  // namespace tessaly
