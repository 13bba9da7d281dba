// The Image: the one pixel record every part of Tessaly exchanges.
//
// Integer types keep the layout of a bottom-up device-independent bitmap: rows padded to 4 bytes,
// row 0 the bottom scan line, color samples blue, green, red. Rows live in chunks of at most
// 8 MiB so that a huge picture never needs one huge block; code reaches pixels through rows[r].
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly {

// Image type codes.
enum : std::uint32_t {
    image_empty = 0,
    image_binary = 1,       // "1-bit Binary": bit 7 of each byte is the leftmost pixel, set = white
    image_gray8 = 2,        // "8-bit Black and White"
    image_color24 = 3,      // "24-bit Color": blue, green, red bytes
    image_gray16 = 4,       // "16-bit Black and White": little-endian 0..65535
    image_color48 = 5,      // "48-bit Color": blue, green, red 16-bit samples
    image_float_gray = 6,   // working format: one float, 0.0 black .. 1.0 white
    image_float_color = 7,  // working format: three floats, blue, green, red
};

// The name shown to the user for a type ("" for types without one).
const char* image_type_name(std::uint32_t type);

constexpr std::size_t image_chunk_limit = 8388608;  // bytes in one chunk at most

// One TIFF/EXIF metadata tag taken from a file. data holds count x unit size bytes and one
// extra zero byte, so text values are always terminated.
struct MetadataTag {
    MetadataTag* next = nullptr;
    std::uint32_t tag = 0;
    std::int32_t field_type = 0;
    std::uint32_t count = 0;
    std::uint8_t* data = nullptr;
};

// Bytes per value of a TIFF field type as the tag list stores it.
std::uint32_t tag_unit_size(std::int32_t field_type);

struct Image {
    std::uint32_t type = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t row_bytes = 0;
    double dpi = 0.0;  // pixels per inch; 0 or less = no physical size
    std::uint8_t** rows = nullptr;
    std::int32_t chunk_count = 0;
    std::int32_t rows_per_chunk = 0;
    std::uint8_t** chunks = nullptr;
    std::uint8_t* profile = nullptr;  // ICC profile bytes, owned
    std::uint32_t profile_size = 0;
    MetadataTag* tags = nullptr;  // insertion order, owned

    Image() = default;
    ~Image();
    Image(Image&& other) noexcept;
    Image& operator=(Image&& other) noexcept;
    Image(const Image&) = delete;  // image_copy copies
    Image& operator=(const Image&) = delete;

    bool empty() const { return type == image_empty; }
    bool has_pixels() const { return rows != nullptr; }
    std::uint8_t* row(std::uint32_t r) { return rows[r]; }
    const std::uint8_t* row(std::uint32_t r) const { return rows[r]; }
};

// Working images a transformation makes with no source to take the resolution from.
constexpr double working_image_dpi = 100.0;

// Bytes one pixel takes in a row: 0 for the binary type (eight pixels a byte) and the empty one.
std::uint32_t image_pixel_bytes(std::uint32_t type);
// Row size in bytes for a type and width; 0 for the empty type, a zero width or a row that
// cannot be stored (longer than one chunk).
std::uint32_t image_row_bytes(std::uint32_t type, std::uint32_t width);

// --- allocation (all return true on failure; the Image is then left empty) ---

void image_init(Image& image);
void image_free(Image& image);
[[nodiscard]] bool image_alloc(Image& image, std::uint32_t type, std::uint32_t width,
                               std::uint32_t height, double dpi);
[[nodiscard]] bool image_alloc_with(Image& image, std::uint32_t type, std::uint32_t width,
                                    std::uint32_t height, double dpi, const std::uint8_t* profile,
                                    std::uint32_t profile_size, const MetadataTag* tags);
// Allocates image with like's type, size, resolution, profile and tags for an operation that
// writes every pixel: the pixels are left as they come (no pass over the memory to zero it), only
// the padding at the end of each row is zeroed.
[[nodiscard]] bool image_alloc_for_overwrite(Image& image, const Image& like);
// Allocates target like source (its dpi and tags) with the profile rule of type changes: same
// family keeps the source's profile, otherwise the working profile of the target's family.
[[nodiscard]] bool image_alloc_as(const Image& source, std::uint32_t width, std::uint32_t height,
                                  Image& target, std::uint32_t type);
[[nodiscard]] bool image_alloc_as(const Image& source, Image& target, std::uint32_t type);
[[nodiscard]] bool image_alloc_single_block(Image& image, std::uint32_t type, std::uint32_t width,
                                            std::uint32_t height, double dpi, bool top_first);
[[nodiscard]] bool image_copy(const Image& source, Image& target);
[[nodiscard]] bool image_add_tag(Image& image, std::uint32_t tag, std::int32_t field_type,
                                 std::uint32_t count, const void* bytes);
// Replaces the profile with a private copy of the given bytes (none when size is 0).
[[nodiscard]] bool image_set_profile(Image& image, const std::uint8_t* profile,
                                     std::uint32_t profile_size);
// Appends copies of every tag of a list.
[[nodiscard]] bool image_copy_tags(Image& image, const MetadataTag* tags);
bool image_equal(const Image& a, const Image& b);

// Binary images reach transformations as 8-bit gray: converts into scratch and returns it, else
// frees scratch and returns the image itself. nullptr when the conversion fails.
const Image* gray_view(const Image& image, Image& scratch);

// Copies the rectangle x0..x1, y0..y1 (inclusive, stored row numbers) as 8-bit gray (from types
// 1, 2, 4) or 24-bit color (from 3, 5) for drawing, with the source's dpi, profile and tags; the
// same rectangle of a non-empty transparency image too, as 8-bit gray. Fails for any other type
// and for a rectangle outside the picture; the caller then shows image_display_copy_failure.
inline constexpr const char* image_display_copy_failure = "Internal error: missing input image";
[[nodiscard]] bool image_display_copy(const Image& source, std::uint32_t x0, std::uint32_t y0,
                                      std::uint32_t x1, std::uint32_t y1, Image& target,
                                      const Image* transparency_source, Image* transparency_target);

// --- allocation failure injection, for tests of the clean-failure paths ---

// After n more successful allocations, every allocation of the image core fails; -1 disables.
void image_fail_allocations_after(long n);
// The most bytes one Image's rows may take, pixels and row addresses (defaults to the machine's
// physical memory); a larger allocation fails before anything is allocated.
void image_set_memory_limit(std::uint64_t bytes);
std::uint64_t image_memory_limit();

// --- bit access for binary rows: bit x is bit 7 - (x mod 8) of byte x / 8 ---

inline std::uint8_t bit_get(const std::uint8_t* row, std::uint32_t x) {
    return (row[x >> 3] & (0x80u >> (x & 7))) ? 255 : 0;
}
inline void bit_set(std::uint8_t* row, std::uint32_t x) {
    row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80u >> (x & 7)));
}
inline void bit_clear(std::uint8_t* row, std::uint32_t x) {
    row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] & ~(0x80u >> (x & 7)));
}
inline void bit_toggle(std::uint8_t* row, std::uint32_t x) {
    row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] ^ (0x80u >> (x & 7)));
}

// 16-bit samples are little-endian; these read and write them without alignment assumptions.
inline std::uint16_t sample16(const std::uint8_t* p, std::size_t index) {
    return static_cast<std::uint16_t>(p[2 * index] | (p[2 * index + 1] << 8));
}
inline void set_sample16(std::uint8_t* p, std::size_t index, std::uint16_t v) {
    p[2 * index] = static_cast<std::uint8_t>(v);
    p[2 * index + 1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace tessaly
