// What the file reader tests share: numbers and TIFF-structured blocks assembled byte by byte
// (so that tests can also make them wrong), four flat quadrants for the lossy formats, the
// pixels and tags of what was read, and damaged copies of sound files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/fileio_builders.h"
#include "support/peak_memory.h"
#include "support/small_exif.h"

namespace tessaly::testing {

using Bytes = std::vector<std::uint8_t>;

// Writes v as a number of width bytes at b[at].
inline void put_number(Bytes& b, std::size_t at, std::uint64_t v, std::uint32_t width = 4,
                       bool big = false) {
    for (std::uint32_t k = 0; k < width; ++k)
        b[at + k] = static_cast<std::uint8_t>(v >> 8 * (big ? width - 1 - k : k));
}

// The number of width bytes at p.
inline std::uint64_t number_at(const std::uint8_t* p, std::uint32_t width = 4, bool big = false) {
    std::uint64_t v = 0;
    for (std::uint32_t k = 0; k < width; ++k)
        v |= std::uint64_t{p[k]} << 8 * (big ? width - 1 - k : k);
    return v;
}

// An EXIF block behind the "Exif\0\0" of a JPEG APP1 segment.
inline Bytes exif_prefixed(const Bytes& block) {
    Bytes out = {'E', 'x', 'i', 'f', 0, 0};
    out.insert(out.end(), block.begin(), block.end());
    return out;
}

// A TIFF-structured block: the header, then IFDs appended with their values after them.
class Block {
  public:
    explicit Block(bool big) : bytes(2, big ? 'M' : 'I'), big_(big) {
        put(2, 42);
        put(4, 8);
    }

    struct Value {
        std::uint16_t tag, type;
        std::uint32_t count;
        Bytes data;  // already in the block's byte order
    };

    // Numbers of a field type, in the block's order (rationals as pairs).
    Bytes numbers(std::uint32_t width, const std::vector<std::int64_t>& v) const {
        Bytes out(width * v.size());
        for (std::size_t i = 0; i < v.size(); ++i)
            put_number(out, i * width, static_cast<std::uint64_t>(v[i]), width, big_);
        return out;
    }

    // Appends an IFD and returns its offset; values up to 4 bytes sit in the entry.
    std::uint32_t ifd(const std::vector<Value>& entries) {
        const auto at = static_cast<std::uint32_t>(bytes.size());
        put(2, static_cast<std::uint32_t>(entries.size()));
        const std::uint32_t data_at = at + 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
        Bytes tail;
        for (const Value& e : entries) {
            put(2, e.tag);
            put(2, e.type);
            put(4, e.count);
            if (e.data.size() <= 4) {
                bytes.insert(bytes.end(), e.data.begin(), e.data.end());
                bytes.resize(bytes.size() + 4 - e.data.size(), 0);
            } else {
                put(4, data_at + static_cast<std::uint32_t>(tail.size()));
                tail.insert(tail.end(), e.data.begin(), e.data.end());
                if (tail.size() % 2) tail.push_back(0);
            }
        }
        put(4, 0);  // no next IFD
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        return at;
    }

    // Overwrites the value of entry i of the IFD at offset ifd (an offset known only later).
    void patch(std::uint32_t ifd, std::uint32_t i, std::uint32_t v) {
        put_number(bytes, ifd + 2 + 12 * i + 8, v, 4, big_);
    }

    Bytes bytes;

  private:
    void put(std::uint32_t width, std::uint32_t v) {
        bytes.resize(bytes.size() + width);
        put_number(bytes, bytes.size() - width, v, width, big_);
    }
    bool big_;
};

// Four flat quadrants, top-left red, top-right green, bottom-left blue, bottom-right gray: their
// centres survive lossy coding and tell rows, columns and channels apart. Monochrome files use
// the gray levels instead.
using Rgb = std::array<int, 3>;
constexpr Rgb quadrant_colors[4] = {{220, 30, 30}, {30, 200, 40}, {30, 40, 210}, {128, 128, 128}};
constexpr int quadrant_grays[4] = {40, 100, 170, 230};

inline int quadrant_of(int x, int y, int width, int height) {
    return (y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0);
}

using Samples = std::array<std::uint32_t, 3>;

// The samples of pixel (x, y), y from the top: red, green and blue of a color picture (16-bit
// ones as they are), the level three times for a gray one, 0 or 255 for a binary one.
inline Samples pixel_at(const Image& im, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* row = top_row(im, y);
    std::uint32_t v = 0;
    switch (im.type) {
        case image_color24:
            return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
        case image_color48:
            return {sample16(row, 3 * x + 2), sample16(row, 3 * x + 1), sample16(row, 3 * x)};
        case image_binary:
            v = bit_get(row, x);
            break;
        default:
            v = im.type == image_gray16 ? sample16(row, x) : row[x];
    }
    return {v, v, v};
}

// Red, green and blue of a pixel on an 8-bit scale.
inline Rgb rgb_at(const Image& image, std::uint32_t x, std::uint32_t y) {
    const auto p = pixel_at(image, x, y);
    const std::uint32_t d = image.type == image_color48 || image.type == image_gray16 ? 257 : 1;
    return {int((p[0] + d / 2) / d), int((p[1] + d / 2) / d), int((p[2] + d / 2) / d)};
}

// The centre of each quadrant of the picture shows the quadrant color (or gray level, in a gray
// picture) order[q] of the file.
inline void expect_quadrants(const Image& picture, const std::array<int, 4>& order, int tolerance) {
    const std::uint32_t xs[2] = {picture.width / 4, 3 * picture.width / 4};
    const std::uint32_t ys[2] = {picture.height / 4, 3 * picture.height / 4};
    for (int q = 0; q < 4; ++q) {
        const Rgb got = rgb_at(picture, xs[q % 2], ys[q / 2]);
        for (int k = 0; k < 3; ++k) {
            const bool gray = picture.type == image_gray8 || picture.type == image_gray16;
            EXPECT_NEAR(got[k], gray ? quadrant_grays[order[q]] : quadrant_colors[order[q]][k],
                        tolerance)
                << "quadrant " << q << " channel " << k;
        }
    }
}

// Damaged copies of a sound file: its first bytes, for each length kept (each fails with the
// reader's message), and about flips copies with one byte changed, which may still decode but
// otherwise fail with that message (or one starting with it, when prefix).
template <class Read>
void expect_damage_fails(const std::string& path, const Bytes& source,
                         std::initializer_list<std::size_t> kept, std::size_t flips, Read&& read,
                         const std::string& message, bool prefix = false) {
    for (std::size_t keep : kept) {
        put_bytes(path, Bytes(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(keep)));
        EXPECT_TRUE(failed_with(read(path), message)) << "first " << keep << " bytes";
    }
    for (std::size_t at = 0; flips && at < source.size(); at += 1 + source.size() / flips) {
        Bytes damaged = source;
        damaged[at] ^= 0xA5;
        put_bytes(path, damaged);
        const Outcome r = read(path);
        EXPECT_TRUE(!r.failed || failed_with(r, message, prefix)) << "byte " << at;
    }
}

// A read that succeeded without an error message.
inline ::testing::AssertionResult read_cleanly(const Outcome& o) {
    if (o.failed || !o.errors.empty())
        return ::testing::AssertionFailure() << (o.errors.empty() ? "failed" : o.errors[0]);
    return ::testing::AssertionSuccess();
}

// A text tag, "(none)" when the picture has no such tag.
inline std::string tag_text(const Image& im, std::uint32_t tag) {
    const MetadataTag* t = find_tag(im, tag);
    return t ? reinterpret_cast<const char*>(t->data) : "(none)";
}

// The first SHORT of a tag, -1 when the picture has no such tag.
inline int tag_short(const Image& im, std::uint32_t tag) {
    const MetadataTag* t = find_tag(im, tag);
    return t ? sample16(t->data, 0) : -1;
}

}  // namespace tessaly::testing
