// File Open: the transformation every image tree starts with. Its command line holds the file
// list (at most 10000 files) and which file is current; running it reads the current file into
// the node's picture and transparency image. A re-run with the same path and time keeps the
// image; a changed file is read again with a warning and its new time goes into the node's
// command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/module.h"

namespace tessaly {

constexpr int file_open_max_files = 10000;

struct FileOpenEntry {
    std::string path;
    std::string time;  // the last-write time as text, compared as text
    bool selected = true;
};

// The settings; their defaults are declared with the module.
struct FileOpenSettings {
    std::vector<FileOpenEntry> files;
    std::int32_t current = 0;  // index into files
    bool from_default = false;
    bool multiple = false;  // "Multiple Batch"
    std::string prompt;
};

// Parsing fails on more than file_open_max_files files ("Too many files"), a file entry
// without its name, or a current index outside the list.
extern const Registered<FileOpenSettings> file_open_module;

// The stable text of a file's last-write time ("" when the file cannot be examined).
std::string file_time_text(const std::string& path);

}  // namespace tessaly
