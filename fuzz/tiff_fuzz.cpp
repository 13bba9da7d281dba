// TIFF files come from anywhere: the reader must take any bytes and either fail cleanly or
// deliver a picture whose every row can be read, without ever allocating for a size the file
// only claims (libFuzzer's memory limit stops a run that tries).
#include <cstddef>
#include <cstdint>

#include "fileio/image_file.h"
#include "fuzz_support.h"

using namespace tessaly;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    image_set_memory_limit(std::uint64_t{256} << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::read_file_input(data, size, "input.tif", image_binary, image_color48,
                          [](const std::string& path, Image& picture) {
                              return read_tiff_file(path, picture, nullptr);
                          });
    return 0;
}
