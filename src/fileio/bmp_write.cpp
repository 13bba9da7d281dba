#include <cstring>
#include <vector>

#include "core/format.h"
#include "core/image_convert.h"
#include "core/numeric.h"
#include "core/text_file.h"
#include "fileio/image_write.h"

namespace tessaly {

namespace {

void put16(std::string& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<char>(v & 0xff);
    b[at + 1] = static_cast<char>((v >> 8) & 0xff);
}
void put32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
}

constexpr std::uint32_t file_header = 14;
constexpr std::uint32_t v1_header = 40;
constexpr std::uint32_t v5_header = 124;
constexpr std::uint32_t profile_embedded = 0x4D424544;  // "MBED"
constexpr std::uint32_t intent_images = 4;              // perceptual

}  // namespace

bool write_bmp_file(const std::string& path, const Image& source, std::int32_t version) {
    // 16-bit pictures go out as their 8-bit versions; a BMP has no deeper depth we write.
    Image reduced;
    const Image* image = &source;
    if (source.type == image_gray16 || source.type == image_color48) {
        bool failed = source.type == image_gray16 ? convert_4_to_2(source, reduced)
                                                  : convert_5_to_3(source, reduced);
        if (failed) return true;
        image = &reduced;
    }
    if (image->type < image_binary || image->type > image_color24 || !image->has_pixels()) {
        return true;
    }
    const std::uint32_t bits = image->type == image_binary  ? 1
                               : image->type == image_gray8 ? 8
                                                            : 24;
    const std::uint32_t colours = image->type == image_binary  ? 2
                                  : image->type == image_gray8 ? 256
                                                               : 0;
    const bool v5 = version == 0 && image->profile && image->profile_size > 0;
    const std::uint32_t info = v5 ? v5_header : v1_header;
    const std::uint32_t pixels_at = file_header + info + 4 * colours;
    const std::uint64_t pixel_bytes = static_cast<std::uint64_t>(image->row_bytes) * image->height;
    const std::uint64_t profile_bytes = v5 ? image->profile_size : 0;
    const std::uint64_t total = pixels_at + pixel_bytes + profile_bytes;
    if (total > 0xffffffffull) return true;  // the format's 32-bit sizes

    std::string b(static_cast<std::size_t>(pixels_at), '\0');
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<std::uint32_t>(total));
    put32(b, 10, pixels_at);
    const std::uint32_t per_metre =
        static_cast<std::uint32_t>(std::max(0, round_to_int(image->dpi * 1000.0 / 25.4)));
    put32(b, 14, info);
    put32(b, 18, image->width);
    put32(b, 22, image->height);  // positive: bottom line first, as the rows are stored
    put16(b, 26, 1);
    put16(b, 28, bits);
    put32(b, 34, static_cast<std::uint32_t>(pixel_bytes));
    put32(b, 38, per_metre);
    put32(b, 42, per_metre);
    put32(b, 46, colours);
    if (v5) {
        put32(b, 14 + 56, profile_embedded);
        put32(b, 14 + 108, intent_images);
        put32(b, 14 + 112, static_cast<std::uint32_t>(info + 4 * colours + pixel_bytes));
        put32(b, 14 + 116, image->profile_size);
    }
    std::size_t palette = file_header + info;
    for (std::uint32_t i = 0; i < colours; ++i) {
        std::uint8_t level = static_cast<std::uint8_t>(colours == 2 ? i * 255 : i);
        b[palette + 4 * i] = b[palette + 4 * i + 1] = b[palette + 4 * i + 2] =
            static_cast<char>(level);
    }
    b.reserve(static_cast<std::size_t>(total));
    for (std::uint32_t r = 0; r < image->height; ++r) {
        b.append(reinterpret_cast<const char*>(image->rows[r]), image->row_bytes);
    }
    if (v5) b.append(reinterpret_cast<const char*>(image->profile), image->profile_size);
    return write_file_atomic(path, b);
}

}  // namespace tessaly
