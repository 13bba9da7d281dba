#include "fileio/save_options.h"

#include <cctype>
#include <filesystem>

#include "core/format.h"

namespace tessaly {

namespace {

std::string lower_extension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// Reads the integers from position `first` on; values missing at the end keep theirs.
void read_values(const ArgumentList& line, std::initializer_list<std::int32_t*> fields,
                 int first = 1) {
    int i = first;
    for (std::int32_t* f : fields) {
        if (i >= line.count()) return;
        (void)parse_integer(line[i++], *f);
    }
}

}  // namespace

SaveOptions& save_options() {
    static SaveOptions options;
    return options;
}

std::vector<std::string> save_options_lines(const SaveOptions& o) {
    PlainSeparators plain;
    return {
        formatted("tiff_save_options %d %d %d %d", o.tiff.ask, o.tiff.metadata, o.tiff.script,
                  o.tiff.compression),
        formatted("jpeg_save_options %d %2zf %d %d %d %d", o.jpeg.ask, o.jpeg.quality,
                  o.jpeg.subsampling, o.jpeg.metadata, o.jpeg.script, o.jpeg.show_summary),
        formatted("png_save_options %d %d %d", o.png.ask, o.png.metadata, o.png.script),
        formatted("bmp_save_options %d %d %d", o.bmp.ask, o.bmp.version, o.bmp.script),
        formatted("gif_save_options %d %d", o.gif.ask, o.gif.script),
    };
}

bool read_save_options_line(const ArgumentList& line, SaveOptions& o) {
    if (line.count() == 0) return false;
    std::string_view key = line[0];
    if (key == "tiff_save_options") {
        read_values(line, {&o.tiff.ask, &o.tiff.metadata, &o.tiff.script, &o.tiff.compression});
    } else if (key == "jpeg_save_options") {
        read_values(line, {&o.jpeg.ask});
        PlainSeparators plain;
        if (line.count() > 2) (void)parse_real(line[2], o.jpeg.quality);
        read_values(
            line, {&o.jpeg.subsampling, &o.jpeg.metadata, &o.jpeg.script, &o.jpeg.show_summary}, 3);
    } else if (key == "png_save_options") {
        read_values(line, {&o.png.ask, &o.png.metadata, &o.png.script});
    } else if (key == "bmp_save_options") {
        read_values(line, {&o.bmp.ask, &o.bmp.version, &o.bmp.script});
    } else if (key == "gif_save_options") {
        read_values(line, {&o.gif.ask, &o.gif.script});
    } else {
        return false;
    }
    return true;
}

std::int32_t save_format_of(const std::string& path) {
    const std::string ext = lower_extension(path);
    if (ext == ".tif" || ext == ".tiff") return save_tiff;
    if (ext == ".jpg" || ext == ".jpeg") return save_jpeg;
    if (ext == ".bmp") return save_bmp;
    if (ext == ".png") return save_png;
    if (ext == ".gif") return save_gif;
    return -1;
}

bool check_save_extension(std::string& path, std::int32_t format) {
    struct Rule {
        const char* first;
        const char* second;
        const char* warning;
    };
    static const Rule rules[] = {
        {".tif", ".tiff", "TIFF files must have a .tif or .tiff extension - .tif will be added"},
        {".jpg", ".jpeg", "JPEG files must have a .jpg or .jpeg extension - .jpg will be added"},
        {".bmp", nullptr, "BMP files must have a .bmp extension - .bmp will be added"},
        {".png", nullptr, "PNG files must have a .png extension - .png will be added"},
        {".gif", nullptr, "GIF files must have a .gif extension - .gif will be added"},
    };
    std::string ext = lower_extension(path);
    if (format < save_tiff || format > save_gif) {
        if (format == -1 && ext.empty()) {
            show_error("No file extension specified");
        } else {
            show_error(ext.empty() ? "Unrecognized file type with no extension"
                                   : "Unrecognized file type");
        }
        return true;
    }
    const Rule& rule = rules[format];
    if (ext.empty()) {
        path += rule.first;
        return false;
    }
    if (ext == rule.first || (rule.second && ext == rule.second)) return false;
    show_warning(rule.warning);
    path += rule.first;
    return false;
}

std::int32_t save_metadata_mode(const SaveOptions& o, std::int32_t format) {
    switch (format) {
        case save_tiff:
            return o.tiff.metadata;
        case save_jpeg:
            return o.jpeg.metadata;
        case save_png:
            return o.png.metadata;
        default:
            return 3;
    }
}

}  // namespace tessaly
