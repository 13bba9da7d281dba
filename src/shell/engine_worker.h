// The engine's own thread. The image tree, the registry and the runs are the engine's; the
// interface thread hands it jobs one at a time and never touches the tree while one runs, so
// the window keeps drawing (from its own copies) and answering while pictures are worked on.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tessaly::shell {

class EngineWorker : public QObject {
    Q_OBJECT
  public:
    explicit EngineWorker(QObject* parent = nullptr);
    ~EngineWorker() override;

    // Queues a job for the engine's thread; when it is done, `done` runs on the interface
    // thread (and `finished` is emitted).
    void submit(std::function<void()> job, std::function<void()> done = {});
    // A job is queued or running.
    bool busy() const;
    // Processes interface events until every queued job is done (tests, the exit).
    void wait_idle();

  signals:
    void busy_changed(bool busy);
    void finished();

  private:
    struct Job {
        std::function<void()> work;
        std::function<void()> done;
    };
    void loop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    int pending_ = 0;  // queued or running; changed on the interface thread only
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tessaly::shell
