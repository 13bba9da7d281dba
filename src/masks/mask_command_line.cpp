#include "mask_command_line.h"

#include <cmath>
#include <limits>
#include <unordered_map>

#include "core/format.h"
#include "shape_files.h"

namespace tessaly {

namespace {

// Numbers beyond this are not taken: the formatter cannot write them back as digits, and a
// fraction this large would lose its decimals when scaled to pixels and back.
constexpr double real_limit = 1e9;

// --- writing ---

class Writer {
  public:
    explicit Writer(const MaskState& state) : state_(state) {}

    double fx(double x) const { return state_.nx > 1 ? x / (state_.nx - 1) : 0.0; }
    double fy(double y) const { return state_.ny > 1 ? y / (state_.ny - 1) : 0.0; }

    void groups(std::string& out) const {
        const MaskToolSettings& s = state_.settings;
        const BrushSettings& b = s.brush;
        out += formatted(" brush_settings 0 %d %4zf %4zf %4zf %4zf %4zf %d %d", b.operation,
                         b.radius, b.transparency, b.softness, b.spacing, b.threshold, b.accumulate,
                         b.pressure_controls);
        out += formatted(" feather_settings 0 %d %d %d", s.feather.radius, s.feather.style,
                         s.feather.corners);
        out += formatted(" floodfill_settings 0 %4zf", s.floodfill_threshold);
        out += formatted(" texture_settings 0 %d %d %d %d", s.texture.method, s.texture.size,
                         s.texture.threshold0, s.texture.threshold1);
        out += formatted(" gradient_settings 0 %s %4zf", color_line_text(s.gradient_line),
                         s.gradient_angle);
        out += formatted(" pinhole_settings 0 %d %d %d", s.pinhole.size, s.pinhole.threshold,
                         s.pinhole.removal);
        out += formatted(" median_settings 0 %4zf %4zf", s.median.radius, s.median.level);
        out += formatted(" blur_settings 0 %d", s.blur_radius);
        out += formatted(" curve_settings 0 %s %d", curve_to_text(s.curve), s.curve_channel);
        out += formatted(" shape_settings 0 %s", curve_to_text(s.shape_curve));
        out += " separate_settings 1";
        for (const SeparateEntry& e : s.separate) {
            out += formatted(" %d %x %8zf %8zf", e.in_use ? 0 : 1, e.colour, e.x, e.y);
        }
        const ColorRangeSettings& c = s.color_range;
        out += formatted(" color_range_settings 0 %d %x", c.colorspace, c.sample);
        for (std::int32_t limit : c.limits) out += formatted(" %d", limit);
    }

    void vertices(std::string& out, const std::vector<MaskVertex>& list) const {
        out += formatted("n %d ", static_cast<std::int32_t>(list.size()));
        for (const MaskVertex& v : list) out += formatted("%4zf %4zf ", fx(v.x), fy(v.y));
    }

    void command(std::string& out, int k, const MaskOperation& op) const {
        const MaskOperationParameters& p = op.parameters;
        out += formatted(" command%d operation %d mask_mode %d mask_operation %d ", k, op.code,
                         op.mode, op.tool);
        switch (op.code) {
            case mask_op_freehand:
            case mask_op_polygon:
            case mask_op_spline:
                vertices(out, p.vertices);
                break;
            case mask_op_rectangle:
            case mask_op_oval:
                out += formatted("coords1 %4zf %4zf %4zf %4zf %4zf ", fx(p.x0), fy(p.y0), fx(p.x1),
                                 fy(p.y1), p.angle);
                break;
            case mask_op_feather:
                out += formatted("feather_radius %d feather_style %d feather_corners %d ",
                                 p.feather.radius, p.feather.style, p.feather.corners);
                break;
            case mask_op_blur:
                out += formatted("blur_radius %d ", p.blur_radius);
                break;
            case mask_op_color_range: {
                const ColorRangeSettings& c = p.color_range;
                static constexpr const char* keys[12] = {"minb1", "maxb1", "minb2", "maxb2",
                                                         "minb3", "maxb3", "minw1", "maxw1",
                                                         "minw2", "maxw2", "minw3", "maxw3"};
                out += formatted("colorspace %d sample %x ", c.colorspace, c.sample);
                for (int i = 0; i < 12; ++i) {
                    out += formatted("%s %d ", keys[i], c.limits[static_cast<std::size_t>(i)]);
                }
                break;
            }
            case mask_op_paint: {
                const BrushSettings& b = p.brush;
                out += formatted(
                    "paint_operation %d paint_radius %4zf paint_transparency %4zf "
                    "paint_softness %4zf paint_spacing %4zf paint_threshold %4zf "
                    "paint_accumulate %d pressure_controls %d n %d ",
                    b.operation, b.radius, b.transparency, b.softness, b.spacing, b.threshold,
                    b.accumulate, b.pressure_controls,
                    static_cast<std::int32_t>(p.vertices.size()));
                // With pressure controls on, every point carries its pressure (-1 when the pen
                // gave none), because that is how the reader counts the numbers.
                for (const MaskVertex& v : p.vertices) {
                    if (b.pressure_controls != 0) {
                        out += formatted("%4zf %4zf %4zf ", fx(v.x), fy(v.y), v.pressure);
                    } else {
                        out += formatted("%4zf %4zf ", fx(v.x), fy(v.y));
                    }
                }
                break;
            }
            case mask_op_curve:
                out += formatted("channel %d curve %s ", p.channel, curve_to_text(p.curve));
                break;
            case mask_op_flood_fill:
                out += formatted("floodfill_x %4zf floodfill_y %4zf floodfill_threshold %4zf ",
                                 fx(p.floodfill_x), fy(p.floodfill_y), p.floodfill_threshold);
                break;
            case mask_op_separate:
                for (std::size_t i = 0; i < p.separate.size(); ++i) {
                    const SeparateEntry& e = p.separate[i];
                    if (!e.in_use) continue;
                    out += formatted("separate_color%d %x %8zf %8zf ", static_cast<int>(i) + 1,
                                     e.colour, e.x, e.y);
                }
                break;
            case mask_op_texture:
                out += formatted(
                    "texture_method %d texture_size %d texture_thresh0 %d texture_thresh1 %d ",
                    p.texture.method, p.texture.size, p.texture.threshold0, p.texture.threshold1);
                break;
            case mask_op_linear_gradient:
                out += formatted("linear_gradient %4zf %4zf %4zf %4zf %s ", fx(p.x0), fy(p.y0),
                                 fx(p.x1), fy(p.y1), color_line_text(p.color_line));
                break;
            case mask_op_oval_gradient:
                out += formatted("oval_gradient %4zf %4zf %4zf %4zf %4zf %s ", fx(p.x0), fy(p.y0),
                                 fx(p.x1), fy(p.y1), p.angle, color_line_text(p.color_line));
                break;
            case mask_op_pinholes:
                out += formatted("pinhole %d %d %d ", p.pinhole.size, p.pinhole.threshold,
                                 p.pinhole.removal);
                break;
            case mask_op_median:
                out += formatted("median %4zf %4zf ", p.median.radius, p.median.level);
                break;
            case mask_op_brightness_curve:
                out += formatted("shape_curve %s ", curve_to_text(p.curve));
                break;
            case mask_op_hue_saturation: {
                const HueSatSelection& h = p.huesat;
                out += formatted("huesat %d %d %d", h.add_remove, h.colorspace,
                                 static_cast<std::int32_t>(h.colours.size()));
                for (const HueSatColour& c : h.colours) {
                    out += formatted(" %x %4zf %4zf", c.colour, c.hue_width, c.saturation_width);
                }
                out += " ";
                break;
            }
            case mask_op_hs_histogram: {
                const HistogramSelection& h = p.histogram;
                out += formatted(
                    "hshist hs_add_remove %d hs_color %d hs_transparency %d hs_colorspace %d "
                    "hs_expand %4zf hs_blur %d hs_thresh0 %d hs_thresh1 %d hs_thresh2 %d "
                    "hs_thresh3 %d hs_n_selection 103 hs_selection ",
                    h.add_remove, h.colour, h.transparency, h.colorspace, h.expand, h.blur,
                    h.thresholds[0], h.thresholds[1], h.thresholds[2], h.thresholds[3]);
                for (std::uint8_t byte : h.selection) out += formatted("%x ", byte);
                break;
            }
            default:
                break;
        }
    }

  private:
    const MaskState& state_;
};

// --- reading ---

class Reader {
  public:
    Reader(const ArgumentList& args, MaskState& state) : args_(args), state_(state) {
        for (int i = args.count() - 1; i >= 0; --i) first_[args[i]] = i;
    }

    // The index of the first token equal to key at or after from; -1 when there is none.
    int find(std::string_view key, int from = 0) const {
        if (from <= 0) {
            auto it = first_.find(key);
            return it == first_.end() ? -1 : it->second;
        }
        const int end = limit_ < args_.count() ? limit_ : args_.count();
        for (int i = from; i < end; ++i) {
            if (args_[i] == key) return i;
        }
        return -1;
    }
    // Keys of the command at c are looked for up to the next command's token, so that a key the
    // command lacks is never taken from a later command.
    void command_span(int c) {
        limit_ = args_.count();
        for (int i = c + 1; i < args_.count(); ++i) {
            std::string_view t = args_[i];
            if (t.size() > 7 && t.substr(0, 7) == "command" &&
                t.find_first_not_of("0123456789", 7) == std::string_view::npos) {
                limit_ = i;
                break;
            }
        }
    }
    bool has(int i) const { return i >= 0 && i < args_.count(); }

    void integer(int i, std::int32_t& v) const {
        if (has(i)) (void)parse_integer(args_[i], v);
    }
    void real(int i, double& v) const {
        bool unread = true;
        real(i, v, unread);
    }
    void colour(int i, std::uint32_t& v) const {
        std::uint32_t read = 0;
        if (has(i) && !parse_colour(args_[i], read)) v = read & 0xffffffu;
    }
    std::string_view token(int i) const { return has(i) ? args_[i] : std::string_view(); }
    // A coordinate written as a fraction of the size, scaled to pixels; unchanged when the token
    // does not read.
    void x(int i, double& v) const { scaled(i, state_.nx, v); }
    void y(int i, double& v) const { scaled(i, state_.ny, v); }
    // A coordinate pair from fractions; a token that does not read gives 0.
    void point(int i, double& px, double& py) const {
        double fx = 0, fy = 0;
        real(i, fx);
        real(i + 1, fy);
        px = fx * scale(state_.nx);
        py = fy * scale(state_.ny);
    }
    // The value after key, searching from from.
    void key_integer(std::string_view key, int from, std::int32_t& v) const {
        int i = find(key, from);
        if (i >= 0) integer(i + 1, v);
    }
    void key_real(std::string_view key, int from, double& v) const {
        int i = find(key, from);
        if (i >= 0) real(i + 1, v);
    }
    // The count at index i, cut to the items of width tokens that fit before the command ends.
    std::int32_t count_at(int i, int width) const {
        std::int32_t n = 0;
        integer(i, n);
        const int end = limit_ < args_.count() ? limit_ : args_.count();
        const std::int32_t room = i + 1 < end ? (end - i - 1) / width : 0;
        return n < 0 ? 0 : (n > room ? room : n);
    }

    // "npts style x0 y0 ..." at i; the curve is taken only when valid. Returns the index after it.
    int curve(int i, Curve& c) const {
        std::int32_t n = 0;
        if (!has(i) || parse_integer(args_[i], n) || n < 2 || n > curve_max_points) return i + 2;
        Curve read;
        read.npts = n;
        bool ok = has(i + 1 + 2 * n) && !parse_integer(args_[i + 1], read.style);
        for (int k = 0; ok && k < n; ++k) {
            ok = !parse_integer(args_[i + 2 + 2 * k], read.x[k]) &&
                 !parse_integer(args_[i + 3 + 2 * k], read.y[k]);
        }
        if (ok && curve_is_valid(read)) c = read;
        return i + 2 + 2 * n;
    }

    // "count" then per stop "position a b colour". Returns the index after it.
    int colour_line(int i, ColorLine& line) const {
        std::int32_t declared = 0;
        if (!has(i) || parse_integer(args_[i], declared)) return i + 1;
        const std::int32_t n = count_at(i, 4);
        line.stops.assign(static_cast<std::size_t>(n), ColorStop{});
        for (int k = 0; k < n; ++k) {
            ColorStop& s = line.stops[static_cast<std::size_t>(k)];
            const int j = i + 1 + 4 * k;
            real(j, s.position);
            integer(j + 1, s.a);
            integer(j + 2, s.b);
            std::uint32_t c = 0;
            if (!parse_colour(args_[j + 3], c)) s.colour = c;
        }
        return i + 1 + 4 * n;
    }

    int group(std::string_view key, int accepted_version = 0) const {
        int i = find(key);
        if (i < 0 || !has(i + 1)) return -1;
        std::int32_t version = -1;
        if (parse_integer(args_[i + 1], version) || version < 0 || version > accepted_version) {
            return -1;
        }
        return i + 2;
    }

    static double scale(std::int32_t n) { return n > 1 ? n - 1 : 0.0; }

  private:
    void scaled(int i, std::int32_t n, double& v) const {
        double f = 0;
        bool unread = true;
        real(i, f, unread);
        if (!unread) v = f * scale(n);
    }
    void real(int i, double& v, bool& unread) const {
        double read = 0;
        unread = !has(i) || parse_real(args_[i], read) || !(std::fabs(read) <= real_limit);
        if (!unread) v = read + 0.0;  // no negative zero
    }

    const ArgumentList& args_;
    MaskState& state_;
    std::unordered_map<std::string_view, int> first_;
    int limit_ = std::numeric_limits<int>::max();
};

void read_groups(const Reader& r, MaskState& state) {
    MaskToolSettings& s = state.settings;
    int i = r.group("brush_settings");
    if (i >= 0) {
        BrushSettings& b = s.brush;
        r.integer(i, b.operation);
        r.real(i + 1, b.radius);
        r.real(i + 2, b.transparency);
        r.real(i + 3, b.softness);
        r.real(i + 4, b.spacing);
        r.real(i + 5, b.threshold);
        r.integer(i + 6, b.accumulate);
        r.integer(i + 7, b.pressure_controls);
        s.nominal_brush = b;
    }
    if ((i = r.group("feather_settings")) >= 0) {
        r.integer(i, s.feather.radius);
        r.integer(i + 1, s.feather.style);
        r.integer(i + 2, s.feather.corners);
    }
    if ((i = r.group("floodfill_settings")) >= 0) r.real(i, s.floodfill_threshold);
    if ((i = r.group("texture_settings")) >= 0) {
        r.integer(i, s.texture.method);
        r.integer(i + 1, s.texture.size);
        r.integer(i + 2, s.texture.threshold0);
        r.integer(i + 3, s.texture.threshold1);
    }
    if ((i = r.group("gradient_settings")) >= 0) {
        i = r.colour_line(i, s.gradient_line);
        r.real(i, s.gradient_angle);
    }
    if ((i = r.group("pinhole_settings")) >= 0) {
        r.integer(i, s.pinhole.size);
        r.integer(i + 1, s.pinhole.threshold);
        r.integer(i + 2, s.pinhole.removal);
    }
    if ((i = r.group("median_settings")) >= 0) {
        r.real(i, s.median.radius);
        r.real(i + 1, s.median.level);
    }
    if ((i = r.group("blur_settings")) >= 0) r.integer(i, s.blur_radius);
    if ((i = r.group("curve_settings")) >= 0) {
        i = r.curve(i, s.curve);
        r.integer(i, s.curve_channel);
    }
    if ((i = r.group("shape_settings")) >= 0) (void)r.curve(i, s.shape_curve);
    // Version 0 of this group (pairs without positions) is no longer read.
    if ((i = r.group("separate_settings", 1)) >= 0 && r.has(i - 1)) {
        std::int32_t version = 0;
        r.integer(i - 1, version);
        if (version == 1) {
            for (int k = 0; k < 16; ++k) {
                SeparateEntry& e = s.separate[static_cast<std::size_t>(k)];
                const int j = i + 4 * k;
                std::int32_t not_in_use = e.in_use ? 0 : 1;
                r.integer(j, not_in_use);
                e.in_use = not_in_use == 0;
                r.colour(j + 1, e.colour);
                r.real(j + 2, e.x);
                r.real(j + 3, e.y);
            }
        }
    }
    if ((i = r.group("color_range_settings")) >= 0) {
        ColorRangeSettings& c = s.color_range;
        r.integer(i, c.colorspace);
        r.colour(i + 1, c.sample);
        for (int k = 0; k < 12; ++k) r.integer(i + 2 + k, c.limits[static_cast<std::size_t>(k)]);
    }
}

// The colour of the base image at a fraction of its size, as r + 256 g + 65536 b.
bool sample_base(const Image& base, double fx, double fy, std::uint32_t& colour) {
    if (base.width == 0 || base.height == 0 || !base.rows) return true;
    const double px = std::round(fx * (base.width - 1));
    const double py = std::round(fy * (base.height - 1));
    if (!(px >= 0 && py >= 0 && px < base.width && py < base.height)) return true;
    const auto x = static_cast<std::uint32_t>(px);
    const std::uint8_t* row = base.rows[base.height - 1 - static_cast<std::uint32_t>(py)];
    std::uint32_t r, g, b;
    switch (base.type) {
        case image_binary:
            r = g = b = bit_get(row, x);
            break;
        case image_gray8:
            r = g = b = row[x];
            break;
        case image_gray16:
            r = g = b = narrow16to8(sample16(row, x));
            break;
        case image_color24:
            b = row[3 * x];
            g = row[3 * x + 1];
            r = row[3 * x + 2];
            break;
        case image_color48:
            b = narrow16to8(sample16(row, 3 * x));
            g = narrow16to8(sample16(row, 3 * x + 1));
            r = narrow16to8(sample16(row, 3 * x + 2));
            break;
        default:
            return true;
    }
    colour = r + 256 * g + 65536 * b;
    return false;
}

void read_parameters(const Reader& r, const MaskState& state, int c, MaskOperation& op) {
    MaskOperationParameters& p = op.parameters;
    int i = -1;
    switch (op.code) {
        case mask_op_freehand:
        case mask_op_polygon:
        case mask_op_spline:
            if ((i = r.find("n", c)) >= 0) {
                const std::int32_t n = r.count_at(i + 1, 2);
                for (int k = 0; k < n; ++k) {
                    MaskVertex v;
                    r.point(i + 2 + 2 * k, v.x, v.y);
                    p.vertices.push_back(v);
                }
            }
            break;
        case mask_op_rectangle:
        case mask_op_oval:
            if ((i = r.find("coords1", c)) >= 0) {
                r.x(i + 1, p.x0);
                r.y(i + 2, p.y0);
                r.x(i + 3, p.x1);
                r.y(i + 4, p.y1);
                r.real(i + 5, p.angle);
            } else if ((i = r.find("coords", c)) >= 0) {
                r.x(i + 1, p.x0);
                r.y(i + 2, p.y0);
                r.x(i + 3, p.x1);
                r.y(i + 4, p.y1);
                p.angle = 0;
            }
            break;
        case mask_op_feather:
            r.key_integer("feather_radius", c, p.feather.radius);
            r.key_integer("feather_style", c, p.feather.style);
            r.key_integer("feather_corners", c, p.feather.corners);
            break;
        case mask_op_blur:
            r.key_integer("blur_radius", c, p.blur_radius);
            break;
        case mask_op_color_range: {
            static constexpr const char* keys[12] = {"minb1", "maxb1", "minb2", "maxb2",
                                                     "minb3", "maxb3", "minw1", "maxw1",
                                                     "minw2", "maxw2", "minw3", "maxw3"};
            r.key_integer("colorspace", c, p.color_range.colorspace);
            if ((i = r.find("sample", c)) >= 0) r.colour(i + 1, p.color_range.sample);
            for (int k = 0; k < 12; ++k) {
                r.key_integer(keys[k], c, p.color_range.limits[static_cast<std::size_t>(k)]);
            }
            break;
        }
        case mask_op_paint: {
            BrushSettings& b = p.brush;
            r.key_integer("paint_operation", c, b.operation);
            r.key_real("paint_radius", c, b.radius);
            r.key_real("paint_transparency", c, b.transparency);
            r.key_real("paint_softness", c, b.softness);
            r.key_real("paint_spacing", c, b.spacing);
            r.key_real("paint_threshold", c, b.threshold);
            r.key_integer("paint_accumulate", c, b.accumulate);
            b.pressure_controls = 0;
            r.key_integer("pressure_controls", c, b.pressure_controls);
            if ((i = r.find("n", c)) >= 0) {
                const int width = b.pressure_controls != 0 ? 3 : 2;
                const std::int32_t n = r.count_at(i + 1, width);
                for (int k = 0; k < n; ++k) {
                    MaskVertex v;
                    const int j = i + 2 + width * k;
                    r.point(j, v.x, v.y);
                    if (width == 3) r.real(j + 2, v.pressure);
                    p.vertices.push_back(v);
                }
            }
            break;
        }
        case mask_op_curve:
            r.key_integer("channel", c, p.channel);
            if ((i = r.find("curve", c)) >= 0) (void)r.curve(i + 1, p.curve);
            break;
        case mask_op_flood_fill:
            if ((i = r.find("floodfill_x", c)) >= 0) r.x(i + 1, p.floodfill_x);
            if ((i = r.find("floodfill_y", c)) >= 0) r.y(i + 1, p.floodfill_y);
            r.key_real("floodfill_threshold", c, p.floodfill_threshold);
            break;
        case mask_op_separate: {
            // A command's entries are exactly those it names, so that its replay does not
            // depend on tool settings changed after it was recorded.
            for (SeparateEntry& e : p.separate) e.in_use = false;
            auto take = [&](int index, SeparateEntry& e, bool with_position) {
                std::uint32_t colour = 0;
                if (!r.has(index) || parse_colour(r.token(index), colour)) return;
                e.in_use = colour != no_mask_colour;
                e.colour = e.in_use ? colour & 0xffffffu : 0;
                if (with_position) {
                    r.real(index + 1, e.x);
                    r.real(index + 2, e.y);
                } else {
                    e.x = e.y = -1;
                }
            };
            for (int k = 1; k <= 8; ++k) {
                if ((i = r.find(formatted("sep_color%d", k), c)) >= 0) {
                    take(i + 1, p.separate[static_cast<std::size_t>(k <= 4 ? k - 1 : k + 3)],
                         false);
                }
            }
            for (int k = 1; k <= 16; ++k) {
                if ((i = r.find(formatted("separate_color%d", k), c)) >= 0) {
                    take(i + 1, p.separate[static_cast<std::size_t>(k - 1)], true);
                }
            }
            // Picked colours are picked again from the image the mask is built for.
            if (state.base) {
                for (SeparateEntry& e : p.separate) {
                    if (e.in_use && e.x != -1) (void)sample_base(*state.base, e.x, e.y, e.colour);
                }
            }
            break;
        }
        case mask_op_texture:
            r.key_integer("texture_method", c, p.texture.method);
            r.key_integer("texture_size", c, p.texture.size);
            r.key_integer("texture_thresh0", c, p.texture.threshold0);
            r.key_integer("texture_thresh1", c, p.texture.threshold1);
            break;
        case mask_op_linear_gradient:
        case mask_op_oval_gradient: {
            const bool oval = op.code == mask_op_oval_gradient;
            if ((i = r.find(oval ? "oval_gradient" : "linear_gradient", c)) >= 0) {
                r.x(i + 1, p.x0);
                r.y(i + 2, p.y0);
                r.x(i + 3, p.x1);
                r.y(i + 4, p.y1);
                if (oval) r.real(i + 5, p.angle);
                (void)r.colour_line(i + (oval ? 6 : 5), p.color_line);
            }
            break;
        }
        case mask_op_pinholes:
            if ((i = r.find("pinhole", c)) >= 0) {
                r.integer(i + 1, p.pinhole.size);
                r.integer(i + 2, p.pinhole.threshold);
                r.integer(i + 3, p.pinhole.removal);
            }
            break;
        case mask_op_median:
            if ((i = r.find("median", c)) >= 0) {
                r.real(i + 1, p.median.radius);
                r.real(i + 2, p.median.level);
            }
            break;
        case mask_op_brightness_curve:
            if ((i = r.find("shape_curve", c)) >= 0) (void)r.curve(i + 1, p.curve);
            break;
        case mask_op_hue_saturation:
            if ((i = r.find("huesat", c)) >= 0) {
                HueSatSelection& h = p.huesat;
                r.integer(i + 1, h.add_remove);
                r.integer(i + 2, h.colorspace);
                const std::int32_t n = r.count_at(i + 3, 3);
                h.colours.assign(static_cast<std::size_t>(n), HueSatColour{});
                for (int k = 0; k < n; ++k) {
                    HueSatColour& e = h.colours[static_cast<std::size_t>(k)];
                    const int j = i + 4 + 3 * k;
                    r.colour(j, e.colour);
                    r.real(j + 1, e.hue_width);
                    r.real(j + 2, e.saturation_width);
                }
            }
            break;
        case mask_op_hs_histogram: {
            HistogramSelection& h = p.histogram;
            r.key_integer("hs_add_remove", c, h.add_remove);
            r.key_integer("hs_color", c, h.colour);
            r.key_integer("hs_transparency", c, h.transparency);
            r.key_integer("hs_colorspace", c, h.colorspace);
            r.key_real("hs_expand", c, h.expand);
            r.key_integer("hs_blur", c, h.blur);
            for (int k = 0; k < 4; ++k) {
                r.key_integer(formatted("hs_thresh%d", k), c,
                              h.thresholds[static_cast<std::size_t>(k)]);
            }
            h.selection.fill(0);
            std::int32_t n = 0;
            r.key_integer("hs_n_selection", c, n);
            if (n > hs_selection_bytes) n = hs_selection_bytes;
            if ((i = r.find("hs_selection", c)) >= 0) {
                for (int k = 0; k < n && r.has(i + 1 + k); ++k) {
                    std::uint32_t byte = 0;
                    r.colour(i + 1 + k, byte);
                    h.selection[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(byte);
                }
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace

std::string mask_command_line(const MaskState& state, bool with_commands) {
    PlainSeparators plain;
    const std::size_t n_op = with_commands ? mask_recorded_count(state) : 0;
    std::string out = formatted(
        "mask 0 nx %d ny %d mask_color %d mask_transparency %d mask_mode %d mask16 %d "
        "mask_operation %d initial_level %d n_op %d",
        state.nx, state.ny, state.mask_color, state.mask_transparency, state.mode, state.mask16,
        state.tool, state.initial_level, static_cast<std::int32_t>(n_op));
    Writer writer(state);
    writer.groups(out);
    for (std::size_t k = 1; k <= n_op; ++k) {
        writer.command(out, static_cast<int>(k), state.records[k].operation);
    }
    return out;
}

bool read_mask_command_line(std::string_view text, MaskState& state,
                            const MaskReadOptions& options) {
    return read_mask_command_line(split(text), state, options);
}

bool read_mask_command_line(const ArgumentList& args, MaskState& state,
                            const MaskReadOptions& options) {
    PlainSeparators plain;
    mask_state_defaults(state);
    state.records.clear();
    state.records.emplace_back();
    state.current = 0;
    state.pending.reset();
    state.pending_vertices.clear();
    image_free(state.saved_mask);

    (void)version_check(args.count() > 1 ? args[1] : std::string_view(), 0, "Mask");
    Reader r(args, state);
    std::int32_t nx = state.nx, ny = state.ny, n_op = 0;
    r.key_integer("nx", 0, nx);
    r.key_integer("ny", 0, ny);
    // Coordinates scale to the image the mask is built for; text read on its own keeps the
    // size it was written for.
    if (!state.base) {
        state.nx = nx < 0 ? 0 : nx;
        state.ny = ny < 0 ? 0 : ny;
    }
    r.key_integer("initial_level", 0, state.initial_level);
    r.key_integer("mask_color", 0, state.mask_color);
    r.key_integer("mask_transparency", 0, state.mask_transparency);
    r.key_integer("mask_mode", 0, state.mode);
    r.key_integer("mask16", 0, state.mask16);
    r.key_integer("mask_operation", 0, state.tool);
    r.key_integer("n_op", 0, n_op);
    if (!options.with_commands) n_op = 0;
    read_groups(r, state);
    state.records[0].operation.mode = state.mode;
    state.records[0].operation.tool = state.tool;

    // Each command needs its own token, so no more can be present than there are tokens.
    if (n_op > args.count()) n_op = args.count();
    for (std::int32_t k = 1; k <= n_op; ++k) {
        const int c = r.find(formatted("command%d", k));
        if (c < 0) continue;
        r.command_span(c);
        const int at = r.find("operation", c);
        if (at < 0) continue;
        MaskOperation op;
        op.mode = state.mode;
        op.tool = state.tool;
        r.integer(at + 1, op.code);
        r.key_integer("mask_operation", c, op.tool);
        r.key_integer("mask_mode", c, op.mode);
        // A command starts from the tool settings, as the dialog records a person's action.
        take_tool_settings(state.settings, op);
        read_parameters(r, state, c, op);
        MaskRecord record;
        record.operation = std::move(op);
        state.records.push_back(std::move(record));
    }
    state.current = state.records.size() - 1;
    if (!options.replay || !state.base) return false;
    return mask_replay(state);
}

void store_mask_command_line(const MaskState& state, MaskSettings& mask) {
    mask.command_line = mask_command_line(state);
}

std::string mask_settings_keys(const std::vector<std::unique_ptr<MaskSettings>>& masks,
                               bool for_settings_file) {
    std::string out;
    for (std::size_t k = 0; k < masks.size(); ++k) {
        const MaskSettings* mask = masks[k].get();
        if (!mask || mask->command_line.empty()) continue;
        if (for_settings_file && mask_depends_on_other_image(*mask)) continue;
        out += formatted(" mask_settings%d %s", static_cast<int>(k) + 1,
                         quoted_text(mask->command_line));
    }
    return out;
}

void read_mask_settings_keys(const ArgumentList& args,
                             std::vector<std::unique_ptr<MaskSettings>>& masks) {
    for (std::size_t k = 0; k < masks.size(); ++k) {
        if (!masks[k]) continue;
        std::string text;
        if (!read_string(args, formatted("mask_settings%d", static_cast<int>(k) + 1), text,
                         std::numeric_limits<std::size_t>::max())) {
            masks[k]->command_line = std::move(text);
        }
    }
}

const Image* mask_base_image(const Node* input, const Node& node, const MaskSettings& mask) {
    const Node* from = input;
    if (mask.base_input_index != -1) {
        const auto index = static_cast<std::size_t>(mask.base_input_index);
        from =
            mask.base_input_index >= 0 && index < node.inputs.size() ? node.inputs[index] : nullptr;
    }
    from = from ? effective_image_node(from) : nullptr;
    return from && !from->image.empty() ? &from->image : nullptr;
}

bool rebuild_mask(MaskSettings& mask, const Image& base) {
    const Image* initial = initial_mask_image(mask);
    if (initial && (initial->width != base.width || initial->height != base.height)) {
        reset_mask_settings(mask);
        return false;
    }
    if (mask.command_line.empty()) return false;
    MaskState state;
    mask_state_set_base(state, &base);
    state.initial_image = initial;
    bool failed = read_mask_command_line(mask.command_line, state);
    image_free(mask.derived);
    if (state.records.empty()) return true;
    failed = image_copy(state.records.back().after, mask.image) || failed;
    return failed;
}

}  // namespace tessaly
