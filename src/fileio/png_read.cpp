// The PNG reader, through libpng. libpng reports errors by longjmp, so everything that must be
// released on an error lives in a PngReader owned by the calling frame, and the frame that calls
// setjmp holds nothing with a destructor.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/builtin_profiles.h"
#include "core/format.h"
#include "core/interaction.h"
#include "core/tables.h"
#include "fileio/image_file.h"
#include "fileio/png_keywords.h"

namespace tessaly {

namespace {

constexpr const char* png_error_text = "Error reading PNG file";

// Bounds on what libpng may allocate for ancillary chunks, so that a compressed text or profile
// chunk cannot expand without end. Sides are left to image_too_large, which gives the better
// message.
constexpr png_alloc_size_t png_chunk_bytes_max = profile_bytes_max;
constexpr png_uint_32 png_chunk_cache_max = 1000;
// All text kept from one file, and all text inflated for it: text chunks are read here rather
// than by libpng, only those whose keywords become tags are inflated, and what is inflated counts
// whether it is kept or not, so a file of many compressed texts costs no more than one.
constexpr std::uint64_t png_text_bytes_max = std::uint64_t{16} << 20;

[[noreturn]] void png_quiet_error(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void png_quiet_warning(png_structp, png_const_charp) {}

struct PngReader {
    FILE* file = nullptr;
    std::uint64_t file_size = 0;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::unique_ptr<std::uint8_t[]> buffer;  // decoded rows (all of them when interlaced)
    bool progress_open = false;
    std::vector<std::pair<std::uint32_t, std::string>> texts;  // tag, text, in file order
    std::uint64_t text_budget = png_text_bytes_max;

    ~PngReader() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        if (file) std::fclose(file);
        if (progress_open) interaction().progress_end();
    }
};

// What the file holds and how it becomes a picture.
struct PngLayout {
    std::uint32_t type = image_empty;
    bool packed_bits = false;  // 1-bit rows read as they are (gray, or a black-and-white palette)
    bool has_alpha = false;    // an alpha channel or a tRNS chunk
    std::uint8_t bit_white[2] = {0, 255};
    std::uint8_t bit_alpha[2] = {255, 255};
    std::size_t decoded_row_bytes = 0;
    int channels = 0;  // after the transformations: 1 gray, 2 gray+alpha, 3 BGR, 4 BGRA
    int depth = 8;     // 8 or 16 after the transformations
    int passes = 1;    // 7 for interlaced files
    std::uint64_t stored_bytes = 0;  // the filtered lines before compression
};

bool palette_entry_is(const png_color& c, std::uint8_t v) {
    return c.red == v && c.green == v && c.blue == v;
}

// Sets up the transformations and decides the picture type; false when the file cannot be
// represented.
bool choose_layout(png_structp png, png_infop info, PngLayout& layout) {
    const int color_type = png_get_color_type(png, info);
    const int bit_depth = png_get_bit_depth(png, info);
    const std::uint64_t bits = std::uint64_t{png_get_image_width(png, info)} *
                               png_get_channels(png, info) * static_cast<unsigned>(bit_depth);
    layout.stored_bytes = std::uint64_t{png_get_image_height(png, info)} * ((bits + 7) / 8 + 1);
    layout.has_alpha =
        (color_type & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);

    if (bit_depth == 1) {
        layout.type = image_binary;
        if (color_type == PNG_COLOR_TYPE_GRAY) {
            layout.packed_bits = true;
            png_color_16p trans_color = nullptr;
            if (png_get_tRNS(png, info, nullptr, nullptr, &trans_color) && trans_color) {
                layout.bit_alpha[trans_color->gray & 1] = 0;
            }
        } else if (color_type == PNG_COLOR_TYPE_PALETTE) {
            png_colorp palette = nullptr;
            int count = 0;
            if (!png_get_PLTE(png, info, &palette, &count) || count < 1) return false;
            // The bits are used as they are only when every entry is pure black or white;
            // any other two colors are expanded and make a 24-bit picture.
            bool black_white = true;
            for (int i = 0; i < count && i < 2; ++i) {
                if (palette_entry_is(palette[i], 255)) {
                    layout.bit_white[i] = 255;
                } else if (palette_entry_is(palette[i], 0)) {
                    layout.bit_white[i] = 0;
                } else {
                    black_white = false;
                }
            }
            if (count < 2) layout.bit_white[1] = 0;  // out of range index: black
            if (black_white) {
                layout.packed_bits = true;
                png_bytep trans = nullptr;
                int trans_count = 0;
                if (png_get_tRNS(png, info, &trans, &trans_count, nullptr) && trans) {
                    for (int i = 0; i < trans_count && i < 2; ++i) layout.bit_alpha[i] = trans[i];
                }
            } else {
                layout.type = image_color24;
            }
        } else {
            return false;
        }
    } else if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_GRAY_ALPHA) {
        layout.type = bit_depth == 16 ? image_gray16 : image_gray8;
    } else if (color_type == PNG_COLOR_TYPE_RGB || color_type == PNG_COLOR_TYPE_PALETTE ||
               color_type == PNG_COLOR_TYPE_RGB_ALPHA) {
        layout.type = bit_depth == 16 ? image_color48 : image_color24;
    } else {
        return false;
    }

    if (!layout.packed_bits) {
        // Palette to BGR, low gray depths to 8 bits, tRNS to an alpha channel; 16-bit samples
        // little-endian as the picture keeps them.
        png_set_expand(png);
        png_set_bgr(png);
        if (bit_depth == 16) png_set_swap(png);
    }
    return true;
}

// Lets libpng size its row buffers for the chosen transformations: only after the declared size
// has been checked, since this is where it allocates them.
bool finish_layout(png_structp png, png_infop info, PngLayout& layout) {
    layout.passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout.channels = png_get_channels(png, info);
    layout.depth = png_get_bit_depth(png, info);
    layout.decoded_row_bytes = png_get_rowbytes(png, info);
    return layout.packed_bits || layout.depth == 8 || layout.depth == 16;
}

// One decoded file line into picture row (and transparency row when wanted).
void convert_row(const PngLayout& layout, const std::uint8_t* in, std::uint32_t width,
                 std::uint8_t* out, std::uint8_t* alpha) {
    if (layout.packed_bits) {
        std::memset(out, 0, (width + 7) / 8);
        for (std::uint32_t x = 0; x < width; ++x) {
            const int bit = (in[x >> 3] >> (7 - (x & 7))) & 1;
            if (layout.bit_white[bit]) bit_set(out, x);
            if (alpha) alpha[x] = layout.bit_alpha[bit];
        }
        return;
    }
    const int color = layout.channels >= 3 ? 3 : 1;
    const bool with_alpha = layout.channels == 2 || layout.channels == 4;
    if (layout.depth == 8) {
        if (!with_alpha) {
            std::memcpy(out, in, std::size_t{width} * color);
            return;
        }
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = in + std::size_t{x} * (color + 1);
            std::memcpy(out + std::size_t{x} * color, p, color);
            if (alpha) alpha[x] = p[color];
        }
        return;
    }
    if (!with_alpha) {
        std::memcpy(out, in, std::size_t{width} * color * 2);
        return;
    }
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::uint8_t* p = in + std::size_t{x} * (color + 1) * 2;
        std::memcpy(out + std::size_t{x} * color * 2, p, std::size_t(color) * 2);
        if (alpha) alpha[x] = to8[sample16(p, color)];
    }
}

// Inflates a zlib stream into out, giving up (false) once it would exceed budget bytes or the
// stream is damaged; what was inflated is taken from budget either way.
bool inflate_text(const std::uint8_t* in, std::size_t size, std::uint64_t& budget,
                  std::string& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(size, 0xFFFFFFFFu));
    char piece[16384];
    int status = Z_OK;
    bool fits = true;
    while (status == Z_OK && fits) {
        z.next_out = reinterpret_cast<Bytef*>(piece);
        z.avail_out = sizeof piece;
        status = inflate(&z, Z_NO_FLUSH);
        const std::size_t produced = sizeof piece - z.avail_out;
        fits = produced <= budget;
        budget -= fits ? produced : budget;
        if (fits) out.append(piece, produced);
    }
    inflateEnd(&z);
    return fits && status == Z_STREAM_END;
}

// The tag of a text keyword; 0 for keywords that are not kept.
std::uint32_t text_tag(const std::uint8_t* keyword, std::size_t length) {
    for (const auto& k : png_text_keywords) {
        if (std::strlen(k.keyword) == length && std::memcmp(k.keyword, keyword, length) == 0) {
            return k.tag;
        }
    }
    return 0;
}

// A tEXt, zTXt or iTXt chunk: its text kept under the keyword's tag when the keyword is one of
// ours and the text fits what is left of the budget.
void read_text_chunk(PngReader& r, const png_unknown_chunk& chunk) {
    const std::uint8_t* data = chunk.data;
    const std::size_t size = chunk.size;
    const std::uint8_t* end = data + size;
    const auto* key_end = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    if (!key_end) return;
    const std::uint32_t tag = text_tag(data, static_cast<std::size_t>(key_end - data));
    if (tag == 0) return;
    const std::uint8_t* text = key_end + 1;
    bool compressed = false;
    if (std::memcmp(chunk.name, "zTXt", 4) == 0) {
        if (text >= end || *text != 0) return;  // deflate is the only method
        compressed = true;
        ++text;
    } else if (std::memcmp(chunk.name, "iTXt", 4) == 0) {
        // Compression flag and method, then the language tag and the translated keyword.
        if (end - text < 2 || text[0] > 1 || text[1] != 0) return;
        compressed = text[0] == 1;
        text += 2;
        for (int skip = 0; skip < 2; ++skip) {
            const auto* z = static_cast<const std::uint8_t*>(
                std::memchr(text, 0, static_cast<std::size_t>(end - text)));
            if (!z) return;
            text = z + 1;
        }
    }
    std::string value;
    const auto length = static_cast<std::size_t>(end - text);
    if (compressed) {
        if (!inflate_text(text, length, r.text_budget, value)) return;
    } else {
        if (length > r.text_budget) return;
        r.text_budget -= length;
        value.assign(reinterpret_cast<const char*>(text), length);
    }
    // A tag holds its text up to the first zero byte.
    value.resize(std::strlen(value.c_str()));
    r.texts.emplace_back(tag, std::move(value));
}

// Every chunk libpng does not handle itself comes here. Unknown ancillary chunks are dropped as
// libpng would drop them; unknown critical chunks go back to libpng, which refuses the file.
int read_chunk(png_structp png, png_unknown_chunkp chunk) {
    auto& r = *static_cast<PngReader*>(png_get_user_chunk_ptr(png));
    const bool text = std::memcmp(chunk->name, "tEXt", 4) == 0 ||
                      std::memcmp(chunk->name, "zTXt", 4) == 0 ||
                      std::memcmp(chunk->name, "iTXt", 4) == 0;
    if (text && chunk->data) {
        try {
            read_text_chunk(r, *chunk);
        } catch (const std::bad_alloc&) {
            // The text is left out, as libpng leaves out a chunk it has no memory for.
        }
    }
    return (chunk->name[0] & 0x20) ? 1 : 0;
}

void read_metadata(png_structp png, png_infop info, Image& picture,
                   const std::vector<std::pair<std::uint32_t, std::string>>& texts) {
    png_uint_32 res_x = 0, res_y = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    // Without a unit the chunk only gives the pixel aspect ratio, which is not a resolution.
    if (png_get_pHYs(png, info, &res_x, &res_y, &unit) && unit == PNG_RESOLUTION_METER) {
        picture.dpi = (res_x + 0.5) / 39.3701;
    } else {
        picture.dpi = 100.0;
    }

    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profile_size = 0;
    const bool color = picture.type == image_color24 || picture.type == image_color48;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profile_size) && profile &&
        profile_size > 0) {
        (void)attach_file_profile(picture, profile, profile_size);
    } else if (png_get_valid(png, info, PNG_INFO_sRGB) && color) {
        // An RGB profile on a gray picture would only be removed again as a mismatch.
        const ProfileBytes srgb = builtin_srgb_profile();
        (void)image_set_profile(picture, srgb.data, srgb.size);
    }

    for (const auto& [tag, text] : texts) {
        (void)image_add_tag(picture, tag, 2, static_cast<std::uint32_t>(text.size() + 1),
                            text.c_str());
    }
}

// The part of the read that libpng may leave by longjmp. Returns 0 on success, 1 after a libpng
// error or when memory runs out, 2 after a failure already reported (too large).
int decode(PngReader& r, Image& picture, Image* transparency) {
    PngLayout layout;
    if (setjmp(png_jmpbuf(r.png))) return 1;

    png_init_io(r.png, r.file);
    png_set_user_limits(r.png, 0x7fffffffu, 0x7fffffffu);
    png_set_chunk_cache_max(r.png, png_chunk_cache_max);
    png_set_chunk_malloc_max(r.png, png_chunk_bytes_max);
    png_set_benign_errors(r.png, 1);
    static constexpr png_byte text_chunks[] = "tEXt\0zTXt\0iTXt";
    png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_NEVER, text_chunks, 3);
    png_set_read_user_chunk_fn(r.png, &r, read_chunk);
    png_read_info(r.png, r.info);

    const std::uint32_t width = png_get_image_width(r.png, r.info);
    const std::uint32_t height = png_get_image_height(r.png, r.info);
    if (!choose_layout(r.png, r.info, layout)) return 1;
    if (image_too_large(width, height, layout.type)) return 2;
    // Deflate cannot expand data more than 1032 times, so a file too short for its declared size
    // is refused before the picture is allocated for it.
    if (layout.stored_bytes > r.file_size * 1100 + 65536) return 1;
    if (!finish_layout(r.png, r.info, layout)) return 1;

    const int passes = layout.passes;
    // Interlaced passes revisit every line, so they need the whole decoded image.
    const std::size_t lines = passes > 1 ? height : 1;
    r.buffer.reset(new (std::nothrow) std::uint8_t[layout.decoded_row_bytes * lines]);
    if (!r.buffer || image_alloc(picture, layout.type, width, height, 0.0)) return 1;
    const bool want_alpha = transparency && layout.has_alpha;
    if (want_alpha && image_alloc(*transparency, image_gray8, width, height, 0.0)) return 1;

    interaction().progress_begin("Read PNG File", std::int64_t{height} * passes);
    r.progress_open = true;
    std::int64_t done = 0;
    for (int pass = 0; pass < passes; ++pass) {
        for (std::uint32_t y = 0; y < height; ++y) {
            std::uint8_t* line = r.buffer.get() + (passes > 1 ? layout.decoded_row_bytes * y : 0);
            png_read_row(r.png, line, nullptr);
            if (pass == passes - 1) {
                const std::uint32_t row = height - 1 - y;
                convert_row(layout, line, width, picture.rows[row],
                            want_alpha ? transparency->rows[row] : nullptr);
            }
            interaction().progress_update(++done);
        }
    }
    png_read_end(r.png, r.info);
    read_metadata(r.png, r.info, picture, r.texts);
    return 0;
}

}  // namespace

bool read_png_file(const std::string& path, Image& picture, Image* transparency) {
    image_free(picture);
    if (transparency) image_free(*transparency);

    PngReader r;
    r.file = std::fopen(path.c_str(), "rb");
    if (r.file) {
        std::error_code error;
        r.file_size = std::filesystem::file_size(path, error);
        if (error) r.file_size = 0;
        r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error,
                                       png_quiet_warning);
    }
    if (r.png) r.info = png_create_info_struct(r.png);
    const int result = r.info ? decode(r, picture, transparency) : 1;
    if (result == 0) return false;

    image_free(picture);
    if (transparency) image_free(*transparency);
    if (result == 1) show_error(png_error_text);
    return true;
}

}  // namespace tessaly
