// The frame window: the menu strip of five words, the accelerator keys, the Image Browser beside
// the image window, the status line with the progress of runs, the queue of files asked to open
// while the program is busy, drag and drop, the clipboard and the exit questions. Every command
// arrives as one numeric id and is dispatched from one place.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/interaction.h"
#include "shell/browser_layout.h"
#include "shell/image_browser.h"
#include "tree/tree.h"

class QSplitter;

namespace tessaly::shell {

class EngineWorker;
class ImageView;
class QtInteraction;

class FrameWindow : public QMainWindow {
    Q_OBJECT
  public:
    // Messages and questions go to the window's own Interaction, or to `other` when given
    // (tests answer from a script).
    explicit FrameWindow(Interaction* other = nullptr);
    ~FrameWindow() override;

    // Carries out a command id as the menus, keys and buttons do.
    void command(std::uint32_t id);
    // Opens a file now, or queues it while the program is busy.
    void open_file(const std::string& path);
    // Processes a command line (files, scripts, workspaces, exit_when_done) on the engine.
    void process_command_line(const std::string& text);
    // The same for the command line a second start left in the settings root.
    void process_handed_over_command_line();
    // Runs work (which processes a command line) on the engine; when it set exit_when_done,
    // the program ends afterwards.
    void process_then_maybe_end(std::function<void()> work);
    void run_batch(bool test_mode);  // the batch of what is loaded, on the engine

    // Runs work on the engine's thread, then brings the browser and the image window up to
    // date from what the engine drew afterwards; done runs on the interface thread.
    void run(std::function<void()> work, std::function<void()> done = {});
    EngineWorker& engine() { return *worker_; }
    ImageBrowser* browser() const { return browser_; }
    ImageView* view() const { return view_; }
    QtInteraction* qt_interaction() const { return interaction_.get(); }
    const std::deque<std::string>& queued_files() const { return queue_; }
    // The program put an image on the clipboard and still owns it.
    bool owns_clipboard() const { return owns_clipboard_; }
    // A file open is running on the engine.
    bool opening() const { return opening_ > 0; }
    // Engine thread: while node serial is current, the image window shows its input instead of
    // its result (a dialog's display toggle); -1 shows results again.
    void show_input_of(std::int32_t serial) { input_of_ = serial; }
    // Engine thread: while node serial is current and shows its result, the image window shows
    // what make draws of the node instead (a dialog's difference view; a null picture gives the
    // result); -1 shows results again.
    void show_picture_of(std::int32_t serial, std::function<QImage(const Node&)> make) {
        picture_of_ = serial;
        make_picture_ = std::move(make);
    }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    class Observer;

    void build_menus();
    void fill_recent_files(QMenu* menu);
    // On the engine's thread after each job: thumbnails of changed nodes, the current picture
    // and the browser's snapshot.
    void take_pictures();
    void show_pictures();
    void show_picture();  // the image window's picture alone
    void tick();
    void not_available(std::uint32_t id);
    void transformation_command(std::uint32_t id);
    bool exit_questions();
    // The commands that open the frame's own windows and dialogs (Image Info, Preferences,
    // Color Management, Set Default Folder, the caption editor); true when id is one of them.
    bool dialog_command(std::uint32_t id);
    void copy_to_clipboard();

    std::unique_ptr<EngineWorker> worker_;
    std::unique_ptr<QtInteraction> interaction_;
    Interaction* previous_interaction_ = nullptr;
    std::unique_ptr<Observer> observer_;
    QSplitter* splitter_;
    ImageBrowser* browser_;
    ImageView* view_;
    QTimer timer_;
    std::deque<std::string> queue_;
    int opening_ = 0;
    bool owns_clipboard_ = false;
    bool closing_ = false;

    // Made on the engine's thread, taken over by the interface thread after each job.
    std::mutex pictures_mutex_;
    std::map<std::int32_t, QImage> thumbnails_;  // by node serial
    std::int32_t shown_serial_ = -1;
    std::int32_t input_of_ = -1;  // engine thread
    std::int32_t picture_of_ = -1;
    std::function<QImage(const Node&)> make_picture_;
    bool shown_made_ = false;   // the picture shown was made that way
    bool picture_fit_ = false;  // another node or size: the new picture is fitted
    const void* shown_pixels_ = nullptr;
    QImage picture_;
    bool picture_changed_ = false;
    BrowserSnapshot snapshot_;
    std::string title_;
};

}  // namespace tessaly::shell
