#include "core/runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/recording_interaction.h"

namespace tessaly {
namespace {

using P = std::vector<std::pair<int, int>>;

P pairs(const std::vector<RowRange>& ranges) {
    P out;
    for (const RowRange& r : ranges) out.emplace_back(r.first, r.last);
    return out;
}

TEST(Runner, RowAndRangeSplitting) {
    EXPECT_EQ(pairs(split_rows(3, 8, 1)), (P{{0, 1}, {2, 2}}));
    EXPECT_EQ(pairs(split_rows(10, 3, 1)), (P{{0, 3}, {4, 6}, {7, 9}}));  // round(3), round(6)
    EXPECT_EQ(pairs(split_rows(8, 3, 1)), (P{{0, 2}, {3, 5}, {6, 7}}));  // round(2.33), round(4.67)
    EXPECT_EQ(pairs(split_rows(1001, 4, 2)), (P{{0, 250}, {252, 500}, {502, 750}, {752, 1000}}));
    EXPECT_EQ(pairs(split_rows(12, 2, 4)), (P{{0, 4}, {8, 11}}));  // round(5.5) = 6 -> 4
    EXPECT_TRUE(split_rows(0, 4, 1).empty());
    EXPECT_EQ(split_rows(5000, 4000, 1).size(), 1024u);
    EXPECT_EQ(split_rows(2, 0, 1).size(), 1u);  // fewer than one thread means one

    EXPECT_EQ(pairs(split_range(1001, 4)), (P{{0, 250}, {251, 500}, {501, 750}, {751, 1000}}));
    EXPECT_EQ(pairs(split_range(3, 8)), (P{{0, 1}, {2, 2}}));
    EXPECT_TRUE(split_range(0, 4).empty());
}

// Every row once, and the first non-zero result in thread order: band 2's 7, not band 4's 9.
TEST(Runner, RunRowsWritesEveryRowOnceAndReportsTheFirstFailure) {
    set_processor_count(4);
    Image out;
    out.width = 10;
    out.height = 1001;
    std::vector<std::atomic<int>> written(1001);
    EXPECT_EQ(run_rows(
                  [&](const Image*, Image*, int first, int last, Progress&) -> std::uint8_t {
                      for (int r = first; r <= last; ++r) written[static_cast<std::size_t>(r)]++;
                      return first == 251 ? 7 : first == 751 ? 9 : 0;
                  },
                  "", nullptr, &out),
              7);
    for (auto& w : written) EXPECT_EQ(w.load(), 1);
    out.height = 0;  // the record owns nothing
    set_processor_count(0);
}

TEST(Runner, ProgressWindowOnlyForLargeTitledRunsItsCancelAndTheBatchAbort) {
    testing::RecordingScope scope;
    set_processor_count(2);
    auto work = [](int first, int last, Progress& progress) -> std::uint8_t {
        for (int r = first; r <= last; ++r) {
            if (progress_tick(progress)) return 1;
        }
        return 0;
    };
    EXPECT_EQ(run_range(0, work, "Small", 100, 100, 100, false, true, true), 0);
    EXPECT_TRUE(scope.recorder.progress_titles.empty());
    EXPECT_EQ(run_range(0, work, "Large", 1000, 400, 400, false, true, true), 0);
    EXPECT_EQ(run_range(0, work, "Hidden", 1000, 400, 400, false, false, true), 0);
    EXPECT_TRUE(scope.recorder.progress_titles == std::vector<std::string>{"Large"} &&
                scope.recorder.progress_totals == std::vector<std::int64_t>{400} &&
                scope.recorder.progress_ends == 1);

    // The person's cancel reaches the workers at their next tick.
    scope.recorder.cancel_progress = true;
    std::atomic<int> done{0};
    EXPECT_EQ(run_range(
                  0,
                  [&](int first, int last, Progress& progress) -> std::uint8_t {
                      for (int c = first; c <= last; ++c, ++done) {
                          std::this_thread::sleep_for(std::chrono::milliseconds(2));
                          if (progress_tick(progress)) return 1;
                      }
                      return 0;
                  },
                  "Cancel me", 2000, 1000, 2000, true, true, true),
              1);
    EXPECT_LT(done.load(), 2000);
    set_processor_count(0);

    // A batch abort cancels only cancellable runs.
    set_run_abort(true);
    Progress cancellable, fixed, normal;
    fixed.cancellable = false;
    EXPECT_TRUE(progress_tick(cancellable) && !progress_tick(fixed));
    set_run_abort(false);
    EXPECT_FALSE(progress_tick(normal) || progress_tick(normal));
    EXPECT_EQ((std::vector<long>{cancellable.processed.load(), fixed.processed.load(),
                                 normal.processed.load()}),
              (std::vector<long>{0, 1, 2}));
}

}  // namespace
}  // namespace tessaly
