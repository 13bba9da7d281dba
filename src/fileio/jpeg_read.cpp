// JPEG through libjpeg-turbo. libjpeg reports errors by calling error_exit, which must not
// return; ours jumps back to the reader, which cleans up and fails.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "core/format.h"
#include "core/interaction.h"
#include "fileio/exif.h"
#include "fileio/image_file.h"
#include "fileio/prefault.h"

namespace tessaly {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool premature_end = false;
};

[[noreturn]] void on_error(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

// Warnings are not printed; a file that ends early is a failed read rather than a picture
// padded with gray.
void on_message(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && err->pub.msg_code == JWRN_JPEG_EOF) err->premature_end = true;
    if (level < 0) ++err->pub.num_warnings;
}

// Owns what the setjmp path must release; everything here is plain data, so nothing with a
// destructor lies between setjmp and longjmp.
struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    std::FILE* file = nullptr;
    bool created = false;
    JOCTET* icc = nullptr;
    unsigned int icc_size = 0;

    ~Decoder() {
        if (created) jpeg_destroy_decompress(&cinfo);
        if (file) std::fclose(file);
        std::free(icc);
    }
};

constexpr unsigned char exif_signature[6] = {'E', 'x', 'i', 'f', 0, 0};

jpeg_saved_marker_ptr find_exif(const jpeg_decompress_struct& cinfo) {
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= sizeof exif_signature &&
            std::memcmp(m->data, exif_signature, sizeof exif_signature) == 0) {
            return m;
        }
    }
    return nullptr;
}

// The part of the read that libjpeg may leave by longjmp; returns true on failure with
// failure_message set (null when the message was already shown).
bool decode(Decoder& d, Image& picture, const char*& failure_message) {
    failure_message = "Error reading JPEG file";
    if (setjmp(d.err.jump)) {
        image_free(picture);
        return true;
    }
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    jpeg_stdio_src(&d.cinfo, d.file);
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d.cinfo, TRUE);

    std::uint32_t type = 0;
    if (d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK) {
        failure_message = "Unsupported image format";
        return true;
    }
    if (d.cinfo.num_components == 1) {
        d.cinfo.out_color_space = JCS_GRAYSCALE;
        type = image_gray8;
    } else if (d.cinfo.num_components == 3) {
        d.cinfo.out_color_space = JCS_EXT_BGR;
        type = image_color24;
    } else {
        failure_message = "Unsupported image format";
        return true;
    }
    if (image_too_large(d.cinfo.image_width, d.cinfo.image_height, type)) {
        failure_message = nullptr;
        return true;
    }

    double dpi = 0.0;
    if (d.cinfo.saw_JFIF_marker && d.cinfo.density_unit == 1) {
        dpi = d.cinfo.X_density;
    } else if (d.cinfo.saw_JFIF_marker && d.cinfo.density_unit == 2) {
        dpi = d.cinfo.X_density * 2.54;
    }

    // Progressive files keep every coefficient in memory; past the Image limit libjpeg fails
    // (it has no backing store) instead of filling the machine.
    const std::uint64_t limit = image_memory_limit();
    d.cinfo.mem->max_memory_to_use =
        static_cast<long>(std::min<std::uint64_t>(limit, std::numeric_limits<long>::max()));
    jpeg_start_decompress(&d.cinfo);
    const std::uint32_t width = d.cinfo.output_width;
    const std::uint32_t height = d.cinfo.output_height;
    if (image_alloc(picture, type, width, height, dpi) || !picture.rows) {
        image_free(picture);
        return true;
    }
    // The file's top line is the Image's last row. The pages of the next megabyte of rows are
    // mapped before the decoder reaches them (see prefault.h); no further, so that a file that
    // ends early has not made the whole declared picture resident.
    const std::uint32_t band = std::max<std::uint32_t>(1, (1u << 20) / picture.row_bytes);
    std::uint32_t mapped = 0;  // file lines whose rows are mapped
    while (d.cinfo.output_scanline < height) {
        if (d.cinfo.output_scanline >= mapped) {
            const std::uint32_t n = std::min(band, height - mapped);
            populate_rows(picture, height - mapped - n, height - 1 - mapped);
            mapped += n;
        }
        JSAMPROW row = picture.rows[height - 1 - d.cinfo.output_scanline];
        if (jpeg_read_scanlines(&d.cinfo, &row, 1) != 1 || d.err.premature_end) break;
    }
    if (d.err.premature_end || d.cinfo.output_scanline < height) {
        image_free(picture);
        return true;
    }

    int orientation = 0;
    if (const jpeg_saved_marker_ptr m = find_exif(d.cinfo)) {
        // Broken EXIF costs the tags, not the picture.
        (void)exif_read_block(m->data + sizeof exif_signature,
                              m->data_length - sizeof exif_signature, picture, orientation);
        if (!d.cinfo.saw_JFIF_marker) picture.dpi = exif_resolution_dpi(picture);
    }
    if (jpeg_read_icc_profile(&d.cinfo, &d.icc, &d.icc_size) && d.icc_size > 0) {
        if (attach_file_profile(picture, d.icc, d.icc_size)) {
            image_free(picture);
            return true;
        }
    }
    jpeg_finish_decompress(&d.cinfo);
    if (d.err.premature_end) {
        image_free(picture);
        return true;
    }
    if (apply_orientation(picture, orientation)) {
        image_free(picture);
        return true;
    }
    return false;
}

}  // namespace

bool read_jpeg_file(const std::string& path, Image& picture) {
    image_free(picture);
    interaction().status(formatted("Opening file: %s", path));
    Decoder d;
    d.file = std::fopen(path.c_str(), "rb");
    if (!d.file) return true;
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = on_error;
    d.err.pub.emit_message = on_message;
    const char* message = nullptr;
    if (decode(d, picture, message)) {
        image_free(picture);
        if (message) show_error(message);
        return true;
    }
    return false;
}

}  // namespace tessaly
