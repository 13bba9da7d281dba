// A minimal little-endian EXIF (TIFF-structured) block for tests of readers that carry EXIF:
// IFD0 with the orientation and the camera make.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/image.h"

namespace tessaly::testing {

// Little-endian TIFF bytes, starting with the "II" 42 header.
struct LittleEndianBlock {
    std::vector<std::uint8_t> b;
    LittleEndianBlock() {
        b.push_back('I');  // one by one: GCC 12 misreads an insert into the empty vector
        b.push_back('I');
        u16(42);
    }
    void u16(std::uint32_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
};

inline std::vector<std::uint8_t> small_exif_block(std::uint16_t orientation,
                                                  const std::string& make) {
    LittleEndianBlock block;
    std::vector<std::uint8_t>& b = block.b;
    auto u16 = [&](std::uint32_t v) { block.u16(v); };
    auto u32 = [&](std::uint32_t v) { block.u32(v); };
    const std::uint32_t text_offset = 8 + 2 + 2 * 12 + 4;
    u32(8);
    u16(2);
    u16(271);  // Make, ASCII, stored after the IFD
    u16(2);
    u32(static_cast<std::uint32_t>(make.size() + 1));
    u32(text_offset);
    u16(274);  // Orientation, SHORT, inline
    u16(3);
    u32(1);
    u16(orientation);
    u16(0);
    u32(0);  // no next IFD
    b.insert(b.end(), make.begin(), make.end());
    b.push_back(0);
    return b;
}

// IFD0 with XResolution and YResolution (num / den) and ResolutionUnit (absent when unit is 0).
inline std::vector<std::uint8_t> resolution_exif_block(std::uint32_t num, std::uint32_t den,
                                                       std::uint16_t unit) {
    LittleEndianBlock block;
    std::vector<std::uint8_t>& b = block.b;
    auto u16 = [&](std::uint32_t v) { block.u16(v); };
    auto u32 = [&](std::uint32_t v) { block.u32(v); };
    const std::uint16_t entries = unit ? 3 : 2;
    const std::uint32_t values = 8 + 2 + 12u * entries + 4;  // both rationals after the IFD
    u32(8);
    u16(entries);
    for (std::uint16_t tag : {282, 283}) {
        u16(tag);
        u16(5);
        u32(1);
        u32(values + (tag == 283 ? 8u : 0u));
    }
    if (unit) {
        u16(296);
        u16(3);
        u32(1);
        u16(unit);
        u16(0);
    }
    u32(0);
    for (int i = 0; i < 2; ++i) {
        u32(num);
        u32(den);
    }
    return b;
}

// The first tag with the number, or null.
inline const MetadataTag* find_tag(const Image& image, std::uint32_t tag) {
    for (const MetadataTag* t = image.tags; t; t = t->next) {
        if (t->tag == tag) return t;
    }
    return nullptr;
}

}  // namespace tessaly::testing
