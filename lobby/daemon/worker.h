#pragma once
// A thread of its own that runs jobs one at a time, in order, for work no I/O thread may wait
// for. The lobby's writer is one: it commits to the store one change at a time and runs the
// daemon's timers and signal handlers, so that everything which changes the lists happens
// there, in order. The downloads' reader is another.
#include <chrono>
#include <functional>
#include <memory>

namespace lobby {

class Worker {
public:
    Worker();
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // From any thread. An exception a job throws is reported on standard error.
    void post(std::function<void()> job);
    // Runs the job on the worker and waits for it; what it throws is thrown here. Runs it
    // here when the worker is not running (before run(), after it).
    void call(const std::function<void()>& job);
    // Runs the job every interval from run() on. Call before run().
    void every(std::chrono::milliseconds interval, std::function<void()> job);
    // Runs the job whenever the process gets the signal; caught from this call on, so a
    // signal before run() runs it as soon as the worker runs.
    void onSignal(int number, std::function<void()> job);

    // The thread's body: runs jobs until stop(), then finishes what is queued.
    void run();
    // From any thread; also before run().
    void stop();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// "kestrun-lobby: " + what, on standard error.
void reportProblem(const std::string& what);

}  // namespace lobby
