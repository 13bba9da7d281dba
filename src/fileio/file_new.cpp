#include "fileio/file_new.h"

#include <algorithm>
#include <cstring>

#include "core/format.h"
#include "core/image_convert.h"
#include "core/numeric.h"
#include "core/runner.h"
#include "core/tables.h"
#include "framework/module.h"

namespace tessaly {

namespace {

// A reference image, when one is in the slot, decides type, size and resolution.
void apply_reference(const Node* node, FileNewSettings& s) {
    if (!node || node->inputs.empty() || !node->inputs[0]) return;
    const Node* reference = effective_image_node(node->inputs[0]);
    const Image& im = reference->image;
    if (im.type < image_binary || im.type > image_color48) return;
    s.type = static_cast<std::int32_t>(im.type);
    s.nx = static_cast<std::int32_t>(im.width);
    s.ny = static_cast<std::int32_t>(im.height);
    s.dpi = im.dpi;
}

// The declared ranges have been checked; a reference image then dictates the rest.
bool reference_after_parse(FileNewSettings& s, const ArgumentList&,
                           const TransformationContext<FileNewSettings>& ctx) {
    apply_reference(ctx.node, s);
    return false;
}

// Row 0 holds the colour in the image's own format; every other row is a copy of it.
std::uint8_t run_file_new(TransformationContext<FileNewSettings>& ctx) {
    const FileNewSettings& s = ctx.settings;
    Image& out = *ctx.result;
    if (image_alloc(out, static_cast<std::uint32_t>(s.type), static_cast<std::uint32_t>(s.nx),
                    static_cast<std::uint32_t>(s.ny), s.dpi)) {
        return 1;  // no memory: a failure without a message
    }
    const std::uint8_t r = s.color.c1, g = s.color.c2, b = s.color.c3;
    const std::uint8_t gray = static_cast<std::uint8_t>(luminance(r, g, b));
    std::uint8_t* row = out.rows[0];
    switch (out.type) {
        case image_binary:
            std::memset(row, gray < 128 ? 0 : 255, out.row_bytes);
            break;
        case image_gray8:
            std::memset(row, gray, out.width);
            break;
        case image_color24:
            for (std::uint32_t x = 0; x < out.width; ++x) {
                row[3 * x] = b;
                row[3 * x + 1] = g;
                row[3 * x + 2] = r;
            }
            break;
        case image_gray16:
            for (std::uint32_t x = 0; x < out.width; ++x) set_sample16(row, x, to16[gray]);
            break;
        default:
            for (std::uint32_t x = 0; x < out.width; ++x) {
                set_sample16(row, 3 * x, to16[b]);
                set_sample16(row, 3 * x + 1, to16[g]);
                set_sample16(row, 3 * x + 2, to16[r]);
            }
            break;
    }
    std::uint8_t failed = run_rows(
        [](const Image*, Image* image, int first, int last, Progress&) -> std::uint8_t {
            for (int y = std::max(first, 1); y <= last; ++y) {
                std::memcpy(image->rows[y], image->rows[0], image->row_bytes);
            }
            return 0;
        },
        "", nullptr, &out);
    ProfileBytes profile;
    if (out.type == image_color24 || out.type == image_color48) profile = rgb_working_profile();
    if (out.type == image_gray8 || out.type == image_gray16) profile = gray_working_profile();
    if (failed || image_set_profile(out, profile.data, profile.size)) {
        image_free(out);
        return 1;
    }
    return 0;
}

bool declined(const char* format, bool exceeds, std::int32_t limit) {
    if (!exceeds) return false;
    return interaction().ask("Warning", formatted(format, limit), Buttons::yes_no, Answer::yes) !=
           Answer::yes;
}

// A field in the dialog's unit, as pixels; false when it is not a number.
bool field_pixels(const std::string& text, std::int32_t units, double dpi, std::int32_t& pixels) {
    double v = 0.0;
    if (parse_real(text, v)) return false;
    switch (units) {
        case 1:
            v *= dpi;
            break;
        case 2:
            v *= dpi / 25.4;
            break;
        case 3:
            v *= dpi / 2.54;
            break;
        default:
            break;
    }
    if (!(v > -3e9 && v < 3e9)) return false;
    pixels = round_to_int(v);
    return true;
}

}  // namespace

const Registered<FileNewSettings> file_new_module{{
    .keyword = "file_new",
    .schema = Schema<FileNewSettings>()
                  .choice("type", &FileNewSettings::type, image_color24,
                          {"", "Binary", "8-bit Black and White", "24-bit Color",
                           "16-bit Black and White", "48-bit Color"})
                  .range(image_binary, image_color48)
                  .reject()
                  .label("Type:")
                  .integer("nx", &FileNewSettings::nx, 100)
                  .range(1, 2147483647)
                  .reject()
                  .label("Width:", "pixels")
                  .integer("ny", &FileNewSettings::ny, 100)
                  .range(1, 2147483647)
                  .reject()
                  .label("Height:", "pixels")
                  .choice("units", &FileNewSettings::units, 0,
                          {"pixels", "inches", "millimetres", "centimetres"})
                  .accept_out_of_range()
                  .real("dpi", &FileNewSettings::dpi, "%5zf", 100.0)
                  .label("Resolution (dpi): ")
                  .colour("color", &FileNewSettings::color, Colour{255, 255, 255})
                  .label("Image Color: "),
    .types = types_any,
    .kind = ModuleKind::generator,
    .dialog = {.top_level = true},
    .after_parse = reference_after_parse,
    .run = run_file_new,
}};

bool declined_width(std::int64_t width, std::int32_t limit) {
    return declined("Image width exceeds %d\\nContinue anyway?", width > limit, limit);
}
bool declined_height(std::int64_t height, std::int32_t limit) {
    return declined("Image height exceeds %d\\nContinue anyway?", height > limit, limit);
}
bool declined_width_or_height(std::int64_t width, std::int64_t height, std::int32_t limit) {
    return declined("Image width or height exceeds %d\\nContinue anyway?",
                    width > limit || height > limit, limit);
}
bool declined_area(double area, std::int32_t limit) {
    if (!(area > static_cast<double>(limit) * limit)) return false;
    return interaction().ask("Warning",
                             formatted("Image area exceeds %0zf\\nContinue anyway?",
                                       static_cast<double>(limit) * limit),
                             Buttons::yes_no, Answer::yes) != Answer::yes;
}

bool file_new_read_fields(const FileNewFields& fields, std::int32_t warn_limit,
                          FileNewSettings& settings) {
    // The typed resolution converts the sizes when it reads; otherwise the current one does
    // (and the resolution field is refused below).
    double dpi = settings.dpi;
    double typed_dpi = 0.0;
    bool dpi_ok = !parse_real(fields.dpi, typed_dpi) && typed_dpi > 0.0 && typed_dpi <= 1000000.0;
    if (dpi_ok) dpi = typed_dpi;

    std::int32_t width = 0;
    if (!field_pixels(fields.width, fields.units, dpi, width) || width < 2 || width > 100000) {
        show_error("Illegal image width: %s", fields.width);
        return true;
    }
    if (declined_width(width, warn_limit)) return true;
    std::int32_t height = 0;
    if (!field_pixels(fields.height, fields.units, dpi, height) || height < 2 || height > 100000) {
        show_error("Illegal image height: %s", fields.height);
        return true;
    }
    if (declined_height(height, warn_limit)) return true;
    if (!dpi_ok) {
        show_error("Illegal image resolution: %s", fields.dpi);
        return true;
    }
    settings.nx = width;
    settings.ny = height;
    settings.units = fields.units;
    settings.dpi = dpi;
    return false;
}

}  // namespace tessaly
