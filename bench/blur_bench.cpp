// Mixing a result with its input through an amount and a mask, on a 24-megapixel picture, next
// to a memcpy moving the same number of bytes in the same run (bytes read plus bytes written);
// and the Gaussian Blur itself, for profiling.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/image.h"
#include "core/runner.h"
#include "framework/mix.h"
#include "kernels/box_blur.h"

namespace {

using namespace tessaly;

constexpr std::uint32_t width = 6000;
constexpr std::uint32_t height = 4000;
constexpr int threads = 2;

std::uint64_t bytes_of(const Image& image) {
    return std::uint64_t{image.row_bytes} * image.height;
}

Image noise(std::uint32_t type, std::uint32_t seed) {
    Image made;
    if (image_alloc(made, type, width, height, 300.0)) std::abort();
    std::uint32_t state = seed;
    for (std::uint32_t r = 0; r < made.height; ++r) {
        for (std::uint32_t i = 0; i < made.row_bytes; ++i) {
            state = state * 1103515245u + 12345u;
            made.rows[r][i] = static_cast<std::uint8_t>(state >> 24);
        }
    }
    return made;
}

// Input, result and mask of each depth, made once.
struct Pictures {
    Image in24 = noise(image_color24, 1), res24 = noise(image_color24, 2);
    Image in48 = noise(image_color48, 3), res48 = noise(image_color48, 4);
    Image mask8 = noise(image_gray8, 5), mask16 = noise(image_gray16, 6);
};
Pictures& pictures() {
    static Pictures p;
    return p;
}

// Seconds of one single-threaded memcpy of `bytes` between two buffers touched beforehand.
double memcpy_seconds(std::size_t bytes) {
    static std::unique_ptr<std::uint8_t[]> from, to;
    static std::size_t size = 0;
    if (size < bytes) {
        from.reset(new std::uint8_t[bytes]);
        to.reset(new std::uint8_t[bytes]);
        std::memset(from.get(), 1, bytes);
        std::memset(to.get(), 2, bytes);
        size = bytes;
    }
    constexpr int runs = 8;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        std::memcpy(to.get(), from.get(), bytes);
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count() / runs;
}

template <typename Op>
void measure(benchmark::State& state, std::uint64_t moved, Op op) {
    set_processor_count(threads);
    std::uint64_t runs = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (op()) {
            state.SkipWithError("operation failed");
            return;
        }
        benchmark::ClobberMemory();
        ++runs;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetBytesProcessed(static_cast<std::int64_t>(runs * moved));
    const double ns_per_byte = took.count() * 1e9 / static_cast<double>(runs * moved);
    const double memcpy_ns_per_byte = memcpy_seconds(moved / 2) * 1e9 / static_cast<double>(moved);
    state.counters["ns_per_byte"] = ns_per_byte;
    state.counters["memcpy_ns_per_byte"] = memcpy_ns_per_byte;
    state.counters["x_memcpy"] = ns_per_byte / memcpy_ns_per_byte;
}

AmountSettings two_amounts() {
    AmountSettings a;
    a.amount = 2000;
    a.second = 9000;
    return a;
}

// In place: reads input, result and mask, writes the result.
void BM_mix_mask8_24bit(benchmark::State& state) {
    Pictures& p = pictures();
    const AmountSettings a = two_amounts();
    measure(state, 3 * bytes_of(p.in24) + bytes_of(p.mask8),
            [&] { return mix_in_place(p.in24, p.res24, a, &p.mask8); });
}

void BM_mix_mask8_48bit(benchmark::State& state) {
    Pictures& p = pictures();
    const AmountSettings a = two_amounts();
    measure(state, 3 * bytes_of(p.in48) + bytes_of(p.mask8),
            [&] { return mix_in_place(p.in48, p.res48, a, &p.mask8); });
}

void BM_mix_mask16_48bit(benchmark::State& state) {
    Pictures& p = pictures();
    const AmountSettings a = two_amounts();
    measure(state, 3 * bytes_of(p.in48) + bytes_of(p.mask16),
            [&] { return mix_in_place(p.in48, p.res48, a, &p.mask16); });
}

void BM_mix_amount_24bit(benchmark::State& state) {
    Pictures& p = pictures();
    AmountSettings a;
    a.amount = 5004;
    measure(state, 3 * bytes_of(p.in24), [&] { return mix_in_place(p.in24, p.res24, a, nullptr); });
}

void BM_gaussian_blur_24bit(benchmark::State& state) {
    Pictures& p = pictures();
    set_processor_count(threads);
    static Image out;  // re-used, as a re-run re-uses the node's rows
    for (auto _ : state) {
        if (box_blur_image(p.in24, out, static_cast<int>(state.range(0)), false, "Gaussian Blur")) {
            state.SkipWithError("blur failed");
            return;
        }
        benchmark::ClobberMemory();
    }
}

void BM_gaussian_blur_48bit(benchmark::State& state) {
    Pictures& p = pictures();
    set_processor_count(threads);
    static Image out;
    for (auto _ : state) {
        if (box_blur_image(p.in48, out, static_cast<int>(state.range(0)), false, "Gaussian Blur")) {
            state.SkipWithError("blur failed");
            return;
        }
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(BM_mix_mask8_24bit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_mix_mask8_48bit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_mix_mask16_48bit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_mix_amount_24bit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_gaussian_blur_24bit)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_gaussian_blur_48bit)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
