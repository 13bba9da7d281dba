// The "Batch Progress" window of the desktop program and the batch display that drives it. A
// batch runs inside one engine job, so the display is called on the engine's thread: it hands
// every change to the window on the interface thread without waiting, and the Terminate button
// only sets a flag that the batch reads at its next check.
#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>

#include "batch/batch_display.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tessaly::shell {

class FrameWindow;

// A tool window owned by the frame: the Terminate button, the current file and status lines, a
// square thumbnail eight text lines high and the steps done. Lives on the interface thread.
class BatchProgressWindow : public QWidget {
    Q_OBJECT
  public:
    explicit BatchProgressWindow(QWidget* frame);

    // Empties the lines and the thumbnail, sets the number of steps and shows the window.
    void start(int steps);
    void set_current_file(const QString& line);
    void set_status(const QString& text);
    void set_thumbnail(const QImage& picture);
    void set_progress(int done);

    // The side of the thumbnail square in pixels.
    int thumbnail_side() const { return side_; }
    QPushButton* terminate_button() const { return terminate_; }
    QLabel* current_file_label() const { return current_file_; }
    QLabel* status_label() const { return status_; }
    QLabel* thumbnail_label() const { return thumbnail_; }
    QProgressBar* progress_bar() const { return bar_; }

  signals:
    void current_file_shown(const QString& line);

  protected:
    // Closing the window while the batch runs asks it to stop, as Terminate does; the window
    // goes when the batch has ended.
    void closeEvent(QCloseEvent* event) override;

  private:
    QPushButton* terminate_;
    QLabel* current_file_;
    QLabel* status_;
    QLabel* thumbnail_;
    QProgressBar* bar_;
    int side_;
};

// The display a batch talks to while the frame exists. Every method is called on the engine's
// thread.
class QtBatchDisplay : public BatchDisplay {
  public:
    // Makes the (hidden) window; on the interface thread.
    explicit QtBatchDisplay(FrameWindow& frame);
    ~QtBatchDisplay() override;

    void open(int steps) override;
    void close() override;
    void current_file(std::string_view line) override;
    void status(std::string_view text) override;
    void thumbnail(const Image& image) override;
    void progress(int done) override;
    bool pump() override;
    void enable_browser(bool enabled) override;
    void file_list_changed(Node* file_open_node) override;

    BatchProgressWindow* window() const { return window_; }

  private:
    FrameWindow& frame_;
    BatchProgressWindow* window_;  // a child of the frame
    int side_;
    std::atomic<bool> terminate_{false};
};

// Installs the frame's batch display in place of the one without a window, and puts the previous
// one back; the frame calls them from its constructor and destructor (after its engine stopped).
void install_batch_window(FrameWindow& frame);
void uninstall_batch_window(FrameWindow& frame);
// The frame's progress window, or nullptr.
BatchProgressWindow* batch_window(const FrameWindow& frame);

}  // namespace tessaly::shell
