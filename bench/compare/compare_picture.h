// The picture the comparisons work on, the contiguous block the peers take, and how far a
// peer's result is from ours.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/image.h"

namespace tessaly::bench {

// A deterministic picture with smooth areas, edges and fine texture, so no kernel sees constant
// data: gradients, a checkerboard of 37-pixel squares and a hashed noise term.
inline Image make_picture(bool deep, std::uint32_t width, std::uint32_t height) {
    Image image;
    if (image_alloc(image, deep ? image_color48 : image_color24, width, height, 300.0)) {
        std::fprintf(stderr, "compare: out of memory\n");
        std::exit(1);
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = image.rows[y];
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint32_t h = (x * 73856093u) ^ (y * 19349663u);
            h ^= h >> 13;
            h *= 0x5bd1e995u;
            const std::uint32_t noise = (h >> 24) & 31;
            const std::uint32_t square = ((x / 37 + y / 37) & 1) ? 96 : 0;
            const std::uint32_t v[3] = {(x * 255 / width + noise) & 255,
                                        (y * 255 / height + square) & 255,
                                        ((x + y) / 40 + noise + square) & 255};
            for (int c = 0; c < 3; ++c) {
                if (deep) {
                    set_sample16(row, 3 * x + c,
                                 static_cast<std::uint16_t>(v[c] * 257 + (h & 255)));
                } else {
                    row[3 * x + c] = static_cast<std::uint8_t>(v[c]);
                }
            }
        }
    }
    return image;
}

// The peers take one contiguous block; rows in the order we store them.
inline std::vector<std::uint8_t> contiguous(const Image& image, std::size_t pixel_bytes) {
    std::vector<std::uint8_t> block(pixel_bytes * image.width * image.height);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::memcpy(block.data() + pixel_bytes * image.width * y, image.rows[y],
                    pixel_bytes * image.width);
    }
    return block;
}

// Mean absolute difference in 8-bit levels between our 24- or 48-bit result and a peer's block
// of the same layout (rgb: the peer's samples are red, green, blue).
inline double mean_difference(const Image& ours, const std::uint8_t* theirs, bool deep,
                              bool rgb = false) {
    const std::size_t samples = std::size_t{ours.width} * 3;
    double sum = 0.0;
    for (std::uint32_t y = 0; y < ours.height; ++y) {
        for (std::size_t i = 0; i < samples; ++i) {
            const std::size_t j = rgb ? i - i % 3 + (2 - i % 3) : i;
            const std::size_t at = y * samples + j;
            const double a = deep ? sample16(ours.rows[y], i) / 257.0 : ours.rows[y][i];
            const double b = deep ? (theirs[2 * at] | theirs[2 * at + 1] << 8) / 257.0 : theirs[at];
            sum += a > b ? a - b : b - a;
        }
    }
    return sum / (static_cast<double>(samples) * ours.height);
}

// The machine's load averages over 1, 5 and 15 minutes.
inline std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace tessaly::bench
