#include "mask_reshape.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <numbers>

#include "core/format.h"
#include "core/numeric.h"
#include "core/runner.h"
#include "core/tables.h"

namespace tessaly {

namespace {

// Worker results: run_rows hands back the first non-zero one.
constexpr std::uint8_t result_cancelled = 1;
constexpr std::uint8_t result_no_memory = 2;

FilterStatus status_of(std::uint8_t result) {
    if (result == 0) return FilterStatus::done;
    return result == result_cancelled ? FilterStatus::cancelled : FilterStatus::failed;
}

// Worker bodies allocate their own buffers; an exception must not escape a worker thread.
template <typename Body>
std::uint8_t guarded(Body body) {
    try {
        return body();
    } catch (const std::exception&) {  // bad_alloc, or a length no vector can hold
        return result_no_memory;
    }
}

bool is_gray(const Image& image) {
    return (image.type == image_gray8 || image.type == image_gray16) && image.has_pixels();
}

std::uint32_t value_at(const Image& image, const std::uint8_t* row, std::int64_t x) {
    return image.type == image_gray16 ? sample16(row, static_cast<std::size_t>(x))
                                      : row[static_cast<std::size_t>(x)];
}

void set_value(const Image& image, std::uint8_t* row, std::int64_t x, std::uint32_t v) {
    if (image.type == image_gray16) {
        set_sample16(row, static_cast<std::size_t>(x), static_cast<std::uint16_t>(v));
    } else {
        row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(v);
    }
}

std::int64_t clamp_index(std::int64_t i, std::int64_t n) {
    return i < 0 ? 0 : (i >= n ? n - 1 : i);
}

// target gets source's type and size unless it has them already (or is source).
bool prepare_target(const Image& source, Image& target) {
    if (&source == &target) return false;
    if (target.has_pixels() && target.type == source.type && target.width == source.width &&
        target.height == source.height) {
        return false;
    }
    image_free(target);
    return image_alloc(target, source.type, source.width, source.height, source.dpi);
}

FilterStatus copy_status(const Image& source, Image& target) {
    return image_copy(source, target) ? FilterStatus::failed : FilterStatus::done;
}

// Shows message when the filter failed (not when it was cancelled); true unless it finished.
bool renderer_result(FilterStatus status, const char* message) {
    if (status == FilterStatus::failed) show_error("%s", message);
    return status != FilterStatus::done;
}

// --- Feather ---

// Expanding spreads each non-interior pixel's value through the kernel with max. Contracting is
// the same on the inverted mask (full - v), inverted back, so both share this code through flip.
FilterStatus feather_mask(const Image& source, Image& target, const FeatherSettings& settings) {
    if (!is_gray(source) || &source == &target) return FilterStatus::failed;
    if (settings.radius == 0) return copy_status(source, target);
    if (prepare_target(source, target)) return FilterStatus::failed;
    const std::int64_t r =
        settings.radius < 0 ? -static_cast<std::int64_t>(settings.radius) : settings.radius;
    const bool flip = settings.radius < 0;
    const bool wide = source.type == image_gray16;
    const std::uint32_t full = wide ? 65535u : 255u;
    const std::int64_t w = source.width;
    const std::int64_t h = source.height;
    const std::int64_t side = 2 * r + 1;

    std::vector<std::uint8_t> kernel;
    std::vector<std::vector<std::uint32_t>> spreading;  // per row: columns that stamp the kernel
    try {
        kernel = feather_kernel(settings.radius, settings.style, settings.corners);
        spreading.resize(static_cast<std::size_t>(h));
    } catch (const std::exception&) {
        return FilterStatus::failed;
    }

    auto value = [&](std::int64_t x, std::int64_t y) -> std::uint32_t {
        const std::uint32_t v = value_at(source, source.rows[y], x);
        return flip ? full - v : v;
    };
    // Full white with full white left, right, above and below; the image edge counts as equal.
    auto interior = [&](std::int64_t x, std::int64_t y) {
        return value(x, y) == full && (x == 0 || value(x - 1, y) == full) &&
               (x == w - 1 || value(x + 1, y) == full) && (y == 0 || value(x, y - 1) == full) &&
               (y == h - 1 || value(x, y + 1) == full);
    };

    std::uint8_t result = run_rows(
        [&](const Image*, Image*, int first, int last, Progress& progress) {
            return guarded([&]() -> std::uint8_t {
                for (int y = first; y <= last; ++y) {
                    if (progress_tick(progress)) return result_cancelled;
                    auto& list = spreading[static_cast<std::size_t>(y)];
                    for (std::int64_t x = 0; x < w; ++x) {
                        if (value(x, y) != 0 && !interior(x, y)) {
                            list.push_back(static_cast<std::uint32_t>(x));
                        }
                    }
                }
                return 0;
            });
        },
        "Feather Mask", &source, &target);
    if (result != 0) return status_of(result);

    // Each output row gathers the stamps of the rows within r of it, so rows stay independent.
    result = run_rows(
        [&](const Image*, Image* out, int first, int last, Progress& progress) {
            return guarded([&]() -> std::uint8_t {
                std::vector<std::uint32_t> line(static_cast<std::size_t>(w));
                for (int y = first; y <= last; ++y) {
                    if (progress_tick(progress)) return result_cancelled;
                    for (std::int64_t x = 0; x < w; ++x) {
                        line[static_cast<std::size_t>(x)] = interior(x, y) ? full : 0;
                    }
                    const std::int64_t y0 = std::max<std::int64_t>(0, y - r);
                    const std::int64_t y1 = std::min<std::int64_t>(h - 1, y + r);
                    for (std::int64_t sy = y0; sy <= y1; ++sy) {
                        // The kernel is symmetric, so the sign of the row offset does not matter.
                        const std::uint8_t* k = kernel.data() + (sy - y + r) * side;
                        for (std::uint32_t sx : spreading[static_cast<std::size_t>(sy)]) {
                            const std::uint32_t v = value(sx, sy);
                            const std::int64_t i0 = std::max<std::int64_t>(0, r - sx);
                            const std::int64_t i1 = std::min<std::int64_t>(2 * r, w - 1 - sx + r);
                            std::uint32_t* dst = line.data() + (sx + i0 - r);
                            for (std::int64_t i = i0; i <= i1; ++i) {
                                // 8-bit: round(K v / 255) from the mixing table (K when v is
                                // 255); 16-bit: trunc(K v / 255), which is K x 257 at 65535.
                                const std::uint32_t c =
                                    wide ? k[i] * v / 255 : blend8_table[k[i]][v];
                                std::uint32_t& o = dst[i - i0];
                                if (c > o) o = c;
                            }
                        }
                    }
                    std::uint8_t* row = out->rows[y];
                    for (std::int64_t x = 0; x < w; ++x) {
                        const std::uint32_t v = line[static_cast<std::size_t>(x)];
                        set_value(*out, row, x, flip ? full - v : v);
                    }
                }
                return 0;
            });
        },
        "Feather Mask", &source, &target);
    return status_of(result);
}

// --- Blur ---

constexpr std::int64_t blur_radius_limit = 1 << 20;

// Row pass: the triangular filter along each row, written on the 16-bit scale so that the
// column pass loses almost nothing to rounding.
std::uint8_t blur_rows(const Image& source, Image& rows_done, std::int64_t r, Progress& progress,
                       int first, int last) {
    const std::int64_t w = source.width;
    const std::int64_t scale = source.type == image_gray16 ? 1 : 257;
    const std::int64_t area = (2 * r + 1) * (2 * r + 1);
    const std::int64_t pad = 2 * r + 1;
    // The row with the nearest edge pixel repeated pad times on each side.
    std::vector<std::int64_t> line(static_cast<std::size_t>(w + 2 * pad));
    auto at = [&](std::int64_t i) { return line[static_cast<std::size_t>(i + pad)]; };
    for (int y = first; y <= last; ++y) {
        if (progress_tick(progress)) return result_cancelled;
        const std::uint8_t* src = source.rows[y];
        for (std::int64_t i = -pad; i < w + pad; ++i) {
            line[static_cast<std::size_t>(i + pad)] =
                value_at(source, src, clamp_index(i, w)) * scale;
        }
        // s1(j) = sum of the values j - r .. j + r; s2(x) = sum of s1(x - r .. x + r).
        std::int64_t trail = 0;  // s1(-r)
        for (std::int64_t i = -2 * r; i <= 0; ++i) trail += at(i);
        std::int64_t lead = trail;
        std::int64_t s2 = 0;
        for (std::int64_t j = -r; j <= r; ++j) {
            s2 += lead;
            if (j < r) lead += at(j + r + 1) - at(j - r);
        }
        trail += at(-2 * r - 1) - at(0);  // s1(-r - 1); lead is s1(r)
        std::uint8_t* dst = rows_done.rows[y];
        for (std::int64_t x = 0; x < w; ++x) {
            set_sample16(dst, static_cast<std::size_t>(x),
                         static_cast<std::uint16_t>((s2 + area / 2) / area));
            if (x + 1 < w) {
                lead += at(x + 2 * r + 1) - at(x);
                trail += at(x) - at(x - 2 * r - 1);
                s2 += lead - trail;
            }
        }
    }
    return 0;
}

// Column pass over output rows first..last: the same running sums, kept per column, slide down
// the rows so that every worker reads whole rows.
std::uint8_t blur_columns(const Image& rows_done, Image& target, std::int64_t r, Progress& progress,
                          int first, int last) {
    const std::int64_t w = rows_done.width;
    const std::int64_t h = rows_done.height;
    const std::int64_t area = (2 * r + 1) * (2 * r + 1) * (target.type == image_gray16 ? 1 : 257);
    const auto n = static_cast<std::size_t>(w);
    std::vector<std::int64_t> lead(n), trail(n), s2(n, 0);
    auto row = [&](std::int64_t j) { return rows_done.rows[clamp_index(j, h)]; };
    // sums += row a - row b.
    auto slide = [&](std::vector<std::int64_t>& sums, std::int64_t a, std::int64_t b) {
        const std::uint8_t* ra = row(a);
        const std::uint8_t* rb = row(b);
        for (std::size_t x = 0; x < n; ++x) {
            sums[x] += static_cast<std::int64_t>(sample16(ra, x)) - sample16(rb, x);
        }
    };
    const std::int64_t y0 = first;
    std::fill(trail.begin(), trail.end(), 0);
    for (std::int64_t i = y0 - 2 * r; i <= y0; ++i) {
        const std::uint8_t* ri = row(i);
        for (std::size_t x = 0; x < n; ++x) trail[x] += sample16(ri, x);
    }
    lead = trail;  // s1(y0 - r)
    for (std::int64_t j = y0 - r; j <= y0 + r; ++j) {
        for (std::size_t x = 0; x < n; ++x) s2[x] += lead[x];
        if (j < y0 + r) slide(lead, j + r + 1, j - r);
    }
    slide(trail, y0 - 2 * r - 1, y0);  // s1(y0 - r - 1); lead is s1(y0 + r)
    for (std::int64_t y = y0; y <= last; ++y) {
        if (progress_tick(progress)) return result_cancelled;
        std::uint8_t* dst = target.rows[y];
        for (std::size_t x = 0; x < n; ++x) {
            set_value(target, dst, static_cast<std::int64_t>(x),
                      static_cast<std::uint32_t>((s2[x] + area / 2) / area));
        }
        if (y < last) {
            slide(lead, y + 2 * r + 1, y);
            slide(trail, y, y - 2 * r - 1);
            for (std::size_t x = 0; x < n; ++x) s2[x] += lead[x] - trail[x];
        }
    }
    return 0;
}

// --- Median ---

constexpr std::int64_t median_radius_limit = 32767;

// A value histogram that finds the k-th smallest value by moving from its previous answer, with
// block counts to skip empty stretches (which matters for 65536 bins).
class RankHistogram {
  public:
    explicit RankHistogram(bool wide)
        : shift_(wide ? 8 : 4),
          fine_(wide ? 65536u : 256u, 0),
          blocks_(fine_.size() >> shift_, 0) {}

    void add(std::uint32_t v) {
        ++fine_[v];
        ++blocks_[v >> shift_];
        if (v < m_) ++below_;
    }
    void remove(std::uint32_t v) {
        --fine_[v];
        --blocks_[v >> shift_];
        if (v < m_) --below_;
    }
    // The k-th smallest (from 0) of the values held; k must be less than their count.
    std::uint32_t kth(std::uint32_t k) {
        const std::uint32_t block = 1u << shift_;
        while (below_ > k) {
            if ((m_ & (block - 1)) == 0) {
                while (blocks_[(m_ >> shift_) - 1] == 0) m_ -= block;
            }
            --m_;
            below_ -= fine_[m_];
        }
        while (below_ + fine_[m_] <= k) {
            below_ += fine_[m_];
            ++m_;
            if ((m_ & (block - 1)) == 0) {
                while (blocks_[m_ >> shift_] == 0) m_ += block;
            }
        }
        return m_;
    }

  private:
    std::uint32_t shift_;
    std::vector<std::uint32_t> fine_;
    std::vector<std::uint32_t> blocks_;
    std::uint32_t m_ = 0;      // the last answer
    std::uint32_t below_ = 0;  // how many values are below m_
};

std::uint8_t median_rows(const Image& source, Image& target, std::int64_t r, std::uint32_t level,
                         Progress& progress, int first, int last) {
    const std::int64_t w = source.width;
    const std::int64_t h = source.height;
    const std::int64_t side = 2 * r + 1;
    const auto k = static_cast<std::uint32_t>(side * side / 2);
    RankHistogram histogram(source.type == image_gray16);
    std::vector<const std::uint8_t*> window(static_cast<std::size_t>(side));
    auto add_column = [&](std::int64_t x) {
        const std::int64_t c = clamp_index(x, w);
        for (const std::uint8_t* p : window) histogram.add(value_at(source, p, c));
    };
    auto remove_column = [&](std::int64_t x) {
        const std::int64_t c = clamp_index(x, w);
        for (const std::uint8_t* p : window) histogram.remove(value_at(source, p, c));
    };
    for (int y = first; y <= last; ++y) {
        if (progress_tick(progress)) return result_cancelled;
        for (std::int64_t d = -r; d <= r; ++d) {
            window[static_cast<std::size_t>(d + r)] = source.rows[clamp_index(y + d, h)];
        }
        for (std::int64_t x = -r; x <= r; ++x) add_column(x);
        const std::uint8_t* src = source.rows[y];
        std::uint8_t* dst = target.rows[y];
        for (std::int64_t x = 0; x < w; ++x) {
            const std::uint32_t median = histogram.kth(k);
            const std::uint32_t own = value_at(source, src, x);
            set_value(target, dst, x, (own * (1024 - level) + median * level + 512) >> 10);
            if (x + 1 < w) {
                remove_column(x - r);
                add_column(x + r + 1);
            }
        }
        for (std::int64_t x = w - 1 - r; x <= w - 1 + r; ++x) remove_column(x);
    }
    return 0;
}

// --- Remove Pinholes ---

struct RingStats {
    std::uint8_t min = 0;
    std::uint8_t max = 0;
    std::uint8_t mean = 0;
};

// One centre row's ring statistics, and over the centres within size to either side the
// smallest maximum and the largest minimum: a pixel that does not pass those cannot be replaced
// by any centre of the row, which spares most pixels the search.
struct CentreRow {
    std::vector<RingStats> rings;
    std::vector<std::uint8_t> lowest_max;
    std::vector<std::uint8_t> highest_min;
};

// Centres are visited in reading order of the picture (top row first, left to right), each
// replacing the pixels of its square that stand out from its ring by the ring's mean. The rings
// and the tested values are read from the mask as it was, so rows stay independent; where
// several centres replace one pixel, the one visited last wins.
FilterStatus remove_pinholes(const Image& source, Image& target, const PinholeSettings& settings) {
    if (!is_gray(source) || &source == &target) return FilterStatus::failed;
    if (image_copy(source, target)) return FilterStatus::failed;
    const std::int64_t size = settings.size;
    if (size <= 0) return FilterStatus::done;
    const std::int64_t d = size + 1;  // the ring's distance from the centre
    const std::int64_t w = source.width;
    const std::int64_t h = source.height;
    if (w < 2 * d + 1 || h < 2 * d + 1) return FilterStatus::done;  // no centre fits
    const bool wide = source.type == image_gray16;
    const bool white = settings.removal != 1;
    const bool black = settings.removal != 0;
    const std::int64_t threshold = settings.threshold;
    const std::int64_t ring_count = 8 * d;
    const std::int64_t span = 2 * size + 1;  // centre rows that reach one output row

    // Rings and tests work on 8-bit values: a 16-bit mask is narrowed once.
    Image narrowed;
    if (wide) {
        if (image_alloc(narrowed, image_gray8, source.width, source.height, source.dpi)) {
            return FilterStatus::failed;
        }
        (void)run_rows(
            [&](const Image* in, Image* out, int first, int last, Progress&) -> std::uint8_t {
                for (int y = first; y <= last; ++y) {
                    for (std::int64_t x = 0; x < w; ++x) {
                        out->rows[y][x] =
                            to8_fast(sample16(in->rows[y], static_cast<std::size_t>(x)));
                    }
                }
                return 0;
            },
            "", &source, &narrowed);
    }
    const Image& values = wide ? narrowed : source;

    std::uint8_t result = run_rows(
        [&](const Image*, Image* out, int first, int last, Progress& progress) {
            return guarded([&]() -> std::uint8_t {
                const auto n = static_cast<std::size_t>(w);
                std::vector<CentreRow> centre_rows(static_cast<std::size_t>(span));
                for (CentreRow& c : centre_rows) {
                    c.rings.resize(n);
                    c.lowest_max.resize(n);
                    c.highest_min.resize(n);
                }
                auto slot = [&](std::int64_t cy) -> CentreRow& {
                    return centre_rows[static_cast<std::size_t>(cy % span)];
                };
                const std::int64_t first_cx = d;
                const std::int64_t last_cx = w - 1 - d;
                auto measure_row = [&](std::int64_t cy) {
                    if (cy < d || cy > h - 1 - d) return;
                    CentreRow& c = slot(cy);
                    const std::uint8_t* top = values.rows[cy - d];
                    const std::uint8_t* bottom = values.rows[cy + d];
                    for (std::int64_t cx = first_cx; cx <= last_cx; ++cx) {
                        std::uint32_t lo = 255;
                        std::uint32_t hi = 0;
                        std::uint32_t sum = 0;
                        auto take = [&](std::uint32_t v) {
                            lo = std::min(lo, v);
                            hi = std::max(hi, v);
                            sum += v;
                        };
                        for (std::int64_t x = cx - d; x <= cx + d; ++x) {
                            take(top[x]);
                            take(bottom[x]);
                        }
                        for (std::int64_t y = cy - d + 1; y <= cy + d - 1; ++y) {
                            take(values.rows[y][cx - d]);
                            take(values.rows[y][cx + d]);
                        }
                        c.rings[static_cast<std::size_t>(cx)] = {
                            static_cast<std::uint8_t>(lo), static_cast<std::uint8_t>(hi),
                            static_cast<std::uint8_t>(sum /
                                                      static_cast<std::uint32_t>(ring_count))};
                    }
                    for (std::int64_t x = std::max<std::int64_t>(0, first_cx - size);
                         x <= std::min(w - 1, last_cx + size); ++x) {
                        std::uint8_t lowest = 255;
                        std::uint8_t highest = 0;
                        for (std::int64_t cx = std::max(x - size, first_cx);
                             cx <= std::min(x + size, last_cx); ++cx) {
                            lowest = std::min(lowest, c.rings[static_cast<std::size_t>(cx)].max);
                            highest = std::max(highest, c.rings[static_cast<std::size_t>(cx)].min);
                        }
                        c.lowest_max[static_cast<std::size_t>(x)] = lowest;
                        c.highest_min[static_cast<std::size_t>(x)] = highest;
                    }
                };
                for (std::int64_t cy = first - size; cy < first + size; ++cy) measure_row(cy);
                for (std::int64_t y = first; y <= last; ++y) {
                    if (progress_tick(progress)) return result_cancelled;
                    measure_row(y + size);
                    const std::int64_t cy0 = std::max(y - size, d);
                    const std::int64_t cy1 = std::min(y + size, h - 1 - d);
                    if (cy0 > cy1) continue;
                    const std::uint8_t* own = values.rows[y];
                    std::uint8_t* dst = out->rows[y];
                    const std::int64_t x0 = std::max<std::int64_t>(0, first_cx - size);
                    const std::int64_t x1 = std::min(w - 1, last_cx + size);
                    for (std::int64_t x = x0; x <= x1; ++x) {
                        const auto i = static_cast<std::size_t>(x);
                        const std::int64_t v = own[x];
                        std::int64_t lowest = 255;
                        std::int64_t highest = 0;
                        for (std::int64_t cy = cy0; cy <= cy1; ++cy) {
                            lowest = std::min<std::int64_t>(lowest, slot(cy).lowest_max[i]);
                            highest = std::max<std::int64_t>(highest, slot(cy).highest_min[i]);
                        }
                        const bool may_white = white && v > lowest + threshold;
                        const bool may_black = black && v < highest - threshold;
                        if (!may_white && !may_black) continue;
                        const std::int64_t cx0 = std::max(x - size, first_cx);
                        const std::int64_t cx1 = std::min(x + size, last_cx);
                        // The last centre visited comes first here: the lowest stored row is the
                        // bottom of the picture, and the rightmost column.
                        bool found = false;
                        for (std::int64_t cy = cy0; cy <= cy1 && !found; ++cy) {
                            const RingStats* rings = slot(cy).rings.data();
                            for (std::int64_t cx = cx1; cx >= cx0; --cx) {
                                const RingStats& ring = rings[cx];
                                if ((may_white && v > ring.max + threshold) ||
                                    (may_black && v < ring.min - threshold)) {
                                    set_value(*out, dst, x,
                                              wide ? widen8to16(ring.mean) : ring.mean);
                                    found = true;
                                    break;
                                }
                            }
                        }
                    }
                }
                return 0;
            });
        },
        "Remove Pinholes", &source, &target);
    return status_of(result);
}

}  // namespace

std::vector<std::uint8_t> feather_kernel(std::int32_t radius, std::int32_t style,
                                         std::int32_t corners) {
    const std::int64_t r = radius < 0 ? -static_cast<std::int64_t>(radius) : radius;
    const std::int64_t side = 2 * r + 1;
    std::vector<std::uint8_t> kernel(static_cast<std::size_t>(side * side));
    constexpr double pi = std::numbers::pi;
    for (std::int64_t j = 0; j < side; ++j) {
        for (std::int64_t i = 0; i < side; ++i) {
            const double x = static_cast<double>(i - r) / static_cast<double>(r + 1);
            const double y = static_cast<double>(j - r) / static_cast<double>(r + 1);
            const double round_distance = std::sqrt(x * x + y * y);
            const double d = corners == 1 ? std::max(std::abs(x), std::abs(y)) : round_distance;
            std::int32_t k;
            switch (style) {
                case 1:
                    k = corners == 1 || round_distance < 1 ? 255 : 0;
                    break;
                case 2:
                    k = round_to_int((std::cos(std::clamp(d * pi, 0.0, pi)) + 1) * 127.5);
                    break;
                default:
                    k = round_to_int((1 - d) * 255);
                    break;
            }
            kernel[static_cast<std::size_t>(j * side + i)] = static_cast<std::uint8_t>(clamp8(k));
        }
    }
    return kernel;
}

FilterStatus blur_gray(const Image& source, Image& target, std::int32_t radius) {
    if (!is_gray(source)) return FilterStatus::failed;
    if (radius <= 0) return copy_status(source, target);
    // Beyond this the running sums could overflow; no picture is near that size anyway.
    const std::int64_t r = std::min<std::int64_t>(radius, blur_radius_limit);
    Image rows_done;
    if (image_alloc(rows_done, image_gray16, source.width, source.height, source.dpi)) {
        return FilterStatus::failed;
    }
    std::uint8_t result = run_rows(
        [&](const Image*, Image*, int first, int last, Progress& progress) {
            return guarded([&] { return blur_rows(source, rows_done, r, progress, first, last); });
        },
        "Blur Pass 1", &source, &rows_done);
    if (result != 0) return status_of(result);
    // Only now may target replace source: the row pass has read it.
    if (prepare_target(source, target)) return FilterStatus::failed;
    result = run_rows(
        [&](const Image*, Image* out, int first, int last, Progress& progress) {
            return guarded([&] { return blur_columns(rows_done, *out, r, progress, first, last); });
        },
        "Blur Pass 2", &rows_done, &target);
    return status_of(result);
}

FilterStatus median_gray(const Image& source, Image& target, std::int32_t radius,
                         std::int32_t level) {
    if (!is_gray(source) || &source == &target) return FilterStatus::failed;
    if (prepare_target(source, target)) return FilterStatus::failed;
    // The window's count must fit the 32-bit histogram counts.
    const std::int64_t r = std::clamp<std::int64_t>(radius, 1, median_radius_limit);
    const auto mix = static_cast<std::uint32_t>(std::clamp<std::int32_t>(level, 0, 1024));
    std::uint8_t result = run_rows(
        [&](const Image*, Image* out, int first, int last, Progress& progress) {
            return guarded(
                [&] { return median_rows(source, *out, r, mix, progress, first, last); });
        },
        "Median Filter", &source, &target);
    return status_of(result);
}

bool render_feather(MaskState& state, const MaskOperation& operation, Image& after) {
    if (operation.parameters.feather.radius == 0) return false;  // after is the mask already
    return renderer_result(feather_mask(state.current_mask, after, operation.parameters.feather),
                           "Error feathering mask");
}

bool render_blur(MaskState& state, const MaskOperation& operation, Image& after) {
    if (operation.parameters.blur_radius <= 0) return false;
    return renderer_result(blur_gray(state.current_mask, after, operation.parameters.blur_radius),
                           "Error blurring mask");
}

bool render_pinholes(MaskState& state, const MaskOperation& operation, Image& after) {
    if (operation.parameters.pinhole.size <= 0) return false;
    return renderer_result(remove_pinholes(state.current_mask, after, operation.parameters.pinhole),
                           "Error removing pinholes");
}

bool render_median(MaskState& state, const MaskOperation& operation, Image& after) {
    const MedianSettings& median = operation.parameters.median;
    const std::int32_t radius = std::max(round_to_int(median.radius), 1);
    return renderer_result(
        median_gray(state.current_mask, after, radius, round_to_int(median.level * 1024)),
        "Error computing median");
}

}  // namespace tessaly
