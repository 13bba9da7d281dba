// WEBP files come from anywhere: the reader must take any bytes, still or animated, and either
// fail cleanly or deliver a picture and transparency image whose every row can be read, without
// allocating for a canvas the file only claims.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fileio/image_file.h"
#include "fuzz_support.h"

namespace {

// The transparency image, when there is one, has the picture's size.
bool read_webp_with_alpha(const std::string& path, tessaly::Image& picture) {
    tessaly::Image alpha;
    const bool failed = tessaly::read_webp_file(path, picture, &alpha);
    if (!failed && !alpha.empty() &&
        (alpha.width != picture.width || alpha.height != picture.height)) {
        std::abort();
    }
    return failed;
}

}  // namespace

TESSALY_READER_FUZZ_TARGET("input.webp", image_color24, image_color24,
                           read_webp_with_alpha(path, picture))
