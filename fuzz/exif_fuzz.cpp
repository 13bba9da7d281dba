// EXIF blocks come from any file a person opens: the IFD parser must take any bytes without
// reading outside them, and what it accepts must write and read back stably.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fileio/exif.h"
#include "fuzz_support.h"

using namespace tessaly;

namespace {

bool same_tags(const Image& a, const Image& b) {
    const MetadataTag* s = a.tags;
    const MetadataTag* t = b.tags;
    for (; s && t; s = s->next, t = t->next) {
        if (s->tag != t->tag || s->field_type != t->field_type || s->count != t->count)
            return false;
        const std::size_t n = std::size_t{s->count} * tag_unit_size(s->field_type);
        if (std::memcmp(s->data, t->data, n + 1) != 0) return false;
    }
    return !s && !t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_messages();
    // An exact-size copy, so that any read past the end is caught.
    std::vector<std::uint8_t> input(data, data + size);
    Image first;
    int orientation = 0;
    if (exif_read_block(input.data(), input.size(), first, orientation)) {
        if (first.tags || orientation != 0) std::abort();
        return 0;
    }
    if (orientation < 0 || orientation > 9) std::abort();

    // Writing may move tags between IFDs and drop some, so the first block is a normal form:
    // from there on, reading and writing change nothing.
    std::vector<std::uint8_t> block;
    if (exif_write_block(first, block)) std::abort();
    if (block.empty()) return 0;
    Image second;
    if (exif_read_block(block.data(), block.size(), second, orientation)) std::abort();
    std::vector<std::uint8_t> again;
    if (exif_write_block(second, again) || again != block) std::abort();
    Image third;
    if (exif_read_block(again.data(), again.size(), third, orientation) ||
        !same_tags(second, third)) {
        std::abort();
    }
    return 0;
}
