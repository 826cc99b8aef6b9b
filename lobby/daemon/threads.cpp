#include "daemon/threads.h"

#include <utility>

namespace lobby {

Threads::~Threads() { stopAll(); }

void Threads::add(std::string name, std::function<void()> run, std::function<void()> stop) {
    jobs_.push_back(Job{std::move(name), std::move(run), std::move(stop), {}});
}

void Threads::run() {
    for (Job& job : jobs_) job.thread = std::thread(job.run);
    std::unique_lock lock(mutex_);
    running_ = true;
    changed_.wait(lock, [this] { return stopRequested_; });
    running_ = false;
    lock.unlock();
    stopAll();
}

void Threads::requestStop() {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
    changed_.notify_all();
}

bool Threads::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

// Each stops before the one started ahead of it, so that nothing is handed to a thread
// that has already gone.
void Threads::stopAll() {
    for (auto job = jobs_.rbegin(); job != jobs_.rend(); ++job) {
        if (!job->thread.joinable()) continue;
        job->stop();
        job->thread.join();
    }
}

}  // namespace lobby
