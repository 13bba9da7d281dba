// Batches over real PNG files: a File Open node feeding real transformations, each file a gray
// picture of its own value, so the values downstream show which files were processed.
#include "batch/batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "batch/batch_display.h"
#include "core/arguments.h"
#include "fileio/file_open.h"
#include "fileio/image_write.h"
#include "framework/transformation.h"
#include "support/module_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "tree/tree.h"

namespace tessaly {
namespace {

int pixel(const Node* n) {
    return n->image.has_pixels() ? n->image.rows[0][0] : -1;
}

// The value of a watched node after each successful change, and hooks on its n-th start/change.
struct Watch : TreeObserver {
    explicit Watch(Node* watched, std::function<int(Node*)> v = pixel)
        : node(watched), value(std::move(v)) {
        add_tree_observer(this);
    }
    ~Watch() override { remove_tree_observer(this); }
    void node_changed(Node* n, bool) override {
        if (n != node || n->error) return;
        values.push_back(value(n));
        if (on_change) on_change();
    }
    void node_running(Node* n, bool running) override {
        if (n == node && running && on_start) on_start(++starts);
    }
    Node* node;
    std::function<int(Node*)> value;
    std::vector<int> values;
    std::function<void()> on_change;
    std::function<void(int)> on_start;
    int starts = 0;
};

class BatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_batch_mode(0);
        set_batch_abort(false);
    }
    void TearDown() override {
        close_all_images();
        EXPECT_EQ(batch_mode(), 0);
        EXPECT_FALSE(batch_abort());
    }

    // A 3 x 2 gray PNG of one value.
    std::string picture(const std::string& folder, int index, int value) {
        std::string path = folder + "/f" + std::to_string(index) + ".png";
        Image im;
        EXPECT_FALSE(image_alloc(im, image_gray8, 3, 2, 72.0));
        for (std::uint32_t r = 0; r < 2; ++r)
            for (std::uint32_t x = 0; x < 3; ++x) im.rows[r][x] = static_cast<std::uint8_t>(value);
        EXPECT_FALSE(write_png_file(path, im, nullptr, 0));
        image_free(im);
        return path;
    }

    // A File Open list of count pictures valued base + index; only the listed indexes selected.
    Node* list(const char* caption, const std::string& folder, int count, int base,
               const std::vector<int>& selected, bool multiple = false) {
        std::filesystem::create_directories(folder);
        FileOpenSettings s;
        s.multiple = multiple;
        for (int i = 0; i < count; ++i) {
            FileOpenEntry e;
            e.path = picture(folder, i, base + i);
            e.time = file_time_text(e.path);
            e.selected = std::find(selected.begin(), selected.end(), i) != selected.end();
            s.files.push_back(e);
        }
        Node* n = create_top_level_image(false, false, 0, 0, bypass_none, caption, false);
        n->command_line = file_open_module.format(s);
        return n;
    }

    Node* step(Node* parent, const char* caption, const char* line, int inputs = 0) {
        Node* n = add_transformation_after(parent, false, false, 0, inputs, bypass_none, caption);
        n->command_line = line;
        return n;
    }
    Node* resize(Node* parent) {
        return step(parent, "Resize", "resize 0 pixel_w 2 pixel_h 2 set 2 method 0");
    }
    Node* rotate(Node* parent) {
        return step(parent, "Rotate/Mirror", "rotref 0 orientation 1 display 1");
    }

    FileOpenSettings settings_of(const Node* n) {
        FileOpenSettings s;
        EXPECT_FALSE(file_open_module.parse(split(*n->command_line), s));
        return s;
    }
    std::string last_message() const {
        const auto& m = scope.recorder.messages;
        return m.empty() ? "" : m.back().caption + ": " + m.back().text;
    }

    testing::TempDir dir;
    testing::RecordingScope scope;
};

const std::string press_ok = "File Open: Press OK to continue, Cancel to stop";

TEST_F(BatchTest, SingleBatchRunsTheSelectedFilesInOrderAndSkipsBadOnes) {
    // A folder name long enough that the current file line must be shortened.
    const std::string folder = dir.file(std::string(90, 'd'));
    Node* open = list("list", folder, 10, 10, {2, 5, 8});
    Watch seen(resize(open));

    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::completed);
    EXPECT_EQ(seen.values, (std::vector<int>{12, 15, 18}));
    EXPECT_EQ(settings_of(open).current, 8);
    EXPECT_EQ(open->name, folder + "/f8.png");
    EXPECT_TRUE(scope.recorder.errors().empty());
    EXPECT_EQ(last_message(), "Status: Batch Completed");
    const std::string first = folder + "/f2.png";
    const std::string shown = "Current file: ..." + first.substr(first.size() - 77);
    const auto& statuses = scope.recorder.statuses;
    auto at = std::find(statuses.begin(), statuses.end(), shown);
    ASSERT_NE(at, statuses.end());
    EXPECT_EQ(*(at + 1), "Reading file");

    // A completed batch starts again from the top; a missing and an unreadable file are
    // reported with their names and skipped.
    std::filesystem::remove(folder + "/f5.png");
    std::ofstream(folder + "/f2.png") << "not a picture";
    seen.values.clear();
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::completed);
    EXPECT_EQ(seen.values, (std::vector<int>{18}));
    auto errors = scope.recorder.errors();
    EXPECT_NE(std::find(errors.begin(), errors.end(), "Error reading file: " + folder + "/f2.png"),
              errors.end());
    EXPECT_NE(std::find(errors.begin(), errors.end(), "File does not exist: " + folder + "/f5.png"),
              errors.end());
    EXPECT_EQ(settings_of(open).current, 8);

    // A tree that fails on a file names the file.
    seen.node->command_line = "resize 0 method 9";
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::completed);
    EXPECT_EQ(scope.recorder.errors().back(), "Error processing image: " + folder + "/f8.png");

    // Nothing selected: nothing starts.
    FileOpenSettings none = settings_of(open);
    for (auto& f : none.files) f.selected = false;
    open->command_line = file_open_module.format(none);
    scope.recorder.messages.clear();
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::not_run);
    EXPECT_EQ(scope.recorder.errors(), (std::vector<std::string>{"No files selected"}));
    EXPECT_EQ(run_batch_over_loaded(batch_run), BatchOutcome::not_run);
}

TEST_F(BatchTest, MultipleBatchStepsTheListsTogetherAfterAskingOnce) {
    Node* a = list("a", dir.file("a"), 6, 10, {0, 1, 3, 4, 5}, true);
    Node* b = list("b", dir.file("b"), 4, 100, {0, 2, 3});
    // The copy takes b as its parent and a as its input: it must run once per step, after both.
    Node* copy = step(b, "Copy", "copy 0 display 1 sync_scroll 0", 1);
    copy->inputs[0] = a;
    Watch seen(copy, [](Node* n) { return pixel(n->parent) * 1000 + pixel(n); });
    const std::string alert =
        "Alert: Some file lists have more selected files than others.\n"
        "Processing will stop when the shortest list runs out.";

    scope.recorder.answers = {Answer::cancel};
    EXPECT_EQ(run_batch(a, batch_run), BatchOutcome::not_run);
    EXPECT_EQ(scope.recorder.questions, (std::vector<std::string>{alert}));
    EXPECT_TRUE(seen.values.empty());

    EXPECT_EQ(run_batch(a, batch_run), BatchOutcome::completed);
    EXPECT_EQ(scope.recorder.questions, (std::vector<std::string>{alert, alert}));
    EXPECT_EQ(seen.values, (std::vector<int>{100010, 102011, 103013}));
    EXPECT_EQ(settings_of(a).current, 3);
    EXPECT_EQ(settings_of(b).current, 3);
    EXPECT_EQ(last_message(), "Status: Batch Completed");

    // Without "Multiple Batch" on the node the batch walks its own list only.
    FileOpenSettings single = settings_of(a);
    single.multiple = false;
    a->command_line = file_open_module.format(single);
    seen.values.clear();
    EXPECT_EQ(run_batch(a, batch_run), BatchOutcome::completed);
    EXPECT_EQ(seen.values, (std::vector<int>{103010, 103011, 103013, 103014, 103015}));
}

TEST_F(BatchTest, TerminatingStopsAtTheNextCheckAndTheNextBatchResumes) {
    Node* open = list("list", dir.file("t"), 5, 40, {0, 2, 4});
    Node* small = resize(open);
    Watch turned(rotate(small));
    turned.on_change = [] { batch_export_written(); };
    Watch resized(small);
    // Terminate while the second file's Resize runs: the rotation after it must not run.
    resized.on_start = [](int n) {
        if (n == 2) set_batch_abort(true);
    };
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::terminated);
    EXPECT_EQ(turned.values, (std::vector<int>{40}));
    EXPECT_EQ(settings_of(open).current, 0);
    EXPECT_EQ(last_message(), "Status: Batch Terminated");
    EXPECT_TRUE(scope.recorder.errors().empty());
    EXPECT_EQ(batch_export_count(), 1);

    // The next batch resumes with the file that was not finished; the counter starts again.
    resized.on_start = nullptr;
    turned.values.clear();
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::completed);
    EXPECT_EQ(turned.values, (std::vector<int>{42, 44}));
    EXPECT_EQ(batch_export_count(), 2);
    EXPECT_EQ(settings_of(open).current, 4);

    // Test mode asks after each file is read; Cancel ends the batch before its tree runs.
    turned.values.clear();
    EXPECT_EQ(run_batch(open, batch_test), BatchOutcome::completed);
    EXPECT_EQ(scope.recorder.questions, std::vector<std::string>(3, press_ok));
    scope.recorder.questions.clear();
    scope.recorder.answers = {Answer::ok, Answer::cancel};
    turned.values.clear();
    EXPECT_EQ(run_batch(open, batch_test), BatchOutcome::terminated);
    EXPECT_EQ(scope.recorder.questions, std::vector<std::string>(2, press_ok));
    EXPECT_EQ(turned.values, (std::vector<int>{40}));
    EXPECT_EQ(settings_of(open).current, 0);

    // A breakpoint without a dialog asks in run mode; Cancel terminates.
    scope.recorder.questions.clear();
    turned.node->breakpoint = true;
    scope.recorder.answers = {Answer::ok, Answer::cancel};
    turned.values.clear();
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::terminated);
    EXPECT_EQ(scope.recorder.questions.size(), 2u);
    EXPECT_EQ(turned.values, (std::vector<int>{42}));  // resumed at the second file
    EXPECT_EQ(settings_of(open).current, 2);
}

// A progress window that records what it was told and presses Terminate on a given pump.
struct RecordingDisplay : BatchDisplay {
    std::vector<std::string> log;
    int terminate_on_pump = -1;
    int pumps = 0;
    void open(int steps) override { log.push_back("open " + std::to_string(steps)); }
    void close() override { log.push_back("close"); }
    void current_file(std::string_view) override {}
    void status(std::string_view) override {}
    void thumbnail(const Image& im) override {
        log.push_back("thumbnail " + std::to_string(im.width) + "x" + std::to_string(im.height));
    }
    void progress(int) override {}
    bool pump() override { return ++pumps == terminate_on_pump; }
    void enable_browser(bool on) override { log.push_back(on ? "browser on" : "browser off"); }
    void file_list_changed(Node*) override {}
};

TEST_F(BatchTest, AnInstalledDisplayShowsTheBatchAndItsTerminateButtonWorks) {
    Node* open = list("list", dir.file("d"), 3, 70, {0, 1, 2});
    Watch seen(resize(open));
    RecordingDisplay display;
    BatchDisplay* previous = set_batch_display(&display);
    display.terminate_on_pump = 5;  // in the second file's re-run
    EXPECT_EQ(run_batch_over_loaded(batch_run), BatchOutcome::terminated);
    set_batch_display(previous);
    EXPECT_EQ(seen.values, (std::vector<int>{70}));
    EXPECT_EQ(display.log, (std::vector<std::string>{"browser off", "open 3", "thumbnail 3x2",
                                                     "thumbnail 3x2", "browser on", "close"}));
}

}  // namespace
}  // namespace tessaly
