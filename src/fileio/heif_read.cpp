// HEIF, HEIC and AVIF files through libheif: the primary image with the file's rotation, mirroring
// and cropping already applied by the library. The image is taken in the form its coding gives:
// a monochrome image (one coded plane) is gray, 8-bit (type 2) or, above 8 bits, 16-bit (type
// 4), as a gray pixel format reads; everything else is converted to RGB by the library (type 3,
// or 5 above 8 bits).
#include <libheif/heif.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "core/format.h"
#include "core/runner.h"
#include "fileio/exif.h"
#include "fileio/image_file.h"

namespace tessaly {

namespace {

constexpr const char* heif_read_error = "Error reading HEIF file";

struct ContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

// The library is set up once for the whole process and never shut down: heif_deinit drops the
// built-in codecs too, which would leave any other user of libheif without decoders.
void init_library() {
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

// The codec a failed decode was missing, named for the message; empty when both are present.
const char* missing_decoder() {
    const bool hevc = heif_have_decoder_for_format(heif_compression_HEVC) != 0;
    const bool av1 = heif_have_decoder_for_format(heif_compression_AV1) != 0;
    if (!hevc && !av1) return "HEVC and AV1";
    if (!hevc) return "HEVC";
    if (!av1) return "AV1";
    return "";
}

void report_decode_error(const heif_error& error) {
    if (error.code == heif_error_Unsupported_feature &&
        error.subcode == heif_suberror_Unsupported_codec) {
        const std::string codec = missing_decoder();
        if (!codec.empty()) {
            show_error("%s: no %s decoder is installed", heif_read_error, codec);
            return;
        }
    }
    show_error(heif_read_error);
}

// The decoded image's top-first planes: red, green, blue, or the one gray plane.
struct Planes {
    const std::uint8_t* plane[3] = {nullptr, nullptr, nullptr};  // red, green, blue or gray
    int stride[3] = {0, 0, 0};
    int count = 0;  // 1 gray, 3 color
};

// Copies the planes into the bottom-first picture (blue, green, red for color). Samples of more
// than 8 bits are stretched from their own range to the full 16-bit range.
void copy_pixels(const Planes& in, int bits, Image& picture) {
    const std::uint32_t w = picture.width;
    const std::uint32_t h = picture.height;
    const std::uint32_t max = (1u << bits) - 1;
    const bool deep = picture.type == image_gray16 || picture.type == image_color48;
    std::vector<std::uint16_t> scale;
    if (deep) {
        scale.resize(max + 1);
        for (std::uint32_t v = 0; v <= max; ++v) {
            scale[v] = static_cast<std::uint16_t>((v * 65535u + max / 2) / max);
        }
    }
    const auto copy_lines = [&](int first, int last, Progress&) -> std::uint8_t {
        for (int y = first; y <= last; ++y) {
            std::uint8_t* dst = picture.rows[h - 1 - static_cast<std::uint32_t>(y)];
            for (int c = 0; c < in.count; ++c) {
                const std::uint8_t* src = in.plane[c] + static_cast<std::size_t>(y) * in.stride[c];
                // Blue, green, red in the picture: plane c (red first) goes to sample 2 - c.
                const std::uint32_t at = in.count == 3 ? static_cast<std::uint32_t>(2 - c) : 0;
                const std::uint32_t step = static_cast<std::uint32_t>(in.count);
                if (!deep) {
                    for (std::uint32_t x = 0; x < w; ++x) dst[step * x + at] = src[x];
                    continue;
                }
                for (std::uint32_t x = 0; x < w; ++x) {
                    std::uint16_t v;
                    std::memcpy(&v, src + 2 * std::size_t{x}, 2);
                    set_sample16(dst, step * x + at, scale[v > max ? max : v]);
                }
            }
        }
        return 0;
    };
    (void)run_range(0, copy_lines, "", static_cast<int>(w), static_cast<int>(h), h, false, false,
                    false);
}

bool attach_profile(const heif_image_handle* handle, Image& picture) {
    const heif_color_profile_type kind = heif_image_handle_get_color_profile_type(handle);
    if (kind != heif_color_profile_type_prof && kind != heif_color_profile_type_rICC) return false;
    const std::size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size == 0 || size > profile_bytes_max) return false;
    std::vector<std::uint8_t> icc(size);
    if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok) {
        return false;
    }
    return attach_file_profile(picture, icc.data(), size);
}

// The file's EXIF block: a 4-byte big-endian offset to the TIFF header, then the block. Its
// orientation is not applied: the decoder has already turned the pixels by the file's own
// rotation and mirror boxes, which describe the same turn. The parser stores tag 274 as 1.
bool attach_exif(const heif_image_handle* handle, Image& picture) {
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) < 1) return false;
    const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size <= 4) return false;
    std::vector<std::uint8_t> block(size);
    if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok) {
        return false;
    }
    const std::uint64_t offset =
        (std::uint64_t{block[0]} << 24) | (block[1] << 16) | (block[2] << 8) | block[3];
    if (offset >= size - 4) return false;
    int orientation = 0;
    // A damaged EXIF block costs the tags, not the picture.
    (void)exif_read_block(block.data() + 4 + offset, size - 4 - offset, picture, orientation);
    if (picture.empty()) return true;
    // HEIF has no resolution of its own: the EXIF resolution is the file's.
    picture.dpi = exif_resolution_dpi(picture);
    return false;
}

// Big-endian numbers of a box.
std::uint64_t be_number(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int k = 0; k < bytes; ++k) v = v << 8 | p[k];
    return v;
}

// The boxes inside [at, end) of a buffer: f(type, body, body_end) for each; false when a header
// runs past the end.
template <class F>
bool for_each_box(const std::uint8_t* at, const std::uint8_t* end, F&& f) {
    while (end - at >= 8) {
        std::uint64_t size = be_number(at, 4);
        const std::uint32_t type = static_cast<std::uint32_t>(be_number(at + 4, 4));
        std::size_t header = 8;
        if (size == 1) {
            if (end - at < 16) return false;
            size = be_number(at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = static_cast<std::uint64_t>(end - at);
        }
        if (size < header || size > static_cast<std::uint64_t>(end - at)) return false;
        f(type, at + header, at + size);
        at += size;
    }
    return true;
}

constexpr std::uint32_t fourcc(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint8_t(s[3]);
}

// The largest meta box looked into; real ones hold a few kilobytes of item records.
constexpr std::uint64_t meta_bytes_max = std::uint64_t{16} << 20;

// How many tiles the primary image is made of: its "dimg" references in the file's meta box
// (0 for an image that is not derived, or when the box cannot be read, which libheif then
// judges). libheif decodes every tile a grid names, so the count is checked before it does.
std::uint64_t primary_tile_count(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file) return 0;
    std::vector<std::uint8_t> meta;
    for (;;) {
        std::uint8_t head[16];
        if (std::fread(head, 1, 8, file.get()) != 8) return 0;
        std::uint64_t size = be_number(head, 4), header = 8;
        if (size == 1) {
            if (std::fread(head + 8, 1, 8, file.get()) != 8) return 0;
            size = be_number(head + 8, 8);
            header = 16;
        }
        if (size < header) return 0;  // to the end of the file, or damaged: no meta box here
        if (be_number(head + 4, 4) == fourcc("meta")) {
            if (size - header > meta_bytes_max) return 0;
            meta.resize(size - header);
            if (std::fread(meta.data(), 1, meta.size(), file.get()) != meta.size()) return 0;
            break;
        }
        if (std::fseek(file.get(), static_cast<long>(size - header), SEEK_CUR) != 0) return 0;
    }
    if (meta.size() < 4) return 0;
    std::uint64_t primary = 0;
    const std::uint8_t* refs = nullptr;
    const std::uint8_t* refs_end = nullptr;
    // Past the meta box's version and flags.
    for_each_box(meta.data() + 4, meta.data() + meta.size(),
                 [&](std::uint32_t type, const std::uint8_t* body, const std::uint8_t* end) {
                     if (end - body < 4) return;
                     if (type == fourcc("pitm")) {
                         const int bytes = body[0] == 0 ? 2 : 4;
                         if (end - body >= 4 + bytes) primary = be_number(body + 4, bytes);
                     } else if (type == fourcc("iref")) {
                         refs = body;
                         refs_end = end;
                     }
                 });
    if (!refs) return 0;
    const int id_bytes = refs[0] == 0 ? 2 : 4;
    std::uint64_t tiles = 0;
    for_each_box(refs + 4, refs_end,
                 [&](std::uint32_t type, const std::uint8_t* body, const std::uint8_t* end) {
                     if (type != fourcc("dimg") || end - body < id_bytes + 2) return;
                     if (be_number(body, id_bytes) == primary) {
                         tiles += be_number(body + id_bytes, 2);
                     }
                 });
    return tiles;
}

// A tile of a real grid holds thousands of pixels; one that holds fewer only multiplies the
// decoding work.
constexpr std::uint64_t tile_pixels_min = 4096;

}  // namespace

bool read_heif_file(const std::string& path, Image& picture) {
    interaction().status(formatted("Opening file: %s", path));
    image_free(picture);
    init_library();

    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context) {
        show_error(heif_read_error);
        return true;
    }
    heif_image_handle* raw_handle = nullptr;
    if (heif_context_read_from_file(context.get(), path.c_str(), nullptr).code != heif_error_Ok ||
        heif_context_get_primary_image_handle(context.get(), &raw_handle).code != heif_error_Ok) {
        show_error(heif_read_error);
        return true;
    }
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(raw_handle);

    const int handle_w = heif_image_handle_get_width(handle.get());
    const int handle_h = heif_image_handle_get_height(handle.get());
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle.get()) > 8;
    const std::uint32_t type = deep ? image_color48 : image_color24;
    if (handle_w <= 0 || handle_h <= 0) {
        show_error(heif_read_error);
        return true;
    }
    // While the picture is filled, libheif holds its own decoded planes and the codec its frame:
    // about six samples a pixel beside the picture's three.
    const std::uint64_t decoder_bytes = static_cast<std::uint64_t>(handle_w) *
                                        static_cast<std::uint64_t>(handle_h) * 6 * (deep ? 2 : 1);
    if (image_too_large(static_cast<std::uint64_t>(handle_w), static_cast<std::uint64_t>(handle_h),
                        type, decoder_bytes)) {
        return true;
    }

    // A grid may not name more tiles than its picture can hold, nor be put together larger than
    // the size its image declares: libheif allocates the grid from its own record.
    const std::uint64_t ispe_side = static_cast<std::uint64_t>(
        std::max({heif_image_handle_get_ispe_width(handle.get()),
                  heif_image_handle_get_ispe_height(handle.get()), handle_w, handle_h}));
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(handle_w) * static_cast<std::uint64_t>(handle_h);
    if (primary_tile_count(path) > 1 + pixels / tile_pixels_min) {
        show_error(heif_read_error);
        return true;
    }
    heif_context_set_maximum_image_size_limit(
        context.get(), static_cast<int>(std::min<std::uint64_t>(ispe_side + 1, 0x7fffffff)));

    // The library's own form: monochrome images stay one plane, the rest become planar RGB.
    // Alpha is decoded along and then dropped: these files bring no transparency image.
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    heif_image* raw_image = nullptr;
    const heif_error decoded = heif_decode_image(
        handle.get(), &raw_image, heif_colorspace_undefined, heif_chroma_undefined, options.get());
    std::unique_ptr<heif_image, ImageDeleter> image(raw_image);
    if (decoded.code != heif_error_Ok || !image) {
        report_decode_error(decoded);
        return true;
    }

    const heif_colorspace space = heif_image_get_colorspace(image.get());
    const heif_chroma chroma = heif_image_get_chroma_format(image.get());
    const bool gray = space == heif_colorspace_monochrome;
    if (!gray && !(space == heif_colorspace_RGB && chroma == heif_chroma_444)) {
        show_error(heif_read_error);
        return true;
    }
    static constexpr heif_channel color_channels[3] = {heif_channel_R, heif_channel_G,
                                                       heif_channel_B};
    Planes planes;
    planes.count = gray ? 1 : 3;
    const heif_channel first = gray ? heif_channel_Y : heif_channel_R;
    const int w = heif_image_get_width(image.get(), first);
    const int h = heif_image_get_height(image.get(), first);
    const int bits = heif_image_get_bits_per_pixel_range(image.get(), first);
    bool usable = w > 0 && h > 0 && bits >= 1 && bits <= 16 && (bits > 8) == deep;
    for (int c = 0; c < planes.count && usable; ++c) {
        const heif_channel channel = gray ? heif_channel_Y : color_channels[c];
        planes.plane[c] = heif_image_get_plane_readonly(image.get(), channel, &planes.stride[c]);
        usable = planes.plane[c] && heif_image_get_width(image.get(), channel) == w &&
                 heif_image_get_height(image.get(), channel) == h &&
                 heif_image_get_bits_per_pixel_range(image.get(), channel) == bits &&
                 planes.stride[c] >= w * (deep ? 2 : 1);
    }
    if (!usable) {
        show_error(heif_read_error);
        return true;
    }
    const std::uint32_t picture_type =
        gray ? (deep ? image_gray16 : image_gray8) : (deep ? image_color48 : image_color24);
    if (image_too_large(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h),
                        picture_type)) {
        return true;
    }
    if (image_alloc(picture, picture_type, static_cast<std::uint32_t>(w),
                    static_cast<std::uint32_t>(h), 0.0)) {
        show_error(heif_read_error);
        return true;
    }
    copy_pixels(planes, deep ? bits : 8, picture);

    // EXIF first, so that the file's own color profile wins over one inside the EXIF block.
    if (attach_exif(handle.get(), picture) || attach_profile(handle.get(), picture)) {
        show_error(heif_read_error);
        image_free(picture);
        return true;
    }
    return false;
}

}  // namespace tessaly
