#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "core/format.h"
#include "core/image_convert.h"
#include "core/text_file.h"
#include "fileio/image_write.h"

namespace tessaly {

namespace {

int append_bytes(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<std::string*>(gif->UserData)
        ->append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
    return length;
}

// A box of the colour cube holding some of the histogram's 15-bit colours.
struct Box {
    std::vector<std::uint32_t> colors;  // 15-bit keys
    std::uint64_t weight = 0;
};

int channel(std::uint32_t key, int c) {
    return static_cast<int>((key >> (10 - 5 * c)) & 31);
}

// Splits the box along its widest channel at the weighted median.
bool split_box(Box& box, const std::vector<std::uint32_t>& histogram, Box& other) {
    if (box.colors.size() < 2) return false;
    int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
    for (std::uint32_t k : box.colors) {
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], channel(k, c));
            hi[c] = std::max(hi[c], channel(k, c));
        }
    }
    int axis = 0;
    for (int c = 1; c < 3; ++c) {
        if (hi[c] - lo[c] > hi[axis] - lo[axis]) axis = c;
    }
    std::sort(box.colors.begin(), box.colors.end(), [axis](std::uint32_t a, std::uint32_t b) {
        return channel(a, axis) < channel(b, axis);
    });
    std::uint64_t half = box.weight / 2, running = 0;
    std::size_t cut = 1;
    for (; cut < box.colors.size(); ++cut) {
        running += histogram[box.colors[cut - 1]];
        if (running >= half) break;
    }
    cut = std::clamp<std::size_t>(cut, 1, box.colors.size() - 1);
    other.colors.assign(box.colors.begin() + static_cast<std::ptrdiff_t>(cut), box.colors.end());
    box.colors.resize(cut);
    box.weight = other.weight = 0;
    for (std::uint32_t k : box.colors) box.weight += histogram[k];
    for (std::uint32_t k : other.colors) other.weight += histogram[k];
    return true;
}

}  // namespace

void quantize_colors(const Image& image, std::vector<std::uint8_t>& palette,
                     std::vector<std::uint8_t>& indexes) {
    const std::uint32_t w = image.width, h = image.height;
    indexes.assign(static_cast<std::size_t>(w) * h, 0);
    palette.clear();
    auto pixel = [&](std::uint32_t x, std::uint32_t y) {
        const std::uint8_t* p = image.rows[h - 1 - y] + 3 * x;
        return static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 |
               p[0];
    };
    // Few colours: an exact palette.
    std::unordered_map<std::uint32_t, std::uint8_t> exact;
    bool few = true;
    for (std::uint32_t y = 0; y < h && few; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint32_t rgb = pixel(x, y);
            auto it = exact.find(rgb);
            if (it == exact.end()) {
                if (exact.size() == 256) {
                    few = false;
                    break;
                }
                it = exact.emplace(rgb, static_cast<std::uint8_t>(exact.size())).first;
                palette.insert(palette.end(), {static_cast<std::uint8_t>(rgb >> 16),
                                               static_cast<std::uint8_t>(rgb >> 8),
                                               static_cast<std::uint8_t>(rgb)});
            }
            indexes[static_cast<std::size_t>(y) * w + x] = it->second;
        }
    }
    if (few) return;

    // Median cut over 5 bits per channel.
    std::vector<std::uint32_t> histogram(32768, 0);
    auto key_of = [](std::uint32_t rgb) {
        return ((rgb >> 19) & 31) << 10 | ((rgb >> 11) & 31) << 5 | ((rgb >> 3) & 31);
    };
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) ++histogram[key_of(pixel(x, y))];
    }
    std::vector<Box> boxes(1);
    for (std::uint32_t k = 0; k < 32768; ++k) {
        if (histogram[k]) {
            boxes[0].colors.push_back(k);
            boxes[0].weight += histogram[k];
        }
    }
    while (boxes.size() < 256) {
        // The heaviest box that can still be split.
        std::size_t pick = boxes.size();
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].colors.size() > 1 &&
                (pick == boxes.size() || boxes[i].weight > boxes[pick].weight)) {
                pick = i;
            }
        }
        if (pick == boxes.size()) break;
        Box other;
        if (!split_box(boxes[pick], histogram, other)) break;
        boxes.push_back(std::move(other));
    }
    palette.clear();
    std::vector<std::uint8_t> lookup(32768, 0);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        std::uint64_t sum[3] = {0, 0, 0};
        for (std::uint32_t k : boxes[i].colors) {
            for (int c = 0; c < 3; ++c)
                sum[c] += std::uint64_t(channel(k, c) * 8 + 4) * histogram[k];
            lookup[k] = static_cast<std::uint8_t>(i);
        }
        for (int c = 0; c < 3; ++c) {
            palette.push_back(
                static_cast<std::uint8_t>(std::min<std::uint64_t>(255, sum[c] / boxes[i].weight)));
        }
    }
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            indexes[static_cast<std::size_t>(y) * w + x] = lookup[key_of(pixel(x, y))];
        }
    }
}

bool write_gif_file(const std::string& path, const Image& source, bool reduce_deep) {
    Image reduced;
    const Image* image = &source;
    if (source.type == image_gray16 || source.type == image_color48) {
        if (!reduce_deep) {
            show_error(source.type == image_gray16
                           ? "Cannot save 16-bit black and white images as a GIF file"
                           : "Cannot save 48-bit color images as a GIF file");
            return true;
        }
        if (source.type == image_gray16 ? convert_4_to_2(source, reduced)
                                        : convert_5_to_3(source, reduced)) {
            return true;
        }
        image = &reduced;
    }
    if (image->type < image_binary || image->type > image_color24) {
        show_error("Cannot save images of this type as a GIF file");
        return true;
    }
    if (!image->has_pixels() || image->width > 65535 || image->height > 65535) return true;
    const std::uint32_t w = image->width, h = image->height;
    std::vector<std::uint8_t> palette, indexes;
    if (image->type == image_color24) {
        quantize_colors(*image, palette, indexes);
    } else {
        const bool binary = image->type == image_binary;
        for (int i = 0; i < (binary ? 2 : 256); ++i) {
            std::uint8_t v = static_cast<std::uint8_t>(binary ? i * 255 : i);
            palette.insert(palette.end(), {v, v, v});
        }
        indexes.resize(static_cast<std::size_t>(w) * h);
        for (std::uint32_t y = 0; y < h; ++y) {
            const std::uint8_t* row = image->rows[h - 1 - y];
            for (std::uint32_t x = 0; x < w; ++x) {
                indexes[static_cast<std::size_t>(y) * w + x] =
                    binary ? (bit_get(row, x) ? 1 : 0) : row[x];
            }
        }
    }
    // giflib wants a power of two entries.
    int entries = 2;
    while (entries * 3 < static_cast<int>(palette.size())) entries *= 2;
    palette.resize(static_cast<std::size_t>(entries) * 3, 0);
    ColorMapObject* map =
        GifMakeMapObject(entries, reinterpret_cast<GifColorType*>(palette.data()));
    if (!map) return true;
    std::string bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, append_bytes, &error);
    bool failed = !gif;
    if (gif) {
        int bits = 1;
        while ((1 << bits) < entries) ++bits;
        failed = EGifPutScreenDesc(gif, static_cast<int>(w), static_cast<int>(h), bits, 0, map) ==
                     GIF_ERROR ||
                 EGifPutImageDesc(gif, 0, 0, static_cast<int>(w), static_cast<int>(h), false,
                                  nullptr) == GIF_ERROR;
        for (std::uint32_t y = 0; y < h && !failed; ++y) {
            failed = EGifPutLine(gif, indexes.data() + static_cast<std::size_t>(y) * w,
                                 static_cast<int>(w)) == GIF_ERROR;
        }
        if (EGifCloseFile(gif, &error) == GIF_ERROR) failed = true;
    }
    GifFreeMapObject(map);
    if (failed) {
        show_error("Error writing GIF file");
        return true;
    }
    return write_file_atomic(path, bytes);
}

}  // namespace tessaly
