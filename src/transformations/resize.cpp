#include "transformations/resize.h"

#include <algorithm>
#include <cmath>

#include "core/numeric.h"
#include "framework/module.h"

namespace tessaly {

// --- settings -----------------------------------------------------------------------------------

namespace {

using Settings = ResizeSettings;

void defaults_from(Settings& s, const Image& source) {
    ResizeSource src = resize_source(source);
    s.pixel_w = static_cast<std::int32_t>(source.width);
    s.pixel_h = static_cast<std::int32_t>(source.height);
    // An image without a physical size has no width in inches either.
    s.physical_w = src.dpi > 0.0 ? src.width / src.dpi : 0.0;
    s.physical_h = src.dpi > 0.0 ? src.height / src.dpi : 0.0;
    s.resolution = src.dpi;
    s.memory = src.megabytes;
    s.pixel_area = src.width * src.height;
}

ResizeTarget target_for(const Settings& s, const ResizeSource& src) {
    const double w = src.width;
    const double h = src.height;
    ResizeTarget t{static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), src.dpi};
    if (s.resample == 1) {
        // Only the resolution changes; the pixels stay as they are.
        switch (s.set) {
            case resize_physical_width:
                t.resolution = w / s.physical_w;
                break;
            case resize_physical_height:
                t.resolution = h / s.physical_h;
                break;
            case resize_resolution:
                t.resolution = s.resolution;
                break;
            case resize_physical_short_side:
                t.resolution = h < w ? h / s.physical_h : w / s.physical_w;
                break;
            case resize_physical_long_side:
                t.resolution = w <= h ? h / s.physical_h : w / s.physical_w;
                break;
            case resize_physical_bounding_rectangle:
                t.resolution = std::max(w / s.physical_w, h / s.physical_h);
                break;
            case resize_physical_percent:
                t.resolution = src.dpi * 100.0 / s.percent;
                break;
            default:
                break;
        }
        return t;
    }
    const double r = s.resolution;
    // "Proportional": the other side keeps the source's aspect ratio.
    auto height_for = [&](std::int32_t width) { return round_to_int(width * h / w); };
    auto width_for = [&](std::int32_t height) { return round_to_int(height * w / h); };
    auto by_width = [&](std::int32_t width) {
        t.width = width;
        t.height = height_for(width);
    };
    auto by_height = [&](std::int32_t height) {
        t.height = height;
        t.width = width_for(height);
    };
    auto by_factor = [&](double f) {
        t.width = round_to_int(w * f);
        t.height = round_to_int(h * f);
    };
    t.resolution = r;
    switch (s.set) {
        case resize_pixel_width:
            by_width(s.pixel_w);
            break;
        case resize_pixel_height:
            by_height(s.pixel_h);
            break;
        case resize_pixel_width_height:
            t.width = s.pixel_w;
            t.height = s.pixel_h;
            break;
        case resize_physical_width:
            by_width(round_to_int(s.physical_w * r));
            break;
        case resize_physical_height:
            by_height(round_to_int(s.physical_h * r));
            break;
        case resize_physical_width_height:
            t.width = round_to_int(s.physical_w * r);
            t.height = round_to_int(s.physical_h * r);
            break;
        case resize_memory:
            by_factor(std::sqrt(s.memory / src.megabytes));
            break;
        case resize_pixel_short_side:
            if (h >= w)
                by_width(s.pixel_w);
            else
                by_height(s.pixel_h);
            break;
        case resize_pixel_long_side:
            if (w > h)
                by_width(s.pixel_w);
            else
                by_height(s.pixel_h);
            break;
        case resize_physical_short_side:
            if (h >= w)
                by_width(round_to_int(r * s.physical_w));
            else
                by_height(round_to_int(r * s.physical_h));
            break;
        case resize_physical_long_side:
            if (w > h)
                by_width(round_to_int(r * s.physical_w));
            else
                by_height(round_to_int(r * s.physical_h));
            break;
        case resize_pixel_bounding_rectangle:
            by_width(s.pixel_w);
            if (t.height > s.pixel_h) by_height(s.pixel_h);
            break;
        case resize_physical_bounding_rectangle:
            by_width(round_to_int(s.physical_w * r));
            if (t.height / r > s.physical_h) by_height(round_to_int(r * s.physical_h));
            break;
        case resize_pixel_percent:
            by_factor(s.percent / 100.0);
            break;
        case resize_megapixels:
            by_factor(std::sqrt(s.pixel_area / (w * h)));
            break;
        default:  // resolution and physical percent keep the pixels and the resolution
            t.width = static_cast<std::int32_t>(w);
            t.height = static_cast<std::int32_t>(h);
            t.resolution = src.dpi;
            break;
    }
    t.width = std::max(t.width, 2);
    t.height = std::max(t.height, 2);
    return t;
}

using Context = TransformationContext<Settings>;

void input_defaults(Settings& s, const Context& ctx) {
    if (ctx.working_input) defaults_from(s, *ctx.working_input);
}

// Saved by old versions: the new size and resolution only.
void legacy_keys(Settings& s, const ArgumentList& args, const Context&) {
    std::int32_t onx = s.pixel_w;
    std::int32_t ony = s.pixel_h;
    double dpi = s.resolution;
    auto read_size = [&](std::string_view key, std::int32_t& value) {
        if (!read_integer(args, key, value)) return true;
        double real = 0.0;
        if (read_real(args, key, real)) return false;
        value = round_to_int(real);
        return true;
    };
    bool any = read_size("onx", onx);
    any = read_size("ony", ony) || any;
    any = !read_real(args, "dpi", dpi) || any;
    if (!any) return;
    s.pixel_w = onx;
    s.pixel_h = ony;
    s.physical_w = onx / dpi;
    s.physical_h = ony / dpi;
    s.resolution = dpi;
    s.percent = 100.0;
}

// The declared ranges have been checked: a target that cannot be computed fails.
bool validate(Settings& s, const ArgumentList&, const Context& ctx) {
    if (!ctx.working_input) return false;
    ResizeTarget t = target_for(s, resize_source(*ctx.working_input));
    return !std::isfinite(t.resolution);
}

std::uint8_t run(Context& ctx) {
    const Image* source = ctx.working_input;
    if (!source || source->type < image_binary || source->type > image_color48 ||
        !source->has_pixels()) {
        return fail_node(ctx.node, illegal_input_type);
    }
    const Settings& s = ctx.settings;
    ResizeTarget t = target_for(s, resize_source(*source));
    if (resample(*source, *ctx.result, t.width, t.height, t.resolution, s.method, s.sharpen,
                 true)) {
        image_free(*ctx.result);
        return 1;
    }
    return 0;
}

}  // namespace

const Registered<ResizeSettings> resize_module{{
    .keyword = "resize",
    .schema = Schema<Settings>()
                  .integer("pixel_w", &Settings::pixel_w, 0)
                  .label("Width:", "pixels")
                  .note("default: the source's")
                  .integer("pixel_h", &Settings::pixel_h, 0)
                  .label("Height:", "pixels")
                  .note("default: the source's")
                  .real("physical_w", &Settings::physical_w, "%5zf", 0.0)
                  .label("Width:", "inches")
                  .note("default: the source's")
                  .real("physical_h", &Settings::physical_h, "%5zf", 0.0)
                  .label("Height:", "inches")
                  .note("default: the source's")
                  .real("resolution", &Settings::resolution, "%5zf", 0.0)
                  .label("Resolution:", "pixels per inch")
                  .note("default: the source's")
                  .real("memory", &Settings::memory, "%4zf", 0.0)
                  .label("Memory:", "megabytes")
                  .note("default: the source's")
                  .real("percent", &Settings::percent, "%4zf", 100.0)
                  .label("Percent:", "%")
                  // Held in pixels, written in megapixels; a line without it asks for one.
                  .real("pixel_area", &Settings::pixel_area, "%4zf", 0.0)
                  .scale(1e6)
                  .absent(1.0)
                  .label("Megapixels:")
                  .note("default: the source's")
                  .choice("iunits", &Settings::iunits, 0, {"pixels", "inches", "cm", "mm"})
                  .accept_out_of_range()
                  .choice("wunits", &Settings::wunits, 0, {"pixels", "inches", "cm", "mm"})
                  .accept_out_of_range()
                  .choice("runits", &Settings::runits, 0, {"dpi", "dpcm", "dpmm"})
                  .accept_out_of_range()
                  .choice("resample", &Settings::resample, 0, {"Resample", "Don't Resample"})
                  .reject()
                  .choice("set", &Settings::set, resize_pixel_width,
                          {"Pixel Width", "Pixel Height", "Pixel Width & Height", "Physical Width",
                           "Physical Height", "Physical Width & Height", "Resolution", "Memory",
                           "Pixel Short Side", "Pixel Long Side", "Physical Short Side",
                           "Physical Long Side", "Pixel Bounding Rectangle",
                           "Physical Bounding Rectangle", "Pixel Percent", "Physical Percent",
                           "Megapixels"})
                  .reject()
                  .label("Set")
                  .choice("method", &Settings::method, resample_bicubic,
                          {"Nearest Neighbor", "Bilinear", "Bicubic", "Lanczos 4x4", "Lanczos 6x6",
                           "Lanczos 8x8"})
                  .reject()
                  .label("Resampling:")
                  .real("sharpen", &Settings::sharpen, "%4zf", -0.75)
                  .range(-2.0, -0.5)
                  .accept_out_of_range()
                  .label("Sharpen:")
                  .dialog(&Settings::dialog, {.display = 1, .auto_preview = 1}),
    .types = types_all_five,
    // Binary images keep their type, so the scaler sees them as they are.
    .reads_binary = true,
    .kind = ModuleKind::geometry,
    .dialog = {.same_size = false, .replaces_image = true},
    .input_defaults = input_defaults,
    .before_read = legacy_keys,
    .after_parse = validate,
    .run = run,
}};

void resize_input_defaults(ResizeSettings& settings, const Image& source) {
    defaults_from(settings, source);
}

ResizeSource resize_source(const Image& source) {
    return {static_cast<double>(source.width), static_cast<double>(source.height), source.dpi,
            static_cast<double>(source.row_bytes) * source.height / 1e6};
}

ResizeTarget resize_target(const ResizeSettings& settings, const ResizeSource& source) {
    return target_for(settings, source);
}

}  // namespace tessaly
