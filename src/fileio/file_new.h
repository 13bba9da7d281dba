// File New: a new top level image of a chosen type and size filled with one colour. Like File
// Open it has no parent; an optional reference image (input slot 0) dictates type, size and
// resolution.
#pragma once

#include <cstdint>
#include <string>

#include "framework/module.h"

namespace tessaly {

// The settings; their defaults are declared with the module. Parsing against a node lets its
// reference image (input slot 0) override type, size and resolution.
struct FileNewSettings {
    std::int32_t type;
    std::int32_t nx;
    std::int32_t ny;
    std::int32_t units;  // 0 pixels, 1 inches, 2 millimetres, 3 centimetres
    double dpi;
    Colour color;  // red, green, blue
};

extern const Registered<FileNewSettings> file_new_module;

// The dialog's fields as typed, in the unit of `units`.
struct FileNewFields {
    std::string width;
    std::string height;
    std::string dpi;
    std::int32_t units = 0;
};
// Reads the fields back on OK: true when one is refused (its message shown) or the person
// declined a size question; settings are changed only when every field is valid.
bool file_new_read_fields(const FileNewFields& fields, std::int32_t warn_limit,
                          FileNewSettings& settings);

// The size questions other transformations share (caption "Warning", Yes/No): true when the
// value exceeds the limit and the person answered No.
bool declined_width(std::int64_t width, std::int32_t limit);
bool declined_height(std::int64_t height, std::int32_t limit);
bool declined_width_or_height(std::int64_t width, std::int64_t height, std::int32_t limit);
bool declined_area(double area, std::int32_t limit);

}  // namespace tessaly
