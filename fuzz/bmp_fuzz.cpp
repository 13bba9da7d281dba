// BMP files come from anywhere: the reader must take any bytes and either fail cleanly or
// deliver a picture whose every row can be read.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fileio/image_file.h"
#include "fuzz_support.h"

using namespace tessaly;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keeps a claimed gigapixel from exhausting the fuzzer's memory instead of being refused.
    image_set_memory_limit(std::uint64_t{256} << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_messages();
    const std::string input = fuzz::scratch_folder() + "/input.bmp";
    std::FILE* f = std::fopen(input.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);

    Image picture;
    if (!read_bmp_file(input, picture)) {
        if (picture.type < image_binary || picture.type > image_color24 || !picture.rows)
            std::abort();
        // Touch every byte so that a short row shows up under the address sanitizer.
        unsigned sum = 0;
        for (std::uint32_t r = 0; r < picture.height; ++r)
            for (std::uint32_t i = 0; i < picture.row_bytes; ++i) sum += picture.rows[r][i];
        if (sum == 0xFFFFFFFFu) std::abort();
    }
    return 0;
}
