#include "fileio/save.h"

#include <filesystem>

#include "core/arguments.h"
#include "core/format.h"
#include "core/interaction.h"
#include "core/numeric.h"
#include "core/pending_file.h"
#include "fileio/exiftool.h"
#include "fileio/file_open.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"

namespace tessaly {

namespace fs = std::filesystem;

namespace {

void remove_quietly(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

}  // namespace

namespace {
SaveOptionsDialog options_dialog = nullptr;

// The ask flag of a format: 0 shows the options before every save.
bool asks(const SaveOptions& o, std::int32_t format) {
    switch (format) {
        case save_tiff:
            return o.tiff.ask == 0;
        case save_jpeg:
            return o.jpeg.ask == 0;
        case save_bmp:
            return o.bmp.ask == 0;
        case save_png:
            return o.png.ask == 0;
        case save_gif:
            return o.gif.ask == 0;
        default:
            return false;
    }
}
}  // namespace

void set_save_options_dialog(SaveOptionsDialog dialog) {
    options_dialog = dialog;
}

int write_image_file(const std::string& path, const Image& image, const Image* transparency,
                     std::int32_t format, const SaveOptions& stored,
                     const EmbeddedMetadata* embed) {
    // Each save edits a copy of the stored options.
    SaveOptions o = stored;
    if (options_dialog && asks(o, format) && options_dialog(format, o)) return write_cancelled;
    switch (format) {
        case save_tiff:
            return write_tiff_file(path, image, o.tiff.compression, o.tiff.metadata, embed)
                       ? write_failed
                       : write_done;
        case save_jpeg:
            return write_jpeg_file(path, image, o.jpeg.quality, o.jpeg.subsampling, o.jpeg.metadata,
                                   embed);
        case save_bmp:
            return write_bmp_file(path, image, o.bmp.version) ? write_failed : write_done;
        case save_png:
            return write_png_file(path, image, transparency, o.png.metadata, embed) ? write_failed
                                                                                    : write_done;
        case save_gif:
            // The Save command reduces 16-bit pictures rather than refusing them.
            return write_gif_file(path, image, true) ? write_failed : write_done;
        case file_heif:
            show_error("Cannot save image files in HEIF/HEIC/AVIF format");
            break;
        case file_raw:
            show_error("Cannot save image files in RAW format");
            break;
        case file_webp:
            show_error("Cannot save image files in WEBP format");
            break;
        default:
            break;
    }
    return write_failed;
}

namespace {

// The resolution the writer puts in the file, as the metadata step reads it back: JFIF holds
// whole dots per inch, pHYs whole dots per metre.
double resolution_as_written(const Image& image, std::int32_t format) {
    const double dpi = image.dpi > 0.0 ? image.dpi : 72.0;
    if (format == save_png) return round_to_int(dpi * 39.3701) * 0.0254;
    return std::min(65535, std::max(1, round_to_int(dpi)));
}

}  // namespace

int write_with_metadata(const std::string& path, const Image& image, const Image* transparency,
                        std::int32_t format, const SaveOptions& options, const MetadataPlan& plan) {
    const bool copy =
        !plan.original.empty() && (plan.mode == metadata_all || plan.mode == metadata_all_but_gps);
    if (!copy && !plan.thumbnail) {
        return write_image_file(path, image, transparency, format, options);
    }
    if (format == save_tiff && (!copy || library_reads(plan.original))) {
        EmbeddedMetadata embed;
        embed.rewrite = [&](std::string& bytes, const ByteSink& write) {
            return copy_metadata_into(bytes, path, copy ? plan.original : std::string(), plan.mode,
                                      plan.thumbnail, write);
        };
        return write_image_file(path, image, transparency, format, options, &embed);
    }
    if (format == save_jpeg || format == save_png) {
        EmbeddedMetadata embed;
        const InProcess made =
            embedded_metadata(path, copy ? plan.original : std::string(), plan.mode, plan.thumbnail,
                              format == save_png, resolution_as_written(image, format), embed);
        if (made != InProcess::not_handled) {
            return write_image_file(path, image, transparency, format, options,
                                    made == InProcess::done ? &embed : nullptr);
        }
    }
    // The pixels and then the metadata go into a file of its own beside the target, which
    // replaces the target in one rename at the end.
    PendingFile pending;
    const int written =
        pending.create(path) || pending.close()
            ? write_failed
            : write_image_file(pending.path(), image, transparency, format, options);
    if (written != write_done) {
        pending.discard();
        return written;
    }
    if (copy) {
        (void)copy_metadata(plan.original, pending.path(), plan.mode, plan.thumbnail);
    } else {
        (void)add_thumbnail(pending.path(), *plan.thumbnail);
    }
    // ExifTool's thumbnail step leaves its own backup beside the file.
    remove_quietly(pending.path() + "_original");
    return pending.commit() ? write_failed : write_done;
}

std::string original_file_of(const Node* node) {
    for (const Node* n = node; n && n != &tree_root(); n = n->parent) {
        for (const Node* input : n->inputs) {
            if (input && input != n->parent) return {};  // several different inputs
        }
        if (is_top_level(n)) {
            if (!n->command_line) return {};
            FileOpenSettings s;
            if (file_open_module.parse(split(*n->command_line), s) || s.files.empty()) return {};
            return s.files[static_cast<std::size_t>(s.current)].path;
        }
    }
    return {};
}

namespace {
CompanionWriter companion_writer = nullptr;
}

bool save_image_file(const std::string& path, Node* node, std::int32_t format, bool no_script) {
    if (format == file_heif || format == file_raw || format == file_webp) {
        show_error(format == file_heif  ? "Cannot save images in HEIF/HEIC/AVIF format"
                   : format == file_raw ? "Cannot save images in RAW or DNG format"
                                        : "Cannot save images in WEBP format");
        return true;
    }
    const Node* source = effective_image_node(node);
    const Image& image = source->image;
    const SaveOptions& options = save_options();
    const std::int32_t metadata = save_metadata_mode(options, format);
    std::int32_t script = 0;
    switch (format) {
        case save_tiff:
            script = options.tiff.script;
            break;
        case save_jpeg:
            script = options.jpeg.script;
            break;
        case save_png:
            script = options.png.script;
            break;
        case save_bmp:
            script = options.bmp.script;
            break;
        default:
            script = options.gif.script;
            break;
    }
    if (no_script) script = 0;

    MetadataPlan plan;
    plan.mode = metadata;
    const Image* thumbnail = (format == save_tiff || format == save_jpeg) ? &image : nullptr;
    const std::string original = original_file_of(node);
    std::error_code ec;
    if (!original.empty() && metadata != 3) {
        if (fs::exists(original, ec)) {
            plan.original = original;
            // Copying in mode 2 does nothing at all, the thumbnail included.
            if (metadata <= 1) plan.thumbnail = thumbnail;
        } else if (interaction().ask("Question",
                                     formatted("Missing original file (possibly renamed, moved or "
                                               "deleted?): %s\\n\\nSave file without metadata?",
                                               original),
                                     Buttons::yes_no, Answer::yes) != Answer::yes) {
            return true;
        } else {
            plan.thumbnail = thumbnail;
        }
    } else if (original.empty()) {
        if (metadata == 0 || metadata == 1) {
            show_warning("No original file -- image will be saved without metadata");
        }
        if (metadata != 3) plan.thumbnail = thumbnail;
    }
    const int written =
        write_with_metadata(path, image, &source->transparency, format, options, plan);
    if (written != write_done) {
        if (written == write_failed) show_error("Error saving file: %s", path);
        return written == write_failed;
    }
    node->saved_as_pathname = path;
    node->saved_on_date = file_time_text(path);
    node->modified = false;
    return script != 0 && write_companion(node, path, script);
}

bool write_companion(Node* node, const std::string& image_path, std::int32_t mode) {
    if (!companion_writer) {
        show_error("Not built yet: saving the script or workspace beside the image");
        return true;
    }
    return companion_writer(node, image_path, mode);
}

void set_companion_writer(CompanionWriter writer) {
    companion_writer = writer;
}

}  // namespace tessaly
