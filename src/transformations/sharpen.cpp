#include "transformations/sharpen.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/runner.h"
#include "framework/transformation.h"
#include "masks/mix.h"
#include "transformations/sharpen_step.h"

namespace tessaly {

namespace {

using Settings = SharpenSettings;
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

bool after_parse(Settings& s, const ArgumentList&, const Context& ctx) {
    if (s.kernel != sharpen_kernel_eight) s.kernel = sharpen_kernel_four;
    s.maxovershoot = std::clamp(s.maxovershoot, 0.0, 1.0);
    s.maxundershoot = std::clamp(s.maxundershoot, 0.0, 1.0);
    s.thresholdb = std::clamp(s.thresholdb, 0.0, 1.0);
    s.thresholdw = std::clamp(s.thresholdw, 0.0, 1.0);
    s.strength = std::clamp(s.strength, 0.0, sharpen_max_strength);
    amount_make_consistent(s.amount, ctx.node);
    return false;
}

std::uint8_t run(Context& ctx) {
    const Image* in = ctx.working_input;  // a binary input arrives as 8-bit gray
    if (!in || !sharpenable(*in)) return fail_node(ctx.node, illegal_input_type);
    const Settings& s = ctx.settings;
    const Image* mask = amount_mask(s.amount, ctx.node);
    if (amount_leaves_input(s.amount, mask)) return image_copy(*in, *ctx.result) ? 1 : 0;
    if (sharpen(*in, *ctx.result, s.kernel, s.maxovershoot, s.maxundershoot, s.thresholdb,
                s.thresholdw, s.strength, true) ||
        mix_in_place(*in, *ctx.result, s.amount, mask)) {
        image_free(*ctx.result);
        return 1;
    }
    return 0;
}

const Module<Settings> sharpen_module = {
    .keyword = "sharpen",
    .display_name = "Sharpen",
    .settings = {"Sharpen", ".sharpen"},
    .schema = Schema<Settings>()
                  .integer("kernel", &Settings::kernel)
                  .real("maxovershoot", &Settings::maxovershoot, "%4zf")
                  .real("maxundershoot", &Settings::maxundershoot, "%4zf")
                  .real("thresholdb", &Settings::thresholdb, "%4zf")
                  .real("thresholdw", &Settings::thresholdw, "%4zf")
                  .real("strength", &Settings::strength, "%4zf")
                  .custom("amount", amount_writer(&Settings::amount),
                          amount_reader<Settings>("amount", &Settings::amount))
                  .integer("display", &Settings::display)
                  .integer("sync_scroll", &Settings::sync_scroll)
                  .integer("auto_preview", &Settings::auto_preview),
    .before_read = legacy_threshold,
    .after_parse = after_parse,
    .run = run,
};

}  // namespace

std::string sharpen_command_line(const SharpenSettings& settings) {
    return format_settings(sharpen_module, settings);
}

bool sharpen_parse(const ArgumentList& args, const Node* node, SharpenSettings& settings) {
    Context ctx;
    ctx.node = const_cast<Node*>(node);
    const bool failed = parse_settings(sharpen_module, args, ctx);
    settings = ctx.settings;
    return failed;
}

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

std::uint8_t sharpen_run_entry(Node* input, Node* node, const ArgumentList& args) {
    return run_entry(sharpen_module, input, node, args);
}

}  // namespace tessaly
