// Batches over real PNG files: a File Open node feeding real transformations, each file a gray
// picture of its own value, so the values downstream show which files were processed.
#include "batch/batch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "batch/batch_display.h"
#include "batch_fixture.h"

namespace tessaly::testing {
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

class BatchTest : public BatchFixture {
  protected:
    void TearDown() override {
        EXPECT_EQ(batch_mode(), 0);
        EXPECT_FALSE(batch_abort());
        BatchFixture::TearDown();
    }
    // A File Open list of count 3 x 2 pictures valued base + index; the listed indexes selected.
    Node* list(const char* caption, const std::string& folder, int count, int base,
               const std::vector<int>& selected, bool multiple = false) {
        fs::create_directories(folder);
        Strings paths;
        for (int i = 0; i < count; ++i) {
            paths.push_back(folder + "/f" + std::to_string(i) + ".png");
            EXPECT_FALSE(
                write_png_file(paths.back(), picture(image_gray8, 3, 2, base + i), nullptr, 0));
        }
        return file_open(paths, selected, multiple, caption);
    }
    Node* resize(Node* parent) {
        return step(parent, "Resize", "resize 0 pixel_w 2 pixel_h 2 set 2 method 0");
    }
    std::string last_message() const {
        const auto& m = scope.recorder.messages;
        return m.empty() ? "" : m.back().caption + ": " + m.back().text;
    }
};

const std::string press_ok = "File Open: Press OK to continue, Cancel to stop";

bool has(const Strings& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST_F(BatchTest, SingleBatchRunsTheSelectedFilesInOrderAndSkipsBadOnes) {
    // A folder name long enough that the current file line must be shortened.
    const std::string folder = dir.file(std::string(90, 'd'));
    Node* open = list("list", folder, 10, 10, {2, 5, 8});
    Watch seen(resize(open));
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::completed);
    EXPECT_EQ(seen.values, (std::vector<int>{12, 15, 18}));
    EXPECT_TRUE(settings_of(open).current == 8 && open->name == folder + "/f8.png" &&
                errors().empty());
    EXPECT_EQ(last_message(), "Status: Batch Completed");
    const std::string first = folder + "/f2.png";
    const auto& statuses = scope.recorder.statuses;
    auto at = std::find(statuses.begin(), statuses.end(),
                        "Current file: ..." + first.substr(first.size() - 77));
    ASSERT_NE(at, statuses.end());
    EXPECT_EQ(*(at + 1), "Reading file");
    // A completed batch starts again from the top; a missing and an unreadable file are
    // reported with their names and skipped.
    fs::remove(folder + "/f5.png");
    std::ofstream(folder + "/f2.png") << "not a picture";
    seen.values.clear();
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::completed);
    EXPECT_TRUE(seen.values == std::vector<int>{18} && settings_of(open).current == 8);
    EXPECT_TRUE(has(errors(), "Error reading file: " + folder + "/f2.png"));
    EXPECT_TRUE(has(errors(), "File does not exist: " + folder + "/f5.png"));
    // A tree that fails on a file names the file.
    seen.node->command_line = "resize 0 method 9";
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::completed);
    EXPECT_EQ(errors().back(), "Error processing image: " + folder + "/f8.png");
    // Nothing selected: nothing starts.
    FileOpenSettings none = settings_of(open);
    for (auto& f : none.files) f.selected = false;
    open->command_line = file_open_module.format(none);
    scope.recorder.messages.clear();
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::not_run);
    EXPECT_EQ(errors(), Strings{"No files selected"});
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
    EXPECT_TRUE(seen.values.empty());
    EXPECT_EQ(run_batch(a, batch_run), BatchOutcome::completed);
    EXPECT_EQ(scope.recorder.questions, Strings(2, alert));
    EXPECT_EQ(seen.values, (std::vector<int>{100010, 102011, 103013}));
    EXPECT_TRUE(settings_of(a).current == 3 && settings_of(b).current == 3);
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
    Watch turned(step(small, "Rotate/Mirror", "rotref 0 orientation 1 display 1"));
    turned.on_change = [] { batch_export_written(); };
    Watch resized(small);
    // Terminate while the second file's Resize runs: the rotation after it must not run.
    resized.on_start = [](int n) {
        if (n == 2) set_batch_abort(true);
    };
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::terminated);
    EXPECT_EQ(turned.values, (std::vector<int>{40}));
    EXPECT_TRUE(settings_of(open).current == 0 && errors().empty() && batch_export_count() == 1);
    EXPECT_EQ(last_message(), "Status: Batch Terminated");
    // The next batch resumes with the file that was not finished; the counter starts again.
    resized.on_start = nullptr;
    turned.values.clear();
    EXPECT_EQ(run_batch(open, batch_run), BatchOutcome::completed);
    EXPECT_EQ(turned.values, (std::vector<int>{42, 44}));
    EXPECT_TRUE(batch_export_count() == 2 && settings_of(open).current == 4);
    // Test mode asks after each file is read; Cancel ends the batch before its tree runs.
    turned.values.clear();
    EXPECT_EQ(run_batch(open, batch_test), BatchOutcome::completed);
    EXPECT_EQ(scope.recorder.questions, Strings(3, press_ok));
    scope.recorder.questions.clear();
    scope.recorder.answers = {Answer::ok, Answer::cancel};
    turned.values.clear();
    EXPECT_EQ(run_batch(open, batch_test), BatchOutcome::terminated);
    EXPECT_EQ(scope.recorder.questions, Strings(2, press_ok));
    EXPECT_TRUE(turned.values == std::vector<int>{40} && settings_of(open).current == 0);
}

// A progress window that records what it was told and presses Terminate on a given pump.
struct RecordingDisplay : BatchDisplay {
    Strings log;
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
    EXPECT_EQ(display.log, (Strings{"browser off", "open 3", "thumbnail 3x2", "thumbnail 3x2",
                                    "browser on", "close"}));
}

}  // namespace
}  // namespace tessaly::testing
