#include "transformations/sharpen.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/runner.h"
#include "framework/module.h"
#include "transformations/sharpen_step.h"

namespace tessaly {

namespace {

struct Settings {
    std::int32_t kernel;
    double maxovershoot;   // largest increase, a fraction of full scale
    double maxundershoot;  // largest decrease
    double thresholdb;     // differences below are not sharpened
    double thresholdw;     // differences from here on are sharpened fully
    double strength;
    AmountSettings amount;
    DialogKeys dialog;
};
using Context = TransformationContext<Settings>;

// The neighbourhood mean of n samples. up, mid and down are rows with a one-pixel border on each
// side (C samples a pixel); sample i of the output sits at i + C in them.
template <class T, int C>
SHARPEN_INLINE void mean_row(const T* __restrict up, const T* __restrict mid,
                             const T* __restrict down, T* __restrict mean, std::size_t n,
                             int kernel) {
    if (kernel == sharpen_kernel_four) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t sum =
                std::uint32_t{up[i + C]} + mid[i] + mid[i + 2 * C] + down[i + C];
            mean[i] = static_cast<T>(sum >> 2);
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t sum = std::uint32_t{up[i]} + up[i + C] + up[i + 2 * C] + mid[i] +
                                      mid[i + 2 * C] + down[i] + down[i + C] + down[i + 2 * C];
            mean[i] = static_cast<T>(sum >> 3);
        }
    }
}

// One output row: mean, then the shared step. Built for AVX2 and for the plain instruction set;
// overloads by sample type.
#define SHARPEN_KERNELS(T)                                                                  \
    SHARPEN_CLONES void gray_row(const T* up, const T* mid, const T* down, T* mean, T* out, \
                                 std::size_t width, int kernel, const SharpenStep& k,       \
                                 SharpenScratch& scratch) {                                 \
        mean_row<T, 1>(up, mid, down, mean, width, kernel);                                 \
        sharpen_row<T, 1>(mid + 1, mean, out, width, k, scratch);                           \
    }                                                                                       \
    SHARPEN_CLONES void rgb_row(const T* up, const T* mid, const T* down, T* mean, T* out,  \
                                std::size_t width, int kernel, const SharpenStep& k,        \
                                SharpenScratch& scratch) {                                  \
        mean_row<T, 3>(up, mid, down, mean, width * 3, kernel);                             \
        sharpen_row<T, 3>(mid + 3, mean, out, width, k, scratch);                           \
    }
SHARPEN_KERNELS(std::uint8_t)
SHARPEN_KERNELS(std::uint16_t)
#undef SHARPEN_KERNELS

bool sharpenable(const Image& in) {
    return in.type >= image_gray8 && in.type <= image_color48 && in.has_pixels();
}

// Output rows first..last. Each worker keeps the three source rows it reads, with the border
// pixel repeating the edge pixel on both sides, in a ring: one new row per output row. Rows
// beyond the top and bottom repeat the edge row.
template <class T>
std::uint8_t band(const Image& in, Image& out, int first, int last, int kernel,
                  const SharpenStep& k, Progress& p) {
    const bool rgb = in.type == image_color24 || in.type == image_color48;
    const std::size_t c = rgb ? 3 : 1;
    const std::size_t width = in.width;
    const int height = static_cast<int>(in.height);
    const std::size_t stride = (width + 2) * c;
    std::vector<T> ring(3 * stride), mean(width * c);
    SharpenScratch scratch;
    auto slot = [&](int y) { return ring.data() + static_cast<std::size_t>((y + 3) % 3) * stride; };
    auto load = [&](int y) {
        const T* source = reinterpret_cast<const T*>(in.rows[std::clamp(y, 0, height - 1)]);
        T* b = slot(y);
        std::memcpy(b + c, source, width * c * sizeof(T));
        std::memcpy(b, source, c * sizeof(T));
        std::memcpy(b + (width + 1) * c, source + (width - 1) * c, c * sizeof(T));
    };
    load(first - 1);
    load(first);
    for (int y = first; y <= last; ++y) {
        if (progress_tick(p)) return 1;
        load(y + 1);
        T* o = reinterpret_cast<T*>(out.rows[y]);
        if (rgb) {
            rgb_row(slot(y + 1), slot(y), slot(y - 1), mean.data(), o, width, kernel, k, scratch);
        } else {
            gray_row(slot(y + 1), slot(y), slot(y - 1), mean.data(), o, width, kernel, k, scratch);
        }
    }
    return 0;
}

// in is one of the four accepted types.
bool sharpen(const Image& in, Image& out, int kernel, double overshoot, double undershoot,
             double thresholdb, double thresholdw, double strength, bool show_progress) {
    const bool wide = in.type == image_gray16 || in.type == image_color48;
    const SharpenStep k =
        sharpen_step(wide ? 65535 : 255, thresholdb, thresholdw, overshoot, undershoot, strength);
    if (image_alloc_with(out, in.type, in.width, in.height, in.dpi, in.profile, in.profile_size,
                         in.tags)) {
        return true;
    }
    const std::uint8_t error = run_rows(
        [&](const Image* source, Image* target, int first, int last, Progress& p) {
            return wide ? band<std::uint16_t>(*source, *target, first, last, kernel, k, p)
                        : band<std::uint8_t>(*source, *target, first, last, kernel, k, p);
        },
        show_progress ? "Sharpen" : "", &in, &out);
    if (error) image_free(out);
    return error != 0;
}

// The old single threshold, 0..255: both thresholds at once, before the two keys that may
// override it.
void legacy_threshold(Settings& s, const ArgumentList& args, const Context&) {
    std::int32_t threshold = 0;
    if (read_integer(args, "threshold", threshold)) return;
    s.thresholdb = s.thresholdw = std::clamp(threshold, 0, 255) / 255.0;
}

bool sharpen_pass(const Context& ctx, int, const Image& in, Image& out) {
    const Settings& s = ctx.settings;
    return sharpen(in, out, s.kernel, s.maxovershoot, s.maxundershoot, s.thresholdb, s.thresholdw,
                   s.strength, true);
}

const Registered<Settings> sharpen_module{{
    .keyword = "sharpen",
    .schema =
        Schema<Settings>()
            .choice("kernel", &Settings::kernel, sharpen_kernel_four, {"Sharpen", "Sharpen More"})
            .real("maxovershoot", &Settings::maxovershoot, "%4zf", 0.1)
            .range(0.0, 1.0)
            .label("Maximum Overshoot:", "of full scale")
            .real("maxundershoot", &Settings::maxundershoot, "%4zf", 0.1)
            .range(0.0, 1.0)
            .label("Maximum Undershoot:", "of full scale")
            .real("thresholdb", &Settings::thresholdb, "%4zf", 0.04)
            .range(0.0, 1.0)
            .label("Threshold Black:", "of full scale")
            .real("thresholdw", &Settings::thresholdw, "%4zf", 0.04)
            .range(0.0, 1.0)
            .label("Threshold White:", "of full scale")
            .real("strength", &Settings::strength, "%4zf", 1.0)
            .range(0.0, sharpen_max_strength)
            .label("Strength:")
            .amount("amount", &Settings::amount, amount_init(0, true, amount_mode_percent))
            .dialog(&Settings::dialog, {.display = 1, .sync_scroll = 1, .auto_preview = 1}),
    .before_read = legacy_threshold,
    .image = sharpen_pass,
}};

}  // namespace

bool sharpen_image(const Image& in, Image& out, int kernel, double overshoot, double undershoot,
                   double thresholdb, double thresholdw, double strength, bool show_progress) {
    if (&in == &out) return true;
    Image scratch;
    const Image* working = gray_view(in, scratch);
    if (!working || !sharpenable(*working)) {
        image_free(out);
        return true;
    }
    return sharpen(*working, out, kernel, overshoot, undershoot, thresholdb, thresholdw, strength,
                   show_progress);
}

}  // namespace tessaly
