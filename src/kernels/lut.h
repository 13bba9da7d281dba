// Lookup-table rows for the point filters: samples sent through one table or through a table per
// colour channel, at 8 and 16 bits; the complement of a row; and the HSV value step of 24-bit
// pixels through a table of every (value, channel) pair. Each row function reads and writes
// whole rows of samples, so the workers of the runner call it once per row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaly {

// out[i] = table[in[i]] for n 8-bit samples (in and out may be the same row).
void lut8_row(const std::uint8_t* in, std::uint8_t* out, std::size_t n, const std::uint8_t* table);

// 24-bit pixels, each channel through its own 256-entry table (samples blue, green, red).
void lut8x3_row(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                const std::uint8_t* blue, const std::uint8_t* green, const std::uint8_t* red);

// out[i] = table[in[i]] for n 16-bit samples stored little-endian; 65536-entry table.
void lut16_row(const std::uint8_t* in, std::uint8_t* out, std::size_t n,
               const std::uint16_t* table);

// 48-bit pixels, each channel through its own 65536-entry table.
void lut16x3_row(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                 const std::uint16_t* blue, const std::uint16_t* green, const std::uint16_t* red);

// Every byte complemented: 255 - v for 8-bit samples, 65535 - v for 16-bit ones (both are the
// complement of their bits) and every pixel of a binary row.
void invert_row(const std::uint8_t* in, std::uint8_t* out, std::size_t bytes);

// The HSV value step of 24-bit pixels as one table: scaled[v * 256 + c] is channel c of a pixel
// whose value v becomes table[v], that is c x table[v] / v truncated, or table[v] when v is 0.
// Equal to value_through (kernels/tone.h) for every pixel; 65536 entries.
void value_table8(const std::uint8_t* table, std::uint8_t* scaled);
void value_row8(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                const std::uint8_t* scaled);

// The same step on 48-bit pixels through a 65536-entry table.
void value_row16(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                 const std::uint16_t* table);

// Where a tone table acts on a pixel: every sample (gray pictures, or each colour channel), the
// HSV value (kernels/tone.h value_through) or the HSL lightness (lightness_through8/16).
enum class ToneModel : std::uint8_t { samples, value, lightness };

// Rows of one picture type (8 or 16-bit, gray or colour) through one tone table of that depth,
// prepared once per run and then shared by the workers.
class ToneRows {
  public:
    // table: 256 entries for 8-bit types; table16: 65536 entries for 16-bit types.
    void prepare(std::uint32_t type, ToneModel model, const std::uint8_t* table);
    void prepare(std::uint32_t type, ToneModel model, const std::uint16_t* table16);
    void row(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width) const;

  private:
    std::uint32_t type_ = 0;
    ToneModel model_ = ToneModel::samples;
    std::vector<std::uint8_t> table_;  // 256 entries, or value_table8's 65536
    std::vector<std::uint16_t> table16_;
};

// The saturation mappings of 24-bit pixels (core/color_models.h, HSV or HSL) through one
// 256-entry table, as a table of every (max, min) pair: the new maximum or minimum channel, the
// others following from it exactly. The same pixels as saturation_map_hsv / saturation_map_hsl.
class SaturationRows8 {
  public:
    void prepare(const std::uint8_t* table, bool hsl);
    void row(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) const;

  private:
    bool hsl_ = false;
    std::vector<std::uint8_t> extreme_;  // [max * 256 + min]: new minimum (HSV), maximum (HSL)
};

}  // namespace tessaly
