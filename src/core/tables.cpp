#include "tables.h"

namespace tessaly {

namespace {

struct To8Table {
    std::uint8_t v[65536];
};
struct Blend8Table {
    std::uint8_t v[256][256];
};

constexpr To8Table make_to8() {
    To8Table t{};
    for (std::uint32_t v = 0; v < 65536; ++v) t.v[v] = to8_value(v);
    return t;
}

constexpr Blend8Table make_blend8() {
    Blend8Table t{};
    for (std::uint32_t d = 0; d < 256; ++d) {
        for (std::uint32_t w = 0; w < 256; ++w) {
            t.v[d][w] = static_cast<std::uint8_t>((d * w + 127) / 255);
        }
    }
    return t;
}

// Built by the compiler: no start-up order to worry about, and read-only from the first thread.
constexpr To8Table to8_values = make_to8();
constexpr Blend8Table blend8_values = make_blend8();

}  // namespace

const std::uint8_t* const to8 = to8_values.v;
const std::uint8_t (*const blend8_table)[256] = blend8_values.v;

}  // namespace tessaly
