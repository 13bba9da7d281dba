#include "shell/engine_worker.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace tessaly::shell {

EngineWorker::EngineWorker(QObject* parent) : QObject(parent), thread_([this] { loop(); }) {}

EngineWorker::~EngineWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void EngineWorker::submit(std::function<void()> job, std::function<void()> done) {
    if (pending_++ == 0) emit busy_changed(true);
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back({std::move(job), std::move(done)});
    }
    wake_.notify_one();
}

bool EngineWorker::busy() const {
    return pending_ > 0;
}

void EngineWorker::wait_idle() {
    // Blocks between events (the engine's reply is one): the overload with a time limit ignores
    // WaitForMoreEvents and would spin a whole core away from the engine.
    while (busy()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void EngineWorker::loop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;  // stopping, nothing left
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job.work();
        // The job counts as done before its follow-up runs, which may wait for the engine.
        QMetaObject::invokeMethod(this, [this, done = std::move(job.done)] {
            const bool idle = --pending_ == 0;
            if (done) done();
            emit finished();
            if (idle) emit busy_changed(false);
        });
    }
}

}  // namespace tessaly::shell
