#include "curve_files.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "arguments.h"
#include "format.h"
#include "text_file.h"

namespace tessaly {

namespace {

struct Messages {
    std::string_view open, read, create;
};

constexpr Messages curve_messages{"Cannot open curve file: %s", "Cannot read curve file: %s",
                                  "Cannot create curve file: %s"};
constexpr Messages color_messages{"Cannot open color curves file: %s",
                                  "Cannot read color curves file: %s",
                                  "Cannot create color curves file: %s"};
constexpr Messages float_messages{"Cannot open float curve file: %s",
                                  "Cannot read float curve file: %s",
                                  "Cannot create float curve file: %s"};

constexpr double file_version = 1.0;

std::string lowercase(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool ends_with_nocase(const std::string& path, std::string_view suffix) {
    return path.size() >= suffix.size() &&
           lowercase(std::string_view(path).substr(path.size() - suffix.size())) == suffix;
}

// The extension with its point, lowercased; empty when the name has none.
std::string extension_of(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return lowercase(std::string_view(path).substr(dot));
}

// Reads the whole file and its header line. On failure the reason has been shown: the open or
// read message, or the version check's own warning for a newer version.
bool open_versioned(const std::string& path, std::string_view tag, std::string_view what,
                    const Messages& messages, LineReader& reader) {
    std::string bytes, text;
    if (read_file_bytes(path, bytes)) {
        show_error(messages.open, path);
        return true;
    }
    if (decode_text(bytes, text)) {
        show_error(messages.read, path);
        return true;
    }
    reader.open_text(text);
    if (read_versioned_header(reader, tag, file_version, what, true)) {
        LineReader first;
        first.open_text(text);
        ArgumentList line;
        bool newer = first.next(line) && line.count() >= 2 && line[0] == tag;
        if (!newer) show_error(messages.read, path);
        return true;
    }
    return false;
}

// One curve's lines ("npts", "style", "point", each with an optional suffix such as "1") as
// they arrive in any order; finish() checks that they describe a valid curve.
class PendingCurve {
  public:
    explicit PendingCurve(std::string suffix)
        : npts_key_("npts" + suffix), style_key_("style" + suffix), point_key_("point" + suffix) {}

    enum class Result { other, ok, bad };

    Result take(const ArgumentList& line) {
        std::string_view key = line[0];
        if (key == npts_key_) {
            std::int32_t n = 0;
            if (line.count() != 2 || parse_integer(line[1], n) || n < 2 || n > curve_max_points) {
                return Result::bad;
            }
            curve_.npts = n;
            have_npts_ = true;
            return Result::ok;
        }
        if (key == style_key_) {
            if (line.count() != 2 || curve_style_from_name(line[1], curve_.style)) {
                return Result::bad;
            }
            return Result::ok;
        }
        if (key == point_key_) {
            std::int32_t index = 0, x = 0, y = 0;
            if (line.count() != 4 || parse_integer(line[1], index) || parse_integer(line[2], x) ||
                parse_integer(line[3], y) || index < 0 || index >= curve_max_points) {
                return Result::bad;
            }
            curve_.x[index] = x;
            curve_.y[index] = y;
            seen_[index] = true;
            return Result::ok;
        }
        return Result::other;
    }

    // true when the lines do not make a whole, valid curve.
    bool finish(Curve& out) {
        if (!have_npts_) return true;
        for (int i = 0; i < curve_.npts; ++i) {
            if (!seen_[i]) return true;
        }
        for (int i = curve_.npts; i < curve_max_points; ++i) curve_.x[i] = curve_.y[i] = 0;
        if (!curve_is_valid(curve_)) return true;
        out = curve_;
        return false;
    }

  private:
    std::string npts_key_, style_key_, point_key_;
    Curve curve_;
    bool have_npts_ = false;
    bool seen_[curve_max_points] = {};
};

void write_curve_lines(LineWriter& writer, const Curve& curve, std::string_view suffix) {
    writer.line(formatted("npts%s %d", suffix, curve.npts));
    writer.line(formatted("style%s %s", suffix, curve_style_name(curve.style)));
    for (int i = 0; i < curve.npts; ++i) {
        writer.line(formatted("point%s %d %d %d", suffix, i, curve.x[i], curve.y[i]));
    }
}

bool save_lines(const LineWriter& writer, const std::string& path, const Messages& messages) {
    if (writer.save(path)) {
        show_error(messages.create, path);
        return true;
    }
    return false;
}

Curve curve_from_table(const std::uint8_t* table) {
    Curve c;
    c.style = curve_spline;
    c.npts = 256;
    for (int v = 0; v < 256; ++v) {
        c.x[v] = v;
        c.y[v] = table[v];
    }
    return c;
}

// Big-endian 16-bit words of a ".acv" file.
class WordReader {
  public:
    explicit WordReader(std::string_view bytes) : bytes_(bytes) {}
    bool next(int& value) {
        if (position_ + 2 > bytes_.size()) return true;
        value = (static_cast<unsigned char>(bytes_[position_]) << 8) |
                static_cast<unsigned char>(bytes_[position_ + 1]);
        position_ += 2;
        return false;
    }

  private:
    std::string_view bytes_;
    std::size_t position_ = 0;
};

// One ".acv" curve: a point count, then (output, input) pairs with increasing inputs.
bool read_acv_curve(WordReader& words, Curve& curve) {
    int n = 0;
    if (words.next(n) || n < 2 || n > curve_max_points) return true;
    Curve c;
    c.style = curve_spline;
    c.npts = n;
    for (int i = 0; i < n; ++i) {
        int output = 0, input = 0;
        if (words.next(output) || words.next(input) || output > 255 || input > 255) return true;
        c.x[i] = input;
        c.y[i] = output;
    }
    if (!curve_is_valid(c)) return true;
    curve = c;
    return false;
}

// Blank- or tab-separated tokens of one line of a cube file.
std::vector<std::string_view> cube_tokens(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool read_three_reals(const std::vector<std::string_view>& tokens, double* values) {
    if (tokens.size() != 4) return true;
    for (int c = 0; c < 3; ++c) {
        if (parse_real(tokens[1 + c], values[c]) || !std::isfinite(values[c])) return true;
    }
    return false;
}

}  // namespace

bool load_curve_file(const std::string& path, Curve& curve) {
    LineReader reader;
    if (open_versioned(path, "Curve", "Curve", curve_messages, reader)) return true;
    PendingCurve pending("");
    ArgumentList line;
    bool ended = false;
    while (!ended && reader.next(line)) {
        if (line[0] == "end") {
            ended = true;
        } else if (pending.take(line) == PendingCurve::Result::bad) {
            break;
        }
    }
    if (!ended || pending.finish(curve)) {
        show_error(curve_messages.read, path);
        return true;
    }
    return false;
}

bool save_curve_file(const std::string& path, const Curve& curve) {
    if (!curve_is_valid(curve)) {
        show_error(curve_messages.create, path);
        return true;
    }
    LineWriter writer;
    writer.line("Curve 1.0");
    write_curve_lines(writer, curve, "");
    writer.line("end");
    return save_lines(writer, path, curve_messages);
}

bool load_color_curves_file(const std::string& path, ColorCurves& curves) {
    LineReader reader;
    if (open_versioned(path, "ColorCurves", "Color Curves", color_messages, reader)) return true;
    PendingCurve pending[3] = {PendingCurve("1"), PendingCurve("2"), PendingCurve("3")};
    ColorCurves read;
    ArgumentList line;
    bool ended = false, bad = false;
    while (!ended && !bad && reader.next(line)) {
        if (line[0] == "end") {
            ended = true;
        } else if (line[0] == "colorspace") {
            bad = line.count() != 2 || parse_integer(line[1], read.colorspace) ||
                  read.colorspace < colorspace_hsv || read.colorspace > colorspace_rgb;
        } else {
            for (auto& p : pending) {
                auto result = p.take(line);
                if (result == PendingCurve::Result::bad) bad = true;
                if (result != PendingCurve::Result::other) break;
            }
        }
    }
    if (!ended || bad || pending[0].finish(read.curve[0]) || pending[1].finish(read.curve[1]) ||
        pending[2].finish(read.curve[2])) {
        show_error(color_messages.read, path);
        return true;
    }
    curves = read;
    return false;
}

bool save_color_curves_file(const std::string& path, const ColorCurves& curves) {
    for (const Curve& c : curves.curve) {
        if (!curve_is_valid(c)) {
            show_error(color_messages.create, path);
            return true;
        }
    }
    LineWriter writer;
    writer.line("ColorCurves 1.0");
    writer.line(formatted("colorspace %d", curves.colorspace));
    write_curve_lines(writer, curves.curve[0], "1");
    write_curve_lines(writer, curves.curve[1], "2");
    write_curve_lines(writer, curves.curve[2], "3");
    writer.line("end");
    return save_lines(writer, path, color_messages);
}

bool load_float_curve_file(const std::string& path, FloatCurve& curve) {
    PlainSeparators plain;
    LineReader reader;
    if (open_versioned(path, "FloatCurve", "Float Curve", float_messages, reader)) return true;
    FloatCurve read;
    bool have_npts = false, seen[curve_max_points] = {};
    ArgumentList line;
    bool ended = false, bad = false;
    while (!ended && !bad && reader.next(line)) {
        std::string_view key = line[0];
        if (key == "end") {
            ended = true;
        } else if (key == "npts") {
            bad = line.count() != 2 || parse_integer(line[1], read.npts) || read.npts < 2 ||
                  read.npts > curve_max_points;
            have_npts = true;
        } else if (key == "style") {
            bad = line.count() != 2 || curve_style_from_name(line[1], read.style);
        } else if (key == "point") {
            std::int32_t index = 0;
            double x = 0.0, y = 0.0;
            bad = line.count() != 4 || parse_integer(line[1], index) || parse_real(line[2], x) ||
                  parse_real(line[3], y) || index < 0 || index >= curve_max_points;
            if (!bad) {
                read.x[index] = x;
                read.y[index] = y;
                seen[index] = true;
            }
        }
    }
    bad = bad || !ended || !have_npts;
    for (int i = 0; !bad && i < read.npts; ++i) bad = !seen[i];
    if (!bad) {
        for (int i = read.npts; i < curve_max_points; ++i) read.x[i] = read.y[i] = 0.0;
        bad = !float_curve_is_valid(read);
    }
    if (bad) {
        show_error(float_messages.read, path);
        return true;
    }
    curve = read;
    return false;
}

bool save_float_curve_file(const std::string& path, const FloatCurve& curve) {
    if (!float_curve_is_valid(curve)) {
        show_error(float_messages.create, path);
        return true;
    }
    PlainSeparators plain;
    LineWriter writer;
    writer.line("FloatCurve 1.0");
    writer.line(formatted("npts %d", curve.npts));
    writer.line(formatted("style %s", curve_style_name(curve.style)));
    for (int i = 0; i < curve.npts; ++i) {
        writer.line(formatted("point %d %4f %4f", i, curve.x[i], curve.y[i]));
    }
    writer.line("end");
    return save_lines(writer, path, float_messages);
}

bool load_color_curves_any(const std::string& path, ColorCurves& curves) {
    const std::string extension = extension_of(path);
    if (extension == ".cc") return load_color_curves_file(path, curves);
    if (extension == ".acv") return load_acv_file(path, curves);
    if (extension == ".amp") return load_amp_file(path, curves);
    if (extension == ".cube") return load_cube_file(path, curves);
    show_error("Unrecognized file extension: %s", extension.empty() ? path : extension);
    return true;
}

bool load_acv_file(const std::string& path, ColorCurves& curves) {
    std::string bytes;
    if (read_file_bytes(path, bytes)) {
        show_error(color_messages.open, path);
        return true;
    }
    WordReader words(bytes);
    ColorCurves read;
    read.colorspace = colorspace_rgb;
    int version = 0, count = 0;
    bool bad = words.next(version) || (version != 1 && version != 4) || words.next(count);
    if (!bad && count == 1) {
        bad = read_acv_curve(words, read.curve[0]);
        read.curve[1] = read.curve[2] = read.curve[0];
    } else if (!bad && count >= 4) {
        // The first curve is the composite one; red, green and blue follow it.
        Curve composite;
        bad = read_acv_curve(words, composite) || read_acv_curve(words, read.curve[0]) ||
              read_acv_curve(words, read.curve[1]) || read_acv_curve(words, read.curve[2]);
    } else {
        bad = true;
    }
    if (bad) {
        show_error(color_messages.read, path);
        return true;
    }
    curves = read;
    return false;
}

bool load_amp_file(const std::string& path, ColorCurves& curves) {
    std::string bytes;
    if (read_file_bytes(path, bytes)) {
        show_error(color_messages.open, path);
        return true;
    }
    if (bytes.size() != 768) {
        show_error(color_messages.read, path);
        return true;
    }
    ColorCurves read;
    read.colorspace = colorspace_rgb;
    const auto* table = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (int c = 0; c < 3; ++c) read.curve[c] = curve_from_table(table + 256 * c);
    curves = read;
    return false;
}

bool load_cube_file(const std::string& path, ColorCurves& curves) {
    std::string bytes, text;
    if (read_file_bytes(path, bytes)) {
        show_error(color_messages.open, path);
        return true;
    }
    if (decode_text(bytes, text)) {
        show_error(color_messages.read, path);
        return true;
    }
    PlainSeparators plain;
    double domain_min[3] = {0.0, 0.0, 0.0}, domain_max[3] = {1.0, 1.0, 1.0};
    int size = 0;
    std::vector<double> lut;  // size x 3 entries once the size is known
    std::size_t position = 0;
    while (position < text.size() &&
           (size == 0 || lut.size() < 3 * static_cast<std::size_t>(size))) {
        std::size_t end = text.find_first_of("\r\n", position);
        if (end == std::string::npos) end = text.size();
        std::string_view raw(text.data() + position, end - position);
        position = end + 1;
        auto tokens = cube_tokens(raw);
        if (tokens.empty() || tokens[0][0] == '#') continue;
        std::string_view key = tokens[0];
        if (key == "TITLE") continue;
        if (key == "LUT_3D_SIZE") {
            show_error("Cannot load 3-D cube file");
            return true;
        }
        if (key == "LUT_1D_SIZE") {
            std::int32_t n = 0;
            if (tokens.size() != 2 || parse_integer(tokens[1], n) || size != 0) {
                show_error(color_messages.read, path);
                return true;
            }
            if (n < 2 || n > 1024) {
                show_error("LUT size out of range (2 .. 1024): %d", n);
                return true;
            }
            size = n;
            lut.reserve(3 * static_cast<std::size_t>(n));
            continue;
        }
        if (key == "DOMAIN_MIN" || key == "DOMAIN_MAX") {
            if (read_three_reals(tokens, key == "DOMAIN_MIN" ? domain_min : domain_max)) {
                show_error(color_messages.read, path);
                return true;
            }
            continue;
        }
        if (key == "LUT_1D_INPUT_RANGE") {
            double low = 0.0, high = 0.0;
            if (tokens.size() != 3 || parse_real(tokens[1], low) || parse_real(tokens[2], high)) {
                show_error(color_messages.read, path);
                return true;
            }
            std::fill(domain_min, domain_min + 3, low);
            std::fill(domain_max, domain_max + 3, high);
            continue;
        }
        if (size == 0) {
            show_error("Missing LUT_1D_SIZE");
            return true;
        }
        static constexpr std::string_view channel_messages[3] = {"Illegal R channel value: %s",
                                                                 "Illegal G channel value: %s",
                                                                 "Illegal B channel value: %s"};
        for (std::size_t c = 0; c < 3; ++c) {
            double value = 0.0;
            std::string_view token = c < tokens.size() ? tokens[c] : std::string_view();
            if (parse_real(token, value) || !std::isfinite(value)) {
                show_error(channel_messages[c], token);
                return true;
            }
            lut.push_back(value);
        }
    }
    if (size == 0) {
        show_error("Missing LUT_1D_SIZE");
        return true;
    }
    if (lut.size() < 3 * static_cast<std::size_t>(size)) {
        show_error("Unexpected end of file");
        return true;
    }
    for (int c = 0; c < 3; ++c) {
        if (!(domain_max[c] > domain_min[c]) || !std::isfinite(domain_max[c] - domain_min[c])) {
            show_error(color_messages.read, path);
            return true;
        }
    }
    // Each channel is sampled at the 256 input levels with linear interpolation between the
    // entries, then fitted exactly with evenly spaced spline points.
    ColorCurves read;
    read.colorspace = colorspace_rgb;
    const double last = size - 1;
    for (int c = 0; c < 3; ++c) {
        std::uint8_t table[256];
        for (int v = 0; v < 256; ++v) {
            double p = (v / 255.0 - domain_min[c]) / (domain_max[c] - domain_min[c]) * last;
            p = std::clamp(p, 0.0, last);
            int i = std::min(static_cast<int>(p), size - 2);
            double f = p - i;
            double a = lut[3 * static_cast<std::size_t>(i) + c];
            double b = lut[3 * static_cast<std::size_t>(i + 1) + c];
            double value = std::clamp((a + (b - a) * f) * 255.0, 0.0, 255.0);
            table[v] = static_cast<std::uint8_t>(value + 0.5);
        }
        read.curve[c] = curve_fit_table(table, 0);
    }
    curves = read;
    return false;
}

bool save_cube_file(const std::string& path, const ColorCurves& curves) {
    if (curves.colorspace != colorspace_rgb) {
        show_error("Only RGB curves can be saved as a cube file");
        return true;
    }
    std::uint8_t tables[3][256];
    for (int c = 0; c < 3; ++c) curve_table8(curves.curve[c], tables[c]);
    PlainSeparators plain;
    // Other programs read cube files: no byte-order mark.
    LineWriter writer(false);
    writer.line("DOMAIN_MIN 0 0 0");
    writer.line("DOMAIN_MAX 1 1 1");
    writer.line("LUT_1D_SIZE 256");
    for (int v = 0; v < 256; ++v) {
        writer.line(formatted("%5zf %5zf %5zf", tables[0][v] / 255.0, tables[1][v] / 255.0,
                              tables[2][v] / 255.0));
    }
    return save_lines(writer, path, color_messages);
}

bool save_color_curves_any(const std::string& path, const ColorCurves& curves) {
    if (extension_of(path) == ".cube") return save_cube_file(path, curves);
    return save_color_curves_file(path, curves);
}

bool check_curve_extension(const std::string& path) {
    if (ends_with_nocase(path, ".curve")) return false;
    show_error("Curve files must have an extension of .curve");
    return true;
}

bool check_float_curve_extension(const std::string& path) {
    if (ends_with_nocase(path, ".float curve")) return false;
    show_error("Float curve files must have an extension of .float curve");
    return true;
}

}  // namespace tessaly
