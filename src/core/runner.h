// The row-parallel runner: every whole-image pixel loop splits its rows (or columns) into
// contiguous ranges, one per worker thread, while the calling thread waits and keeps the
// progress report alive. Workers share one atomic progress count that also carries cancellation.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "image.h"

namespace tessaly {

constexpr int runner_max_threads = 1024;
// Below this many pixels per thread no progress window is shown.
constexpr std::int64_t runner_progress_pixels = 100000;

// The processor count, read once at start-up; set_processor_count overrides it (--threads).
int processor_count();
void set_processor_count(int count);

// Batch abort: set while a batch runs and its termination was requested; every tick then
// reports cancel.
void set_run_abort(bool abort);
bool run_abort_requested();

// A run made for a request that a newer one may overtake (a dialog's preview when the next
// change arrives): while set, every tick that finds *latest moved on from mine reports cancel.
// Set and cleared on the thread that starts the run; null clears it.
void set_run_generation(const std::atomic<std::uint64_t>* latest, std::uint64_t mine);
// The run under way has been overtaken that way.
bool run_superseded();

// Shared by the workers of one run.
struct Progress {
    std::atomic<std::int64_t> processed{0};
    std::atomic<bool> cancel{false};
    bool cancellable = true;
};

// Called by an operation, typically once per row: true means stop (a batch abort or the person
// cancelled); otherwise counts one unit done.
bool progress_tick(Progress& progress);

// Row function (form A): fills output rows first..last (inclusive) from input; 0 = success.
using RowFunction = std::function<std::uint8_t(const Image* input, Image* output, int first,
                                               int last, Progress& progress)>;
// Range function (form B): processes rows or columns first..last; 0 = success.
using RangeFunction = std::function<std::uint8_t(int first, int last, Progress& progress)>;

struct RowRange {
    int first;
    int last;
};

// The ranges of form A: n = height - 1, t = min(processors, 1024, n), s(i) = e(i-1) + a,
// e(i) = round(n (i + 1) / t) reduced to a multiple of a, e(last) = n.
std::vector<RowRange> split_rows(int height, int threads, int alignment);
// The ranges of form B: s(i) = e(i-1) + 1, e(i) = round((i + 1) n / t).
std::vector<RowRange> split_range(int count, int threads);

// Form A, by output rows. title may be empty (no progress window). Returns the first non-zero
// worker result in thread order, else 0.
std::uint8_t run_rows(const RowFunction& function, std::string_view title, const Image* input,
                      Image* output, int alignment = 1);

// Form B, by rows or columns. thread_count 0 or less means the processor count.
std::uint8_t run_range(int thread_count, const RangeFunction& function, std::string_view title,
                       int width, int height, std::int64_t progress_total, bool by_columns,
                       bool show_progress, bool cancellable);

}  // namespace tessaly
