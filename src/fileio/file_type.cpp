#include <atomic>
#include <cstdio>
#include <string_view>

#include "core/format.h"
#include "fileio/image_file.h"

namespace tessaly {

namespace {

constexpr std::string_view raw_extensions[] = {
    ".3fr", ".ari", ".arw", ".bay", ".braw", ".crw", ".cr2", ".cr3", ".cap", ".data", ".dcs",
    ".dcr", ".dng", ".drf", ".eip", ".erf",  ".fff", ".gpr", ".iiq", ".k25", ".kdc",  ".mdc",
    ".mef", ".mos", ".mrw", ".nef", ".nrw",  ".obm", ".orf", ".pef", ".ptx", ".pxn",  ".r3d",
    ".raf", ".raw", ".rwl", ".rw2", ".rwz",  ".sr2", ".srf", ".srw", ".x3f",
};

// Only ASCII letters fold: extensions are ASCII and UTF-8 bytes must stay as they are.
bool ends_with_ignoring_case(std::string_view path, std::string_view suffix) {
    if (path.size() < suffix.size()) return false;
    const std::string_view tail = path.substr(path.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

std::atomic<int> reading_count{0};

class ReadingFlag {
  public:
    ReadingFlag() { ++reading_count; }
    ~ReadingFlag() { --reading_count; }
    ReadingFlag(const ReadingFlag&) = delete;
    ReadingFlag& operator=(const ReadingFlag&) = delete;
};

}  // namespace

bool has_raw_extension(const std::string& path) {
    for (std::string_view ext : raw_extensions) {
        if (ends_with_ignoring_case(path, ext)) return true;
    }
    return false;
}

std::int32_t detect_file_type(const std::string& path) {
    if (ends_with_ignoring_case(path, ".heic") || ends_with_ignoring_case(path, ".heif") ||
        ends_with_ignoring_case(path, ".avif")) {
        return file_heif;
    }
    if (ends_with_ignoring_case(path, ".webp")) return file_webp;
    if (has_raw_extension(path)) return file_raw;

    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return file_unknown;
    unsigned char b[2];
    const std::size_t got = std::fread(b, 1, 2, f);
    std::fclose(f);
    if (got < 2) return file_unknown;
    if ((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M')) return file_tiff;
    if (b[0] == 0xFF && b[1] == 0xD8) return file_jpeg;
    if (b[0] == 'B' && b[1] == 'M') return file_bmp;
    if (b[0] == 0x89 && b[1] == 'P') return file_png;
    if (b[0] == 'G' && b[1] == 'I') return file_gif;
    show_error("Unrecognized image file type: %s", path);
    return file_unknown;
}

bool reading_in_progress() {
    return reading_count.load() > 0;
}

bool read_image_file(const std::string& path, Image& picture, Image& transparency) {
    ReadingFlag flag;
    image_free(picture);
    image_free(transparency);
    bool failed = true;
    switch (detect_file_type(path)) {
        case file_tiff:
            failed = read_tiff_file(path, picture, &transparency);
            break;
        case file_jpeg:
            failed = read_jpeg_file(path, picture);
            break;
        case file_heif:
            failed = read_heif_file(path, picture);
            break;
        case file_webp:
            failed = read_webp_file(path, picture, &transparency);
            break;
        case file_bmp:
            failed = read_bmp_file(path, picture);
            break;
        case file_png:
            failed = read_png_file(path, picture, &transparency);
            break;
        case file_gif:
            failed = read_gif_file(path, picture);
            break;
        case file_raw:
            failed = read_raw_file(path, picture);
            break;
        default:
            break;
    }
    if (failed) {
        image_free(picture);
        image_free(transparency);
        return true;
    }
    if (picture.dpi <= 0.0) picture.dpi = 72.0;
    return false;
}

bool refuse_declared_size(std::uint64_t width, std::uint64_t height) {
    // The formatter's %d prints any integer in full.
    show_error("Image is too large: %d x %d", width, height);
    return true;
}

bool image_too_large(std::uint64_t width, std::uint64_t height, std::uint32_t type,
                     std::uint64_t decoder_bytes) {
    constexpr std::uint64_t side_limit = 1000000;
    if (width > side_limit || height > side_limit) return refuse_declared_size(width, height);
    // Rows are padded to 4 bytes and each has an address, as the allocator counts them.
    const std::uint64_t row =
        type == image_binary ? (width + 7) / 8 : width * std::uint64_t{image_pixel_bytes(type)};
    const std::uint64_t total = (((row + 3) & ~std::uint64_t{3}) + sizeof(void*)) * height;
    const std::uint64_t limit = image_memory_limit();
    if (total > limit || decoder_bytes > limit - total) return refuse_declared_size(width, height);
    return false;
}

bool image_too_large(std::uint64_t width, std::uint64_t height, std::uint32_t type) {
    return image_too_large(width, height, type, 0);
}

bool attach_file_profile(Image& picture, const std::uint8_t* bytes, std::uint64_t size) {
    if (!bytes || size == 0 || size > profile_bytes_max) return false;
    return image_set_profile(picture, bytes, static_cast<std::uint32_t>(size));
}

}  // namespace tessaly
