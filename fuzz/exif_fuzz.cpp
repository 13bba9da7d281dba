// EXIF blocks come from any file a person opens: the IFD parser must take any bytes without
// reading outside them, and every tag it keeps must be readable to its end (and its terminator).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fileio/exif.h"
#include "fuzz_support.h"

using namespace tessaly;

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
    unsigned sum = 0;
    for (const MetadataTag* t = first.tags; t; t = t->next) {
        const std::size_t n = std::size_t{t->count} * tag_unit_size(t->field_type);
        for (std::size_t i = 0; i <= n; ++i) sum += t->data[i];
    }
    // Keeps the reads from being optimised away.
    if (sum == 0xffffffffu) std::abort();
    return 0;
}
