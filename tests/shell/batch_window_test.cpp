// Batches run from the frame over three real photographs with an Export after them: the progress
// window follows each file, Terminate stops the batch between files, and the Image Browser is
// locked while the batch runs.
#include "shell/batch_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <future>

#include "fileio/file_open.h"
#include "fileio/image_file.h"
#include "shell/engine_worker.h"
#include "shell/frame_window.h"
#include "shell/image_browser.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "tree/tree.h"
#include "workspace/preferences.h"

namespace tessaly::shell {
namespace {

namespace fs = std::filesystem;
using tessaly::testing::RecordingInteraction;
using tessaly::testing::TempDir;

const char* const photos[] = {"/usr/share/wallpapers/Path/contents/images/640x480.jpg",
                              "/usr/share/wallpapers/Kite/contents/images/640x480.jpg",
                              "/usr/share/wallpapers/Autumn/contents/images/640x480.jpg"};

int files_in(const std::string& folder) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
    return n;
}

// Holds the engine after an Export node's first result until the test lets it go; lets it go
// and stops watching at the latest when the test ends, so that a failed test cannot hang.
struct Hold : TreeObserver {
    explicit Hold(FrameWindow& f) : frame(f) {}
    ~Hold() override {
        let_go();
        frame.engine().wait_idle();
        remove_tree_observer(this);
    }
    void node_changed(Node* n, bool) override {
        if (n != exporter || n->error || reached) return;
        reached = true;
        released.wait();
    }
    void let_go() {
        if (!let_go_done) release.set_value();
        let_go_done = true;
    }
    FrameWindow& frame;
    Node* exporter = nullptr;
    std::atomic<bool> reached{false};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    bool let_go_done = false;
};

class BatchWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* p : photos) {
            if (!fs::exists(p)) GTEST_SKIP() << p << " is missing";
        }
        preferences().save_workspace_file = 0;
        out = dir.path() + "/out";
        fs::create_directories(out);
        // Names of their own, so that every export has a file name of its own.
        for (int i = 0; i < 3; ++i) {
            inputs.push_back(dir.file(std::string(1, char('a' + i)) + ".jpg"));
            fs::copy_file(photos[i], inputs.back());
        }
    }
    void TearDown() override {
        close_all_images();
        preferences() = Preferences{};
    }

    // On the engine: a File Open node listing the inputs and an Export into `out` after it.
    Node* build(FrameWindow& frame) {
        Node* exporter = nullptr;
        frame.run([&] {
            FileOpenSettings s;
            for (const std::string& p : inputs) s.files.push_back({p, file_time_text(p), true});
            Node* open = create_top_level_image(false, false, 0, 0, bypass_none, "Open", false);
            open->command_line = file_open_module.format(s);
            EXPECT_FALSE(read_image_file(inputs[0], open->image, open->transparency));
            exporter = add_transformation_after(open, false, false, 0, 0, bypass_none, "Export");
            // No JPEG options dialog before each file.
            exporter->command_line = "export 0 jpeg_ask 0 folder \u2033" + out + "\u2033";
        });
        frame.engine().wait_idle();
        return exporter;
    }

    // The batches' closing words ("Status" messages).
    std::vector<std::string> statuses() const { return record.texts(MessageKind::information); }

    RecordingInteraction record;
    TempDir dir;
    std::string out;
    std::vector<std::string> inputs;
};

TEST_F(BatchWindow, ShowsEveryFileAndLocksTheBrowserWhileRunning) {
    FrameWindow frame(&record);
    frame.show();
    build(frame);
    BatchProgressWindow* window = batch_window(frame);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isHidden());

    std::vector<QString> lines;
    std::vector<bool> browser_enabled;
    QObject::connect(window, &BatchProgressWindow::current_file_shown, window,
                     [&](const QString& line) {
                         lines.push_back(line);
                         browser_enabled.push_back(frame.browser()->isEnabled());
                     });

    // Test mode asks after each file is read and again at its Export, and writes nothing.
    frame.run_batch(true);
    frame.engine().wait_idle();
    EXPECT_EQ(files_in(out), 0);
    EXPECT_EQ(record.questions,
              std::vector<std::string>(6, "File Open: Press OK to continue, Cancel to stop"));

    lines.clear();
    browser_enabled.clear();
    frame.run_batch(false);
    frame.engine().wait_idle();
    EXPECT_EQ(files_in(out), 3);
    // The emptied line when the window opens, then one line a file, in list order.
    ASSERT_EQ(lines.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i + 1].toStdString(), "Current file: " + inputs[i]);
    }
    EXPECT_EQ(browser_enabled, std::vector<bool>(4, false));
    EXPECT_TRUE(frame.browser()->isEnabled());
    EXPECT_TRUE(window->isHidden());
    EXPECT_EQ(window->progress_bar()->value(), 3);
    EXPECT_FALSE(window->thumbnail_label()->pixmap().isNull());
    EXPECT_EQ(statuses(), (std::vector<std::string>{"Batch Completed", "Batch Completed"}));
    EXPECT_TRUE(record.errors().empty());
}

TEST_F(BatchWindow, TerminateStopsAfterTheFileInHandAndTheNextBatchResumes) {
    FrameWindow frame(&record);
    frame.show();
    Hold hold(frame);
    hold.exporter = build(frame);
    ASSERT_NE(hold.exporter, nullptr);
    add_tree_observer(&hold);
    BatchProgressWindow* window = batch_window(frame);

    frame.run_batch(false);
    // The first file is exported and the engine waits: the window shows it, the browser is locked.
    ASSERT_TRUE(QTest::qWaitFor([&] { return hold.reached.load(); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !window->thumbnail_label()->pixmap().isNull() && window->isVisible(); },
        5000));
    EXPECT_EQ(window->current_file_label()->text().toStdString(), "Current file: " + inputs[0]);
    EXPECT_FALSE(frame.browser()->isEnabled());
    EXPECT_TRUE(frame.engine().busy());
    if (const QByteArray folder = qgetenv("TESSALY_SCREENSHOT_DIR"); !folder.isEmpty()) {
        window->grab().save(QString::fromUtf8(folder) + "/batch-progress.png");
    }

    QTest::mouseClick(window->terminate_button(), Qt::LeftButton);
    EXPECT_FALSE(window->terminate_button()->isEnabled());
    window->close();  // stays until the batch has ended
    EXPECT_TRUE(window->isVisible());
    hold.let_go();
    frame.engine().wait_idle();

    EXPECT_EQ(files_in(out), 1);
    EXPECT_EQ(statuses(), std::vector<std::string>{"Batch Terminated"});
    EXPECT_TRUE(frame.browser()->isEnabled());
    EXPECT_TRUE(window->isHidden());

    // The frame takes the next batch, which goes on from where the first one stopped.
    frame.run_batch(false);
    frame.engine().wait_idle();
    // The stop came before the first file counted as done, so it may be exported again.
    EXPECT_TRUE(fs::exists(out + "/b.jpg") && fs::exists(out + "/c.jpg"));
    EXPECT_EQ(statuses(), (std::vector<std::string>{"Batch Terminated", "Batch Completed"}));
    EXPECT_TRUE(window->terminate_button()->isEnabled());
    EXPECT_TRUE(record.errors().empty());
}

}  // namespace
}  // namespace tessaly::shell
