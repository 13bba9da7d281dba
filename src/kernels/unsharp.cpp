#include "kernels/unsharp.h"

#include <algorithm>
#include <vector>

#include "core/runner.h"
#include "kernels/box_blur.h"
#include "kernels/sharpen_step.h"
#include "kernels/simd.h"

namespace tessaly {

namespace {

// The row kernels, built for AVX2 and for the plain instruction set; overloads by sample type.
#define UNSHARP_KERNELS(T)                                                                         \
    TESSALY_CLONES void gray_row(const T* s, const T* m, T* o, std::size_t n,                      \
                                 const SharpenStep& k, SharpenScratch& scratch) {                  \
        sharpen_row<T, 1>(s, m, o, n, k, scratch);                                                 \
    }                                                                                              \
    TESSALY_CLONES void rgb_row(const T* s, const T* m, T* o, std::size_t n, const SharpenStep& k, \
                                SharpenScratch& scratch) {                                         \
        sharpen_row<T, 3>(s, m, o, n, k, scratch);                                                 \
    }
UNSHARP_KERNELS(std::uint8_t)
UNSHARP_KERNELS(std::uint16_t)
#undef UNSHARP_KERNELS

// Luminance only: the value max(R, G, B) of each pixel, and each pixel scaled by V' / V.
#define LUMINANCE_KERNELS(T)                                                             \
    TESSALY_CLONES void value_row(const T* px, T* v, std::size_t n) {                    \
        for (std::size_t x = 0; x < n; ++x)                                              \
            v[x] = std::max({px[3 * x], px[3 * x + 1], px[3 * x + 2]});                  \
    }                                                                                    \
    void scale_row(const T* px, const T* v, const T* sharpened, T* o, std::size_t n) {   \
        for (std::size_t x = 0; x < n; ++x) {                                            \
            const std::uint32_t before = v[x], after = sharpened[x];                     \
            for (int c = 0; c < 3; ++c) {                                                \
                const std::uint32_t sample = px[3 * x + c];                              \
                o[3 * x + c] =                                                           \
                    static_cast<T>(before == after             ? sample                  \
                                   : before != 0 && after != 0 ? sample * after / before \
                                                               : after);                 \
            }                                                                            \
        }                                                                                \
    }
LUMINANCE_KERNELS(std::uint8_t)
LUMINANCE_KERNELS(std::uint16_t)
#undef LUMINANCE_KERNELS

bool sharpenable(const Image& in) {
    return in.type >= image_gray8 && in.type <= image_color48 && in.has_pixels();
}
bool is_rgb(const Image& in) {
    return in.type == image_color24 || in.type == image_color48;
}
bool is_wide(const Image& in) {
    return in.type == image_gray16 || in.type == image_color48;
}

template <class T>
const T* row_of(const Image& im, int y) {
    return reinterpret_cast<const T*>(im.rows[y]);
}
template <class T>
T* row_of(Image& im, int y) {
    return reinterpret_cast<T*>(im.rows[y]);
}

// Every pixel of the result is written, so its pages are not cleared first.
bool alloc_like(const Image& in, Image& out) {
    return image_alloc_for_overwrite(out, in);
}

// All channels: each sample against its blurred copy, band by band as the blur finishes them
// (still in cache; no blurred image is made).
template <class T>
bool sharpen_channels(const Image& in, Image& out, int radius, const SharpenStep& k) {
    if (alloc_like(in, out)) return true;
    const bool rgb = is_rgb(in);
    const bool failed = box_blur_rows(
        in, std::max(radius, 1),
        [&](int first, int count, const std::uint8_t* const* blurred) -> std::uint8_t {
            SharpenScratch scratch;
            for (int i = 0; i < count; ++i) {
                const T* s = row_of<T>(in, first + i);
                const T* b = reinterpret_cast<const T*>(blurred[i]);
                T* o = row_of<T>(out, first + i);
                if (rgb) {
                    rgb_row(s, b, o, in.width, k, scratch);
                } else {
                    gray_row(s, b, o, in.width, k, scratch);
                }
            }
            return 0;
        },
        "Unsharp Mask");
    if (failed) image_free(out);
    return failed;
}

// Luminance only: V = max(R, G, B) is sharpened to V', and every changed pixel is scaled by
// V' / V, which keeps its hue and saturation; a pixel with V or V' at 0 becomes gray V'.
template <class T>
bool sharpen_luminance(const Image& in, Image& out, int radius, const SharpenStep& k) {
    Image value;
    if (image_alloc(value, sizeof(T) == 1 ? image_gray8 : image_gray16, in.width, in.height,
                    in.dpi)) {
        return true;
    }
    const std::size_t width = in.width;
    const std::uint8_t error = run_rows(
        [&](const Image* source, Image* target, int first, int last, Progress& p) -> std::uint8_t {
            for (int y = first; y <= last; ++y) {
                if (progress_tick(p)) return 1;
                value_row(row_of<T>(*source, y), row_of<T>(*target, y), width);
            }
            return 0;
        },
        "", &in, &value);
    if (error || alloc_like(in, out)) return true;
    const bool failed = box_blur_rows(
        value, std::max(radius, 1),
        [&](int first, int count, const std::uint8_t* const* blurred) -> std::uint8_t {
            SharpenScratch scratch;
            std::vector<T> sharpened(width);
            for (int i = 0; i < count; ++i) {
                const int y = first + i;
                const T* v = row_of<T>(value, y);
                gray_row(v, reinterpret_cast<const T*>(blurred[i]), sharpened.data(), width, k,
                         scratch);
                scale_row(row_of<T>(in, y), v, sharpened.data(), row_of<T>(out, y), width);
            }
            return 0;
        },
        "Unsharp Mask");
    if (failed) image_free(out);
    return failed;
}

// in is one of the four accepted types.
bool unsharp(const Image& in, Image& out, int radius, double thresholdb, double thresholdw,
             double strength, double maxovershoot, double maxundershoot, int what) {
    const bool wide = is_wide(in);
    const SharpenStep k = sharpen_step(wide ? 65535 : 255, thresholdb, thresholdw, maxovershoot,
                                       maxundershoot, strength);
    if (what == unsharp_luminance && is_rgb(in)) {
        return wide ? sharpen_luminance<std::uint16_t>(in, out, radius, k)
                    : sharpen_luminance<std::uint8_t>(in, out, radius, k);
    }
    return wide ? sharpen_channels<std::uint16_t>(in, out, radius, k)
                : sharpen_channels<std::uint8_t>(in, out, radius, k);
}

}  // namespace

bool unsharp_mask_image(const Image& in, Image& out, int radius, double thresholdb,
                        double thresholdw, double strength, double maxovershoot,
                        double maxundershoot, int what) {
    if (&in == &out) return true;
    if (!sharpenable(in)) {
        image_free(out);
        return true;
    }
    if (radius <= 0 || strength == 0.0) return image_copy(in, out);
    return unsharp(in, out, radius, thresholdb, thresholdw, strength, maxovershoot, maxundershoot,
                   what);
}

}  // namespace tessaly
