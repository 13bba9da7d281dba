// Shared by the fuzz targets: messages are dropped so that nothing prints per input.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

}  // namespace tessaly::fuzz
