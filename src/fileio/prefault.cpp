#include "fileio/prefault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

namespace tessaly {

void populate_rows(const Image& picture, std::uint32_t first, std::uint32_t last) {
#ifdef MADV_POPULATE_WRITE
    const long page_size = ::sysconf(_SC_PAGESIZE);
    if (page_size <= 0 || !picture.chunks || picture.rows_per_chunk <= 0 || first > last ||
        last >= picture.height)
        return;
    const auto page = static_cast<std::uintptr_t>(page_size);
    const auto per_chunk = static_cast<std::uint32_t>(picture.rows_per_chunk);
    for (std::uint32_t r = first; r <= last;) {
        // Rows r..end lie in one chunk, one after another.
        const std::uint32_t end = std::min(last, (r / per_chunk + 1) * per_chunk - 1);
        const auto begin = reinterpret_cast<std::uintptr_t>(picture.rows[r]);
        const std::uintptr_t stop = begin + std::uintptr_t{end - r + 1} * picture.row_bytes;
        const std::uintptr_t from = (begin + page - 1) / page * page;
        const std::uintptr_t to = stop / page * page;
        if (from < to &&
            ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE) != 0)
            return;  // not supported here, or no memory: the writes fault the pages in
        r = end + 1;
    }
#else
    (void)picture, (void)first, (void)last;
#endif
}

}  // namespace tessaly
