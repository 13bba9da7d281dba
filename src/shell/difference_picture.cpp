#include "shell/difference_picture.h"

#include <algorithm>
#include <cstdint>

#include "core/image.h"
#include "core/runner.h"

namespace tessaly::shell {

namespace {

bool is_gray(std::uint32_t type) {
    return type == image_binary || type == image_gray8 || type == image_gray16 ||
           type == image_float_gray;
}
bool is_colour(std::uint32_t type) {
    return type == image_color24 || type == image_color48 || type == image_float_color;
}

// Sample i of a row (channel order as stored) on the 16-bit scale.
std::int32_t sample(std::uint32_t type, const std::uint8_t* row, std::uint32_t i) {
    switch (type) {
        case image_binary:
            return bit_get(row, i) * 257;
        case image_gray8:
        case image_color24:
            return row[i] * 257;
        case image_gray16:
        case image_color48:
            return sample16(row, i);
        default: {
            const float v = reinterpret_cast<const float*>(row)[i];
            return static_cast<std::int32_t>(std::clamp(v, 0.0f, 1.0f) * 65535.0f + 0.5f);
        }
    }
}

}  // namespace

QImage difference_picture(const Image& result, const Image& input) {
    const bool gray = is_gray(result.type) && is_gray(input.type);
    const bool colour = is_colour(result.type) && is_colour(input.type);
    if ((!gray && !colour) || !result.has_pixels() || !input.has_pixels() ||
        result.width != input.width || result.height != input.height || result.width == 0 ||
        result.height == 0 || result.width > 1u << 20 || result.height > 1u << 20) {
        return {};
    }
    const int width = static_cast<int>(result.width);
    const int height = static_cast<int>(result.height);
    QImage picture(width, height, QImage::Format_RGB32);
    if (picture.isNull()) return {};
    const std::uint32_t channels = gray ? 1 : 3;
    // A difference on the 16-bit scale to its shown level: 8-bit steps times the gain.
    auto shown = [](std::int32_t a, std::int32_t b) {
        const std::int32_t d = a > b ? a - b : b - a;
        return std::min(255, (d * difference_gain + 128) / 257);
    };
    (void)run_range(
        0,
        [&](int first, int last, Progress&) -> std::uint8_t {
            for (int y = first; y <= last; ++y) {
                const std::uint32_t stored = result.height - 1 - static_cast<std::uint32_t>(y);
                const std::uint8_t* out_row = result.rows[stored];
                const std::uint8_t* in_row = input.rows[stored];
                auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
                for (int x = 0; x < width; ++x) {
                    int level[3];
                    for (std::uint32_t c = 0; c < channels; ++c) {
                        const std::uint32_t i = static_cast<std::uint32_t>(x) * channels + c;
                        level[c] =
                            shown(sample(result.type, out_row, i), sample(input.type, in_row, i));
                    }
                    // Stored blue, green, red.
                    line[x] = gray ? qRgb(level[0], level[0], level[0])
                                   : qRgb(level[2], level[1], level[0]);
                }
            }
            return 0;
        },
        {}, width, height, height, false, false, false);
    return picture;
}

}  // namespace tessaly::shell
