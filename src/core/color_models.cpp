#include "color_models.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "numeric.h"

namespace tessaly {

namespace {

constexpr std::array<std::uint16_t, 256> make_to12() {
    std::array<std::uint16_t, 256> t{};
    for (std::uint32_t v = 0; v < 256; ++v)
        t[v] = static_cast<std::uint16_t>((v * 4096 + 127) / 255);
    return t;
}

constexpr std::array<std::uint8_t, 4097> make_from12() {
    std::array<std::uint8_t, 4097> t{};
    for (std::uint32_t v = 0; v <= 4096; ++v)
        t[v] = static_cast<std::uint8_t>((v * 255 + 2048) / 4096);
    return t;
}

constexpr auto to12_table = make_to12();
constexpr auto from12_table = make_from12();

constexpr double half_root3 = 0.86602540378444;

// Scales of the two integer models: a full turn (and full saturation, value, lightness) and the
// largest lightness that still counts as the dark half.
struct Scale {
    std::int64_t full;
    std::int64_t half;
};
constexpr Scale scale16{65535, 32767};
constexpr Scale scale12{4096, 2048};

// The hexagonal hue of a non-gray color. With R the maximum and G = B, the "B minimum" case is
// taken so that pure red has hue 0.
std::int64_t hue_of(std::int64_t r, std::int64_t g, std::int64_t b, std::int64_t full) {
    if (r >= g && r >= b) {
        if (b <= g) return (full - (r - g) * full / (r - b)) / 6;
        return (5 * full + (r - b) * full / (r - g)) / 6;
    }
    if (g >= b) {
        if (r <= b) return (3 * full - (g - b) * full / (g - r)) / 6;
        return (full + (g - r) * full / (g - b)) / 6;
    }
    if (g <= r) return (5 * full - (b - r) * full / (b - g)) / 6;
    return (3 * full + (b - g) * full / (b - r)) / 6;
}

void to_hsv(std::int64_t r, std::int64_t g, std::int64_t b, Scale sc, std::int32_t& h,
            std::int32_t& s, std::int32_t& v) {
    const std::int64_t max = std::max({r, g, b}), min = std::min({r, g, b}), delta = max - min;
    v = static_cast<std::int32_t>(max);
    if (max == 0 || delta == 0) {
        h = s = 0;
        return;
    }
    s = static_cast<std::int32_t>(delta * sc.full / max);
    h = static_cast<std::int32_t>(hue_of(r, g, b, sc.full));
}

void to_hsl(std::int64_t r, std::int64_t g, std::int64_t b, Scale sc, std::int32_t& h,
            std::int32_t& s, std::int32_t& l) {
    const std::int64_t max = std::max({r, g, b}), min = std::min({r, g, b}), delta = max - min;
    l = static_cast<std::int32_t>((max + min) / 2);
    if (delta == 0) {
        h = s = 0;
        return;
    }
    const std::int64_t denominator = l <= sc.half ? max + min : 2 * sc.full - max - min;
    s = static_cast<std::int32_t>(delta * sc.full / denominator);
    h = static_cast<std::int32_t>(hue_of(r, g, b, sc.full));
}

// The forward hue is floor(floor(P) / 6) or floor(ceil(P) / 6) of the continuous position P
// (sector x full + offset), so P lies within (6H - 1, 6H + 6); its centre 6H + 2.5 keeps the
// rebuilt middle channel as close as the hue's resolution allows.
void from_hue(std::int64_t h, std::int64_t max, std::int64_t min, Scale sc, std::int64_t& r,
              std::int64_t& g, std::int64_t& b) {
    const double full = static_cast<double>(sc.full);
    h %= sc.full;
    if (h < 0) h += sc.full;
    const double position = 6.0 * static_cast<double>(h) + 2.5;
    int sector = static_cast<int>(position / full);
    if (sector > 5) sector = 5;
    const double fraction = std::min(1.0, position / full - sector);
    const double delta = static_cast<double>(max - min);
    // Even sectors rise from the minimum, odd ones fall from the maximum.
    const std::int64_t mid = sector % 2 == 0
                                 ? min + static_cast<std::int64_t>(fraction * delta + 0.5)
                                 : max - static_cast<std::int64_t>(fraction * delta + 0.5);
    switch (sector) {
        case 0:
            r = max, g = mid, b = min;
            break;
        case 1:
            r = mid, g = max, b = min;
            break;
        case 2:
            r = min, g = max, b = mid;
            break;
        case 3:
            r = min, g = mid, b = max;
            break;
        case 4:
            r = mid, g = min, b = max;
            break;
        default:
            r = max, g = min, b = mid;
            break;
    }
}

void from_hsv(std::int64_t h, std::int64_t s, std::int64_t v, Scale sc, std::int64_t& r,
              std::int64_t& g, std::int64_t& b) {
    v = std::clamp<std::int64_t>(v, 0, sc.full);
    s = std::clamp<std::int64_t>(s, 0, sc.full);
    if (s == 0 || v == 0) {
        r = g = b = v;
        return;
    }
    // floor(delta x full / v) = s has exactly one integer solution, since v <= full.
    const std::int64_t delta = std::min(v, (s * v + sc.full - 1) / sc.full);
    from_hue(h, v, v - delta, sc, r, g, b);
}

void from_hsl(std::int64_t h, std::int64_t s, std::int64_t l, Scale sc, std::int64_t& r,
              std::int64_t& g, std::int64_t& b) {
    const std::int64_t full = sc.full;
    l = std::clamp<std::int64_t>(l, 0, full);
    s = std::clamp<std::int64_t>(s, 0, full);
    // The lightness dropped the low bit of max + min, and the saturation's floor leaves a range
    // of differences: take the consistent pair whose difference is nearest the range's centre.
    std::int64_t best_sum = 2 * l, best_delta = 0;
    double best_distance = -1.0;
    for (std::int64_t sum = 2 * l; sum <= 2 * l + 1 && sum <= 2 * full; ++sum) {
        const std::int64_t den = l <= sc.half ? sum : 2 * full - sum;
        if (den <= 0) continue;
        const std::int64_t lowest = (s * den + full - 1) / full;
        const std::int64_t highest =
            std::min({((s + 1) * den + full - 1) / full - 1, sum, 2 * full - sum});
        const double centre = (static_cast<double>(s) + 0.5) * static_cast<double>(den) / full;
        for (std::int64_t delta = lowest; delta <= highest; ++delta) {
            if ((delta + sum) % 2 != 0) continue;
            double distance = std::fabs(static_cast<double>(delta) - centre);
            if (best_distance < 0.0 || distance < best_distance) {
                best_distance = distance;
                best_sum = sum;
                best_delta = delta;
            }
        }
    }
    if (best_distance < 0.0) {
        // Not a pair the forward conversion makes: the nearest color of that lightness.
        const std::int64_t den = l <= sc.half ? 2 * l : 2 * full - 2 * l;
        best_delta = std::clamp<std::int64_t>(
            static_cast<std::int64_t>(static_cast<double>(s) * den / full + 0.5), 0,
            std::min(2 * l, 2 * full - 2 * l));
        best_delta -= best_delta % 2;
    }
    const std::int64_t max = (best_sum + best_delta) / 2, min = max - best_delta;
    if (best_delta == 0) {
        r = g = b = max;
        return;
    }
    from_hue(h, max, min, sc, r, g, b);
}

void store(std::int64_t r, std::int64_t g, std::int64_t b, std::int32_t& ro, std::int32_t& go,
           std::int32_t& bo) {
    ro = static_cast<std::int32_t>(r);
    go = static_cast<std::int32_t>(g);
    bo = static_cast<std::int32_t>(b);
}

std::int32_t to12_of(std::int32_t v) {
    return to12_table[static_cast<std::size_t>(std::clamp(v, 0, 255))];
}

void store8(std::int64_t r, std::int64_t g, std::int64_t b, std::int32_t& ro, std::int32_t& go,
            std::int32_t& bo) {
    ro = from12_table[static_cast<std::size_t>(std::clamp<std::int64_t>(r, 0, 4096))];
    go = from12_table[static_cast<std::size_t>(std::clamp<std::int64_t>(g, 0, 4096))];
    bo = from12_table[static_cast<std::size_t>(std::clamp<std::int64_t>(b, 0, 4096))];
}

// Indices of the largest, smallest and middle channel (three distinct indices).
void order3(const std::int32_t* c, int& hi, int& lo, int& mid) {
    hi = 0;
    if (c[1] > c[hi]) hi = 1;
    if (c[2] > c[hi]) hi = 2;
    lo = hi == 0 ? 1 : 0;
    for (int i = 0; i < 3; ++i) {
        if (i != hi && c[i] < c[lo]) lo = i;
    }
    mid = 3 - hi - lo;
}

}  // namespace

const std::uint16_t* const to12 = to12_table.data();
const std::uint8_t* const from12 = from12_table.data();

void rgb_to_hsv16(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& h, std::int32_t& s,
                  std::int32_t& v) {
    to_hsv(r, g, b, scale16, h, s, v);
}

void rgb_to_hsl16(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& h, std::int32_t& s,
                  std::int32_t& l) {
    to_hsl(r, g, b, scale16, h, s, l);
}

void hsv16_to_rgb(std::int32_t h, std::int32_t s, std::int32_t v, std::int32_t& r, std::int32_t& g,
                  std::int32_t& b) {
    std::int64_t R, G, B;
    from_hsv(h, s, v, scale16, R, G, B);
    store(R, G, B, r, g, b);
}

void hsl16_to_rgb(std::int32_t h, std::int32_t s, std::int32_t l, std::int32_t& r, std::int32_t& g,
                  std::int32_t& b) {
    std::int64_t R, G, B;
    from_hsl(h, s, l, scale16, R, G, B);
    store(R, G, B, r, g, b);
}

void rgb_to_hsv8(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& h, std::int32_t& s,
                 std::int32_t& v) {
    to_hsv(to12_of(r), to12_of(g), to12_of(b), scale12, h, s, v);
}

void rgb_to_hsl8(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& h, std::int32_t& s,
                 std::int32_t& l) {
    to_hsl(to12_of(r), to12_of(g), to12_of(b), scale12, h, s, l);
}

void hsv12_to_rgb8(std::int32_t h, std::int32_t s, std::int32_t v, std::int32_t& r, std::int32_t& g,
                   std::int32_t& b) {
    std::int64_t R, G, B;
    from_hsv(h, s, v, scale12, R, G, B);
    store8(R, G, B, r, g, b);
}

void hsl12_to_rgb8(std::int32_t h, std::int32_t s, std::int32_t l, std::int32_t& r, std::int32_t& g,
                   std::int32_t& b) {
    std::int64_t R, G, B;
    from_hsl(h, s, l, scale12, R, G, B);
    store8(R, G, B, r, g, b);
}

void rgb_to_chroma8(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& cx,
                    std::int32_t& cy) {
    cx = round_to_int((g - b) * half_root3);
    cy = r - (g + b) / 2;
}

void rgb_to_chroma16(std::int32_t r, std::int32_t g, std::int32_t b, bool double_inputs,
                     std::int32_t& cx, std::int32_t& cy) {
    if (double_inputs) {
        r *= 2, g *= 2, b *= 2;
    }
    cx = round_to_int((g - b) * half_root3);
    cy = r - (g + b) / 2;
}

void rgb_to_chroma16_normalised(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& cx,
                                std::int32_t& cy, std::int32_t& max) {
    max = std::max({r, g, b});
    if (max <= 0) {
        cx = cy = 0;
        return;
    }
    const double factor = 65535.0 / max;
    rgb_to_chroma16(round_to_int(r * factor), round_to_int(g * factor), round_to_int(b * factor),
                    false, cx, cy);
}

void rgb_to_chroma_float(float r, float g, float b, float& cx, float& cy) {
    const float max = std::max({r, g, b});
    if (max > 0.0f) {
        r /= max, g /= max, b /= max;
    } else {
        r = g = b = 0.0f;
    }
    cx = static_cast<float>((g - b) * half_root3);
    cy = r - (g + b) / 2.0f;
}

void chroma_to_rgb(std::int32_t cx, std::int32_t cy, std::int32_t level, std::int32_t limit,
                   std::int32_t& r, std::int32_t& g, std::int32_t& b) {
    // G - B from the scaled horizontal axis, R above the mean of G and B by cy; the gray offset
    // then lifts the largest channel to level.
    const std::int64_t difference = round_to_int(static_cast<double>(cx) * 4730.0 / 4096.0);
    const double half = static_cast<double>(difference) / 2.0;
    const double top = std::max({static_cast<double>(cy), half, -half});
    const double offset = static_cast<double>(level) - top;
    r = std::clamp(round_to_int(offset + cy), 0, limit);
    g = std::clamp(round_to_int(offset + half), 0, limit);
    b = std::clamp(round_to_int(offset - half), 0, limit);
}

namespace {

// The saturation mappings on a table of scale + 1 entries: 255 for the 256-entry tables (any
// channel depth), 65535 for the 65536-entry tables of 16-bit pictures.
template <class T>
void map_hsv(std::int32_t& r, std::int32_t& g, std::int32_t& b, const T* table,
             std::int64_t scale) {
    std::int32_t c[3] = {r, g, b};
    int hi, lo, mid;
    order3(c, hi, lo, mid);
    const std::int64_t max = c[hi], min = c[lo], middle = c[mid];
    if (max <= 0 || max == min) return;  // black and gray have no hue to keep
    const std::int64_t s = std::clamp<std::int64_t>((max - min) * scale / max, 0, scale);
    const std::int64_t new_min = (scale - table[s]) * max / scale;
    const std::int64_t new_mid = max - (max - new_min) * (max - middle) / (max - min);
    c[lo] = static_cast<std::int32_t>(new_min);
    c[mid] = static_cast<std::int32_t>(new_mid);
    r = c[0], g = c[1], b = c[2];
}

template <class T>
void map_hsl(std::int32_t& r, std::int32_t& g, std::int32_t& b, const T* table, std::int64_t scale,
             std::int64_t top) {
    std::int32_t c[3] = {r, g, b};
    int hi, lo, mid;
    order3(c, hi, lo, mid);
    const std::int64_t max = c[hi], min = c[lo], middle = c[mid];
    const std::int64_t sum = max + min;
    if (sum <= 0 || sum >= 2 * top || max == min) return;
    const bool dark = sum <= top;
    const std::int64_t s =
        std::clamp<std::int64_t>((max - min) * scale / (dark ? sum : 2 * top - sum), 0, scale);
    const std::int64_t t = table[s];
    const std::int64_t new_max =
        dark ? (scale + t) * sum / (2 * scale) : (t * 2 * top + (scale - t) * sum) / (2 * scale);
    const std::int64_t new_min = sum - new_max;
    const std::int64_t new_mid = new_max - (new_max - new_min) * (max - middle) / (max - min);
    c[hi] = static_cast<std::int32_t>(new_max);
    c[lo] = static_cast<std::int32_t>(new_min);
    c[mid] = static_cast<std::int32_t>(new_mid);
    r = c[0], g = c[1], b = c[2];
}

}  // namespace

void saturation_map_hsv(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                        const std::uint8_t table[256]) {
    map_hsv(r, g, b, table, 255);
}

void saturation_map_hsl(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                        const std::uint8_t table[256], std::int32_t limit) {
    map_hsl(r, g, b, table, 255, limit);
}

void saturation_map_hsv16(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                          const std::uint16_t table[65536]) {
    map_hsv(r, g, b, table, 65535);
}

void saturation_map_hsl16(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                          const std::uint16_t table[65536]) {
    map_hsl(r, g, b, table, 65535, 65535);
}

}  // namespace tessaly
