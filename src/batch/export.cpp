#include "batch/export.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "batch/batch.h"
#include "batch/export_naming.h"
#include "color/color_transform.h"
#include "core/builtin_profiles.h"
#include "core/clipboard.h"
#include "core/format.h"
#include "core/image_convert.h"
#include "core/interaction.h"
#include "fileio/exiftool.h"
#include "fileio/image_write.h"
#include "fileio/save_options.h"
#include "framework/module.h"
#include "framework/registry.h"
#include "kernels/resample.h"
#include "kernels/sharpen.h"
#include "tree/tree.h"

namespace tessaly {

namespace fs = std::filesystem;

namespace {

using Settings = ExportSettings;
using Context = TransformationContext<Settings>;

// Older settings stored "include the script" the other way round under these keys; when one is
// present it wins over the newer key.
bool after_parse(Settings& s, const ArgumentList& args, const Context&) {
    const struct {
        const char* key;
        std::int32_t Settings::*field;
    } legacy[] = {{"tiff_script", &Settings::tiff_save_script},
                  {"jpeg_script", &Settings::jpeg_save_script},
                  {"bmp_script", &Settings::bmp_save_script},
                  {"png_script", &Settings::png_save_script},
                  {"gif_script", &Settings::gif_save_script}};
    for (const auto& l : legacy) {
        std::int32_t v = 0;
        if (!read_integer(args, l.key, v)) s.*l.field = v != 0 ? 0 : 1;
    }
    return false;
}

std::uint8_t run(Context& ctx);

// The w x h rectangle at (x0, y0) of the image, in place.
bool crop(Image& img, std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h) {
    Image out;
    if (image_alloc_with(out, img.type, w, h, img.dpi, img.profile, img.profile_size, img.tags)) {
        return true;
    }
    for (std::uint32_t y = 0; y < h; ++y) {
        const std::uint8_t* from = img.rows[y0 + y];
        std::uint8_t* to = out.rows[y];
        if (img.type == image_binary) {
            std::memset(to, 0, out.row_bytes);
            for (std::uint32_t x = 0; x < w; ++x) {
                if (bit_get(from, x0 + x)) bit_set(to, x);
            }
        } else {
            const std::size_t b = image_pixel_bytes(img.type);
            std::memcpy(to, from + x0 * b, w * b);
        }
    }
    img = std::move(out);
    return false;
}

bool resample_to(const Image& in, Image& img, std::int32_t w, std::int32_t h, double dpi) {
    return resample(in, img, std::max(w, 1), std::max(h, 1), dpi, resample_bicubic, -0.75, false);
}

// Step 2: img (empty) becomes the picture of in at its export size; a resampled picture is made
// straight from in, without a copy first. true on failure.
bool resize_step(const Settings& s, const Image& in, Image& img) {
    const double W = in.width, H = in.height;
    if (s.dimension == export_megapixels) {
        // Only the pixel count is given: without resampling there is no size to state.
        if (!s.resample || s.area <= 0.0) return image_copy(in, img);
        const double k = std::sqrt(s.area / (W * H));
        return resample_to(in, img, static_cast<std::int32_t>(std::lround(W * k)),
                           static_cast<std::int32_t>(std::lround(H * k)), s.dpi);
    }
    const double bw = std::max(s.width, 1), bh = std::max(s.height, 1);
    if (s.dimension == export_fill_box && s.resample) {
        // Scaled to cover the box, then its middle cut out: the box is filled with picture, so
        // the fill colour is never needed.
        const double k = std::max(bw / W, bh / H);
        const auto cw = std::max(static_cast<std::int32_t>(std::lround(W * k)), s.width);
        const auto ch = std::max(static_cast<std::int32_t>(std::lround(H * k)), s.height);
        if (resample_to(in, img, cw, ch, s.dpi)) return true;
        return crop(img, static_cast<std::uint32_t>(cw - s.width) / 2,
                    static_cast<std::uint32_t>(ch - s.height) / 2,
                    static_cast<std::uint32_t>(std::max(s.width, 1)),
                    static_cast<std::uint32_t>(std::max(s.height, 1)));
    }
    bool fix_height = false;
    double target = s.length;
    switch (s.dimension) {
        case export_wide:
            break;
        case export_tall:
            fix_height = true;
            break;
        case export_short_side:
            fix_height = W >= H;
            break;
        case export_long_side:
            fix_height = W < H;
            break;
        default:  // the bounding boxes (fill without resampling is treated like fit)
            fix_height = H * bw > W * bh;
            target = fix_height ? bh : bw;
            break;
    }
    if (!s.resample) {
        if (image_copy(in, img)) return true;
        const double inches =
            s.physical_length > 0.0 ? s.physical_length : target / std::max(s.dpi, 1e-6);
        img.dpi = (fix_height ? H : W) / inches;
        return false;
    }
    const auto fixed = static_cast<std::int32_t>(std::lround(target));
    const auto other =
        static_cast<std::int32_t>(std::lround(fix_height ? W * target / H : H * target / W));
    return fix_height ? resample_to(in, img, other, fixed, s.dpi)
                      : resample_to(in, img, fixed, other, s.dpi);
}

bool is_16bit(const Image& img) {
    return img.type == image_gray16 || img.type == image_color48;
}

bool to_8bit(Image& img) {
    if (!is_16bit(img)) return false;
    Image out;
    if (image_convert(img, out, img.type == image_gray16 ? image_gray8 : image_color24)) {
        return true;
    }
    img = std::move(out);
    return false;
}

// Step 5: 0 None (converted, no profile kept), 1 Original (untouched), 2 converted and the
// built-in sRGB or gray gamma 2.2 profile embedded. true on failure.
bool profile_step(Image& img, std::int32_t mode) {
    if (mode == 1) return false;
    const bool gray = img.type == image_gray8 || img.type == image_gray16;
    const bool colour = img.type == image_color24 || img.type == image_color48;
    if (!gray && !colour) return false;
    const ProfileBytes target = gray ? builtin_gray_profile() : builtin_srgb_profile();
    if (img.profile && img.profile_size) {
        // The conversion replaces the image's profile, so it works from a copy.
        const std::vector<std::uint8_t> from(img.profile, img.profile + img.profile_size);
        if (convert_image_profile(img, from.data(), static_cast<std::uint32_t>(from.size()),
                                  target.data, target.size, 0)) {
            return true;
        }
    }
    if (mode == 0) return image_set_profile(img, nullptr, 0);
    return image_set_profile(img, target.data, target.size);
}

bool sharpen_step(const Settings& s, Image& img) {
    if (s.sharpen != 1 && s.sharpen != 2) return false;
    Image out;
    if (sharpen_image(img, out, s.sharpen - 1, 0.2, 0.2, 0.0, 0.0, 1.0, false)) return true;
    img = std::move(out);
    return false;
}

SaveOptions options_of(const Settings& s) {
    SaveOptions o;
    // The stored save options show their dialog when ask is 0; Export's flags mean the opposite.
    o.tiff = {s.tiff_ask ? 0 : 1, s.tiff_metadata, s.tiff_save_script, s.tiff_compression};
    o.jpeg = {s.jpeg_ask ? 0 : 1, s.jpeg_quality,     s.jpeg_chroma_subsampling,
              s.jpeg_metadata,    s.jpeg_save_script, s.jpeg_summary};
    o.png = {s.png_ask ? 0 : 1, s.png_metadata, s.png_save_script};
    o.bmp = {s.bmp_ask ? 0 : 1, s.bmp_v5 ? 0 : 1, s.bmp_save_script};
    o.gif = {s.gif_ask ? 0 : 1, s.gif_save_script};
    return o;
}

std::int32_t script_mode(const SaveOptions& o, std::int32_t format) {
    switch (format) {
        case save_tiff:
            return o.tiff.script;
        case save_jpeg:
            return o.jpeg.script;
        case save_bmp:
            return o.bmp.script;
        case save_png:
            return o.png.script;
        default:
            return o.gif.script;
    }
}

// The file name (no folder) for the Original, Sequence and Template rules; no value on failure
// (message shown).
std::optional<std::string> base_name(const Settings& s, const std::string& original,
                                     const Image& img) {
    switch (s.file_name) {
        case export_name_sequence:
            return sequence_name(s.first_file_name, batch_sequence_number());
        case export_name_template: {
            Image holder;
            MacroSource src;
            src.original = original;
            if (!original.empty() && read_exif_tags(original, holder)) src.tags = holder.tags;
            src.width = img.width;
            src.height = img.height;
            src.dpi = img.dpi;
            return expand_template(s.first_file_name, src);
        }
        default:
            if (original.empty()) {
                show_error("No original file");
                return std::nullopt;
            }
            return fs::path(original).stem().string();
    }
}

ExportResult write_file(const Settings& s, const Image& img, Node* node,
                        const std::string& original, const fs::path& folder,
                        std::string* written_path) {
    const std::int32_t format = export_save_format(s, original);
    std::string path;
    if (s.file_name == export_name_ask) {
        const std::string suggested =
            original.empty() ? std::string() : fs::path(original).stem().string();
        auto chosen = ask_export_name(format, folder.string(), suggested);
        if (!chosen || chosen->empty()) return ExportResult::skipped;
        const fs::path p(*chosen);
        path = with_export_extension((p.is_absolute() ? p : folder / p).string(), format);
    } else {
        auto name = base_name(s, original, img);
        if (!name) return ExportResult::failed;
        // A name from the settings stays inside the export folder (which --export-folder may
        // have set for a whole workspace): no absolute name, no way up.
        const fs::path p(*name);
        const bool climbs =
            std::any_of(p.begin(), p.end(), [](const fs::path& c) { return c == ".."; });
        if (p.is_absolute() || climbs) {
            show_error("Export file name leaves the export folder: %s", *name);
            return ExportResult::failed;
        }
        path = with_export_extension((folder / p).string(), format);
    }
    bool claimed = false;
    if (settle_existing(path, s.if_exists, format, &claimed) == NameDecision::skip) {
        return ExportResult::skipped;
    }
    // A name claimed for this file (Add Version Number) is given back when the file fails.
    auto failed = [&] {
        if (claimed) ::unlink(path.c_str());
        return ExportResult::failed;
    };

    const SaveOptions options = options_of(s);
    std::error_code ec;
    const bool has_original = !original.empty() && fs::exists(original, ec);
    MetadataPlan plan;
    if (format == save_tiff || format == save_jpeg) {
        plan.mode = save_metadata_mode(options, format);
        if (has_original) {
            plan.original = original;
            if (plan.mode <= 1) plan.thumbnail = &img;
        } else if (plan.mode != metadata_none) {
            plan.thumbnail = &img;
        }
    } else if (format == save_png && has_original && s.png_metadata != 0) {
        plan.original = original;
        plan.mode = s.png_metadata;
    }
    interaction().status(formatted("Exporting file: %s", path));
    const int written = write_with_metadata(path, img, nullptr, format, options, plan);
    if (written == write_cancelled) {
        if (claimed) ::unlink(path.c_str());
        return ExportResult::skipped;
    }
    if (written != write_done) {
        show_error("Error exporting file: %s", path);
        return failed();
    }

    const std::int32_t script = script_mode(options, format);
    if (script >= 1 && script <= 4) {
        if (write_companion(node, path, script)) return failed();
    }
    if (written_path) *written_path = path;
    return ExportResult::written;
}

std::uint8_t run(Context& ctx) {
    const Image* in = ctx.working_input;
    if (!in || !in->has_pixels()) return fail_node(ctx.node, illegal_input_type);
    const Settings& s = ctx.settings;
    const std::int32_t mode = batch_mode();
    if (mode == batch_test || s.destination != export_to_output) {
        if (image_copy(*in, *ctx.result)) return fail_node(ctx.node, "Out of memory");
    }
    if (mode == batch_test) {
        show_batch_image("Export", *in);
        return 0;
    }
    if (mode == batch_none &&
        !((script_running() && s.execute == 1) || s.destination == export_to_output)) {
        return 0;
    }
    std::string written;
    const ExportResult r = export_write(s, *in, ctx.node, &written);
    if (r == ExportResult::failed) return fail_node(ctx.node, "Error exporting file");
    if (r == ExportResult::written && mode == batch_run) batch_export_written(written);
    return 0;
}

}  // namespace

const Registered<ExportSettings> export_module{{
    .keyword = "export",
    .schema =
        Schema<Settings>()
            .choice("destination", &Settings::destination, export_to_file,
                    {"File", "Clipboard", "Output Image"})
            .label("Save to:")
            .choice("file_type", &Settings::file_type, export_jpeg,
                    {"Original", "TIFF", "JPEG", "BMP", "PNG", "GIF"})
            .label("Save As:")
            .choice("default_file_type", &Settings::default_file_type, 1,
                    {"TIFF", "JPEG", "BMP", "PNG", "GIF"})
            .accept_out_of_range()
            .label("Default File Type:")
            .choice("file_name", &Settings::file_name, export_name_original,
                    {"Original", "Ask", "Sequence", "Template"})
            .label("Filename:")
            .choice("if_exists", &Settings::if_exists, 2,
                    {"Overwrite", "Ask", "Add Version Number", "Skip"})
            .label("If File Exists:")
            .flag("resize", &Settings::resize, 1)
            .accept_out_of_range()
            .label("Resize")
            .flag("resample", &Settings::resample, 1)
            .accept_out_of_range()
            .label("Resample")
            .choice("dimension", &Settings::dimension, export_long_side,
                    {"wide", "tall", "short side", "long side", "fit in bounding box",
                     "fill bounding box", "megapixels"})
            .integer("length", &Settings::length, 1000)
            .label("Length:", "pixels")
            .integer("width", &Settings::width, 1000)
            .label("Width:", "pixels")
            .integer("height", &Settings::height, 800)
            .label("Height:", "pixels")
            .real("area", &Settings::area, "%4zf", 1000000.0)
            .scale(1000000.0)
            .label("Megapixels:")
            .choice("units", &Settings::units, 0, {"pixels", "in", "cm", "mm"})
            .accept_out_of_range()
            .real("dpi", &Settings::dpi, "%4zf", 100.0)
            .label("Resolution:", "dpi")
            .flag("demote16", &Settings::demote16, 0)
            .accept_out_of_range()
            .label("Save 16-bit images as 8-bit")
            .colour("pad_color", &Settings::pad_color, Colour{})
            .label("Fill Color:")
            .choice("profile", &Settings::profile, 2, {"None", "Original", "sRGB or Gamma 2.2"})
            .label("Profile:")
            .integer("tiff_ask", &Settings::tiff_ask, 1)
            .integer("tiff_metadata", &Settings::tiff_metadata, 0)
            .integer("tiff_save_script", &Settings::tiff_save_script, 0)
            .integer("tiff_compression", &Settings::tiff_compression, 0)
            .integer("jpeg_ask", &Settings::jpeg_ask, 1)
            .integer("jpeg_metadata", &Settings::jpeg_metadata, 0)
            .integer("jpeg_save_script", &Settings::jpeg_save_script, 0)
            .real("jpeg_quality", &Settings::jpeg_quality, "%2zf", 95.0)
            .label("Quality:", "%")
            .integer("jpeg_chroma_subsampling", &Settings::jpeg_chroma_subsampling, 0)
            .integer("jpeg_summary", &Settings::jpeg_summary, 0)
            .integer("bmp_ask", &Settings::bmp_ask, 1)
            .integer("bmp_v5", &Settings::bmp_v5, 0)
            .integer("bmp_save_script", &Settings::bmp_save_script, 0)
            .integer("png_ask", &Settings::png_ask, 1)
            .integer("png_metadata", &Settings::png_metadata, 0)
            .integer("png_save_script", &Settings::png_save_script, 0)
            .integer("gif_ask", &Settings::gif_ask, 1)
            .integer("gif_save_script", &Settings::gif_save_script, 0)
            .choice("sharpen", &Settings::sharpen, 1, {"None", "Light", "Heavy"})
            .label("Sharpen:")
            .choice("which_folder", &Settings::which_folder, 1, {"Original", "Custom"})
            .label("Folder:")
            .text("folder", &Settings::folder, "", 260)
            .text("first_file_name", &Settings::first_file_name, "", 260)
            .choice("execute", &Settings::execute, 0,
                    {"During batch processing only", "Also when a script is run"})
            .accept_out_of_range()
            .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1, .auto_preview = 1}),
    .types = types_any,
    .reads_binary = true,
    .after_parse = after_parse,
    .run = run,
}};

std::int32_t export_save_format(const ExportSettings& s, const std::string& original) {
    if (s.destination != export_to_file) return -1;
    if (s.file_type >= export_tiff && s.file_type <= export_gif) return s.file_type - 1;
    const std::int32_t of_original = original.empty() ? -1 : save_format_of(original);
    if (of_original >= save_tiff && of_original <= save_gif) return of_original;
    return std::clamp<std::int32_t>(s.default_file_type, save_tiff, save_gif);
}

namespace {

// The folder a file export writes into; no value (after the message, unless quiet) when there is
// none.
std::optional<fs::path> export_folder(const ExportSettings& s, const std::string& original,
                                      bool quiet) {
    if (s.which_folder == 1) {
        if (!s.folder.empty()) return fs::path(s.folder);
        if (!quiet) show_error("No folder specified");
        return std::nullopt;
    }
    if (!original.empty()) return fs::path(original).parent_path();
    if (!quiet) show_error("No original folder");
    return std::nullopt;
}

}  // namespace

std::optional<std::string> export_predicted_path(const ExportSettings& s,
                                                 const std::string& original, std::int32_t number) {
    if (s.destination != export_to_file) return std::nullopt;
    const std::optional<fs::path> folder = export_folder(s, original, true);
    if (!folder) return std::nullopt;
    std::string name;
    if (s.file_name == export_name_original && !original.empty()) {
        name = fs::path(original).stem().string();
    } else if (s.file_name == export_name_sequence) {
        name = sequence_name(s.first_file_name, number);
    } else {
        return std::nullopt;  // made from the picture, or asked for
    }
    return with_export_extension((*folder / name).string(), export_save_format(s, original));
}

ExportResult export_write(const ExportSettings& s, const Image& input, Node* node,
                          std::string* written) {
    const std::string original = original_file_of(node);
    fs::path folder;
    if (s.destination == export_to_file) {
        const std::optional<fs::path> chosen = export_folder(s, original, false);
        if (!chosen) return ExportResult::failed;
        folder = *chosen;
    }

    // The processing steps fail only for want of memory, a cancel or a type they cannot take.
    Image img;
    if (!s.resize) {
        if (image_copy(input, img)) return ExportResult::failed;
    } else if (resize_step(s, input, img)) {
        show_error("Error exporting file");
        return ExportResult::failed;
    }

    const std::int32_t format = export_save_format(s, original);
    bool reduce = s.demote16 != 0;
    if (s.destination == export_to_clipboard) {
        if (is_16bit(img)) show_warning("16-bit images are copied to the clipboard as 8-bit");
        reduce = true;
    } else if (format == save_jpeg || format == save_bmp || format == save_gif) {
        reduce = true;
    }
    const bool palette_format = format == save_bmp || format == save_gif;
    if ((reduce && to_8bit(img)) || sharpen_step(s, img) ||
        profile_step(img, palette_format ? 2 : s.profile)) {
        show_error("Error exporting file");
        return ExportResult::failed;
    }

    switch (s.destination) {
        case export_to_clipboard: {
            // Without the desktop program's clipboard a clipboard export fails.
            const ClipboardWriter writer = clipboard_writer();
            const int r = writer ? writer(img) : 1;
            if (r == 1) show_error("Error copying bitmap to clipboard");
            if (r == 2) show_error("Error copying V5 bitmap to clipboard");
            return r == 0 ? ExportResult::written : ExportResult::failed;
        }
        case export_to_output:
            node->image = std::move(img);
            return ExportResult::written;
        default:
            return write_file(s, img, node, original, folder, written);
    }
}

std::size_t export_redirect_all(const std::string& folder) {
    std::size_t changed = 0;
    walk([&](Node* node) {
        if (!node->command_line) return false;
        const ArgumentList args = split(*node->command_line);
        Settings s;
        if (args.empty() || args[0] != "export" || export_module.parse(args, s) ||
            s.destination != export_to_file) {
            return false;
        }
        s.which_folder = 1;
        s.folder = folder;
        node->command_line = export_module.format(s);
        ++changed;
        return false;
    });
    return changed;
}

}  // namespace tessaly
