#include "shape_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "core/format.h"
#include "core/text_file.h"
#include "framework/settings_files.h"

namespace tessaly {

namespace {

namespace fs = std::filesystem;

constexpr double shape_file_version = 1.0;

// What distinguishes the four kinds inside their files.
struct FileText {
    std::int32_t code;  // the tool the shape belongs to
    const char* tag;    // the first line's keyword
    const char* what;   // the name the version check uses
    const char* load_error;
    const char* save_error;
};

const FileText& file_text(ShapeFileKind kind) {
    static const FileText texts[] = {
        {mask_op_polygon, "Polygon", "Mask Shape", "Error loading polygon file",
         "Error saving polygon file"},
        {mask_op_spline, "Spline", "Mask Shape", "Error loading spline file",
         "Error saving spline file"},
        {mask_op_linear_gradient, "Mask_Linear_Gradient", "Mask Linear Gradient",
         "Error loading linear gradient file", "Error saving linear gradient file"},
        {mask_op_oval_gradient, "Mask_Oval_Gradient", "Mask Oval Gradient",
         "Error loading oval gradient file", "Error saving oval gradient file"},
    };
    return texts[static_cast<int>(kind)];
}

bool ends_with_nocase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - suffix.size(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

// Outline coordinates are fractions of the larger side, so the shape keeps its proportions. A
// one-pixel image has no extent; its coordinates are kept as they are.
double outline_scale(std::int32_t width, std::int32_t height) {
    return std::max({width - 1, height - 1, 1});
}

double side(std::int32_t n) {
    return n > 1 ? n - 1 : 1;
}

bool save_outline(ShapeFileKind kind, const std::string& path,
                  const std::vector<MaskVertex>& vertices, std::int32_t width,
                  std::int32_t height) {
    const FileText& text = file_text(kind);
    PlainSeparators plain;
    const double m = outline_scale(width, height);
    LineWriter writer;
    writer.line(formatted("%s 1.0", text.tag));
    for (const MaskVertex& v : vertices) writer.line(formatted("vertex %4f %4f", v.x / m, v.y / m));
    writer.line("end");
    if (writer.save(path)) {
        show_error(text.save_error);
        return true;
    }
    return false;
}

bool save_gradient(ShapeFileKind kind, const std::string& path, const MaskOperationParameters& g,
                   std::int32_t width, std::int32_t height) {
    const FileText& text = file_text(kind);
    PlainSeparators plain;
    const double w = side(width), h = side(height);
    LineWriter writer;
    writer.line(formatted("%s 1.0", text.tag));
    writer.line(formatted("endpoints %4f %4f %4f %4f", g.x0 / w, g.y0 / h, g.x1 / w, g.y1 / h));
    if (kind == ShapeFileKind::oval_gradient) writer.line(formatted("angle %4f", g.angle));
    writer.line("color_line " + color_line_text(g.color_line));
    writer.line("end");
    if (writer.save(path)) {
        show_error(text.save_error);
        return true;
    }
    return false;
}

// Opens the file and checks its first line; the lines after it are left in reader.
bool open_shape_file(const std::string& path, const FileText& text, LineReader& reader) {
    std::string utf8;
    if (read_text_file(path, utf8)) return true;
    reader.open_text(utf8);
    PlainSeparators plain;
    return read_versioned_header(reader, text.tag, shape_file_version, text.what, false);
}

bool load_outline(ShapeFileKind kind, const std::string& path, MaskState& state) {
    const FileText& text = file_text(kind);
    LineReader reader;
    if (open_shape_file(path, text, reader)) {
        show_error(text.load_error);
        return true;
    }
    const double m = outline_scale(state.nx, state.ny);
    std::vector<MaskVertex> vertices;
    ArgumentList line;
    bool ended = false;
    while (!ended && reader.next(line)) {
        double x = 0, y = 0;
        if (line[0] == "end") {
            ended = true;
        } else if (line[0] == "vertex" && line.count() >= 3 && !parse_real(line[1], x) &&
                   !parse_real(line[2], y)) {
            vertices.push_back({x * m, y * m, -1});
        }
    }
    if (!ended) {
        show_error(text.load_error);
        return true;
    }
    MaskOperation operation;
    operation.code = text.code;
    operation.mode = state.mode;
    operation.tool = text.code;
    operation.parameters.vertices = vertices;
    state.tool = text.code;
    state.pending_vertices = std::move(vertices);
    state.pending = std::move(operation);
    return false;
}

bool load_gradient(ShapeFileKind kind, const std::string& path, MaskState& state) {
    const FileText& text = file_text(kind);
    LineReader reader;
    if (open_shape_file(path, text, reader)) {
        show_error(text.load_error);
        return true;
    }
    const double w = side(state.nx), h = side(state.ny);
    MaskOperationParameters g;
    g.color_line = state.settings.gradient_line;
    g.angle = state.settings.gradient_angle;
    ArgumentList line;
    bool ended = false;
    while (!ended && reader.next(line)) {
        double v[4] = {};
        if (line[0] == "end") {
            ended = true;
        } else if (line[0] == "endpoints" && line.count() >= 5 && !parse_real(line[1], v[0]) &&
                   !parse_real(line[2], v[1]) && !parse_real(line[3], v[2]) &&
                   !parse_real(line[4], v[3])) {
            g.x0 = v[0] * w;
            g.y0 = v[1] * h;
            g.x1 = v[2] * w;
            g.y1 = v[3] * h;
        } else if (line[0] == "angle" && line.count() >= 2 && !parse_real(line[1], v[0])) {
            g.angle = v[0];
        } else if (line[0] == "color_line") {
            (void)parse_color_line(line, 1, g.color_line);
        }
    }
    if (!ended) {
        show_error(text.load_error);
        return true;
    }
    state.settings.gradient_line = g.color_line;
    if (kind == ShapeFileKind::oval_gradient) state.settings.gradient_angle = g.angle;
    MaskOperation operation;
    operation.code = text.code;
    operation.mode = state.mode;
    operation.tool = text.code;
    operation.parameters = std::move(g);
    state.tool = text.code;
    state.pending_vertices.clear();
    state.pending = std::move(operation);
    return false;
}

}  // namespace

const ShapeFileType& shape_file_type(ShapeFileKind kind) {
    static const ShapeFileType types[] = {
        {".polygon", "Polygon Files", "*.polygon", "Load Polygon File", "Save Polygon File",
         "Shapes", "Polygon files must have the extension .polygon"},
        {".spline", "Spline Files", "*.spline", "Load Spline File", "Save Spline File", "Shapes",
         "Spline files must have the extension .spline"},
        {".linear gradient", "Linear Gradient Files", "*.linear gradient", "Load Linear Gradient",
         "Save Linear Gradient", "Mask Gradients",
         "Linear Gradient files must have the extension .linear gradient"},
        {".oval gradient", "Oval Gradient Files", "*.oval gradient", "Load Oval Gradient",
         "Save Oval Gradient", "Mask Gradients",
         "Oval Gradient files must have the extension .oval gradient"},
    };
    return types[static_cast<int>(kind)];
}

std::optional<ExtensionFix> check_shape_extension(ShapeFileKind kind, const std::string& path) {
    const ShapeFileType& type = shape_file_type(kind);
    if (ends_with_nocase(path, type.extension)) return std::nullopt;
    const fs::path p(path);
    std::string corrected = p.has_extension()
                                ? (p.parent_path() / p.stem()).string() + type.extension
                                : path + type.extension;
    return ExtensionFix{type.wrong_extension, std::move(corrected)};
}

FileChoice shape_file_choice(ShapeFileKind kind, bool save) {
    const ShapeFileType& type = shape_file_type(kind);
    FileChoice choice;
    choice.title = save ? type.save_title : type.load_title;
    choice.filter_name = type.filter;
    choice.patterns = {type.pattern};
    std::error_code ec;
    const fs::path folder = fs::path(settings_root()) / type.folder;
    fs::create_directories(folder, ec);
    choice.folder = folder.string();
    return choice;
}

std::optional<std::string> choose_shape_file(ShapeFileKind kind, bool save) {
    FileChoice choice = shape_file_choice(kind, save);
    if (!save) return interaction().choose_open_file(choice);
    // Bounded, so that an answer that never changes cannot keep the dialog coming back.
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::optional<std::string> chosen = interaction().choose_save_file(choice);
        if (!chosen) return std::nullopt;
        std::optional<ExtensionFix> fix = check_shape_extension(kind, *chosen);
        if (!fix) return chosen;
        show_error(fix->message);
        choice.suggested_name = fix->corrected;
    }
    return std::nullopt;
}

bool save_polygon_file(const std::string& path, const std::vector<MaskVertex>& vertices,
                       std::int32_t width, std::int32_t height) {
    return save_outline(ShapeFileKind::polygon, path, vertices, width, height);
}

bool save_spline_file(const std::string& path, const std::vector<MaskVertex>& controls,
                      std::int32_t width, std::int32_t height) {
    return save_outline(ShapeFileKind::spline, path, controls, width, height);
}

bool save_linear_gradient_file(const std::string& path, const MaskOperationParameters& gradient,
                               std::int32_t width, std::int32_t height) {
    return save_gradient(ShapeFileKind::linear_gradient, path, gradient, width, height);
}

bool save_oval_gradient_file(const std::string& path, const MaskOperationParameters& gradient,
                             std::int32_t width, std::int32_t height) {
    return save_gradient(ShapeFileKind::oval_gradient, path, gradient, width, height);
}

bool load_polygon_file(const std::string& path, MaskState& state) {
    return load_outline(ShapeFileKind::polygon, path, state);
}

bool load_spline_file(const std::string& path, MaskState& state) {
    return load_outline(ShapeFileKind::spline, path, state);
}

bool load_linear_gradient_file(const std::string& path, MaskState& state) {
    return load_gradient(ShapeFileKind::linear_gradient, path, state);
}

bool load_oval_gradient_file(const std::string& path, MaskState& state) {
    return load_gradient(ShapeFileKind::oval_gradient, path, state);
}

std::string color_line_text(const ColorLine& line) {
    PlainSeparators plain;
    std::string text = formatted("%d", static_cast<std::int32_t>(line.stops.size()));
    for (const ColorStop& stop : line.stops) {
        std::string position = formatted("%6f", stop.position);
        if (position == "-0.000000") position = "0.000000";  // reads back as plain 0
        text += formatted(" %s %d %d %x", position, stop.a, stop.b, stop.colour);
    }
    return text;
}

bool parse_color_line(const ArgumentList& args, int first, ColorLine& line) {
    std::int32_t n = 0;
    if (first >= args.count() || parse_integer(args[first], n) || n < 0 ||
        n > (args.count() - first - 1) / 4) {
        return true;
    }
    ColorLine read;
    read.stops.resize(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        ColorStop& stop = read.stops[static_cast<std::size_t>(k)];
        const int j = first + 1 + 4 * k;
        if (parse_real(args[j], stop.position) || parse_integer(args[j + 1], stop.a) ||
            parse_integer(args[j + 2], stop.b) || parse_colour(args[j + 3], stop.colour)) {
            return true;
        }
        stop.colour &= 0xffffffu;
    }
    line = std::move(read);
    return false;
}

}  // namespace tessaly
