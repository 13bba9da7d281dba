#include "kernels/rows.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/runner.h"
#include "core/tables.h"

namespace tessaly {

namespace {

// Every pixel of every row is written by the row functions: no pass over the memory to zero it.
bool alloc_like(const Image& in, Image& out) {
    return image_alloc_for_overwrite(out, in);
}

// Row y of an 8 or 16-bit gray mask as 8-bit values.
const std::uint8_t* mask_row8(const Image& mask, int y, std::vector<std::uint8_t>& buffer) {
    if (mask.type != image_gray16) return mask.rows[y];
    buffer.resize(mask.width);
    for (std::uint32_t x = 0; x < mask.width; ++x) buffer[x] = to8[sample16(mask.rows[y], x)];
    return buffer.data();
}

// Position of a row or column beyond an edge of 0 .. n - 1.
int edge_index(int i, int n, Edge edge) {
    if (i >= 0 && i < n) return i;
    if (edge == Edge::clamp) return std::clamp(i, 0, n - 1);
    if (i < 0) return std::min(-i, n - 1);
    return std::max(2 * n - i - 2, 0);
}

}  // namespace

bool run_point_rows(const PointRows& rows, const Image& in, Image& out, const Image* mask,
                    std::string_view title) {
    if (&in == &out || alloc_like(in, out)) return true;
    if (mask && (mask->width != in.width || mask->height != in.height)) {
        image_free(out);
        return true;
    }
    const std::uint8_t error = run_rows(
        [&](const Image* source, Image* target, int first, int last, Progress& p) -> std::uint8_t {
            std::vector<std::uint8_t> scratch(rows.scratch_bytes), mask_buffer;
            for (int y = first; y <= last; ++y) {
                if (progress_tick(p)) return 1;
                rows.row(source->rows[y], target->rows[y], source->width,
                         mask ? mask_row8(*mask, y, mask_buffer) : nullptr, scratch.data());
            }
            return 0;
        },
        title, &in, &out);
    if (error) image_free(out);
    return error != 0;
}

bool run_area_rows(const AreaRows& rows, const Image& in, Image& out, std::string_view title) {
    const std::size_t bpp = image_pixel_bytes(in.type);
    if (&in == &out || bpp == 0 || rows.radius < 0 || alloc_like(in, out)) return true;
    const int r = rows.radius;
    const int width = static_cast<int>(in.width), height = static_cast<int>(in.height);
    const std::size_t padded = (static_cast<std::size_t>(width) + 2 * r) * bpp;
    const int window = 2 * r + 1;
    const std::uint8_t error = run_rows(
        [&](const Image* source, Image* target, int first, int last, Progress& p) -> std::uint8_t {
            std::vector<std::uint8_t> ring(padded * window), scratch(rows.scratch_bytes);
            std::vector<const std::uint8_t*> window_rows(window);
            auto slot = [&](int y) {
                return ring.data() +
                       static_cast<std::size_t>(((y % window) + window) % window) * padded;
            };
            auto load = [&](int y) {
                std::uint8_t* b = slot(y);
                const std::uint8_t* s = source->rows[edge_index(y, height, rows.edge)];
                std::memcpy(b + r * bpp, s, static_cast<std::size_t>(width) * bpp);
                for (int k = 1; k <= r; ++k) {
                    std::memcpy(b + (r - k) * bpp, s + edge_index(-k, width, rows.edge) * bpp, bpp);
                    std::memcpy(b + (r + width - 1 + k) * bpp,
                                s + edge_index(width - 1 + k, width, rows.edge) * bpp, bpp);
                }
            };
            for (int y = first - r; y < first + r; ++y) load(y);
            for (int y = first; y <= last; ++y) {
                if (progress_tick(p)) return 1;
                load(y + r);
                for (int k = 0; k < window; ++k) window_rows[k] = slot(y - r + k) + r * bpp;
                rows.row(window_rows.data(), target->rows[y], source->width, scratch.data());
            }
            return 0;
        },
        title, &in, &out);
    if (error) image_free(out);
    return error != 0;
}

}  // namespace tessaly
