// Our own BMP reader. BMP files come from anywhere, so every size and offset in the headers is
// checked against the file's length before anything is read or allocated.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/format.h"
#include "fileio/image_file.h"

namespace tessaly {

namespace {

constexpr const char* unsupported_text = "Unsupported image format";
constexpr const char* error_text = "Error reading BMP file";

constexpr std::uint32_t bi_rgb = 0, bi_rle8 = 1, bi_rle4 = 2, bi_bitfields = 3;
constexpr std::uint32_t cs_embedded = 0x4D424544;  // "MBED"
constexpr std::uint32_t cs_linked = 0x4C494E4B;    // "LINK"
constexpr std::uint32_t max_profile_name = 260;

struct File {
    std::FILE* f = nullptr;
    std::uint64_t size = 0;
    ~File() {
        if (f) std::fclose(f);
    }
    // Reads exactly n bytes at offset; false when they are not all inside the file.
    [[nodiscard]] bool read(std::uint64_t offset, void* out, std::uint64_t n) const {
        if (offset > size || n > size - offset) return false;
        if (n == 0) return true;
        if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
        return std::fread(out, 1, static_cast<std::size_t>(n), f) == n;
    }
};

std::uint32_t u16(const std::uint8_t* p) {
    return p[0] | (p[1] << 8);
}
std::uint32_t u32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Header {
    std::uint32_t header_size = 0;
    std::uint32_t data_offset = 0;
    std::int64_t width = 0, height = 0;
    bool top_down = false;
    std::uint32_t bits = 0, compression = bi_rgb, colors_used = 0;
    double dpi = 0.0;
    std::array<std::uint32_t, 3> masks{};  // red, green, blue
    std::uint32_t color_space = 0, profile_offset = 0, profile_size = 0;
    std::uint64_t palette_offset = 0;
    std::uint32_t palette_entry = 4;  // bytes per palette entry (3 in core headers)
};

// Palette entries as blue, green, red, padded to 256 with black for out-of-range indices.
struct Palette {
    std::array<std::array<std::uint8_t, 3>, 256> bgr{};
    std::uint32_t count = 0;
};

std::uint32_t choose_type(const Header& h, const Palette& p) {
    if (h.bits > 8) return image_color24;
    bool gray = true, black_white = true;
    for (std::uint32_t i = 0; i < p.count; ++i) {
        const auto& c = p.bgr[i];
        if (c[0] != c[1] || c[1] != c[2]) gray = false;
        if (!(c[0] == c[1] && c[1] == c[2] && (c[0] == 0 || c[0] == 255))) black_white = false;
    }
    if (h.bits == 1 && black_white) return image_binary;
    return gray ? image_gray8 : image_color24;
}

// Shift and scale that take one masked channel of a bit-field pixel to 8 bits.
struct Channel {
    std::uint32_t mask = 0, shift = 0, max = 0;
};
Channel channel(std::uint32_t mask) {
    Channel c{mask, 0, 0};
    if (!mask) return c;
    while (!((mask >> c.shift) & 1)) ++c.shift;
    c.max = mask >> c.shift;
    return c;
}
std::uint8_t channel_value(const Channel& c, std::uint32_t pixel) {
    if (!c.mask) return 0;
    const std::uint64_t v = (pixel & c.mask) >> c.shift;
    return static_cast<std::uint8_t>((v * 255 + c.max / 2) / c.max);
}

// Writes palette index i of column x into a picture row of the chosen type.
inline void put_index(std::uint8_t* row, std::uint32_t type, const Palette& p, std::uint32_t x,
                      std::uint32_t i) {
    const auto& c = p.bgr[i & 255];
    if (type == image_binary) {
        if (c[0] == 255)
            bit_set(row, x);
        else
            bit_clear(row, x);
    } else if (type == image_gray8) {
        row[x] = c[0];
    } else {
        std::memcpy(row + 3 * std::size_t{x}, c.data(), 3);
    }
}

[[nodiscard]] bool read_header(const File& file, Header& h) {
    std::uint8_t fh[18];
    if (!file.read(0, fh, sizeof fh) || fh[0] != 'B' || fh[1] != 'M') return true;
    h.data_offset = u32(fh + 10);
    h.header_size = u32(fh + 14);
    const std::uint32_t size = h.header_size;
    if (size != 12 && size != 40 && size != 108 && size < 124) return true;
    std::uint8_t b[124] = {};
    if (!file.read(14, b, std::min<std::uint32_t>(size, 124))) return true;
    if (size == 12) {
        h.width = u16(b + 4);
        h.height = u16(b + 6);
        h.bits = u16(b + 10);
        h.dpi = 100.0;
        h.palette_entry = 3;
    } else {
        h.width = static_cast<std::int32_t>(u32(b + 4));
        h.height = static_cast<std::int32_t>(u32(b + 8));
        h.bits = u16(b + 14);
        h.compression = u32(b + 16);
        h.dpi = static_cast<std::int32_t>(u32(b + 24)) * 25.4 / 1000.0;
        h.colors_used = u32(b + 32);
    }
    if (h.height < 0) {
        h.top_down = true;
        h.height = -h.height;
    }
    h.palette_offset = 14 + std::uint64_t{size};
    if (h.compression == bi_bitfields) {
        if (size == 40) {
            std::uint8_t m[12];
            if (!file.read(h.palette_offset, m, 12)) return true;
            h.palette_offset += 12;
            h.masks = {u32(m), u32(m + 4), u32(m + 8)};
        } else {
            h.masks = {u32(b + 40), u32(b + 44), u32(b + 48)};
        }
    }
    if (size >= 108) h.color_space = u32(b + 56);
    if (size >= 124) {
        h.profile_offset = u32(b + 112);
        h.profile_size = u32(b + 116);
    }
    return false;
}

// A linked profile names a file; we look for its name in the color folders.
std::vector<std::uint8_t> linked_profile(const std::string& stored) {
    std::string name = stored.substr(0, stored.find('\0'));
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return {};
    std::vector<std::string> folders{"/usr/share/color/icc"};
    if (const char* home = std::getenv("HOME"); home && *home) {
        folders.push_back(std::string(home) + "/.local/share/icc");
        folders.push_back(std::string(home) + "/.color/icc");
    }
    for (const auto& folder : folders) {
        File f;
        f.f = std::fopen((folder + "/" + name).c_str(), "rb");
        if (!f.f) continue;
        if (fseeko(f.f, 0, SEEK_END) != 0) continue;
        const off_t end = ftello(f.f);
        if (end < 128 || static_cast<std::uint64_t>(end) > profile_bytes_max) continue;
        f.size = static_cast<std::uint64_t>(end);
        std::vector<std::uint8_t> bytes(f.size);
        if (f.read(0, bytes.data(), f.size)) return bytes;
    }
    return {};
}

// Decodes RLE8 or RLE4 data into picture rows (bottom line first, like the file).
[[nodiscard]] bool decode_rle(const std::vector<std::uint8_t>& data, const Header& h,
                              const Palette& p, Image& picture) {
    const bool four = h.compression == bi_rle4;
    const auto width = static_cast<std::uint32_t>(h.width);
    const auto height = static_cast<std::uint32_t>(h.height);
    std::size_t i = 0;
    std::uint32_t x = 0, y = 0;
    auto put = [&](std::uint32_t index) {
        if (x < width && y < height) put_index(picture.rows[y], picture.type, p, x, index);
        ++x;
    };
    while (i + 1 < data.size()) {
        const std::uint32_t n = data[i], v = data[i + 1];
        i += 2;
        if (n > 0) {
            for (std::uint32_t k = 0; k < n && x < width; ++k)
                put(four ? ((k & 1) ? v & 15 : v >> 4) : v);
            continue;
        }
        if (v == 0) {  // end of line
            x = 0;
            if (++y >= height) return false;
        } else if (v == 1) {  // end of bitmap
            return false;
        } else if (v == 2) {  // delta
            if (i + 1 >= data.size()) return true;
            x += data[i];
            y += data[i + 1];
            i += 2;
            if (y >= height) return false;
        } else {  // absolute run of v pixels, padded to a 16-bit boundary
            const std::size_t bytes = four ? (v + 1) / 2 : v;
            if (bytes > data.size() - i) return true;
            for (std::uint32_t k = 0; k < v; ++k) {
                const std::uint8_t b = data[i + (four ? k / 2 : k)];
                put(four ? ((k & 1) ? b & 15 : b >> 4) : b);
            }
            i += (bytes + 1) & ~std::size_t{1};
        }
    }
    return false;  // a missing end marker leaves the rest black, as most readers do
}

}  // namespace

bool read_bmp_file(const std::string& path, Image& picture) {
    image_free(picture);
    File file;
    file.f = std::fopen(path.c_str(), "rb");
    if (!file.f) {
        show_error(error_text);
        return true;
    }
    if (fseeko(file.f, 0, SEEK_END) != 0 || ftello(file.f) < 0) {
        show_error(error_text);
        return true;
    }
    file.size = static_cast<std::uint64_t>(ftello(file.f));

    Header h;
    if (read_header(file, h)) {
        // A sound file with a header layout we do not know is unsupported, not broken.
        const bool known = h.header_size == 12 || h.header_size == 40 || h.header_size == 108 ||
                           h.header_size >= 124;
        if (h.header_size != 0 && !known) {
            show_error(unsupported_text);
            return true;
        }
        show_error(error_text);
        return true;
    }
    const bool known_bits =
        h.bits == 1 || h.bits == 2 || h.bits == 4 || h.bits == 8 || h.bits == 24 || h.bits == 32;
    const bool rle = h.compression == bi_rle8 || h.compression == bi_rle4;
    if (!known_bits || (h.compression != bi_rgb && h.compression != bi_bitfields && !rle) ||
        (h.compression == bi_rle8 && h.bits != 8) || (h.compression == bi_rle4 && h.bits != 4) ||
        (h.compression == bi_bitfields && h.bits != 32) || (rle && h.top_down)) {
        show_error(unsupported_text);
        return true;
    }
    if (h.width <= 0 || h.height <= 0) {
        show_error(error_text);
        return true;
    }

    Palette palette;
    if (h.bits <= 8) {
        const std::uint32_t full = 1u << h.bits;
        palette.count = h.colors_used == 0 || h.colors_used > full ? full : h.colors_used;
        std::vector<std::uint8_t> bytes(palette.count * h.palette_entry);
        if (!file.read(h.palette_offset, bytes.data(), bytes.size())) {
            show_error(error_text);
            return true;
        }
        for (std::uint32_t i = 0; i < palette.count; ++i)
            std::memcpy(palette.bgr[i].data(), &bytes[i * h.palette_entry], 3);
    }
    const std::uint32_t type = choose_type(h, palette);
    const auto width = static_cast<std::uint32_t>(h.width);
    const auto height = static_cast<std::uint32_t>(h.height);
    if (image_too_large(width, height, type)) return true;

    // Compressed data cannot describe more than a bounded number of pixels per byte without
    // leaning on skips; a few bytes claiming a gigapixel are refused before allocating it.
    constexpr std::uint64_t rle_pixels_per_byte = 32768;
    const std::uint64_t stride = (std::uint64_t{width} * h.bits + 31) / 32 * 4;
    if (h.data_offset > file.size || (!rle && stride * height > file.size - h.data_offset) ||
        (rle &&
         std::uint64_t{width} * height > (file.size - h.data_offset) * rle_pixels_per_byte)) {
        show_error(error_text);
        return true;
    }

    // The profile is checked before the pixels so that a bad offset fails early.
    std::vector<std::uint8_t> profile;
    if (h.header_size >= 124 && type == image_color24 && h.profile_size > 0) {
        const std::uint64_t offset = 14 + std::uint64_t{h.profile_offset};
        if (h.color_space == cs_embedded) {
            if (offset > file.size || h.profile_size > file.size - offset) {
                show_error(error_text);
                return true;
            }
            // One too large to attach is not read at all.
            if (h.profile_size <= profile_bytes_max) profile.resize(h.profile_size);
            if (!file.read(offset, profile.data(), profile.size())) {
                show_error(error_text);
                return true;
            }
        } else if (h.color_space == cs_linked) {
            std::string name(std::min(h.profile_size, max_profile_name), '\0');
            if (file.read(offset, name.data(), name.size())) profile = linked_profile(name);
        }
    }

    if (image_alloc(picture, type, width, height, h.dpi) ||
        attach_file_profile(picture, profile.data(), profile.size())) {
        image_free(picture);
        show_error(error_text);
        return true;
    }

    if (rle) {
        std::vector<std::uint8_t> data(file.size - h.data_offset);
        if (!file.read(h.data_offset, data.data(), data.size()) ||
            decode_rle(data, h, palette, picture)) {
            image_free(picture);
            show_error(error_text);
            return true;
        }
        return false;
    }

    const std::array<Channel, 3> channels{channel(h.masks[2]), channel(h.masks[1]),
                                          channel(h.masks[0])};
    std::vector<std::uint8_t> line(static_cast<std::size_t>(stride));
    for (std::uint32_t y = 0; y < height; ++y) {
        if (!file.read(h.data_offset + stride * y, line.data(), stride)) {
            image_free(picture);
            show_error(error_text);
            return true;
        }
        std::uint8_t* row = picture.rows[h.top_down ? height - 1 - y : y];
        const std::uint8_t* s = line.data();
        if (h.bits == 24) {
            std::memcpy(row, s, std::size_t{width} * 3);
        } else if (h.bits == 32 && h.compression == bi_bitfields) {
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint32_t v = u32(s + 4 * std::size_t{x});
                for (int c = 0; c < 3; ++c) row[3 * x + c] = channel_value(channels[c], v);
            }
        } else if (h.bits == 32) {
            for (std::uint32_t x = 0; x < width; ++x)
                std::memcpy(row + 3 * std::size_t{x}, s + 4 * std::size_t{x}, 3);
        } else {
            const std::uint32_t mask = (1u << h.bits) - 1;
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::size_t bit = std::size_t{x} * h.bits;
                const std::uint32_t i = (s[bit / 8] >> (8 - h.bits - bit % 8)) & mask;
                put_index(row, type, palette, x, i);
            }
        }
    }
    return false;
}

}  // namespace tessaly
