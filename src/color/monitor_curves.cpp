#include "color/monitor_curves.h"

#include <algorithm>
#include <memory>

#include "core/curve.h"
#include "core/format.h"
#include "core/numeric.h"
#include "core/text_file.h"

namespace tessaly {

namespace {

constexpr std::string_view file_tag = "MonitorCurves";
constexpr double file_version = 1.0;

// The calibration in force; null when there is none.
std::unique_ptr<MonitorTables> active;

bool in_byte_range(std::int32_t v) {
    return v >= 0 && v <= 255;
}

bool point_valid(const MonitorCurvePoint& p) {
    return in_byte_range(p.input) && in_byte_range(p.level) && in_byte_range(p.red) &&
           in_byte_range(p.green) && in_byte_range(p.blue);
}

std::string lowercase(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

MonitorCurves::MonitorCurves() {
    monitor_curves_reset(*this, monitor_curves_default_points);
}

bool monitor_curves_count_valid(std::int32_t npts) {
    return npts == 2 || npts == 3 || npts == 5 || npts == 7 || npts == 9 || npts == 11;
}

void monitor_curves_reset(MonitorCurves& curves, std::int32_t npts) {
    if (!monitor_curves_count_valid(npts)) npts = monitor_curves_default_points;
    curves.npts = npts;
    for (int i = 0; i < monitor_curves_max_points; ++i) curves.points[i] = MonitorCurvePoint{};
    for (int i = 0; i < npts; ++i) {
        const std::int32_t v = round_to_int(i * 255.0 / (npts - 1));
        curves.points[i].input = v;
        curves.points[i].level = v;
    }
}

bool monitor_curve_tables(const MonitorCurves& curves, MonitorTables& tables) {
    if (!monitor_curves_count_valid(curves.npts)) return true;
    Curve channel[3];
    for (int i = 0; i < curves.npts; ++i) {
        const MonitorCurvePoint& p = curves.points[i];
        if (!point_valid(p)) return true;
        std::int32_t scaled[3] = {p.level, p.level, p.level};
        const bool black = p.red == 0 && p.green == 0 && p.blue == 0;
        if (p.level != 0 && !black) {
            const std::int32_t colour[3] = {p.red, p.green, p.blue};
            for (int c = 0; c < 3; ++c) scaled[c] = round_to_int(colour[c] * p.level / 255.0);
        }
        for (int c = 0; c < 3; ++c) {
            channel[c].x[i] = p.input;
            channel[c].y[i] = scaled[c];
        }
    }
    for (Curve& c : channel) {
        c.npts = curves.npts;
        c.style = curve_spline;
        if (!curve_is_valid(c)) return true;
    }
    curve_table8(channel[0], tables.red);
    curve_table8(channel[1], tables.green);
    curve_table8(channel[2], tables.blue);
    return false;
}

void monitor_tables_identity(MonitorTables& tables) {
    for (int v = 0; v < 256; ++v) {
        tables.red[v] = tables.green[v] = tables.blue[v] = static_cast<std::uint8_t>(v);
    }
}

bool monitor_tables_are_identity(const MonitorTables& tables) {
    for (int v = 0; v < 256; ++v) {
        if (tables.red[v] != v || tables.green[v] != v || tables.blue[v] != v) return false;
    }
    return true;
}

bool load_monitor_curves_file(const std::string& path, MonitorCurves& curves) {
    PlainSeparators plain;
    std::string bytes, text;
    if (read_file_bytes(path, bytes)) {
        show_error("Cannot open monitor curves file: %s", path);
        return true;
    }
    if (decode_text(bytes, text)) {
        show_error("Cannot read monitor curves file: %s", path);
        return true;
    }
    LineReader reader;
    reader.open_text(text);
    if (read_versioned_header(reader, file_tag, file_version, "Monitor curves", true)) {
        // A newer version has had its warning; anything else is no monitor curves file.
        LineReader first;
        first.open_text(text);
        ArgumentList line;
        if (!(first.next(line) && line.count() >= 2 && line[0] == file_tag)) {
            show_error("Cannot read monitor curves file: %s", path);
        }
        return true;
    }
    MonitorCurves read;
    read.npts = 0;
    bool seen[monitor_curves_max_points] = {};
    bool bad = false;
    ArgumentList line;
    while (!bad && reader.next(line)) {
        if (line[0] == "end") break;
        if (line[0] == "npts") {
            std::int32_t n = 0;
            bad = line.count() != 2 || parse_integer(line[1], n) || !monitor_curves_count_valid(n);
            if (!bad) read.npts = n;
        } else if (line[0] == "point") {
            std::int32_t v[6] = {};
            bad = line.count() != 7;
            for (int i = 0; i < 6 && !bad; ++i) bad = parse_integer(line[1 + i], v[i]);
            if (bad) break;
            if (v[0] < 0 || v[0] >= monitor_curves_max_points) {
                bad = true;
                break;
            }
            for (int i = 1; i < 6; ++i) bad = bad || !in_byte_range(v[i]);
            MonitorCurvePoint& p = read.points[v[0]];
            p.input = v[1];
            p.level = v[2];
            p.red = v[3];
            p.green = v[4];
            p.blue = v[5];
            seen[v[0]] = true;
        }
    }
    if (!bad) bad = read.npts == 0;
    for (int i = 0; i < read.npts && !bad; ++i) bad = !seen[i];
    MonitorTables check;
    if (bad || monitor_curve_tables(read, check)) {
        show_error("Cannot read monitor curves file: %s", path);
        return true;
    }
    for (int i = read.npts; i < monitor_curves_max_points; ++i) read.points[i] = {};
    curves = read;
    return false;
}

bool save_monitor_curves_file(const std::string& path, const MonitorCurves& curves) {
    PlainSeparators plain;
    LineWriter writer;
    writer.line(formatted("%s 1.0", file_tag));
    const std::int32_t n = std::clamp(curves.npts, 0, monitor_curves_max_points);
    writer.line(formatted("npts %d", n));
    for (int i = 0; i < n; ++i) {
        const MonitorCurvePoint& p = curves.points[i];
        writer.line(
            formatted("point %d %d %d %d %d %d", i, p.input, p.level, p.red, p.green, p.blue));
    }
    writer.line("end");
    if (writer.save(path)) {
        show_error("Cannot create monitor curves file: %s", path);
        return true;
    }
    return false;
}

bool check_monitor_curves_extension(const std::string& path) {
    const std::string ext(monitor_curves_extension);
    if (path.size() > ext.size() && lowercase(path.substr(path.size() - ext.size())) == ext) {
        return false;
    }
    show_error("Monitor curves files must have an extension of .monitor curves");
    return true;
}

void apply_monitor_curves(const MonitorTables& t, std::uint8_t* bgr, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, bgr += 3) {
        bgr[0] = t.blue[bgr[0]];
        bgr[1] = t.green[bgr[1]];
        bgr[2] = t.red[bgr[2]];
    }
}

void apply_monitor_curves(const MonitorTables& tables, std::uint8_t* first_row, std::size_t width,
                          std::size_t rows, std::size_t row_bytes) {
    for (std::size_t r = 0; r < rows; ++r) {
        apply_monitor_curves(tables, first_row + r * row_bytes, width);
    }
}

const MonitorTables* active_monitor_curves() {
    return active.get();
}

const MonitorCurveTables* active_monitor_curve_tables() {
    static MonitorCurveTables view;
    if (!active) return nullptr;
    view = {active->red, active->green, active->blue};
    return &view;
}

void set_active_monitor_curves(const MonitorTables& tables) {
    if (monitor_tables_are_identity(tables)) {
        active.reset();
        return;
    }
    if (!active) active = std::make_unique<MonitorTables>();
    *active = tables;
}

void clear_monitor_curves() {
    active.reset();
}

void apply_monitor_curves_setting(const ColorManagementSettings& settings) {
    active.reset();
    if (!settings.monitor_curves_enabled || !names_profile(settings.monitor_curves_file)) return;
    const std::string path = find_profile_file(settings.monitor_curves_file);
    if (path.empty()) {
        show_error("Cannot locate monitor curves file: %s", settings.monitor_curves_file);
        return;
    }
    MonitorCurves curves;
    MonitorTables tables;
    if (load_monitor_curves_file(path, curves) || monitor_curve_tables(curves, tables)) return;
    set_active_monitor_curves(tables);
}

}  // namespace tessaly
