// Answers modal dialogs from a script: each modal window that comes up (one that runs its own
// event loop, so the test cannot reach it after the call that opened it) is handed to the next
// step, which looks at it and closes it.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

namespace tessaly::shell {

class ModalScript {
  public:
    using Step = std::function<void(QWidget*)>;

    explicit ModalScript(std::deque<Step> steps) : steps_(std::move(steps)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(20);
    }
    bool done() const { return steps_.empty(); }

  private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == last_ || steps_.empty()) return;
        last_ = modal;
        Step step = std::move(steps_.front());
        steps_.pop_front();
        step(modal);
    }

    std::deque<Step> steps_;
    QPointer<QWidget> last_;
    QTimer timer_;
};

}  // namespace tessaly::shell
