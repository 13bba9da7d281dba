// Internals of the image core shared by its own source files; nothing outside src/core uses them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image.h"

namespace tessaly::detail {

// The one allocator of the image core. Every block an Image owns comes from here, so tests can
// make any single allocation fail (image_fail_allocations_after) and check that nothing leaks.
// nullptr on failure, and for a size of 0, which no caller asks for.
void* core_malloc(std::size_t bytes);
void* core_calloc(std::size_t count, std::size_t size);
void core_free(void* block);

// Row size without the chunk limit, in 64 bits so that no width can wrap it.
std::uint64_t row_bytes_wide(std::uint32_t type, std::uint32_t width);

enum class RowLayout { chunked, single_block, single_block_top_first };

// image_free, then the rows of the given layout. zero = false leaves the bytes as malloc gives
// them, for callers that overwrite every byte of every row, padding included.
[[nodiscard]] bool allocate_rows(Image& image, std::uint32_t type, std::uint32_t width,
                                 std::uint32_t height, double dpi, RowLayout layout, bool zero);

// allocate_rows (chunked) with copies of a profile and a tag list, which may be the Image's own.
[[nodiscard]] bool allocate_like(Image& image, std::uint32_t type, std::uint32_t width,
                                 std::uint32_t height, double dpi, const std::uint8_t* profile,
                                 std::uint32_t profile_size, const MetadataTag* tags, bool zero);

enum class ImageFamily { gray, color, other };
// Gray: 2, 4, 6. Color: 3, 5, 7. Binary and the empty type belong to neither.
ImageFamily image_family(std::uint32_t type);

}  // namespace tessaly::detail
