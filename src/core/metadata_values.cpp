#include "core/metadata_values.h"

namespace tessaly {

namespace {

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

const MetadataTag* find_tag(const MetadataTag* tags, std::uint32_t number) {
    for (const MetadataTag* t = tags; t; t = t->next) {
        if (t->tag == number) return t;
    }
    return nullptr;
}

std::optional<std::string> tag_text(const MetadataTag* tags, std::uint32_t number) {
    const MetadataTag* t = find_tag(tags, number);
    if (!t || t->field_type != 2 || !t->data || t->count == 0) return std::nullopt;
    // Up to the first zero, which some writers leave out of the count.
    std::string s(reinterpret_cast<const char*>(t->data), t->count);
    s = s.c_str();
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n')) s.pop_back();
    if (s.empty()) return std::nullopt;
    return s;
}

// Values are stored little-endian, unit by unit.
std::optional<double> tag_number(const MetadataTag* tags, std::uint32_t number,
                                 std::uint32_t index) {
    const MetadataTag* t = find_tag(tags, number);
    if (!t || !t->data || index >= t->count) return std::nullopt;
    const std::uint8_t* p = t->data + index * tag_unit_size(t->field_type);
    switch (t->field_type) {
        case 1:
        case 7:
            return static_cast<double>(p[0]);
        case 3:
            return static_cast<double>(p[0] | (p[1] << 8));
        case 4:
            return static_cast<double>(le32(p));
        case 9:
            return static_cast<double>(static_cast<std::int32_t>(le32(p)));
        case 5: {
            const std::uint32_t d = le32(p + 4);
            if (d == 0) return std::nullopt;
            return static_cast<double>(le32(p)) / d;
        }
        case 10: {
            const auto n = static_cast<std::int32_t>(le32(p));
            const auto d = static_cast<std::int32_t>(le32(p + 4));
            if (d == 0) return std::nullopt;
            return static_cast<double>(n) / d;
        }
        default:
            return std::nullopt;
    }
}

}  // namespace tessaly
