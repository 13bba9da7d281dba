// File Open: the transformation every image tree starts with. Its command line holds the file
// list (at most 10000 files) and which file is current; running it reads the current file, and
// re-running it reads again only when the file changed on disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/arguments.h"
#include "framework/node.h"

namespace tessaly {

constexpr int file_open_max_files = 10000;

struct FileOpenEntry {
    std::string path;
    std::string time;  // the last-write time as text, compared as text
    bool selected = true;
};

struct FileOpenSettings {
    std::vector<FileOpenEntry> files;
    std::int32_t current = 0;  // index into files
    bool from_default = false;
    bool multiple = false;  // "Multiple Batch"
    std::string prompt;
};

// The stable text of a file's last-write time ("" when the file cannot be examined).
std::string file_time_text(const std::string& path);

std::string file_open_command_line(const FileOpenSettings& settings);
// true on failure ("Too many files" beyond the limit; a broken line).
bool file_open_parse(const ArgumentList& args, FileOpenSettings& settings);

// Reads the current file into the node's picture and transparency image. A re-run with the
// same path and time keeps the image; a changed file is read again with a warning and its new
// time goes into the node's command line.
std::uint8_t file_open_run_entry(Node* input, Node* node, const ArgumentList& args);

}  // namespace tessaly
