// Mapping the pages of a freshly allocated picture before a reader writes them. The first touch
// of a fresh page is a fault paid in the kernel, one page at a time, and on some machines (virtual
// ones above all) those faults cost more than decoding the pixels that go there. One request per
// chunk (MADV_POPULATE_WRITE, Linux 5.14) maps the same pages in a fraction of that time; it
// never changes a byte, so it is safe on rows already written, and where the kernel lacks it
// nothing happens.
#pragma once

#include <cstdint>

#include "core/image.h"

namespace tessaly {

// Maps the pages of rows first..last (stored row numbers), whole pages inside those rows only.
void populate_rows(const Image& picture, std::uint32_t first, std::uint32_t last);

}  // namespace tessaly
