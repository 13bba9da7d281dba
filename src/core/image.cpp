#include "image.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "image_convert.h"
#include "image_internal.h"
#include "runner.h"
#include "tables.h"

namespace tessaly {

// --- the allocator ---

namespace {

std::uint64_t physical_memory() {
    long pages = sysconf(_SC_PHYS_PAGES);
    long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

std::atomic<long> allocations_left{-1};  // -1: no injected failure

// The size of a transparent huge page when the system hands them out on request (madvise
// mode), else 0: off, always on (nothing to ask for), or not offered at all.
std::uintptr_t huge_page_on_request() {
    std::ifstream enabled("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    if (!std::getline(enabled, modes) || modes.find("[madvise]") == std::string::npos) return 0;
    std::ifstream size("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size");
    std::uint64_t bytes = 0;
    if (!(size >> bytes) || bytes == 0 || (bytes & (bytes - 1)) != 0) return 0;
    return static_cast<std::uintptr_t>(bytes);
}

// Asks for huge pages over the whole huge pages inside a fresh chunk. A new picture's first
// touch then faults once per huge page instead of once per 4 KB page, which on virtual machines
// costs more than a blur of the whole picture. Only advice: where it is refused, nothing changes.
void advise_huge_pages(std::uint8_t* chunk, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    static const std::uintptr_t huge = huge_page_on_request();
    if (huge == 0 || bytes < huge) return;
    const auto begin = reinterpret_cast<std::uintptr_t>(chunk);
    const std::uintptr_t from = (begin + huge - 1) & ~(huge - 1);
    const std::uintptr_t to = (begin + bytes) & ~(huge - 1);
    if (from < to) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)chunk, (void)bytes;
#endif
}
std::atomic<std::uint64_t> memory_limit{physical_memory()};

bool allocation_allowed() {
    long n = allocations_left.load(std::memory_order_relaxed);
    while (n >= 0) {
        if (n == 0) return false;
        if (allocations_left.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
            return true;
        }
    }
    return true;
}

}  // namespace

namespace detail {

void* core_malloc(std::size_t bytes) {
    if (bytes == 0 || !allocation_allowed()) return nullptr;
    return std::malloc(bytes);
}

void* core_calloc(std::size_t count, std::size_t size) {
    if (count == 0 || size == 0 || !allocation_allowed()) return nullptr;
    return std::calloc(count, size);
}

void core_free(void* block) {
    std::free(block);
}

}  // namespace detail

using detail::core_calloc;
using detail::core_free;
using detail::core_malloc;

void image_fail_allocations_after(long n) {
    allocations_left.store(n < 0 ? -1 : n, std::memory_order_relaxed);
}

void image_set_memory_limit(std::uint64_t bytes) {
    memory_limit.store(bytes);
}
std::uint64_t image_memory_limit() {
    return memory_limit.load();
}

// --- the record ---

Image::~Image() {
    image_free(*this);
}

namespace {

// Hands every field of from to to and leaves from empty.
void move_fields(Image& to, Image& from) {
    to.type = std::exchange(from.type, 0);
    to.width = std::exchange(from.width, 0);
    to.height = std::exchange(from.height, 0);
    to.row_bytes = std::exchange(from.row_bytes, 0);
    to.dpi = std::exchange(from.dpi, 0.0);
    to.rows = std::exchange(from.rows, nullptr);
    to.chunk_count = std::exchange(from.chunk_count, 0);
    to.rows_per_chunk = std::exchange(from.rows_per_chunk, 0);
    to.chunks = std::exchange(from.chunks, nullptr);
    to.profile = std::exchange(from.profile, nullptr);
    to.profile_size = std::exchange(from.profile_size, 0);
    to.tags = std::exchange(from.tags, nullptr);
}

}  // namespace

Image::Image(Image&& other) noexcept {
    move_fields(*this, other);
}

Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) {
        image_free(*this);
        move_fields(*this, other);
    }
    return *this;
}

const char* image_type_name(std::uint32_t type) {
    switch (type) {
        case image_binary:
            return "1-bit Binary";
        case image_gray8:
            return "8-bit Black and White";
        case image_color24:
            return "24-bit Color";
        case image_gray16:
            return "16-bit Black and White";
        case image_color48:
            return "48-bit Color";
        default:
            return "";
    }
}

std::uint32_t tag_unit_size(std::int32_t field_type) {
    switch (field_type) {
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
            return 4;
        case 5:
        case 10:
            return 8;
        default:
            return 1;
    }
}

namespace detail {

// 64-bit so that widths up to 2^32 - 1 cannot wrap.
std::uint64_t row_bytes_wide(std::uint32_t type, std::uint32_t width) {
    const std::uint64_t w = width;
    switch (type) {
        case image_binary:
            return ((w + 7) / 8 + 3) & ~std::uint64_t{3};
        case image_gray8:
            return (w + 3) & ~std::uint64_t{3};
        case image_color24:
            return (3 * w + 3) & ~std::uint64_t{3};
        case image_gray16:
            return (2 * w + 3) & ~std::uint64_t{3};
        case image_color48:
            return (6 * w + 3) & ~std::uint64_t{3};
        case image_float_gray:
            return 4 * w;
        case image_float_color:
            return 12 * w;
        default:
            return 0;
    }
}

}  // namespace detail

std::uint32_t image_pixel_bytes(std::uint32_t type) {
    switch (type) {
        case image_gray8:
            return 1;
        case image_gray16:
            return 2;
        case image_color24:
            return 3;
        case image_float_gray:
            return 4;
        case image_color48:
            return 6;
        case image_float_color:
            return 12;
        default:
            return 0;
    }
}

std::uint32_t image_row_bytes(std::uint32_t type, std::uint32_t width) {
    std::uint64_t bytes = detail::row_bytes_wide(type, width);
    return bytes > image_chunk_limit ? 0 : static_cast<std::uint32_t>(bytes);
}

void image_init(Image& image) {
    image.type = 0;
    image.width = 0;
    image.height = 0;
    image.row_bytes = 0;
    image.dpi = 0.0;
    image.rows = nullptr;
    image.chunk_count = 0;
    image.rows_per_chunk = 0;
    image.chunks = nullptr;
    image.profile = nullptr;
    image.profile_size = 0;
    image.tags = nullptr;
}

namespace {

void free_tags(MetadataTag* tag) {
    while (tag) {
        MetadataTag* next = tag->next;
        core_free(tag->data);
        core_free(tag);
        tag = next;
    }
}

}  // namespace

void image_free(Image& image) {
    core_free(image.rows);
    if (image.chunks) {
        for (std::int32_t k = 0; k < image.chunk_count; ++k) core_free(image.chunks[k]);
        core_free(image.chunks);
    }
    core_free(image.profile);
    free_tags(image.tags);
    image_init(image);
}

namespace detail {

namespace {

void fill_rows(Image& image, RowLayout layout) {
    const std::uint64_t per_chunk = static_cast<std::uint64_t>(image.rows_per_chunk);
    for (std::uint64_t r = 0; r < image.height; ++r) {
        image.rows[r] = image.chunks[r / per_chunk] + (r % per_chunk) * image.row_bytes;
    }
    if (layout == RowLayout::single_block_top_first) {
        std::reverse(image.rows, image.rows + image.height);
    }
}

std::uint64_t chunk_bytes(const Image& image, std::int32_t k) {
    const std::uint64_t per_chunk = static_cast<std::uint64_t>(image.rows_per_chunk);
    const std::uint64_t first = static_cast<std::uint64_t>(k) * per_chunk;
    return std::min<std::uint64_t>(per_chunk, image.height - first) * image.row_bytes;
}

// Re-allocating in place with the same layout keeps the chunks: the result is the same as
// freeing and allocating again, without handing the memory back and faulting it in anew.
bool reuse_rows(Image& image, std::uint32_t type, std::uint32_t width, std::uint32_t height,
                double dpi, std::uint64_t rows_per_chunk, std::uint64_t chunk_count,
                RowLayout layout, bool zero) {
    if (!image.rows || image.type != type || image.width != width || image.height != height ||
        static_cast<std::uint64_t>(image.rows_per_chunk) != rows_per_chunk ||
        static_cast<std::uint64_t>(image.chunk_count) != chunk_count) {
        return false;
    }
    core_free(image.profile);
    image.profile = nullptr;
    image.profile_size = 0;
    free_tags(image.tags);
    image.tags = nullptr;
    image.dpi = dpi;
    if (zero) {
        for (std::int32_t k = 0; k < image.chunk_count; ++k) {
            std::memset(image.chunks[k], 0, chunk_bytes(image, k));
        }
    }
    fill_rows(image, layout);
    return true;
}

}  // namespace

bool allocate_rows(Image& image, std::uint32_t type, std::uint32_t width, std::uint32_t height,
                   double dpi, RowLayout layout, bool zero) {
    const std::uint64_t row_bytes = row_bytes_wide(type, width);
    std::uint64_t rows_per_chunk = 0;
    std::uint64_t chunk_count = 0;
    if (row_bytes > 0 && row_bytes <= image_chunk_limit && height > 0) {
        if (layout == RowLayout::chunked) {
            rows_per_chunk = image_chunk_limit / row_bytes;
            chunk_count = (height - 1 + rows_per_chunk) / rows_per_chunk;
        } else {
            rows_per_chunk = height;
            chunk_count = 1;
        }
        if (reuse_rows(image, type, width, height, dpi, rows_per_chunk, chunk_count, layout,
                       zero)) {
            return false;
        }
    }

    image_free(image);
    image.type = type;
    image.width = width;
    image.height = height;
    image.dpi = dpi;
    if (row_bytes > image_chunk_limit) {
        image_free(image);
        return true;
    }
    image.row_bytes = static_cast<std::uint32_t>(row_bytes);
    if (row_bytes == 0 || height == 0) return false;

    // Checked before anything is allocated, so an absurd size fails at once instead of after
    // the machine starts paging.
    const std::uint64_t total = (row_bytes + sizeof(std::uint8_t*)) * height;
    constexpr std::uint64_t int32_max = std::numeric_limits<std::int32_t>::max();
    if (total > memory_limit.load() || total > std::numeric_limits<std::size_t>::max() ||
        rows_per_chunk > int32_max || chunk_count > int32_max) {
        image_free(image);
        return true;
    }
    image.rows_per_chunk = static_cast<std::int32_t>(rows_per_chunk);

    image.rows = static_cast<std::uint8_t**>(core_malloc(height * sizeof(std::uint8_t*)));
    image.chunks = static_cast<std::uint8_t**>(core_calloc(chunk_count, sizeof(std::uint8_t*)));
    if (!image.rows || !image.chunks) {
        image_free(image);
        return true;
    }
    image.chunk_count = static_cast<std::int32_t>(chunk_count);
    for (std::int32_t k = 0; k < image.chunk_count; ++k) {
        const std::size_t bytes = chunk_bytes(image, k);
        image.chunks[k] =
            static_cast<std::uint8_t*>(zero ? core_calloc(bytes, 1) : core_malloc(bytes));
        if (!image.chunks[k]) {
            image_free(image);
            return true;
        }
        advise_huge_pages(image.chunks[k], bytes);
    }
    fill_rows(image, layout);
    return false;
}

bool copy_profile(const std::uint8_t* profile, std::uint32_t size, std::uint8_t*& copy) {
    copy = nullptr;
    if (!profile || size == 0) return false;
    copy = static_cast<std::uint8_t*>(core_malloc(size));
    if (!copy) return true;
    std::memcpy(copy, profile, size);
    return false;
}

MetadataTag* new_tag(std::uint32_t tag, std::int32_t field_type, std::uint32_t count,
                     const void* bytes) {
    // count x 8 + 1 stays far inside 64 bits.
    const std::uint64_t size = static_cast<std::uint64_t>(count) * tag_unit_size(field_type);
    if (size + 1 > std::numeric_limits<std::size_t>::max()) return nullptr;
    auto* t = static_cast<MetadataTag*>(core_calloc(1, sizeof(MetadataTag)));
    if (!t) return nullptr;
    t->data = static_cast<std::uint8_t*>(core_malloc(size + 1));
    if (!t->data) {
        core_free(t);
        return nullptr;
    }
    if (bytes && size > 0) {
        std::memcpy(t->data, bytes, size);
    } else {
        std::memset(t->data, 0, size);
    }
    t->data[size] = 0;
    t->tag = tag;
    t->field_type = field_type;
    t->count = count;
    return t;
}

bool copy_tag_list(const MetadataTag* tags, MetadataTag*& head) {
    head = nullptr;
    MetadataTag** tail = &head;
    for (const MetadataTag* t = tags; t; t = t->next) {
        MetadataTag* copy = new_tag(t->tag, t->field_type, t->count, t->data);
        if (!copy) {
            free_tags(head);
            head = nullptr;
            return true;
        }
        *tail = copy;
        tail = &copy->next;
    }
    return false;
}

void append_tags(Image& image, MetadataTag* tags) {
    MetadataTag** tail = &image.tags;
    while (*tail) tail = &(*tail)->next;
    *tail = tags;
}

bool allocate_like(Image& image, std::uint32_t type, std::uint32_t width, std::uint32_t height,
                   double dpi, const std::uint8_t* profile, std::uint32_t profile_size,
                   const MetadataTag* tags, bool zero) {
    // Copies first: the profile or the tags may belong to the Image being re-allocated.
    std::uint8_t* profile_copy;
    MetadataTag* tags_copy;
    if (copy_profile(profile, profile_size, profile_copy)) {
        image_free(image);
        return true;
    }
    if (copy_tag_list(tags, tags_copy)) {
        core_free(profile_copy);
        image_free(image);
        return true;
    }
    if (allocate_rows(image, type, width, height, dpi, RowLayout::chunked, zero)) {
        core_free(profile_copy);
        free_tags(tags_copy);
        return true;
    }
    image.profile = profile_copy;
    image.profile_size = profile_copy ? profile_size : 0;
    image.tags = tags_copy;
    return false;
}

}  // namespace detail

using detail::RowLayout;

bool image_alloc(Image& image, std::uint32_t type, std::uint32_t width, std::uint32_t height,
                 double dpi) {
    return detail::allocate_rows(image, type, width, height, dpi, RowLayout::chunked, true);
}

bool image_alloc_for_overwrite(Image& image, const Image& like) {
    if (detail::allocate_like(image, like.type, like.width, like.height, like.dpi, like.profile,
                              like.profile_size, like.tags, false)) {
        return true;
    }
    const std::size_t used =
        like.type == image_binary
            ? (static_cast<std::size_t>(like.width) + 7) / 8
            : static_cast<std::size_t>(like.width) * image_pixel_bytes(like.type);
    if (used < image.row_bytes) {
        for (std::uint32_t y = 0; y < image.height; ++y) {
            std::memset(image.rows[y] + used, 0, image.row_bytes - used);
        }
    }
    return false;
}

bool image_alloc_with(Image& image, std::uint32_t type, std::uint32_t width, std::uint32_t height,
                      double dpi, const std::uint8_t* profile, std::uint32_t profile_size,
                      const MetadataTag* tags) {
    return detail::allocate_like(image, type, width, height, dpi, profile, profile_size, tags,
                                 true);
}

namespace detail {

ImageFamily image_family(std::uint32_t type) {
    switch (type) {
        case image_color24:
        case image_color48:
        case image_float_color:
            return ImageFamily::color;
        case image_gray8:
        case image_gray16:
        case image_float_gray:
            return ImageFamily::gray;
        default:
            return ImageFamily::other;
    }
}

}  // namespace detail

bool image_alloc_as(const Image& source, std::uint32_t width, std::uint32_t height, Image& target,
                    std::uint32_t type) {
    using detail::ImageFamily;
    const ImageFamily from = detail::image_family(source.type);
    const ImageFamily to = detail::image_family(type);
    ProfileBytes profile{source.profile, source.profile_size};
    if (from == ImageFamily::other || from != to) {
        profile = to == ImageFamily::color ? rgb_working_profile() : gray_working_profile();
    }
    return detail::allocate_like(target, type, width, height, source.dpi, profile.data,
                                 profile.size, source.tags, true);
}

bool image_alloc_as(const Image& source, Image& target, std::uint32_t type) {
    return image_alloc_as(source, source.width, source.height, target, type);
}

bool image_alloc_single_block(Image& image, std::uint32_t type, std::uint32_t width,
                              std::uint32_t height, double dpi, bool top_first) {
    return detail::allocate_rows(
        image, type, width, height, dpi,
        top_first ? RowLayout::single_block_top_first : RowLayout::single_block, true);
}

bool image_copy(const Image& source, Image& target) {
    if (&source == &target) return false;
    // Every byte, padding included, is overwritten below, so the rows need no zeroing.
    if (detail::allocate_like(target, source.type, source.width, source.height, source.dpi,
                              source.profile, source.profile_size, source.tags, false)) {
        return true;
    }
    if (!target.rows) return false;
    const std::size_t bytes = source.row_bytes;
    std::uint8_t result = run_rows(
        [bytes](const Image* in, Image* out, int first, int last, Progress&) -> std::uint8_t {
            for (int r = first; r <= last; ++r) std::memcpy(out->rows[r], in->rows[r], bytes);
            return 0;
        },
        {}, &source, &target);
    if (result != 0) {
        image_free(target);
        return true;
    }
    return false;
}

bool image_add_tag(Image& image, std::uint32_t tag, std::int32_t field_type, std::uint32_t count,
                   const void* bytes) {
    MetadataTag* t = detail::new_tag(tag, field_type, count, bytes);
    if (!t) {
        image_free(image);
        return true;
    }
    detail::append_tags(image, t);
    return false;
}

bool image_set_profile(Image& image, const std::uint8_t* profile, std::uint32_t profile_size) {
    std::uint8_t* copy;
    if (detail::copy_profile(profile, profile_size, copy)) {
        image_free(image);
        return true;
    }
    core_free(image.profile);
    image.profile = copy;
    image.profile_size = copy ? profile_size : 0;
    return false;
}

bool image_copy_tags(Image& image, const MetadataTag* tags) {
    MetadataTag* copies;
    if (detail::copy_tag_list(tags, copies)) {
        image_free(image);
        return true;
    }
    detail::append_tags(image, copies);
    return false;
}

bool image_equal(const Image& a, const Image& b) {
    if (a.type != b.type) return false;
    if (a.empty() && b.empty()) return true;
    if (a.width != b.width || a.height != b.height || a.dpi != b.dpi ||
        a.profile_size != b.profile_size) {
        return false;
    }
    if (a.profile_size != 0 && std::memcmp(a.profile, b.profile, a.profile_size) != 0) {
        return false;
    }
    if (!a.rows || !b.rows || a.row_bytes != b.row_bytes) return a.rows == b.rows;
    const std::size_t bytes = a.row_bytes;
    std::atomic<bool> differ{false};
    // Both Images are only read; the runner's output argument merely carries b's rows.
    run_rows(
        [&differ, bytes, &a](const Image*, Image* other, int first, int last,
                             Progress&) -> std::uint8_t {
            for (int r = first; r <= last; ++r) {
                if (differ.load(std::memory_order_relaxed)) return 0;
                if (std::memcmp(a.rows[r], other->rows[r], bytes) != 0) {
                    differ.store(true, std::memory_order_relaxed);
                    return 0;
                }
            }
            return 0;
        },
        {}, &a, const_cast<Image*>(&b));
    return !differ.load();
}

const Image* gray_view(const Image& image, Image& scratch) {
    if (image.type != image_binary) {
        image_free(scratch);
        return &image;
    }
    if (convert_1_to_2(image, scratch)) return nullptr;
    return &scratch;
}

namespace {

// Copies columns x0 .. x0 + out->width - 1 of input rows y0 onward as 8-bit samples.
std::uint8_t display_rows(const Image* in, Image* out, std::uint32_t x0, std::uint32_t y0,
                          int first, int last) {
    const std::uint32_t w = out->width;
    for (int r = first; r <= last; ++r) {
        const std::uint8_t* src = in->rows[y0 + static_cast<std::uint32_t>(r)];
        std::uint8_t* dst = out->rows[r];
        switch (in->type) {
            case image_binary:
                for (std::uint32_t x = 0; x < w; ++x) dst[x] = bit_get(src, x0 + x);
                break;
            case image_gray8:
                std::memcpy(dst, src + x0, w);
                break;
            case image_color24:
                std::memcpy(dst, src + 3 * std::size_t{x0}, 3 * std::size_t{w});
                break;
            case image_gray16: {
                const auto* s = reinterpret_cast<const std::uint16_t*>(src) + x0;
                for (std::uint32_t x = 0; x < w; ++x) dst[x] = to8_fast(s[x]);
                break;
            }
            case image_color48: {
                const auto* s = reinterpret_cast<const std::uint16_t*>(src) + 3 * std::size_t{x0};
                for (std::size_t i = 0; i < 3 * std::size_t{w}; ++i) dst[i] = to8_fast(s[i]);
                break;
            }
            default:
                return 1;
        }
    }
    return 0;
}

bool display_copy_one(const Image& source, std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
                      std::uint32_t y1, Image& target, const std::uint8_t* profile,
                      std::uint32_t profile_size, const MetadataTag* tags) {
    std::uint32_t type;
    switch (source.type) {
        case image_binary:
        case image_gray8:
        case image_gray16:
            type = image_gray8;
            break;
        case image_color24:
        case image_color48:
            type = image_color24;
            break;
        default:
            image_free(target);
            return true;
    }
    if (!source.rows || x0 > x1 || y0 > y1 || x1 >= source.width || y1 >= source.height) {
        image_free(target);
        return true;
    }
    if (detail::allocate_like(target, type, x1 - x0 + 1, y1 - y0 + 1, source.dpi, profile,
                              profile_size, tags, true)) {
        return true;
    }
    std::uint8_t result =
        run_rows([x0, y0](const Image* in, Image* out, int first, int last,
                          Progress&) { return display_rows(in, out, x0, y0, first, last); },
                 {}, &source, &target);
    if (result != 0) {
        image_free(target);
        return true;
    }
    return false;
}

}  // namespace

bool image_display_copy(const Image& source, std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
                        std::uint32_t y1, Image& target, const Image* transparency_source,
                        Image* transparency_target) {
    if (&source == &target) return true;
    if (display_copy_one(source, x0, y0, x1, y1, target, source.profile, source.profile_size,
                         source.tags)) {
        return true;
    }
    if (transparency_source && !transparency_source->empty() && transparency_target) {
        // The transparency is a gray picture; a color one is a caller's mistake.
        if (detail::image_family(transparency_source->type) == detail::ImageFamily::color) {
            image_free(target);
            image_free(*transparency_target);
            return true;
        }
        if (display_copy_one(*transparency_source, x0, y0, x1, y1, *transparency_target, nullptr, 0,
                             nullptr)) {
            image_free(target);
            return true;
        }
    }
    return false;
}

}  // namespace tessaly
