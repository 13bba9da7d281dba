// Curve tables are built once per run and channel; a 16-bit table must cost far less than one
// pass over a 24-megapixel image.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "core/curve.h"

namespace {

using namespace tessaly;

// A 256-point spline that bends like an S, with a flat stretch in the middle.
Curve dense_spline() {
    Curve c;
    c.style = curve_spline;
    c.npts = 256;
    for (int v = 0; v < 256; ++v) {
        c.x[v] = v;
        double s = 0.5 - 0.5 * std::cos(v / 255.0 * 3.14159265358979);
        c.y[v] = v >= 120 && v < 136 ? 128 : static_cast<int>(s * 255 + 0.5);
    }
    return c;
}

Curve three_point_smooth() {
    Curve c;
    c.style = curve_spline;
    c.npts = 3;
    c.x[0] = 0, c.y[0] = 0, c.x[1] = 64, c.y[1] = 160, c.x[2] = 255, c.y[2] = 255;
    return c;
}

void curve_table16_spline256(benchmark::State& state) {
    const Curve c = dense_spline();
    std::vector<std::uint16_t> table(65536);
    for (auto _ : state) {
        curve_table16(c, table.data(), false);
        benchmark::DoNotOptimize(table.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 65536);
}
BENCHMARK(curve_table16_spline256)->Unit(benchmark::kMicrosecond);

void curve_table16_smooth3(benchmark::State& state) {
    const Curve c = three_point_smooth();
    std::vector<std::uint16_t> table(65536);
    for (auto _ : state) {
        curve_table16(c, table.data(), false);
        benchmark::DoNotOptimize(table.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 65536);
}
BENCHMARK(curve_table16_smooth3)->Unit(benchmark::kMicrosecond);

void curve_table8_spline256(benchmark::State& state) {
    const Curve c = dense_spline();
    std::uint8_t table[256];
    for (auto _ : state) {
        curve_table8(c, table);
        benchmark::DoNotOptimize(table);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 256);
}
BENCHMARK(curve_table8_spline256)->Unit(benchmark::kMicrosecond);

}  // namespace
