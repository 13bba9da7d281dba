// Unsharp Mask and Sharpen on a 24-megapixel picture with two runner threads, into a re-used
// target (as a re-run re-uses the node's rows): the whole operation, blur included, for
// profiling.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "core/image.h"
#include "core/runner.h"
#include "kernels/sharpen.h"
#include "kernels/unsharp.h"

namespace {

using namespace tessaly;

constexpr std::uint32_t width = 6000;
constexpr std::uint32_t height = 4000;
constexpr int threads = 2;

// Value noise with grain: smooth areas below the threshold next to edges above it, so every
// branch of the step is taken.
Image picture(std::uint32_t type) {
    Image made;
    if (image_alloc(made, type, width, height, 300.0)) std::abort();
    const bool wide = type == image_gray16 || type == image_color48;
    const std::uint32_t samples = made.row_bytes / (wide ? 2 : 1);
    std::uint32_t state = 7;
    for (std::uint32_t r = 0; r < made.height; ++r) {
        for (std::uint32_t i = 0; i < samples; ++i) {
            state = state * 1103515245u + 12345u;
            const std::uint32_t grain = state >> 28;
            const std::uint32_t band = ((r / 37 + i / 53) & 3) * 60;
            const std::uint32_t v = band + grain;
            if (wide) {
                const std::uint32_t v16 = v * 257 + (state >> 20 & 0xff);
                made.rows[r][2 * i] = static_cast<std::uint8_t>(v16);
                made.rows[r][2 * i + 1] = static_cast<std::uint8_t>(v16 >> 8);
            } else {
                made.rows[r][i] = static_cast<std::uint8_t>(v);
            }
        }
    }
    return made;
}

const Image& made_once(std::uint32_t type) {
    static Image in24 = picture(image_color24), in48 = picture(image_color48),
                 in8 = picture(image_gray8);
    return type == image_color24 ? in24 : type == image_color48 ? in48 : in8;
}

void run(benchmark::State& state, std::uint32_t type, double thresholdb, double thresholdw,
         int what) {
    const Image& in = made_once(type);
    set_processor_count(threads);
    static Image out;
    for (auto _ : state) {
        if (unsharp_mask_image(in, out, static_cast<int>(state.range(0)), thresholdb, thresholdw,
                               1.0, 0.1, 0.1, what)) {
            state.SkipWithError("unsharp mask failed");
            return;
        }
        benchmark::ClobberMemory();
    }
}

// The default settings: equal thresholds 0.04, strength 1, halo limits 0.1.
void BM_unsharp_mask_24bit(benchmark::State& state) {
    run(state, image_color24, 0.04, 0.04, unsharp_all_channels);
}
// A threshold ramp from 0.02 to 0.1.
void BM_unsharp_mask_24bit_ramp(benchmark::State& state) {
    run(state, image_color24, 0.02, 0.1, unsharp_all_channels);
}
void BM_unsharp_mask_24bit_luminance(benchmark::State& state) {
    run(state, image_color24, 0.04, 0.04, unsharp_luminance);
}
void BM_unsharp_mask_8bit_gray(benchmark::State& state) {
    run(state, image_gray8, 0.04, 0.04, unsharp_all_channels);
}
void BM_unsharp_mask_48bit(benchmark::State& state) {
    run(state, image_color48, 0.04, 0.04, unsharp_all_channels);
}

// Sharpen at its default settings; the argument is the neighbourhood (0: four, 1: eight).
void sharpen(benchmark::State& state, std::uint32_t type) {
    const Image& in = made_once(type);
    set_processor_count(threads);
    static Image out;
    for (auto _ : state) {
        if (sharpen_image(in, out, static_cast<int>(state.range(0)), 0.1, 0.1, 0.04, 0.04, 1.0,
                          false)) {
            state.SkipWithError("sharpen failed");
            return;
        }
        benchmark::ClobberMemory();
    }
}
void BM_sharpen_24bit(benchmark::State& state) {
    sharpen(state, image_color24);
}
void BM_sharpen_48bit(benchmark::State& state) {
    sharpen(state, image_color48);
}

}  // namespace

BENCHMARK(BM_unsharp_mask_24bit)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_unsharp_mask_24bit_ramp)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_unsharp_mask_24bit_luminance)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_unsharp_mask_8bit_gray)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_unsharp_mask_48bit)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_sharpen_24bit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_sharpen_48bit)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
