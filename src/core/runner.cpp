#include "runner.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "interaction.h"
#include "numeric.h"

namespace tessaly {

namespace {

int initial_processor_count() {
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

std::atomic<int> processors{initial_processor_count()};
std::atomic<bool> abort_flag{false};
std::atomic<const std::atomic<std::uint64_t>*> run_generation_latest{nullptr};
std::atomic<std::uint64_t> run_generation_mine{0};

// Waits for the workers while the progress report stays alive; the report is refreshed a few
// times a second, as a timer would.
class ProgressReport {
  public:
    ProgressReport(std::string_view title, std::int64_t total, bool show) : show_(show) {
        if (show_) {
            interaction().progress_begin(title, total);
        } else {
            interaction().busy(true);
        }
    }
    ~ProgressReport() {
        if (show_) {
            interaction().progress_end();
        } else {
            interaction().busy(false);
        }
    }
    ProgressReport(const ProgressReport&) = delete;
    ProgressReport& operator=(const ProgressReport&) = delete;

    bool shown() const { return show_; }

    void refresh(Progress& progress) {
        if (!show_) return;
        interaction().progress_update(progress.processed.load(std::memory_order_relaxed));
        if (progress.cancellable && interaction().progress_cancelled()) progress.cancel = true;
    }

  private:
    bool show_;
};

std::uint8_t run_workers(const std::vector<RowRange>& ranges, Progress& progress,
                         ProgressReport& report,
                         const std::function<std::uint8_t(const RowRange&)>& work) {
    std::vector<std::uint8_t> results(ranges.size(), 0);
    std::mutex mutex;
    std::condition_variable done;
    // Without a progress report to keep alive the calling thread takes the last range itself.
    std::size_t spawned = report.shown() ? ranges.size() : ranges.size() - 1;
    std::size_t running = spawned;
    std::vector<std::thread> threads;
    threads.reserve(spawned);
    for (std::size_t i = 0; i < spawned; ++i) {
        threads.emplace_back([&, i] {
            results[i] = work(ranges[i]);
            std::lock_guard<std::mutex> lock(mutex);
            --running;
            done.notify_one();
        });
    }
    if (spawned < ranges.size()) results.back() = work(ranges.back());
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (running > 0) {
            done.wait_for(lock, std::chrono::milliseconds(100));
            if (running == 0) break;
            lock.unlock();
            report.refresh(progress);
            lock.lock();
        }
    }
    for (auto& t : threads) t.join();
    for (std::uint8_t r : results) {
        if (r != 0) return r;
    }
    return 0;
}

bool progress_shown(bool asked, int width, int height, int threads) {
    if (!asked) return false;
    std::int64_t pixels = static_cast<std::int64_t>(width) * height;
    return pixels >= static_cast<std::int64_t>(std::max(threads, 1)) * runner_progress_pixels;
}

}  // namespace

int processor_count() {
    return processors.load();
}

void set_processor_count(int count) {
    processors.store(count < 1 ? initial_processor_count() : std::min(count, runner_max_threads));
}

void set_run_abort(bool abort) {
    abort_flag.store(abort);
}
bool run_abort_requested() {
    return abort_flag.load();
}

void set_run_generation(const std::atomic<std::uint64_t>* latest, std::uint64_t mine) {
    run_generation_mine.store(mine);
    run_generation_latest.store(latest);
}

bool run_superseded() {
    const std::atomic<std::uint64_t>* latest = run_generation_latest.load();
    return latest && latest->load() != run_generation_mine.load();
}

bool progress_tick(Progress& progress) {
    if (!progress.cancellable) {
        progress.processed.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    const std::atomic<std::uint64_t>* latest =
        run_generation_latest.load(std::memory_order_relaxed);
    if (abort_flag.load(std::memory_order_relaxed) ||
        (latest && latest->load(std::memory_order_relaxed) !=
                       run_generation_mine.load(std::memory_order_relaxed))) {
        progress.cancel.store(true, std::memory_order_relaxed);
        return true;
    }
    if (progress.cancel.load(std::memory_order_relaxed)) return true;
    progress.processed.fetch_add(1, std::memory_order_relaxed);
    return progress.cancel.load(std::memory_order_relaxed);
}

std::vector<RowRange> split_rows(int height, int threads, int alignment) {
    std::vector<RowRange> ranges;
    if (height <= 0) return ranges;
    if (alignment < 1) alignment = 1;
    int n = height - 1;
    int t = std::min({threads, runner_max_threads, n});
    if (t < 1) t = 1;
    int start = 0;
    for (int i = 0; i < t; ++i) {
        int end;
        if (i == t - 1) {
            end = n;
        } else {
            end = round_to_int(static_cast<double>(n) * (i + 1) / t);
            end -= end % alignment;
        }
        ranges.push_back({start, end});
        start = end + alignment;
    }
    return ranges;
}

std::vector<RowRange> split_range(int count, int threads) {
    std::vector<RowRange> ranges;
    if (count <= 0) return ranges;
    int n = count - 1;
    int t = std::min({threads, runner_max_threads, n});
    if (t < 1) t = 1;
    int start = 0;
    for (int i = 0; i < t; ++i) {
        int end = i == t - 1 ? n : round_to_int(static_cast<double>(i + 1) * n / t);
        ranges.push_back({start, end});
        start = end + 1;
    }
    return ranges;
}

std::uint8_t run_rows(const RowFunction& function, std::string_view title, const Image* input,
                      Image* output, int alignment) {
    int height = static_cast<int>(output->height);
    if (height <= 0) return 0;
    std::vector<RowRange> ranges = split_rows(height, processor_count(), alignment);
    Progress progress;
    bool show = progress_shown(!title.empty(), static_cast<int>(output->width), height,
                               static_cast<int>(ranges.size()));
    ProgressReport report(title, height, show);
    return run_workers(ranges, progress, report, [&](const RowRange& r) {
        return function(input, output, r.first, r.last, progress);
    });
}

std::uint8_t run_range(int thread_count, const RangeFunction& function, std::string_view title,
                       int width, int height, std::int64_t progress_total, bool by_columns,
                       bool show_progress, bool cancellable) {
    int count = by_columns ? width : height;
    if (count <= 0) return 0;
    if (thread_count <= 0) thread_count = processor_count();
    std::vector<RowRange> ranges = split_range(count, thread_count);
    Progress progress;
    progress.cancellable = cancellable;
    bool show = progress_shown(show_progress && !title.empty(), width, height,
                               static_cast<int>(ranges.size()));
    ProgressReport report(title, progress_total, show);
    return run_workers(ranges, progress, report,
                       [&](const RowRange& r) { return function(r.first, r.last, progress); });
}

}  // namespace tessaly
