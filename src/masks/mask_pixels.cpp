#include "mask_pixels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "core/color_models.h"
#include "core/curve.h"
#include "core/format.h"
#include "core/runner.h"

namespace tessaly {

namespace {

bool is_deep(const Image& image) {
    return image.type == image_gray16 || image.type == image_color48;
}

bool is_colour(const Image& image) {
    return image.type == image_color24 || image.type == image_color48;
}

// The base image as these operations read it, or nullptr after showing failure: it must exist,
// have the mask's size and be 8- or 16-bit gray or colour. With accept_binary a binary picture
// is read as 8-bit gray through scratch.
const Image* usable_base(const MaskState& state, const Image& after, Image& scratch,
                         bool accept_binary, const char* failure) {
    const Image* base = state.base;
    bool ok = base && base->has_pixels() && base->width == after.width &&
              base->height == after.height &&
              (after.type == image_gray8 || after.type == image_gray16);
    if (ok && base->type == image_binary && accept_binary) {
        base = gray_view(*base, scratch);
        ok = base != nullptr;
    }
    ok = ok && (base->type == image_gray8 || base->type == image_gray16 || is_colour(*base));
    if (!ok) {
        show_error(failure);
        return nullptr;
    }
    return base;
}

// One stored row as red, green and blue samples; a gray row repeats its value.
void read_rgb(const Image& image, int r, std::int32_t* red, std::int32_t* green,
              std::int32_t* blue) {
    const std::uint8_t* row = image.rows[r];
    const std::uint32_t w = image.width;
    switch (image.type) {
        case image_gray8:
            for (std::uint32_t x = 0; x < w; ++x) red[x] = green[x] = blue[x] = row[x];
            break;
        case image_gray16:
            for (std::uint32_t x = 0; x < w; ++x) red[x] = green[x] = blue[x] = sample16(row, x);
            break;
        case image_color24:
            for (std::uint32_t x = 0; x < w; ++x) {
                blue[x] = row[3 * x];
                green[x] = row[3 * x + 1];
                red[x] = row[3 * x + 2];
            }
            break;
        default:
            for (std::uint32_t x = 0; x < w; ++x) {
                blue[x] = sample16(row, 3 * x);
                green[x] = sample16(row, 3 * x + 1);
                red[x] = sample16(row, 3 * x + 2);
            }
            break;
    }
}

// Sample c of every pixel of a stored row in storage order (blue, green, red for colour).
void read_channel(const Image& image, int r, int c, std::int32_t* out) {
    const std::uint8_t* row = image.rows[r];
    const std::uint32_t w = image.width;
    const std::uint32_t step = is_colour(image) ? 3 : 1;
    if (is_deep(image)) {
        for (std::uint32_t x = 0; x < w; ++x) out[x] = sample16(row, step * x + c);
    } else {
        for (std::uint32_t x = 0; x < w; ++x) out[x] = row[step * x + c];
    }
}

// An s computed on the base image's sample scale, on the mask's scale.
std::uint32_t to_mask_scale(std::uint32_t s, bool from16, bool mask16) {
    if (from16 == mask16) return s;
    return mask16 ? widen8to16(s) : narrow16to8(s);
}

constexpr std::uint8_t cancelled = 1;
constexpr std::uint8_t out_of_memory = 2;

// Runs a selection row-parallel and merges it into after by mode. make_row(first) is called once
// per worker and gives a callable filling s (mask scale) for stored rows first, first + 1, ...
// in that order. true on failure; failure is shown when it is not a cancellation.
template <typename MakeRow>
bool run_selection(Image& after, std::int32_t mode, std::string_view title, const char* failure,
                   MakeRow make_row) {
    const std::uint8_t result = run_rows(
        [&](const Image*, Image* out, int first, int last, Progress& progress) -> std::uint8_t {
            try {
                auto row_values = make_row(first);
                std::vector<std::uint32_t> s(out->width);
                const bool mask16 = out->type == image_gray16;
                for (int r = first; r <= last; ++r) {
                    if (progress_tick(progress)) return cancelled;
                    row_values(r, s.data());
                    std::uint8_t* row = out->rows[r];
                    for (std::uint32_t x = 0; x < out->width; ++x) {
                        if (mask16) {
                            set_sample16(row, x,
                                         static_cast<std::uint16_t>(
                                             mask_combine(mode, sample16(row, x), s[x])));
                        } else {
                            row[x] = static_cast<std::uint8_t>(mask_combine(mode, row[x], s[x]));
                        }
                    }
                }
            } catch (const std::bad_alloc&) {
                return out_of_memory;
            }
            return 0;
        },
        title, nullptr, &after);
    if (result == out_of_memory) show_error(failure);
    return result != 0;
}

// --- Curve ---

// The channel of the "Channel:" list on the sample scale full (255 or 65535).
std::int32_t curve_channel(std::int32_t channel, std::int32_t r, std::int32_t g, std::int32_t b,
                           std::int32_t full) {
    const std::int32_t max = std::max({r, g, b}), min = std::min({r, g, b});
    const std::int64_t delta = max - min;
    std::int32_t h = 0, s = 0, v = 0;
    switch (channel) {
        case 1:
            return r;
        case 2:
            return g;
        case 3:
            return b;
        case 4:
            return max;
        case 5:
            return (max + min) / 2;
        case 6:
            return max == 0 ? 0 : static_cast<std::int32_t>(delta * full / max);
        case 7: {
            if (delta == 0) return 0;
            const std::int64_t den = (max + min) / 2 <= full / 2 ? max + min : 2 * full - max - min;
            return static_cast<std::int32_t>(delta * full / den);
        }
        case 8:
        case 9:
            if (full == 65535) {
                if (channel == 8) {
                    rgb_to_hsv16(r, g, b, h, s, v);
                } else {
                    rgb_to_hsl16(r, g, b, h, s, v);
                }
                return h;
            }
            if (channel == 8) {
                rgb_to_hsv8(r, g, b, h, s, v);
            } else {
                rgb_to_hsl8(r, g, b, h, s, v);
            }
            return from12[std::clamp(h, 0, 4096)];
        default:  // 0 and unknown channels: luminance
            return static_cast<std::int32_t>((306 * r + 601 * g + 117 * b) >> 10);
    }
}

}  // namespace

bool render_curve_select(MaskState& state, const MaskOperation& operation, Image& after) {
    constexpr const char* failure = "Error creating curve mask";
    Image scratch;
    const Image* base = usable_base(state, after, scratch, true, failure);
    if (!base) return true;
    const Curve& curve = operation.parameters.curve;
    if (!curve_is_valid(curve)) {
        show_error(failure);
        return true;
    }
    // The table has the depth of the base image's samples, so no channel is rounded before it.
    const bool deep = is_deep(*base);
    const std::int32_t full = deep ? 65535 : 255;
    std::vector<std::uint16_t> table;
    try {
        table.resize(static_cast<std::size_t>(full) + 1);
    } catch (const std::bad_alloc&) {
        show_error(failure);
        return true;
    }
    if (deep) {
        curve_table16(curve, table.data(), false);
    } else {
        std::uint8_t table8[256];
        curve_table8(curve, table8);
        std::copy(table8, table8 + 256, table.begin());
    }
    const bool colour = is_colour(*base);
    const bool mask16 = after.type == image_gray16;
    const std::int32_t channel = operation.parameters.channel;
    const std::uint32_t w = base->width;
    return run_selection(after, operation.mode, "Curve Mask", failure, [&](int) {
        return [&, red = std::vector<std::int32_t>(w), green = std::vector<std::int32_t>(w),
                blue = std::vector<std::int32_t>(w)](int r, std::uint32_t* s) mutable {
            read_rgb(*base, r, red.data(), green.data(), blue.data());
            for (std::uint32_t x = 0; x < w; ++x) {
                // A gray picture has one value, whatever channel is chosen.
                const std::int32_t c =
                    colour ? curve_channel(channel, red[x], green[x], blue[x], full) : red[x];
                s[x] = to_mask_scale(table[static_cast<std::size_t>(c)], deep, mask16);
            }
        };
    });
}

// --- Separate Based on 2 Colors ---

namespace {

struct SeparateColour {
    std::int64_t c[3];        // red, green, blue on the base image's sample scale
    std::int64_t brightness;  // (306 R + 601 G + 117 B) >> 10 of those
};

// The colours of one group that take part: its first entry always, the others when in use.
std::vector<SeparateColour> separate_group(const SeparateEntries& entries, std::size_t first,
                                           bool deep) {
    std::vector<SeparateColour> out;
    for (std::size_t i = first; i < first + 8; ++i) {
        const SeparateEntry& e = entries[i];
        if (i != first && !e.in_use) continue;
        SeparateColour c{};
        for (int k = 0; k < 3; ++k) {
            const std::int64_t v = (e.colour >> (8 * k)) & 255u;
            c.c[k] = deep ? v * 257 : v;
        }
        c.brightness = (306 * c.c[0] + 601 * c.c[1] + 117 * c.c[2]) >> 10;
        out.push_back(c);
    }
    return out;
}

std::int64_t distance2(const std::int64_t* a, const std::int64_t* b) {
    std::int64_t d = 0;
    for (int k = 0; k < 3; ++k) d += (a[k] - b[k]) * (a[k] - b[k]);
    return d;
}

// The nearest colour of a group to p (the first of equally near ones).
const SeparateColour& nearest(const std::vector<SeparateColour>& group, const std::int64_t* p,
                              bool gray) {
    std::size_t best = 0;
    std::int64_t best_d = -1;
    for (std::size_t i = 0; i < group.size(); ++i) {
        const std::int64_t d =
            gray ? std::llabs(p[0] - group[i].brightness) : distance2(p, group[i].c);
        if (best_d < 0 || d < best_d) {
            best_d = d;
            best = i;
        }
    }
    return group[best];
}

std::uint32_t separate_value(const std::int64_t* p, const SeparateColour& g,
                             const SeparateColour& k, bool gray, std::int64_t full) {
    const std::uint32_t half = full == 65535 ? 32768u : 128u;
    if (gray) {
        if (g.brightness == k.brightness) return half;
        const std::int64_t s = (p[0] - k.brightness) * full / (g.brightness - k.brightness);
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(s, 0, full));
    }
    if (g.c[0] == k.c[0] && g.c[1] == k.c[1] && g.c[2] == k.c[2]) return half;
    bool inside = true;
    for (int c = 0; c < 3; ++c) {
        inside = inside && p[c] >= std::min(g.c[c], k.c[c]) && p[c] <= std::max(g.c[c], k.c[c]);
    }
    if (!inside)
        return distance2(p, g.c) < distance2(p, k.c) ? static_cast<std::uint32_t>(full) : 0;
    // The position of p projected on the line from k to g.
    std::int64_t dot = 0;
    for (int c = 0; c < 3; ++c) dot += (k.c[c] - p[c]) * (k.c[c] - g.c[c]);
    const double t =
        std::clamp(static_cast<double>(dot) / static_cast<double>(distance2(k.c, g.c)), 0.0, 1.0);
    return static_cast<std::uint32_t>(std::floor(t * static_cast<double>(full) + 0.5));
}

}  // namespace

bool render_separate(MaskState& state, const MaskOperation& operation, Image& after) {
    constexpr const char* failure = "Error creating separate mask";
    Image scratch;
    const Image* base = usable_base(state, after, scratch, false, failure);
    if (!base) return true;
    const bool deep = is_deep(*base);
    const bool gray = !is_colour(*base);
    // The first group is the "Black:" row and the second the "White:" row, so light pixels of a
    // picture separated with the default black and white come out white.
    std::vector<SeparateColour> to_zero, to_full;
    try {
        to_zero = separate_group(operation.parameters.separate, 0, deep);
        to_full = separate_group(operation.parameters.separate, 8, deep);
    } catch (const std::bad_alloc&) {
        show_error(failure);
        return true;
    }
    const bool mask16 = after.type == image_gray16;
    const std::int64_t full = mask16 ? 65535 : 255;
    const std::uint32_t w = base->width;
    return run_selection(after, operation.mode, "Mask Separate", failure, [&](int) {
        return [&, red = std::vector<std::int32_t>(w), green = std::vector<std::int32_t>(w),
                blue = std::vector<std::int32_t>(w)](int r, std::uint32_t* s) mutable {
            read_rgb(*base, r, red.data(), green.data(), blue.data());
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::int64_t p[3] = {red[x], green[x], blue[x]};
                s[x] = separate_value(p, nearest(to_full, p, gray), nearest(to_zero, p, gray), gray,
                                      full);
            }
        };
    });
}

// --- Texture ---

namespace {

// The rows of a (2k+1)-row neighbourhood for one worker, each padded by k samples that repeat
// the edge pixels, in a ring indexed by the row number modulo 2k+1; with column sums over the
// ring for the average.
class TextureWindow {
  public:
    TextureWindow(const Image& base, int k, bool sums)
        : base_(base),
          k_(k),
          slots_(2 * k + 1),
          channels_(is_colour(base) ? 3 : 1),
          padded_(static_cast<int>(base.width) + 2 * k),
          ring_(static_cast<std::size_t>(slots_ * channels_ * padded_)),
          sums_(sums ? static_cast<std::size_t>(channels_ * padded_) : 0) {}

    int channels() const { return channels_; }

    // Makes rows centre - k .. centre + k present; the first call loads them all, later calls
    // must move the centre down the image one row at a time.
    void centre_on(int centre) {
        if (!loaded_) {
            for (int row = centre - k_; row <= centre + k_; ++row) load(row, !sums_.empty());
            loaded_ = true;
            return;
        }
        load(centre + k_, !sums_.empty());
    }

    // Samples of channel c of row (relative to nothing: an absolute stored row number).
    const std::int32_t* row(int r, int c) const {
        return ring_.data() + (static_cast<std::size_t>(slot(r)) * channels_ + c) * padded_;
    }
    const std::int32_t* sums(int c) const {
        return sums_.data() + static_cast<std::size_t>(c) * padded_;
    }

  private:
    int slot(int r) const { return ((r % slots_) + slots_) % slots_; }

    void load(int r, bool with_sums) {
        const int stored = std::clamp(r, 0, static_cast<int>(base_.height) - 1);
        for (int c = 0; c < channels_; ++c) {
            std::int32_t* dst =
                ring_.data() + (static_cast<std::size_t>(slot(r)) * channels_ + c) * padded_;
            std::int32_t* sum =
                with_sums ? sums_.data() + static_cast<std::size_t>(c) * padded_ : nullptr;
            // The row that leaves the window shares the slot of the one that enters it.
            if (sum && loaded_) {
                for (int x = 0; x < padded_; ++x) sum[x] -= dst[x];
            }
            read_channel(base_, stored, c, dst + k_);
            std::fill(dst, dst + k_, dst[k_]);
            std::fill(dst + padded_ - k_, dst + padded_, dst[padded_ - k_ - 1]);
            if (sum) {
                for (int x = 0; x < padded_; ++x) sum[x] += dst[x];
            }
        }
    }

    const Image& base_;
    int k_, slots_, channels_, padded_;
    std::vector<std::int32_t> ring_;
    std::vector<std::int32_t> sums_;
    bool loaded_ = false;
};

constexpr std::int32_t texture_max_difference = 0;
constexpr std::int32_t texture_average_difference = 1;
constexpr std::int32_t texture_difference_from_average = 2;

// The measure of every pixel of row r for one channel, into m (kept when already larger).
void texture_row(const TextureWindow& window, int r, int c, int k, std::int32_t method,
                 std::uint32_t w, std::int64_t* m) {
    const std::int64_t n = (2 * k + 1) * (2 * k + 1) - 1;
    const std::int32_t* centre = window.row(r, c) + k;
    if (method == texture_difference_from_average) {
        // A running sum along the row of the column sums gives each box in O(1).
        const std::int32_t* sums = window.sums(c);
        std::int64_t box = 0;
        for (int i = 0; i < 2 * k + 1; ++i) box += sums[i];
        for (std::uint32_t x = 0; x < w; ++x) {
            if (x > 0) box += sums[x + 2 * k] - sums[x - 1];
            const std::int64_t v = centre[x];
            const std::int64_t average = (n / 2 + box - v) / n;
            m[x] = std::max(m[x], std::abs(average - v));
        }
        return;
    }
    std::array<const std::int32_t*, 7> rows{};
    for (int dy = -k; dy <= k; ++dy) rows[static_cast<std::size_t>(dy + k)] = window.row(r + dy, c);
    for (std::uint32_t x = 0; x < w; ++x) {
        const std::int32_t v = centre[x];
        std::int64_t measure = 0;
        for (int dy = -k; dy <= k; ++dy) {
            const std::int32_t* q = rows[static_cast<std::size_t>(dy + k)] + k + x;
            for (int dx = -k; dx <= k; ++dx) {
                if (dx == 0 && dy == 0) continue;
                const std::int64_t d = std::abs(q[dx] - v);
                if (method == texture_max_difference) {
                    measure = std::max(measure, d);
                } else {
                    measure += d;
                }
            }
        }
        if (method == texture_average_difference) measure = (n / 2 + measure) / n;
        m[x] = std::max(m[x], measure);
    }
}

}  // namespace

bool render_texture(MaskState& state, const MaskOperation& operation, Image& after) {
    constexpr const char* failure = "Error creating texture mask";
    Image scratch;
    const Image* base = usable_base(state, after, scratch, true, failure);
    if (!base) return true;
    const TextureSettings& settings = operation.parameters.texture;
    const int k = std::clamp(settings.size, 0, 2) + 1;
    const std::int32_t method =
        std::clamp(settings.method, texture_max_difference, texture_difference_from_average);
    // Thresholds are in 8-bit units whatever the picture, so one setting means the same texture
    // on 8- and 16-bit versions of it.
    const std::int64_t scale = is_deep(*base) ? 257 : 1;
    const std::int64_t t0 = settings.threshold0 * scale, t1 = settings.threshold1 * scale;
    const std::int64_t full = after.type == image_gray16 ? 65535 : 255;
    const std::uint32_t w = base->width;
    return run_selection(after, operation.mode, "Texture Mask", failure, [&](int) {
        return [&, window = TextureWindow(*base, k, method == texture_difference_from_average),
                measure = std::vector<std::int64_t>(w)](int r, std::uint32_t* s) mutable {
            window.centre_on(r);
            std::fill(measure.begin(), measure.end(), 0);
            // A colour picture takes its most textured channel.
            for (int c = 0; c < window.channels(); ++c) {
                texture_row(window, r, c, k, method, w, measure.data());
            }
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::int64_t m = measure[x];
                s[x] = m < t0    ? 0
                       : m >= t1 ? static_cast<std::uint32_t>(full)
                                 : static_cast<std::uint32_t>((m - t0) * full / (t1 - t0));
            }
        };
    });
}

// --- Hue and Saturation, Hue Saturation Histogram ---

namespace {

// Hue (as a fraction of a turn), saturation and value or lightness (fractions of full) of a
// colour in HSV (colorspace 0, and anything unknown) or HSL (1), through the program's models.
struct HueSat {
    std::int32_t hue, saturation, level;  // on the model's scale
    std::int32_t turn, full;
};

HueSat hue_sat_of(std::int32_t r, std::int32_t g, std::int32_t b, bool deep, std::int32_t space) {
    HueSat out{};
    const bool hsl = space == colorspace_hsl;
    if (deep) {
        (hsl ? rgb_to_hsl16 : rgb_to_hsv16)(r, g, b, out.hue, out.saturation, out.level);
        out.turn = out.full = 65535;
    } else {
        (hsl ? rgb_to_hsl8 : rgb_to_hsv8)(r, g, b, out.hue, out.saturation, out.level);
        out.turn = out.full = 4096;
    }
    return out;
}

// 1 within width, falling linearly to 0 at 1.5 x width: the soft edge of a picked colour.
double soft_band(double distance, double width) {
    if (distance <= width) return 1.0;
    if (width <= 0.0 || distance >= 1.5 * width) return 0.0;
    return (1.5 * width - distance) / (0.5 * width);
}

struct PickedColour {
    double hue;         // degrees
    double saturation;  // percent
    double hue_width, saturation_width;
};

// How strongly a pixel of hue h (degrees) and saturation sat (percent) belongs to the picks.
double picked_weight(const std::vector<PickedColour>& picks, double h, double sat) {
    double best = 0.0;
    for (const PickedColour& p : picks) {
        const double fs = soft_band(std::fabs(sat - p.saturation), p.saturation_width);
        // A gray has no hue, so only saturation decides when either side is gray.
        double fh = 1.0;
        if (sat > 0.0 && p.saturation > 0.0) {
            const double d = std::fabs(h - p.hue);
            fh = soft_band(std::min(d, 360.0 - d), p.hue_width);
        }
        best = std::max(best, std::min(fh, fs));
    }
    return best;
}

}  // namespace

void hs_cell_of(std::int32_t hue, std::int32_t saturation, std::int32_t turn, std::int32_t full,
                int& hue_cell, int& saturation_cell) {
    const std::int64_t h = std::clamp<std::int64_t>(hue, 0, turn);
    const std::int64_t s = std::clamp<std::int64_t>(saturation, 0, full);
    hue_cell = static_cast<int>(std::min<std::int64_t>(h * hs_hue_cells / turn, hs_hue_cells - 1));
    saturation_cell = static_cast<int>(
        std::min<std::int64_t>(s * hs_saturation_cells / full, hs_saturation_cells - 1));
}

bool render_hue_saturation(MaskState& state, const MaskOperation& operation, Image& after) {
    constexpr const char* failure = "Error creating hue saturation mask";
    Image scratch;
    const Image* base = usable_base(state, after, scratch, true, failure);
    if (!base) return true;
    const HueSatSelection& selection = operation.parameters.huesat;
    const std::int32_t space = selection.colorspace;
    std::vector<PickedColour> picks;
    try {
        for (const HueSatColour& c : selection.colours) {
            const HueSat hs =
                hue_sat_of(static_cast<std::int32_t>(c.colour & 255u),
                           static_cast<std::int32_t>((c.colour >> 8) & 255u),
                           static_cast<std::int32_t>((c.colour >> 16) & 255u), false, space);
            picks.push_back({hs.hue * 360.0 / hs.turn, hs.saturation * 100.0 / hs.full,
                             std::max(0.0, c.hue_width), std::max(0.0, c.saturation_width)});
        }
    } catch (const std::bad_alloc&) {
        show_error(failure);
        return true;
    }
    const bool deep = is_deep(*base);
    const bool remove = selection.add_remove != 0;
    const double full = after.type == image_gray16 ? 65535.0 : 255.0;
    const std::uint32_t w = base->width;
    return run_selection(after, operation.mode, "Mask Hue Saturation", failure, [&](int) {
        return [&, red = std::vector<std::int32_t>(w), green = std::vector<std::int32_t>(w),
                blue = std::vector<std::int32_t>(w)](int r, std::uint32_t* s) mutable {
            read_rgb(*base, r, red.data(), green.data(), blue.data());
            for (std::uint32_t x = 0; x < w; ++x) {
                const HueSat hs = hue_sat_of(red[x], green[x], blue[x], deep, space);
                double weight =
                    picked_weight(picks, hs.hue * 360.0 / hs.turn, hs.saturation * 100.0 / hs.full);
                // Remove selects everything but the picked colours.
                if (remove) weight = 1.0 - weight;
                s[x] = static_cast<std::uint32_t>(std::floor(weight * full + 0.5));
            }
        };
    });
}

bool render_hs_histogram(MaskState& state, const MaskOperation& operation, Image& after) {
    constexpr const char* failure = "Error creating hue saturation histogram mask";
    Image scratch;
    const Image* base = usable_base(state, after, scratch, true, failure);
    if (!base) return true;
    const HistogramSelection& selection = operation.parameters.histogram;
    const std::uint32_t full = after.type == image_gray16 ? 65535u : 255u;
    // The selection per cell: selected cells are full; with a blur radius, unselected cells take
    // the share of selected cells around them (hue wraps round, saturation stops at its ends),
    // which gives the selection a soft edge in colour.
    std::array<std::uint32_t, hs_hue_cells * hs_saturation_cells> level{};
    const int radius = std::clamp(selection.blur, 0, hs_hue_cells);
    for (int sc = 0; sc < hs_saturation_cells; ++sc) {
        for (int hc = 0; hc < hs_hue_cells; ++hc) {
            std::uint32_t& cell = level[static_cast<std::size_t>(hs_cell_bit(hc, sc))];
            if (hs_cell_selected(selection, hc, sc)) {
                cell = full;
                continue;
            }
            int on = 0, count = 0;
            for (int ds = -radius; ds <= radius; ++ds) {
                const int s = sc + ds;
                if (s < 0 || s >= hs_saturation_cells) continue;
                for (int dh = -radius; dh <= radius; ++dh) {
                    const int h = ((hc + dh) % hs_hue_cells + hs_hue_cells) % hs_hue_cells;
                    on += hs_cell_selected(selection, h, s) ? 1 : 0;
                    ++count;
                }
            }
            cell = static_cast<std::uint32_t>(
                (static_cast<std::uint64_t>(on) * full + static_cast<std::uint64_t>(count) / 2) /
                static_cast<std::uint64_t>(count));
        }
    }
    // Pixels whose saturation (thresholds 0 and 1) or value / lightness (2 and 3), on a 0..10000
    // scale, lie outside the limits are not selected.
    const std::array<std::int32_t, 4>& t = selection.thresholds;
    const bool deep = is_deep(*base);
    const std::int32_t space = selection.colorspace;
    const std::uint32_t w = base->width;
    return run_selection(after, operation.mode, "Mask Hue Saturation", failure, [&](int) {
        return [&, red = std::vector<std::int32_t>(w), green = std::vector<std::int32_t>(w),
                blue = std::vector<std::int32_t>(w)](int r, std::uint32_t* s) mutable {
            read_rgb(*base, r, red.data(), green.data(), blue.data());
            for (std::uint32_t x = 0; x < w; ++x) {
                const HueSat hs = hue_sat_of(red[x], green[x], blue[x], deep, space);
                const std::int64_t sat = std::int64_t{hs.saturation} * 10000 / hs.full;
                const std::int64_t lev = std::int64_t{hs.level} * 10000 / hs.full;
                if (sat < t[0] || sat > t[1] || lev < t[2] || lev > t[3]) {
                    s[x] = 0;
                    continue;
                }
                int hc = 0, sc = 0;
                hs_cell_of(hs.hue, hs.saturation, hs.turn, hs.full, hc, sc);
                s[x] = level[static_cast<std::size_t>(hs_cell_bit(hc, sc))];
            }
        };
    });
}

}  // namespace tessaly
