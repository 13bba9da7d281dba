// RGB to HSV, HSL and the chroma plane, and back; and the saturation mappings. Arguments are
// red, green, blue in that order. The 16-bit forms work on 0..65535 (hue: a full turn); the 8-bit
// forms work on a 12-bit scale (0..4096) reached through to12 and left through from12.
#pragma once

#include <cstdint>

namespace tessaly {

// to12[v] = (v x 4096 + 127) / 255; from12[v] = (v x 255 + 2048) / 4096.
extern const std::uint16_t* const to12;
extern const std::uint8_t* const from12;

void rgb_to_hsv16(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& h, std::int32_t& s,
                  std::int32_t& v);
void rgb_to_hsl16(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& h, std::int32_t& s,
                  std::int32_t& l);
void hsv16_to_rgb(std::int32_t h, std::int32_t s, std::int32_t v, std::int32_t& r, std::int32_t& g,
                  std::int32_t& b);
void hsl16_to_rgb(std::int32_t h, std::int32_t s, std::int32_t l, std::int32_t& r, std::int32_t& g,
                  std::int32_t& b);

// 8-bit channels in, 12-bit components out (and back).
void rgb_to_hsv8(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& h, std::int32_t& s,
                 std::int32_t& v);
void rgb_to_hsl8(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& h, std::int32_t& s,
                 std::int32_t& l);
void hsv12_to_rgb8(std::int32_t h, std::int32_t s, std::int32_t v, std::int32_t& r, std::int32_t& g,
                   std::int32_t& b);
void hsl12_to_rgb8(std::int32_t h, std::int32_t s, std::int32_t l, std::int32_t& r, std::int32_t& g,
                   std::int32_t& b);

// Chroma plane: cx = rnd((G - B) x sqrt(3)/2), cy = R - (G + B) / 2.
void rgb_to_chroma8(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& cx,
                    std::int32_t& cy);
// double_inputs doubles R, G and B first (keeps the half step of cy).
void rgb_to_chroma16(std::int32_t r, std::int32_t g, std::int32_t b, bool double_inputs,
                     std::int32_t& cx, std::int32_t& cy);
// Scales the channels to a maximum of 65535 first (rounded) and returns that maximum.
void rgb_to_chroma16_normalised(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& cx,
                                std::int32_t& cy, std::int32_t& max);
// Divides the channels by their maximum first (0 when it is 0).
void rgb_to_chroma_float(float r, float g, float b, float& cx, float& cy);
// Rebuilds the color whose largest channel is level from (cx, cy) with the 2/sqrt(3) factor
// 4730/4096, clipping each channel to 0..limit.
void chroma_to_rgb(std::int32_t cx, std::int32_t cy, std::int32_t level, std::int32_t limit,
                   std::int32_t& r, std::int32_t& g, std::int32_t& b);

// Replace the saturation through a 256-entry table, keeping hue and value (HSV) or lightness
// (HSL). limit is 255 for 8-bit channels and 65535 for 16-bit ones.
void saturation_map_hsv(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                        const std::uint8_t table[256]);
void saturation_map_hsl(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                        const std::uint8_t table[256], std::int32_t limit);
// The 16-bit forms: 16-bit channels, saturation on 0..65535 through a 65536-entry table.
void saturation_map_hsv16(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                          const std::uint16_t table[65536]);
void saturation_map_hsl16(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                          const std::uint16_t table[65536]);

}  // namespace tessaly
