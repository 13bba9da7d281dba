// Mask operations that select pixels of the base image by colour: Color Range (code 7) and Flood
// Fill (code 10), and the colour-range membership they share with the Paint brush and the Color
// Range transformation.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/image.h"
#include "mask_operations.h"
#include "mask_settings.h"

namespace tessaly {

// The base image as one of the four types the selections read (8/16-bit gray, 24/48-bit colour):
// the image itself, or a binary image converted into scratch. nullptr for any other type or when
// the conversion fails.
const Image* selectable_image(const Image& image, Image& scratch);

// Red, green and blue of pixel x of a row as 8-bit values (gray repeated, 16-bit narrowed), for
// an image of one of the four selectable types.
inline std::array<std::int32_t, 3> pixel_colour8(const Image& image, const std::uint8_t* row,
                                                 std::uint32_t x) {
    switch (image.type) {
        case image_gray8:
            return {row[x], row[x], row[x]};
        case image_gray16: {
            const std::int32_t v = narrow16to8(sample16(row, x));
            return {v, v, v};
        }
        case image_color24: {
            const std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
            return {p[2], p[1], p[0]};
        }
        default: {
            const std::size_t i = 3 * static_cast<std::size_t>(x);
            return {narrow16to8(sample16(row, i + 2)), narrow16to8(sample16(row, i + 1)),
                    narrow16to8(sample16(row, i))};
        }
    }
}

// How strongly each pixel belongs to a colour range: one table per channel over the channel's
// value range, the pixel's value being the smallest of its channels' entries.
//
// Channels are H, S, V (colorspace 0), H, S, L (1) or R, G, B (2). 8-bit colour pixels are read
// as 12-bit HSV/HSL (tables of 4097 entries) or as their 8-bit channels (256); 16-bit colour
// pixels through their 16-bit values (65536). Gray pixels use channel 1 on the gray value, with a
// table over the gray value's own range (256 or 65536) whatever the colour space.
class ColorRangeMembership {
  public:
    // Builds the tables for pixels of image_type (gray8, gray16, color24 or color48), valued
    // 0..full (255 or 65535, the mask's scale). true for any other type.
    [[nodiscard]] bool build(const ColorRangeSettings& settings, std::uint32_t image_type,
                             std::uint32_t full);

    // The membership of pixel x of a row of an image of the built type.
    std::uint32_t pixel(const std::uint8_t* row, std::uint32_t x) const {
        switch (type_) {
            case image_gray8:
                return tables_[0][row[x]];
            case image_gray16:
                return tables_[0][sample16(row, x)];
            case image_color24: {
                const std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
                return of_rgb(p[2], p[1], p[0]);
            }
            default:
                return of_rgb(sample16(row, 3 * static_cast<std::size_t>(x) + 2),
                              sample16(row, 3 * static_cast<std::size_t>(x) + 1),
                              sample16(row, 3 * static_cast<std::size_t>(x)));
        }
    }

    // The table entry of channel c (0..2) for a channel value in the table's range.
    std::uint32_t channel(int c, std::uint32_t value) const {
        return tables_[static_cast<std::size_t>(c)][value];
    }
    std::size_t table_size() const { return tables_[0].size(); }

  private:
    std::uint32_t of_rgb(std::int32_t r, std::int32_t g, std::int32_t b) const;

    std::uint32_t type_ = image_empty;
    std::int32_t colorspace_ = 0;
    std::array<std::vector<std::uint16_t>, 3> tables_;
};

// One channel's table: size entries valued 0..full from limits already on the table's scale.
// minw > maxw is a wrapped range (the complement of the band maxw..minw); narrow selects only
// values within band steps of minb.
std::vector<std::uint16_t> color_range_table(std::size_t size, std::uint32_t full,
                                             std::int32_t minb, std::int32_t maxb,
                                             std::int32_t minw, std::int32_t maxw, bool narrow,
                                             std::int32_t band);

// The renderers (MaskRenderer): the selection merged into the mask by the operation's combine
// mode. true on failure, after the operation's message.
bool render_color_range(MaskState& state, const MaskOperation& operation, Image& after);
bool render_flood_fill(MaskState& state, const MaskOperation& operation, Image& after);

}  // namespace tessaly
