#include "kernels/sharpen.h"

#include "kernels/rows.h"
#include "kernels/sharpen_step.h"
#include "kernels/simd.h"

namespace tessaly {

namespace {

// The neighbourhood mean of n samples. up, mid and down are rows with a one-pixel border on each
// side (C samples a pixel); sample i of the output sits at i + C in them.
template <class T, int C>
TESSALY_INLINE void mean_row(const T* __restrict up, const T* __restrict mid,
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
    TESSALY_CLONES void gray_row(const T* up, const T* mid, const T* down, T* mean, T* out, \
                                 std::size_t width, int kernel, const SharpenStep& k,       \
                                 SharpenScratch& scratch) {                                 \
        mean_row<T, 1>(up, mid, down, mean, width, kernel);                                 \
        sharpen_row<T, 1>(mid + 1, mean, out, width, k, scratch);                           \
    }                                                                                       \
    TESSALY_CLONES void rgb_row(const T* up, const T* mid, const T* down, T* mean, T* out,  \
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

// The rows of one sample type: each output row from the window of three source rows (the edge
// row repeated beyond the top and bottom, each row padded by its edge pixel on both sides) and a
// scratch of the mean row and the step's weights.
template <class T>
AreaRows area_rows(const Image& in, int kernel, const SharpenStep& k) {
    const bool rgb = in.type == image_color24 || in.type == image_color48;
    const std::size_t c = rgb ? 3 : 1;
    const std::size_t mean_bytes = (std::size_t{in.width} * c * sizeof(T) + 63) / 64 * 64;
    AreaRows rows;
    rows.radius = 1;
    rows.edge = Edge::clamp;
    rows.scratch_bytes = mean_bytes + sizeof(SharpenScratch);
    rows.row = [rgb, c, kernel, k, mean_bytes](const std::uint8_t* const* window, std::uint8_t* out,
                                               std::uint32_t width, std::uint8_t* scratch) {
        // Each window row is readable one pixel beyond both sides.
        const T* down = reinterpret_cast<const T*>(window[0]) - c;
        const T* mid = reinterpret_cast<const T*>(window[1]) - c;
        const T* up = reinterpret_cast<const T*>(window[2]) - c;
        T* mean = reinterpret_cast<T*>(scratch);
        auto& step_scratch = *reinterpret_cast<SharpenScratch*>(scratch + mean_bytes);
        T* o = reinterpret_cast<T*>(out);
        if (rgb) {
            rgb_row(up, mid, down, mean, o, width, kernel, k, step_scratch);
        } else {
            gray_row(up, mid, down, mean, o, width, kernel, k, step_scratch);
        }
    };
    return rows;
}

// in is one of the four accepted types.
bool sharpen(const Image& in, Image& out, int kernel, double overshoot, double undershoot,
             double thresholdb, double thresholdw, double strength, bool show_progress) {
    const bool wide = in.type == image_gray16 || in.type == image_color48;
    const SharpenStep k =
        sharpen_step(wide ? 65535 : 255, thresholdb, thresholdw, overshoot, undershoot, strength);
    const AreaRows rows =
        wide ? area_rows<std::uint16_t>(in, kernel, k) : area_rows<std::uint8_t>(in, kernel, k);
    return run_area_rows(rows, in, out, show_progress ? "Sharpen" : "");
}

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
