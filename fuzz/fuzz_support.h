// Shared by the fuzz targets: messages are dropped so that nothing prints per input.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/image.h"
#include "core/interaction.h"

namespace tessaly::fuzz {

class SilentInteraction : public StderrInteraction {
  public:
    Answer message(MessageKind, std::string_view, std::string_view) override { return Answer::ok; }
    Answer ask(std::string_view, std::string_view, Buttons, Answer a) override { return a; }
    int choose(std::string_view, std::string_view, const std::vector<std::string>&) override {
        return -1;
    }
};

// A folder for the inputs a target writes to files: in memory when /dev/shm exists, so that
// writers' fsync costs nothing; removed at exit. The string is never destroyed, because the exit
// handler still needs it.
inline const std::string& scratch_folder() {
    static const std::string* path = [] {
        std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        std::string pattern = (base / "tessaly-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        auto* made = new std::string(pattern);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch_folder(), ec);
        });
        return made;
    }();
    return *path;
}

inline void silence_messages() {
    static SilentInteraction silent;
    set_interaction(&silent);
}

// Writes the input to a file of that name in the scratch folder and reads it with read(path,
// picture), which fails (true) cleanly or delivers a picture of types first .. last whose every
// row can be read: every byte is touched, so that a short row shows up under the address
// sanitizer.
template <class Read>
void read_file_input(const std::uint8_t* data, std::size_t size, const char* name,
                     std::uint32_t first, std::uint32_t last, Read read) {
    silence_messages();
    const std::string input = scratch_folder() + "/" + name;
    std::FILE* f = std::fopen(input.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    Image picture;
    if (read(input, picture)) return;
    if (picture.type < first || picture.type > last || !picture.rows) std::abort();
    unsigned sum = 0;
    for (std::uint32_t r = 0; r < picture.height; ++r)
        for (std::uint32_t i = 0; i < picture.row_bytes; ++i) sum += picture.rows[r][i];
    if (sum == 0xFFFFFFFFu) std::abort();
}

}  // namespace tessaly::fuzz

// A reader's whole fuzz target: the input's file name, the picture types it may deliver and the
// read (an expression of path and picture that is true on failure). A picture's claimed size
// meets a 256 MiB memory limit, so that a claim is refused rather than exhausting the fuzzer.
#define TESSALY_READER_FUZZ_TARGET(NAME, FIRST, LAST, READ)                             \
    extern "C" int LLVMFuzzerInitialize(int*, char***) {                                \
        tessaly::image_set_memory_limit(std::uint64_t{256} << 20);                      \
        return 0;                                                                       \
    }                                                                                   \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
        tessaly::fuzz::read_file_input(                                                 \
            data, size, NAME, tessaly::FIRST, tessaly::LAST,                            \
            [](const std::string& path, tessaly::Image& picture) { return READ; });     \
        return 0;                                                                       \
    }
