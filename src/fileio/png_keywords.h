// The PNG text keywords that travel as ASCII metadata tags, both ways.
#pragma once

#include <cstdint>

namespace tessaly {

struct PngTextKeyword {
    const char* keyword;
    std::uint32_t tag;
};

inline constexpr PngTextKeyword png_text_keywords[] = {
    {"Title", 800},         {"Author", 315},   {"Description", 270},  {"Copyright", 33432},
    {"Creation Time", 306}, {"Software", 305}, {"Disclaimer", 12288}, {"Warning", 12289},
    {"Source", 271},        {"Comment", 12290},
};

}  // namespace tessaly
