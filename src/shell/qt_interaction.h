// The desktop program's Interaction: message boxes, questions, file dialogs, the status line and
// the progress bar of the frame. The engine calls it from its work thread as well as from the
// interface thread; everything that shows a window is carried out on the interface thread, and
// the engine's thread waits for the answer.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>

#include "core/interaction.h"

class QWidget;
class QStatusBar;
class QProgressBar;
class QPushButton;
class QLabel;

namespace tessaly::shell {

class QtInteraction : public QObject, public Interaction {
    Q_OBJECT
  public:
    // Windows open over parent; the status line and progress bar live in status_bar.
    QtInteraction(QWidget* parent, QStatusBar* status_bar);

    Answer message(MessageKind kind, std::string_view caption, std::string_view text) override;
    Answer ask(std::string_view caption, std::string_view text, Buttons buttons,
               Answer default_answer) override;
    int choose(std::string_view caption, std::string_view text,
               const std::vector<std::string>& options) override;
    std::optional<std::string> choose_open_file(const FileChoice& choice) override;
    std::optional<std::string> choose_save_file(const FileChoice& choice) override;
    void status(std::string_view text) override;
    void progress_begin(std::string_view title, std::int64_t total) override;
    void progress_update(std::int64_t done) override;
    bool progress_cancelled() override;
    void progress_end() override;
    void busy(bool on) override;

    // The progress bar's Cancel button, as a click would press it.
    void cancel_progress() { cancelled_ = true; }

  private:
    // Runs f on the interface thread and waits for it.
    template <typename F>
    auto on_interface_thread(F&& f) -> decltype(f());
    std::optional<std::string> choose_file(const FileChoice& choice, bool save);

    QPointer<QWidget> parent_;
    QStatusBar* status_bar_;
    QLabel* progress_title_;
    QProgressBar* progress_bar_;
    QPushButton* cancel_button_;
    std::atomic<bool> cancelled_{false};
    std::atomic<std::int64_t> last_shown_{-1};
    std::int64_t total_ = 0;
};

}  // namespace tessaly::shell
