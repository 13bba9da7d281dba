// clang-format off
// jpeglib.h expects size_t and FILE to be declared before it.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/format.h"
#include "core/image_convert.h"
#include "core/interaction.h"
#include "core/numeric.h"
#include "core/pending_file.h"
#include "core/runner.h"
#include "fileio/image_write.h"
#include "fileio/metadata_copy.h"

namespace tessaly {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void error_exit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}
void no_message(j_common_ptr) {}

struct JpegJob {
    const Image* image = nullptr;  // 8-bit gray or 24-bit color
    int quality = 95;
    std::int32_t subsampling = 0;
    bool profile = false;
    double dpi = 72.0;
    const EmbeddedMetadata* embed = nullptr;
};

void write_segment(jpeg_compress_struct& c, int marker, const char* header, std::size_t header_size,
                   const std::string& data) {
    if (data.empty()) return;
    std::string segment(header, header_size);
    segment += data;
    jpeg_write_marker(&c, marker, reinterpret_cast<const JOCTET*>(segment.data()),
                      static_cast<unsigned>(segment.size()));
}

// The metadata blocks after the JFIF header: EXIF and XMP in APP1, IPTC in APP13, the comment.
void write_metadata(jpeg_compress_struct& c, const EmbeddedMetadata& m) {
    write_segment(c, JPEG_APP0 + 1, "Exif\0\0", 6, m.exif);
    write_segment(c, JPEG_APP0 + 1, "http://ns.adobe.com/xap/1.0/", 29, m.xmp);
    write_segment(c, JPEG_APP0 + 13, "Photoshop 3.0", 14, m.iptc);
    write_segment(c, JPEG_COM, "", 0, m.comment);
}

// Everything libjpeg does for one file; its errors jump back into encode().
void write_body(jpeg_compress_struct& c, const JpegJob& job) {
    const Image& image = *job.image;
    const bool color = image.type == image_color24;
    c.image_width = image.width;
    c.image_height = image.height;
    c.input_components = color ? 3 : 1;
    c.in_color_space = color ? JCS_EXT_BGR : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, job.quality, TRUE);
    if (color) {
        static const int factors[4][2] = {{2, 2}, {2, 1}, {1, 1}, {1, 2}};
        const int* f = factors[job.subsampling >= 0 && job.subsampling < 4 ? job.subsampling : 0];
        c.comp_info[0].h_samp_factor = f[0];
        c.comp_info[0].v_samp_factor = f[1];
    }
    c.density_unit = 1;  // dots per inch
    const int dpi = std::min(65535, std::max(1, round_to_int(job.dpi)));
    c.X_density = static_cast<UINT16>(dpi);
    c.Y_density = static_cast<UINT16>(dpi);
    jpeg_start_compress(&c, TRUE);
    if (job.embed) write_metadata(c, *job.embed);
    if (job.profile) jpeg_write_icc_profile(&c, image.profile, image.profile_size);
    for (std::uint32_t i = 0; i < image.height; ++i) {
        JSAMPROW row = image.rows[image.height - 1 - i];  // the top of the picture first
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
}

// The compressed bytes go straight into the open file through one fixed buffer, so that no
// growing copy of the whole file is made in memory (first touches of fresh pages cost more than
// the compression itself on some machines). A failed write stops libjpeg through error_exit.
constexpr std::size_t file_buffer_bytes = 1 << 16;

struct FileDestination {
    jpeg_destination_mgr pub;
    PendingFile* file = nullptr;
    JOCTET* buffer = nullptr;
    bool io_failed = false;
};

void init_destination(j_compress_ptr c) {
    auto* d = reinterpret_cast<FileDestination*>(c->dest);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = file_buffer_bytes;
}

boolean empty_output_buffer(j_compress_ptr c) {
    auto* d = reinterpret_cast<FileDestination*>(c->dest);
    if (d->file->write(reinterpret_cast<const char*>(d->buffer), file_buffer_bytes)) {
        d->io_failed = true;
        c->err->error_exit(reinterpret_cast<j_common_ptr>(c));
    }
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = file_buffer_bytes;
    return TRUE;
}

void term_destination(j_compress_ptr c) {
    auto* d = reinterpret_cast<FileDestination*>(c->dest);
    if (d->file->write(reinterpret_cast<const char*>(d->buffer),
                       file_buffer_bytes - d->pub.free_in_buffer)) {
        d->io_failed = true;
        c->err->error_exit(reinterpret_cast<j_common_ptr>(c));
    }
}

enum class Encoded { done, jpeg_failed, io_failed };

// Compresses into the open file of dest (which lives outside this function: libjpeg's callbacks
// change it between setjmp and longjmp).
Encoded encode(const JpegJob& job, FileDestination& dest) {
    jpeg_compress_struct c{};
    ErrorManager errors{};
    c.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = error_exit;
    errors.pub.output_message = no_message;
    dest.buffer = static_cast<JOCTET*>(std::malloc(file_buffer_bytes));
    if (!dest.buffer) return Encoded::jpeg_failed;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&c);
        std::free(dest.buffer);
        return dest.io_failed ? Encoded::io_failed : Encoded::jpeg_failed;
    }
    jpeg_create_compress(&c);
    dest.pub.init_destination = init_destination;
    dest.pub.empty_output_buffer = empty_output_buffer;
    dest.pub.term_destination = term_destination;
    c.dest = &dest.pub;
    write_body(c, job);
    jpeg_destroy_compress(&c);
    std::free(dest.buffer);
    return Encoded::done;
}

// The same steps as write_file_atomic: the bytes go to a file of their own beside the target, are
// synced, and the file is renamed over the target only when complete.
Encoded encode_to_file(const JpegJob& job, const std::string& path) {
    PendingFile file;
    if (file.create(path, false)) return Encoded::io_failed;
    FileDestination dest{};
    dest.file = &file;
    Encoded result = encode(job, dest);
    if (result == Encoded::done && file.commit(true)) result = Encoded::io_failed;
    return result;
}

// The average of the source pixels each thumbnail pixel covers (8-bit gray or 24-bit color).
// Where the thumbnail is smaller both ways the covered blocks tile the source, and one pass down
// the source adds each row into its block's sums; otherwise blocks repeat pixels and each is
// summed on its own.
bool reduce(const Image& source, std::uint32_t w, std::uint32_t h, Image& target) {
    const std::uint32_t channels = source.type == image_color24 ? 3 : 1;
    if (image_alloc(target, source.type, w, h, source.dpi)) return true;
    auto start = [](std::uint32_t i, std::uint32_t from, std::uint32_t to) {
        return static_cast<std::uint32_t>(std::uint64_t{i} * from / to);
    };
    if (source.width >= w && source.height >= h) {
        // Output rows in parallel, each from its own band of source rows. A band's rows are
        // added column by column first (a plain loop the compiler vectorizes; 16-bit sums while
        // the band is at most 257 rows tall), then the columns block by block: the same exact
        // integer sums as adding block by block.
        const RowFunction rows = [&](const Image*, Image* out, int first, int last, Progress&) {
            const std::size_t samples = std::size_t{source.width} * channels;
            std::vector<std::uint16_t> narrow(samples);
            std::vector<std::uint32_t> wide(samples);
            auto add_band = [&](auto& columns, std::uint32_t y0, std::uint32_t y1) {
                std::fill(columns.begin(), columns.end(), 0);
                auto* c = columns.data();
                for (std::uint32_t sy = y0; sy < y1; ++sy) {
                    const std::uint8_t* row = source.rows[sy];
                    for (std::size_t i = 0; i < samples; ++i) c[i] += row[i];
                }
            };
            for (int y = first; y <= last; ++y) {
                const std::uint32_t y0 = start(static_cast<std::uint32_t>(y), source.height, h);
                const std::uint32_t y1 = start(static_cast<std::uint32_t>(y) + 1, source.height, h);
                const bool fits = y1 - y0 <= 257;
                if (fits) {
                    add_band(narrow, y0, y1);
                } else {
                    add_band(wide, y0, y1);
                }
                for (std::uint32_t x = 0; x < w; ++x) {
                    const std::uint32_t x0 = start(x, source.width, w);
                    const std::uint32_t x1 = start(x + 1, source.width, w);
                    const std::uint64_t n = std::uint64_t{y1 - y0} * (x1 - x0);
                    for (std::uint32_t c = 0; c < channels; ++c) {
                        std::uint64_t sum = 0;
                        for (std::uint32_t sx = x0; sx < x1; ++sx) {
                            const std::size_t i = std::size_t{sx} * channels + c;
                            sum += fits ? narrow[i] : wide[i];
                        }
                        out->rows[y][channels * x + c] = static_cast<std::uint8_t>((sum + n / 2) / n);
                    }
                }
            }
            return std::uint8_t{0};
        };
        (void)run_rows(rows, "", nullptr, &target);
        return false;
    }
    for (std::uint32_t y = 0; y < h; ++y) {
        const std::uint32_t y0 = start(y, source.height, h);
        const std::uint32_t y1 = std::max(y0 + 1, start(y + 1, source.height, h));
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t x0 = start(x, source.width, w);
            const std::uint32_t x1 = std::max(x0 + 1, start(x + 1, source.width, w));
            for (std::uint32_t c = 0; c < channels; ++c) {
                std::uint64_t sum = 0;
                for (std::uint32_t sy = y0; sy < y1; ++sy) {
                    for (std::uint32_t sx = x0; sx < x1; ++sx)
                        sum += source.rows[sy][channels * sx + c];
                }
                const std::uint64_t n = std::uint64_t{y1 - y0} * (x1 - x0);
                target.rows[y][channels * x + c] = static_cast<std::uint8_t>((sum + n / 2) / n);
            }
        }
    }
    return false;
}

// The picture as 8-bit gray or 24-bit color; null when the type cannot be written.
const Image* eight_bit(const Image& image, Image& scratch) {
    switch (image.type) {
        case image_gray8:
        case image_color24:
            return &image;
        case image_binary:
            return convert_1_to_2(image, scratch) ? nullptr : &scratch;
        case image_gray16:
            return convert_4_to_2(image, scratch) ? nullptr : &scratch;
        case image_color48:
            return convert_5_to_3(image, scratch) ? nullptr : &scratch;
        default:
            return nullptr;
    }
}

}  // namespace

int write_jpeg_file(const std::string& path, const Image& image, double quality,
                    std::int32_t subsampling, std::int32_t metadata_mode,
                    const EmbeddedMetadata* embed) {
    if (!image.has_pixels()) return write_failed;
    if (image.type == image_binary &&
        interaction().ask("Warning",
                          "Cannot save binary images as JPEG\nSave as 8-bit black and white?",
                          Buttons::yes_no, Answer::yes) != Answer::yes) {
        return write_cancelled;
    }
    Image scratch;
    const Image* eight = eight_bit(image, scratch);
    if (!eight) return write_failed;
    JpegJob job;
    job.image = eight;
    job.quality = std::min(100, std::max(1, round_to_int(quality)));
    job.subsampling = subsampling;
    job.profile = metadata_mode != 3 && eight->profile && eight->profile_size > 0;
    job.dpi = image.dpi;
    job.embed = embed;
    if (!(job.dpi > 0.0)) {
        show_warning("Illegal image dpi -- will be set to 72.0");
        job.dpi = 72.0;
    }
    switch (encode_to_file(job, path)) {
        case Encoded::done:
            return write_done;
        case Encoded::jpeg_failed:
            show_error("Error writing JPEG file");
            return write_failed;
        default:
            return write_failed;
    }
}

namespace {

// The picture reduced so that its longer side is 160 pixels, as an 8-bit job; false when it
// cannot be made.
bool thumbnail_job(const Image& image, Image& scratch, Image& small, JpegJob& job) {
    const Image* eight = eight_bit(image, scratch);
    if (!eight || eight->width == 0 || eight->height == 0) return false;
    const std::uint32_t longer = std::max(eight->width, eight->height);
    const std::uint32_t shorter = std::min(eight->width, eight->height);
    const std::uint32_t reduced_short = std::max(1u, shorter * 160 / longer);
    const std::uint32_t w = eight->width >= eight->height ? 160 : reduced_short;
    const std::uint32_t h = eight->width >= eight->height ? reduced_short : 160;
    if (reduce(*eight, w, h, small)) return false;
    job.image = &small;
    job.quality = 90;
    job.subsampling = 0;
    job.dpi = eight->dpi > 0.0 ? eight->dpi : 72.0;
    return true;
}

}  // namespace

bool write_thumbnail_jpeg(const Image& image, const std::string& path) {
    Image scratch, small;
    JpegJob job;
    if (!thumbnail_job(image, scratch, small, job)) return true;
    return encode_to_file(job, path) != Encoded::done;
}

bool thumbnail_jpeg(const Image& image, std::string& bytes) {
    Image scratch, small;
    JpegJob job;
    if (!thumbnail_job(image, scratch, small, job)) return true;
    jpeg_compress_struct c{};
    ErrorManager errors{};
    c.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = error_exit;
    errors.pub.output_message = no_message;
    // libjpeg owns the growing buffer; it lives outside the setjmp frame.
    static thread_local unsigned char* buffer;
    static thread_local unsigned long size;
    buffer = nullptr;
    size = 0;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&c);
        std::free(buffer);
        return true;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &buffer, &size);
    write_body(c, job);
    jpeg_destroy_compress(&c);
    bytes.assign(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return false;
}

}  // namespace tessaly
