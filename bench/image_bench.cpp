// Whole-image copy and 8 <-> 16-bit conversion of a 24-megapixel picture, each next to a plain
// memcpy moving the same number of bytes in the same run. Bytes processed count every byte read
// and every byte written, so a memcpy of n bytes processes 2n.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/image.h"
#include "core/image_convert.h"
#include "core/runner.h"

namespace {

using namespace tessaly;

constexpr std::uint32_t bench_width = 6000;
constexpr std::uint32_t bench_height = 4000;
constexpr int bench_threads = 2;

std::uint64_t pixel_bytes(const Image& image) {
    return std::uint64_t{image.row_bytes} * image.height;
}

// The source pictures, made once: a deterministic pattern so no stage sees constant data.
const Image& source24() {
    static Image image = [] {
        Image made;
        if (image_alloc(made, image_color24, bench_width, bench_height, 300.0)) std::abort();
        std::uint32_t state = 12345;
        for (std::uint32_t r = 0; r < made.height; ++r) {
            for (std::uint32_t i = 0; i < made.row_bytes; ++i) {
                state = state * 1103515245u + 12345u;
                made.rows[r][i] = static_cast<std::uint8_t>(state >> 24);
            }
        }
        return made;
    }();
    return image;
}

const Image& source48() {
    static Image image = [] {
        Image made;
        if (convert_3_to_5(source24(), made)) std::abort();
        // Low bytes too, so the 16 -> 8 rounding sees every kind of value.
        for (std::uint32_t r = 0; r < made.height; ++r) {
            for (std::uint32_t i = 0; i < made.row_bytes; i += 2) made.rows[r][i] ^= (r + i) & 0xff;
        }
        return made;
    }();
    return image;
}

// Two buffers touched once, so the baseline measures copying, not page faults.
struct CopyBuffers {
    std::unique_ptr<std::uint8_t[]> from;
    std::unique_ptr<std::uint8_t[]> to;
    std::size_t size;
    explicit CopyBuffers(std::size_t bytes)
        : from(new std::uint8_t[bytes]), to(new std::uint8_t[bytes]), size(bytes) {
        std::memset(from.get(), 1, bytes);
        std::memset(to.get(), 2, bytes);
    }
};

CopyBuffers& buffers() {
    static CopyBuffers b(std::size_t{6} * bench_width * bench_height * 2);
    return b;
}

// Seconds for one memcpy of `bytes` (the mean of a few), measured inside the same benchmark.
double memcpy_seconds(std::size_t bytes) {
    CopyBuffers& b = buffers();
    bytes = std::min(bytes, b.size);
    constexpr int runs = 8;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        std::memcpy(b.to.get(), b.from.get(), bytes);
        benchmark::ClobberMemory();
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count() / runs;
}

// Runs op over and over (into the same target, as a re-run does) and reports its time per byte
// moved beside memcpy's.
template <typename Op>
void measure(benchmark::State& state, std::uint64_t read_bytes, std::uint64_t written_bytes,
             Op op) {
    set_processor_count(bench_threads);
    std::uint64_t runs = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (op()) {
            state.SkipWithError("operation failed");
            return;
        }
        benchmark::ClobberMemory();
        ++runs;
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const std::uint64_t moved = read_bytes + written_bytes;
    state.SetBytesProcessed(static_cast<std::int64_t>(runs * moved));
    // memcpy of as many bytes as the operation writes moves twice that many.
    const double ns_per_byte = took.count() * 1e9 / static_cast<double>(runs * moved);
    const double memcpy_ns_per_byte =
        memcpy_seconds(moved / 2) * 1e9 / static_cast<double>(moved / 2 * 2);
    state.counters["ns_per_byte"] = ns_per_byte;
    state.counters["memcpy_ns_per_byte"] = memcpy_ns_per_byte;
    state.counters["x_memcpy"] = ns_per_byte / memcpy_ns_per_byte;
}

void BM_memcpy_24bit(benchmark::State& state) {
    const std::size_t bytes = pixel_bytes(source24());
    CopyBuffers& b = buffers();
    for (auto _ : state) {
        std::memcpy(b.to.get(), b.from.get(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes * 2));
}

void BM_image_copy_24bit(benchmark::State& state) {
    const Image& source = source24();
    Image target;
    measure(state, pixel_bytes(source), pixel_bytes(source),
            [&] { return image_copy(source, target); });
}

// A fresh target every time: the rows are allocated and faulted in anew.
void BM_image_copy_24bit_fresh(benchmark::State& state) {
    const Image& source = source24();
    measure(state, pixel_bytes(source), pixel_bytes(source), [&] {
        Image target;
        return image_copy(source, target);
    });
}

void BM_image_copy_48bit(benchmark::State& state) {
    const Image& source = source48();
    Image target;
    measure(state, pixel_bytes(source), pixel_bytes(source),
            [&] { return image_copy(source, target); });
}

void BM_convert_3_to_5(benchmark::State& state) {
    const Image& source = source24();
    Image target;
    measure(state, pixel_bytes(source), 2 * pixel_bytes(source),
            [&] { return convert_3_to_5(source, target); });
}

void BM_convert_5_to_3(benchmark::State& state) {
    const Image& source = source48();
    Image target;
    measure(state, pixel_bytes(source), pixel_bytes(source) / 2,
            [&] { return convert_5_to_3(source, target); });
}

}  // namespace

BENCHMARK(BM_memcpy_24bit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_image_copy_24bit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_image_copy_24bit_fresh)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_image_copy_48bit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_convert_3_to_5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_convert_5_to_3)->Unit(benchmark::kMillisecond)->UseRealTime();
