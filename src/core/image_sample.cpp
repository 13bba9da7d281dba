#include "image_sample.h"

#include <cmath>
#include <cstdint>

#include "tables.h"

namespace tessaly {

namespace {

// One bilinear read of `channels` samples per pixel. read(row, x, c) gives sample c of pixel x;
// blend(a, b, w) moves a toward b by w / 255.
template <int channels, typename Sample, typename Read, typename Blend>
void sample(const Image& image, std::uint32_t type, double x, double y, const Sample* background,
            Sample* out, Read read, Blend blend) {
    auto give_background = [&] {
        for (int c = 0; c < channels; ++c) out[c] = background[c];
    };
    if (image.type != type || !image.rows || image.width == 0) {
        give_background();
        return;
    }
    const std::uint32_t width = image.width;
    const std::uint32_t height = image.height;
    const double last_x = width - 1.0;
    const double last_y = height - 1.0;

    if (x >= 0.0 && x <= last_x && y >= 0.0 && y <= last_y) {
        const auto ix = static_cast<std::uint32_t>(x);
        const auto iy = static_cast<std::uint32_t>(y);
        const auto fx = static_cast<std::uint32_t>((x - ix) * 256.0);
        const auto fy = static_cast<std::uint32_t>((y - iy) * 256.0);
        if (fx == 0 && fy == 0) {
            const std::uint8_t* row = image.rows[iy];
            for (int c = 0; c < channels; ++c) out[c] = read(row, ix, c);
            return;
        }
        // On the last column (or row) the pair ending there is used with full weight; a picture
        // one pixel wide has only that pixel.
        std::uint32_t x0 = ix, x1 = ix + 1, wx = fx;
        if (ix == width - 1) {
            x0 = width >= 2 ? width - 2 : 0;
            x1 = width - 1;
            wx = 255;
        }
        std::uint32_t y0 = iy, y1 = iy + 1, wy = fy;
        if (iy == height - 1) {
            y0 = height >= 2 ? height - 2 : 0;
            y1 = height - 1;
            wy = 255;
        }
        const std::uint8_t* r0 = image.rows[y0];
        const std::uint8_t* r1 = image.rows[y1];
        for (int c = 0; c < channels; ++c) {
            const Sample bottom = blend(read(r0, x0, c), read(r0, x1, c), wx);
            const Sample top = blend(read(r1, x0, c), read(r1, x1, c), wx);
            out[c] = blend(bottom, top, wy);
        }
        return;
    }

    // Also catches NaN.
    if (!(x >= -1.0 && x <= static_cast<double>(width) && y >= -1.0 &&
          y <= static_cast<double>(height))) {
        give_background();
        return;
    }

    // The band one pixel wide around the picture: neighbours outside it are the background.
    const double fx_floor = std::floor(x);
    const double fy_floor = std::floor(y);
    const auto ix = static_cast<std::int64_t>(fx_floor);
    const auto iy = static_cast<std::int64_t>(fy_floor);
    const auto wx = static_cast<std::uint32_t>((x - fx_floor) * 256.0);
    const auto wy = static_cast<std::uint32_t>((y - fy_floor) * 256.0);
    auto inside_x = [&](std::int64_t px) { return px >= 0 && px < std::int64_t{width}; };
    auto inside_y = [&](std::int64_t py) { return py >= 0 && py < std::int64_t{height}; };
    const std::uint8_t* r0 = inside_y(iy) ? image.rows[iy] : nullptr;
    const std::uint8_t* r1 = inside_y(iy + 1) ? image.rows[iy + 1] : nullptr;
    auto pixel = [&](const std::uint8_t* row, std::int64_t px, int c) {
        return row && inside_x(px) ? read(row, static_cast<std::uint32_t>(px), c) : background[c];
    };
    for (int c = 0; c < channels; ++c) {
        const Sample bottom = blend(pixel(r0, ix, c), pixel(r0, ix + 1, c), wx);
        const Sample top = blend(pixel(r1, ix, c), pixel(r1, ix + 1, c), wx);
        out[c] = blend(bottom, top, wy);
    }
}

auto blend_8 = [](std::uint8_t a, std::uint8_t b, std::uint32_t w) {
    return blend8(a, b, static_cast<std::uint8_t>(w));
};
auto blend_16 = [](std::uint16_t a, std::uint16_t b, std::uint32_t w) { return blend16(a, b, w); };

auto read_binary = [](const std::uint8_t* row, std::uint32_t x, int) { return bit_get(row, x); };
auto read_gray8 = [](const std::uint8_t* row, std::uint32_t x, int) { return row[x]; };
auto read_gray16 = [](const std::uint8_t* row, std::uint32_t x, int) { return sample16(row, x); };
auto read_color24 = [](const std::uint8_t* row, std::uint32_t x, int c) {
    return row[3 * std::size_t{x} + static_cast<std::size_t>(c)];
};
auto read_color48 = [](const std::uint8_t* row, std::uint32_t x, int c) {
    return sample16(row, 3 * std::size_t{x} + static_cast<std::size_t>(c));
};

}  // namespace

std::uint8_t image_sample_binary(const Image& image, double x, double y, std::uint8_t background) {
    std::uint8_t out;
    sample<1>(image, image_binary, x, y, &background, &out, read_binary, blend_8);
    return out;
}

std::uint8_t image_sample_gray8(const Image& image, double x, double y, std::uint8_t background) {
    std::uint8_t out;
    sample<1>(image, image_gray8, x, y, &background, &out, read_gray8, blend_8);
    return out;
}

std::uint16_t image_sample_gray16(const Image& image, double x, double y,
                                  std::uint16_t background) {
    std::uint16_t out;
    sample<1>(image, image_gray16, x, y, &background, &out, read_gray16, blend_16);
    return out;
}

void image_sample_color24(const Image& image, double x, double y, const std::uint8_t background[3],
                          std::uint8_t out[3]) {
    sample<3>(image, image_color24, x, y, background, out, read_color24, blend_8);
}

void image_sample_color48(const Image& image, double x, double y, const std::uint16_t background[3],
                          std::uint16_t out[3]) {
    sample<3>(image, image_color48, x, y, background, out, read_color48, blend_16);
}

std::uint8_t image_sample_binary_nearest(const Image& image, double x, double y,
                                         std::uint8_t background) {
    if (image.type != image_binary || !image.rows) return background;
    // std::round takes halves away from zero.
    const double rx = std::round(x);
    const double ry = std::round(y);
    if (!(rx >= 0.0 && rx <= image.width - 1.0 && ry >= 0.0 && ry <= image.height - 1.0)) {
        return background;
    }
    return bit_get(image.rows[static_cast<std::uint32_t>(ry)], static_cast<std::uint32_t>(rx));
}

void image_sample_rgb8(const Image& image, double x, double y, std::uint8_t background_r,
                       std::uint8_t background_g, std::uint8_t background_b, std::uint8_t& r,
                       std::uint8_t& g, std::uint8_t& b) {
    const auto gray_background =
        static_cast<std::uint8_t>(luminance(background_r, background_g, background_b));
    switch (image.type) {
        case image_binary:
            r = g = b = image_sample_binary_nearest(image, x, y, gray_background);
            break;
        case image_gray8:
            r = g = b = image_sample_gray8(image, x, y, gray_background);
            break;
        case image_color24: {
            const std::uint8_t background[3] = {background_b, background_g, background_r};
            std::uint8_t out[3];
            image_sample_color24(image, x, y, background, out);
            b = out[0];
            g = out[1];
            r = out[2];
            break;
        }
        case image_gray16:
            // The background goes in unscaled, as if it were on the 16-bit scale.
            r = g = b = to8[image_sample_gray16(image, x, y, gray_background)];
            break;
        case image_color48: {
            const std::uint16_t background[3] = {background_b, background_g, background_r};
            std::uint16_t out[3];
            image_sample_color48(image, x, y, background, out);
            b = to8[out[0]];
            g = to8[out[1]];
            r = to8[out[2]];
            break;
        }
        default:
            break;
    }
}

}  // namespace tessaly
