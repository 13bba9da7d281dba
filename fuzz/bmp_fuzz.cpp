// BMP files come from anywhere: the reader must take any bytes and either fail cleanly or
// deliver a picture whose every row can be read.
#include <cstddef>
#include <cstdint>

#include "fileio/image_file.h"
#include "fuzz_support.h"

using namespace tessaly;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keeps a claimed gigapixel from exhausting the fuzzer's memory instead of being refused.
    image_set_memory_limit(std::uint64_t{256} << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::read_file_input(
        data, size, "input.bmp", image_binary, image_color24,
        [](const std::string& path, Image& picture) { return read_bmp_file(path, picture); });
    return 0;
}
